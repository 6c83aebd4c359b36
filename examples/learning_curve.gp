# Learning curves as a PNG picture, one line per file:
#
#   gnuplot -c examples/learning_curve.gp OUT.png FILE.csv...
#   gnuplot -c examples/learning_curve.gp OUT.png runs/summary
#
# A FILE is a learning curve as the examples write it (--csv FILE: a header,
# then one row per episode: episode,steps,return[,error]) or a mean curve of
# a sweep (tembra-sweep --summarize DIR writes one per combination into
# DIR/summary/). A directory stands for every CSV file below it. Each line
# is named after its file; a mean curve after its combination.
#
# Settings, given with -e before -c:
#   column = "return"   the column to plot (steps, return, rms_error, ...)
#   window = 10         moving average over this many episodes (1: none)
#   ymin, ymax          the range of the y axis (default: the data's)
#   plot_title = "..."  the picture's title
# e.g. gnuplot -e 'column="steps"; window=20' -c examples/learning_curve.gp steps.png curve.csv

if (ARGC < 2) {
    print "usage: gnuplot [-e 'column=\"return\"; window=10'] -c learning_curve.gp OUT.png FILE.csv|DIR..."
    exit status 2
}
if (!exists("column")) column = "return"
if (!exists("window")) window = 10
if (!exists("plot_title")) plot_title = "Learning curve"
window = int(window)
if (window < 1) window = 1

# The files to plot, directories expanded to the CSV files below them.
files = ""
do for [i = 2:ARGC] {
    argument = ARGV[i]
    if (system(sprintf("test -d '%s' && echo d", argument)) eq "d") {
        found = system(sprintf("find '%s' -name '*.csv' -type f | LC_ALL=C sort | tr '\\n' ' '", argument))
        files = files . " " . found
    } else {
        files = files . " " . argument
    }
}
if (words(files) == 0) {
    print "learning_curve.gp: no CSV files to plot"
    exit status 1
}

# A line's name: a mean curve of a sweep is named after the part of its path
# below summary/ (its combination and file), any other file after its name.
title_of(f) = (strstrt(f, "/summary/") > 0) \
    ? substr(f, strstrt(f, "/summary/") + 9, strlen(f) - 4) \
    : (strstrt(f, "/") > 0 ? system(sprintf("basename '%s' .csv", f)) : (f[strlen(f) - 3:] eq ".csv" ? f[1:strlen(f) - 4] : f))

# Moving average over the last `window` rows of the present file: the ring
# and the sum start afresh at the first row of every file (column 0 counts
# the rows of a file from 0).
array ring[window]
ma_count = 0
ma_sum = 0.0
moving_average(x) = (column(0) == 0 ? (ma_count = 0, ma_sum = 0.0) : 0, \
    ma_slot = ma_count % window + 1, \
    ma_sum = ma_sum + x - (ma_count >= window ? ring[ma_slot] : 0.0), \
    ring[ma_slot] = x, \
    ma_count = ma_count + 1, \
    ma_sum / (ma_count < window ? ma_count : window))

if (strstrt(GPVAL_TERMINALS, "pngcairo") > 0) {
    set terminal pngcairo size 960,560 font "sans,11" noenhanced
} else {
    set terminal png size 960,560 noenhanced
}
set output ARG1
set datafile separator comma
set datafile columnheaders
set title plot_title
set xlabel "episode"
set ylabel (window > 1 ? sprintf("%s (moving average over %d episodes)", column, window) : column)
set key bottom right
set grid
if (exists("ymin")) set yrange [ymin:*]
if (exists("ymax")) set yrange [*:ymax]
if (exists("ymin") && exists("ymax")) set yrange [ymin:ymax]

plot for [i = 1:words(files)] word(files, i) \
    using "episode":(moving_average(column(column))) with lines linewidth 2 title title_of(word(files, i))
