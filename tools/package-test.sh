#!/usr/bin/env bash
# Checks what a community admin ships from a built tree (tools/run-tests.sh runs it after the
# suites): the install rules put a launcher that starts, from a player's folder, and asks the
# local community server for its version; the TGZ and DEB packages build; the DEB installs with
# dpkg, names its Qt dependencies, and is removed again so that the machine stays as it was.
#   $1  the build tree (default: build/ beside tools/)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
work="$(mktemp -d)"
server=""
launcher=""
cleanup() {
    [ -z "$launcher" ] || kill "$launcher" 2>/dev/null || true
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package-test: FAIL: $*" >&2
    exit 1
}
# Waits up to $2 tenths of a second for the pattern $1 in the file $3.
wait_for() {
    for _ in $(seq "$2"); do
        grep -q "$1" "$3" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

echo "package-test: install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
installed="$work/prefix/bin/VestrahalLauncher.exe"
[ -x "$installed" ] || fail "no executable launcher at $installed"

echo "package-test: the installed launcher, started from a player's folder"
"$build/tools/community_server" --root "$top/tools/site" --port 0 >"$work/server.log" 2>&1 &
server=$!
wait_for listening 100 "$work/server.log" || fail "the community server did not start"
port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log")"
player="$work/player"
mkdir -p "$player"
# The test build names hosts that never resolve: the server is the launcher's HTTP proxy, so
# nothing leaves the machine. The WebEngine sandbox is off only here, as in the suites.
(cd "$player" && exec env QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
    QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking" \
    http_proxy="http://127.0.0.1:$port" HTTP_PROXY="http://127.0.0.1:$port" no_proxy="" \
    "$installed") >"$work/launcher.log" 2>&1 &
launcher=$!
wait_for 'launcher/version\.php' 600 "$work/server.log" || {
    cat "$work/launcher.log" "$work/server.log" >&2
    fail "the installed launcher did not ask for its version"
}
[ -f "$player/launcher.conf" ] || fail "the installed launcher wrote no launcher.conf in its folder"
kill "$launcher" 2>/dev/null || true
wait "$launcher" 2>/dev/null || true
launcher=""

echo "package-test: TGZ and DEB packages"
(cd "$build" && cpack -G "TGZ;DEB" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    fail "cpack failed"
}
tgz="$(ls "$build"/packages/VestrahalLauncher-*-Linux.tar.gz)"
deb="$(ls "$build"/packages/vestrahal-launcher_*.deb)"
tar -tzf "$tgz" | grep -q '/bin/VestrahalLauncher\.exe$' || fail "$tgz holds no launcher"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "package-test: $(basename "$deb") depends on: $depends"
for qt in libqt6webenginewidgets6 libqt6webenginecore6 libqt6widgets6 libqt6network6 qt6-qpa-plugins; do
    grep -qE "(^|, )$qt( |,|$)" <<<"$depends" || fail "the DEB does not depend on $qt"
done
dpkg-deb -c "$deb" | grep -q '\./usr/bin/VestrahalLauncher\.exe$' || fail "the DEB holds no launcher"

name="$(dpkg-deb -f "$deb" Package)"
if [ "$(id -u)" -ne 0 ]; then
    echo "package-test: not root, the DEB is not installed"
elif dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed"; then
    echo "package-test: $name is installed already; left as it is"
else
    dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || {
        cat "$work/dpkg.log" >&2
        dpkg --purge "$name" >/dev/null 2>&1 || true
        fail "dpkg -i failed"
    }
    echo "package-test: installed $name; its Qt dependencies:"
    dpkg-query -W -f='${Depends}\n' "$name" | tr ',' '\n' | grep -i qt | sed 's/^ */  /'
    listed="$(dpkg -L "$name")"
    dpkg --purge "$name" >"$work/dpkg.log" 2>&1 || fail "dpkg --purge failed"
    grep -qx /usr/bin/VestrahalLauncher.exe <<<"$listed" || fail "dpkg did not install the launcher"
    [ ! -e /usr/bin/VestrahalLauncher.exe ] || fail "the launcher stayed after removal"
fi
echo "package-test: passed"
