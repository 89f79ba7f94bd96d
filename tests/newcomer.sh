#!/usr/bin/env bash
# The README's "Trying it", as a newcomer does it, in a throwaway root (an
# overlay on this machine's own): an ordinary user in the sudo group, at a
# terminal, runs 'sudo apt-get install git', clones the project and starts
# ./run under xvfb-run. One of ./run's packages (ninja-build) is taken away
# first, so ./run asks to install it: the user answers y, and sudo asks for
# the user's password. The window must open on the simulated port and ./run
# end with status 0 when it closes. Needs root (a user, sudo, the overlay).
# Usage: newcomer.sh SOURCE_DIR
set -euo pipefail
source "$(dirname "$0")/need.sh"
if [ "$(id -u)" -ne 0 ]; then
    skipped_for_root "the README's first steps as an ordinary user with sudo (newcomer test)"
    exit 0
fi
need sudo sudo
need git git
need xvfb-run xvfb
need chroot coreutils
source "$1/tests/throwaway_root.sh"
started=$SECONDS
throwaway_root newcomer
user=newcomer password=not-a-secret-$RANDOM
in_root useradd --create-home --shell /bin/bash --groups sudo "$user"
echo "$user:$password" | in_root chpasswd
# Where the newcomer found this README: the commit under test.
git clone --quiet --bare "$1" "$throwaway/root/home/$user/portpanel.git"
in_root chown -R "$user:" "/home/$user/portpanel.git"
in_root dpkg -r ninja-build >/dev/null
steps='set -e
sudo apt-get install git
git clone ~/portpanel.git portpanel && cd portpanel
scripts/xvfb /usr/bin/python3 tests/run_test.py "$PWD" 900'
/usr/bin/python3 "$1/tests/terminal.py" 1200 "Install them with sudo now? [Y/n]=y" \
    "[sudo] password for $user:=$password" -- \
    chroot "$throwaway/root" /usr/sbin/runuser --pty -l "$user" -c "$steps" | sed 's/^/newcomer| /'
in_root dpkg-query -W -f='${Status}' ninja-build | grep -q 'ok installed' ||
    { echo "newcomer: ./run did not install ninja-build" >&2; exit 1; }
echo "newcomer: the README's steps as $user, asked and answered at a terminal, opened the" \
    "window in $((SECONDS - started)) s"
