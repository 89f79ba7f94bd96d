#!/usr/bin/env bash
# Starts a private X server and accessibility bus, then runs the end-to-end
# script against the real build/portpanel. Usage: run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    dbus-run-session -- /usr/bin/python3 "$here/e2e.py" "$1"
