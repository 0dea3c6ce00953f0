#!/usr/bin/env bash
# A fresh install of the community's client from a local nginx, side by side with curl, in one run
# on this machine (figures reported, never asserted):
#   1. installing a client-like set of BENCH_MIB MiB (default 2048) in BENCH_COUNT files (default
#      300: five archives of hundreds of MiB, a few files of some MiB, many small ones; random
#      bytes) into an empty folder, against curl fetching the same objects one after the other
#      then sync, and against curl alone (targets: at most 1.1 times curl then sync and 1.3 times
#      curl; peak memory at most idle + 32 MiB);
#   2. the same install by builds of the launcher that fetch BENCH_LANES objects at once (default
#      "1 2 4 8"; the launcher's own number among them), in the same rounds;
#   3. the folder just installed, unchanged: the launcher's check against find (target: at most
#      1.2 times find);
#   4. installing a set of BENCH_LIMITED_MB MB (default 100) with a speed limit of 5 Mo/s
#      (5,000,000 bytes a second): the average over the install, and the least and most over any
#      10 s (target: within 10 % of the limit);
#   5. what one nginx on a 1 Gbit/s line serves in a day, from nginx's CPU time in part 1.
# Each round runs every side once, in a turning order; before every run the page cache is dropped
# (as root; the bench says when it cannot) while the published objects stay in memory (a process
# holds them mapped): nginx serves from memory, as a busy server does, and no side meets the
# writeback of the run before.
#   BENCH_RUNS  measured rounds (default 3, after one unmeasured install); medians and spreads
#   BENCH_PORT  nginx's loopback port (default: one the system picks)
# The sets are made once, with their published site, in build-bench-gamefiles/install-cache.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=bench/gamefiles-lib.sh
source "$top/bench/gamefiles-lib.sh"
mib="${BENCH_MIB:-2048}"
count="${BENCH_COUNT:-300}"
read -r -a lane_counts <<<"${BENCH_LANES:-1 2 4 8}"
limited_mb="${BENCH_LIMITED_MB:-100}"
limit=5000000
# The community's client as players install it, in bytes, for the figure of installs a day.
client_bytes=15200000000
line_bytes_per_second=125000000 # 1 Gbit/s

holder_pid=""
cleanup() {
    [ -z "$holder_pid" ] || kill "$holder_pid" 2>/dev/null || true
    gamefiles_cleanup
}
trap cleanup EXIT

gamefiles_setup
gamefiles_build "$build"

# The sets: "PATH SIZE" lines of TOTAL bytes in FILES files, as a client lays them out: five
# archives hold 87 % of it, a twelfth of the files 9 % (some MiB each), the rest 4 %, from a few
# KiB to under 1 MiB at 2 GiB.
layout() { # TOTAL FILES
    awk -v total="$1" -v files="$2" 'BEGIN {
        split("Data/common.MPQ Data/common-2.MPQ Data/expansion.MPQ Data/lichking.MPQ Data/frFR/locale-frFR.MPQ", archive, " ")
        split("0.30 0.20 0.15 0.12 0.10", share, " ")
        for (i = 1; i <= 5; i++) printf "%s %.0f\n", archive[i], int(total * share[i])
        medium = int(files / 12); small = files - 5 - medium
        for (i = 0; i < medium; i++) m += i % 5 + 1
        for (i = 0; i < medium; i++)
            printf "Data/frFR/patch-frFR-%d.MPQ %.0f\n", i + 1, int(total * 0.09 * (i % 5 + 1) / m)
        for (i = 0; i < small; i++) s += (i * 37) % 100 + 1
        for (i = 0; i < small; i++)
            printf "Interface/Pack%d/file%d.blp %.0f\n", int(i / 30), i, int(total * 0.04 * ((i * 37) % 100 + 1) / s)
    }'
}
cache="$build/install-cache"
# Made once: the mark of a whole set lies beside it (a file in it would be published).
make_set() { # FOLDER TOTAL FILES
    [ -e "$1.complete" ] && return 0
    rm -rf "$1"
    local path size
    while read -r path size; do
        mkdir -p "$1/$(dirname "$path")"
        head -c "$size" /dev/urandom >"$1/$path"
    done < <(layout "$2" "$3")
    touch "$1.complete"
}
set_folder="$cache/wotlk-$((mib << 20))-$count"
limited_folder="$cache/cataclysm-$((limited_mb * 1000000))-60"
echo "making the sets (once): $set_folder, $limited_folder"
mkdir -p "$cache"
make_set "$set_folder" $((mib << 20)) "$count"
make_set "$limited_folder" $((limited_mb * 1000000)) 60
keys="$cache/keys"
[ -s "$keys/update.pub" ] || "$build/tools/vestrahal-release" keygen "$keys" >/dev/null
site="$cache/site"
published="$(basename "$set_folder") $(basename "$limited_folder")"
if [ "$(cat "$site/.published" 2>/dev/null)" != "$published" ]; then
    rm -rf "$site"
    mkdir -p "$site"
    publish "$site" wotlk "$set_folder"
    publish "$site" cataclysm "$limited_folder"
    echo "$published" >"$site/.published"
