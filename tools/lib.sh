# Shared helpers of the build and test scripts.

# Installs the Debian packages that are missing. Needs root; otherwise prints the command and
# stops the calling script.
need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them as root with:" >&2
        echo "  apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
        { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
}

# The Debian packages the project needs, one list per purpose in tools/packages/*.txt
# (build.txt for building, the others for tests and further targets).
package_list() {
    local here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    if [ "$1" = all ]; then cat "$here"/packages/*.txt; else cat "$here/packages/$1.txt"; fi |
        sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u
}

# How many compile and test jobs run at once: one per processor.
build_jobs() { nproc 2>/dev/null || echo 2; }

# The cmake option that compiles through ccache when it is installed, so that a rebuild of
# unchanged sources (CI re-runs, the second build of a stage) reuses the earlier objects.
compiler_launcher() {
    if command -v ccache >/dev/null 2>&1; then echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
}
