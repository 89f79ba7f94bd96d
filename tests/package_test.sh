#!/usr/bin/env bash
# Builds the Debian package and checks it: files, control data, computed
# dependencies, the loader trigger, no privilege granted, a valid desktop
# entry, lintian without errors, and the unpacked program running.
# Usage: package_test.sh SOURCE_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
need cpack cmake
need dpkg-deb dpkg
need lintian lintian
need desktop-file-validate desktop-file-utils
need getcap libcap2-bin
need nm binutils
cd "$1"
deb=$(scripts/package)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"
fail() { echo "package: $*" >&2; exit 1; }

[ "$(basename "$deb")" = portpanel_1.00_amd64.deb ] || fail "named $(basename "$deb")"
files=$(cd "$root" && find usr -type f | sort)
expected="usr/bin/portpanel
usr/lib/x86_64-linux-gnu/libinpout32.so
usr/libexec/portpanel/portpanel-helper
usr/share/applications/portpanel.desktop
usr/share/doc/portpanel/changelog.gz
usr/share/doc/portpanel/copyright
usr/share/icons/hicolor/scalable/apps/portpanel.svg
usr/share/man/man1/portpanel.1.gz"
[ "$files" = "$expected" ] || fail "holds:"$'\n'"$files"
[ "$(dpkg-deb -f "$deb" Version)" = 1.00 ] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6; do
    grep -q "$needed" <<<"$depends" || fail "does not depend on $needed: $depends"
done
grep -qx 'activate-noawait ldconfig' "$root/DEBIAN/triggers" || fail "no ldconfig trigger"
# Privilege is granted at install, to the helper alone, for the portpanel group.
helper=/usr/libexec/portpanel/portpanel-helper
grants=$(grep -hE 'setcap|chmod|statoverride --update' "$root"/DEBIAN/postinst)
[ "$(grep -c "$helper\|\$helper" <<<"$grants")" -eq "$(wc -l <<<"$grants")" ] ||
    fail "grants privilege to more than the helper: $grants"
grep -q 'addgroup --system portpanel' "$root/DEBIAN/postinst" || fail "makes no portpanel group"
grep -q 'root portpanel 0750' "$root/DEBIAN/postinst" || fail "helper not 0750 root:portpanel"
[ -z "$(getcap -r "$root" 2>/dev/null)" ] || fail "carries a capability in its files"
[ -z "$(find "$root/usr" -perm /6000)" ] || fail "carries a setuid or setgid file"
ldd "$root$helper" | grep -vqE 'linux-vdso|libc\.so|ld-linux' && fail "the helper links more than libc"
nm -D "$root/usr/lib/x86_64-linux-gnu/libinpout32.so" | grep -q ' U ioperm' ||
    fail "the library is not the hardware one"
desktop-file-validate "$root/usr/share/applications/portpanel.desktop"
lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
# The unpacked program runs; --version touches no port, whoever runs the test.
version=$(LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" "$root/usr/bin/portpanel" --version) ||
    fail "the unpacked portpanel --version failed"
[ "$version" = "portpanel 1.00" ] || fail "the unpacked portpanel says '$version'"
echo "package: $(basename "$deb") checked"
