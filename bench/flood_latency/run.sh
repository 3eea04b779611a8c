#!/usr/bin/env bash
# bench/flood_latency/run.sh <release build dir>
# A lab of 3 devices; device 1 floods its telnet session with FLOOD_BYTES (default 1 GiB).
# The program runs in the lab under Xvfb; clicks and keys come through the X server. Needs
# root (the lab). Last line: one JSON object (worst_ms, median_ms: input delay during the
# flood; idle_*: the same without it). FLOOD_LOG=FILE logs the session into FILE meanwhile.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
top=$(cd "$(dirname "$0")/../.." && pwd)
flood=${FLOOD_BYTES:-1073741824}
lab=bench_flood

cmake --build "$build" --target flood_latency_bench vandrel-devsim >/dev/null
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true' EXIT
"$top/scripts/lab" --name "$lab" up 3 --device-args 1 "--flood $flood" >/dev/null
echo "flood latency: $flood bytes from device 1, an input every 50 ms; load: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=xcb FLOOD_LOG=${FLOOD_LOG:-} timeout 600 "$top/scripts/lab" --name "$lab" run \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/bench/flood_latency/flood_latency_bench" "$flood" 3
