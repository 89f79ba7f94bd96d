#!/usr/bin/env bash
# Starts a private X server and accessibility bus, then runs the end-to-end
# script against the real build/portpanel. With --wayland, a headless Wayland
# compositor (weston) instead, and no X server at all.
# Usage: run.sh BUILD_DIR [--wayland]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../need.sh"
need xvfb-run xvfb
need xauth xauth
need xdotool xdotool
need dbus-run-session dbus
need /usr/libexec/at-spi-bus-launcher at-spi2-core
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    { echo "missing Python module pyatspi: install the Debian package python3-pyatspi" >&2; exit 1; }
if [ "${2:-}" != --wayland ]; then
    exec "$here/../../scripts/xvfb" \
        dbus-run-session -- /usr/bin/python3 "$here/e2e.py" "$1"
fi
need weston weston
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
    { echo "missing Qt's Wayland platform: install the Debian package qt6-wayland" >&2; exit 1; }
runtime=$(mktemp -d) # weston's XDG_RUNTIME_DIR, private as it must be
trap 'rm -rf "$runtime"' EXIT
# The same options on weston 10 (Debian 12) and 14 (Debian 13, where
# --use-pixman is an alias of --renderer=pixman).
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=portpanel-test dbus-run-session -- \
    bash -c 'weston --backend=headless-backend.so --use-pixman --socket=portpanel-test \
                 --idle-time=0 >"$XDG_RUNTIME_DIR/weston.log" 2>&1 &
             for _ in $(seq 300); do [ -S "$XDG_RUNTIME_DIR/portpanel-test" ] && break; sleep 0.1; done
             status=0
             /usr/bin/python3 "$0" "$1" Wayland || status=$?
             kill %1
             [ "$status" -eq 0 ] || cat "$XDG_RUNTIME_DIR/weston.log" >&2
             exit "$status"' "$here/e2e.py" "$1"
