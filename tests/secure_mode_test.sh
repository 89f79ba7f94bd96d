#!/usr/bin/env bash
# A capability, setuid or setgid bit on the window's file makes it refuse
# before the toolkit loads the user's own plugin; without one the same plugin
# loads, so the test can tell. Needs root (setcap, chown, and a second user
# to run the file).
# Usage: secure_mode_test.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
if [ "$(id -u)" -ne 0 ]; then
    skipped_for_root "the window's refusal to run with a capability (secure-mode test)"
    exit 0
fi
need setcap libcap2-bin
need setpriv util-linux
build=$1
# nobody must reach the copies, and the checkout may sit where it cannot (/root).
dir=$(mktemp -d /tmp/portpanel-secure.XXXXXX)
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
cp "$build/portpanel" "$build/cli/portpanel-io" "$build/tests/libs/recording/libinpout32.so" "$dir/"
cp -r "$build/tests/plugins" "$dir/"
chmod -R a+rX "$dir"
run() { # run RECORD: portpanel as nobody with the plugin offered; prints the status
    local status=0
    touch "$1" && chmod 666 "$1"
    timeout 20 setpriv --reuid=nobody --regid=nogroup --clear-groups -- env -i \
        QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$dir/plugins" QT_STYLE_OVERRIDE=recording \
        LD_LIBRARY_PATH="$dir" PORTPANEL_RECORD="$1" "$dir/portpanel" 2>"$1.err" || status=$?
    echo "$status"
}
fail() { echo "secure mode: $*" >&2; exit 1; }

[ "$(run "$dir/plain")" = 77 ] || fail "without a capability the plugin did not load"
grep -q 'style plugin loaded' "$dir/plain" || fail "the plugin left no record"

sanitized=$(ldd "$build/portpanel" | grep libasan || true)
# Each mark on the file, on a fresh copy: refused before the toolkit loads.
# HOW IT IS MARKED | COMMAND
while IFS='|' read -r mark command; do
    cp "$build/portpanel" "$dir/portpanel" && chown root:root "$dir/portpanel"
    $command "$dir/portpanel" || fail "$command failed on $dir"
    status=$(run "$dir/secure")
    # A setgid process cannot read its own /proc/self/environ or be stopped by
    # LeakSanitizer, whose failure at exit then replaces the status in a
    # sanitizer build; the refusal's words are still checked below.
    [ "$status" = 10 ] || { [ -n "$sanitized" ] && [ "$mark" = "a setgid bit" ] &&
        grep -q 'LeakSanitizer has encountered a fatal error' "$dir/secure.err"; } ||
        fail "with $mark it ended with $status, not 10: $(cat "$dir/secure.err")"
    [ ! -s "$dir/secure" ] || fail "with $mark the toolkit still loaded: $(cat "$dir/secure")"
    # The first line is what to run, short; why comes below it.
    first=$(head -n 1 "$dir/secure.err")
    [ "$first" = "portpanel: Error 10: run 'sudo setcap -r $dir/portpanel' or 'sudo chmod ug-s $dir/portpanel', then start portpanel again" ] &&
        [ ${#first} -le 200 ] || fail "with $mark the refusal's first line is: $first"
    grep -q "^  portpanel will not start with privilege: $dir/portpanel carries" \
        "$dir/secure.err" || fail "with $mark the refusal says: $(cat "$dir/secure.err")"
    grep -q "the ports the helper's policy opens" "$dir/secure.err" ||
        fail "with $mark the refusal misstates what the portpanel group opens"
    rm -f "$dir/secure" "$dir/secure.err"
    echo "secure mode: refused with $mark"
done <<'TABLE'
a capability|setcap cap_sys_rawio+ep
a setuid bit|chmod u+s
a setgid bit|chmod g+s
TABLE
echo "secure mode: the plugin loaded without a mark"

# portpanel-io makes the same check before it reads its arguments or loads the library.
setcap cap_sys_rawio+ep "$dir/portpanel-io" || fail "setcap failed on $dir/portpanel-io"
touch "$dir/io" && chmod 666 "$dir/io"
status=0
setpriv --reuid=nobody --regid=nogroup --clear-groups -- env -i LD_LIBRARY_PATH="$dir" \
    PORTPANEL_RECORD="$dir/io" "$dir/portpanel-io" read 0x378 2>"$dir/io.err" || status=$?
[ "$status" = 10 ] || fail "portpanel-io with a capability ended with $status: $(cat "$dir/io.err")"
[ ! -s "$dir/io" ] || fail "portpanel-io with a capability reached the library: $(cat "$dir/io")"
grep -q "^portpanel-io: Error 10: run 'sudo setcap -r $dir/portpanel-io' .*, then start portpanel-io again$" "$dir/io.err" ||
    fail "portpanel-io's refusal says: $(cat "$dir/io.err")"
echo "secure mode: portpanel-io refused with a capability too"
