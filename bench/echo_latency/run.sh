#!/usr/bin/env bash
# bench/echo_latency/run.sh <release build dir> [ROUNDS] [PRESSES]
# Key press to echo on the screen in Vandrel's window and PuTTY's on one Xvfb display,
# PRESSES (default 200) for each in interleaved rounds (default 5). Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [ROUNDS] [PRESSES]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
command -v putty >/dev/null || { echo "echo_latency: needs putty (Debian package putty)" >&2; exit 2; }
. "$top/bench/desktop/lab-display.sh"
run_on_lab_display bench_echo echo_latency -- "${2:-5}" "${3:-200}"
