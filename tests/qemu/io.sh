#!/usr/bin/env bash
# portpanel-io in the emulated PC, as a user in lp, in portpanel and in
# neither: ports as each sees them; write, toggle and watch on 0x378 and 0xDC00
# checked against what root reads and writes through /dev/port; a held port; bench on each
# route; and the pins window's key 0 on 0x378 as a user in lp, against root's
# read; a capture of 0x378 as a user in lp while root writes D0-D3 one after
# another, read back here by sigrok-cli; a byte pulse; the self-test as a user
# in lp and as root, its interrupt count through the driver, and Ctrl+C in the
# middle of it. Then a second boot, on a
# kernel locked down by lockdown= on its command line (parport_pc probing by itself,
# since the kernel refuses its io=): root, lp, portpanel and neither on 0x378,
# its EPP register, the UART's scratch register and 0x80, and what ports says to
# each. Prints the guest's lines.
# Usage: io.sh BUILD_DIR [lockdown | launcher] (lockdown: the second boot alone;
# launcher: portpanel-run's part of the first boot alone)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../need.sh"
need sigrok-cli sigrok-cli
common=$(
    cat <<'COMMON'
printf 'root:x:0:0::/:/bin/sh\nu:x:1000:1000::/:/bin/sh\n' >/etc/passwd
mkdir -p -m 1777 /tmp
show() { sed 's/^/IOTEST   /'; }
as() { # as root|lp|portpanel|neither COMMAND: COMMAND as root, or as user u in that group
    [ "$1" = root ] && { sh -c "$2"; return; }
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
# The loader drops LD_LIBRARY_PATH for portpanel-run, which starts with a
# capability; the library is in its folder here, not where the loader looks.
run='portpanel-run env LD_LIBRARY_PATH=/lib/portlib'
expect() { # expect WHAT WANT GOT
    if [ "$2" = "$3" ]; then echo "IOTEST ok $1: $3"; else echo "IOTEST FAIL $1: got '$3', want '$2'"; fi
}
COMMON
)
guest=$common$'\n'$(
    cat <<'GUEST'
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
echo "IOTEST == a held port: a user in lp pulses 0x05 from 0x3C; root, then a user in portpanel"
rootwrites 0x378 0x3C
as lp 'portpanel-io pulse 0x378 --byte 0x05 60000' >/dev/null &
active=/proc/sys/dev/parport/parport0/devices/active
waitfor "the pulse to hold parport0" "[ \"\$(cat $active)\" != none ]"
waitfor "root to read the pulse's 0x05" '[ "$(rootsees 0x378)" = 0x05 ]'
echo "IOTEST   devices/active: $(cat $active)"
# Shown, not checked: whether root's own route stops at a holder is the library's matter.
status=0
portpanel-io read 0x37A >/tmp/out 2>&1 || status=$?
echo "IOTEST   root reads held 0x37A: status $status"
show </tmp/out
for launcher in "" "$run "; do
    status=0
    as portpanel "${launcher}portpanel-io read 0x378" >/tmp/out 2>&1 || status=$?
    expect "portpanel: ${launcher}held 0x378" 5 $status
    show </tmp/out
    grep -q 'parport0 is in use by ppdev' /tmp/out || echo "IOTEST FAIL ${launcher}held 0x378: the holder is not named"
done
kill -TERM $(pidof portpanel-io) # the pulse puts the byte back and lets go
wait
expect "lp: the pulse ended by SIGTERM, root reads" 0x3C "$(rootsees 0x378)"
GUEST
)
launched=$(
    cat <<'GUEST'
echo "IOTEST == portpanel-run, as a user in portpanel: root reads what it writes and it reads root's"
uart=$(portpanel-io ports | sed -n 's/^.*(pci) \(0x[0-9A-F]*\)-.*/\1/p' | head -n 1)
scratch=$(printf 0x%04X $((uart + 7)))
for port in 0x0378 0xDC00 $scratch; do
    rootwrites $port 0x00
    as portpanel "$run portpanel-io write $port 0xA5" | show
    expect "run: write $port 0xA5, root reads" 0xA5 "$(rootsees $port)"
    rootwrites $port 0x3C
    expect "run: read $port after root's 0x3C" "$port = 0x3C" \
        "$(as portpanel "$run portpanel-io read $port" | cut -d' ' -f1-3)"
done
as portpanel 'portpanel-run sh -c "echo \$PORTPANEL_GRANTED" >/tmp/granted'
echo "IOTEST   a launched program's PORTPANEL_GRANTED: $(cat /tmp/granted)"
echo 0x300 >"$PORTPANEL_POLICY" && chmod 664 "$PORTPANEL_POLICY" # untrusted: its group may write it
as portpanel "portpanel-io read $scratch" >/tmp/helper 2>&1 || true
grep -q 'is not trusted' /tmp/helper || echo "IOTEST FAIL the helper took the untrusted policy"
bench='portpanel-io bench 0x378 --seconds 1 --write'
# A setuid program (of another user) that uses the library, for a grant it
# inherits: the loader's secure mode drops LD_LIBRARY_PATH, so the library
# is where the loader looks.
mkdir -p /tmp/suid && cp /bin/guest_ports /tmp/suid/ && chown 1001 /tmp/suid/guest_ports &&
    chmod 4755 /tmp/suid/guest_ports && ln -sf /lib/portlib/libinpout32.so /lib/libinpout32.so
launcher=$(readlink -f /bin/portpanel-run)
# A grant made by hand for the user's own shell, which holds no permission.
forged="PORTPANEL_GRANTED=\$\$/\$(cut -d' ' -f22 /proc/\$\$/stat):$scratch-$scratch"
bare='env LD_LIBRARY_PATH=/lib/portlib'
# WHO|COMMAND|STATUS|A LINE OF ITS OUTPUT (grep -E; - for none)
while IFS='|' read -r who command want line; do
    status=0
    as $who "$command" >/tmp/out 2>&1 || status=$?
    show </tmp/out
    expect "$who: $command" "$want" $status
    [ "$line" = - ] || grep -qE -- "$line" /tmp/out || echo "IOTEST FAIL $who: $command: no line '$line'"
done <<TABLE
portpanel|portpanel-run true|125|$(grep -o 'is not trusted.*' /tmp/helper | head -n 1 | sed 's/[][().*^$]/./g')
neither|portpanel-run true|126|Permission denied
neither|portpanel-io read $scratch|5|adduser .USER portpanel
root|rm $PORTPANEL_POLICY|0|-
root|chmod 755 $launcher|0|-
neither|portpanel-run true|125|only root and members of the portpanel group
root|chmod 750 $launcher|0|-
portpanel|$run portpanel-io write 0x80 0|5|ask an administrator to add 0x0080 to
portpanel|$run guest_ports --bitbang $scratch|0|^bitbang: wrote 0x5A, read 0x5A$
portpanel|$run guest_ports --bitbang 0x80|1|^bitbang: ioperm: Operation not permitted$
portpanel|$run guest_ports --bitbang $scratch iopl|1|^bitbang: iopl.3.: Operation not permitted$
portpanel|portpanel-run --accept-iopl $bare guest_ports --bitbang $scratch iopl|0|^bitbang: wrote 0x5A, read 0x5A$
portpanel|$run guest_ports --route $scratch after|0|^route: portpanel-run .ioperm.$
portpanel|portpanel-run --no-filter $bare guest_ports --route $scratch before|0|^route: the helper
portpanel|$forged portpanel-io bench $scratch --seconds 0.2|0|^route: the helper
portpanel|portpanel-run --no-filter /tmp/suid/guest_ports --route $scratch|0|^route: the helper
portpanel|$run $bench|0|^route: portpanel-run .ioperm.$
portpanel|$run sh -c 'sh -c "$bench"'|0|^route: portpanel-run .ioperm.$
portpanel|PORTPANEL_GRANTED=$(cat /tmp/granted) $bench|0|^route: the helper
portpanel|setpriv --nnp portpanel-run true|125|setpriv --no-new-privs
portpanel|portpanel-run --no-such-option true|125|unknown option --no-such-option
portpanel|portpanel-run|125|no program given
portpanel|portpanel-run /nonexistent|127|No such file
portpanel|portpanel-run /etc/group|126|Permission denied
portpanel|portpanel-run sh -c 'echo its own; exit 3'|3|^its own$
TABLE
rm /lib/libinpout32.so
GUEST
)
rest=$(
    cat <<'GUEST'
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
echo "IOTEST == capture 0x378 as a user in lp; root writes 0x01 0x03 0x07 0x0F 0x00, each once the last is in the file"
rootwrites 0x378 0x00
as lp 'portpanel-io capture 0x378 -o /tmp/c.vcd 2>/tmp/capture & echo $! >/tmp/capture.pid; wait' &
stamps() { cat /tmp/c.vcd.partial-* 2>/dev/null | grep -c '^#'; }
step=0
for value in 0x01 0x03 0x07 0x0F 0x00 end; do
    step=$((step + 1))
    waitfor "the capture's time line $step" "[ \"\$(stamps)\" -ge $step ]"
    [ $value = end ] || rootwrites 0x378 $value
done
waitfor "the capture's pid" '[ -s /tmp/capture.pid ]'
kill -TERM "$(cat /tmp/capture.pid)"
wait
show </tmp/capture
show </tmp/c.vcd
expect "lp: capture's changes after the levels at #0" '1" 1# 1$ 1% 0" 0# 0$ 0% ' \
    "$(sed -n '/^\$end$/,/^\$comment/p' /tmp/c.vcd | grep '^[01]' | tr '\n' ' ')"
sed 's/^/IOVCD /' /tmp/c.vcd
expect "lp: capture's route, as bench names it below" "portpanel-io: route: lp (/dev/parport0)" \
    "$(grep 'route:' /tmp/capture)"
echo "IOTEST == pulse --byte as a user in lp: 0x05 for 10 ms on 0x378, then 0xA3 again"
rootwrites 0x378 0xA3
as lp 'portpanel-io pulse 0x378 --byte 0x05 10 --json' >/tmp/out 2>&1
show </tmp/out
expect "lp: pulse --byte 0x05 10 says" '"value":163,"written":163,"pulse":5' \
    "$(grep -o '"value".*"pulse":[0-9]*' /tmp/out)"
expect "lp: pulse --byte 0x05 10, root reads after" 0xA3 "$(rootsees 0x378)"
echo "IOTEST == test 0x378, the self-test, as a user in lp and as root: no plug in the emulated PC"
kernel=/proc/sys/dev/parport/parport0
now_ms() { read -r up _ </proc/uptime && echo $((${up%.*}${up#*.}0)); } # to 10 ms
for who in lp root; do
    rootwrites 0x378 0x5A
    start=$(now_ms)
    status=0
    as $who 'portpanel-io test 0x378; portpanel-io test 0x378 --json' >/tmp/out 2>&1 || status=$?
    echo "IOTEST   two tests as $who took $(( $(now_ms) - start )) ms"
    show </tmp/out
    expect "$who: test 0x378's status" 0 $status
    expect "$who: test 0x378's read-back" "read-back: data pass, control pass" "$(grep '^read-back' /tmp/out)"
    expect "$who: test 0x378's modes, as the kernel lists them" "modes: $(cat $kernel/modes) (kernel)" \
        "$(grep '^modes' /tmp/out | cut -d';' -f1)"
    expect "$who: test 0x378's irq, as the kernel has it" "irq: $(cat $kernel/irq):" "$(grep -o '^irq: [0-9]*:' /tmp/out)"
    expect "$who: data put back after the test" 0x5A "$(rootsees 0x378)"
done
# The driver turns the port's interrupt on while it holds the port, and the
# emulated port pulses /Ack itself as it takes each strobe.
expect "lp: interrupts counted through the driver" yes \
    "$(as lp 'portpanel-io test 0x378 --json' | grep -qE '"interrupts":[1-9]' && echo yes)"
for who in lp root; do
    start=$(now_ms)
    as $who 'for i in 1 2 3 4 5 6 7 8 9 10; do portpanel-io test 0x378 --loopback; done' >/dev/null 2>&1
    echo "IOTEST   bench: a whole test --loopback as $who, its start included: $(( ($(now_ms) - start) / 10 )) ms"
done
echo "IOTEST == Ctrl+C in the middle of a test, as root and as a user in lp: data and control as they were"
interrupted=0
for who in root lp; do
    for delay in 50 100 150 200 250 300; do
        rootwrites 0x378 0xA5
        as $who 'portpanel-io read 0x378' >/dev/null # the driver's claim sets control: after one, as it was
        control=$(rootsees 0x37A)
        irqs=$(awk '/parport0/ { print $2 }' /proc/interrupts)
        status=0
        as $who "guest_ports --interrupt-after $delay portpanel-io test 0x378 --loopback" >/tmp/out 2>&1 ||
            status=$?
        # Through the driver each strobe the test writes raises an interrupt: it had begun.
        irqs=$(($(awk '/parport0/ { print $2 }' /proc/interrupts) - irqs))
        echo "IOTEST   $who, Ctrl+C after $delay ms: status $status, $irqs interrupts meanwhile"
        [ $who = lp ] && [ $status = 130 ] && [ ! -s /tmp/out ] && [ $irqs -gt 0 ] &&
            interrupted=$((interrupted + 1))
        show </tmp/out
        expect "$who: Ctrl+C after $delay ms (status $status), data" 0xA5 "$(rootsees 0x378)"
        expect "$who: Ctrl+C after $delay ms (status $status), control" "$control" "$(rootsees 0x37A)"
    done
done
[ $interrupted -gt 0 ] || echo "IOTEST FAIL no Ctrl+C came in the middle of a test"
echo "IOTEST   $interrupted of 6 tests as lp stopped by Ctrl+C after they had begun"
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
benched "a user in portpanel under portpanel-run" "portpanel-run (ioperm)" \
    "as portpanel '$run portpanel-io bench 0x378 --seconds 2 --write'"
echo "IOTEST == the docs' examples that need a port, as a user in portpanel"
# Where the package puts the library, so that portpanel-run's programs find it.
cp /lib/portlib/libinpout32.so /lib/
GUEST
)$'\n'$("$here/../io_test.sh" port-examples)$'\n''rm /lib/libinpout32.so
echo "IOTEST done"'
locked=$common$'\n'$(
    cat <<'GUEST'
# has WHAT TEXT NEEDLE...: each needle in TEXT, and no "!needle".
has() {
    local what=$1 text=$2 needle
    shift 2
    for needle; do
        case $needle in
        !*) case $text in *"${needle#!}"*) echo "IOTEST FAIL $what: says '${needle#!}'"; return ;; esac ;;
        *) case $text in *"$needle"*) ;; *) echo "IOTEST FAIL $what: lacks '$needle'"; return ;; esac ;;
        esac
    done
    echo "IOTEST ok $what"
}
echo "IOTEST == locked down: $(cat /sys/kernel/security/lockdown)"
dmesg | grep -m 1 'locked down' | show
uart=$(portpanel-io ports | sed -n 's/^.*(pci) \(0x[0-9A-F]*\)-.*/\1/p' | head -n 1)
scratch=$(printf 0x%X $((uart + 7)))
for who in root lp portpanel neither; do
    echo "IOTEST == $who: portpanel-io ports"
    as $who 'portpanel-io ports; portpanel-io ports --json' >/tmp/ports 2>&1
    show </tmp/ports
    has "$who: ports names the lockdown first" "$(head -n 1 /tmp/ports)" \
        "the kernel is locked down (integrity)"
    has "$who: ports promises neither root's routes nor the helper" "$(cat /tmp/ports)" \
        '!root (' '!the helper (' '"lockdown":"integrity"'
    case $who in root | lp) want='lp (/dev/parport' ;; *) want='refused: join the lp group' ;; esac
    has "$who: ports gives 0x378's registers" "$(grep -F '(parport) 0x0378-0x037F' /tmp/ports)" \
        "0x0378-0x037A: $want"
    for port in 0x378 0x37B $scratch 0x80; do
        case $who:$port in root:0x378 | lp:0x378) want=0 ;; *) want=5 ;; esac
        [ $want = 0 ] && portpanel-io write 0x378 0x00 >/dev/null
        status=0
        as $who "portpanel-io write $port 0x5A" >/tmp/out 2>&1 || status=$?
        expect "$who: write $port" $want $status
        show </tmp/out
        if [ $want = 0 ]; then
            expect "$who: root reads 0x378 through the driver" "0x0378 = 0x5A" \
                "$(portpanel-io read 0x378 | cut -d' ' -f1-3)"
            continue
        fi
        # Refused in all, portpanel and neither hear it when the library is bound.
        case $who in portpanel | neither) lp="adduser \$USER lp" ;; *) lp="!adduser \$USER lp" ;; esac
        has "$who: $port's words" "$(cat /tmp/out)" "locked down (integrity)" \
            "remove lockdown=integrity from the kernel's command line" "!Secure Boot" "$lp" \
            "!adduser \$USER portpanel" "!take port permission"
    done
