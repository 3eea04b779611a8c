#!/usr/bin/env bash
# bench/telnet_throughput/run.sh <release build dir>: the terminal and Debian's telnet client
# receiving the same 64 MiB stream over loopback, in TT_ROUNDS (default 5) interleaved rounds;
# medians are reported. Last line: one JSON object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir>"}
if [[ ! -x /usr/bin/inetutils-telnet ]]; then
    echo "telnet_throughput: needs /usr/bin/inetutils-telnet (package inetutils-telnet)" >&2
    exit 2
fi
cmake --build "$build" --target telnet_throughput_bench -j2 >/dev/null
QT_QPA_PLATFORM=offscreen exec timeout 900 "$build/bench/telnet_throughput/telnet_throughput_bench" "${TT_ROUNDS:-5}"
