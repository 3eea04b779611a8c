#!/usr/bin/env bash
# bench/discovery_storm/run.sh <release build dir>
# 50 simulated devices in a lab, each answering a Search with 200 replies: 10,000 in all.
# Each round is a Search of the program and the same request from a bare recvmmsg reader
# (bare_rows: what reaches any reader through the kernel's default receive buffer; the
# endpoint gets the larger buffer it asks for, capped as on a stock desktop, STORM_RCVBUF).
# Needs root (the lab's network namespaces). System socket-buffer limits are left alone.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
top=$(cd "$(dirname "$0")/../.." && pwd)
devices=${STORM_DEVICES:-50}
per_device=${STORM_REPLIES:-200}
rounds=${STORM_ROUNDS:-5}
expected=$((devices * per_device))
lab=bench_storm

cmake --build "$build" --target discovery_storm_bench vandrel-devsim >/dev/null
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true' EXIT
"$top/scripts/lab" --name "$lab" up "$devices" --devsim-args "--reply-count $per_device" >/dev/null
# The simulated devices share this machine's CPUs with the program, which real devices on a
# network never do; their lowest priority keeps the measurement on the program's side.
# STORM_DEVICE_NICE=0 keeps them at normal priority.
device_nice=${STORM_DEVICE_NICE:-19}
if [[ "$device_nice" != 0 ]]; then
    for ns in $(ip netns list | awk '{print $1}' | grep "^vdl-$lab-d"); do
        for pid in $(ip netns pids "$ns"); do
            renice -n "$device_nice" -p "$pid" >/dev/null
        done
    done
fi

echo "discovery storm: $devices devices x $per_device replies = $expected replies per Search," \
    "devices at nice $device_nice, rmem_default=$(cat /proc/sys/net/core/rmem_default)" \
    "rmem_max=$(cat /proc/sys/net/core/rmem_max)"
out=$(QT_QPA_PLATFORM=offscreen timeout 300 \
    "$top/scripts/lab" --name "$lab" run "$build/bench/discovery_storm/discovery_storm_bench" \
    "$expected" "$rounds")
echo "$out" | grep -v -E '^(worst|median):'

# Replies the simulators actually sent: every logged request queued per_device replies;
# a failed send is logged. Each round makes two requests (the program's and the bare reader's).
requests=0
failed=0
for log in /run/vandrel-lab/"$lab"/d*.log; do
    requests=$((requests + $(grep -c 'request from' "$log" || true)))
    failed=$((failed + $(grep -c 'failed' "$log" || true)))
done
sent=$(((requests * per_device - failed) / (2 * rounds)))
worst=$(echo "$out" | grep '^worst:')
median=$(echo "$out" | grep '^median:')
rows=$(sed -E 's/.* rows=([0-9]+).*/\1/' <<<"$median")
bare=$(sed -E 's/.*bare_rows=([0-9]+).*/\1/' <<<"$median")
worst_rows=$(sed -E 's/.* rows=([0-9]+).*/\1/' <<<"$worst")
worst_bare=$(sed -E 's/.*bare_rows=([0-9]+).*/\1/' <<<"$worst")
seconds=$(sed -E 's/.*seconds_to_last_row=([0-9.]+).*/\1/' <<<"$worst")
stall=$(sed -E 's/.*max_stall_ms=([0-9.]+).*/\1/' <<<"$worst")
echo "replies sent per Search: $sent; median of $rounds rounds: rows listed $rows (bare reader" \
    "$bare); worst: rows $worst_rows (bare $worst_bare), time to last row $seconds s, longest" \
    "GUI stall $stall ms"
printf '{"replies_sent": %d, "rows": %d, "bare_rows": %d, "worst_rows": %d, "worst_bare_rows": %d, "seconds_to_last_row": %s, "max_gui_stall_ms": %s}\n' \
    "$sent" "$rows" "$bare" "$worst_rows" "$worst_bare" "$seconds" "$stall"
