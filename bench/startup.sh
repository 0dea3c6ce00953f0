#!/usr/bin/env bash
# Start-up cost of the launcher against its floor: a bare Qt program that only shows the same
# news page in an 800x600 QWebEngineView (bench/bare_webview.cpp). Both load the same URL from
# one local community server, one after the other, BENCH_RUNS times each, in an Xvfb of their own.
#
# How it is measured. The launcher gets no instrumentation, option or switch, so both programs
# are timed from outside, the same way: bench/window_probe.cpp forks and execs the program, then
# polls the X server every 3 ms.
#   shown   the program's main window (found by its _NET_WM_PID, at least 640x480) is viewable.
#   loaded  the news page is on screen in that window: the first article's #974d17 left border
#           at x = 26 from y = 150 to 400, and near-black article insides at y = 340. That is
#           what the player sees; the launcher keeps its view hidden until the load has finished,
#           the bare view paints as it loads, so this is the fair common point.
#   memory  PSS (and RSS), from /proc/PID/smaps_rollup, summed over the program and every
#           process under it, the QtWebEngineProcess helpers included, BENCH_SETTLE seconds
#           after "loaded". PSS splits shared pages among all their users: another Qt WebEngine
#           program running meanwhile lowers it. RSS does not, but counts shared pages in full.
# Times count from just before the fork. The bare program also reports when it called show()
# and when loadFinished came, as a check on the probe.
# The target is the launcher within 1.2x of the bare program on each figure: reported only.
#   BENCH_RUNS    measured runs of each program (default 5), alternating launcher and bare,
#                 after one unmeasured warm-up run of each
#   BENCH_SETTLE  seconds between "loaded" and the memory sample (default 1)
#   BENCH_TIMEOUT seconds a run may take to reach "loaded" (default 60)
#   DEMO_PORT     the news server's port, built into the launcher as in tools/demo.sh (47680)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${BENCH_RUNS:-5}"
settle="${BENCH_SETTLE:-1}"
timeout="${BENCH_TIMEOUT:-60}"
port="${DEMO_PORT:-47680}"

# Setup: the project's build and demo packages, and what the bench adds to them.
bash "$top/tools/setup.sh"
extra=(libx11-dev procps)
missing=()
for package in "${extra[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi

# The launcher as tools/demo.sh builds it, and the bench's own programs beside it, both with
# the same build type.
cmake -S "$top" -B "$top/build-demo" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DVESTRAHAL_WEB_DOMAIN="127.0.0.1:$port" \
    -DVESTRAHAL_WEB_HOST="127.0.0.1:$port" >/dev/null
cmake --build "$top/build-demo"
cmake -S "$top/bench" -B "$top/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build-bench"

