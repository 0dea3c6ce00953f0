#!/usr/bin/env bash
# Builds the launcher with clang's AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/, runs under them the suites that do not start Qt WebEngine (its own processes
# are not built for the sanitizers), then runs each fuzz target for a fixed number of inputs
# from its committed seed corpus. Any finding fails the run.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$top/build-sanitize"
fuzz_runs="${FUZZ_RUNS:-200000}"
suites=(tst_config tst_gamefolder tst_resources tst_httpclient tst_gamefiles tst_downloadprogress
    tst_gamewatcher)

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVESTRAHAL_SANITIZE=ON -DVESTRAHAL_WERROR=ON \
    -DVESTRAHAL_WEB_DOMAIN=vestrahal.test \
    -DVESTRAHAL_LOGON_HOST=logon.vestrahal.test \
    -DVESTRAHAL_OFFICIAL_LOGON_HOST=logon.officiel.test \
    -DVESTRAHAL_PARTNER_LOGON_HOST=logon.brontavale.test
cmake --build "$build" --target "${suites[@]}" fuzz_config fuzz_update fuzz_manifest

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
pattern="^($(IFS='|'; echo "${suites[*]}"))\$"
# Two suites at once, as in tools/run-tests.sh: they wait far more than they compute.
ctest --test-dir "$build" --output-on-failure --no-tests=error -R "$pattern" -j 2

# A finding (crash-*, leak-*, timeout-*) is written under the build folder, never in the clone:
# keep it as a seed of its target's corpus, named for what it holds, once the fault is mended.
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
for target in config update manifest; do
    # New inputs go to a scratch folder: the committed corpus only changes by hand.
    scratch="$(mktemp -d)"
    "$build/fuzz_$target" -runs="$fuzz_runs" -seed=1 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$scratch" "$top/tests/fuzz/corpus/$target"
    rm -rf "$scratch"
done
