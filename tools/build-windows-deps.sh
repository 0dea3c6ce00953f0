#!/usr/bin/env bash
# Builds, once, the Windows side of the launcher's dependencies with MinGW-w64, from Debian's own
# source packages: Qt's base module (Core, Network, Test: the core library needs no GUI) from
# qt6-base, whose version matches the host's Qt so that the host's moc and rcc serve the cross
# build; libsodium; OpenSSL's libcrypto; libcurl over Windows' own TLS (Schannel), as the Windows
# build of the launcher uses it.
#
# Each dependency lands in a folder of its own under the cache, named after its source version,
# the compiler's and this recipe's revision: a new security release of one rebuilds that one only,
# and the next run finds the rest done. A folder appears whole or not at all (built beside it, then
# renamed). The last line printed is the list of those folders, separated by ';' (a CMake list).
#
# The sources come through a source list of its own, in a scratch folder: the system's apt
# configuration is neither read for sources nor changed.
# Usage: tools/build-windows-deps.sh     WINDOWS_DEPS_JOBS: parallel compiles (2 by default)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/vestrahal/windows-deps"
jobs="${WINDOWS_DEPS_JOBS:-2}"
host=x86_64-w64-mingw32
toolchain="$top/cmake/mingw-w64.cmake"
started=$SECONDS
say() { echo "windows-deps: $*" >&2; }

# Raise when a recipe below changes, so that its folder is built again.
declare -A recipe=([qt6-base]=1 [libsodium]=1 [openssl]=1 [curl]=2)

# What the builds need on the host: the cross compilers, wine to run the result, the host's Qt
# tools of the same version, and what unpacks and builds the sources (see tools/setup.sh).
needed=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 wine dpkg-dev qt6-base-dev qt6-base-dev-tools cmake ninja-build make perl pkg-config
    autoconf automake libtool)
missing=()
for package in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    say "installing ${missing[*]}"
    $sudo apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        "${missing[@]}" >&2
fi
host_qt="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
compiler="$("$host-gcc-posix" -dumpversion)"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/vestrahal-windows-deps.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch"/apt/{lists/partial,cache/archives/partial} "$cache"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
for suite in "debian bookworm" "debian bookworm-updates" "debian-security bookworm-security"; do
    set -- $suite
    echo "deb-src [signed-by=$keyring] http://deb.debian.org/$1 $2 main"
done >"$scratch/apt/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$scratch/apt/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$scratch/apt/lists" -o "Dir::Cache=$scratch/apt/cache"
    -o "APT::Sandbox::User=root" -q)
step=$SECONDS
offline=false
# apt-get update ends well even when no list could be fetched: the lists themselves tell.
if apt-get "${apt_options[@]}" update >"$scratch/apt/update.log" 2>&1 &&
    apt-cache "${apt_options[@]}" showsrc libsodium >/dev/null 2>&1; then
    say "source list read in $((SECONDS - step)) s"
else
    # Without the archive, what was built before still serves: only a missing one fails below.
    tail -n 3 "$scratch/apt/update.log" >&2
    say "the source list could not be read from deb.debian.org: using what was built before"
    offline=true
fi

# The versions the archive offers for a source package, newest first.
versions() {
    { apt-cache "${apt_options[@]}" showsrc "$1" 2>/dev/null || true; } |
        sed -n 's/^Version: //p' | sort -u | sort -r -V
}

folder_for() { # PACKAGE VERSION
    echo "$cache/$1-${2//[^A-Za-z0-9.+-]/_}-gcc$compiler-r${recipe[$1]}"
}

