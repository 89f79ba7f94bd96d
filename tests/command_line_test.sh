#!/usr/bin/env bash
# Arguments, and a missing screen, end the run before any window opens and
# before the port library is loaded (the audit module would record the load).
# Usage: command_line_test.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0 rows=0
# ARGUMENTS | DISPLAY | STATUS | STREAM | TEXT IT HOLDS
while IFS='|' read -r arguments display status stream text; do
    read -ra args <<<"$arguments"
    got=0
    env -i PATH="$PATH" ${display:+DISPLAY=$display} PORTPANEL_RECORD="$out/record" \
        LD_LIBRARY_PATH="$build/tests/libs/recording" LD_AUDIT="$build/tests/audit.so" \
        "$build/portpanel" "${args[@]}" >"$out/out" 2>"$out/err" || got=$?
    if [ "$got" != "$status" ] || ! grep -qF -- "$text" "$out/$stream" || [ -s "$out/record" ]; then
        echo "FAIL portpanel $arguments (DISPLAY=$display): status $got, want $status with" \
            "'$text' on std$stream" >&2
        cat "$out/out" "$out/err" "$out/record" 2>/dev/null >&2
        failures=$((failures + 1))
    fi
    rm -f "$out/record"
    rows=$((rows + 1))
done <<'TABLE'
--help|:99|0|out|usage: portpanel [--help | --version]
--version|:99|0|out|portpanel 1.00
-style evil|:99|8|err|Error 8: unknown argument "-style": portpanel takes only --help or --version
-platform offscreen|:99|8|err|usage: portpanel
--help --version|:99|8|err|Error 8: unknown argument "--version"
--help x|:99|8|err|Error 8: unknown argument "x"
||9|err|Error 9: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set)
||9|err|xvfb-run
TABLE
[ "$failures" -eq 0 ] && echo "command line: $rows cases passed"
exit $((failures > 0))
