#!/usr/bin/env bash
# Real port access in an emulated PC through the program's own binding: as
# root (and as root without ioperm, through /dev/port, and while another
# program holds the parallel port), and as a user in lp, in portpanel, in
# neither group, and in both while another program holds the parallel port
# (or claimed it exclusively and released it); in portpanel under the helper's
# default policy and under policy files root writes; then, on a second boot
# whose kernel manages only the port at 0xDC00, in lp alone. Prints what the
# ports read back. With "launcher", a boot of its own: a program that
# portpanel-run starts for a user in portpanel, with its filter and without,
# the launcher installed with its capability and then setuid root, as the
# package falls back to where the filesystem keeps no capabilities.
# Usage: run.sh BUILD_DIR [launcher]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# passed LOG RUNS: fails unless the log holds RUNS guest runs, each passed.
passed() {
    grep -o 'PORTTEST.*' <<<"$1"
    local runs passed
    runs=$(grep -c 'PORTTEST EXIT' <<<"$1" || true)
    passed=$(grep -c 'PORTTEST EXIT 0' <<<"$1" || true)
    if [ "$runs" -ne "$2" ] || [ "$passed" -ne "$runs" ]; then
        printf '%s of %s guest runs passed; the consoles:\n%s\n' "$passed" "$2" "$1" >&2
        exit 1
    fi
}
if [ "${2:-}" = launcher ]; then
    passed "$("$here/../../scripts/emulated-pc" "$1" '
run() { echo "PORTTEST RUN $*"; guest_ports "$@"; echo "PORTTEST EXIT $?"; }
run --launcher /bin/portpanel-run
run --launcher /bin/portpanel-run --no-filter
setuid=/sbin/portpanel-run-setuid
cp "$(readlink /bin/portpanel-run)" $setuid && chown 0:990 $setuid && chmod 4750 $setuid
# no_new_privs makes exec drop an effective root by itself: --no-filter does not.
run --launcher $setuid
run --launcher $setuid --no-filter' "$1/tests/guest_ports")" 4
    exit 0
fi
log=$("$here/../../scripts/emulated-pc" "$1" '
run() { echo "PORTTEST RUN $*"; guest_ports "$@"; echo "PORTTEST EXIT $?"; }
for mode in "" --devport --lp --portpanel --neither --default-policy --shared-holder --root-held; do
    run $mode
done
echo 0x300-0x307 >$PORTPANEL_POLICY && chmod 644 $PORTPANEL_POLICY
run --policy-file reach
echo 0x30Z >$PORTPANEL_POLICY && run --policy-file "ports line 1: \"0x30Z\""
echo 0x300 >$PORTPANEL_POLICY && chmod 664 $PORTPANEL_POLICY && run --policy-file "may write it"
chmod 644 $PORTPANEL_POLICY && chown 1000 $PORTPANEL_POLICY
run --policy-file "belongs to uid 1000, not 0"
rm $PORTPANEL_POLICY
# No exclusive hold while lp is registered on the port.
rmmod lp && run --exclusive-holder && run --released-exclusive' "$1/tests/guest_ports")
log+=$'\n'$(EMULATED_PC_PARPORT="io=0xdc00 irq=none" "$here/../../scripts/emulated-pc" "$1" \
    'guest_ports --lp-elsewhere; echo "PORTTEST EXIT $?"' "$1/tests/guest_ports")
passed "$log" 15
