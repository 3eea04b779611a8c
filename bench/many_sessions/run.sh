#!/usr/bin/env bash
# bench/many_sessions/run.sh <release build dir> [SESSIONS] [BYTES]
# SESSIONS (default 32) sessions at once in Vandrel's window, each flooded with BYTES (default
# 64 MiB) by a loopback peer of its own, with a click on the table every 50 ms. Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [SESSIONS] [BYTES]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/bench/desktop/lab-display.sh"
run_on_lab_display bench_many many_sessions -- "${2:-32}" "${3:-67108864}"
