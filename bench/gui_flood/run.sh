#!/usr/bin/env bash
# bench/gui_flood/run.sh <release build dir> [ROUNDS] [BYTES]
# The telnet flood (default 64 MiB) into Vandrel's window and PuTTY's on one Xvfb display,
# interleaved rounds (default 5), medians. Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [ROUNDS] [BYTES]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
command -v putty >/dev/null || { echo "gui_flood: needs putty (Debian package putty)" >&2; exit 2; }
. "$top/bench/desktop/lab-display.sh"
run_on_lab_display bench_gui gui_flood -- "${2:-5}" "${3:-67108864}"
