#!/usr/bin/env bash
# bench/fuzz_all/run.sh <release build dir>: every libFuzzer target for FUZZ_SECONDS each
# (default 300; CI runs them for 30), in the clang tree of scripts/fuzz, not the release tree.
# The corpus each run grows is thrown away; the seed corpora stay as checked in.
# Last line: one JSON object with the totals.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exec "$top/scripts/fuzz" "${FUZZ_SECONDS:-300}"
