#!/usr/bin/env bash
# bench/gui_flood/run.sh <release build dir> [ROUNDS] [BYTES]
# The telnet flood (default 64 MiB) into Vandrel's window and PuTTY's on one Xvfb display,
# interleaved rounds (default 5), medians. Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [ROUNDS] [BYTES]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
command -v putty >/dev/null || { echo "gui_flood: needs putty (Debian package putty)" >&2; exit 2; }
cmake --build "$build" --target gui_flood_bench vandrel-devsim >/dev/null
lab=bench_gui
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true' EXIT
"$top/scripts/lab" --name "$lab" up 1 >/dev/null
QT_QPA_PLATFORM=xcb timeout 3600 "$top/scripts/lab" --name "$lab" run \
    xvfb-run -a -s "-screen 0 1600x1200x24 -br" \
    "$build/bench/gui_flood/gui_flood_bench" "${2:-5}" "${3:-67108864}"
