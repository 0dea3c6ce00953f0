#!/usr/bin/env bash
# The community's game files, each side by side with the plain tool that does the same work, in
# one run on this machine (figures reported, never asserted):
#   1. an unchanged folder of BENCH_FILES listed files (default 20000): from the list received to
#      the end of the check, against find GAMEDIR -type f -printf '%s %T@\n'
#      (target: at most 1.2 times find);
#   2. "Vérifier les fichiers" over 2 GiB in 200 files, warm cache, against one sha256sum process
#      over the same files (target: at least 1.7 times its throughput on 2 cores);
#   3. fetching 500 MiB in 50 objects from a local nginx, against curl fetching the same objects
#      one after the other (target: at most 1.0 times curl then sync; peak memory at most idle +
#      32 MiB);
#   4. fetching BENCH_SMALL objects of 4 KiB (default 20000) into an empty folder, against one curl
#      fetching the same objects over one kept-alive connection (target: at most 1.5 times curl).
#   BENCH_RUNS  runs of each (default 3); the median is reported
#   BENCH_PARTS which of the four to run (default "1 2 3 4")
#   BENCH_PORT  nginx's loopback port (default: one the system picks)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=bench/gamefiles-lib.sh
source "$top/bench/gamefiles-lib.sh"
files="${BENCH_FILES:-20000}"
parts=" ${BENCH_PARTS:-1 2 3 4} "
small="${BENCH_SMALL:-20000}"

gamefiles_setup
gamefiles_build "$build"

keys="$work/keys"
"$build/tools/vestrahal-release" keygen "$keys" >/dev/null
site="$work/site"
mkdir -p "$site"
gamefiles_start_nginx "$site"
# The site holds one list at a time: the part's own.
publish_only() { # REFERENCE [PATH...]
    rm -rf "$site/launcher/files"
    publish "$site" wotlk "$@"
}

load
if [[ "$parts" == *" 1 "* ]]; then
echo "== 1. unchanged folder of $files files"
game="$work/unchanged"
mkdir -p "$game"
for ((i = 0; i < files; i++)); do
    dir="$game/Interface/AddOns/Pack$((i / 100))"
    [ $((i % 100)) -ne 0 ] || mkdir -p "$dir"
    printf 'file %d of the package %0300d\n' "$i" "$i" >"$dir/file$i.lua"
done
touch "$game/kvf.vestrahal"
publish_only "$game"
mkdir -p "$work/launcher1"
compare_unchanged "$work/launcher1" "$game"
rm -rf "$game" "$work/launcher1"
load
fi

if [[ "$parts" == *" 2 "* ]]; then
echo "== 2. Vérifier les fichiers over 2 GiB in 200 files"
game="$work/verify"
mkdir -p "$game/Data"
size=$(((2 << 30) / 200))
for i in $(seq 200); do
    head -c "$size" /dev/urandom >"$game/Data/patch-$i.MPQ"
