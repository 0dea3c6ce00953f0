#!/usr/bin/env bash
# Sets everything up and starts the launcher against the local community server, from a staged
# folder that holds the executable and its launcher.conf, as a player's folder would.
# Without a display the launcher runs under Xvfb and the script saves screenshots instead.
#   DEMO_PORT   port of the local community server (default 47680; it is built into the demo)
#   DEMO_SECONDS how long the demo runs without a display (default 12)
#   DEMO_INSTALL=1 shows a new player's install instead: the WoTLK folder is empty and the
#                launcher installs the community's small client into it, with its speed and time
#                left on the status line
#   DEMO_UPDATE=1 shows a self-update instead: the server offers version 1.1.0 and a new
#                executable, signed with the demo's key, the launcher replaces itself, and a
#                second start finds it current
# The demo launcher is built with the public half of a key made for the demo by the release
# tool; the server publishes, signed with it, a small list of the community's files for the
# WoTLK folder, which the launcher brings up to date at its start.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port="${DEMO_PORT:-47680}"
build="$top/build-demo"
stage="$top/stage"

bash "$top/tools/setup.sh"
# Realm status: the local community server stands in for the Vestrahal logon server, so that
# realm shows green; nothing listens on the official and Brontavale ports, which show red. No
# realm names a host off this machine.
configure() {
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DVESTRAHAL_WEB_DOMAIN="127.0.0.1:$port" -DVESTRAHAL_WEB_HOST="127.0.0.1:$port" \
        -DVESTRAHAL_REALM_STATUS=ON -DVESTRAHAL_LOGON_HOST="127.0.0.1:$port" \
        -DVESTRAHAL_OFFICIAL_LOGON_HOST=127.0.0.1:1 -DVESTRAHAL_PARTNER_LOGON_HOST=127.0.0.1:2 "$@"
}
# The demo signs as a community admin would: a key of its own, made once by the release tool,
# whose public half is built into the demo launcher.
keys="$build/demo-keys"
configure
cmake --build "$build" --target vestrahal-release
[ -f "$keys/update.key" ] || "$build/tools/vestrahal-release" keygen "$keys"
public_key="$(cat "$keys/update.pub")"
configure -DVESTRAHAL_UPDATE_PUBLIC_KEY="$public_key"
cmake --build "$build"

mkdir -p "$stage/screenshots"
cp "$build/VestrahalLauncher.exe" "$stage/"
# Two sample game folders whose "game" is the fake client: a small window that shows the
# realmlist it read, and ends the game when closed.
for client in WoTLK Cataclysm; do
    game="$stage/jeux/$client"
    mkdir -p "$game/Data/frFR" "$game/Cache/WDB/frFR"
    cp "$build/tools/fakegame" "$game/Wow.exe"
    [ "$client" = WoTLK ] || cp "$build/tools/fakegame" "$game/brontavale.exe"
    touch "$game/kvf.vestrahal" "$game/Cache/WDB/frFR/creaturecache.wdb" "$game/Cache/WDB/frFR/itemcache.wdb"
    printf '[General]\nwindow=1\n' >"$game/fakegame.ini"
done
# Both clients enabled, one personal realm on each: every realm button has something to show.
# The personal realm is on this machine too, on a logon port of its own where nothing answers.
printf '1\n%s\n1\n%s\n0\nlocalhost:3725|1\n |0\n |0\n1.0.0\n' \
    "$stage/jeux/WoTLK" "$stage/jeux/Cataclysm" >"$stage/launcher.conf"

# The community's files for the WoTLK folder: a reference copy of the package as players should
# have it, published with the release tool. The player's folder holds an older patch and misses
# an interface fix: the launcher fetches both; the player's own addon stays as it is.
reference="$stage/reference-wotlk"
rm -rf "$reference"
mkdir -p "$reference/Data/frFR" "$reference/Interface/FrameXML"
head -c 6000000 /dev/urandom >"$reference/Data/frFR/patch-frFR-4.MPQ"
printf '## Interface: 30300\nFrameXML fixed by the community\n' >"$reference/Interface/FrameXML/FrameXML.toc"
head -c 6000000 /dev/zero >"$stage/jeux/WoTLK/Data/frFR/patch-frFR-4.MPQ"
mkdir -p "$stage/jeux/WoTLK/Interface/AddOns/MonAddon"
printf 'print("mon addon")\n' >"$stage/jeux/WoTLK/Interface/AddOns/MonAddon/MonAddon.lua"
rm -f "$stage"/gamefiles-*.index

if [ "${DEMO_INSTALL:-0}" = 1 ]; then
    # A new player: the WoTLK folder is empty and the player has just said yes to the
    # community's client there, so the launcher installs it at its start (the record it keeps
    # beside launcher.conf). The reference is then the whole small client: the fake game as
    # Wow.exe and a larger archive, so that the speed and the time left can be watched.
    rm -rf "$stage/jeux/WoTLK"
    mkdir -p "$stage/jeux/WoTLK"
    cp "$build/tools/fakegame" "$reference/Wow.exe"
    printf '[General]\nwindow=1\n' >"$reference/fakegame.ini"
    head -c 40000000 /dev/urandom >"$reference/Data/common.MPQ"
    printf 'wotlk\t%s\n' "$stage/jeux/WoTLK" >"$stage/gamefiles-installs.list"
else
    rm -f "$stage/gamefiles-installs.list"
fi

root="$stage/site"
rm -rf "$root"
cp -r "$top/tools/site" "$root"
"$build/tools/vestrahal-release" files --key "$keys/update.key" --client wotlk \
    "$reference" "$root/launcher/files"
