#!/bin/sh
# Checks that every piece of the guide's example program that the guide
# quotes is quoted exactly as it stands in the program, and that every
# piece marked in the program is quoted.
#   check_guide_quotes.sh docs/guide.md examples/guide_example.cpp
guide=$1
program=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# The program's pieces: the lines between "// [name]" and the next "// [name]".
awk -v dir="$work" '
    /^[ \t]*\/\/ \[[a-z_]+\][ \t]*$/ {
        name = $0; sub(/^[ \t]*\/\/ \[/, "", name); sub(/\].*$/, "", name)
        if (name == open) { close(dir "/program." name); open = ""; next }
        open = name; printf "" > (dir "/program." name); print name >> (dir "/names"); next
    }
    open != "" { print > (dir "/program." open) }
' "$program"

# The guide's quotes: the fenced block after "<!-- example: name -->".
awk -v dir="$work" '
    /^<!-- example: [a-z_]+ -->$/ { name = $3; want = 1; next }
    want && /^```/ { want = 0; inside = 1; printf "" > (dir "/guide." name); next }
    inside && /^```$/ { inside = 0; close(dir "/guide." name); next }
    inside { print > (dir "/guide." name) }
' "$guide"

status=0
if [ ! -s "$work/names" ]; then
    echo "no marked pieces in $program"
    exit 1
fi
for name in $(cat "$work/names"); do
    if [ ! -f "$work/guide.$name" ]; then
        echo "piece [$name] of $program is not quoted in $guide"
        status=1
    elif ! diff -u "$work/program.$name" "$work/guide.$name"; then
        echo "piece [$name] differs between $program and $guide"
        status=1
    fi
done
for quoted in "$work"/guide.*; do
    [ -e "$quoted" ] || continue
    name=${quoted##*/guide.}
    if [ ! -f "$work/program.$name" ]; then
        echo "$guide quotes a piece [$name] that $program does not mark"
        status=1
    fi
done
[ $status -eq 0 ] && echo "guide quotes: $(wc -l < "$work/names") pieces match"
exit $status
