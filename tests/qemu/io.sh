#!/usr/bin/env bash
# portpanel-io in the emulated PC, as a user in lp, in portpanel and in
# neither: ports as each sees them; write, toggle and watch on 0x378 and 0xDC00
# checked against what root reads and writes through /dev/port; a held port; bench on each
# route; and the pins window's key 0 on 0x378 as a user in lp, against root's
# read. Prints the guest's lines. Usage: io.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
guest=$(
    cat <<'GUEST'
printf 'root:x:0:0::/:/bin/sh\nu:x:1000:1000::/:/bin/sh\n' >/etc/passwd
mkdir -p -m 1777 /tmp
show() { sed 's/^/IOTEST   /'; }
as() { # as lp|portpanel|neither COMMAND: COMMAND as user u in that group
    sed -i -e "s/^lp:x:7:.*/lp:x:7:$([ "$1" = lp ] && echo u)/" \
        -e "s/^portpanel:x:990:.*/portpanel:x:990:$([ "$1" = portpanel ] && echo u)/" /etc/group
    su u -c "$2"
}
# Root's own eyes and hands, around the library and any holder: /dev/port.
rootsees() { printf '0x%02X' "0x$(dd if=/dev/port bs=1 skip=$(($1)) count=1 2>/dev/null | od -An -tx1 | tr -d ' ')"; }
rootwrites() { printf "\\$(printf %o $(($2)))" | dd of=/dev/port bs=1 seek=$(($1)) conv=notrunc 2>/dev/null; }
# waitfor WHAT TEST: until the shell test holds, 60 s at most; a busy host's
# emulated PC may take seconds for what takes it milliseconds alone.
waitfor() {
    for _ in $(seq 600); do eval "$2" && return 0; sleep 0.1; done
    echo "IOTEST FAIL waited 60 s for $1"
}
expect() { # expect WHAT WANT GOT
    if [ "$2" = "$3" ]; then echo "IOTEST ok $1: $3"; else echo "IOTEST FAIL $1: got '$3', want '$2'"; fi
}
for who in lp portpanel neither; do
    echo "IOTEST == a user in $who: portpanel-io ports"
    as $who 'portpanel-io ports' >/tmp/ports 2>&1
    show </tmp/ports
    case $who in
    lp) parallel='lp (/dev/parport' uart=refused ;;
    portpanel) parallel='the helper' uart='the helper' ;;
    neither) parallel=refused uart=refused ;;
    esac
    for port in "parport0 (parport) 0x0378-0x037F|$parallel" "parport1 (parport) 0xDC00-0xDC07|$parallel" \
        "(pci) 0xC050-0xC057: 1b36:0002|$uart"; do
        found=$(grep -F "${port%|*}" /tmp/ports | grep -cF "${port#*|}")
        expect "$who: ports lists ${port%|*} with '${port#*|}'" 1 "$found"
    done
    for port in 0x378 0xDC00; do
        if [ $who = neither ]; then
            status=0
            as $who "portpanel-io write $port 0x5A" >/tmp/out 2>&1 || status=$?
            expect "$who: write $port refused" 5 $status
            show </tmp/out
            continue
        fi
        rootwrites $port 0x00
        as $who "portpanel-io write $port 0x5A" | show
        expect "$who: write $port 0x5A, root reads" 0x5A "$(rootsees $port)"
        as $who "portpanel-io toggle $port 0" | show
        expect "$who: toggle $port 0, root reads" 0x5B "$(rootsees $port)"
        rm -f /tmp/watch
        as $who "timeout 60 portpanel-io watch $port --every 1 --count 1 >/tmp/watch" &
        waitfor "$who: watch's first reading" '[ -s /tmp/watch ]'
        rootwrites $port 0xC3
        wait
        show </tmp/watch
        expect "$who: watch $port sees root's write" 0xC3 "$(tail -n 1 /tmp/watch | cut -d' ' -f3)"
    done
