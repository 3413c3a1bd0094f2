#!/usr/bin/env bash
# Times the walk against du -s on a generated tree of 200,000 files and on a copy of /usr, in a
# temp folder on the local disk (BENCH_DIR, default /var/tmp), and removes both afterwards.
# With --btrfs (root) the /usr copy is also timed on a loop-mounted btrfs with compress=zstd,
# where the walk searches the extent tree (compsize timed alongside).
#   bench/run_walk_bench.sh [--btrfs] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
btrfs=no
if [ "${1:-}" = --btrfs ]; then btrfs=yes; shift; fi
runs=${1:-5}
build=${BUILD_DIR:-"$here/build-bench"}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPACKMETER_TESTS=OFF -DPACKMETER_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target walk_bench packmeter-cli >/dev/null
bench="$build/bench/walk_bench"
cli="$build/src/cli/packmeter-cli"

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/walk-bench.XXXXXX")
mnt="$work/btrfs"
cleanup() {
    if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

"$bench" generate "$work/generated" 200000
cp -a /usr "$work/usr-copy"
sync
"$bench" time --runs "$runs" --cli "$cli" "$work/generated" "$work/usr-copy"

if [ "$btrfs" = yes ]; then
    truncate -s 24G "$work/btrfs.img"
    mkfs.btrfs -q -f "$work/btrfs.img"
    mkdir "$mnt"
    mount -o loop,compress=zstd "$work/btrfs.img" "$mnt"
    cp -a /usr "$mnt/usr-copy"
    sync
    "$bench" time --runs "$runs" --cli "$cli" "$mnt/usr-copy"
    compsize -b "$mnt/usr-copy" >/dev/null
    start=$(date +%s.%N)
    compsize -b "$mnt/usr-copy" | sed -n '2,3p'
    echo "  compsize -b (one search per file): $(echo "$(date +%s.%N) - $start" | bc) s"
fi
