# Sourced by ./run, ./test and bench/run: installs the Debian packages that
# are missing, then configures and builds incrementally in build/.
# Usage: prepare [extra packages...]

set -euo pipefail

BLINKWERK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BLINKWERK_BUILD=${BLINKWERK_BUILD:-$BLINKWERK_ROOT/build}

# Packages every build needs: toolchain, Qt Widgets and SerialPort, GoogleTest, clang with
# its libFuzzer and sanitizer runtimes (libclang-rt-dev: those of the
# release's own clang, 14 on Debian 12, 19 on Debian 13), and the font the
# windows are laid out with; hidapi for USB HID relay boards, libftdi1 for
# FTDI bit-bang relay boards (both found through pkg-config). The sACN and
# Art-Net tests talk to olad (ola, driven through ola-python) inside network
# namespaces they make with iproute2. The player's page uses Qt WebSockets;
# its browser test drives Debian's chromium (see prepare_browser_test).
BLINKWERK_PACKAGES=(cmake ninja-build g++ clang libclang-rt-dev qt6-base-dev qt6-serialport-dev libgtest-dev fonts-liberation
                    pkg-config libhidapi-dev libftdi1-dev ola ola-python iproute2 qt6-websockets-dev chromium)

# Where the browser test's npm packages live: outside the source tree,
# read by the test (playerpage/tests/browser/page_test.mjs) from the same
# variable or the same default.
export BLINKWERK_NODE_DEPS=${BLINKWERK_NODE_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/blinkwerk/browser-test}

# What the tests in the kernel VM (tools/kernel-vm) load: modules of
# Debian's kernel package, or ones it leaves out, built for that kernel by
# tools/NAME-module. A new test in the kernel VM adds the modules it loads.
BLINKWERK_KERNEL_VM_MODULES=(uhid hid-generic gpio-sim parport parport_pc ppdev dummy_hcd libcomposite usb_f_fs ftdi_sio)

# Runs a command as root: directly, through sudo -n, or through sudo when a
# terminal can answer its question; else names the command and fails.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        sudo -n "$@"
    elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
        sudo "$@"
    else
        echo "Needs root:  $*" >&2
        exit 1
    fi
}

# Prints those of the packages named that are not installed (dpkg-query
# only: no lock is taken). A name without an architecture means the
# machine's own (or all): another architecture's package of that name, which
# may have replaced the machine's own, does not count.
missing_packages() {
    local pkg status native
    native=$(dpkg --print-architecture)
    for pkg in "$@"; do
        status=$(dpkg-query -W -f='${Status} ${Architecture}\n' "$pkg" 2>/dev/null || true)
        if [[ $pkg == *:* ]]; then
            grep -q '^install ok installed ' <<<"$status" || printf '%s ' "$pkg"
        else
            grep -Eq "^install ok installed ($native|all)\$" <<<"$status" || printf '%s ' "$pkg"
        fi
    done
}

# Installs the packages named that are missing; calls apt only then. Waits
# up to ten minutes for another apt or dpkg to let go of the lock.
install_missing() {
    local missing
    read -r -a missing <<<"$(missing_packages "$@")"
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ] && ! { command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || [ -t 0 ]; }; }; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them as root:  apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    if ! as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq ||
       ! as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
             --no-install-recommends "${missing[@]}" >/dev/null; then
        echo "Could not install ${missing[*]}: that needs a Debian mirror (the network) and the package lock." >&2
        exit 1
    fi
}

# Succeeds when apt knows a package to install for PACKAGE; a fresh machine
# or container starts without package lists, so they are fetched once when
# apt knows none for it.
apt_knows() {
    apt_candidate "$1" && return 0
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
    apt_candidate "$1"
}
# Read whole: grep -q would end the pipe early, which pipefail counts as failure.
apt_candidate() {
    local policy
    policy=$(apt-cache policy "$1" 2>/dev/null || true)
    grep -q 'Candidate: [^(]' <<<"$policy"
}

# Fetches the .deb of PACKAGE into the current directory; lists that the
# mirror has moved on from are fetched anew once and the download tried again.
apt_download() {
    apt-get download "$1" >/dev/null 2>&1 && return 0
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
    apt-get download "$1" >/dev/null 2>&1
}

