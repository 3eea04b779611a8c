#!/usr/bin/env bash
# bench/socket_throughput/run.sh <release build dir>: TWSocket against a blocking
# read loop and QTcpSocket over loopback. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
cmake --build "$build" --target socket_throughput_bench -j2 >/dev/null
exec timeout 900 "$build/bench/socket_throughput/socket_throughput_bench"
