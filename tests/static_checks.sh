#!/usr/bin/env bash
# clang-format, clang-tidy (checks in .clang-tidy) and cppcheck over the
# project's own code. Both checkers keep what they found of each unchanged
# unit in ~/.cache/portpanel, and check again only what changed.
# Usage: static_checks.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
need git git
need clang-format clang-format
need clang-tidy clang-tidy
need cppcheck cppcheck
need python3 python3
cd "$1"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/portpanel
dirs=(runtime/core runtime/qt runtime/win32 portio panel pins portlib finder cli)
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror
echo "clang-format: clean"
/usr/bin/python3 "$1/tests/clang_tidy_cached.py" "$2" "$cache/clang-tidy" "${dirs[@]/#/$PWD/}"
echo "clang-tidy: clean"
# cppcheck 2.11 on (Debian 13) limits its branch analysis unless asked for all of
# it; 2.10 (Debian 12) always does all and does not know the option.
level=()
cppcheck --check-level=exhaustive --version >/dev/null 2>&1 && level=(--check-level=exhaustive)
build_dir="$cache/$(cppcheck --version | tr -c 'a-zA-Z0-9.\n' -)"
mkdir -p "$build_dir"
cppcheck "${level[@]}" --cppcheck-build-dir="$build_dir" --quiet --inline-suppr --enable=warning,performance,portability,style --error-exitcode=1 --std=c++20 \
    --language=c++ "${dirs[@]/#/-I}" "${dirs[@]}"
echo "cppcheck: clean"