# node and npm from Debian where the machine has none (a node from
# elsewhere that brings its own npm is used as it is); then the browser
# test's DevTools client, exactly as package-lock.json pins it, installed
# again only when the lock file changed. Its packages run no install
# scripts and fetch no browser: the test uses Debian's chromium.
prepare_browser_test() {
    local source=$BLINKWERK_ROOT/playerpage/tests/browser
    command -v node >/dev/null 2>&1 || install_missing nodejs
    command -v npm >/dev/null 2>&1 || install_missing npm
    if cmp -s "$source/package-lock.json" "$BLINKWERK_NODE_DEPS/package-lock.json" \
        && [ -d "$BLINKWERK_NODE_DEPS/node_modules/playwright-core" ]; then
        return 0
    fi
    echo "Installing the browser test's npm packages into $BLINKWERK_NODE_DEPS"
    rm -rf "$BLINKWERK_NODE_DEPS"
    mkdir -p "$BLINKWERK_NODE_DEPS"
    cp "$source/package.json" "$source/package-lock.json" "$BLINKWERK_NODE_DEPS/"
    (cd "$BLINKWERK_NODE_DEPS" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
}

prepare() {
    install_missing "${BLINKWERK_PACKAGES[@]}" "$@"
    prepare_browser_test
    if [ ! -f "$BLINKWERK_BUILD/build.ninja" ]; then
        # ccache, when the machine has it, only speeds up rebuilds.
        local launcher=()
        command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        cmake -S "$BLINKWERK_ROOT" -B "$BLINKWERK_BUILD" -G Ninja "${launcher[@]}" \
            -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$BLINKWERK_BUILD"
}

# The arm64 cross-build (cmake/aarch64-linux-gnu.cmake): Debian's multiarch
# gcc for arm64 and the target's libraries installed beside the host's, with
# arm64 added to dpkg's architectures when missing; then the arm64 packages
# named (libgtest-dev:arm64 for the tests).
prepare_arm64() {
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        echo "Adding the architecture arm64 to dpkg"
        as_root dpkg --add-architecture arm64
    fi
    install_missing g++-aarch64-linux-gnu qt6-base-dev-tools qt6-base-dev:arm64 qt6-serialport-dev:arm64 \
                    qt6-websockets-dev:arm64 libhidapi-dev:arm64 libftdi1-2:arm64 libusb-1.0-0-dev:arm64 "$@"
    prepare_arm64_libftdi1
}

# libftdi1-dev is not co-installable: its arm64 package would remove the
# host's, and the host's build would then leave FTDI boards out. Its arm64
# files are unpacked into the cache instead, with a libftdi1.pc of their own
# and the library from libftdi1-2:arm64; cmake/aarch64-linux-gnu.cmake reads
# BLINKWERK_ARM64_PKG_CONFIG_PATH. Unpacked again when libftdi1-2 changes.
prepare_arm64_libftdi1() {
    local dir=${XDG_CACHE_HOME:-$HOME/.cache}/blinkwerk/arm64-libftdi1 version download
    version=$(dpkg-query -W -f='${Version}' libftdi1-2:arm64)
    if [ "$(cat "$dir/version" 2>/dev/null)" != "$version" ]; then
        echo "Unpacking libftdi1-dev:arm64 $version into $dir"
        download=$(mktemp -d)
        (cd "$download" && apt_download "libftdi1-dev:arm64=$version") ||
            { rm -rf "$download"; echo "Could not fetch libftdi1-dev:arm64 $version (the network is needed once)." >&2; exit 1; }
        rm -rf "$dir"
        mkdir -p "$dir"
        dpkg-deb -x "$download"/libftdi1-dev_*_arm64.deb "$dir/root"
        rm -rf "$download"
        mkdir -p "$dir/pkgconfig"
        sed -e "s|^libdir=.*|libdir=$dir/root/usr/lib/aarch64-linux-gnu|" \
            -e "s|^includedir=/usr|includedir=$dir/root/usr|" \
            "$dir/root/usr/lib/aarch64-linux-gnu/pkgconfig/libftdi1.pc" >"$dir/pkgconfig/libftdi1.pc"
        ln -sfn /usr/lib/aarch64-linux-gnu/libftdi1.so.2 "$dir/root/usr/lib/aarch64-linux-gnu/libftdi1.so"
        echo "$version" >"$dir/version"
    fi
    export BLINKWERK_ARM64_PKG_CONFIG_PATH=$dir/pkgconfig
}

# Readies tools/kernel-vm's cache for the tests in the kernel VM: the
# packages it needs, Debian's kernel and the modules above. Needs root and
# the network the first time only. When that cannot be done it says so and
# goes on: those tests then fail at once, naming what is missing.
prepare_kernel_vm() {
    "$BLINKWERK_ROOT/tools/kernel-vm" --prepare --modules "${BLINKWERK_KERNEL_VM_MODULES[*]}" && return 0
    echo "The kernel VM could not be prepared (see above: root and the network are needed the first time);" \
         "its tests will fail." >&2
}
