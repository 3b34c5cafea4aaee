# Sourced by ./run, ./test and bench/run: installs the Debian packages that
# are missing, then configures and builds incrementally in build/.
# Usage: prepare [extra packages...]

set -euo pipefail

BLINKWERK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BLINKWERK_BUILD=${BLINKWERK_BUILD:-$BLINKWERK_ROOT/build}

# Packages every build needs: toolchain, Qt Widgets and SerialPort, GoogleTest, clang with
# its libFuzzer and sanitizer runtimes, and the font the windows are laid
# out with; hidapi for USB HID relay boards. The sACN and Art-Net tests talk
# to olad (ola, driven through ola-python) inside network namespaces they
# make with iproute2.
BLINKWERK_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev qt6-serialport-dev libgtest-dev fonts-liberation
                    pkg-config libhidapi-dev ola ola-python iproute2)

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
            sudo=(sudo -n)
        elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
            sudo=(sudo)
        else
            echo "Missing Debian packages: ${missing[*]}" >&2
            echo "Install them as root:  apt-get install ${missing[*]}" >&2
            exit 1
        fi
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

prepare() {
    install_missing "${BLINKWERK_PACKAGES[@]}" "$@"
    if [ ! -f "$BLINKWERK_BUILD/build.ninja" ]; then
        # ccache, when the machine has it, only speeds up rebuilds.
        local launcher=()
        command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        cmake -S "$BLINKWERK_ROOT" -B "$BLINKWERK_BUILD" -G Ninja "${launcher[@]}" \
            -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$BLINKWERK_BUILD"
}
