#!/usr/bin/env bash
# cmake --install puts the program in bin and only the hardware library in the
# library folder. Usage: install_test.sh BUILD_DIR
set -euo pipefail
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$1" --prefix /usr/local >/dev/null
found=$(cd "$stage" && find . -type f | sort)
expected=$'./usr/local/bin/portpanel\n./usr/local/lib/libinpout32.so'
if [ "$found" != "$expected" ]; then
    printf 'installed:\n%s\nexpected:\n%s\n' "$found" "$expected" >&2
    exit 1
fi
nm -D "$stage/usr/local/lib/libinpout32.so" | grep -q ' U ioperm' ||
    { echo "the installed library is not the hardware one" >&2; exit 1; }
