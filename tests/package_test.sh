#!/usr/bin/env bash
# Builds the Debian package and checks it: files, control data, computed
# dependencies, the loader trigger, no privilege granted, a valid desktop
# entry and AppStream metainfo, lintian without errors, and the unpacked
# program running. As root, also the package installed for real with apt,
# reinstalled, removed and purged, in a throwaway root: an overlay on this
# machine's own root, whose writes all go to a tmpfs dropped afterwards.
# Usage: package_test.sh SOURCE_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
need cpack cmake
need dpkg-deb dpkg
need lintian lintian
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
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
usr/bin/portpanel-io
usr/bin/portpanel-pins
usr/bin/portpanel-run
usr/lib/x86_64-linux-gnu/libinpout32.so
usr/libexec/portpanel/portpanel-helper
usr/share/applications/portpanel-pins.desktop
usr/share/applications/portpanel.desktop
usr/share/bash-completion/completions/portpanel-io
usr/share/bash-completion/completions/portpanel-run
usr/share/doc/portpanel/changelog.gz
usr/share/doc/portpanel/copyright
usr/share/icons/hicolor/scalable/apps/portpanel.svg
usr/share/man/man1/portpanel-io.1.gz
usr/share/man/man1/portpanel-pins.1.gz
usr/share/man/man1/portpanel-run.1.gz
usr/share/man/man1/portpanel.1.gz
usr/share/metainfo/org.example.portpanel.metainfo.xml"
[ "$files" = "$expected" ] || fail "holds:"$'\n'"$files"
policy=/etc/portpanel/ports
[ -f "$root$policy" ] && [ "$(cat "$root/DEBIAN/conffiles")" = "$policy" ] ||
    fail "the helper's policy is not its one conffile"
[ "$(dpkg-deb -f "$deb" Version)" = 1.00 ] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6; do
    grep -q "$needed" <<<"$depends" || fail "does not depend on $needed: $depends"
done
grep -qx 'activate-noawait ldconfig' "$root/DEBIAN/triggers" || fail "no ldconfig trigger"
# Privilege is granted at install, to the helper and portpanel-run alone, for the portpanel group.
helper=/usr/libexec/portpanel/portpanel-helper
grants=$(grep -hE 'setcap|chmod|statoverride --update' "$root"/DEBIAN/postinst)
grep -qx "    for program in $helper /usr/bin/portpanel-run; do" "$root"/DEBIAN/postinst &&
    [ "$(grep -c '\$program' <<<"$grants")" -eq "$(wc -l <<<"$grants")" ] ||
    fail "grants privilege to more than the helper and portpanel-run: $grants"
grep -q 'addgroup --system portpanel' "$root/DEBIAN/postinst" || fail "makes no portpanel group"
grep -q 'root portpanel 0750' "$root/DEBIAN/postinst" || fail "helper not 0750 root:portpanel"
[ -z "$(getcap -r "$root" 2>/dev/null)" ] || fail "carries a capability in its files"
[ -z "$(find "$root/usr" -perm /6000)" ] || fail "carries a setuid or setgid file"
for program in "$helper" /usr/bin/portpanel-run; do
    ldd "$root$program" | grep -vqE 'linux-vdso|libc\.so|ld-linux' && fail "$program links more than libc"
done
nm -D "$root/usr/lib/x86_64-linux-gnu/libinpout32.so" | grep ' U ioperm' >/dev/null ||
    fail "the library is not the hardware one"
for file in /usr/lib/x86_64-linux-gnu/libinpout32.so "$helper" "$policy"; do
    zcat "$root/usr/share/man/man1/portpanel.1.gz" | grep -q "^\.I $file" ||
        fail "its manual page does not name $file"
done
desktop-file-validate "$root/usr/share/applications/portpanel.desktop" \
    "$root/usr/share/applications/portpanel-pins.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.portpanel.metainfo.xml" >&2 ||
    fail "the AppStream metainfo does not validate"
