#!/usr/bin/env bash
# clang_tidy_cached.py on a one-unit project: a clean unit is not checked twice,
# and a warning that a header brings in later, or that a NOLINT taken away
# lets through, is found, not hidden by the verdict kept for the unit before.
# Usage: clang_tidy_cached_test.sh SOURCE_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
need clang-tidy clang-tidy
need g++ g++
runner=$1/tests/clang_tidy_cached.py
project=$(mktemp -d)
trap 'rm -rf "$project"' EXIT
cd "$project"
printf 'Checks: "-*,modernize-use-nullptr"\nWarningsAsErrors: "*"\nHeaderFilterRegex: ".*"\n' >.clang-tidy
echo 'inline int *none() { return nullptr; }' >value.h
printf '#include "value.h"\nint *unit() { return none(); }\n' >unit.cpp
printf '[{"directory": "%s", "file": "%s/unit.cpp", "command": "g++ -std=c++20 -c unit.cpp -o unit.o"}]' \
    "$PWD" "$PWD" >compile_commands.json
tidy() { /usr/bin/python3 "$runner" . cache "$PWD"; }
fail() { echo "clang-tidy's cache: $*" >&2; exit 1; }

said=$(tidy) || fail "a clean unit refused: $said"
[[ $said == *"1 checked now"* ]] || fail "the first run says: $said"
said=$(tidy) || fail "a clean unit refused the second time: $said"
[[ $said == *"0 checked now"* ]] || fail "a clean, unchanged unit was checked again: $said"
echo 'inline int *none() { return 0; } // NOLINT' >value.h
said=$(tidy) || fail "a warning under NOLINT refused: $said"
echo 'inline int *none() { return 0; }' >value.h
said=$(tidy 2>&1) && fail "the header's warning, its NOLINT taken away, was hidden by the old verdict: $said"
[[ $said == *modernize-use-nullptr* ]] || fail "the header's warning is not named: $said"
echo "clang-tidy's cache: a clean unit is checked once; a header's new warning, or one a NOLINT hid, is found"
