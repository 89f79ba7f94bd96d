# Sourced by the test scripts: need COMMAND PACKAGE fails, naming the Debian
# package, when a tool the test calls is missing.

# setcap and getcap live in /usr/sbin, which an ordinary user's PATH may lack.
case ":$PATH:" in *:/usr/sbin:*) ;; *) PATH=$PATH:/usr/sbin:/sbin ;; esac
need() {
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "missing tool $1: install the Debian package $2 (./test does so when run as root)" >&2
    exit 1
}

# Prints the line ./test gathers at the end for a part that only root can run.
skipped_for_root() { echo "needs root, skipped: $*"; }
