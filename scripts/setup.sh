# Sourced by ./run and ./test: installs missing Debian packages (as root) and
# configures the build in build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_packages=(cmake ninja-build g++ gcc qt6-base-dev libgl-dev libgtest-dev libbenchmark-dev
    libxcb1-dev)

# Installs what is missing, or says how when not root.
need_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "portpanel: missing packages; run: sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "portpanel: installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

configure_and_build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPORTPANEL_WERROR=ON >/dev/null
    cmake --build build
}