done
echo "IOTEST == a held port: a user in lp pulses D0; root, then a user in portpanel"
as lp 'portpanel-io pulse 0x378 0 60000' >/dev/null &
active=/proc/sys/dev/parport/parport0/devices/active
waitfor "the pulse to hold parport0" "[ \"\$(cat $active)\" != none ]"
echo "IOTEST   devices/active: $(cat $active)"
# Shown, not checked: whether root's own route stops at a holder is the library's matter.
status=0
portpanel-io read 0x37A >/tmp/out 2>&1 || status=$?
echo "IOTEST   root reads held 0x37A: status $status"
show </tmp/out
status=0
as portpanel 'portpanel-io read 0x378' >/tmp/out 2>&1 || status=$?
expect "portpanel: held 0x378" 5 $status
show </tmp/out
kill -TERM $(pidof portpanel-io) # the pulse puts D0 back and lets go
wait
echo "IOTEST == six lines: pulse D0, wait for a status change"
cat >/tmp/script <<'SCRIPT'
portpanel-io read 0x378 0x379
portpanel-io watch 0x378 --every 1 --count 2 >/tmp/changes &
until [ -s /tmp/changes ] || ! kill -0 $! 2>/dev/null; do sleep 0.1; done # first reading
portpanel-io pulse 0x378 0 200; wait; cat /tmp/changes
timeout 2 portpanel-io watch 0x379 --count 1 ||
    echo "no status change in 2 s: nothing drives the emulated port's status lines"
SCRIPT
show </tmp/script
echo "IOTEST -- its output, as a user in portpanel (through the helper, which claims nothing):"
as portpanel 'sh /tmp/script' 2>&1 | show
echo "IOTEST == the pins window, as a user in lp: key 0 toggles D0"
mkdir -p /tmp/qt/platforms && cp /bin/libqoffscreen.so /tmp/qt/platforms/
for start in 0xC2 0xC3; do
    rootwrites 0x378 $start
    as lp 'QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=/tmp/qt pins_test --real-port 0x378 keyZeroOnTheRealPort' \
        >/tmp/pins 2>&1
    show </tmp/pins
    want=$(printf 0x%02X $((start ^ 1)))
    expect "pins: key 0 from $start, root reads" $want "$(rootsees 0x378)"
    [ $start = 0xC2 ] && levels="low -> Pin 2, D0, high" || levels="high -> Pin 2, D0, low"
    expect "pins: key 0 from $start, the window shows" \
        "PINS Pin 2, D0, $levels; Data 0x0378: $want = $((want)) = 1100001$((want & 1))" \
        "$(grep '^PINS' /tmp/pins)"
done
echo "IOTEST == bench, 2 s each, --write"
benched() { # benched WHO ROUTE COMMAND: shows the bench and checks the route it names
    eval "$3" >/tmp/bench 2>&1
    show </tmp/bench
    expect "$1: bench's route" "route: $2" "$(grep '^route:' /tmp/bench)"
}
benched root "root (ioperm)" 'portpanel-io bench 0x378 --seconds 2 --write'
# ioperm refused by a seccomp filter:
benched "root through /dev/port" "root (/dev/port)" \
    'guest_ports --without-ioperm portpanel-io bench 0x378 --seconds 2 --write'
benched "a user in lp" "lp (/dev/parport0)" "as lp 'portpanel-io bench 0x378 --seconds 2 --write'"
benched "a user in portpanel" "the helper (portpanel group)" \
    "as portpanel 'portpanel-io bench 0x378 --seconds 2 --write'"
uart=$(portpanel-io ports | sed -n 's/^.*(pci) \(0x[0-9A-F]*\)-.*/\1/p' | head -n 1)
benched "a user in portpanel, the PCI UART's scratch register" "the helper (portpanel group)" \
    "as portpanel 'portpanel-io bench $(printf 0x%X $((uart + 7))) --seconds 2 --write'"
echo "IOTEST done"
GUEST
)
# The pins window's test and Qt's offscreen platform, which it needs without a display.
qt_core=$(ldd "$1/tests/pins_test" | grep -o '/[^ ]*libQt6Core\.so[^ ]*')
offscreen=$(dirname "$qt_core")/qt6/plugins/platforms/libqoffscreen.so
log=$("$here/../../scripts/emulated-pc" "$1" "$guest" "$1/cli/portpanel-io" "$1/tests/guest_ports" \
    "$1/tests/pins_test" "$offscreen")
grep -o 'IOTEST.*' <<<"$log" | sed 's/^IOTEST //'
grep -q 'IOTEST done' <<<"$log" || { printf 'the guest did not finish:\n%s\n' "$log" >&2; exit 1; }
! grep -q 'IOTEST FAIL' <<<"$log"
