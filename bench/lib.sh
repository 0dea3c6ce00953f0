# Shared by the benches that run the launcher from outside, in an Xvfb of their own, against one
# local community server (sourced, not run). The caller sets top and port, then calls
# bench_setup, bench_build_launcher and bench_start_servers; cleanup runs at exit.

work="$(mktemp -d)"
probe="" program="" server="" xserver=""
bench="$(basename "$0")"

# A command that fails where the script does not expect it stops the bench, and says where.
set -E
trap 'echo "$bench: stopped at line $LINENO: $BASH_COMMAND (exit $?)" >&2' ERR

# Runs one step of the bench within SECONDS: a step that does not end by then, or fails, stops
# the bench with the step's name.
step() { # NAME SECONDS COMMAND [ARGS...]
    local name="$1" seconds="$2" code=0
    shift 2
    timeout -k 10 "$seconds" "$@" || code=$?
    [ "$code" -ne 0 ] || return 0
    if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
        echo "$bench: $name did not end within $seconds s" >&2
    else
        echo "$bench: $name failed (exit $code)" >&2
    fi
    exit 1
}

# Setup: the project's build and demo packages, and what the benches add to them.
bench_setup() {
    step "the setup (tools/setup.sh)" 1800 bash "$top/tools/setup.sh"
    local extra=(libx11-dev procps xdotool) missing=() package
    for package in "${extra[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        step "apt-get update" 600 $sudo apt-get update -q
        step "the installation of ${missing[*]}" 1200 $sudo env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
    step "the configuration of bench/" 300 cmake -S "$top/bench" -B "$top/build-bench" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    step "the build of bench/" 1800 cmake --build "$top/build-bench"
}

# The launcher as tools/demo.sh builds it, in BUILD_DIR, with any further cache variables.
bench_build_launcher() { # BUILD_DIR [-DNAME=VALUE...]
    local dir="$1"
    shift
    step "the configuration of $dir" 300 cmake -S "$top" -B "$dir" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DVESTRAHAL_WEB_DOMAIN="127.0.0.1:$port" -DVESTRAHAL_WEB_HOST="127.0.0.1:$port" "$@" \
        >/dev/null
    step "the build of $dir" 3600 cmake --build "$dir"
}

# A player's folder, as tools/demo.sh lays it out, with the fake client as both games.
bench_player_folder() { # FOLDER LAUNCHER_EXECUTABLE FAKE_GAME
    mkdir -p "$1/wotlk/Data/frFR" "$1/cata/Data/frFR"
    cp "$2" "$1/VestrahalLauncher.exe"
    cp "$3" "$1/wotlk/Wow.exe"
    touch "$1/wotlk/kvf.vestrahal"
    printf '1\n%s\n1\n%s\n0\n |0\n |0\n |0\n1.0.0\n' "$1/wotlk" "$1/cata" >"$1/launcher.conf"
}

# The process and every process under it.
tree() {
    ps -e -o pid=,ppid= | awk -v root="$1" '{ kids[$2] = kids[$2] " " $1 }
        END { todo[1] = root; n = 1
              for (i = 1; i <= n; i++) { print todo[i]; m = split(kids[todo[i]], k, " ")
                                         for (j = 1; j <= m; j++) todo[++n] = k[j] } }'
}

# "PSS RSS PRIVATE_DIRTY PROCESSES" (MiB) summed over the given processes.
memory_of() {
    local pid
    for pid in "$@"; do cat "/proc/$pid/smaps_rollup"; done 2>/dev/null |
        awk '/^Pss:/ { pss += $2; n++ } /^Rss:/ { rss += $2 } /^Private_Dirty:/ { pd += $2 }
             END { printf "%.1f %.1f %.1f %d", pss / 1024, rss / 1024, pd / 1024, n }'
}

# The probe closes the window it watches and collects the processes under it (15 s at most); any
# of them still running after that is ended by its id.
stop() {
    local pids=""
    # Everything under the probe, the watcher a launcher left and the launcher it started again
    # included.
    [ -z "$program" ] || pids="$(tree "$probe" | grep -vx "$probe" || true)"
    kill -TERM "$probe" 2>/dev/null || true
    # The probe takes 15 s at most; a zombie is a probe that has ended.
    for _ in $(seq 300); do
        ps -o stat= -p "$probe" | grep -qv Z || break
        sleep 0.1
    done
    if ps -o stat= -p "$probe" | grep -qv Z; then
        echo "$bench: the probe did not stop within 30 s; ended" >&2
        kill -9 "$probe" 2>/dev/null || true
    fi
    wait "$probe" 2>/dev/null || true
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill $pids 2>/dev/null || true
        for _ in $(seq 50); do
            ps -o stat= -p "${pids//$'\n'/,}" | grep -qv Z || break
            sleep 0.1
        done
        # shellcheck disable=SC2086
        kill -9 $pids 2>/dev/null || true
    fi
    probe="" program=""
}
cleanup() {
    [ -z "$probe" ] || stop
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    [ -z "$xserver" ] || kill "$xserver" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The community server on $port, serving tools/site, and an X server with no window manager:
# nothing but the programs measured draws, and windows are not reparented.
bench_start_servers() { # COMMUNITY_SERVER_EXECUTABLE
    "$1" --root "$top/tools/site" --port "$port" >"$work/server.log" 2>&1 &
    server=$!
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" \
        2>&1 &
    xserver=$!
    for _ in $(seq 100); do
        grep -q listening "$work/server.log" && [ -s "$work/display" ] && break
        sleep 0.1
    done
    grep -q listening "$work/server.log" || {
        echo "$bench: the community server did not listen within 10 s" >&2
        cat "$work/server.log" >&2
        exit 1
    }
    [ -s "$work/display" ] || {
        echo "$bench: Xvfb did not start within 10 s" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    }
    DISPLAY=":$(cat "$work/display")"
    export DISPLAY
    # Qt WebEngine will not start as root with its sandbox on; the same for every program.
    [ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
}

# Starts PROGRAM under the probe from FOLDER, as NAME, and waits until its news page is on
# screen; on failure says what the probe saw and ends the bench. With probe_end set to a game's
# record, the probe's mark (SIGUSR1) ends that game and is taken at its end.
probe_end=""
start_probed() { # NAME FOLDER TIMEOUT PROGRAM [ARGS...]
    local name="$1" folder="$2" seconds="$3" out="$work/$1.out" options=()
    shift 3
    [ -z "$probe_end" ] || options=(--end "$probe_end")
    (cd "$folder" && exec "$top/build-bench/window_probe" "$seconds" "${options[@]}" -- "$@") \
        >"$out" 2>"$work/$name.err" &
    probe=$!
    for _ in $(seq $((seconds * 10 + 50))); do
        grep -qE '^probe (loaded|timeout|exited)' "$out" && break
        sleep 0.1
    done
    program="$(awk '$1 == "probe" && $2 == "pid" { print $3 }' "$out")"
    if ! grep -q '^probe loaded' "$out"; then
        echo "$name: no news page on screen:" \
            "$(grep -E '^probe (timeout|exited)' "$out" || true)" >&2
        tail -5 "$work/$name.err" >&2
        exit 1
    fi
}

# Median and min of column COLUMN of the lines of FILE.
stats() { # FILE COLUMN
    awk -v c="$2" '{ print $c }' "$1" | sort -g | awk '{ v[NR] = $1 }
        END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1] }'
}
