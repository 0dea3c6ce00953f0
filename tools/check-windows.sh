#!/usr/bin/env bash
# Checks the Windows side of the code on this machine, without a Windows build:
# - every .cpp of src/, tests/ and tools/ compiled for Windows, syntax only, by MinGW-w64's g++
#   against Debian's Qt 6 headers and the build's generated headers (build options, form, moc), with
#   warnings as errors: the Q_OS_WIN branches get the compiler's eye on every run;
# - the launcher's resource script through windres;
# - the per-user installer script that CPack writes, through makensis (with a stand-in for the
#   launcher: the script and the template changes are checked, not the program).
# Usage: tools/check-windows.sh [BUILD [WINDOWS_BUILD]]
#   BUILD: a built Linux build folder, build/ by default.
#   WINDOWS_BUILD: a MinGW-w64 build (the windows-wine preset) that compiled its files for real,
#   with the same checks (cmake/warnings.cmake): those are not compiled again here.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
jobs="${CHECK_WINDOWS_JOBS:-2}"
started=$SECONDS

# Qt's headers as Debian's Qt 6 installs them, and the MinGW-w64 tools: see tools/setup.sh.
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || cxx=x86_64-w64-mingw32-g++
for tool in "$cxx" x86_64-w64-mingw32-windres makensis cpack; do
    command -v "$tool" >/dev/null || {
        echo "check-windows: $tool is missing (tools/setup.sh installs it)" >&2
        exit 1
    }
done
qt="$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)"
mkspecs="$(qtpaths6 --query QT_HOST_DATA 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6)/mkspecs"
for generated in generated/buildoptions.h generated/launcherversion.h \
    vestrahal_ui_autogen/include/ui_mainwindow.h; do
    [ -f "$build/$generated" ] || {
        echo "check-windows: $build/$generated is missing: configure and build $build first" >&2
        exit 1
    }
done

# What Qt's CMake package gives a Windows target, the modules the project uses, and the values
# the build gives the tests on every platform (only their presence matters to the compiler).
flags=(
    -std=c++17 -fsyntax-only -Wall -Wextra -Wpedantic -Werror
    -DUNICODE -D_UNICODE -DWIN32 -DWIN64 -D_WIN64 -DMINGW_HAS_SECURE_API=1
    -D_ENABLE_EXTENDED_ALIGNED_STORAGE -DQT_NO_DEBUG
    -isystem "$qt" -isystem "$mkspecs/win32-g++"
)
for module in Core Gui Widgets Network WebEngineCore WebEngineWidgets WebChannel Positioning \
    PrintSupport Quick Qml QmlModels QmlIntegration OpenGL Test; do
    define="$(tr '[:lower:]' '[:upper:]' <<<"$module")"
    flags+=(-isystem "$qt/Qt$module" "-DQT_${define/#TEST/TESTLIB}_LIB")
done
flags+=(
    -I"$top/src" -I"$top/tests" -I"$top/tools/communityserver" -I"$build/generated"
    -I"$build/vestrahal_ui_autogen/include"
    -DVESTRAHAL_SOURCE_DIR="\"$top\"" -DVESTRAHAL_GENERATED_DIR="\"$build/generated\""
    -DVESTRAHAL_PROJECT_VERSION="\"0.0\"" -DFAKEGAME_PATH="\"fakegame.exe\""
    -DRELEASE_TOOL="\"vestrahal-release.exe\""
    -DQT_TESTCASE_BUILDDIR="\"$build/tests\"" -DQT_TESTCASE_SOURCEDIR="\"$top/tests\""
)

