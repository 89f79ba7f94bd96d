#!/usr/bin/env bash
# portpanel-io over stand-in port libraries: each argument vector's output,
# exit status and the calls that reached the library, then a closed pipe,
# pulses ended by SIGTERM or Ctrl+C, and (Linux) captures of a port that a
# file drives, read back by two VCD readers.
# Each run execs in a subshell of its own, so that $! is the program's process.
# Usage: io_test.sh linux BUILD_DIR
#        io_test.sh wine WINE_LOADER PORTPANEL_IO_EXE VARIANTS_DIR CTRL_C_EXE
#        io_test.sh port-examples (prints the examples that need a port, as guest commands)
set -euo pipefail
# The examples a user would paste, one file each in DIR: where it is, its mark,
# then its lines. From the manuals' EXAMPLES (each .nf block, marked by a
# preceding '.\" example: MARK' comment, else sh) and the README's and docs'
# fenced blocks (marked by their info string); "$ " prompts keep only the
# commands.
examples() { # DIR
    python3 - "$(cd "$(dirname "$0")/.." && pwd)" "$1" <<'EXTRACT'
import pathlib, re, sys
source, into = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
found = []
def roff(line):
    for a, b in (("\\-", "-"), ("\\e", "\\"), ("\\&", ""), ("\\(aq", "'")):
        line = line.replace(a, b)
    return line
def shell(lines):  # with "$ " prompts, only the commands
    prompted = [l[2:] for l in lines if l.startswith("$ ")]
    return prompted or lines
for page in sorted(source.glob("packaging/*.1.in")):
    lines, section, mark = page.read_text().splitlines(), "", "sh"
    for number, line in enumerate(lines, 1):
        if line.startswith(".SH "):
            section = line[4:].strip('"')
        elif section == "EXAMPLES" and line.startswith('.\\" example:'):
            mark = "sh " + line.split(":", 1)[1].strip()
        elif section == "EXAMPLES" and line == ".nf":
            end = lines.index(".fi", number)
            found.append((f"{page.relative_to(source)}:{number}", mark,
                          shell([roff(l) for l in lines[number:end]])))
            mark = "sh"
for page in [source / "README.md"] + sorted(source.glob("docs/*.md")):
    lines = page.read_text().splitlines()
    number = 0
    while number < len(lines):
        fence = re.match(r"^```(.*)$", lines[number])
        if fence:
            end = lines.index("```", number + 1)
            found.append((f"{page.relative_to(source)}:{number + 1}", fence.group(1) or "untagged",
                          lines[number + 1:end]))
            number = end
        number += 1
for index, (where, mark, code) in enumerate(found):
    (into / f"{index:03d}").write_text(f"{where}\n{mark}\n" + "\n".join(code) + "\n")
EXTRACT
}
# A command that stops the script says where, as a failed check would.
trap 'echo "io_test.sh: stopped at line $LINENO (status $?)" >&2' ERR
platform=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ "$platform" = port-examples ]; then # the blocks marked "sh port", for the emulated PC
    examples "$out"
    for example in "$out"/*; do
        [ "$(sed -n 2p "$example")" = 'sh port' ] || continue
        where=$(sed -n 1p "$example")
        printf "cat >/tmp/example <<'EXAMPLE'\n%s\nEXAMPLE\n" "$(tail -n +3 "$example")"
        printf 'status=0\nas portpanel "sh -e /tmp/example" >/tmp/out 2>&1 || status=$?\n'
        printf 'show </tmp/out\nexpect "example %s" 0 $status\n' "$where"
    done
    exit 0
fi
record=$out/record
if [ "$platform" = linux ]; then
    build=$(cd "$2" && pwd)
    folder() { # LIBRARY: the folder that holds that libinpout32.so
        case $1 in
        simulated) echo "$build/portlib/simulated" ;;
        *) echo "$build/tests/libs/$1" ;;
        esac
    }
    program() { # LIBRARY ARGUMENTS...
        local library=$1
        shift
        exec env ASAN_OPTIONS=verify_asan_link_order=0 LD_LIBRARY_PATH="$(folder "$library")" \
            LD_AUDIT="$build/tests/audit.so" \
            PORTPANEL_RECORD="$record" "$build/cli/portpanel-io" "$@"
    }
else
    loader=$2 exe=$3 variants=$4 ctrl_c=$5
    program() { # the exe beside the variant's inpout32.dll, where Windows looks first
        local library=${1/none/missing}
        shift
        mkdir -p "$variants/$library"
        cp "$exe" "$variants/$library/"
        PORTPANEL_RECORD="Z:$record" WINEDEBUG=-all exec "$loader" \
            "$variants/$library/$(basename "$exe")" "$@"
    }
fi
failures=0 rows=0
fail() {
    echo "FAIL $*" >&2
    failures=$((failures + 1))
}
# The port calls (Linux also records the load: "-" says nothing was loaded).
# Windows writes text with CRLF.
calls() { { tr -d '\r' <"$record"; } 2>/dev/null | grep -E '^(in|out) ' | paste -sd, || true; }
normalized() { tr -d '\r' <"$1" | sed -E 's/ at [0-9]+ ms$/ at T ms/; s/"time":[0-9]+/"time":T/' |
    paste -sd';'; }

# LIBRARY[:READ VALUES] | ARGUMENTS | STATUS | STDOUT (lines joined by ';', times as T;
# ~TEXT: holds TEXT; "width_us":>=N: at least N) | STDERR holds each ';' piece | CALLS (- none, nothing loaded; * any)
while IFS='|' read -r library arguments status stdout stderr expected; do
    [ -z "$library" ] || [ "${library:0:1}" = '#' ] && continue
    [ "$platform" != linux ] && [ "$library" = simulated ] && continue
    read -ra args <<<"$arguments"
    values=${library#*:}
    [ "$values" = "$library" ] && values=
    if [ -n "$values" ]; then export PORTPANEL_READ_VALUE=$values; else unset PORTPANEL_READ_VALUE; fi
    rm -f "$record"
    got=0
    (program "${library%%:*}" "${args[@]}") >"$out/out" 2>"$out/err" ||
        got=$?
    rows=$((rows + 1))
    what="portpanel-io $arguments over $library"
    [ "$got" = "$status" ] || fail "$what: status $got, want $status: $(cat "$out/err")"
    shown=$(normalized "$out/out")
    # "width_us":>=N: a width of at least N (an upper bound would fail on a busy machine).
    if [[ $stdout =~ \"width_us\":\>=([0-9]+) ]]; then
        least=${BASH_REMATCH[1]}
        [[ $shown =~ \"width_us\":([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -ge "$least" ] &&
            shown=${shown/\"width_us\":${BASH_REMATCH[1]}/\"width_us\":>=$least}
    fi
    if [ "${stdout:0:1}" = '~' ]; then
        [[ "$shown" == *"${stdout:1}"* ]] || fail "$what: stdout '$shown' lacks '${stdout:1}'"
    else
        [ "$shown" = "$stdout" ] || fail "$what: stdout '$shown', want '$stdout'"
    fi
    IFS=';' read -ra pieces <<<"$stderr"
    for piece in "${pieces[@]}"; do
        grep -qF -- "$piece" "$out/err" || fail "$what: stderr lacks '$piece': $(cat "$out/err")"
    done
    [ "$library" != simulated ] || ! grep -q '^simulated port: in ' "$out/err" ||
        fail "$what: the simulated library traced its reads"
    case $expected in
    '*') ;;
    -) [ ! -s "$record" ] || fail "$what: reached the library: $(cat "$record")" ;;
    *) [ "$(calls)" = "$expected" ] || fail "$what: calls '$(calls)', want '$expected'" ;;
    esac
done <<'TABLE'
recording|read 0x378 888 &H378 -8176|0|0x0378 = 0x2A 42 00101010;0x0378 = 0x2A 42 00101010;0x0378 = 0x2A 42 00101010;0xE010 = 0x2A 42 00101010||in 888,in 888,in 888,in -8176
recording:85|read 0xdc00 &hDC01 --json|0|{"port":56320,"value":85};{"port":56321,"value":85}||in -9216,in -9215
recording|write 0x378 0x55|0|0x0378 = 0x2A 42 00101010 (wrote 0x55)||out 888 85,in 888
recording|write 0x378 42|0|0x0378 = 0x2A 42 00101010||out 888 42,in 888
recording:255|write 888 255 --json|0|{"port":888,"value":255,"written":255}||out 888 255,in 888
recording|write &HDC00 0XFF|0|0xDC00 = 0x2A 42 00101010 (wrote 0xFF)||out -9216 255,in -9216
recording|set 0x378 0|0|0x0378 = 0x2A 42 00101010 (wrote 0x2B)||in 888,out 888 43,in 888
recording:42,40|clear 0x378 1|0|0x0378 = 0x28 40 00101000||in 888,out 888 40,in 888
recording:42,170|toggle 0x378 7 --json|0|{"port":888,"value":170,"written":170}||in 888,out 888 170,in 888
recording|pulse 0x378 3 1|0|0x0378 = 0x2A 42 00101010||in 888,out 888 34,out 888 42,in 888
recording|pulse 0x378 --byte 0x05 10 --json|0|{"port":888,"value":42,"written":42,"pulse":5,"width_us":>=10000}||in 888,out 888 5,out 888 42,in 888
recording|pulse 0x378 --byte=255 0|0|0x0378 = 0x2A 42 00101010||in 888,out 888 255,out 888 42,in 888
recording|pulse 0x378 0.5 --byte 0|0|0x0378 = 0x2A 42 00101010||in 888,out 888 0,out 888 42,in 888
recording|capture 0x300 --seconds 0.001 --every 1000|0|~$var wire 1 ! bit0 $end;||*
recording:120,120,248,248,120|watch 0x379 --every 1 --count 2|0|0x0379 = 0x78 120 01111000 at T ms;0x0379 = 0xF8 248 11111000 at T ms;0x0379 = 0x78 120 01111000 at T ms||in 889,in 889,in 889,in 889,in 889
recording:120,248|watch 0x379 --every=0 --count 1 --json|0|{"port":889,"value":120,"time":T};{"port":889,"value":248,"time":T}||in 889,in 889
recording|bench 0x378 --seconds 0.05 --write|0|~0x0378 read+write: median||*
recording|pulse 0x378 --byte 5 100us --json|0|~"pulse":5,"width_us":||in 888,out 888 5,out 888 42,in 888
recording|capture 0x300 --seconds 1ms --every 0.5ms|0|~$var wire 1 ! bit0 $end;||*
recording|bench 0x378 --seconds=50ms --json|0|~{"port":888,"route":"not named by this library","library":"||*
recording|ports --json|0|~||-
recording|--help|0|~usage: portpanel-io ports [--json]||-
recording|--version|0|portpanel-io 1.00||-
# Usage mistakes: status 2, the usage line on stderr, no library loaded.
recording|write 0x378 300|2||"300" is not a byte: type 0 to 255 or 0x00 to 0xFF;usage: portpanel-io write PORT VALUE [--json]|-
recording|write 0x378 256|2||"256" is not a byte|-
recording|write 0x378 -1|2||"-1" is not a byte|-
recording|write 0x378 0x100|2||"0x100" is not a byte|-
recording|write 0x378 0xFFFF|2||"0xFFFF" is not a byte|-
recording|write 0x378 2.5|2||"2.5" is not a byte|-
recording|write 0x378 0x|2||"0x" is not a byte|-
recording|set 0x378 8|2||"8" is not a bit number: type 0 to 7;usage: portpanel-io set|-
recording|toggle 0x378 -1|2||"-1" is not a bit number|-
recording|read 40000|2||"40000" is outside -32768..32767; for a port above 32767 type it in hex, as 0x9C40|-
recording|read 0x10000|2||"0x10000" is not a hex number from 0x0 to 0xFFFF|-
recording|read 0x37G|2||"0x37G" is not a hex number|-
recording|read port|2||"port" is not a whole number (type decimal digits such as 888, or hex such as 0x378);usage: portpanel-io read PORT... [--json]|-
recording|read|2||read takes more operands|-
recording|write 0x378|2||write takes more operands|-
recording|write 0x378 1 2|2||write takes fewer operands (at most 2)|-
recording|pulse 0x378 0 -5|2||"-5" is not a time in milliseconds from 0 to 3600000|-
recording|pulse 0x378 --byte 256 10|2||"256" is not a byte;portpanel-io pulse PORT --byte VALUE MILLISECONDS|-
recording|pulse 0x378 --byte 5 0.05|2||"0.05" is not a time in milliseconds: 0, or 0.1 to 3600000|-
recording|pulse 0x378 1 --byte 5 10|2||pulse --byte takes fewer operands|-
recording|capture 0x378 --trigger 18:rise|2||"18" is not a pin|-
recording|capture 0x378 --trigger 11:up|2||"11:up" is not a trigger|-
recording|capture 0x300 --trigger 9:fall|2||--trigger 9: a parallel port's pins are 1 to 17, another port's bits 0 to 7|-
recording|capture 0x378 --every 0.5e7|2||is not a period in microseconds|-
recording|capture 0x378 --every 2s|2||"2s" is not a period in microseconds from 0 to 1000000|-
recording|pulse 0x378 --byte 5 50us|2||"50us" is not a time in milliseconds: 0, or 0.1 to 3600000|-
recording|pulse 0x378 0 5min|2||"5min" is not a time in milliseconds|-
recording|bench 0x378 --seconds 0.5ms|2||"0.5ms" is not a time in seconds|-
recording|capture 0x378 --before-memory 0|2||"0" is not a size in MiB|-
recording|capture 0x378 -o|2||--output needs a value|-
recording|watch 0x379 --count 0|2||"0" is not a count|-
recording|watch 0x379 --every|2||--every needs a value|-
recording|read 0x378 --json=no|2||--json takes no value|-
recording|read 0x378 --every 5|2||unknown option "--every" for read|-
recording|bench 0x378 --seconds 0|2||"0" is not a time in seconds|-
recording|frob 0x378|2||unknown command "frob";usage: portpanel-io ports [--json]|-
recording||2||no command given;portpanel-io --help|-
recording|test 0x378 --loopback --wiring 2-15|2||give --loopback or --wiring once, not both|-
recording|test 0x378 --wiring 2-3|2||"2-3" joins two outputs;usage: portpanel-io test PORT|-
recording|test 0x378 --wiring 2-15,15-3|2||pin 15 is wired twice|-
recording|test 0x378 --wiring 2-18|2||"18" is not a signal pin (1 to 17)|-
recording|test 0x378 --wiring 2:15|2||"2:15" is not a pair such as 2-15|-
recording|--help --version|2||unknown command "--help"|-
# The library's failures: the window's numbers and words.
none|read 0x378|3||portpanel-io: Error 3:;inpout32|-
without-inp32|read 0x378|4||portpanel-io: Error 4:;Inp32|*
unready|write 0x378 1|5||portpanel-io: Error 5:;the recording library was built unready (test)|
refusing|read 0x2F8|5||portpanel-io: Error 5: port 0x02F8 was not reached: refused by the test|in 760
refusing|read 0x378 0x2F8|5|0x0378 = 0x2A 42 00101010|port 0x02F8 was not reached|in 888,in 760
refusing|write 0x2F8 1|5||port 0x02F8 was not reached|out 760 1,in 760
refusing|pulse 0x2F8 0 1|5||port 0x02F8 was not reached|in 760
refusing|bench 0x2F8|5||port 0x02F8 was not reached|in 760
refusing|capture 0x2F8|5||port 0x02F8 was not reached|in 760
refusing|test 0x2F8|5||port 0x02F8 was not reached|in 760
simulated|write 0x378 0x55|0|0x0378 = 0x55 85 01010101|simulated port: out 0x0378 <- 0x55|*
simulated|read 0x379 0x2F8|0|0x0379 = 0x78 120 01111000;0x02F8 = 0xFF 255 11111111||*
simulated|toggle 0x37A 0|0|0x037A = 0x0D 13 00001101||*
simulated|bench 0x378 --seconds 0.05|0|~ accesses/s;route: simulated (no hardware);library: /||*
# capture names the same route as bench; the library traces its writes only
simulated|capture 0x378 --seconds 50ms -o /dev/null|0||route: simulated (no hardware)|*
TABLE

unset PORTPANEL_READ_VALUE
# The self-test over the simulated port with a plug and faults fitted: each
# fault found and named, none on a good plug, "no plug" without one. The
# output is printed: the faults' words are read by people.
if [ "$platform" = linux ]; then
    while IFS='|' read -r plug faults plugged status summary; do
        [ -z "$plug" ] || [ "${plug:0:1}" = '#' ] && continue
        read -ra args <<<"$plugged"
        got=0
        (export PORTPANEL_SIMULATED_PLUG=${plug/none/} PORTPANEL_SIMULATED_FAULTS=$faults &&
            program simulated test 0x378 "${args[@]}") >"$out/out" 2>"$out/err" || got=$?
        rows=$((rows + 1))
        echo "plug $plug, faults '${faults:-none}': portpanel-io test 0x378 ${args[*]} -> $got"
        sed 's/^/    /' "$out/out"
        shown=$(tail -n 1 "$out/out") want="0x0378: $summary"
        if [ "${summary:0:1}" = '~' ]; then
            want=${summary:1}
            [[ "$shown" != *"$want"* ]] || shown=$want
        fi
        [ "$got" = "$status" ] && [ "$shown" = "$want" ] ||
            fail "test over plug $plug with '$faults': status $got, want $status; want '$summary'"
    done <<'TABLE'
# PLUG | FAULTS | ARGUMENTS | STATUS | SUMMARY (after "0x0378: "; ~TEXT: the output holds TEXT)
loopback||--loopback|0|all 17 lines work
data-lines||--wiring 6-11,5-10,4-12,3-13,2-15|0|all 17 lines work
none|||0|12 lines work; 5 not tested: the inputs need a loopback plug (--loopback or --wiring)
none||--loopback|1|no plug: no input followed its output; fit the plug wired 1-13,2-15,10-16,11-17,12-14 and test again
data-lines||--loopback|1|4 faults: pin 10 (/Ack) stuck low: check the plug's 10-16 wire or the port's /Ack line; pin 11 (Busy) stuck low: check the plug's 11-17 wire or the port's Busy line; pin 12 (Paper-out) stuck low: check the plug's 12-14 wire or the port's Paper-out line; pin 13 (Select) stuck low: check the plug's 1-13 wire or the port's Select line
loopback|high:11|--loopback|1|1 fault: pin 11 (Busy) stuck high (or open): check the plug's 11-17 wire or the port's Busy line
loopback|open:12|--loopback|1|1 fault: pin 12 (Paper-out) stuck high (or open): check the plug's 12-14 wire or the port's Paper-out line
loopback|low:10|--loopback|1|1 fault: pin 10 (/Ack) stuck low: check the plug's 10-16 wire or the port's /Ack line
data-lines|open:13|--wiring 2-15,3-13,4-12,5-10,6-11|1|1 fault: pin 13 (Select) stuck high (or open): check the plug's 3-13 wire or the port's Select line
loopback|short:13-15|--loopback|1|2 faults: pin 13 (Select) shorted to pin 15: look for pins 13 and 15 touching in the plug, cable or port; pin 15 (/Error) shorted to pin 13: look for pins 13 and 15 touching in the plug, cable or port
loopback|readback:5|--loopback|1|1 fault: pin 5 (D3) reads low when driven high: unplug the cable and test again: if it stays, the port's D3 line is faulty
none|high:4|--json|1|~"faults":[{"pin":4,"name":"D2","fault":"reads high when driven low","advice":"unplug the cable and test again: if it stays, the port's D2 line is faulty"}],
loopback|low:16|--loopback|1|1 fault: pin 16 (/Init) reads low when driven high: unplug the cable and test again: if it stays, the port's /Init line is faulty
loopback|short:6-7|--loopback|1|2 faults: pin 6 (D4) shorted to pin 7: look for pins 6 and 7 touching in the plug, cable or port; pin 7 (D5) shorted to pin 6: look for pins 6 and 7 touching in the plug, cable or port
TABLE
fi

# A reader that has gone: the access is done, the run ends quietly with 0.
rm -f "$record"
exec {closed}> >(:) # a pipe whose reader has already left
wait $!
status=0
(program recording read 0x378) >&$closed 2>"$out/err" || status=$?
exec {closed}>&-
rows=$((rows + 1))
[ "$status" = 0 ] && [ ! -s "$out/err" ] && [ "$(calls)" = "in 888" ] ||
    fail "read into a closed pipe: status $status, calls '$(calls)', stderr: $(cat "$out/err")"

# A watch whose reader leaves ends too, though the port does not change again.
if [ "$platform" = linux ]; then
    rm -f "$record"
    first=$({ (program recording watch 0x379 --every 1); echo $? >"$out/status"; } | head -1)
    rows=$((rows + 1))
    [ "$first" = "0x0379 = 0x2A 42 00101010 at 0 ms" ] && [ "$(cat "$out/status")" = 0 ] ||
        fail "watch into a pipe closed after one line: '$first', status $(cat "$out/status")"
fi

# SIGTERM or Ctrl+C's SIGINT in the middle of a pulse: the byte is put back,
# then the signal acts. (An asynchronous job starts with SIGINT ignored.)
if [ "$platform" = linux ]; then
    for signal in TERM INT; do
        for held in "0:43" "--byte 5:5"; do
            rm -f "$record"
            read -ra form <<<"${held%:*}"
            (trap - INT && program recording pulse 0x378 "${form[@]}" 20000) >"$out/out" 2>"$out/err" &
            pid=$!
            for _ in $(seq 600); do grep -q "out 888 ${held#*:}" "$record" 2>/dev/null && break; sleep 0.05; done
            kill -$signal "$pid"
            got=0
            wait "$pid" || got=$?
            rows=$((rows + 1))
            [ "$got" = $((128 + $(kill -l $signal))) ] &&
                [ "$(calls)" = "in 888,out 888 ${held#*:},out 888 42" ] ||
                fail "pulse ${form[*]} ended by SIG$signal: status $got, calls '$(calls)'"
        done
    done
fi
# SIGTERM or Ctrl+C halfway through a self-test over a slow simulated port:
# the test stops, data and control get their bytes back, then the signal acts.
if [ "$platform" = linux ]; then
    for signal in TERM INT; do
        rm -f "$out/err" # the last run's writes are not this one's
        (trap - INT && export PORTPANEL_SIMULATED_PLUG=loopback PORTPANEL_SIMULATED_DELAY_MS=5 &&
            program simulated test 0x378 --loopback) >"$out/out" 2>"$out/err" &
        pid=$!
        for _ in $(seq 600); do [ "$(grep -c ' <- ' "$out/err")" -ge 10 ] && break; sleep 0.05; done
        kill -$signal "$pid"
        got=0
        wait "$pid" || got=$?
        rows=$((rows + 1))
        last=$(grep -o 'out 0x037[8A] <- 0x..' "$out/err" | tail -n 2 | paste -sd,)
        [ "$got" = $((128 + $(kill -l $signal))) ] && [ ! -s "$out/out" ] &&
            [ "$last" = "out 0x0378 <- 0x00,out 0x037A <- 0x0C" ] &&
            [ "$(grep -c ' <- ' "$out/err")" -lt 100 ] ||
            fail "test ended by SIG$signal: status $got, last writes '$last', $(grep -c ' <- ' "$out/err") writes: $(cat "$out/out")"
    done
fi
# Started with SIGINT ignored (nohup, a script's background job), a pulse and
# a timed capture let it pass: each runs its whole time and ends with 0.
if [ "$platform" = linux ]; then
    for command in "pulse 0x378 --byte 5 1000 --json" "capture 0x378 --every 1000 --seconds 1"; do
        rm -f "$record"
        read -ra args <<<"$command"
        (trap '' INT && program recording "${args[@]}") >"$out/out" 2>"$out/err" &
        pid=$!
        for _ in $(seq 600); do grep -q "out 888 5\|in 890" "$record" 2>/dev/null && break; sleep 0.05; done
        kill -INT "$pid" 2>/dev/null || true
        got=0
        wait "$pid" || got=$?
        rows=$((rows + 1))
        [ "$got" = 0 ] && grep -q '"width_us":1[0-9]\{6\}\|samples in 1\.' "$out/out" "$out/err" ||
            fail "$command with SIGINT ignored, then SIGINT: status $got: $(cat "$out/out" "$out/err")"
    done
fi
# Ctrl+C on the console in the middle of a pulse: the byte is put back, then
# the program ends as Ctrl+C ends a console program.
if [ "$platform" = wine ]; then
    cp "$exe" "$variants/recording/"
    for held in "0:43" "--byte 5:5"; do
        rm -f "$record"
        read -ra form <<<"${held%:*}"
        shown=$(PORTPANEL_RECORD="Z:$record" WINEDEBUG=-all "$loader" "$ctrl_c" "Z:$record" \
            "out 888 ${held#*:}" "Z:$variants/recording/$(basename "$exe")" pulse 0x378 "${form[@]}" \
            20000 | tr -d '\r')
        rows=$((rows + 1))
        [ "$shown" = "exit 0xC000013A" ] &&
            [ "$(calls)" = "in 888,out 888 ${held#*:},out 888 42" ] ||
            fail "pulse ${form[*]} ended by Ctrl+C: '$shown', calls '$(calls)'"
    done
fi
# Windows: -o names that the ANSI code page cannot hold (typed on a UTF-8
# terminal), a device written in place, and a file that another program holds,
# refused before the first sample with Windows' words and left as it was.
# NAME | EXIT | FILES AFTERWARDS | NAME'S FIRST LINE | STDERR HOLDS | PORT READ
if [ "$platform" = wine ]; then
    cp "$exe" "$variants/recording/"
    windows_exe="Z:$variants/recording/$(basename "$exe")"
    while IFS='|' read -r name status files first stderr sampled; do
        rm -f "$record" && rm -rf "$out/o" && mkdir "$out/o" && echo old >"$out/o/held.vcd"
        got=$( (cd "$out/o" && LC_ALL=C.UTF-8 PORTPANEL_RECORD="Z:$record" WINEDEBUG=-all \
            "$loader" "$ctrl_c" --hold held.vcd "$windows_exe" capture 0x300 --seconds 0.05 \
            -o "$name") 2>"$out/err" | tr -d '\r' || true)
        rows=$((rows + 1))
        read=no
        grep -q '^in 768' "$record" 2>/dev/null && read=yes
        shown=$(ls "$out/o" | LC_ALL=C sort | paste -sd,)
        [ "$got" = "exit $status" ] && [ "$shown" = "$files" ] && [ "$read" = "$sampled" ] &&
            { [ -z "$first" ] || [ "$(head -1 "$out/o/$name" | tr -d '\r')" = "$first" ]; } &&
            grep -qF -- "$stderr" "$out/err" ||
            fail "capture -o $name: $got, files '$shown', port read: $read: $(cat "$out/err")"
    done <<'OUTPUTS'
café.vcd|0x0|café.vcd,held.vcd|$version portpanel 1.00 $end|samples in|yes
Messung_äöü.vcd|0x0|Messung_äöü.vcd,held.vcd|$version portpanel 1.00 $end|samples in|yes
Ωmega.vcd|0x0|held.vcd,Ωmega.vcd|$version portpanel 1.00 $end|samples in|yes
測定.vcd|0x0|held.vcd,測定.vcd|$version portpanel 1.00 $end|samples in|yes
NUL|0x0|held.vcd||samples in|yes
held.vcd|0x6|held.vcd|old|cannot write "held.vcd": Windows error 32:|no
OUTPUTS
    # A reader that takes the first line and leaves, from a Windows pipe, while
    # the port never changes: nothing more is printed, yet the run ends.
    for command in "watch 0x379 --every 5" "capture 0x300 --every 1000"; do
        rm -f "$record"
        read -ra args <<<"$command"
        shown=$(PORTPANEL_RECORD="Z:$record" WINEDEBUG=-all "$loader" "$ctrl_c" --pipe \
            "$windows_exe" "${args[@]}" 2>"$out/err" | tr -d '\r' | paste -sd';' || true)
        rows=$((rows + 1))
        [[ "$shown" == *";exit 0x0" ]] && [ "${shown%%;*}" != "" ] ||
            fail "$command into a pipe closed after one line: '$shown': $(cat "$out/err")"
    done
    # A pulse is never shorter than asked (how close it comes is the benchmark's).
    rows=$((rows + 1))
    width=$( (program recording pulse 0x378 --byte 5 0.1 --json) 2>"$out/err" | tr -d '\r' |
        sed -n 's/.*"width_us":\([0-9]*\).*/\1/p' || true)
    [ "${width:-0}" -ge 100 ] || fail "pulse of 0.1 ms held ${width:-no} us: $(cat "$out/err")"
