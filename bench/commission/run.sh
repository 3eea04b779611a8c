#!/usr/bin/env bash
# bench/commission/run.sh <release build dir> [DEVICES] [PARALLEL]
# A lab of DEVICES (default 50) simulated devices; "vandrel --run docs/examples/set-ip.vsc --scan
# --vars docs/examples/set-ip.csv" gives each its new address with --parallel PARALLEL (default
# 16) and then, after every device was restarted to its first state, with --parallel 1.
# Each device answers its console input COMMISSION_ANSWER_DELAY ms late (default 50, as a slow
# device's CPU does; 0: at once, when a session takes well under a millisecond and there is
# nothing for parallel sessions to win). seconds is the whole command (its 2 s discovery wait
# included), run_seconds the sessions alone as the report gives them; speedup =
# seconds_parallel_1 / seconds. Needs root (the lab's network namespaces). Last line: one JSON
# object.
set -euo pipefail
build=${1:?"usage: run.sh <release build dir> [DEVICES] [PARALLEL]"}
top=$(cd "$(dirname "$0")/../.." && pwd)
devices=${2:-50}
parallel=${3:-16}
answer_delay=${COMMISSION_ANSWER_DELAY:-50}
lab=bench_commission
work=$(mktemp -d)

cmake --build "$build" --target vandrel vandrel-devsim commission_measure >/dev/null
export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true
trap '"$top/scripts/lab" --name "$lab" down >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$top/scripts/lab" --name "$lab" up "$devices" --devsim-args "--answer-delay $answer_delay" >/dev/null

# One run with N sessions at a time: "passed failed run_seconds exit seconds peak_rss_kib".
commission() {
    local n=$1 report=$work/report-$1.json measured
    measured=$("$top/scripts/lab" --name "$lab" run "$build/bench/commission/commission_measure" \
        env -u DISPLAY -u WAYLAND_DISPLAY "$build/src/app/vandrel" \
        --run "$top/docs/examples/set-ip.vsc" --scan --vars "$top/docs/examples/set-ip.csv" \
        --parallel "$n" --report "$report" 2>"$work/err-$n" | tee "$work/out-$n" | tail -1)
    python3 - "$report" "$measured" <<'PY'
import json, re, sys
report = json.load(open(sys.argv[1]))
m = dict(re.findall(r"(\w+)=([0-9.]+)", sys.argv[2]))
print(report["passed"], report["failed"], report["seconds"], m["exit"], m["seconds"],
      m["peak_rss_kib"])
PY
}

# Every device back to its first address (the dialogue's new one lives until a restart).
restart_devices() {
    for k in $(seq 1 "$devices"); do
        "$top/scripts/lab" --name "$lab" device "$k" restart >/dev/null
    done
}

read -r passed failed run_seconds exit_code seconds rss <<<"$(commission "$parallel")"
restart_devices
read -r passed1 failed1 run_seconds1 exit1 seconds1 rss1 <<<"$(commission 1)"
for n in "$parallel" 1; do
    echo "--parallel $n: $(tail -1 "$work/out-$n")"
    grep -v -E '^(Searched|vandrel: skipped)' "$work/err-$n" || true
done
python3 - "$answer_delay" "$parallel" "$devices" "$passed" "$failed" "$seconds" "$run_seconds" "$seconds1" "$run_seconds1" \
    "$rss" "$rss1" "$passed1" "$failed1" <<'PY'
import json, sys
(answer_delay, parallel, devices, passed, failed, seconds, run_seconds, seconds1, run_seconds1, rss, rss1,
 passed1, failed1) = sys.argv[1:]
seconds, seconds1 = float(seconds), float(seconds1)
run_seconds, run_seconds1 = float(run_seconds), float(run_seconds1)
print(f"{passed}/{devices} passed in {seconds:.2f} s at --parallel {parallel} (sessions {run_seconds:.2f} s),"
      f" {passed1} passed in {seconds1:.2f} s at --parallel 1 (sessions {run_seconds1:.2f} s);"
      f" devices answer {answer_delay} ms late")
print(json.dumps({
    "devices": int(devices), "answer_delay_ms": int(answer_delay), "passed": int(passed), "failed": int(failed),
    "seconds": round(seconds, 3), "seconds_parallel_1": round(seconds1, 3),
    "speedup": round(seconds1 / seconds, 2),
    "run_seconds": round(run_seconds, 3), "run_seconds_parallel_1": round(run_seconds1, 3),
    "run_speedup": round(run_seconds1 / run_seconds, 2),
    "passed_parallel_1": int(passed1), "failed_parallel_1": int(failed1),
    "peak_rss_mib": round(max(int(rss), int(rss1)) / 1024, 1)}))
PY
