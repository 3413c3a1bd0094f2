#!/usr/bin/env bash
# Times the walk of a 100,000-file tree on a loop-mounted btrfs (compress=zstd) by packmeter-cli
# as an unprivileged user, whose exact sizes come from the measuring helper (started through a
# real polkitd and pkexec on a system bus this script starts unless one runs), against the same
# walk as root, which searches the extent tree itself. Runs are paired and interleaved; the line
# printed gives both medians, the ratio of medians and its spread, and whether the user's
# outputs equalled root's. Needs root; leaves the machine as found.
#   bench/run_helper_bench.sh [RUNS]     (BUILD_DIR: an existing build folder to use)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
build=${BUILD_DIR:-"$here/build-bench"}
cmake -S "$here" -B "$build" -DPACKMETER_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target walk_bench packmeter-cli packmeter-measure >/dev/null
cli="$build/src/cli/packmeter-cli"
helper="$build/src/platform/linux/helper/packmeter-measure"
policy=/usr/share/polkit-1/actions/org.packmeter.measure.policy
rule=/etc/polkit-1/rules.d/49-packmeter-measure-bench.rules
if [ -e "$policy" ]; then
    echo "the installed package's policy is in place; remove the package first" >&2
    exit 2
fi

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/helper-bench.XXXXXX")
chmod 755 "$work"
mnt="$work/btrfs"
bus_pid=
polkit_pid=
cleanup() {
    rm -f "$policy" "$rule"
    if [ -n "$polkit_pid" ]; then kill "$polkit_pid" 2>/dev/null || true; wait "$polkit_pid" 2>/dev/null || true; fi
    if [ -n "$bus_pid" ]; then
        kill "$bus_pid" 2>/dev/null || true
        wait "$bus_pid" 2>/dev/null || true
        rm -f /run/dbus/pid /run/dbus/system_bus_socket
    fi
    if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

truncate -s 4G "$work/btrfs.img"
mkfs.btrfs -q -f "$work/btrfs.img"
mkdir "$mnt"
mount -o loop,compress=zstd "$work/btrfs.img" "$mnt"
chmod 755 "$mnt"
"$build/bench/walk_bench" generate "$mnt/tree" 100000 >/dev/null
sync

sed -e "s|@PACKMETER_HELPER_PATH@|$helper|" -e "s|@PACKMETER_HOMEPAGE@|https://packmeter.org/|" \
    "$here/packaging/linux/org.packmeter.measure.policy.in" >"$policy"
mkdir -p "$(dirname "$rule")"
cat >"$rule" <<'RULE'
polkit.addRule(function(action, subject) {
  if (action.id == "org.packmeter.measure" && subject.user == "nobody") return polkit.Result.YES;
});
RULE
if [ ! -S /run/dbus/system_bus_socket ]; then
    mkdir -p /run/dbus
    rm -f /run/dbus/pid
    dbus-daemon --system --nofork </dev/null >/dev/null 2>&1 &
    bus_pid=$!
    for _ in $(seq 600); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
fi
/usr/lib/polkit-1/polkitd --no-debug </dev/null >/dev/null 2>&1 &
polkit_pid=$!
for _ in $(seq 600); do pkaction --action-id org.packmeter.measure >/dev/null 2>&1 && break; sleep 0.1; done

as_root() { "$cli" --format json "$mnt/tree"; }
as_user() {
    setpriv --reuid=65534 --regid=65534 --clear-groups \
        env PACKMETER_MEASURE_HELPER="$helper" "$cli" --format json "$mnt/tree"
}
same=no
as_root >"$work/root.json" 2>&1
as_user >"$work/user.json" 2>&1
if cmp -s "$work/root.json" "$work/user.json"; then
    same=yes
else
    diff "$work/root.json" "$work/user.json" | head -20 >&2
fi
seconds() {  # seconds COMMAND: wall time of one run
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "$(((end - start) / 1000))"
}
root_times=()
user_times=()
ratios=()
differing=0
keep_user() { as_user >"$work/run.json" 2>&1; }
for _ in $(seq "$runs"); do
    r=$(seconds as_root)
    u=$(seconds keep_user)
    cmp -s "$work/root.json" "$work/run.json" || differing=$((differing + 1))
    root_times+=("$r")
    user_times+=("$u")
    ratios+=("$(awk -v u="$u" -v r="$r" 'BEGIN { printf "%.3f", u / r }')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
spread() { printf '%s\n' "$@" | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "-" hi }'; }
root_median=$(median "${root_times[@]}")
user_median=$(median "${user_times[@]}")
printf '100,000 files on btrfs, %s runs: root %.3f s, user with helper %.3f s, ratio %.2f (pairs %s), outputs equal: %s (%s timed runs differed)\n' \
    "$runs" "$(awk -v t="$root_median" 'BEGIN { print t / 1e6 }')" \
    "$(awk -v t="$user_median" 'BEGIN { print t / 1e6 }')" \
    "$(awk -v u="$user_median" -v r="$root_median" 'BEGIN { print u / r }')" \
    "$(spread "${ratios[@]}")" "$same" "$differing"
