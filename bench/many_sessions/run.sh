#!/usr/bin/env bash
# bench/many_sessions/run.sh <release build dir> [SESSIONS] [BYTES]
# SESSIONS (default 32) sessions at once in Vandrel's window, each flooded with BYTES (default
# 64 MiB) by a loopback peer of its own, with a click on the table every 50 ms. Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [SESSIONS] [BYTES]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
cmake --build "$build" --target many_sessions_bench vandrel-devsim >/dev/null
lab=bench_many
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true' EXIT
"$top/scripts/lab" --name "$lab" up 1 >/dev/null
QT_QPA_PLATFORM=xcb timeout 3600 "$top/scripts/lab" --name "$lab" run \
    xvfb-run -a -s "-screen 0 1600x1200x24 -br" \
    "$build/bench/many_sessions/many_sessions_bench" "${2:-32}" "${3:-67108864}"
