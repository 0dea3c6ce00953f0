#!/usr/bin/env bash
# What a press of "Jouer" costs: the cache sweep against find(1) on identical copies of a cache
# of 50,000 files in 500 folders (a third of them cache files), and the time from the press to
# the game's started() with an empty cache and the fake client. BENCH_RUNS (default 5) runs.
# Each step has a bound of its own (bench_play's own steps: 30 s for a game to start, 60 s for
# the window to be ready after it, 120 s for a find); BENCH_TIMEOUT bounds the whole measured run
# (default 1800 s).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$top/build-bench-play"
# shellcheck source=bench/lib.sh
. "$top/bench/lib.sh"
step "the setup (tools/setup.sh)" 1800 bash "$top/tools/setup.sh"
step "the configuration of $build" 300 cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVESTRAHAL_BUILD_BENCH=ON \
    -DVESTRAHAL_WEB_DOMAIN=vestrahal.test >/dev/null
step "the build of bench_play" 3600 cmake --build "$build" --target bench_play fakegame
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
# Its error output is shown once it has ended, the engine's blank and indented lines left out:
# the engine's helpers may hold a pipe open after the bench itself has gone.
status=0
(QT_QPA_PLATFORM=offscreen step "bench_play" "${BENCH_TIMEOUT:-1800}" "$build/bench_play") \
    2>"$work/bench_play.err" || status=$?
grep -v -e '^$' -e '^ ' "$work/bench_play.err" >&2 || true
exit "$status"
