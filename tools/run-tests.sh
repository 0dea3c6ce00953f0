#!/usr/bin/env bash
# Sets everything up, builds the launcher and runs the whole test suite.
# The test build names hosts under ".test", which never resolve: the tests route every request
# through a community server of their own on 127.0.0.1.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$top/build"
options=(
    -DVESTRAHAL_WEB_DOMAIN=vestrahal.test
    -DVESTRAHAL_LOGON_HOST=logon.vestrahal.test
    -DVESTRAHAL_OFFICIAL_LOGON_HOST=logon.officiel.test
    -DVESTRAHAL_PARTNER_LOGON_HOST=logon.brontavale.test
    -DVESTRAHAL_REALM_STATUS=ON
    -DVESTRAHAL_WERROR=ON
)

bash "$top/tools/setup.sh"
bash "$top/tools/check-format.sh"
# The builds below share most of their objects: ccache compiles each once. Paths are taken
# relative to the clone, and the build folder is left out of the key, so that a unit built in
# build/ serves build-secure/ unless a build option it reads differs.
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Suites spend most of their time waiting on their servers, games and windows, each in folders,
# ports and desktops of its own: two run at once (more on a larger machine).
jobs="$(nproc)"
[ "$jobs" -ge 2 ] || jobs=2
[ "$jobs" -le 4 ] || jobs=4
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
cmake --build "$build"
# Each suite runs once: a failure fails the command, and a build without tests is a failure too.
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs"
# The same code again under the sanitizers, and the fuzz targets' short runs.
bash "$top/tools/run-sanitized-tests.sh"

# The same suites again in a build with the options a community turns on for safety: HTTPS, and
# signed updates with the tests' own key (tests/keys). Its tests trust the tests' authority
# (tests/tls) in their own processes only.
secure="$top/build-secure"
cmake -S "$top" -B "$secure" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" \
    -DVESTRAHAL_WEB_SCHEME=https \
    -DVESTRAHAL_UPDATE_PUBLIC_KEY="$(cat "$top/tests/keys/update.pub")"
cmake --build "$secure"
ctest --test-dir "$secure" --output-on-failure --no-tests=error -j "$jobs"

# What a community admin ships: the installed launcher, the TGZ and the DEB.
bash "$top/tools/package-test.sh" "$build"

# The Windows half: the core library, the watcher, the release tool and the suites without
# widgets, built for Windows by MinGW-w64 and run under Wine. The first run on a machine builds
# Qt's base, libsodium, OpenSSL and libcurl for Windows into a cache outside the clone (it says
# where, and how long each took); later runs find them there.
bash "$top/tools/run-windows-tests.sh" "$top/build-windows-wine"
# The rest of the Windows side (the window, its suites, the tools for Linux only), compiled for
# Windows against the main build's generated headers, and the installer script through makensis.
bash "$top/tools/check-windows.sh" "$build" "$top/build-windows-wine"
