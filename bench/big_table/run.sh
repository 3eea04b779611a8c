#!/usr/bin/env bash
# bench/big_table/run.sh <release build dir> [DEVICES]
# A lab whose one simulator answers a Search as DEVICES (default 10000) devices; Vandrel's
# window searches, sorts, exports and copies, and "vandrel --scan --format json" runs, all in
# the lab's app namespace (root) under Xvfb. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [DEVICES]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
devices=${2:-10000}
cmake --build "$build" --target big_table_bench vandrel vandrel-devsim >/dev/null
lab=bench_table
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true' EXIT
"$top/scripts/lab" --name "$lab" up 1 --device-args 1 "--devices $devices" >/dev/null
QT_QPA_PLATFORM=xcb timeout 900 "$top/scripts/lab" --name "$lab" run \
    xvfb-run -a -s "-screen 0 1600x1200x24" \
    "$build/bench/big_table/big_table_bench" "$devices" "$build/src/app/vandrel"
