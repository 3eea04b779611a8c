# Sourced by the desktop benchmarks' run.sh, after $build and $top are set.
# run_on_lab_display LAB BENCH [TARGET...] -- ARGS...: builds bench/BENCH/BENCH_bench (and the
# extra targets) and runs it with ARGS on an Xvfb display inside a one-device lab named LAB
# (root), so that the programs' traffic stays in the lab. The lab goes down at exit.
run_on_lab_display() {
    local lab=$1 bench=$2
    shift 2
    local targets=("${bench}_bench" vandrel-devsim)
    while (($# > 0)) && [[ $1 != -- ]]; do
        targets+=("$1")
        shift
    done
    shift || true
    cmake --build "$build" --target "${targets[@]}" >/dev/null
    export VANDREL_DEVSIM="$build/tools/devsim/vandrel-devsim"
    trap '"$top/scripts/lab" --name "'"$lab"'" down >/dev/null 2>&1 || true' EXIT
    "$top/scripts/lab" --name "$lab" up 1 >/dev/null
    QT_QPA_PLATFORM=xcb timeout 3600 "$top/scripts/lab" --name "$lab" run \
        xvfb-run -a -s "-screen 0 1600x1200x24 -br" \
        "$build/bench/$bench/${bench}_bench" "$@"
}
