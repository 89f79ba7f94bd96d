#!/usr/bin/env bash
# Valgrind memcheck of start-up and two commits: no invalid access anywhere,
# and no definitely-lost block allocated from the project's own code.
# With --planted FILE the program leaks a block on purpose from FILE, and the
# check passes only if it refuses that block: proof that it sees our sources.
# Usage: memcheck.sh PROGRAM SOURCE_DIR [--planted FILE]
set -euo pipefail
source "$(dirname "$0")/need.sh"
need valgrind valgrind
program=$1 src=$2 planted=
[ "${3:-}" != --planted ] || planted=$4
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=none --num-callers=40 --fullpath-after= --log-file="$log" \
    "$program" || status=$?
if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "memcheck: the run failed with status $status" >&2
    exit 1
fi
# A loss record runs until the blank line; keep those with a frame in our
# sources: -ffile-prefix-map makes their names relative (build/./panel/...,
# or build/../panel/... through ccache); without it they are SOURCE_DIR/panel/...
ours=$(awk -v src="$src" '
    function ours(record, dir) {
        for (dir in dirs)
            if (record ~ "[(/]\\.\\.?/" dir "/" || index(record, "(" src "/" dir "/")) return 1
        return 0
    }
    BEGIN { split("runtime portio panel portlib", names); for (i in names) dirs[names[i]] }
    /definitely lost in/ { record = ""; keep = 1 }
    keep { record = record $0 "\n" }
    keep && /^==[0-9]+== $/ { if (ours(record)) printf "%s", record; keep = 0 }' "$log")
grep -E 'ERROR SUMMARY|definitely lost:' "$log" | sed 's/^==[0-9]*== //'
if [ -n "$planted" ]; then
    grep -qF "/$planted:" <<<"$ours" || {
        echo "memcheck: FAIL: the block leaked on purpose from $planted was not refused" >&2
        cat "$log" >&2
        exit 1
    }
    printf 'memcheck would refuse the planted leak:\n%s\n' "$ours"
    exit 0
fi
if [ -n "$ours" ]; then
    printf 'memcheck: blocks lost by the project'"'"'s code:\n%s\n' "$ours" >&2
    exit 1
fi
