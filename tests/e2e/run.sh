#!/usr/bin/env bash
# Starts a private X server and accessibility bus, then runs the end-to-end
# script against the real build/portpanel. Usage: run.sh BUILD_DIR
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
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    dbus-run-session -- /usr/bin/python3 "$here/e2e.py" "$1"
