#!/usr/bin/env bash
# Real port access in an emulated PC through the program's own binding, as
# root and as nobody; prints what the ports read back.
# Usage: run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$("$here/../../scripts/emulated-pc" "$1" '
guest_ports; echo "PORTTEST EXIT $?"
guest_ports --as-nobody; echo "PORTTEST NOBODY EXIT $?"' "$1/tests/guest_ports")
grep -o 'PORTTEST.*' <<<"$log"
if ! grep -q 'PORTTEST EXIT 0' <<<"$log" || ! grep -q 'PORTTEST NOBODY EXIT 0' <<<"$log"; then
    printf 'the guest test failed; its console:\n%s\n' "$log" >&2
    exit 1
fi
