#!/usr/bin/env bash
# Under Wine on a virtual X display: the Win32 window's time to its last row against the
# command-line program's time, on generated folders of 5,000 and 50,000 files of many types (2% of
# them programs, 2% icon files and 2% shortcuts, which show icons of their own), in paired,
# interleaved runs; then the two folder listings (FindFirstFileExW and FileIdBothDirectoryInfo)
# on the 50,000-file folder and the memory of the walk's set of file ids.
#   bench/run_win_window_bench.sh [--quick] [RUNS]
#   --quick   the 5,000-file folder only
#   BASELINE_WINDOW=path/to/packmeter.exe  an earlier build of the window, timed in the same runs
# The cross build is PACKMETER_WIN64_BUILD (default build-win64, made here when missing); the
# folders and a Wine prefix of their own live in BENCH_DIR (default /var/tmp) and are removed
# afterwards. Every line also gives the load average: figures taken on a busy machine are noise.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sizes=(5000 50000)
if [ "${1:-}" = --quick ]; then
    sizes=(5000)
    shift
fi
runs=${1:-9}
build=${PACKMETER_WIN64_BUILD:-$here/build-win64}
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACKMETER_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target packmeter packmeter-cli win_window_bench win_list_bench \
    >/dev/null

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/win-window-bench.XXXXXX")
export WINEPREFIX=$work/wineprefix
mkdir -p "$WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d"
# With LANG=C, Wine garbles wide file names.
export LANG=C.UTF-8
xvfb_pid=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

# The prefix as the Windows test stage makes it: Xvfb before the wineserver, a virtual desktop
# (without a window manager each DestroyWindow waits 2 s), no crash dialog, fonts.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display_number <&"$display_fd"
exec {display_fd}>&-
export DISPLAY=:$display_number
log=$work/wine.log
wineserver -p
wineboot --init >"$log" 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$log" 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >>"$log" 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$log" 2>&1
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
cp /usr/share/wine/fonts/* /usr/share/fonts/truetype/dejavu/*.ttf "$fonts/" 2>/dev/null || true
wine explorer.exe /desktop >>"$log" 2>&1 &

win() { winepath -w "$1" 2>/dev/null; }
bench=$build/bench/win_window_bench.exe
window=$(win "$build/src/gui/win32/packmeter.exe")
cli=$(win "$build/src/cli/packmeter-cli.exe")
# The folders: files of many types and sizes; every 50th name is a program, an icon file or a
# shortcut (hard links to one of each), the types whose files show icons of their own.
wine "$bench" shortcut "$(win "$work/shortcut.lnk")" "$cli" >>"$log" 2>&1
make_folder() {
    python3 - "$1" "$2" "$build/src/cli/packmeter-cli.exe" "$here/packaging/packmeter.ico" \
        "$work/shortcut.lnk" <<'PY'
import os, shutil, sys
folder, files, program, icon, shortcut = sys.argv[1], int(sys.argv[2]), *sys.argv[3:]
types = [".txt", ".dat", ".jpg", ".png", ".doc", ".pdf", ".zip", ".cpp", ".h", ".log", ".xml",
         ".htm", ".mp3", "", ".bmp"]
own = {7: (".exe", program), 23: (".ico", icon), 41: (".lnk", shortcut)}
os.mkdir(folder)
content = b"x" * 4096
for i in range(files):
    stem = os.path.join(folder, "file%d" % i)
    if i % 50 in own:
        extension, source = own[i % 50]
        try:
            os.link(source, stem + extension)
        except OSError:  # BENCH_DIR on another file system
            shutil.copyfile(source, stem + extension)
    else:
        with open(stem + types[i % len(types)], "wb") as out:
            out.write(content[: i % len(content)])
PY
}
for files in "${sizes[@]}"; do
    folder=$work/files-$files
    make_folder "$folder" "$files"
    sync
    echo "== $files files (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    wine "$bench" time "$window" "$cli" "$(win "$folder")" "$runs" \
        ${BASELINE_WINDOW:+"$(win "$BASELINE_WINDOW")"}
    echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
done
if [ -d "$work/files-50000" ]; then
    echo "== listings of 50,000 files (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    wine "$build/bench/win_list_bench.exe" "$(win "$work/files-50000")" 50000 "$runs"
fi
