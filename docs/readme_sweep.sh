#!/bin/sh
# The README's sweep walk-through, run as the README gives it, in the
# current directory: prints what its quoted commands print.
#   readme_sweep.sh sweep-summary|inspect SOURCE_DIR SWEEP INSPECT MOUNTAIN_CAR
set -e
what=$1 source=$2 sweep=$3 inspect=$4 example=$5
"$sweep" --base "$source/examples/mountain_car.conf" \
    --set ALPHA=0.1,0.5 --set LAMBDA=0.5,0.9 --seeds 1-10 --out runs \
    -- "$example" --config {conf} --seed {seed} --csv {dir}/curve.csv >/dev/null 2>&1
case $what in
    sweep-summary) "$sweep" --summarize runs ;;
    inspect) "$inspect" "runs/ALPHA=0.5,LAMBDA=0.9/seed-1/mountain_car.q" ;;
esac