[ "$(dpkg-deb -f "$deb" Recommends)" = qt6-wayland ] || fail "does not recommend qt6-wayland"
lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
# The unpacked program runs; --version touches no port, whoever runs the test.
version=$(LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" "$root/usr/bin/portpanel" --version) ||
    fail "the unpacked portpanel --version failed"
[ "$version" = "portpanel 1.00" ] || fail "the unpacked portpanel says '$version'"
[ "$("$root/usr/bin/portpanel-io" --version)" = "portpanel-io 1.00" ] ||
    fail "the unpacked portpanel-io --version failed"
[ "$(LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" "$root/usr/bin/portpanel-pins" --version)" = \
    "portpanel-pins 1.00" ] || fail "the unpacked portpanel-pins --version failed"
echo "package: $(basename "$deb") checked"

if [ "$(id -u)" -ne 0 ]; then
    skipped_for_root "the package installed, reinstalled, removed and purged with apt (package test)"
    exit 0
fi
need apt-get apt
source tests/throwaway_root.sh
remove_unpacked() { rm -rf "$root"; }
after_throwaway=remove_unpacked
throwaway_root apt
cp "$deb" "$throwaway/root/tmp/"
apt_in_root() {
    in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@" >/dev/null 2>&1 ||
        fail "apt-get $* failed: $(in_root apt-get -y "$@" 2>&1 | tail -n 3)"
}
granted() { # the group, the helper's and portpanel-run's grants, nothing else privileged, the loader's view
    in_root getent group portpanel >/dev/null || fail "$1: no portpanel group"
    local program others
    for program in "$helper" /usr/bin/portpanel-run; do
        [ "$(in_root stat -c '%U:%G %a' "$program")" = "root:portpanel 750" ] ||
            fail "$1: $program is $(in_root stat -c '%U:%G %a' "$program")"
        in_root getcap "$program" | grep 'cap_sys_rawio[=+]ep' >/dev/null || fail "$1: $program has no capability"
    done
    others=$(in_root dpkg -L portpanel | grep -vx "$helper\|/usr/bin/portpanel-run" | while read -r f; do
        [ -f "$throwaway/root$f" ] || continue
        in_root find "$f" -perm /6000
        in_root getcap "$f"
    done)
    [ -z "$others" ] || fail "$1: other files with privilege: $others"
    in_root ldconfig -p | grep 'libinpout32.so .*/lib/x86_64-linux-gnu/libinpout32.so' >/dev/null ||
        fail "$1: the loader does not find the library"
    [ "$(in_root portpanel --version)" = "portpanel 1.00" ] || fail "$1: portpanel --version failed"
    [ "$(in_root portpanel-io --version)" = "portpanel-io 1.00" ] ||
        fail "$1: portpanel-io --version failed"
}
apt_in_root install "/tmp/$(basename "$deb")"
granted "installed with apt"
ours=$(in_root dpkg -L portpanel | grep -v '^/\.$')
echo 0xDC00-0xDC07 >>"$throwaway/root$policy"
apt_in_root install --reinstall "/tmp/$(basename "$deb")"
granted "reinstalled"
grep -qx 0xDC00-0xDC07 "$throwaway/root$policy" || fail "reinstalled: the changed policy was replaced"
apt_in_root remove portpanel
[ -z "$(in_root dpkg-statoverride --list "$helper"; in_root dpkg-statoverride --list /usr/bin/portpanel-run)" ] ||
    fail "removed: a statoverride is left"
[ "$(in_root ldconfig -p | grep -c libinpout32)" = 0 ] || fail "removed: the loader still lists the library"
apt_in_root purge portpanel
! in_root getent group portpanel >/dev/null || fail "purged: the portpanel group is left"
[ ! -e "$throwaway/root$policy" ] || fail "purged: the policy file is left"
left=$(while read -r f; do [ ! -f "$throwaway/root$f" ] || echo "$f"; done <<<"$ours")
[ -z "$left" ] || fail "purged: files left: $left"
# Where setcap cannot grant the capability, the helper is setuid root instead.
in_root mv /usr/sbin/setcap /usr/sbin/setcap.away
apt_in_root install "/tmp/$(basename "$deb")"
[ "$(in_root stat -c '%U:%G %a' "$helper")" = "root:portpanel 4750" ] ||
    fail "without setcap: the helper is $(in_root stat -c '%U:%G %a' "$helper")"
apt_in_root purge portpanel
in_root mv /usr/sbin/setcap.away /usr/sbin/setcap
echo "package: installed, reinstalled, removed and purged with apt in a throwaway root;" \
    "setuid where no capability can be set"
