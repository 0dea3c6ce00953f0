# shellcheck shell=bash
# Shared by the benches of the community's game files, gamefiles.sh and install.sh (sourced, not
# run): the probe and the release tool, a local nginx serving the files as tools/nginx/launcher.conf
# has it, publishing, timing, medians and the check of an unchanged folder against find. The
# caller sets top; cleanup runs at exit (a caller's own cleanup calls gamefiles_cleanup).

build="$top/build-bench-gamefiles"
runs="${BENCH_RUNS:-3}"
# A loopback port the system picks, unless one is given.
port="${BENCH_PORT:-$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}"
work="$(mktemp -d)"
nginx_pid=""
gamefiles_cleanup() {
    [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap gamefiles_cleanup EXIT

# The project's packages and curl.
gamefiles_setup() {
    bash "$top/tools/setup.sh"
    command -v curl >/dev/null || {
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends curl
    }
}

# The probe and the release tool, built in DIR with any further cache variables; ccache keeps the
# builds that differ by one value cheap.
gamefiles_build() { # DIR [-DNAME=VALUE...]
    local dir="$1" launcher=()
    shift
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DVESTRAHAL_BUILD_BENCH=ON -DVESTRAHAL_WEB_DOMAIN=vestrahal.test "${launcher[@]}" "$@" \
        >/dev/null
    cmake --build "$dir" --target gamefiles_probe vestrahal-release
}

# nginx on $port serving ROOT, one process writing everything in a folder of its own.
gamefiles_start_nginx() { # ROOT
    mkdir -p "$work/nginx"
    sed -e "s|@PORT@|$port|" -e "s|@ROOT@|$1|" -e "s|@PREFIX@|$work/nginx|" \
        -e "s|@LOCATIONS@|$top/tools/nginx/launcher.conf|" \
        "$top/tools/nginx/test-nginx.conf.in" >"$work/nginx/nginx.conf"
    nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
        sleep 0.1
    done
    echo "$(basename "$0"): nginx did not answer within 10 s" >&2
    cat "$work/nginx/error.log" >&2
    exit 1
}

# "SECONDS CPU_SECONDS" that COMMAND takes (wall clock, then user and system time), its output
# dropped. Other programs share this machine's 2 cores: the CPU time shows the work itself.
timed() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}
median() { awk -v c="${1:-1}" '{ print $c }' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
# "least-most" of column COLUMN: the spread of the runs beside their median.
spread() { awk -v c="${1:-1}" '{ print $c }' | sort -g | awk 'NR == 1 { a = $1 } { b = $1 } END { print a "-" b }'; }
field() { awk -v f="$1" '$1 == f { print $2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
mibps() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", n / t / 1048576 }'; }

# The probe ($probe, built above unless set) over GAME with its index in LAUNCHER_DIR, against the
# site published with $keys; prints its lines.
run_probe() { # LAUNCHER_DIR GAME index|hash|install [--client NAME] [--limit BYTES_PER_SECOND]
    "${probe:-$build/gamefiles_probe}" "$port" "$(cat "$keys/update.pub")" "$@"
}
# Publishes the named files of REFERENCE (all of them when none is named) as CLIENT's list in
# SITE, signed with $keys.
publish() { # SITE CLIENT REFERENCE [PATH...]
    local site="$1" client="$2" reference="$3"
    shift 3
    "$build/tools/vestrahal-release" files --key "$keys/update.key" --client "$client" \
        "$reference" "$site/launcher/files" "$@" >/dev/null
}
# A curl config that fetches the named objects into DIR, one after the other over one kept-alive
# connection (curl -K).
curl_config() { # DIR SHA256...
    local dir="$1" object
    shift
    for object in "$@"; do
        printf 'url = "http://127.0.0.1:%s/launcher/files/objects/%s"\noutput = "%s"\n' \
            "$port" "$object" "$dir/$object"
    done
}

# The machine's other work shows in the figures: its load is told beside each part.
load() { echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"; }

# The launcher's check of GAME, unchanged since its index in LAUNCHER_DIR was written, against
# find GAME -type f -printf '%s %T@\n', $runs times each, alternating; prints both medians.
compare_unchanged() { # LAUNCHER_DIR GAME
    run_probe "$1" "$2" index | grep -q '^ok 1' # the first check builds the index, or warms up
    : >"$work/unchanged-ours" && : >"$work/unchanged-find"
    for _ in $(seq "$runs"); do
        run_probe "$1" "$2" index >"$work/unchanged-run"
        echo "$(field checked <"$work/unchanged-run") $(field cpu <"$work/unchanged-run")" \
            >>"$work/unchanged-ours"
        timed find "$2" -type f -printf '%s %T@\n' >>"$work/unchanged-find"
    done
    local ours theirs
    ours="$(median <"$work/unchanged-ours")"
    theirs="$(median <"$work/unchanged-find")"
    echo "launcher, list received to end of check: ${ours} s (whole run" \
        "$(median 2 <"$work/unchanged-ours") s CPU); find: ${theirs} s" \
        "($(median 2 <"$work/unchanged-find") s CPU); ratio $(ratio "$ours" "$theirs") (target <= 1.2)"
}
