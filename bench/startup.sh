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

# shellcheck source=bench/lib.sh
. "$top/bench/lib.sh"
bench_setup
bench_build_launcher "$top/build-demo"
bench_player_folder "$work/player" "$top/build-demo/VestrahalLauncher.exe" \
    "$top/build-demo/tools/fakegame"
bench_start_servers "$top/build-demo/tools/community_server"
url="http://127.0.0.1:$port/launcher/launcher.php"

# One start of NAME: appends "shown loaded pss rss processes [self-shown self-loaded]" to
# $work/NAME.runs, or nothing when KEEP is 0.
measure() {
    local name="$1" keep="$2" out="$work/$1.out" line
    shift 2
    start_probed "$name" "$work/player" "$timeout" "$@"
    sleep "$settle"
    line="$(awk '$1 == "probe" && ($2 == "shown" || $2 == "loaded") { printf "%s ", $3 }' "$out")"
    # shellcheck disable=SC2046
    line+="$(memory_of $(tree "$program") | awk '{ print $1, $2, $4 }')"
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

echo
echo "Start-up, launcher against a bare QWebEngineView of $url, $runs runs each"
printf '%-20s %20s %20s %9s %9s  %s\n' "" "launcher med / min" "bare med / min" "ratio med" \
    "ratio min" "median within 1.2x"
row() { # TITLE COLUMN [target]
    read -r lm ln < <(stats "$work/launcher.runs" "$2")
    read -r bm bn < <(stats "$work/bare.runs" "$2")
    awk -v t="$1" -v lm="$lm" -v ln="$ln" -v bm="$bm" -v bn="$bn" -v target="${3:-}" 'BEGIN {
        printf "%-20s %9.1f / %8.1f %9.1f / %8.1f %9.2f %9.2f  %s\n", t, lm, ln, bm, bn,
               lm / bm, ln / bn, target == "" ? "" : lm <= 1.2 * bm ? "yes" : "no" }'
}
row "window shown (ms)" 1 target
row "news on screen (ms)" 2 target
row "memory PSS (MiB)" 3 target
row "memory RSS (MiB)" 4
row "processes" 5
read -r sm _ < <(stats "$work/bare.runs" 6)
read -r lm _ < <(stats "$work/bare.runs" 7)
echo "bare, by its own clock (median): show() at $sm ms, loadFinished at $lm ms"
