#!/usr/bin/env bash
# bench/line_mode/run.sh <release build dir>: 80-byte lines over loopback, received line by
# line in LineMode against raw receives of the same bytes. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
cmake --build "$build" --target line_mode_bench -j2 >/dev/null
exec timeout 900 "$build/bench/line_mode/line_mode_bench"