fi
# Captures of a parallel port whose registers are files (each replaced whole,
# so that no read meets half a number): every change is made once the one
# before it is in the file being written, then Ctrl+C ends the capture.
if [ "$platform" = linux ]; then
    source "$(dirname "$0")/need.sh"
    need sigrok-cli sigrok-cli
    need vcd2fst gtkwave
    export PORTPANEL_PORT_FOLDER=$out/ports
    mkdir -p "$PORTPANEL_PORT_FOLDER"
    put() { echo "$2" >"$PORTPANEL_PORT_FOLDER/new" && mv "$PORTPANEL_PORT_FOLDER/new" "$PORTPANEL_PORT_FOLDER/$1"; }
    stamps() { cat "$1".partial-* 2>/dev/null | grep -c '^#' || true; } # of FILE while it is written
    changes() { # each time's changes after the initial levels, times as T: "T 0+;T 0* 1+"
        sed -n '/^\$end$/,$p' "$1" | sed '1d' | awk '/^#/ { if (line != "" && line != "T") print line; line = "T" }
            /^[01]/ { line = line " " $0 } /^\$comment/ { exit } END { if (line != "T") print line }' |
            paste -sd';'
    }
    vcd=$out/capture.vcd
    put 888 0 && put 889 120 && put 890 4
    rm -f "$record"
    (trap - INT && program recording capture 0x378 --every 200 -o "$vcd") >"$out/out" 2>"$out/err" &
    pid=$!
    step=0
    for status in 248 56 120 x; do # Busy low; Busy high and /Ack low; /Ack high; then D0, D2...
        step=$((step + 1))
        for _ in $(seq 600); do [ "$(stamps "$vcd")" -ge $step ] && break; sleep 0.05; done
        if [ "$status" = x ]; then put 888 85; else put 889 $status; fi
    done
    for _ in $(seq 600); do [ "$(stamps "$vcd")" -ge 5 ] && break; sleep 0.05; done
    kill -INT "$pid" 2>/dev/null || true
    got=0
    wait "$pid" || got=$?
    rows=$((rows + 1))
    want='T 0+;T 0* 1+;T 1*;T 1" 1$ 1& 1('
    # Ctrl+C is how a capture without --seconds ends: status 0 with the whole file.
    [ "$got" = 0 ] && [ -z "$(ls "$vcd".partial* 2>/dev/null)" ] && [ "$(changes "$vcd")" = "$want" ] ||
        fail "capture ended by Ctrl+C: status $got, changes '$(changes "$vcd")', want '$want': $(cat "$out/err")"
    # The initial levels: Busy (status bit 7 clear) is high, /Strobe and /Init (control 4) high.
    rows=$((rows + 1))
    sed -n '/^\$dumpvars/,/^\$end/p' "$vcd" | paste -sd' ' | grep -qF '$dumpvars 1! 0" 0# 0$ 0% 0& 0'"'"' 0( 0) 1* 1+ 1, 1- 1. 1/ 10 11 $end' &&
        grep -q '^\$var wire 1 + p11_Busy \$end$' "$vcd" && grep -q '^\$timescale 1 us \$end$' "$vcd" ||
        fail "capture's wires and initial levels: $(sed -n '/^\$var/,/^\$end/p' "$vcd")"
    rows=$((rows + 1))
    grep '^#' "$vcd" | tr -d '#' | sort -nc 2>/dev/null && grep -q 'samples in .* largest gap' "$out/err" &&
        grep -q '^  .* samples/s), largest gap' "$vcd" ||
        fail "capture's times go back, or its figures are missing: $(cat "$out/err")"
    # Two readers no one here wrote.
    rows=$((rows + 1))
    shown=$(sigrok-cli -I vcd -i "$vcd" --show 2>&1)
    grep -q '^Channels: 17$' <<<"$shown" && grep -q '^- p11_Busy: logic$' <<<"$shown" &&
        grep -qE '^Logic sample count: [1-9]' <<<"$shown" || fail "sigrok-cli reads the capture as: $shown"
    rows=$((rows + 1))
    vcd2fst "$vcd" "$out/capture.fst" >"$out/fst" 2>&1 && [ -s "$out/capture.fst" ] ||
        fail "vcd2fst refuses the capture: $(cat "$out/fst")"

    # A trigger: only 5 ms before Busy's fall are kept, and 0.05 s after it.
    put 889 120
    rm -f "$record"
    (program recording capture 0x378 --every 200 --trigger 11:fall --before 5 --seconds 0.05 \
        -o "$vcd") >"$out/out" 2>"$out/err" &
    pid=$!
    # 50 samples at least 200 us apart: more than --before's 5 ms have been sampled
    for _ in $(seq 600); do [ "$(cat "$record" 2>/dev/null | grep -c '^in 889$' || true)" -ge 50 ] && break; sleep 0.05; done
    put 889 248
    got=0
    wait "$pid" || got=$?
    rows=$((rows + 1))
    edge=$(sed -n '/^\$end$/,$p' "$vcd" | grep -m1 '^#' | tr -d '#')
    last=$(grep '^#' "$vcd" | tail -1 | tr -d '#')
    [ "$got" = 0 ] && [ "$(changes "$vcd")" = 'T 0+' ] && [ "$edge" = 5000 ] &&
        [ "${last:-0}" -ge $((edge + 50000)) ] &&
        grep -q "trigger 11:fall at #$edge" "$vcd" ||
        fail "capture with a trigger: status $got, changes '$(changes "$vcd")', edge $edge, last $last"

    # With --before 0 the file still shows the edge: the level before it at #0,
    # the fall after it; a trigger that never comes still gives the file an end.
    for comes in yes no; do
        put 889 120
        rm -f "$record"
        timed=() && [ $comes = yes ] && timed=(--seconds 0.05)
        (trap - INT && program recording capture 0x378 --every 200 --trigger 11:fall --before 0 "${timed[@]}" \
            -o "$vcd") >"$out/out" 2>"$out/err" &
        pid=$!
        for _ in $(seq 600); do [ "$(cat "$record" 2>/dev/null | grep -c '^in 889$' || true)" -ge 20 ] && break; sleep 0.05; done
        if [ $comes = yes ]; then put 889 248; else kill -INT $pid 2>/dev/null || true; fi
        got=0
        wait "$pid" || got=$?
        rows=$((rows + 1))
        levels=$(sed -n '/^\$dumpvars/,/^\$end/p' "$vcd" | grep -x '[01]+')
        last=$(grep '^#' "$vcd" | tail -1 | tr -d '#')
        want=$([ $comes = yes ] && echo 'T 0+' || echo '')
        [ "$got" = 0 ] && [ "$levels" = 1+ ] && [ "$(changes "$vcd")" = "$want" ] && [ "${last:-0}" -ge 1 ] ||
            fail "capture with --before 0 (trigger came: $comes): status $got, #0 $levels, changes '$(changes "$vcd")', last #$last"
    done
    # A line that changes at every read and a trigger that never comes: what is
    # kept before it stays within --before-memory (16 KiB, 1024 changes), and the
    # summary says how much time that covers.
    rm -f "$record"
    (trap - INT && PORTPANEL_TOGGLE=889:0x40 program recording capture 0x378 --trigger 11:fall --before 3600000 \
        --before-memory 0.015625 -o "$vcd") >"$out/out" 2>"$out/err" &
    pid=$!
    for _ in $(seq 600); do [ "$(cat "$record" 2>/dev/null | grep -c '^in 889$' || true)" -ge 3000 ] && break; sleep 0.05; done
    kill -INT $pid 2>/dev/null || true
    got=0
    wait "$pid" || got=$?
    rows=$((rows + 1))
    kept=$(sed -n '/^\$end$/,$p' "$vcd" | grep -c '^1\*' || true)
    [ "$got" = 0 ] && [ "$kept" -ge 400 ] && [ "$kept" -le 520 ] &&
        grep -q 'never came: the dump holds the last [0-9.]* s (--before-memory held the rest)' "$out/err" ||
        fail "capture held to --before-memory: status $got, /Ack rose $kept times: $(cat "$out/err")"

    # A refused port leaves no file, half-written or whole.
    rows=$((rows + 1))
    got=0
    (program refusing capture 0x2F8 -o "$out/refused.vcd") >"$out/out" 2>"$out/err" || got=$?
    [ "$got" = 5 ] && [ -z "$(ls "$out" | grep refused)" ] ||
        fail "capture of a refused port: status $got, files: $(ls "$out")"
    unset PORTPANEL_PORT_FOLDER

    # Where -o points: each destination's status, its file type afterwards, what
    # its reader got (a whole dump, times only going forward), and for a refusal
    # the words and that no port was read. Rows that need root skip without it.
    # NAME | -o | STATUS | TYPE AFTER (stat %F) | STDERR holds
    dest=$out/dest shared=$out/shared
    mkdir -m 1777 "$shared" && chmod 711 "$out" # a user reaches the folders, and the record
    as_user=()
    [ "$(id -u)" = 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    whole() { # FILE: one header, a $comment at the end, times never going back
        [ "$(grep -c '^\$version' "$1")" = 1 ] && [ "$(tail -1 "$1")" = '$end' ] &&
            grep -q '^  route: ' "$1" && grep '^#' "$1" | tr -d '#' | sort -nc 2>/dev/null
    }
    while IFS='|' read -r name target status type words; do
        [ -z "$name" ] || [ "${name:0:1}" = '#' ] && continue
        [ "$(id -u)" != 0 ] && [ "$name" = device ] && continue
        rm -rf "$dest" "$shared/record" && mkdir -p "$dest" && chmod 777 "$dest"
        runner=()
        case $name in
        mode) echo old >"$dest/a.vcd" && chmod 600 "$dest/a.vcd" ;;
        symlink) echo old >"$dest/target.vcd" && ln -s target.vcd "$dest/a.vcd" ;;
        fifo) # a reader only once it waits in its open (the kernel's wait_for_partner)
            mkfifo "$dest/a.vcd" && { timeout 60 cat "$dest/a.vcd" >"$shared/got" & }
            for _ in $(seq 600); do
                [ "$(cat "/proc/$(pgrep -P $! || echo 0)/wchan" 2>/dev/null)" = wait_for_partner ] && break
                sleep 0.1
            done ;;
        fifo-without-reader) mkfifo "$dest/a.vcd" ;;
        device) mknod "$dest/a.vcd" c 1 3 ;; # /dev/null's numbers
        read-only) mkdir -m 555 "$dest/ro" && runner=("${as_user[@]}") ;;
        folder) mkdir "$dest/a.vcd" ;;
        esac
        got=0
        (cd "$dest" && exec "${runner[@]}" env LD_LIBRARY_PATH="$(folder recording)" \
            ASAN_OPTIONS=verify_asan_link_order=0 PORTPANEL_RECORD="$shared/record" \
            "$build/cli/portpanel-io" capture 0x378 --seconds 0.02 -o "$target") \
            >"$out/out" 2>"$out/err" || got=$?
        wait # the FIFO's reader
        rows=$((rows + 1))
        what="capture -o $target ($name)"
        after=$(stat -c %F "$dest/${target#-}" 2>/dev/null || echo none)
        [ "$target" = - ] && after=$(ls "$dest")
        [ "$got" = "$status" ] && [ "$after" = "$type" ] || fail "$what: status $got, type '$after': $(cat "$out/err")"
        grep -qF -- "$words" "$out/err" || fail "$what: stderr lacks '$words': $(cat "$out/err")"
        [ -z "$(ls "$dest" | grep partial)" ] || fail "$what: left $(ls "$dest")"
        if [ "$status" != 0 ]; then
            ! grep -q '^in ' "$shared/record" 2>/dev/null || fail "$what: sampled before refusing"
            continue
        fi
        case $name in
        mode) [ "$(stat -c %a "$dest/a.vcd")" = 600 ] && whole "$dest/a.vcd" || fail "$what: mode $(stat -c %a "$dest/a.vcd")" ;;
        symlink) [ -L "$dest/a.vcd" ] && whole "$dest/target.vcd" || fail "$what: link or target lost: $(ls -l "$dest")" ;;
        fifo) whole "$shared/got" || fail "$what: the reader got: $(head -c 300 "$shared/got")" ;;
        stdout) whole "$out/out" || fail "$what: standard output got: $(head -c 300 "$out/out")" ;;
        new) whole "$dest/a.vcd" || fail "$what: $(head -c 300 "$dest/a.vcd")" ;;
        esac
    done <<'DESTINATIONS'
