#!/usr/bin/env bash
# Checks what a community admin ships (tools/run-tests.sh runs it after the suites, as root):
# - the test build's install rules put a launcher that starts from a player's folder and asks the
#   local community server for its version, and its TGZ holds it;
# - the packaged build (the linux-package preset, with the test build's hosts) makes a TGZ and a
#   DEB that lintian finds no error in; as root the DEB is installed with dpkg, an ordinary user
#   starts it from / (a folder it cannot write) under Xvfb: in a data folder that cannot be made
#   (built-in settings, a box says why, ready all the same), then it plays through a fake wine,
#   first with the server answering the package's version (ready, read through AT-SPI), then a
#   newer one (the launcher says so and plays); each time the window's process ends while the
#   game runs, held by the package's watcher, and the window comes back at the game's end saying
#   that it ended at once; then a wine without its 32-bit half, which the window that comes back
#   names; nothing is written outside that user's folder for the program; the package is removed
#   and the user deleted.
#   $1  the test build tree (default: build/ beside tools/): its community server and fake game
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
work="$(mktemp -d)"
server=""
launcher=""
xserver=""
bus=""
user=""
package=""
cleanup() {
    [ -z "$launcher" ] || kill "$launcher" 2>/dev/null || true
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    [ -z "$xserver" ] || kill "$xserver" 2>/dev/null || true
    [ -z "$bus" ] || kill "$bus" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -z "$package" ] || dpkg --purge "$package" >/dev/null 2>&1 || true
    [ -z "$user" ] || userdel "$user" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package-test: FAIL: $*" >&2
    # What the player's launcher said, if it ran: the folder goes with the run.
    if [ -s "$work/player.log" ]; then
        echo "package-test: the end of the player's launcher output:" >&2
        tail -30 "$work/player.log" >&2
    fi
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
cp -r "$top/tools/site" "$work/site"
"$build/tools/community_server" --root "$work/site" --port 0 >"$work/server.log" 2>&1 &
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

echo "package-test: the test build's TGZ"
(cd "$build" && cpack -G TGZ >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    fail "cpack failed"
}
tgz="$(ls "$build"/packages/VestrahalLauncher-*-Linux.tar.gz)"
# The whole listing first: grep leaving early would cut tar off.
listing="$(tar -tzf "$tgz")"
grep -q '/bin/VestrahalLauncher\.exe$' <<<"$listing" || fail "$tgz holds no launcher"
grep -q '/bin/VestrahalWatcher\.exe$' <<<"$listing" || fail "$tgz holds no watcher"

echo "package-test: the packaged build (linux-package preset) and its TGZ and DEB"
packaged="$top/build-package-test"
# The preset's values, not those an older run left in the cache; the objects are kept.
rm -f "$packaged/CMakeCache.txt"
(cd "$top" && cmake --preset linux-package -B "$packaged" -DVESTRAHAL_WERROR=ON \
    -DVESTRAHAL_WEB_DOMAIN=vestrahal.test -DVESTRAHAL_LOGON_HOST=logon.vestrahal.test \
    -DVESTRAHAL_OFFICIAL_LOGON_HOST=logon.officiel.test \
    -DVESTRAHAL_PARTNER_LOGON_HOST=logon.brontavale.test) >"$work/configure.log" 2>&1 || {
    cat "$work/configure.log" >&2
    fail "the packaged build does not configure"
}
cmake --build "$packaged" --target VestrahalLauncher VestrahalWatcher >"$work/build.log" 2>&1 || {
    tail -30 "$work/build.log" >&2
    fail "the packaged build does not build"
}
rm -rf "$packaged/packages"
(cd "$packaged" && cpack -G "TGZ;DEB" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    fail "cpack failed for the packaged build"
}
tgz="$(ls "$packaged"/packages/VestrahalLauncher-*-Linux.tar.gz)"
deb="$(ls "$packaged"/packages/vestrahal-launcher_*.deb)"
listing="$(tar -tzf "$tgz")"
grep -q '/games/VestrahalLauncher\.exe$' <<<"$listing" || fail "$tgz holds no launcher"
grep -q '/libexec/vestrahal-launcher/VestrahalWatcher\.exe$' <<<"$listing" ||
    fail "$tgz holds no watcher"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "package-test: $(basename "$deb") depends on: $depends"