done
for who in root portpanel; do
    status=0
    as $who 'portpanel-run touch /tmp/ran' >/tmp/out 2>&1 || status=$?
    show </tmp/out
    expect "$who: portpanel-run under lockdown" 125 $status
    has "$who: portpanel-run's words" "$(head -n 1 /tmp/out)" "portpanel-run: remove lockdown=integrity"
    has "$who: portpanel-run's reasons" "$(cat /tmp/out)" "locked down (integrity)" "did not run"
    [ ! -e /tmp/ran ] || echo "IOTEST FAIL $who: portpanel-run ran its program under lockdown"
done
echo "IOTEST -- root: read $scratch"
portpanel-io read $scratch 2>&1 | show
echo "IOTEST -- the level not known (securityfs unmounted): root, then portpanel, read 0x80"
umount /sys/kernel/security
for who in root portpanel; do
    as $who 'portpanel-io read 0x80' >/tmp/out 2>&1 || true
    show </tmp/out
    has "$who, the level not known: 0x80's words" "$(cat /tmp/out)" "may be locked down" \
        "raw io port access is restricted" "!take port permission"
done
echo "IOTEST done"
GUEST
)
run() { # run GUEST PROGRAM...: a boot's IOTEST lines; fails where the guest did not finish or a check failed
    log=$("$here/../../scripts/emulated-pc" "$1" "$2" "${@:3}")
    grep -o 'IOTEST.*' <<<"$log" | sed 's/^IOTEST //'
    grep -q 'IOTEST done' <<<"$log" || { printf 'the guest did not finish:\n%s\n' "$log" >&2; return 1; }
    ! grep -q 'IOTEST FAIL' <<<"$log"
}
guest+=$'\n'$launched$'\n'$rest
if [ "${2:-}" = launcher ]; then
    run "$1" "$common"$'\n'"$launched"$'\necho "IOTEST done"' "$1/cli/portpanel-io" "$1/tests/guest_ports"
    exit
