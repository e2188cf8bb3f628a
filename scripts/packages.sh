# Debian 12 packages, sourced by scripts/run and scripts/test.
# Installs what is missing when run as root; otherwise prints the apt-get line and fails.
PARLO_BUILD_PACKAGES="build-essential cmake ninja-build ccache pkg-config zlib1g-dev libglib2.0-dev
  libasio-dev libsqlite3-dev libsodium-dev portaudio19-dev libasound2-dev libsndfile1-dev libspeexdsp-dev
  libv4l-dev libudev-dev libpng-dev nlohmann-json3-dev qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libxss-dev fonts-noto-cjk qt6-translations-l10n"
PARLO_TEST_PACKAGES="clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  libturbojpeg0-dev libdeflate-dev tinyproxy dante-server microsocks procps xvfb unrtf"

parlo_install_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Run as root, or install them first with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    # The proxy packages start system services of their own; the tests start their own instances.
    for svc in tinyproxy danted; do
        if command -v systemctl >/dev/null 2>&1; then systemctl stop "$svc" >/dev/null 2>&1 || true; fi
        if [ -x "/etc/init.d/$svc" ]; then "/etc/init.d/$svc" stop >/dev/null 2>&1 || true; fi
    done
    return 0
}