for qt in libqt6webenginewidgets6 libqt6webenginecore6 libqt6widgets6 libqt6network6 qt6-qpa-plugins; do
    grep -qE "(^|, )$qt( |,|$)" <<<"$depends" || fail "the DEB does not depend on $qt"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = wine ] || fail "the DEB does not recommend wine"
contents="$(dpkg-deb -c "$deb" | awk '{ print $NF }')"
for file in ./usr/games/VestrahalLauncher.exe ./usr/libexec/vestrahal-launcher/VestrahalWatcher.exe \
    ./usr/share/applications/vestrahal-launcher.desktop \
    ./usr/share/icons/hicolor/128x128/apps/vestrahal-launcher.png \
    ./usr/share/icons/hicolor/256x256/apps/vestrahal-launcher.png \
    ./usr/share/doc/vestrahal-launcher/copyright ./usr/share/doc/vestrahal-launcher/changelog.gz; do
    grep -qx "$file" <<<"$contents" || fail "the DEB holds no $file"
done
dpkg-deb -x "$deb" "$work/deb"
for program in games/VestrahalLauncher.exe libexec/vestrahal-launcher/VestrahalWatcher.exe; do
    file "$work/deb/usr/$program" | grep -q ', stripped' ||
        fail "the DEB's $program is not stripped: $(file "$work/deb/usr/$program")"
done
for size in 128 256; do
    icon="$work/deb/usr/share/icons/hicolor/${size}x$size/apps/vestrahal-launcher.png"
    file "$icon" | grep -q "$size x $size" || fail "the ${size}x$size icon is $(file -b "$icon")"
done
desktop="$work/deb/usr/share/applications/vestrahal-launcher.desktop"
grep -qx 'Categories=Game;' "$desktop" || fail "the menu entry is not in the Game category"
grep -qx 'Exec=VestrahalLauncher.exe' "$desktop" || fail "the menu entry starts another program"

echo "package-test: lintian"
# Errors fail the test (lintian's own verdict: status 1, 2 when it could not check); warnings and
# notes are shown for the admin.
verdict=0
lintian --tag-display-limit 0 --fail-on error "$deb" >"$work/lintian.log" 2>&1 || verdict=$?
sed 's/^/  /' "$work/lintian.log"
[ "$verdict" -ne 1 ] || fail "lintian reports errors on $(basename "$deb")"
[ "$verdict" -eq 0 ] || fail "lintian could not check $(basename "$deb") (status $verdict)"
grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors on $(basename "$deb")"

name="$(dpkg-deb -f "$deb" Package)"
# Two test runs on one machine would install and purge the same package under each other: the
# second waits for the first to be done with it.
if [ "$(id -u)" -eq 0 ]; then
    exec 9>/run/lock/vestrahal-package-test.lock
    flock 9
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "package-test: not root, the DEB is not installed"
    echo "package-test: passed"
    exit 0
elif dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed"; then
    echo "package-test: $name is installed already; left as it is"
    echo "package-test: passed"
    exit 0
fi
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2
    dpkg --purge "$name" >/dev/null 2>&1 || true
    fail "dpkg -i failed"
}
package="$name"
echo "package-test: installed $name; its Qt dependencies:"
dpkg-query -W -f='${Depends}\n' "$name" | tr ',' '\n' | grep -i qt | sed 's/^ */  /'
[ -x /usr/games/VestrahalLauncher.exe ] || fail "dpkg did not install /usr/games/VestrahalLauncher.exe"

