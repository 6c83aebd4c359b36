#!/usr/bin/env bash
# The parts of the library depend one way:
#   learners -> valuefunction -> state -> core
#   tables | tiles | network -> valuefunction
# This check reads every #include "..." of src/<part>/ and include/tembra/
# and fails when a file includes from a part that may not be below it, or
# when a public header includes an internal one (it would not be installed).
#   check_layers.sh <source dir>
set -euo pipefail
cd "${1:-.}"

declare -A allowed=(
    [core]="core"
    [state]="core state"
    [valuefunction]="core state valuefunction"
    [tables]="core state valuefunction tables"
    [tiles]="core state valuefunction tiles"
    [network]="core state valuefunction network"
    [learners]="core state valuefunction learners"
)
# Public headers without a source of their own belong to the core.
declare -A part_of=([Export.h]=core [Types.h]=core [Utility.h]=core [Report.h]=core)
for source in src/*/*.cpp; do
    part=${source#src/}
    part_of[$(basename "${source%.cpp}").h]=${part%%/*}
done

failures=0
complain() {
    echo "check_layers: $*" >&2
    failures=$((failures + 1))
}

# part_of_include <including file> <included name> prints the included part.
part_of_include() {
    local dir=$1 name=$2
    if [[ $name == */* ]]; then
        echo "${name%%/*}"
    elif [ -f "$dir/$name" ] && [[ $dir == src/* ]]; then
        local part=${dir#src/}
        echo "${part%%/*}"
    elif [ -f "include/tembra/$name" ]; then
        echo "${part_of[$name]:-unknown}"
    else
        echo "unknown"
    fi
}

for file in src/*/* include/tembra/*.h; do
    name=$(basename "$file")
    [ "$name" = libtembra.h ] && continue   # the umbrella includes everything
    if [[ $file == src/* ]]; then
        part=${file#src/}
        part=${part%%/*}
    else
        part=${part_of[$name]:-}
        [ -n "$part" ] || { complain "$file: no part owns this public header (no src/<part>/${name%.h}.cpp)"; continue; }
    fi
    [ -n "${allowed[$part]:-}" ] || { complain "$file: unknown part '$part'"; continue; }
    while IFS= read -r included; do
        [ -n "$included" ] || continue
        if [[ $file == include/* ]] && [[ $included == */* ]]; then
            complain "$file includes the internal header $included (it is not installed)"
            continue
        fi
        target=$(part_of_include "$(dirname "$file")" "$included")
        if [ "$target" = unknown ]; then
            complain "$file includes \"$included\", which is neither public nor in a part"
        elif [[ " ${allowed[$part]} " != *" $target "* ]]; then
            complain "$file ($part) includes \"$included\" from $target, a part it may not depend on"
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done

if [ "$failures" -gt 0 ]; then
    echo "check_layers: $failures include(s) against the one-way dependencies" >&2
    exit 1
fi
echo "check_layers: every include runs one way"
