#!/usr/bin/env bash
# Accuracy and speed of the saving forecast (root: it makes loop volumes and drops caches).
# For each file system (btrfs, NTFS through ntfs-3g) a fresh loop volume gets a copy of SOURCE
# (default /usr/share); then, each after dropping the page cache:
#   - packmeter-cli estimate, exact and --quick, one row per top-level entry, timed in RUNS
#     (default 3) pairs that alternate exact and quick, each with a cold cache and then with every
#     file in the cache ("hot"), the load average beside each time;
#   - packmeter-cli compress of every entry (timed), and the scan afterwards;
#   - the forecast against the scan: the total and every row of at least 1 MiB;
#   - btrfs: decompress, then compress again with --min-saving 10 (timed, on-disk result).
#   bench/run_forecast_bench.sh [--only btrfs|ntfs] [SOURCE]   (RUNS=N in the environment)
# CLI=path/to/packmeter-cli overrides the tool (default: the build folder's, built if missing).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
kinds=(btrfs ntfs)
if [ "${1:-}" = --only ]; then
    kinds=("$2")
    shift 2
fi
source_dir=${1:-/usr/share}
cli=${CLI:-"$here/build/src/cli/packmeter-cli"}
if [ ! -x "$cli" ]; then
    cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$here/build" -j2 --target packmeter-cli >/dev/null
fi
size_mb=$(( $(du -sm "$source_dir" | cut -f1) * 3 + 1024 ))
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/forecast-bench.XXXXXX")
mnt=$work/mnt
mkdir -p "$mnt"
loop=
cleanup() {
    mountpoint -q "$mnt" && umount "$mnt"
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

runs=${RUNS:-3}
cold() { sync; echo 3 >/proc/sys/vm/drop_caches; }
hot() { find "$1" -type f -print0 | xargs -0 cat >/dev/null; }
load() { cut -d' ' -f1 /proc/loadavg; }
# Seconds a command takes, its output kept in a file.
timed() {
    local out=$1
    shift
    local start end
    start=$(date +%s.%N)
    "$@" >"$out"
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

compare() {
    python3 - "$@" <<'EOF'
import json, sys
label, forecast_file, scan_file, seconds = sys.argv[1:5]
f = json.load(open(forecast_file))
s = json.load(open(scan_file))
scanned = {e["name"]: e for e in s["entries"]}
real = sum(e["on_disk"] for e in s["entries"])
fc = f["totals"]["forecast_on_disk"]
size = f["totals"]["size"]
worst, worst_name, rows = 0.0, "", 0
for e in f["entries"]:
    r = scanned.get(e["name"])
    if r is None or r["size"] < (1 << 20):
        continue
    rows += 1
    err = (e["forecast_on_disk"] - r["on_disk"]) / r["on_disk"] * 100 if r["on_disk"] else 0
    if abs(err) > abs(worst):
        worst, worst_name = err, e["name"]
print(f"  {label}: forecast {fc/1e6:.1f} MB, after compressing {real/1e6:.1f} MB "
      f"(size {size/1e6:.1f} MB): total error {(fc-real)/real*100:+.2f} %, worst of {rows} rows "
      f"of 1 MiB or more {worst:+.2f} % ({worst_name}); {float(seconds):.1f} s, "
      f"{size/1e6/float(seconds):.0f} MB/s")
EOF
}

run_on() {
    local kind=$1
    truncate -s "${size_mb}M" "$work/image"
    loop=$(losetup -f --show "$work/image")
    if [ "$kind" = btrfs ]; then
        mkfs.btrfs -q -f "$loop"
        mount "$loop" "$mnt"
    else
        mkntfs -F -f -q "$loop" >/dev/null 2>&1
        ntfs-3g "$loop" "$mnt"
    fi
    cp -r --no-preserve=ownership "$source_dir" "$mnt/tree" 2>/dev/null || true
    local entries=("$mnt"/tree/*)
    echo "$kind: $(find "$mnt/tree" -type f | wc -l) files"
    cold
    local exact quick compress reading
    reading=$(timed /dev/null sh -c 'find "$1" -type f -print0 | xargs -0 cat' sh "$mnt/tree")
    echo "  reading every file with cat: $reading s"
    local line times=()
    for cache in cold hot; do
        for ((run = 1; run <= runs; run++)); do
            line="  $cache run $run:"
            for mode in exact quick; do
                local args=(--format json estimate)
                [ "$mode" = quick ] && args+=(--quick)
                if [ "$cache" = cold ]; then cold; else hot "$mnt/tree"; fi
                line+=" $mode (load $(load)) $(timed "$work/$mode.json" "$cli" "${args[@]}" "${entries[@]}") s"
            done
            echo "$line"
            times+=("$line")
        done
    done
    exact=$(printf '%s\n' "${times[@]}" | grep cold | awk '{print $7}' | sort -n | sed -n "$(((runs + 1) / 2))p")
    quick=$(printf '%s\n' "${times[@]}" | grep cold | awk '{print $12}' | sort -n | sed -n "$(((runs + 1) / 2))p")
    for cache in cold hot; do
        printf '%s\n' "${times[@]}" | grep "$cache" | awk -v c="$cache" \
            '{ r = $7 / $12; s = s " " sprintf("%.1f", r) } END { print "  " c ": exact/quick per pair:" s }'
    done
    cold
    compress=$(timed /dev/null "$cli" compress "${entries[@]}")
    sync
    "$cli" --format json "$mnt/tree" >"$work/scan.json"
    compare "exact" "$work/exact.json" "$work/scan.json" "$exact"
    compare "quick" "$work/quick.json" "$work/scan.json" "$quick"
    echo "  quick is $(echo "scale=1; $exact / $quick" | bc) x faster than exact (cold medians);" \
        "compressing everything took $compress s (load $(load))"
    if [ "$kind" = btrfs ]; then
        "$cli" decompress "${entries[@]}" >/dev/null
        cold
        local threshold
        threshold=$(timed /dev/null "$cli" compress --min-saving 10 "${entries[@]}" 2>"$work/left")
        sync
        "$cli" --format json "$mnt/tree" >"$work/scan10.json"
        python3 - "$work/scan.json" "$work/scan10.json" "$threshold" "$compress" \
            "$(grep -c 'left alone: would save' "$work/left" || true)" <<'EOF'
import json, sys
a = json.load(open(sys.argv[1]))["totals"]["on_disk"]
b = json.load(open(sys.argv[2]))["totals"]["on_disk"]
print(f"  --min-saving 10: {float(sys.argv[3]):.1f} s (everything: {float(sys.argv[4]):.1f} s), "
      f"on disk {b/1e6:.1f} MB (everything: {a/1e6:.1f} MB), {sys.argv[5]} files left alone")
EOF
    fi
    umount "$mnt"
    losetup -d "$loop"
    loop=
    rm -f "$work/image"
}

for kind in "${kinds[@]}"; do
    run_on "$kind"
done
