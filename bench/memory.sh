#!/usr/bin/env bash
# What the launcher holds while the game runs, and how soon it is back after the game, side by
# side in one run:
#   watcher     the launcher as built: its window's process ends once the game runs, its watcher
#               (VestrahalWatcher.exe) holds the game and starts the launcher again at its end;
#   in-process  the same launcher built with -DVESTRAHAL_GAME_WATCHER=OFF, the launcher before the
#               watcher: minimised while the game runs, its news page let go meanwhile;
#   bare        a bare QWebEngineView of the same news page (bench/bare_webview.cpp): its start
#               is the floor of any launcher's way back.
# The launchers start from the same player's folder, against one local community server, in an
# Xvfb of their own, BENCH_RUNS times each, alternating. The game is a shell script that records
# its start and waits, asleep, until it is asked to end (SIGTERM): it shares no library with the
# launcher's processes, so their PSS is what they would weigh beside a real game (Wine's).
#
# Each run, measured from outside by bench/window_probe.cpp (the start-up benchmark's probe) and
# /proc; the probe is the subreaper of whatever the launcher leaves running:
#   idle     BENCH_SETTLE seconds after the news page is on screen: PSS and private dirty memory
#            summed over every process under the probe (the launcher and its QtWebEngineProcess
#            helpers).
#   playing  "Jouer" pressed with the mouse; BENCH_PLAYING seconds after the game has started,
#            the same sums over every process under the probe but the game: the watcher, or the
#            minimised launcher and its helpers, and anything else still alive.
#   back     the game ended by the probe, which takes its mark at the moment the system has the
#            game gone: milliseconds from there until a launcher window is on screen again
#            ("shown"), and until the news page is in it ("news"), as the probe sees the screen
#            (every 3 ms).
# Then one more game with the watcher: the watcher's CPU time over BENCH_CPU seconds of play.
# Targets, reported only: while the game runs at most 8 MiB PSS and 4 MiB private dirty, the
# window back within 0.8 s of the game's end and its news within 1.5 s, the watcher at 0 % CPU.
# There is no window manager: the in-process launcher's minimised window stays mapped, so its
# "shown" is 0 and its "news" the time to load the page again.
#   BENCH_RUNS     measured runs of each (default 3), after one unmeasured warm-up each
#   BENCH_SETTLE   seconds between the news on screen and the idle sample (default 3)
#   BENCH_PLAYING  seconds between the game's start and the playing sample (default 10)
#   BENCH_CPU      seconds of play over which the watcher's CPU time is taken (default 60)
#   BENCH_TIMEOUT  seconds a start may take to show the news (default 60)
#   DEMO_PORT      the news server's port, built into the launchers (default 47680)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${BENCH_RUNS:-3}"
settle="${BENCH_SETTLE:-3}"
playing="${BENCH_PLAYING:-10}"
cpu_seconds="${BENCH_CPU:-60}"
timeout="${BENCH_TIMEOUT:-60}"
port="${DEMO_PORT:-47680}"

# shellcheck source=bench/lib.sh
. "$top/bench/lib.sh"
bench_setup
bench_build_launcher "$top/build-demo"
bench_build_launcher "$top/build-bench-inprocess" -DVESTRAHAL_GAME_WATCHER=OFF
bench_player_folder "$work/watcher" "$top/build-demo/VestrahalLauncher.exe" \
    "$top/build-demo/tools/fakegame"
bench_player_folder "$work/in-process" "$top/build-bench-inprocess/VestrahalLauncher.exe" \
    "$top/build-demo/tools/fakegame"
for name in watcher in-process; do
    cat >"$work/$name/wotlk/Wow.exe" <<'GAME'
#!/bin/sh
cd "$(dirname "$0")"
sleep 2147483647 &
asleep=$!
trap 'kill $asleep; exit 0' TERM
printf '{"pid": %s}\n' "$$" >Wow.exe.started.json.part && mv Wow.exe.started.json.part Wow.exe.started.json
wait $asleep
GAME
    chmod 755 "$work/$name/wotlk/Wow.exe"
done
bench_start_servers "$top/build-demo/tools/community_server"
url="http://127.0.0.1:$port/launcher/launcher.php"

game_pid() { sed -n 's/.*"pid": *\([0-9]*\).*/\1/p' "$1/wotlk/Wow.exe.started.json" 2>/dev/null || true; }
# The launcher's processes: all under the probe but the probe and the game.
launcher_processes() { # FOLDER
    local game
    game="$(game_pid "$1")"
    comm -23 <(tree "$probe" | grep -vx "$probe" | sort) <( ([ -z "$game" ] || tree "$game") | sort)
}
# Clicks "Jouer" where the player clicks it and waits for the game's start.
press_play() { # NAME FOLDER WINDOW
    step "$1: the click on Jouer" 10 xdotool mousemove --window "$3" 720 535 click 1
    for _ in $(seq 300); do
        [ -s "$2/wotlk/Wow.exe.started.json" ] && break
        sleep 0.1
    done
    [ -s "$2/wotlk/Wow.exe.started.json" ] ||
        { echo "$bench: $1: the game did not start within 30 s of the click" >&2; exit 1; }
}

# Has the probe end the game, its mark taken at the game's end, and waits for the news back on
# screen.
end_game() { # NAME
    local out="$work/$1.out" marks
    marks="$(grep -c '^probe mark' "$out" || true)"
    kill -USR1 "$probe"
    for _ in $(seq $((timeout * 10))); do
        [ "$(grep -c '^probe again' "$out" || true)" -gt "$marks" ] && return 0
        grep -q '^probe unended' "$out" &&
            { echo "$bench: $1: the probe could not end the game" >&2; exit 1; }
        sleep 0.1
    done
    echo "$bench: $1: the news was not back on screen within $timeout s of the game's end:" \
        "$(grep -E '^probe (ending|mark|reshown)' "$out" | tr '\n' ' ')" >&2
    exit 1
}