fi
status=0
if [ "${2:-}" != lockdown ]; then
    # The pins window's test and Qt's offscreen platform, which it needs without a display.
    qt_core=$(ldd "$1/tests/pins_test" | grep -o '/[^ ]*libQt6Core\.so[^ ]*')
    offscreen=$(dirname "$qt_core")/qt6/plugins/platforms/libqoffscreen.so
    run "$1" "$guest" "$1/cli/portpanel-io" "$1/tests/guest_ports" "$1/tests/pins_test" \
        "$offscreen" || status=1
    # The guest's capture as sigrok-cli reads it: the 17 pins, and some samples.
    vcd=$(mktemp)
    trap 'rm -f "$vcd"' EXIT
    sed -n 's/^.*IOVCD //p' <<<"$log" >"$vcd"
    read_back=$(sigrok-cli -I vcd -i "$vcd" --show 2>&1 | grep -E '^(Channels|- p|Logic sample count)')
    echo "sigrok-cli reads the guest's capture as:"
    sed 's/^/  /' <<<"$read_back"
    grep -q '^Channels: 17$' <<<"$read_back" && grep -qE '^Logic sample count: [1-9]' <<<"$read_back" ||
        status=1
fi
EMULATED_PC_PARPORT='' EMULATED_PC_KERNEL=lockdown=integrity run "$1" "$locked" \
    "$1/cli/portpanel-io" || status=1
exit $status