fi
# What each list names, "PATH SIZE" sorted, and its objects.
listing() { # CLIENT
    python3 -c 'import json, sys
for f in json.load(open(sys.argv[1]))["files"]: print(f["path"], f["size"])' \
        "$site/launcher/files/$1/manifest.json" | sort
}
listing wotlk >"$work/wotlk.list"
listing cataclysm >"$work/cataclysm.list"
mapfile -t objects < <(python3 -c 'import json, sys
for f in json.load(open(sys.argv[1]))["files"]: print(f["sha256"])' \
    "$site/launcher/files/wotlk/manifest.json")
bytes="$(awk '{ n += $2 } END { printf "%.0f", n }' "$work/wotlk.list")"
limited_bytes="$(awk '{ n += $2 } END { printf "%.0f", n }' "$work/cataclysm.list")"
curl_config "$work/curl" "${objects[@]}" >"$work/curl.conf"

gamefiles_start_nginx "$site"
# The published objects stay in memory whatever drops the cache: a mapped page is never dropped.
python3 -c 'import mmap, os, signal, sys
held = []
for path in sys.argv[1:]:
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        if size:
            m = mmap.mmap(f.fileno(), size, access=mmap.ACCESS_READ)
            for offset in range(0, size, mmap.PAGESIZE):
                m[offset]
            held.append(m)
print("held", flush=True)
signal.pause()' "$site/launcher/files/objects/"* >"$work/held" &
holder_pid=$!
for _ in $(seq 1200); do
    grep -q held "$work/held" && break
    sleep 0.1
done
grep -q held "$work/held" || { echo "install.sh: the objects were not in memory within 120 s" >&2; exit 1; }

dropped=no
fresh_state() {
    rm -rf "$work/game" "$work/launcher" "$work/curl"
    sync
    if echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then dropped=yes; else dropped=no; fi
}
ticks="$(getconf CLK_TCK)"
nginx_cpu() { awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$nginx_pid/stat"; }

# A folder holds the listed files, with their listed sizes, its marker and nothing else.
check_installed() { # FOLDER CLIENT
    [ -f "$1/kvf.vestrahal" ] || { echo "install.sh: no marker in the installed folder" >&2; exit 1; }
    find "$1" -type f ! -path "$1/kvf.vestrahal" -printf '%P %s\n' | sort >"$work/installed.list"
    cmp -s "$work/installed.list" "$work/$2.list" || {
        echo "install.sh: the installed folder does not hold the listed files:" >&2
        diff "$work/$2.list" "$work/installed.list" | head >&2
        exit 1
    }
}

# An install by PROBE into an empty folder, its lines in $work/run: a launcher that installs is
# given the folder as it is; one that does not yet fetches into a folder that holds only the
# marker, which is everything. One that does not end within SECONDS stops the bench.
install_mode=""
install_run() { # PROBE CLIENT SECONDS [PROBE_OPTIONS...]
    local probe="$1" client="$2" seconds="$3" code=0
    shift 3
    fresh_state
    mkdir -p "$work/game" "$work/launcher"
    [ "$install_mode" != marker ] || touch "$work/game/kvf.vestrahal"
    timeout -k 10 "$seconds" "$probe" "$port" "$(cat "$keys/update.pub")" "$work/launcher" \
        "$work/game" install --client "$client" "$@" >"$work/run" || code=$?
    if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
        echo "install.sh: an install of $client by $probe did not end within $seconds s" >&2
        exit 1
    fi
}
# The install just run said it went well, and the folder holds the client.
installed_well() { # CLIENT
    grep -q '^ok 1' "$work/run" || { echo "install.sh: the install failed:" >&2; cat "$work/run" >&2; exit 1; }
    check_installed "$work/game" "$1"
}

echo "== an install into an empty folder"
install_mode=install
install_run "$build/gamefiles_probe" cataclysm 600
if [ "$(field installed <"$work/run")" = 1 ] && [ -f "$work/game/kvf.vestrahal" ]; then
    installed_well cataclysm
    echo "the launcher installs into an empty folder; its marker came last"
else
    install_mode=marker
    echo "this launcher does not install yet: every install below fetches into a folder that holds" \
        "only the marker"
fi
own_lanes="$(field lanes <"$work/run")"

# The launcher's own build, and one for every other number of lanes.
declare -A probes
for lanes in "${lane_counts[@]}"; do
    if [ "$lanes" = "$own_lanes" ]; then
        probes[$lanes]="$build/gamefiles_probe"
    else
        echo "building the probe that fetches $lanes at once in $build-lanes$lanes"
        gamefiles_build "$build-lanes$lanes" -DVESTRAHAL_BENCH_LANES="$lanes" >/dev/null
        probes[$lanes]="$build-lanes$lanes/gamefiles_probe"
    fi
done

load
echo "== 1, 2. installing $(mibps "$bytes" 1) MiB in $(wc -l <"$work/wotlk.list") files ($count asked)"
sides=(own curl-sync curl)
for lanes in "${lane_counts[@]}"; do
    [ "$lanes" = "$own_lanes" ] || sides+=("lanes$lanes")
done
engine_side() { # SIDE OUT_FILE [RUN_LABEL]
    local lanes="${1#lanes}" before after
    [ "$1" != own ] || lanes="$own_lanes"
    before="$(nginx_cpu)"
    install_run "${probes[$lanes]}" wotlk 1800
    after="$(nginx_cpu)"
    installed_well wotlk
    echo "$(field total <"$work/run") $(field cpu <"$work/run")" \
        "$(($(field peak_kib <"$work/run") - $(field idle_kib <"$work/run")))" \
        "$(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.3f", b - a }')" >>"$2"
    if [ "$1" = own ]; then
        # The last install of the launcher's own build is the unchanged folder of part 3.
        rm -rf "$work/installed" "$work/installed-launcher"
        mv "$work/game" "$work/installed" && mv "$work/launcher" "$work/installed-launcher"
    fi
}
curl_side() { # sync|nosync OUT_FILE
    local before after
    fresh_state
    mkdir -p "$work/curl"
    before="$(nginx_cpu)"
    if [ "$1" = sync ]; then
        # The launcher syncs each file before it takes its name; curl then sync does the same work.
        timed bash -c 'curl -s --fail -K "$1" && sync "$2"/*' _ "$work/curl.conf" "$work/curl" \
            >"$work/time" || { echo "install.sh: curl then sync failed" >&2; exit 1; }
    else
        timed curl -s --fail -K "$work/curl.conf" >"$work/time" ||
            { echo "install.sh: curl failed" >&2; exit 1; }
    fi
    after="$(nginx_cpu)"
    [ "$(find "$work/curl" -type f | wc -l)" -eq "${#objects[@]}" ] ||
        { echo "install.sh: curl did not fetch every object" >&2; exit 1; }
    echo "$(cat "$work/time") 0 $(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.3f", b - a }')" >>"$2"
}
run_side() { # SIDE OUT_FILE
    case "$1" in
    curl-sync) curl_side sync "$2" ;;
    curl) curl_side nosync "$2" ;;
    *) engine_side "$1" "$2" ;;
    esac
}