# Built for Linux only (tests/CMakeLists.txt): the library preloaded into the launcher, and the
# suites that read the launcher through AT-SPI.
linux_only=(tests/killpoint.cpp tests/tst_screenreader.cpp tests/tst_watcher.cpp)

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Headers that need nothing of Linux, in a folder of their own rather than the whole of
# /usr/include: libsodium's (the same as vcpkg's on Windows), OpenSSL's (its portable headers and
# Debian's generated configuration beside them, as one folder), libcurl's (the same on every
# system: it tells them apart itself) and libFuzzer's data provider.
mkdir "$scratch/include"
sodium="$(pkg-config --variable=includedir libsodium 2>/dev/null || echo /usr/include)"
ln -s "$sodium/sodium.h" "$sodium/sodium" "$scratch/include/"
openssl="$(pkg-config --variable=includedir libcrypto 2>/dev/null || echo /usr/include)"
mkdir "$scratch/include/openssl"
ln -s "$openssl"/openssl/*.h "$scratch/include/openssl/"
for generated in "$openssl"/*-linux-gnu/openssl/*.h; do
    [ -e "$generated" ] && ln -sf "$generated" "$scratch/include/openssl/"
done
curl="$(pkg-config --variable=includedir libcurl 2>/dev/null || echo /usr/include)"
[ -d "$curl/curl" ] || curl=/usr/include/x86_64-linux-gnu
ln -s "$curl/curl" "$scratch/include/curl"
fuzzer="$(clang -print-resource-dir 2>/dev/null)/include/fuzzer"
[ -d "$fuzzer" ] && ln -s "$fuzzer" "$scratch/include/fuzzer"
flags+=(-isystem "$scratch/include")
# MinGW-w64 brings a few POSIX headers that MSVC lacks: here, including one is an error.
cmake -Dmsvc_lacks="$scratch/msvc-lacks" -P "$top/cmake/msvc-lacks.cmake"
flags+=(-I"$scratch/msvc-lacks")

# The folders holding the moc output of each suite and tool ("name.moc"), for the files that
# include their own.
find "$build" -path '*_autogen/include*' -name '*.moc' >"$scratch/mocs"

compile() { # FILE: prints the compiler's words and fails when it fails
    local file="$1" flags extra=() moc folder
    # Arrays do not cross into xargs' shells: the flags travel as a NUL-separated file.
    mapfile -d '' -t flags <"$scratch/flags"
    while IFS= read -r moc; do
        folder="$(grep -m1 "/$moc\$" "$scratch/mocs" || true)"
        if [ -z "$folder" ]; then
            echo "$moc not found in $build: build it first"
            return 1
        fi
        extra+=(-I"$(dirname "$folder")")
    done < <(sed -n 's/^#include "\([^"/]*\.moc\)"$/\1/p' "$top/$file")
    "$cxx" "${flags[@]}" "${extra[@]}" "$top/$file" 2>&1
}
check() { # FILE: what compile said, under the file's name, when it failed or warned
    local output report="$scratch/reports/${1//\//_}"
    if ! output="$(compile "$1")"; then
        printf '%s\n%s\n' "--- $1" "$output" >"$report"
    elif [ -n "$output" ]; then
        printf '%s\n%s\n' "--- $1 (warnings)" "$output" >"$report"
    fi
}
export -f compile check
export top build cxx scratch
printf '%s\0' "${flags[@]}" >"$scratch/flags"

# The files a Windows build compiled, relative to the clone.
compiled=" "
if [ -n "${2:-}" ]; then
    commands="$2/compile_commands.json"
    [ -f "$commands" ] || {
        echo "check-windows: $commands is missing: build $2 with the windows-wine preset first" >&2
        exit 1
    }
    compiled+="$(python3 -c 'import json, os, sys
top = os.path.realpath(sys.argv[2])
for entry in json.load(open(sys.argv[1])):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(top + "/"):
        print(path[len(top) + 1:])' "$commands" "$top" | sort -u | tr '\n' ' ')"
fi

files=()
left=0
while IFS= read -r -d '' file; do
    [[ " ${linux_only[*]} " == *" $file "* ]] && continue
    if [[ "$compiled" == *" $file "* ]]; then
        left=$((left + 1))
        continue
    fi
    files+=("$file")
done < <(cd "$top" && find src tests tools -name '*.cpp' -not -path 'tools/site/*' -print0 | sort -z)
[ "$left" -eq 0 ] || echo "check-windows: $left files left to the Windows build in $2"

# Each file on its own, two at a time; then the words of every file that failed or warned.
status=0
mkdir "$scratch/reports"
printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "$jobs" bash -c 'check "$1"' _
if compgen -G "$scratch/reports/*" >/dev/null; then
    cat "$scratch/reports"/* >&2
    status=1
fi
echo "check-windows: ${#files[@]} C++ files compiled for Windows in $((SECONDS - started)) s"

# The version resource, with the generated version header, as the Windows build compiles it.
x86_64-w64-mingw32-windres -I"$build/generated" -I"$top/resources" \
    "$top/resources/launcher.rc" -O coff -o "$scratch/launcher.res" ||
    {
        echo "check-windows: windres refused resources/launcher.rc" >&2
        status=1
    }

# The installer: CPack writes the script from the project's own NSIS settings and template,
# and makensis compiles it.
installer="$scratch/installer"
if cmake -S "$top/tools/windows-installer" -B "$installer" -G Ninja \
    -DVESTRAHAL_VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")" \
    >"$scratch/installer.log" 2>&1 &&
    (cd "$installer" && cpack -G NSIS) >>"$scratch/installer.log" 2>&1 &&
    compgen -G "$installer/packages/*.exe" >/dev/null; then
    echo "check-windows: makensis built the installer from CPack's script"
    # What the project asks of CMake's template: for this user, without elevation, under the
    # local application data, with the shortcut that starts the launcher in its folder.
    script="$(find "$installer" -name project.nsi)"
    for line in 'RequestExecutionLevel user' 'InstallDir "$LOCALAPPDATA\Vestrahal Launcher"' \
        'CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Vestrahal Launcher.lnk" "$INSTDIR\VestrahalLauncher.exe"'; do
        grep -qxF "  $line" "$script" || {
            echo "check-windows: the installer script lacks: $line" >&2
            status=1
        }
    done
    for line in 'RequestExecutionLevel admin' 'SetShellVarContext all'; do
        ! grep -qF "$line" "$script" || {
            echo "check-windows: the installer script still says: $line" >&2
            status=1
        }
    done
else
    cat "$scratch/installer.log" >&2
    find "$installer" -name NSISOutput.log -exec tail -n 40 {} \; >&2 || true
    echo "check-windows: the installer script does not build" >&2
    status=1
fi

echo "check-windows: done in $((SECONDS - started)) s"
exit "$status"
