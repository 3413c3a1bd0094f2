#!/usr/bin/env bash
# Times packmeter-cli against du -s on a generated tree (200,000 files in 20,420 folders) and on a
# copy of /usr, in a temp folder on the local disk (BENCH_DIR, default /var/tmp), and removes both
# afterwards. Each line gives the median time ratio of paired, interleaved runs, its spread, the
# CPU ratio and the peak memory.
#   --cold   also after dropping the page cache before every run (root)
#   --btrfs  also on a loop-mounted btrfs with compress=zstd holding a copy of /usr/share, where the
#            walk searches the extent tree (root), timed against du -s and compsize -b
#   --usr-metadata  copy /usr without its data (cp --attributes-only): same names, same walk
#   --quick  a smoke run in under 2 minutes (with a warm ccache or an existing BUILD_DIR): 20,000
#            generated files, warm only, 9 pairs
#   bench/run_walk_bench.sh [--quick] [--cold] [--btrfs] [--usr-metadata] [RUNS]
# Every line also prints the load average: figures taken on a busy machine are noise.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
btrfs=no
quick=no
cold=
copy=(cp -a)
while [ $# -gt 0 ]; do
    case "$1" in
        --btrfs) btrfs=yes ;;
        --quick) quick=yes ;;
        --cold) cold=--cold ;;
        --usr-metadata) copy=(cp -a --attributes-only) ;;
        *) break ;;
    esac
    shift
done
runs=${1:-9}
build=${BUILD_DIR:-"$here/build-bench"}
# Only the two programs are built, with Ninja and ccache where installed: a warm cache makes
# them in seconds. BUILD_DIR may name an existing build, whose generator and settings are kept.
if [ ! -f "$build/CMakeCache.txt" ]; then
    generator=()
    if command -v ninja >/dev/null; then generator=(-G Ninja); fi
    if command -v ccache >/dev/null; then generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
    cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DPACKMETER_TESTS=OFF -DPACKMETER_BENCH=ON >/dev/null
elif ! grep -q '^PACKMETER_BENCH:BOOL=ON' "$build/CMakeCache.txt"; then
    cmake "$build" -DPACKMETER_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target walk_bench packmeter-cli >/dev/null
bench="$build/bench/walk_bench"
cli="$build/src/cli/packmeter-cli"

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/walk-bench.XXXXXX")
mnt="$work/btrfs"
cleanup() {
    if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$quick" = yes ]; then
    # Warm runs only: the tree need not reach the disk first.
    "$bench" generate "$work/generated" 20000
    "$bench" time --runs "$runs" --cli "$cli" "$work/generated"
    exit 0
fi
"$bench" generate "$work/generated" 200000
"${copy[@]}" /usr "$work/usr-copy"
sync
"$bench" time --runs "$runs" $cold --cli "$cli" "$work/generated" "$work/usr-copy"

if [ "$btrfs" = yes ]; then
    truncate -s 8G "$work/btrfs.img"
    mkfs.btrfs -q -f "$work/btrfs.img"
    mkdir "$mnt"
    mount -o loop,compress=zstd "$work/btrfs.img" "$mnt"
    cp -a /usr/share "$mnt/share-copy"
    sync
    "$bench" time --runs "$runs" $cold --compsize --cli "$cli" "$mnt/share-copy"
fi
