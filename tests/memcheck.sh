#!/usr/bin/env bash
# Valgrind memcheck of start-up and two commits: no invalid access anywhere,
# and no definitely-lost block allocated from the project's own code.
# Usage: memcheck.sh PROGRAM SOURCE_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
need valgrind valgrind
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=none --num-callers=40 --fullpath-after= --log-file="$log" "$1" || status=$?
if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "memcheck: the run failed with status $status" >&2
    exit 1
fi
# A loss record runs until the blank line; keep those that pass through our sources.
ours=$(awk -v src="$2" '/definitely lost/ { record = ""; keep = 1 }
    keep { record = record $0 "\n" }
    keep && /^==[0-9]+== $/ { if (record ~ src "/(runtime|portio|panel|portlib)/") printf "%s", record; keep = 0 }' "$log")
grep -E 'ERROR SUMMARY|definitely lost:' "$log" | sed 's/^==[0-9]*== //'
if [ -n "$ours" ]; then
    printf 'memcheck: blocks lost by the project'"'"'s code:\n%s\n' "$ours" >&2
    exit 1
fi