echo "package-test: an ordinary player, from / (a folder it cannot write), under Xvfb"
user="vtest$$"
chmod 755 "$work"
home="$work/home"
useradd --home-dir "$home" --create-home --shell /bin/sh "$user"
as_player() { runuser -u "$user" -- "$@"; }
# The game client, as the player installs it, and a wine that records how it was asked to start
# it before starting it, found first on the player's PATH.
game="$home/Jeux/WoTLK"
as_player mkdir -p "$game/Data/frFR" "$home/bin"
as_player cp "$build/tools/fakegame" "$game/Wow.exe"
as_player touch "$game/kvf.vestrahal"
# With ~/wine32-missing it says what Debian's Wine without its 32-bit half says, and stops.
install -m 644 "$top/tests/wine/wine32-missing.stderr" "$work/wine32-missing.stderr"
as_player sh -c 'printf "%s\n" "#!/bin/sh" "printf \"%s\\n\" \"\$*\" >>\"\$HOME/wine.log\"" \
    "if [ -e \"\$HOME/wine32-missing\" ]; then cat \"\$HOME/wine32-missing\" >&2; exit 1; fi" \
    "exec \"\$@\"" >"$HOME/bin/wine" && chmod 755 "$HOME/bin/wine"'
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xserver=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
display=":$(cat "$work/display")"
data="$home/.local/share/vestrahal-launcher"
# The session's runtime folder, as a login gives one.
runtime="$work/runtime"
install -d -m 700 -o "$user" "$runtime"
# The player's session: its own bus, on which a screen reader reads the window (AT-SPI). The
# accessibility bus is started by the session bus and switched on as a screen reader does.
player_env=(env -i HOME="$home" USER="$user" LOGNAME="$user" DISPLAY="$display"
    PATH="$home/bin:/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games"
    XDG_RUNTIME_DIR="$runtime")
runuser -u "$user" -- "${player_env[@]}" dbus-daemon --session --nofork \
    --address="unix:path=$runtime/bus" --print-address=1 >"$work/bus.log" 2>&1 &
bus=$!
for _ in $(seq 100); do
    [ -s "$work/bus.log" ] && break
    sleep 0.1
done
grep -q '^unix:' "$work/bus.log" || fail "the player's session bus did not start: $(cat "$work/bus.log")"
player_env+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
runuser -u "$user" -- "${player_env[@]}" dbus-send --session --print-reply --dest=org.a11y.Bus \
    /org/a11y/bus org.freedesktop.DBus.Properties.Set string:org.a11y.Status \
    string:IsEnabled variant:boolean:true >"$work/a11y.log" 2>&1 ||
    fail "the accessibility bus did not start: $(cat "$work/a11y.log")"
install -m 755 "$top/tools/read-status-line.py" "$work/read-status-line.py"
# Waits (60 s at most) until a screen reader reads TEXT in the status line, and objects whose
# names start with each ALSO (the version label, a message box's text).
status_line_reads() { # WHAT TEXT [ALSO...]
    local what="$1"
    shift
    runuser -u "$user" -- "${player_env[@]}" "$work/read-status-line.py" 120 "$@" \
        >"$work/status.log" 2>&1 || fail "$what: $(cat "$work/status.log")"
}
# Whatever the player's programs write from here on is the player's and newer than this mark.
touch "$work/start.mark"

