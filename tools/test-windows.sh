#!/usr/bin/env bash
# Windows stage: cross-builds Packmeter with MinGW for 64-bit Windows (with its tests) and for
# 32-bit Windows (compile only), then runs the 64-bit tests under Wine in a fresh prefix, on a
# virtual X display for the window's tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/lib.sh"
mapfile -t packages < <(package_list build; package_list windows)
need_packages "${packages[@]}"

win64=${PACKMETER_WIN64_BUILD:-$here/build-win64}
win32=${PACKMETER_WIN32_BUILD:-$here/build-win32}
started=$SECONDS
step() { echo "-- $* (at $((SECONDS - started)) s)" >&2; }

# The Windows tool's output is compared with the host's own build of it; the instrumenting
# tool, which runs on this machine, writes the fault logger's block into Windows programs.
host_cli=$here/build/src/cli/packmeter-cli
host_instrument=$here/build/src/tools/packmeter-faultlog-instrument
if [ ! -x "$host_cli" ] || [ ! -x "$host_instrument" ]; then
    step "host tools"
    cmake -S "$here" -B "$here/build-win-host" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPACKMETER_TESTS=OFF $(compiler_launcher) >/dev/null
    cmake --build "$here/build-win-host" -j"$(build_jobs)" \
        --target packmeter-cli packmeter-faultlog-instrument >/dev/null
    host_cli=$here/build-win-host/src/cli/packmeter-cli
    host_instrument=$here/build-win-host/src/tools/packmeter-faultlog-instrument
fi

step "x86_64 build"
cmake -S "$here" -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACKMETER_HOST_CLI="$host_cli" \
    -DPACKMETER_FAULTLOG_INSTRUMENT="$host_instrument" $(compiler_launcher) >/dev/null
cmake --build "$win64" -j"$(build_jobs)" >/dev/null
step "i686 build"
cmake -S "$here" -B "$win32" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACKMETER_FAULTLOG_INSTRUMENT="$host_instrument" \
    $(compiler_launcher) >/dev/null
cmake --build "$win32" -j"$(build_jobs)" >/dev/null

step "Wine prefix"
export WINEPREFIX=$win64/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d"
# With LANG=C, Wine garbles wide file names.
export LANG=C.UTF-8
wine_log=$win64/wine.log
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
xvfb_pid=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
# The window tests need an X server, fixed for Wine when the wineserver starts: Xvfb first, on
# the display number it chooses itself.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$win64/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display_number <&"$display_fd"
exec {display_fd}>&-
export DISPLAY=:$display_number
# A persistent server, its services and the desktop started now, with their output in the log:
# started by a test instead, they would hold ctest's output pipe open long after the test ends.
wineserver -p
wineboot --init >"$wine_log" 2>&1
# A virtual desktop: without a window manager every DestroyWindow waits 2 s. No crash dialog:
# under a display it would wait for a click that never comes.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$wine_log" 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >>"$wine_log" 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >>"$wine_log" 2>&1
# Debian's Wine does not load its own fonts: without them captions and labels show no text.
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
cp /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
cp /usr/share/fonts/truetype/dejavu/*.ttf /usr/share/fonts/truetype/liberation/*.ttf \
    /usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf "$fonts/" 2>/dev/null || true
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS Sans Serif"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v "$face" /t REG_MULTI_SZ /d 'DejaVuSans.ttf,DejaVu Sans\0DroidSansFallbackFull.ttf,Droid Sans Fallback' \
        /f >>"$wine_log" 2>&1
done
wine explorer.exe /desktop >>"$wine_log" 2>&1 &

step "tests under Wine"
(cd "$win64" && ctest --output-on-failure -j"$(build_jobs)")
step "done"
