#!/usr/bin/env bash
# bench/scrollback_memory/run.sh <release build dir>
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
cmake --build "$build" --target scrollback_memory_bench >/dev/null
QT_QPA_PLATFORM=offscreen timeout 300 "$build/bench/scrollback_memory/scrollback_memory_bench"