# Starts the installed launcher as the player, from a working folder the player cannot write (/),
# by its name on Debian's PATH for users, through the server as its proxy (the build names hosts
# that never resolve): every file of its own lands in its data folder all the same. Qt
# WebEngine's sandbox is off for the test.
start_player() {
    (cd / && exec runuser -u "$user" -- "${player_env[@]}" QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
        http_proxy="http://127.0.0.1:$port" no_proxy="" VestrahalLauncher.exe) \
        >>"$work/player.log" 2>&1 &
    launcher=$!
}
stop_player() {
    kill "$launcher" 2>/dev/null || true
    wait "$launcher" 2>/dev/null || true
    launcher=""
}
# Clicks "Jouer" until the window's process ends, its watcher holding the game (60 s at most): the
# game starts only through an open "Jouer".
press_play() {
    local window=""
    for _ in $(seq 600); do
        [ -n "$window" ] || window="$(DISPLAY="$display" xdotool search --name \
            '^Vestrahal Launcher$' 2>/dev/null | head -1)" || true
        [ -z "$window" ] || DISPLAY="$display" xdotool mousemove --window "$window" 720 535 \
            click 1 2>/dev/null || true
        kill -0 "$launcher" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$launcher" 2>/dev/null && {
        tail -20 "$work/player.log" >&2
        fail "$1: the window's process did not end"
    }
    wait "$launcher" 2>/dev/null || true
    launcher=""
}
# The launcher the watcher started again when the game ended, as the player's program.
returned() { pgrep -u "$user" -x -f /usr/games/VestrahalLauncher.exe || true; }
stop_returned() {
    local pid
    pid="$(returned)"
    [ -n "$pid" ] || fail "no launcher came back after the game"
    kill "$pid"
    for _ in $(seq 100); do
        [ -z "$(returned)" ] && break
        sleep 0.1
    done
}
# Plays: the game starts through wine, held by the package's watcher while the window's process
# is gone, and ends; the launcher then comes back.
play() {
    rm -f "$game/Wow.exe.started.json"
    press_play "$1"
    for _ in $(seq 600); do
        [ -f "$game/Wow.exe.started.json" ] && break
        sleep 0.1
    done
    [ -f "$game/Wow.exe.started.json" ] || fail "$1: the game did not start"
    local watcher pid
    watcher="$(pgrep -u "$user" -x -f /usr/libexec/vestrahal-launcher/VestrahalWatcher.exe)" ||
        fail "$1: no watcher of the package holds the game"
    pid="$(sed -n 's/.*"pid": *\([0-9]*\).*/\1/p' "$game/Wow.exe.started.json")"
    [ "$(ps -o ppid= -p "$pid" | tr -d ' ')" = "$watcher" ] || fail "$1: the game is not the watcher's"
    as_player touch "$game/Wow.exe.stop"
    for _ in $(seq 100); do
        [ -f "$game/Wow.exe.stop" ] || break
        sleep 0.1
    done
}
requests() { grep -c "$1" "$work/server.log" || true; }

# The server answers the package's own version: a packaged launcher is current with it.
package_version="$(dpkg-deb -f "$deb" Version)"
printf '%s' "$package_version" >"$work/site/launcher/version.php"
ready="World of Warcraft est prêt à être lancé"

# A first start in a data folder that cannot be made: the launcher plays with its built-in
# settings, says why in a box, and is ready all the same.
as_player mkdir -p "$home/.local/share"
as_player chmod 555 "$home/.local/share"
start_player
status_line_reads "a data folder that cannot be made" "$ready" "Version $package_version" \
    "Les réglages ne peuvent pas être enregistrés dans le fichier $data/launcher.conf : le dossier $data n'existe pas et ne peut pas être créé."
stop_player
as_player chmod 755 "$home/.local/share"
[ ! -e "$data" ] || fail "$data was made in a folder that cannot take it"

# First start: the folder is made with the default settings, never in the working folder.
asked="$(requests 'launcher/version\.php')"
start_player
for _ in $(seq 600); do
    [ "$(requests 'launcher/version\.php')" -gt "$asked" ] && [ -f "$data/launcher.conf" ] && break
    sleep 0.1
done
[ -f "$data/launcher.conf" ] || fail "no launcher.conf in $data: $(tail -5 "$work/player.log")"
[ "$(wc -l <"$data/launcher.conf")" -eq 9 ] || fail "the first launcher.conf is not nine lines"
[ ! -e "$home/launcher.conf" ] || fail "launcher.conf was written in the working folder"
stop_player
[ "$(stat -c %U "$data")" = "$user" ] || fail "$data does not belong to the player"

# Second start: the player's game folder chosen, no version stored (a package stores none of its
# own): current, since the server answers the package's version.
as_player sh -c "printf '1\n%s\n0\n\n0\n |0\n |0\n |0\n\n' '$game' >'$data/launcher.conf'"
start_player
status_line_reads "the current launcher" "$ready" "Version $package_version"
play "the current launcher"
grep -qx "$game/Wow.exe" "$home/wine.log" || fail "wine was not asked to start $game/Wow.exe"
grep -qx 'set realmlist logon.vestrahal.test' "$game/Data/frFR/realmlist.wtf" ||
    fail "the realmlist was not written for the Vestrahal realms"
