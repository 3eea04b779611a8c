#!/usr/bin/env bash
# bench/socks_throughput/run.sh <release build dir>: 256 MiB and 1,000 handshakes through
# Debian's microsocks, TWSocket against QTcpSocket with a Socks5 proxy. Last line: JSON.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
if ! command -v microsocks >/dev/null; then
    echo "socks_throughput: needs microsocks (package microsocks)" >&2
    exit 2
fi
cmake --build "$build" --target socks_throughput_bench -j2 >/dev/null
exec timeout 1200 "$build/bench/socks_throughput/socks_throughput_bench"
