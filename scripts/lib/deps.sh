# Sourced by run.sh, test.sh and fuzz.sh: installs the Debian packages that are
# missing, quietly when everything is already there.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >&2 || true
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libpam0g-dev qt6-base-dev qt6-qpa-plugins qt6-wayland libxcb1-dev fonts-crosextra-carlito libsnmp-dev libssl-dev libpcre2-dev)
# scripts/fuzz.sh: clang with its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev cmake ninja-build)
TEST_PACKAGES=(libgtest-dev libgmock-dev gdb bsdutils procps locales python3 rsyslog rsyslog-openssl openssl dnsmasq-base curl apache2-utils chromium xvfb openbox xdotool x11-utils x11-apps trayer weston dbus-daemon python3-dbus python3-gi fonts-dejavu-core snmpd snmp snmpsim python3-pymodbus python3-serial python3-serial-asyncio)

# Configures and builds into the given folder: build_tree DIR [cmake options]
# [-- targets]; every target when none are named.
build_tree() {
    local dir="$1"; shift
    local options=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "${options[@]}" >/dev/null
    cmake --build "$ROOT/$dir" -- -j"$(nproc)" "$@"
}

# A Release tree for a benchmark, its build output shown only when it fails:
# build_release_quietly DIR [targets]; every target when none are named.
build_release_quietly() {
    local dir="$1"; shift
    echo "Building into $dir/ (Release) ..." >&2
    local log
    log="$(mktemp)"
    if ! build_tree "$dir" -DCMAKE_BUILD_TYPE=Release -- "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
}
