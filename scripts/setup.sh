# Sourced by ./run, ./test and bench/run: installs missing Debian packages (as
# root at once; as a user with sudo and a terminal after asking; otherwise it
# prints the command for root and exits 1) and configures the build in build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# What the program needs to build; ./run needs no more.
build_packages=(cmake ninja-build g++ qt6-base-dev libgl-dev libxcb1-dev)
# Everything a test or benchmark builds or calls; 32-bit wine comes from the i386 architecture.
test_packages=(gcc libgtest-dev libbenchmark-dev git xvfb xauth xdotool weston qt6-wayland dbus at-spi2-core python3 python3-pyatspi
    qemu-system-x86
    busybox-static valgrind ccache clang clang-format clang-tidy cppcheck libclang-rt-dev dpkg-dev
    lintian desktop-file-utils appstream libcap2-bin adduser util-linux sudo g++-mingw-w64-x86-64-posix
    g++-mingw-w64-i686-posix googletest wine wine64 wine32:i386 fonts-wine
    sigrok-cli gtkwave)

needs_i386() { [[ " $* " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; }

# Installs what is missing, or prints the one command that root can run as is.
need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local install="apt-get install -y --no-install-recommends ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        local arch=""
        needs_i386 "${missing[@]}" && arch="dpkg --add-architecture i386 && "
        if [ -t 0 ] && command -v sudo >/dev/null; then
            echo "portpanel: missing Debian packages: ${missing[*]}" >&2
            read -r -p "Install them with sudo now? [Y/n] " answer
            if [[ ! $answer =~ ^[nN] ]] &&
                sudo sh -c "${arch}apt-get update -qq && DEBIAN_FRONTEND=noninteractive $install -qq"; then
                return 0
            fi
        fi
        echo "portpanel: missing Debian packages. As root, run:" >&2
        echo "  ${arch}apt-get update && $install" >&2
        exit 1
    fi
    echo "portpanel: installing ${missing[*]}" >&2
    needs_i386 "${missing[@]}" && dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $install -qq >&2
}

# Without a screen the window cannot open; say so before building.
need_display() {
    [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ] && return 0
    echo "portpanel: needs a graphical session (no DISPLAY or WAYLAND_DISPLAY); on a headless" \
        "machine install xvfb and xauth and run it under xvfb-run: xvfb-run -a ./run" >&2
    exit 9
}

# configure [CMAKE-OPTION...]: configures build/ with the options (./test turns
# the tests and benchmarks on); configure_and_build then builds all of it.
configure() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPORTPANEL_WERROR=ON "$@" \
        >/dev/null
}
configure_and_build() {
    configure "$@"
    cmake --build build
}
# What ./run opens, and no more: the window and the simulated port; plus any targets named.
build_window() { cmake --build build --target portpanel inpout_simulated "$@"; }

# stage NAME COMMAND...: runs one stage of a script and prints how long it took;
# stage_report lists them all at the end, so that a slow run says where it went.
stage_times=()
stage() {
    local name=$1 began=$SECONDS
    shift
    "$@"
    stage_times+=("$name: $((SECONDS - began)) s")
    echo "stage: $name: $((SECONDS - began)) s"
}
stage_report() { printf 'stage times: %s\n' "$(printf '%s; ' "${stage_times[@]}")"; }

# The one place that tells the releases apart: "Debian 12", "Debian 13".
release=$(. /etc/os-release && echo "${NAME%% *} ${VERSION_ID:-unstable}")