done
touch "$game/kvf.vestrahal"
publish_only "$game"
cat "$game"/Data/* >/dev/null # warm cache
mkdir -p "$work/launcher2"
: >"$work/ours" && : >"$work/sha"
for _ in $(seq "$runs"); do
    run_probe "$work/launcher2" "$game" hash >"$work/run"
    echo "$(field checked <"$work/run") $(field cpu <"$work/run")" >>"$work/ours"
    timed sha256sum "$game"/Data/* >>"$work/sha"
done
ours="$(median <"$work/ours")"
theirs="$(median <"$work/sha")"
bytes=$((size * 200))
echo "launcher: $(mibps "$bytes" "$ours") MiB/s (${ours} s);" \
    "sha256sum: $(mibps "$bytes" "$theirs") MiB/s (${theirs} s);" \
    "throughput ratio $(ratio "$theirs" "$ours") (target >= 1.7);" \
    "CPU: launcher $(median 2 <"$work/ours") s, sha256sum $(median 2 <"$work/sha") s"
rm -rf "$game" "$work/launcher2"
load
fi

if [[ "$parts" == *" 3 "* ]]; then
echo "== 3. fetching 500 MiB in 50 objects from nginx"
reference="$work/reference"
mkdir -p "$reference/Data"
size=$(((500 << 20) / 50))
paths=()
for i in $(seq 50); do
    head -c "$size" /dev/urandom >"$reference/Data/patch-$i.MPQ"
    paths+=("Data/patch-$i.MPQ")
done
publish_only "$reference" "${paths[@]}"
cat "$site/launcher/files/objects/"* >/dev/null # nginx serves from the cache
mapfile -t objects < <(ls "$site/launcher/files/objects")
curl_config "$work/curl" "${objects[@]}" >"$work/curl.conf"
: >"$work/ours" && : >"$work/curl-times" && : >"$work/curl-sync" && : >"$work/memory"
for _ in $(seq "$runs"); do
    rm -rf "$work/fetch" "$work/launcher3" "$work/curl"
    mkdir -p "$work/fetch" "$work/launcher3" "$work/curl"
    touch "$work/fetch/kvf.vestrahal"
    run_probe "$work/launcher3" "$work/fetch" index >"$work/run"
    grep -q '^ok 1' "$work/run" || { cat "$work/run"; exit 1; }
    echo "$(field total <"$work/run") $(field cpu <"$work/run")" >>"$work/ours"
    echo $(($(field peak_kib <"$work/run") - $(field idle_kib <"$work/run"))) >>"$work/memory"
    timed curl -s --fail -K "$work/curl.conf" >>"$work/curl-times"
    # The launcher syncs each file before it takes its name; curl then sync does the same work.
    rm -rf "$work/curl" && mkdir -p "$work/curl"
    timed bash -c 'curl -s --fail -K "$1" && sync "$2"/*' _ "$work/curl.conf" "$work/curl" >>"$work/curl-sync"
done
cmp -s "$work/fetch/Data/patch-7.MPQ" "$reference/Data/patch-7.MPQ" || echo "fetched file differs!"
ours="$(median <"$work/ours")"
theirs="$(median <"$work/curl-times")"
memory="$(median <"$work/memory")"
echo "launcher: ${ours} s ($(median 2 <"$work/ours") s CPU); curl: ${theirs} s" \
    "($(median 2 <"$work/curl-times") s CPU); ratio $(ratio "$ours" "$theirs");" \
    "curl then sync of its files: $(median <"$work/curl-sync") s, ratio $(ratio "$ours" "$(median <"$work/curl-sync")") (target <= 1.0);" \
    "peak memory above idle: $((memory / 1024)) MiB (target <= 32)"
load
fi

if [[ "$parts" == *" 4 "* ]]; then
echo "== 4. fetching $small objects of 4 KiB from nginx"
reference="$work/small"
mkdir -p "$reference/Interface"
(cd "$reference/Interface" && head -c $((4096 * small)) /dev/urandom | split -b 4096 -a 6 -d - f)
for ((pack = 0; pack * 100 < small; pack++)); do
    mkdir -p "$reference/Interface/Pack$pack"
    (cd "$reference/Interface" && mv $(printf 'f%06d ' $(seq $((pack * 100)) $((pack * 100 + 99)) | head -n $((small - pack * 100)))) "Pack$pack/")
done
publish_only "$reference"
find "$site/launcher/files/objects" -type f -exec cat {} + >/dev/null
mapfile -t objects < <(ls "$site/launcher/files/objects")
curl_config "$work/curl" "${objects[@]}" >"$work/curl.conf"
: >"$work/ours" && : >"$work/curl-times" && : >"$work/memory"
for _ in $(seq "$runs"); do
    rm -rf "$work/fetch" "$work/launcher4" "$work/curl"
    mkdir -p "$work/fetch" "$work/launcher4" "$work/curl"
    touch "$work/fetch/kvf.vestrahal"
    run_probe "$work/launcher4" "$work/fetch" index >"$work/run"
    grep -q '^ok 1' "$work/run" || { cat "$work/run"; exit 1; }
    echo "$(field total <"$work/run") $(field cpu <"$work/run")" >>"$work/ours"
    echo $(($(field peak_kib <"$work/run") - $(field idle_kib <"$work/run"))) >>"$work/memory"
    # One curl, one connection kept alive from the first object to the last.
    timed curl -s --fail -K "$work/curl.conf" >>"$work/curl-times"
done
count="$(find "$work/fetch" -type f | wc -l)"
[ "$count" -eq $((small + 1)) ] || echo "the launcher left $count files instead of $((small + 1))!"
ours="$(median <"$work/ours")"
theirs="$(median <"$work/curl-times")"
echo "launcher: ${ours} s ($(median 2 <"$work/ours") s CPU); one curl over one connection:" \
    "${theirs} s ($(median 2 <"$work/curl-times") s CPU); ratio $(ratio "$ours" "$theirs")" \
    "(target <= 1.5); peak memory above idle: $(($(median <"$work/memory") / 1024)) MiB"
load
fi