run_side own /dev/null # unmeasured
for side in "${sides[@]}"; do : >"$work/side-$side"; done
for ((round = 0; round < runs; round++)); do
    for ((i = 0; i < ${#sides[@]}; i++)); do
        side="${sides[$(((i + round) % ${#sides[@]}))]}"
        run_side "$side" "$work/side-$side"
    done
done
if [ "$dropped" = yes ]; then
    echo "(the page cache was dropped before each run, the published objects kept in memory)"
else
    echo "(the page cache could not be dropped between runs: not root)"
fi
ours="$(median <"$work/side-own")"
synced="$(median <"$work/side-curl-sync")"
plain="$(median <"$work/side-curl")"
echo "launcher ($own_lanes lanes): ${ours} s ($(spread <"$work/side-own") s;" \
    "$(mibps "$bytes" "$ours") MiB/s; $(median 2 <"$work/side-own") s CPU);" \
    "curl then sync: ${synced} s ($(spread <"$work/side-curl-sync") s), ratio $(ratio "$ours" "$synced") (target <= 1.1);" \
    "curl: ${plain} s ($(spread <"$work/side-curl") s; $(median 2 <"$work/side-curl") s CPU)," \
    "ratio $(ratio "$ours" "$plain") (target <= 1.3)"
echo "peak memory above idle: $(($(median 3 <"$work/side-own") / 1024)) MiB" \
    "($(spread 3 <"$work/side-own") KiB; target <= 32 MiB)"
for lanes in "${lane_counts[@]}"; do
    side="lanes$lanes"
    [ "$lanes" != "$own_lanes" ] || side=own
    m="$(median <"$work/side-$side")"
    echo "  $lanes at once: ${m} s ($(spread <"$work/side-$side") s), ratio to curl then sync" \
        "$(ratio "$m" "$synced"), to curl $(ratio "$m" "$plain");" \
        "$(median 2 <"$work/side-$side") s CPU; peak above idle $(($(median 3 <"$work/side-$side") / 1024)) MiB"
done
load

echo "== 3. the folder just installed, unchanged"
compare_unchanged "$work/installed-launcher" "$work/installed"
rm -rf "$work/installed" "$work/installed-launcher"
load

echo "== 4. installing $(awk -v n="$limited_bytes" 'BEGIN { printf "%.0f", n / 1e6 }') MB with a limit of 5 Mo/s"
: >"$work/limited"
for _ in $(seq "$runs"); do
    install_run "$build/gamefiles_probe" cataclysm 600 --limit "$limit"
    installed_well cataclysm
    awk -v n="$(field fetched_bytes <"$work/run")" -v t="$(field fetch_seconds <"$work/run")" \
        -v lo="$(field window_min_bps <"$work/run")" -v hi="$(field window_max_bps <"$work/run")" \
        'function mo(v) { return v < 0 ? -1 : v / 1e6 }
         BEGIN { printf "%.3f %.3f %.3f\n", (t > 0 ? n / t : 0) / 1e6, mo(lo), mo(hi) }' >>"$work/limited"
done
average="$(median <"$work/limited")"
echo "average over the fetch: ${average} Mo/s ($(spread <"$work/limited") Mo/s over the runs);" \
    "over any 10 s: least $(median 2 <"$work/limited"), most $(median 3 <"$work/limited") Mo/s" \
    "(medians; -1: the fetch took under 10 s);" \
    "$(awk -v a="$average" 'BEGIN { d = (a - 5) / 5 * 100; printf "%+.0f %% from 5 Mo/s (target within 10 %%)", d
                                      if (a > 10) printf "; this build does not limit its speed yet" }')"
load

echo "== 5. one nginx on a 1 Gbit/s line"
# nginx's CPU time for the objects sent to curl gives the bytes it sends for each second of one core.
nginx_seconds="$(median 4 <"$work/side-curl")"
awk -v bytes="$bytes" -v cpu="$nginx_seconds" -v line="$line_bytes_per_second" \
    -v client="$client_bytes" -v ours="$ours" -v plain="$plain" 'BEGIN {
    per_core = cpu > 0 ? bytes / cpu : 1e18
    served = per_core < line ? per_core : line
    printf "nginx (one process, tools/nginx/launcher.conf) sent %.0f MB/s to curl and %.0f MB for each second of its CPU (%.2f s for %.0f MB)\n",
        bytes / plain / 1e6, per_core / 1e6, cpu, bytes / 1e6
    printf "a 1 Gbit/s line carries %.0f MB/s: ", line / 1e6
    if (per_core >= line) printf "the line is the limit (nginx needs %.0f %% of one core for it)\n", line / per_core * 100
    else printf "one core of nginx is the limit\n"
    printf "one nginx on it serves %.3g bytes a day = %.0f installs of a 15,2 Go client a day\n",
        served * 86400, served * 86400 / client
    rate = bytes / ours
    if (rate >= line) printf "the launcher installed at %.0f MB/s here: one install alone can fill the line\n", rate / 1e6
    else printf "the launcher installed at %.0f MB/s here: %.1f such installs at once fill the line\n", rate / 1e6, line / rate
}'
load
