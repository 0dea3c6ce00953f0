#!/usr/bin/env bash
# What the launcher holds while the game runs, against the same launcher built to keep its news
# page meanwhile (-DVESTRAHAL_REST_NEWS_WHILE_PLAYING=OFF, the behaviour before the page rested).
# Both start from the same player's folder, whose game is the fake client, against one local
# community server, in an Xvfb of their own, BENCH_RUNS times each, alternating.
#
# Each run, measured from outside by bench/window_probe.cpp and /proc:
#   idle     BENCH_SETTLE seconds after the news page is on screen: PSS and private dirty memory
#            summed over the launcher and every process under it (the QtWebEngineProcess
#            helpers).
#   playing  "Jouer" pressed with the mouse; BENCH_PLAYING seconds after the game has started,
#            the same sums, the game's own processes left out.
#   back     the game ended (its stop file written): milliseconds until the news page is on
#            screen again, as the probe sees it. Includes the fake client's 20 ms stop check.
# Targets while the game runs: PSS at most 0.75x idle, private dirty at most 0.7x idle, and the
# news back on screen within 1 s. Reported only.
# There is no window manager: the minimised window stays mapped, and the launcher that keeps its
# page keeps it on screen, so its "back" is the floor.
#   BENCH_RUNS     measured runs of each launcher (default 3), after one unmeasured warm-up each
#   BENCH_SETTLE   seconds between the news on screen and the idle sample (default 3)
#   BENCH_PLAYING  seconds between the game's start and the playing sample (default 10)
#   BENCH_TIMEOUT  seconds a start may take to show the news (default 60)
#   DEMO_PORT      the news server's port, built into the launchers (default 47680)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${BENCH_RUNS:-3}"
settle="${BENCH_SETTLE:-3}"
playing="${BENCH_PLAYING:-10}"
timeout="${BENCH_TIMEOUT:-60}"
port="${DEMO_PORT:-47680}"

# shellcheck source=bench/lib.sh
. "$top/bench/lib.sh"
bench_setup
bench_build_launcher "$top/build-demo"
bench_build_launcher "$top/build-bench-keeps" -DVESTRAHAL_REST_NEWS_WHILE_PLAYING=OFF
bench_player_folder "$work/rests" "$top/build-demo/VestrahalLauncher.exe" \
    "$top/build-demo/tools/fakegame"
bench_player_folder "$work/keeps" "$top/build-bench-keeps/VestrahalLauncher.exe" \
    "$top/build-demo/tools/fakegame"
bench_start_servers "$top/build-demo/tools/community_server"

# The launcher's processes, without the game's.
launcher_processes() {
    local game
    game="$(pgrep -P "$program" -f 'Wow\.exe' || true)"
    comm -23 <(tree "$program" | sort) <( ([ -z "$game" ] || tree "$game") | sort)
}

# One run of NAME: appends "idle-pss idle-pd playing-pss playing-pd back-ms processes-idle
# processes-playing" to $work/NAME.runs, or nothing when KEEP is 0.
measure() {
    local name="$1" keep="$2" folder="$work/$1" out="$work/$1.out" window idle busy mark again
    rm -f "$folder/wotlk/Wow.exe.started.json" "$folder/wotlk/Wow.exe.stop"
    start_probed "$name" "$folder" "$timeout" ./VestrahalLauncher.exe
    window="$(awk '$1 == "probe" && $2 == "window" { print $3 }' "$out")"
    sleep "$settle"
    # shellcheck disable=SC2046
    idle="$(memory_of $(launcher_processes))"
    # "Jouer", where the player clicks it.
    xdotool mousemove --window "$window" 720 535 click 1
    for _ in $(seq 300); do
        [ -s "$folder/wotlk/Wow.exe.started.json" ] && break
        sleep 0.1
    done
    [ -s "$folder/wotlk/Wow.exe.started.json" ] || { echo "$name: the game did not start" >&2; exit 1; }
    sleep "$playing"
    # shellcheck disable=SC2046
    busy="$(memory_of $(launcher_processes))"
    kill -USR1 "$probe"
    touch "$folder/wotlk/Wow.exe.stop"
    for _ in $(seq 300); do
        grep -q '^probe again' "$out" && break
        sleep 0.1
    done
    mark="$(awk '$1 == "probe" && $2 == "mark" { print $3 }' "$out")"
    again="$(awk '$1 == "probe" && $2 == "again" { print $3 }' "$out")"
    [ -n "$again" ] || { echo "$name: the news did not come back" >&2; exit 1; }
    stop
    read -r ipss _ ipd iproc <<<"$idle"
    read -r bpss _ bpd bproc <<<"$busy"
    [ "$keep" -eq 0 ] || echo "$ipss $ipd $bpss $bpd $(awk -v a="$again" -v m="$mark" \
        'BEGIN { printf "%.0f", a - m }') $iproc $bproc" >>"$work/$name.runs"
}

echo "each run: idle PSS, idle private dirty, playing PSS, playing private dirty (MiB), news back" \
    "(ms), processes idle, processes playing"
for round in $(seq 0 "$runs"); do
    keep=$((round > 0))
    for name in rests keeps; do
        measure "$name" "$keep"
        [ "$keep" -eq 0 ] || echo "run $round/$runs $name: $(tail -1 "$work/$name.runs")"
    done
done

echo
echo "While the game runs, $runs runs each (medians; ratio = playing / idle of the same run)"
printf '%-34s %12s %12s\n' "" "rests" "keeps"
row() { # TITLE COLUMN-OR-RATIO
    local values=()
    for name in rests keeps; do
        case "$2" in
        pss) awk '{ print $3 / $1 }' "$work/$name.runs" >"$work/$name.ratio" ;;
        pd) awk '{ print $4 / $2 }' "$work/$name.runs" >"$work/$name.ratio" ;;
        *) awk -v c="$2" '{ print $c }' "$work/$name.runs" >"$work/$name.ratio" ;;
        esac
        values+=("$(stats "$work/$name.ratio" 1 | awk '{ print $1 }')")
    done
    printf '%-34s %12.2f %12.2f\n' "$1" "${values[@]}"
}
row "idle PSS (MiB)" 1
row "idle private dirty (MiB)" 2
row "playing PSS (MiB)" 3
row "playing private dirty (MiB)" 4
row "PSS playing / idle (<= 0.75)" pss
row "private dirty playing / idle (<= 0.7)" pd
row "news back after the game (ms, <= 1000)" 5
row "processes idle" 6
row "processes playing" 7