new|a.vcd|0|regular file|route:
mode|a.vcd|0|regular file|route:
symlink|a.vcd|0|symbolic link|route:
fifo|a.vcd|0|fifo|route:
device|a.vcd|0|character special file|route:
stdout|-|0||route:
fifo-without-reader|a.vcd|6|fifo|cannot write "a.vcd": no program is reading it
folder|a.vcd|6|directory|cannot write "a.vcd": it is a folder
missing-folder|none/a.vcd|6|none|cannot write "none/a.vcd": the folder "none" does not exist
read-only|ro/a.vcd|6|none|cannot write "ro/a.vcd": cannot create a file in the folder "ro": Permission denied
DESTINATIONS
    # Two captures to one path at once: both end with status 0 and the file is
    # one of them, whole.
    rm -rf "$dest" && mkdir -p "$dest"
    (program recording capture 0x378 --seconds 0.3 -o "$dest/a.vcd") >/dev/null 2>"$out/err" &
    first=$!
    got=0
    (program recording capture 0x378 --seconds 0.2 -o "$dest/a.vcd") >/dev/null 2>>"$out/err" || got=$?
    wait $first || got=$((got + $?))
    rows=$((rows + 1))
    [ "$got" = 0 ] && whole "$dest/a.vcd" && [ "$(ls "$dest")" = a.vcd ] ||
        fail "two captures to one path: status $got, files $(ls "$dest"): $(cat "$out/err")"