work="$(mktemp -d)"
probe="" program="" server="" xserver=""
tree() { # the process and every process under it
    ps -e -o pid=,ppid= | awk -v root="$1" '{ kids[$2] = kids[$2] " " $1 }
        END { todo[1] = root; n = 1
              for (i = 1; i <= n; i++) { print todo[i]; m = split(kids[todo[i]], k, " ")
                                         for (j = 1; j <= m; j++) todo[++n] = k[j] } }'
}
# The probe closes the program's window and collects its processes (15 s at most); any of them
# still running after that is ended by its id.
stop() {
    local pids=""
    [ -z "$program" ] || pids="$(tree "$program")"
    kill -TERM "$probe" 2>/dev/null || true
    wait "$probe" 2>/dev/null || true
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill $pids 2>/dev/null || true
        for _ in $(seq 50); do
            ps -o stat= -p "${pids//$'\n'/,}" | grep -qv Z || break
            sleep 0.1
        done
        # shellcheck disable=SC2086
        kill -9 $pids 2>/dev/null || true
    fi
    probe="" program=""
}
cleanup() {
    [ -z "$probe" ] || stop
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    [ -z "$xserver" ] || kill "$xserver" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A player's folder, as tools/demo.sh lays it out.
mkdir -p "$work/player/wotlk" "$work/player/cata"
cp "$top/build-demo/VestrahalLauncher.exe" "$work/player/"
printf '1\n%s\n1\n%s\n0\n |0\n |0\n |0\n1.0.0\n' "$work/player/wotlk" "$work/player/cata" \
    >"$work/player/launcher.conf"

"$top/build-demo/tools/community_server" --root "$top/tools/site" --port "$port" \
    >"$work/server.log" 2>&1 &
server=$!
# No window manager: nothing but the two programs draws, and windows are not reparented.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xserver=$!
for _ in $(seq 100); do
    grep -q listening "$work/server.log" && [ -s "$work/display" ] && break
    sleep 0.1
done
grep -q listening "$work/server.log" || { cat "$work/server.log"; exit 1; }
[ -s "$work/display" ] || { cat "$work/xvfb.log"; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY
url="http://127.0.0.1:$port/launcher/launcher.php"
# Qt WebEngine will not start as root with its sandbox on; the same for both programs.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

# One start of NAME: appends "shown loaded pss rss processes [self-shown self-loaded]" to
# $work/NAME.runs, or nothing when KEEP is 0.
measure() {
    local name="$1" keep="$2" out="$work/$1.out" line
    shift 2
    (cd "$work/player" && exec "$top/build-bench/window_probe" "$timeout" -- "$@") \
        >"$out" 2>"$work/$name.err" &
    probe=$!
    for _ in $(seq $((timeout * 10 + 50))); do
        grep -qE '^probe (loaded|timeout|exited)' "$out" && break
        sleep 0.1
    done
    program="$(awk '$1 == "probe" && $2 == "pid" { print $3 }' "$out")"
    if ! grep -q '^probe loaded' "$out"; then
        echo "$name: no news page on screen:" \
            "$(grep -E '^probe (timeout|exited)' "$out" || true)" >&2
        tail -5 "$work/$name.err" >&2
        exit 1
    fi
    sleep "$settle"
    line="$(awk '$1 == "probe" && ($2 == "shown" || $2 == "loaded") { printf "%s ", $3 }' "$out")"
    line+="$(for pid in $(tree "$program"); do cat "/proc/$pid/smaps_rollup"; done 2>/dev/null |
        awk '/^Pss:/ { pss += $2; n++ } /^Rss:/ { rss += $2 }
             END { printf "%.1f %.1f %d", pss / 1024, rss / 1024, n }')"
    line+="$(awk '$1 == "probe" && $2 == "t0" { t0 = $3 }
                  $1 == "bare" { printf " %.1f", $3 - t0 }' "$out")"
    stop
    [ "$keep" -eq 0 ] || echo "$line" >>"$work/$name.runs"
}

echo "each run: shown ms, on screen ms, PSS MiB, RSS MiB, processes (bare: + its own two times)"
for round in $(seq 0 "$runs"); do
    keep=$((round > 0))
    measure launcher "$keep" ./VestrahalLauncher.exe
    measure bare "$keep" "$top/build-bench/bare_webview" "$url"
    [ "$keep" -eq 0 ] || echo "run $round/$runs: launcher $(tail -1 "$work/launcher.runs")" \
        "| bare $(tail -1 "$work/bare.runs")"
done

# Median and min of column COLUMN of NAME's runs.
stats() {
    awk -v c="$2" '{ print $c }' "$work/$1.runs" | sort -g | awk '{ v[NR] = $1 }
        END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1] }'
}
echo
echo "Start-up, launcher against a bare QWebEngineView of $url, $runs runs each"
printf '%-20s %20s %20s %9s %9s  %s\n' "" "launcher med / min" "bare med / min" "ratio med" \
    "ratio min" "median within 1.2x"
row() { # TITLE COLUMN [target]
    read -r lm ln < <(stats launcher "$2")
    read -r bm bn < <(stats bare "$2")
    awk -v t="$1" -v lm="$lm" -v ln="$ln" -v bm="$bm" -v bn="$bn" -v target="${3:-}" 'BEGIN {
        printf "%-20s %9.1f / %8.1f %9.1f / %8.1f %9.2f %9.2f  %s\n", t, lm, ln, bm, bn,
               lm / bm, ln / bn, target == "" ? "" : lm <= 1.2 * bm ? "yes" : "no" }'
}
row "window shown (ms)" 1 target
row "news on screen (ms)" 2 target
row "memory PSS (MiB)" 3 target
row "memory RSS (MiB)" 4
row "processes" 5
read -r sm _ < <(stats bare 6)
read -r lm _ < <(stats bare 7)
echo "bare, by its own clock (median): show() at $sm ms, loadFinished at $lm ms"
