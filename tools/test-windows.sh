#!/usr/bin/env bash
# Windows stage: cross-builds Packmeter with MinGW for 64-bit Windows (with its tests) and for
# 32-bit Windows (compile only), then runs the 64-bit tests under Wine in a fresh prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/lib.sh"
mapfile -t packages < <(package_list build; package_list windows)
need_packages "${packages[@]}"

win64=$here/build-win64
win32=$here/build-win32
started=$SECONDS
step() { echo "-- $* (at $((SECONDS - started)) s)" >&2; }

# The Windows tool's output is compared with the host's own build of it.
host_cli=$here/build/src/cli/packmeter-cli
if [ ! -x "$host_cli" ]; then
    step "host tool"
    cmake -S "$here" -B "$here/build-win-host" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPACKMETER_TESTS=OFF >/dev/null
    cmake --build "$here/build-win-host" -j"$(jobs)" --target packmeter-cli >/dev/null
    host_cli=$here/build-win-host/src/cli/packmeter-cli
fi

step "x86_64 build"
cmake -S "$here" -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACKMETER_HOST_CLI="$host_cli" >/dev/null
cmake --build "$win64" -j"$(jobs)" >/dev/null
step "i686 build"
cmake -S "$here" -B "$win32" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$win32" -j"$(jobs)" >/dev/null

step "Wine prefix"
export WINEPREFIX=$win64/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d"
# With LANG=C, Wine garbles wide file names.
export LANG=C.UTF-8
wine_log=$win64/wine.log
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# A persistent server, its services and the desktop started now, with their output in the log:
# started by a test instead, they would hold ctest's output pipe open long after the test ends.
wineserver -p
wineboot --init >"$wine_log" 2>&1
wine explorer.exe /desktop >>"$wine_log" 2>&1 &

step "tests under Wine"
(cd "$win64" && ctest --output-on-failure -j"$(jobs)")
step "done"
