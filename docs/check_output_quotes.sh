#!/bin/sh
# Checks that a program's output quoted in a Markdown file is what the
# program prints. The quote is the indented or fenced block after a line
#   <!-- output: NAME -->
# Each quoted line must be a line of the program's output, in order and
# next to each other; a line "..." stands for any number of lines. Lines of
# make's own ("make ...: ...") are not the program's and are skipped.
# Report lines are quoted without their line numbers ("Line: …"), so
# that moving a report in its source does not make the quote wrong.
#   check_output_quotes.sh FILE.md NAME PROGRAM [ARGUMENTS...]
# The program runs in a fresh temporary directory.
doc=$1
name=$2
shift 2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
doc=$(cd "$(dirname "$doc")" && pwd)/$(basename "$doc")

awk -v name="$name" '
    $0 == "<!-- output: " name " -->" { want = 1; next }
    want && /^```/ { fenced = 1; inside = 1; want = 0; next }
    want && /^    / { inside = 1; want = 0 }
    want && /^$/ { next }
    inside && fenced && /^```$/ { exit }
    inside && !fenced && !/^    / { exit }
    inside { sub(/^    /, "", $0); if ($0 !~ /^make [a-z]+: /) print }
' "$doc" > "$work/quote"
if [ ! -s "$work/quote" ]; then
    echo "no quote <!-- output: $name --> in $doc" >&2
    exit 1
fi

(cd "$work" && "$@" 2>&1) | sed 's/   Line: [0-9]*    -->/   Line: …    -->/' > "$work/output"

# Walk the quote over the output: each piece between "..." lines must
# appear as consecutive lines, after the previous piece.
awk -v quote="$work/quote" '
    BEGIN {
        n = 0
        while ((getline line < quote) > 0) q[++n] = line
    }
    { out[++m] = $0 }
    END {
        pos = 1; i = 1
        while (i <= n) {
            if (q[i] == "...") { gap = 1; i++; continue }
            # the piece q[i..j-1]
            j = i; while (j <= n && q[j] != "...") j++
            found = 0
            for (start = pos; start + (j - i) - 1 <= m; start++) {
                ok = 1
                for (k = 0; k < j - i; k++) if (out[start + k] != q[i + k]) { ok = 0; break }
                if (ok && (gap || start == pos)) { found = start; break }
                if (!gap) break
            }
            if (!found) {
                print "the program does not print these quoted lines, together and in this place:"
                for (k = i; k < j; k++) print "  " q[k]
                exit 1
            }
            pos = found + (j - i); i = j; gap = 0
        }
    }
' "$work/output" || { echo "--- the program printed:"; sed -n 1,40p "$work/output"; exit 1; }
echo "output quote $name: $(grep -c -v '^\.\.\.$' "$work/quote") lines match the program"