# Fetches and unpacks a source package (Debian's patches applied) into the scratch folder, as
# $tree; fails when the archive does not serve its files (a security version may be listed
# before its files reach the mirror).
fetch() { # PACKAGE VERSION
    local log="$scratch/src/$1.log"
    rm -rf "$scratch/src/$1"
    mkdir -p "$scratch/src/$1"
    if ! (cd "$scratch/src/$1" &&
        apt-get "${apt_options[@]}" source --download-only --only-source "$1=$2") >"$log" 2>&1; then
        say "$1 $2 cannot be fetched: $(grep -m1 '^E:' "$log" || true)"
        return 1
    fi
    (cd "$scratch/src/$1" && dpkg-source -x ./*.dsc tree) >>"$log" 2>&1 || {
        cat "$log" >&2
        return 1
    }
    tree="$scratch/src/$1/tree"
}

build_libsodium() { # SOURCE PREFIX
    cd "$1"
    # Debian's tarball is the project's repository, without the generated configure script.
    autoreconf -fi
    ./configure --host="$host" --prefix="$2" --enable-shared --disable-static \
        --disable-dependency-tracking CC="$host-gcc-posix" CFLAGS="-O2"
    nice -n 19 make -j"$jobs"
    make install
}

build_openssl() { # SOURCE PREFIX
    cd "$1"
    # libcrypto and libssl only (libcurl goes through Schannel; the launcher hashes with
    # libcrypto): no programs, no engines loaded from disk, no tests.
    ./Configure mingw64 --cross-compile-prefix="$host-" --prefix="$2" --libdir=lib shared \
        no-tests no-engine no-module no-legacy
    nice -n 19 make -j"$jobs" build_libs
    make install_dev
}

# Without the host's CA bundle baked in: on Windows the launcher hands libcurl the authorities it
# trusts itself.
build_curl() { # SOURCE PREFIX
    cmake -S "$1" -B "$1/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$2" -DBUILD_SHARED_LIBS=ON \
        -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DHTTP_ONLY=ON \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DCURL_USE_LIBSSH2=OFF \
        -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
        -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
    nice -n 19 cmake --build "$1/build" -j "$jobs"
    cmake --install "$1/build"
}

build_qt6-base() { # SOURCE PREFIX
    # The base module without GUI: Core, Network (Windows' TLS backend) and Test, with Qt's own
    # copies of PCRE2, zlib and double-conversion, and the host's Qt tools.
    cmake -S "$1" -B "$1/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$2" -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_gui=OFF -DFEATURE_widgets=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_sql=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF \
        -DFEATURE_openssl=OFF -DFEATURE_icu=OFF -DFEATURE_system_pcre2=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_doubleconversion=OFF -DFEATURE_glib=OFF \
        -DFEATURE_zstd=OFF -DFEATURE_brotli=OFF -DFEATURE_libproxy=OFF -DFEATURE_gssapi=OFF \
        -DFEATURE_pkg_config=OFF
    nice -n 19 cmake --build "$1/build" -j "$jobs"
    cmake --install "$1/build"
}

folders=()
for package in libsodium openssl curl qt6-base; do
    # Qt's version must be the host's; the others are the newest the archive serves, or the
    # newest already built when a newer one cannot be fetched.
    if [ "$package" = qt6-base ]; then
        candidates="$host_qt"
    elif $offline; then
        # The versions built before with this compiler and recipe, newest first.
        candidates="$(for built in "$cache/$package"-*-gcc"$compiler"-r"${recipe[$package]}"; do
            [ -d "$built" ] || continue
            built="${built#"$cache/$package"-}"
            echo "${built%-gcc"$compiler"-r"${recipe[$package]}"}"
        done | sort -r -V)"
    else
        candidates="$(versions "$package")"
    fi
    folder=""
    for version in $candidates; do
        if [ -d "$(folder_for "$package" "$version")" ]; then
            folder="$(folder_for "$package" "$version")"
            say "$package $version: $folder (built before)"
            break
        fi
        step=$SECONDS
        fetch "$package" "$version" || continue
        folder="$(folder_for "$package" "$version")"
        say "$package $version: fetched in $((SECONDS - step)) s, building into $folder"
        step=$SECONDS
        rm -rf "$folder.part"
        log="$cache/$(basename "$folder").log"
        if ! ("build_$package" "$tree" "$folder.part") >"$log" 2>&1; then
            tail -n 40 "$log" >&2
            say "$package did not build (the whole log: $log)"
            exit 1
        fi
        # The install paths inside the packages' text files name the folder they were built for.
        grep -rlIF "$folder.part" "$folder.part" 2>/dev/null | while IFS= read -r file; do
            sed -i "s|$folder\.part|$folder|g" "$file"
        done
        mv "$folder.part" "$folder"
        say "$package built in $((SECONDS - step)) s"
        break
    done
    [ -n "$folder" ] || {
        say "no version of $package could be fetched or was built before (the host's Qt is $host_qt)"
        exit 1
    }
    folders+=("$folder")
done

say "done in $((SECONDS - started)) s"
(
    IFS=';'
    echo "${folders[*]}"
)