fi
# docs/scripting.md's Python script, as it stands there, over the simulated
# library (the byte held, then put back) and over one that refuses the port.
if [ "$platform" = linux ]; then
    # python3 over LIBRARY; a sanitized library's runtime goes first, as python has none.
    python_over() { # LIBRARY ARGUMENT...
        local runtime
        runtime=$(ldd "$(folder "$1")/libinpout32.so" | grep -o '/[^ ]*libasan\.so[^ ]*' || true)
        LD_LIBRARY_PATH=$(folder "$1") LD_PRELOAD=$runtime ASAN_OPTIONS=detect_leaks=0 \
            python3 "${@:2}"
    }
    sed -n '/^```python$/,/^```$/p' "$(dirname "$0")/../docs/scripting.md" | sed '1d;$d' >"$out/trigger.py"
    rows=$((rows + 1))
    got=0
    python_over simulated "$out/trigger.py" >"$out/out" 2>"$out/err" || got=$?
    [ "$got" = 0 ] && [ "$(paste -sd';' "$out/out")" = 'trigger 0x05 held for 10 ms;Busy stayed high for 0.5 s' ] &&
        [ "$(grep -o 'out 0x0378 <- 0x..' "$out/err" | paste -sd,)" = 'out 0x0378 <- 0x05,out 0x0378 <- 0x00' ] ||
        fail "scripting.md's script: status $got: $(cat "$out/out" "$out/err")"
    # LIBRARY ARGUMENT | STATUS | WORDS: a refused port, an empty bus, a port that is not one.
    while IFS='|' read -r library argument status words; do
        rows=$((rows + 1))
        got=0
        python_over "$library" "$out/trigger.py" "$argument" >"$out/out" 2>"$out/err" || got=$?
        [ "$got" = "$status" ] && grep -qF "trigger.py: $words" "$out/err" ||
            fail "scripting.md's script over $library with $argument: status $got: $(cat "$out/err")"
    done <<'TABLE'
