#!/usr/bin/env bash
# What a press of "Jouer" costs: the cache sweep against find(1) on identical copies of a cache
# of 50,000 files in 500 folders (a third of them cache files), and the time from the press to
# the game's started() with an empty cache and the fake client. BENCH_RUNS (default 5) runs.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$top/build-bench-play"
bash "$top/tools/setup.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVESTRAHAL_BUILD_BENCH=ON -DVESTRAHAL_WEB_DOMAIN=vestrahal.test >/dev/null
cmake --build "$build" --target bench_play fakegame
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
QT_QPA_PLATFORM=offscreen "$build/bench_play" 2> >(grep -v -e '^$' -e '^ ' >&2)
