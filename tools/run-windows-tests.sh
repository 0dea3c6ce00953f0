#!/usr/bin/env bash
# The Windows half of the tests on Linux: the core library, the watcher, the release tool and the
# suites that need no widget, built for Windows by MinGW-w64 against the Windows side of the
# dependencies (tools/build-windows-deps.sh, which builds them once into its cache) and run by
# CTest under wine64, each suite with the test server in its own process on loopback.
# Usage: tools/run-windows-tests.sh [BUILD]   BUILD: build-windows-wine/ by default.
#        WINDOWS_TESTS_JOBS: parallel compiles and suites (2 by default); extra ctest options
#        after BUILD.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$top/build-windows-wine}"
shift || true
jobs="${WINDOWS_TESTS_JOBS:-2}"
started=$SECONDS
say() { echo "windows-tests: $*" >&2; }

deps="$("$top/tools/build-windows-deps.sh" | tail -n 1)"
say "dependencies ready in $((SECONDS - started)) s"

step=$SECONDS
mkdir -p "$build"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
(cd "$top" && cmake --preset windows-wine -B "$build" -DVESTRAHAL_WINDOWS_DEPS="$deps" \
    -DVESTRAHAL_WERROR=ON "${launcher[@]}") >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    say "the Windows build does not configure"
    exit 1
}
nice -n 19 cmake --build "$build" -j "$jobs"
say "built in $((SECONDS - step)) s"

step=$SECONDS
status=0
# Two suites at once under the one Wine server of the build's prefix, as on Linux.
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" "$@" || status=$?
# Wine's server outlives the last program by a few seconds: it is told to go now.
WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true
say "suites run under Wine in $((SECONDS - step)) s; all done in $((SECONDS - started)) s"
exit "$status"
