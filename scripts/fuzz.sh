#!/usr/bin/env bash
# The long fuzzing run: builds the fuzz preset, then runs each libFuzzer
# target until it has made 10 million executions or spent the given time,
# niced, and prints per target the executions, exec/s, coverage, corpus size
# and findings.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Default 3600 s per target, every target. QUORVEL_FUZZ_JOBS=2 runs two
# targets at a time (never more: the machine has two shared cores).
# The corpus a run grows stays in build/fuzz/corpus/<target> (the seeds in
# tests/fuzz/corpus are only read); findings go to build/fuzz/findings/<target>.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
seconds=${1:-3600}
shift || true
all=(portal_answer configuration language_file runtime_data frame_report dongle_reports)
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all[@]}")
jobs=${QUORVEL_FUZZ_JOBS:-1}
(( jobs > 2 )) && jobs=2
maxRuns=10000000

cmake --preset fuzz </dev/null >/dev/null &&
    cmake --build --preset fuzz --parallel 2 </dev/null || exit 1

bin=build/fuzz/tests/fuzz
out=build/fuzz/long
mkdir -p "$out"

run() {
    local t=$1 dict=()
    [[ -f tests/fuzz/$t.dict ]] && dict=(-dict="tests/fuzz/$t.dict")
    mkdir -p "build/fuzz/corpus/$t" "build/fuzz/findings/$t"
    # -timeout: an input that takes seconds is a hang worth keeping.
    nice -n 19 "$bin/fuzz_$t" "${dict[@]}" -runs="$maxRuns" -max_total_time="$seconds" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$t/" \
        "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"$out/$t.log" 2>&1
    echo $? >"$out/$t.rc"
}

started=$SECONDS
running=0
for t in "${targets[@]}"; do
    [[ -x $bin/fuzz_$t ]] || { echo "fuzz.sh: no target $t" >&2; exit 1; }
    echo "fuzz.sh: $t (up to $seconds s or $maxRuns executions)"
    run "$t" &
    running=$((running + 1))
    if (( running >= jobs )); then
        wait -n
        running=$((running - 1))
    fi
done
wait

printf '\n%-16s %12s %9s %8s %8s %14s %9s\n' target executions exec/s cov ft corpus findings
status=0
for t in "${targets[@]}"; do
    log=$out/$t.log
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+\/[0-9]+[a-zA-Z]*).*/\1/p' <<<"$last")
    findings=$(find "build/fuzz/findings/$t" -type f | wc -l)
    rc=$(cat "$out/$t.rc")
    printf '%-16s %12s %9s %8s %8s %14s %9s\n' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" \
        "${ft:-?}" "${corp:-?}" "$findings"
    if [[ $rc -ne 0 || $findings -ne 0 ]]; then
        status=1
        grep -m3 -E 'ERROR|invariant broken|SUMMARY' "$log" | sed 's/^/    /'
    fi
done
echo "fuzz.sh: $((SECONDS - started)) s; logs in $out, findings in build/fuzz/findings"
exit "$status"
