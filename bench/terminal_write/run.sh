#!/usr/bin/env bash
# bench/terminal_write/run.sh <release build dir>
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
cmake --build "$build" --target terminal_write_bench >/dev/null
QT_QPA_PLATFORM=offscreen timeout 600 "$build/bench/terminal_write/terminal_write_bench"