refusing|0x2F8|1|port 0x02F8 was not reached: refused by the test
simulated|0x2F8|1|nothing answers at 0x02F9 (it reads 0xFF)
simulated|0x10000|1|'0x10000' is not a port
simulated|0xFFFF|1|'0xFFFF' is not a port
TABLE
fi
# The examples runner: every example a user would paste, as it stands, from
# the manuals' EXAMPLES (each .nf block) and the README's and docs' ```sh
# blocks, run in a folder of its own over the recording library, each bounded
# by timeout. The parallel port's Busy line is a file that a stand-in device
# flips every 20 ms; gtkwave, which needs a screen, is stood in by vcd2fst,
# which reads the same file. A block marked "sh plug" runs over the simulated
# port with the common loopback plug fitted. A block marked "sh port" (a real port, or
# portpanel-run's privilege) runs in the emulated PC instead (tests/qemu/io.sh,
# through "io_test.sh port-examples"); one marked "sh setup" (installing,
# building) or "sh window" is listed, not run: the newcomer, install and
# package tests and the window tests run those. An
# example that watches runs again over a library that refuses every port: it
# must end, and fail.
if [ "$platform" = linux ]; then
    export PORTPANEL_PORT_FOLDER=$out/ports
    mkdir -p "$PORTPANEL_PORT_FOLDER" "$out/examples" "$out/run"
    put 888 0 && put 889 120 && put 890 4
    (while :; do put 889 248; sleep 0.02; put 889 120; sleep 0.02; done) &
    device=$!
    examples "$out/examples"
    stand_ins='gtkwave() { vcd2fst "$1" "$1.fst" >/dev/null; }'
    run_example() { # LIBRARY FILE [VAR=VALUE...]: the example's status, 124 when it did not end in 60 s
        local status=0
        (cd "$out/run" && env "${@:3}" ASAN_OPTIONS=verify_asan_link_order=0 LD_LIBRARY_PATH="$(folder "$1")" \
            PORTPANEL_RECORD="$record" PATH="$build/cli:$PATH" \
            timeout 60 bash -c "$stand_ins"$'\n'"$(tail -n +3 "$2")") >"$out/out" 2>"$out/err" ||
            status=$?
        echo $status
    }
    for example in "$out"/examples/*; do
        where=$(sed -n 1p "$example") mark=$(sed -n 2p "$example")
        case $mark in
        sh | 'sh plug')
            rows=$((rows + 1))
            if [ "$mark" = sh ]; then
                got=$(run_example recording "$example")
            else # a loopback plug fitted: the simulated port's
                got=$(run_example simulated "$example" PORTPANEL_SIMULATED_PLUG=loopback)
            fi
            echo "example $where: ran, status $got"
            [ "$got" = 0 ] || fail "example $where ended with $got: $(tail -n 3 "$out/err")"
            if grep -q 'portpanel-io watch' "$example"; then
                rows=$((rows + 1))
                got=$(run_example unready "$example")
                echo "example $where: ran over a refusing library, status $got"
                [ "$got" != 0 ] && [ "$got" != 124 ] ||
                    fail "example $where over a refusing library ended with $got"
            fi
            ;;
        python) echo "example $where: run by the scripting check below" ;;
        'sh port') echo "example $where: run in the emulated PC (tests/qemu/io.sh), as a user in portpanel" ;;
        'sh setup' | 'sh window' | text) echo "example $where: not run here (${mark#sh })" ;;
        *) fail "example $where is marked '$mark': mark it sh, sh plug, sh setup, sh port, sh window or text" ;;
        esac
    done
    kill "$device"
    wait "$device" 2>/dev/null || true
    unset PORTPANEL_PORT_FOLDER
fi
[ "$failures" -eq 0 ] && echo "portpanel-io: $rows cases passed on $platform"
exit $((failures > 0))
