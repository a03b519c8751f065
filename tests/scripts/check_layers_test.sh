#!/usr/bin/env bash
# scripts/check-layers on small trees of its own: each case is a room layout,
# one include, and whether the check must pass.
set -uo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# room README text (with \n), the including file, the include, expected rc
run_case() {
    local what=$1 readmes=$2 file=$3 include=$4 expected=$5
    local tree=$work/$RANDOM$RANDOM
    mkdir -p "$tree/src"
    while IFS='|' read -r room text; do
        [[ -n $room ]] || continue
        mkdir -p "$tree/src/$room"
        printf '%b\n' "$text" > "$tree/src/$room/README.md"
    done <<<"$readmes"
    mkdir -p "$tree/src/$(dirname "$file")"
    printf '#include "%s"\n#include <vector>\n' "$include" > "$tree/src/$file"
    local out rc
    out=$("$check" "$tree" 2>&1)
    rc=$?
    if [[ $rc != "$expected" ]]; then
        echo "FAIL: $what: exit $rc, wanted $expected"; echo "$out"
        failures=$((failures + 1))
    elif [[ $expected == 1 && $out != *"src/$file"* && $out != *README* ]]; then
        echo "FAIL: $what: the message does not name the file: $out"
        failures=$((failures + 1))
    fi
}

rooms='a|# a\n\nDepends on: `b`, `common`.
b|# b\n\nDepends on: the C++ standard library.
c|# c\n\nDepends on: nothing.
a/ui|# a/ui\n\nDepends on: `a`, `b`,\n`c` (on a second line).'

run_case "a listed folder" "$rooms" a/x.cpp b/y.h 0
run_case "an unlisted folder" "$rooms" a/x.cpp c/y.h 1
run_case "itself" "$rooms" a/x.h a/y.h 0
run_case "a core including its own window code" "$rooms" a/x.cpp a/ui/y.h 1
run_case "a window room including its core" "$rooms" a/ui/x.cpp a/y.h 0
run_case "a name on the paragraph's second line" "$rooms" a/ui/x.cpp c/y.h 0
run_case "a folder that is not a room" "$rooms" b/x.cpp gtest/gtest.h 0
run_case "backticks outside the paragraph do not count" \
    'a|# a\n\nUses `c` for nothing.\n\nDepends on: `b`.
b|# b\n\nDepends on: nothing.
c|# c\n\nDepends on: nothing.' a/x.cpp c/y.h 1
run_case "a README without the paragraph" 'a|# a\n\nContent: x.
b|# b\n\nDepends on: nothing.' a/x.cpp b/y.h 1

[[ $failures == 0 ]] && echo "all check-layers cases passed"
exit $((failures > 0))