# Stopped within seconds: the window that comes back says so, and errors.log has its line.
status_line_reads "back from the game" "Le jeu s'est arrêté aussitôt (code 0)."
grep -q " : $game/Wow.exe ended [0-9]* ms after its start, exit code 0$" "$data/errors.log" ||
    fail "errors.log has no line for the game that ended at once"
stop_returned

# Third start: the server offers a newer version. The launcher says so, plays, stores nothing
# and downloads nothing.
printf '%s.1' "$package_version" >"$work/site/launcher/version.php"
start_player
status_line_reads "a launcher with a newer version on the server" \
    "Une nouvelle version du launcher existe : mettez à jour le paquet vestrahal-launcher."
play "a launcher with a newer version on the server"
[ "$(wc -l <"$home/wine.log")" -eq 2 ] || fail "wine started the game $(wc -l <"$home/wine.log") times"
status_line_reads "back from the game" "Le jeu s'est arrêté aussitôt (code 0)."
stop_returned

# A wine without its 32-bit half: it stops at once, and the window that comes back, held by
# nobody while wine ran, says what to install.
as_player cp "$work/wine32-missing.stderr" "$home/wine32-missing"
start_player
status_line_reads "before a wine without its 32-bit half" \
    "Une nouvelle version du launcher existe : mettez à jour le paquet vestrahal-launcher."
press_play "a wine without its 32-bit half"
status_line_reads "back from a wine without its 32-bit half" \
    "Wine ne peut pas lancer ce jeu 32 bits : installez le paquet wine32:i386."
tail -1 "$data/errors.log" | grep -q ': wine cannot run 32-bit programs (on Debian' ||
    fail "errors.log does not say that wine cannot run 32-bit programs: $(tail -1 "$data/errors.log")"
stop_returned
as_player rm "$home/wine32-missing"
[ "$(sed -n 9p "$data/launcher.conf")" != "$package_version.1" ] ||
    fail "the packaged launcher stored the server's version"
[ "$(requests 'launcher/download')" -eq 0 ] || fail "the packaged launcher downloaded an update"

echo "package-test: nothing written outside $data"
# The launcher runs as the player: what it created or changed is the player's. The game folder
# gets its realmlist and the fake game's records; the folders above $data were made for it. Qt's
# and Mesa's shader caches in ~/.cache and the session's runtime folder belong to the graphics
# stack of every Qt program, not to the launcher.
find / -xdev -path /proc -prune -o -user "$user" -newer "$work/start.mark" -print 2>/dev/null |
    grep -vxF -e "$home" -e "$home/.local" -e "$home/.local/share" -e "$home/wine.log" \
        -e "$home/wine32-missing" |
    grep -vE "^($data|$game|$runtime)(/|$)" |
    grep -vE "^$home/\.cache(/(qtshadercache-[^/]*|mesa_shader_cache)(/|$)|$)" \
        >"$work/written.list" || true
[ ! -s "$work/written.list" ] || {
    sed 's/^/  /' "$work/written.list" >&2
    fail "the packaged launcher wrote outside $data"
}
dpkg --verify "$name" >"$work/verify.log" 2>&1 || true
[ ! -s "$work/verify.log" ] || fail "the installed files changed: $(cat "$work/verify.log")"

dpkg --purge "$name" >"$work/dpkg.log" 2>&1 || fail "dpkg --purge failed"
package=""
[ ! -e /usr/games/VestrahalLauncher.exe ] || fail "the launcher stayed after removal"
# The session ends: its bus, then the accessibility bus it started (5 s at most).
kill "$bus" 2>/dev/null || true
wait "$bus" 2>/dev/null || true
bus=""
for _ in $(seq 50); do
    pgrep -u "$user" >/dev/null || break
    sleep 0.1
done
pgrep -u "$user" >/dev/null && fail "the player's programs did not end: $(pgrep -a -u "$user")"
userdel "$user" >/dev/null 2>&1 || fail "the test's player could not be removed"
user=""
echo "package-test: passed"