if [ "${DEMO_UPDATE:-0}" = 1 ]; then
    # The community's site, with a newer version and its executable: the same build with a
    # marker after its end, so that the swap shows.
    rm -f "$stage/VestrahalLauncher.exe.bak" "$stage/errors.log"
    mkdir -p "$root/launcher/download/linux-x86_64"
    printf '1.1.0' >"$root/launcher/version.php"
    { cat "$build/VestrahalLauncher.exe"; printf 'Vestrahal launcher 1.1.0'; } \
        >"$root/launcher/download/linux-x86_64/VestrahalLauncher.exe"
    # Published as an admin does: signed for the version it is offered as.
    "$build/tools/vestrahal-release" sign --key "$keys/update.key" --version 1.1.0 \
        "$root/launcher/download/linux-x86_64/VestrahalLauncher.exe"
fi
"$build/tools/community_server" --root "$root" --port "$port" --news-delay 2500 \
    --slow-files 120000 \
    >"$stage/community_server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    grep -q listening "$stage/community_server.log" && break
    sleep 0.1
done
grep -q listening "$stage/community_server.log" || { cat "$stage/community_server.log"; exit 1; }
echo "community server: http://127.0.0.1:$port/launcher/launcher.php"

# Qt WebEngine will not start as root with its sandbox on: a root demo switches it off.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

cd "$stage"
if [ "${DEMO_UPDATE:-0}" = 1 ]; then
    # First start: the update, which ends on the "Mise à jour" box (its OK quits the launcher).
    # Second start: the new executable, current.
    if [ -n "${DISPLAY:-}" ]; then
        ./VestrahalLauncher.exe || true
        ./VestrahalLauncher.exe
    else
        xvfb-run -a -s "-screen 0 800x600x24" bash -c '
            ./VestrahalLauncher.exe & launcher=$!
            for _ in $(seq 300); do [ -f errors.log ] && break; sleep 0.1; done
            sleep 1; import -window root screenshots/update.png
            xdotool mousemove 538 293 click 1
            for _ in $(seq 50); do kill -0 $launcher 2>/dev/null || break; sleep 0.1; done
            kill -0 $launcher 2>/dev/null && echo "the update box is still open" && kill $launcher
            wait $launcher 2>/dev/null || true
            ./VestrahalLauncher.exe & launcher=$!
            sleep 6; import -window root screenshots/updated.png
            kill $launcher; wait $launcher 2>/dev/null || true'
        echo "screenshots: $stage/screenshots/update.png, $stage/screenshots/updated.png"
    fi
    ls -l VestrahalLauncher.exe VestrahalLauncher.exe.bak
    echo "launcher.conf version: $(sed -n 9p launcher.conf)"
    cat errors.log
    exit 0
fi
if [ -n "${DISPLAY:-}" ]; then
    ./VestrahalLauncher.exe
    exit 0
fi
if [ "${DEMO_INSTALL:-0}" = 1 ]; then
    # The install under way, with its speed and time left, then the installed client.
    export STAGE="$stage"
    xvfb-run -a -s "-screen 0 800x600x24" bash -c '
        ./VestrahalLauncher.exe & launcher=$!
        for _ in $(seq 300); do grep -q "/launcher/files/objects/" community_server.log && break; sleep 0.1; done
        sleep 6; import -window root screenshots/install.png
        for _ in $(seq 1200); do [ -f "$STAGE/jeux/WoTLK/kvf.vestrahal" ] && break; sleep 0.1; done
        sleep 2; import -window root screenshots/installed.png
        kill $launcher; wait $launcher 2>/dev/null || true'
    echo "screenshots: $stage/screenshots/install.png, $stage/screenshots/installed.png"
    ls "$stage/jeux/WoTLK"
    exit 0
fi

seconds="${DEMO_SECONDS:-12}"
# Without a display, the script plays the player's part: it opens the options, saves, presses
# "Jouer", lets the fake game run, then closes it, with a screenshot at each step.
export STAGE="$stage"
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    shot() { import -window root "screenshots/$1.png"; }
    click() { xdotool mousemove "$1" "$2" click 1; }
    ./VestrahalLauncher.exe & launcher=$!
    sleep 1.5; shot startup
    # The files of the WoTLK folder arrive slowly from this server.
    for _ in $(seq 100); do grep -q "/launcher/files/objects/" community_server.log && break; sleep 0.1; done
    sleep 1; shot gamefiles
    for _ in $(seq 100); do grep -q "launcher.php" community_server.log && break; sleep 0.1; done
    sleep 4; shot news
    # The tooltip of the Vestrahal realm status gem: Qt shows tooltips in the focused window
    # only, and there is no window manager here to focus it.
    xdotool windowfocus "$(xdotool search --name "Vestrahal Launcher" | head -1)"; sleep 0.5
    xdotool mousemove 150 490; sleep 0.3; xdotool mousemove 152 493; sleep 2.5; shot realm-status
    click 127 566; sleep 1; shot options
    click 520 448; sleep 1
    click 720 535
    for _ in $(seq 100); do [ -f "$STAGE/jeux/WoTLK/Wow.exe.started.json" ] && break; sleep 0.1; done
    sleep 1.5; shot game
    # The news is loaded again when the game ends, and this server delays it.
    touch "$STAGE/jeux/WoTLK/Wow.exe.stop"; sleep 4; shot back
    # The launcher on screen now is the one started again after the game.
    sleep '"$seconds"'
    for window in $(xdotool search --name "^Vestrahal Launcher\$"); do
        kill "$(xdotool getwindowpid "$window")" 2>/dev/null || true
    done
    wait $launcher 2>/dev/null || true'
echo "no display: the launcher ran under Xvfb; screenshots in $stage/screenshots/"
