#!/usr/bin/env bash
# clang-format, clang-tidy (checks in .clang-tidy) and cppcheck over the
# project's own code.
# Usage: static_checks.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
need git git
need clang-format clang-format
need run-clang-tidy clang-tidy
need cppcheck cppcheck
cd "$1"
dirs=(runtime/core runtime/qt runtime/win32 portio panel pins portlib finder cli)
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror
echo "clang-format: clean"
run-clang-tidy -quiet -p "$2" "$PWD/(runtime|portio|panel|pins|portlib|finder|cli)/" >"$2/clang-tidy.log" 2>&1 ||
    { grep -E 'warning:|error:' "$2/clang-tidy.log" | sort -u >&2; exit 1; }
echo "clang-tidy: clean"
# cppcheck 2.11 on (Debian 13) limits its branch analysis unless asked for all of
# it; 2.10 (Debian 12) always does all and does not know the option.
level=()
cppcheck --check-level=exhaustive --version >/dev/null 2>&1 && level=(--check-level=exhaustive)
cppcheck "${level[@]}" --quiet --inline-suppr --enable=warning,performance,portability,style --error-exitcode=1 --std=c++20 \
    --language=c++ "${dirs[@]/#/-I}" "${dirs[@]}"
echo "cppcheck: clean"
