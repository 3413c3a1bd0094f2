#!/usr/bin/env bash
# Package stage: builds every package (tools/package) and checks them as a user gets them.
#   .deb: lintian, desktop-file-validate and appstreamcli without errors; installed with dpkg
#         (and apt-get for its dependencies), the tool runs from /usr/bin, man finds its page,
#         the package removes cleanly, the measuring helper is in place and pkaction lists
#         its action.
#   Windows installer: installed silently under Wine for all users and for the current user,
#         the installed tool answers --version, the entry in "Add or remove programs" carries
#         the version, and the uninstaller removes files, shortcut and entry.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/lib.sh"
mapfile -t packages < <(package_list package)
need_packages "${packages[@]}"
bash "$here/tools/package"

version=$(sed -n 's/^project(Packmeter VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
deb=$here/dist/packmeter_${version}_amd64.deb
setup=$here/dist/packmeter-$version-win64-setup.exe
failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports and counts a failure
    local what=$1
    shift
    if "$@"; then echo "ok   $what" >&2; else echo "FAIL $what" >&2; failures=$((failures + 1)); fi
}

# --- Debian package -----------------------------------------------------------------------
lintian_errors() { ! lintian --allow-root "$deb" | grep '^E:'; }
check "lintian: no errors" lintian_errors
check "desktop entry valid" desktop-file-validate "$here/packaging/linux/packmeter.desktop"
check "AppStream metadata valid" appstreamcli validate --no-net \
    "$here/build-package/packaged/org.packmeter.Packmeter.metainfo.xml"

if dpkg-query -W -f='${Status}' packmeter 2>/dev/null | grep -q 'install ok installed'; then
    echo "packmeter is installed on this machine already: the install round trip is skipped" >&2
else
    export DEBIAN_FRONTEND=noninteractive
    dpkg -i "$deb" >/dev/null 2>&1 || apt-get install -y -f --no-install-recommends >/dev/null
    check ".deb installed" dpkg-query -W packmeter
    cli_version() { [ "$(/usr/bin/packmeter-cli --version | head -1)" != "" ]; }
    check "/usr/bin/packmeter-cli --version" cli_version
    check "man -w packmeter-cli" man -w packmeter-cli
    check "icon in hicolor" test -f /usr/share/icons/hicolor/128x128/apps/packmeter.png
    check "measuring helper installed" test -x /usr/libexec/packmeter/packmeter-measure
    # pkaction asks polkitd over the system bus: both are started for the check when none runs.
    action() {
        local bus= authority= found=1
        if [ ! -S /run/dbus/system_bus_socket ]; then
            mkdir -p /run/dbus
            rm -f /run/dbus/pid
            dbus-daemon --system --nofork </dev/null >/dev/null 2>&1 &
            bus=$!
            for _ in $(seq 300); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
        fi
        /usr/lib/polkit-1/polkitd --no-debug </dev/null >/dev/null 2>&1 &
        authority=$!
        for _ in $(seq 300); do
            if pkaction --action-id org.packmeter.measure --verbose 2>/dev/null |
                grep -q 'exec.path -> /usr/libexec/packmeter/packmeter-measure'; then
                found=0
                break
            fi
            sleep 0.1
        done
        kill "$authority" 2>/dev/null || true
        wait "$authority" 2>/dev/null || true
        if [ -n "$bus" ]; then
            kill "$bus" 2>/dev/null || true
            wait "$bus" 2>/dev/null || true
            rm -f /run/dbus/pid /run/dbus/system_bus_socket
        fi
        return "$found"
    }
    check "pkaction lists org.packmeter.measure" action
    dpkg -r packmeter >/dev/null
    removed() { ! dpkg-query -W -f='${Status}' packmeter 2>/dev/null | grep -q 'ok installed' &&
        [ ! -e /usr/bin/packmeter-cli ] && [ ! -e /usr/share/applications/packmeter.desktop ]; }
    check ".deb removed cleanly" removed
fi

# --- Windows installer under Wine ----------------------------------------------------------
export WINEPREFIX=$here/build-package-win64/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe=d"
export LANG=C.UTF-8
unset DISPLAY
rm -rf "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot --init >/dev/null 2>&1
reg_value() {  # reg_value HIVE NAME: a value of the uninstall entry, or nothing
    wine reg query "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Packmeter" \
        /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z]* *//p"
}
unix_path() { winepath -u "$1" 2>/dev/null; }
for mode in AllUsers CurrentUser; do
    hive=HKLM
    [ $mode = CurrentUser ] && hive=HKCU
    wine "$setup" /S /$mode >/dev/null 2>&1
    location=$(reg_value $hive InstallLocation)
    check "$mode: installed, entry in $hive" test -n "$location"
    [ -n "$location" ] || continue
    dir=$(unix_path "$location")
    check "$mode: version in Add/Remove Programs" test "$(reg_value $hive DisplayVersion)" = "$version"
    check "$mode: programs and readme" test -f "$dir/packmeter.exe" -a -f "$dir/packmeter-cli.exe" \
        -a -f "$dir/Readme.txt"
    shortcut() { find "$WINEPREFIX/drive_c" -name 'Packmeter.lnk' | grep -q .; }
    check "$mode: Start-menu shortcut" shortcut
    installed_version() { wine "$dir/packmeter-cli.exe" --version 2>/dev/null | grep -q "$version"; }
    check "$mode: installed packmeter-cli.exe --version" installed_version
    # _?= runs the uninstaller in place, so that it has finished when wine returns; run so, it
    # cannot remove itself, and everything else must be gone.
    wine "$dir/Uninstall.exe" /S /$mode "_?=$location" >/dev/null 2>&1
    # The uninstaller may hand its work to a second instance of itself (to gain the rights the
    # mode needs) and return first, so the result is awaited for up to 30 s.
    gone() { [ -z "$(reg_value $hive InstallLocation)" ] &&
        [ -z "$(ls -A "$dir" 2>/dev/null | grep -vx Uninstall.exe)" ]; }
    uninstalled() {
        for _ in $(seq 30); do gone && return 0; sleep 1; done
        echo "left behind: $(ls -A "$dir" 2>/dev/null | tr '\n' ' ')" >&2
        return 1
    }
    check "$mode: uninstalled" uninstalled
    rm -rf "$dir"
done
links=$(find "$WINEPREFIX/drive_c" -name 'Packmeter.lnk' 2>/dev/null | wc -l)
check "Start-menu shortcuts removed" test "$links" = 0

[ $failures = 0 ]
