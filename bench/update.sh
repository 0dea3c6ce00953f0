#!/usr/bin/env bash
# The self-update against curl: a new launcher of BENCH_MIB MiB is offered by one local
# community server; the real launcher, started from a player's folder whose version is older,
# replaces itself with it, and curl -o fetches the same file from the same server, in turn,
# BENCH_RUNS times each (default 3). bench/update/update_probe.cpp says what is measured.
# Targets, reported only: the launcher within 1.3 times curl's time, and its peak memory during
# the download no more than its idle memory plus 16 MiB, whatever the size.
#   BENCH_MIB   sizes of the new launcher in MiB, one run of the probe each (default "50 200")
#   BENCH_RUNS  runs of each (default 3)
#   DEMO_PORT   the server's port, built into the launcher as in tools/demo.sh (default 47680)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sizes="${BENCH_MIB:-50 200}"
runs="${BENCH_RUNS:-3}"
port="${DEMO_PORT:-47680}"

bash "$top/tools/setup.sh"
command -v curl >/dev/null || {
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends curl
}

# The launcher as tools/demo.sh builds it, and the driver beside it, with the same build type.
cmake -S "$top" -B "$top/build-demo" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DVESTRAHAL_WEB_DOMAIN="127.0.0.1:$port" \
    -DVESTRAHAL_WEB_HOST="127.0.0.1:$port" -DVESTRAHAL_UPDATE_PUBLIC_KEY="" >/dev/null
cmake --build "$top/build-demo"
cmake -S "$top/bench/update" -B "$top/build-bench-update" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build-bench-update"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The launcher draws offscreen; Qt WebEngine will not start as root with its sandbox on.
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking"
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
for mib in $sizes; do
    "$top/build-bench-update/update_probe" "$port" "$top/tools/site" \
        "$top/build-demo/VestrahalLauncher.exe" "$work" "$mib" "$runs"
done
