#!/usr/bin/env bash
# cmake --install puts the program in bin, only the hardware library in the
# library folder, the helper in libexec (with no privilege yet), and the desktop entry, icon,
# manual and documents in share; the manual names the paths under that prefix.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$1" --prefix /usr/local >/dev/null
found=$(cd "$stage" && find . -type f | sort)
expected="./usr/local/bin/portpanel
./usr/local/bin/portpanel-io
./usr/local/bin/portpanel-pins
./usr/local/bin/portpanel-run
./usr/local/etc/portpanel/ports
./usr/local/lib/libinpout32.so
./usr/local/libexec/portpanel/portpanel-helper
./usr/local/share/applications/portpanel-pins.desktop
./usr/local/share/applications/portpanel.desktop
./usr/local/share/bash-completion/completions/portpanel-io
./usr/local/share/bash-completion/completions/portpanel-run
./usr/local/share/doc/portpanel/changelog.gz
./usr/local/share/doc/portpanel/copyright
./usr/local/share/icons/hicolor/scalable/apps/portpanel.svg
./usr/local/share/man/man1/portpanel-io.1.gz
./usr/local/share/man/man1/portpanel-pins.1.gz
./usr/local/share/man/man1/portpanel-run.1.gz
./usr/local/share/man/man1/portpanel.1.gz
./usr/local/share/metainfo/org.example.portpanel.metainfo.xml"
if [ "$found" != "$expected" ]; then
    printf 'installed:\n%s\nexpected:\n%s\n' "$found" "$expected" >&2
    exit 1
fi
[ -z "$(find "$stage" -perm /6000)" ] || { echo "a setuid or setgid file was installed" >&2; exit 1; }
nm -D "$stage/usr/local/lib/libinpout32.so" | grep ' U ioperm' >/dev/null ||
    { echo "the installed library is not the hardware one" >&2; exit 1; }
# The manual page names the library, helper and policy where they were put.
for file in /usr/local/lib/libinpout32.so /usr/local/libexec/portpanel/portpanel-helper \
    /usr/local/etc/portpanel/ports; do
    zcat "$stage/usr/local/share/man/man1/portpanel.1.gz" | grep -q "^\.I $file" ||
        { echo "the manual page does not name $file" >&2; exit 1; }
done
# Each manual: in the form man and lexgrog read without a warning, with the
# sections people look for, and a SEE ALSO that names every other program.
source "$(dirname "$0")/need.sh"
need lexgrog man-db
programs="portpanel portpanel-io portpanel-pins portpanel-run"
for program in $programs; do
    page=$stage/usr/local/share/man/man1/$program.1.gz
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "man --warnings on $program(1): $warnings" >&2; exit 1; }
    lexgrog "$page" >/dev/null || { echo "lexgrog cannot read $program(1)'s NAME" >&2; exit 1; }
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES \
        "SEE ALSO"; do
        zcat "$page" | grep -qx "\.SH \"\?$section\"\?" ||
            { echo "$program(1) has no $section" >&2; exit 1; }
    done
    see_also=$(zcat "$page" | sed -n '/^\.SH "\?SEE ALSO/,$p')
    for other in $programs; do
        [ "$other" = "$program" ] || grep -q "^\.BR $other (1)" <<<"$see_also" ||
            { echo "$program(1)'s SEE ALSO does not name $other(1)" >&2; exit 1; }
    done
done
echo "install: the files in place; the four manuals clean, whole and linked to each other"
