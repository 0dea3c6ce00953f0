#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12. Run as root (or through sudo);
# packages already present are left alone.
set -euo pipefail

packages=(
    build-essential cmake ninja-build
    qt6-base-dev qt6-webengine-dev libgl-dev qt6-translations-l10n
    binutils-mingw-w64-x86-64 cpp g++-mingw-w64-x86-64-posix nsis
    xvfb xauth imagemagick xdotool libx11-dev
    dbus at-spi2-core python3-pyatspi
    nginx-light libsodium-dev libssl-dev libcurl4-openssl-dev pkg-config openssl libnss3-tools
    lintian file dbus-daemon dbus-bin at-spi2-core python3-pyatspi
    clang libclang-rt-dev clang-format git ccache
    # The Windows half (tools/run-windows-tests.sh): the dependencies built for Windows from
    # Debian's source packages, and the suites run under Wine.
    gcc-mingw-w64-x86-64-posix wine64 wine dpkg-dev qt6-base-dev-tools make perl autoconf automake
    libtool
)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
