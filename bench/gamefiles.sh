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
build="$top/build-bench-gamefiles"
runs="${BENCH_RUNS:-3}"
files="${BENCH_FILES:-20000}"
# A loopback port the system picks, unless one is given.
port="${BENCH_PORT:-$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}"
parts=" ${BENCH_PARTS:-1 2 3 4} "
small="${BENCH_SMALL:-20000}"

bash "$top/tools/setup.sh"
command -v curl >/dev/null || {
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends curl
}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVESTRAHAL_BUILD_BENCH=ON -DVESTRAHAL_WEB_DOMAIN=vestrahal.test >/dev/null
cmake --build "$build" --target gamefiles_probe vestrahal-release
probe="$build/gamefiles_probe"
release="$build/tools/vestrahal-release"

work="$(mktemp -d)"
nginx_pid=""
cleanup() {
    [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$release" keygen "$work/keys" >/dev/null
key="$(cat "$work/keys/update.pub")"
site="$work/site"
mkdir -p "$site" "$work/nginx"
sed -e "s|@PORT@|$port|" -e "s|@ROOT@|$site|" -e "s|@PREFIX@|$work/nginx|" \
    -e "s|@LOCATIONS@|$top/tools/nginx/launcher.conf|" \
    "$top/tools/nginx/test-nginx.conf.in" >"$work/nginx/nginx.conf"
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
done

# "SECONDS CPU_SECONDS" that COMMAND takes (wall clock, then user and system time), its output
# dropped. Other programs share this machine's 2 cores: the CPU time shows the work itself.
timed() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}
median() { awk -v c="${1:-1}" '{ print $c }' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
field() { awk -v f="$1" '$1 == f { print $2 }'; }
# Runs the probe over GAME with its index in LAUNCHER_DIR; prints its lines.
run_probe() { # LAUNCHER_DIR GAME index|hash
    "$probe" "$port" "$key" "$1" "$2" "$3"
}
publish() { # REFERENCE [PATH...]
    local reference="$1"
    shift
    rm -rf "$site/launcher/files"
    "$release" files --key "$work/keys/update.key" --client wotlk "$reference" \
        "$site/launcher/files" "$@" >/dev/null
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mibps() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", n / t / 1048576 }'; }

# The machine's other work shows in the figures: its load is told beside each part.
load() { echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"; }
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
publish "$game"
mkdir -p "$work/launcher1"
run_probe "$work/launcher1" "$game" index | grep -q '^ok 1' # the first check builds the index
: >"$work/ours" && : >"$work/find"
for _ in $(seq "$runs"); do
    run_probe "$work/launcher1" "$game" index >"$work/run"
    echo "$(field checked <"$work/run") $(field cpu <"$work/run")" >>"$work/ours"
    timed find "$game" -type f -printf '%s %T@\n' >>"$work/find"
done
ours="$(median <"$work/ours")"
theirs="$(median <"$work/find")"
echo "launcher, list received to end of check: ${ours} s (whole run $(median 2 <"$work/ours") s CPU);" \
    "find: ${theirs} s ($(median 2 <"$work/find") s CPU); ratio $(ratio "$ours" "$theirs") (target <= 1.2)"
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
publish "$game"
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
publish "$reference" "${paths[@]}"
cat "$site/launcher/files/objects/"* >/dev/null # nginx serves from the cache
urls=()
for object in "$site/launcher/files/objects/"*; do
    urls+=(-o "$work/curl/$(basename "$object")" "http://127.0.0.1:$port/launcher/files/objects/$(basename "$object")")
done
: >"$work/ours" && : >"$work/curl-times" && : >"$work/curl-sync" && : >"$work/memory"
for _ in $(seq "$runs"); do
    rm -rf "$work/fetch" "$work/launcher3" "$work/curl"
    mkdir -p "$work/fetch" "$work/launcher3" "$work/curl"
    touch "$work/fetch/kvf.vestrahal"
    run_probe "$work/launcher3" "$work/fetch" index >"$work/run"
    grep -q '^ok 1' "$work/run" || { cat "$work/run"; exit 1; }
    echo "$(field total <"$work/run") $(field cpu <"$work/run")" >>"$work/ours"
    echo $(($(field peak_kib <"$work/run") - $(field idle_kib <"$work/run"))) >>"$work/memory"
    timed curl -s --fail "${urls[@]}" >>"$work/curl-times"
    # The launcher syncs each file before it takes its name; curl then sync does the same work.
    rm -rf "$work/curl" && mkdir -p "$work/curl"
    timed bash -c 'curl -s --fail "$@" && sync "$(dirname "$2")"/*' _ "${urls[@]}" >>"$work/curl-sync"
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
publish "$reference"
find "$site/launcher/files/objects" -type f -exec cat {} + >/dev/null
: >"$work/curl.conf"
for object in "$site/launcher/files/objects/"*; do
    printf 'url = "http://127.0.0.1:%s/launcher/files/objects/%s"\noutput = "%s"\n' \
        "$port" "$(basename "$object")" "$work/curl/$(basename "$object")" >>"$work/curl.conf"
done
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
