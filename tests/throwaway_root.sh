# Sourced by the tests that change a system as root: an overlay on this
# machine's own root whose writes all go to a tmpfs dropped afterwards.
# throwaway_root NAME makes it at $throwaway/root; in_root COMMAND... runs
# there with a clean environment. On exit every process still inside is
# ended and everything is unmounted.
throwaway_root() {
    throwaway=$(mktemp -d "/tmp/portpanel-$1.XXXXXX")
    mounts=()
    trap unmount_all EXIT
    mount_at "$throwaway" -t tmpfs tmpfs
    mkdir -p "$throwaway"/{upper,work,root}
    mount_at "$throwaway/root" -t overlay overlay \
        -o "lowerdir=/,upperdir=$throwaway/upper,workdir=$throwaway/work"
    mount_at "$throwaway/root/proc" -t proc proc
    mount_at "$throwaway/root/dev" --bind /dev
    mount_at "$throwaway/root/dev/pts" --bind /dev/pts
    mount_at "$throwaway/root/tmp" -t tmpfs tmpfs
    # An X display's socket is also an abstract one, which a root does not
    # separate: the displays taken outside stay taken inside (xvfb-run -a).
    cp -a /tmp/.X*-lock "$throwaway/root/tmp/" 2>/dev/null || true
    mount_at "$throwaway/root/run" -t tmpfs tmpfs
}
mount_at() { mount "${@:2}" "$1" && mounts+=("$1"); }
unmount_all() {
    local proc
    for proc in /proc/[0-9]*; do # what the test started inside, by its root
        [ "$(readlink "$proc/root" 2>/dev/null)" != "$throwaway/root" ] || kill -9 "${proc#/proc/}" 2>/dev/null || true
    done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}" || umount -l "${mounts[i]}"; done
    rmdir "$throwaway"
    [ -z "${after_throwaway:-}" ] || $after_throwaway
}
in_root() { chroot "$throwaway/root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
