#!/usr/bin/env bash
# Real port access in an emulated PC through the program's own binding: as
# root, and as a user in lp, in portpanel, in neither group, and in both while
# another program holds the parallel port. Prints what
# the ports read back. Usage: run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$("$here/../../scripts/emulated-pc" "$1" '
for mode in "" --lp --portpanel --neither --shared-holder --exclusive-holder; do
    # No exclusive hold while lp is registered on the port.
    [ "$mode" = --exclusive-holder ] && rmmod lp
    guest_ports $mode; echo "PORTTEST EXIT${mode:+ $mode} $?"
done' "$1/tests/guest_ports")
grep -o 'PORTTEST.*' <<<"$log"
for mode in "" " --lp" " --portpanel" " --neither" " --shared-holder" " --exclusive-holder"; do
    grep -q "PORTTEST EXIT$mode 0" <<<"$log" && continue
    printf 'the guest test%s failed; its console:\n%s\n' "$mode" "$log" >&2
    exit 1
done