# One run of NAME: appends "idle-pss idle-pd playing-pss playing-pd playing-rss shown-ms news-ms
# processes-idle processes-playing" to $work/NAME.runs, or nothing when KEEP is 0.
measure() {
    local name="$1" keep="$2" folder="$work/$1" out="$work/$1.out" window idle busy mark shown again
    rm -f "$folder/wotlk/Wow.exe.started.json"
    probe_end="$folder/wotlk/Wow.exe.started.json"
    start_probed "$name" "$folder" "$timeout" ./VestrahalLauncher.exe
    probe_end=""
    window="$(awk '$1 == "probe" && $2 == "window" { print $3 }' "$out")"
    sleep "$settle"
    # shellcheck disable=SC2046
    idle="$(memory_of $(launcher_processes "$folder"))"
    press_play "$name" "$folder" "$window"
    sleep "$playing"
    # shellcheck disable=SC2046
    busy="$(memory_of $(launcher_processes "$folder"))"
    end_game "$name"
    mark="$(awk '$1 == "probe" && $2 == "mark" { print $3 }' "$out")"
    shown="$(awk '$1 == "probe" && $2 == "reshown" { print $3 }' "$out")"
    again="$(awk '$1 == "probe" && $2 == "again" { print $3 }' "$out")"
    [ -n "$again" ] || { echo "$name: the news did not come back" >&2; exit 1; }
    stop
    read -r ipss _ ipd iproc <<<"$idle"
    read -r bpss brss bpd bproc <<<"$busy"
    [ "$keep" -eq 0 ] || echo "$ipss $ipd $bpss $bpd $brss $(awk -v s="$shown" -v a="$again" \
        -v m="$mark" 'BEGIN { printf "%.0f %.0f", s - m, a - m }') $iproc $bproc" >>"$work/$name.runs"
}
# The bare view's start: appends "shown-ms news-ms" to $work/bare.runs.
measure_bare() {
    local keep="$1" line
    start_probed bare "$work/watcher" "$timeout" "$top/build-bench/bare_webview" "$url"
    line="$(awk '$1 == "probe" && ($2 == "shown" || $2 == "loaded") { printf "%s ", $3 }' \
        "$work/bare.out")"
    stop
    [ "$keep" -eq 0 ] || echo "$line" >>"$work/bare.runs"
}

echo "each run: idle PSS, idle private dirty, playing PSS, playing private dirty, playing RSS" \
    "(MiB), window shown, news shown after the game (ms), processes idle, processes playing"
for round in $(seq 0 "$runs"); do
    keep=$((round > 0))
    for name in watcher in-process; do
        measure "$name" "$keep"
        [ "$keep" -eq 0 ] || echo "run $round/$runs $name: $(tail -1 "$work/$name.runs")"
    done
    measure_bare "$keep"
    [ "$keep" -eq 0 ] || echo "run $round/$runs bare start: $(tail -1 "$work/bare.runs")"
done

# The watcher's CPU over a long stretch of play: clock ticks of the process, user and system.
folder="$work/watcher"
rm -f "$folder/wotlk/Wow.exe.started.json"
probe_end="$folder/wotlk/Wow.exe.started.json"
start_probed cpu "$folder" "$timeout" ./VestrahalLauncher.exe
probe_end=""
press_play cpu "$folder" "$(awk '$1 == "probe" && $2 == "window" { print $3 }' "$work/cpu.out")"
# The watcher: the process under the probe that runs a VestrahalWatcher.exe.
watcher=""
for pid in $(launcher_processes "$folder"); do
    if [ "$(basename "$(readlink "/proc/$pid/exe" 2>/dev/null)")" = VestrahalWatcher.exe ]; then
        watcher="$pid"
    fi
done
[ -n "$watcher" ] || { echo "$bench: cpu: no watcher holds the game" >&2; exit 1; }
ticks() { awk '{ print $14 + $15 }' "/proc/$watcher/stat"; }
switches() { awk '/_ctxt_switches/ { n += $2 } END { print n }' "/proc/$watcher/status"; }
before="$(ticks) $(switches)"
sleep "$cpu_seconds"
after="$(ticks) $(switches)"
end_game cpu
stop
read -r ticks_before switches_before <<<"$before"
read -r ticks_after switches_after <<<"$after"

echo
echo "While the game runs and after it, $runs runs each (medians)"
printf '%-44s %12s %12s %12s\n' "" "watcher" "in-process" "bare start"
row() { # TITLE COLUMN [bare COLUMN]
    local values=() name
    for name in watcher in-process; do
        values+=("$(stats "$work/$name.runs" "$2" | awk '{ print $1 }')")
    done
    if [ -n "${3:-}" ]; then
        values+=("$(stats "$work/bare.runs" "$3" | awk '{ print $1 }')")
    else
        values+=("")
    fi
    printf '%-44s %12s %12s %12s\n' "$1" "${values[@]}"
}
row "idle PSS (MiB)" 1
row "idle private dirty (MiB)" 2
row "playing PSS (MiB, <= 8)" 3
row "playing private dirty (MiB, <= 4)" 4
row "playing RSS (MiB, PSS's bound)" 5
row "game's end to window shown (ms, <= 800)" 6 1
row "game's end to news shown (ms, <= 1500)" 7 2
row "processes idle" 8
row "processes playing" 9
echo "bare start: counted from its fork. The watcher over $cpu_seconds s of play:" \
    "$((ticks_after - ticks_before)) clock ticks of CPU ($(getconf CLK_TCK) a second)," \
    "$((switches_after - switches_before)) context switches"
