#!/usr/bin/env bash
# bench/startup/run.sh <release build dir> [STARTS]
# Process start to a mapped, painted window: Vandrel and PuTTY on one Xvfb display, STARTS
# (default 20) each, alternating; medians. Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [STARTS]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
command -v putty >/dev/null || { echo "startup: needs putty (Debian package putty)" >&2; exit 2; }
cmake --build "$build" --target startup_bench vandrel vandrel-devsim >/dev/null
lab=bench_start
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true' EXIT
"$top/scripts/lab" --name "$lab" up 1 >/dev/null
QT_QPA_PLATFORM=xcb timeout 3600 "$top/scripts/lab" --name "$lab" run \
    xvfb-run -a -s "-screen 0 1600x1200x24 -br" \
    "$build/bench/startup/startup_bench" "$build/src/app/vandrel" "${2:-20}"
