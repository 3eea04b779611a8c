#!/usr/bin/env bash
# bench/startup/run.sh <release build dir> [STARTS]
# Process start to a mapped, painted window: Vandrel and PuTTY on one Xvfb display, STARTS
# (default 20) each, alternating; medians. Runs in a lab's app namespace (root), so the
# programs' traffic stays there. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [STARTS]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
command -v putty >/dev/null || { echo "startup: needs putty (Debian package putty)" >&2; exit 2; }
. "$top/bench/desktop/lab-display.sh"
run_on_lab_display bench_start startup vandrel -- "$build/src/app/vandrel" "${2:-20}"
