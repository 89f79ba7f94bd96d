#!/usr/bin/env bash
# Arguments, and a screen that is missing or cannot be opened, end the run
# of each window program before any window opens and before the port library
# is loaded (the audit module would record the load). No X server listens on :77.
# Usage: command_line_test.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0 rows=0
# PROGRAM ARGUMENTS (as the shell reads them) | ENVIRONMENT | STATUS | STREAM | TEXT IT HOLDS
while IFS='|' read -r arguments environment status stream text; do
    eval "args=($arguments)"
    read -ra variables <<<"$environment"
    got=0
    env -i PATH="$PATH" "${variables[@]}" PORTPANEL_RECORD="$out/record" \
        LD_LIBRARY_PATH="$build/tests/libs/recording" LD_AUDIT="$build/tests/audit.so" \
        "$build/${args[0]}" "${args[@]:1}" >"$out/out" 2>"$out/err" || got=$?
    if [ "$got" != "$status" ] || ! grep -qF -- "$text" "$out/$stream" || [ -s "$out/record" ]; then
        echo "FAIL $arguments ($environment): status $got, want $status with" \
            "'$text' on std$stream" >&2
        cat "$out/out" "$out/err" "$out/record" 2>/dev/null >&2
        failures=$((failures + 1))
    fi
    rm -f "$out/record"
    rows=$((rows + 1))
done <<'TABLE'
portpanel --help|DISPLAY=:77|0|out|usage: portpanel [--help | --version]
portpanel --version|DISPLAY=:77|0|out|portpanel 1.00
portpanel -style evil|DISPLAY=:77|8|err|Error 8: unknown argument "-style": portpanel takes only --help or --version
portpanel -platform offscreen|DISPLAY=:77|8|err|usage: portpanel
portpanel --help --version|DISPLAY=:77|8|err|Error 8: unknown argument "--version"
portpanel --help x|DISPLAY=:77|8|err|Error 8: unknown argument "x"
portpanel||9|err|Error 9: no graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set
portpanel||9|err|xvfb-run
portpanel|DISPLAY=:77|9|err|the X display ":77" (DISPLAY) cannot be opened, and WAYLAND_DISPLAY is not set
portpanel|DISPLAY=:77 WAYLAND_DISPLAY=none XDG_RUNTIME_DIR=/nonexistent|9|err|":77" (DISPLAY) cannot be opened; the Wayland display "/nonexistent/none" (WAYLAND_DISPLAY) cannot be reached
portpanel|QT_QPA_PLATFORM=nosuch DISPLAY=:77|9|err|QT_QPA_PLATFORM is "nosuch"; Qt has no platform plugin "nosuch" (it has
portpanel|QT_QPA_PLATFORM=wayland;xcb:nodes DISPLAY=:77 XDG_RUNTIME_DIR=/nonexistent|9|err|"/nonexistent/wayland-0" (WAYLAND_DISPLAY) cannot be reached; the X display ":77"
portpanel-pins --help|DISPLAY=:77|0|out|usage: portpanel-pins [PORT | --help | --version]
portpanel-pins a b|DISPLAY=:77|8|err|portpanel-pins: Error 8: unknown argument "b": portpanel-pins takes only one PORT, --help or --version
portpanel-pins -h|DISPLAY=:77|8|err|portpanel-pins: Error 8: unknown argument "-h": portpanel-pins takes only one PORT, --help or --version
portpanel-pins --version 0x378|DISPLAY=:77|8|err|unknown argument "0x378"
portpanel-pins '0x378 junk'|DISPLAY=:77|1|err|portpanel-pins: Error 1: "0x378 junk" is not
portpanel-pins 40000|DISPLAY=:77|2|err|Error 2: "40000" is outside -32768..32767
portpanel-pins ' &HDC00 '|DISPLAY=:77|9|err|The portpanel-pins window needs one
portpanel-pins||9|err|as in 'xvfb-run -a portpanel-pins'
TABLE
[ "$failures" -eq 0 ] && echo "command line: $rows cases passed"
exit $((failures > 0))
