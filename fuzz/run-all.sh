#!/usr/bin/env bash
# Runs every fuzz target for a bounded time over a scratch copy of its seeds.
# A crash, leak, timeout (one input over 10 s) or out-of-memory (over 2 GB)
# fails the script; the input that found it is left in
# <build>/fuzz/findings/<target>/ to be kept under
# tests/data/regressions/<target>/, where the test suite replays it.
# The mutation seed is fixed (VZ_FUZZ_SEED, 1 by default), so runs over the
# same sources follow the same mutations: a CI run passes or fails for the
# code, not for the luck of a clock-chosen seed, and what it finds can be
# searched for again here. VZ_FUZZ_SEED=0 lets libFuzzer choose, for the long
# searches that look for new faults.
# The targets run VZ_JOBS (2) at a time, each a single process on its own
# core: the time per target, and so what each one searches, is the same as
# one after another.
# Usage: fuzz/run-all.sh <build dir> [seconds per target] [target...]
set -uo pipefail
build=${1:?usage: run-all.sh <build dir> [seconds per target] [target...]}
seconds=${2:-60}
seed=${VZ_FUZZ_SEED:-1}
jobs=${VZ_JOBS:-2}
shift $(( $# >= 2 ? 2 : $# ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(cfb_fuzz xls_fuzz formula_fuzz fill_fuzz quote_document_fuzz command_line_fuzz xlsx_package_fuzz xlsx_workbook_fuzz)
fi
fuzzdir=$build/fuzz
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vz-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# run_target TARGET: one bounded run; its verdict goes to $scratch/TARGET/result
# (first line "ok" or "FAILED"), the libFuzzer log beside it.
run_target() {
  local target=$1 exe=$fuzzdir/$1
  local corpus=$scratch/$target/corpus findings=$fuzzdir/findings/$target log=$scratch/$target/log
  mkdir -p "$corpus" "$findings" "$scratch/$target/tmp"
  if [ ! -x "$exe" ]; then
    echo "FAILED (not built: $exe is missing; build the sanitize preset first)" >"$scratch/$target/result"
    return
  fi
  if [ -d "$fuzzdir/seeds/$target" ]; then cp -r "$fuzzdir/seeds/$target/." "$corpus/"; fi
  echo "== $target: ${seconds}s over $(ls "$corpus" | wc -l) seeds, mutation seed $seed"
  # TMPDIR: the whole-transfer target writes its template and output there.
  # The outer timeout only catches a fuzzer that stops honouring its own.
  TMPDIR=$scratch/$target/tmp timeout --kill-after=30 $((seconds + 300)) \
    "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -seed="$seed" \
    -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
  local rc=$? execs cov
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    echo "FAILED (exit $rc), ${execs:-?} executions, $cov" >"$scratch/$target/result"
  else
    echo "ok ${execs:-?} executions, $cov, no finding" >"$scratch/$target/result"
  fi
  echo "$target: $(head -1 "$scratch/$target/result")"
}

running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait

failed=()
summary=()
for target in "${targets[@]}"; do
  result=$(head -1 "$scratch/$target/result" 2>/dev/null || echo "FAILED (no result)")
  if [[ $result == ok* ]]; then
    summary+=("$target: ${result#ok }")
    continue
  fi
  failed+=("$target")
  summary+=("$target: $result")
  log=$scratch/$target/log
  if [ -f "$log" ]; then
    echo "== $target: $result"
    grep -E '^(==[0-9]+==ERROR|SUMMARY: |ALARM: working on the last Unit|==[0-9]+== ERROR: libFuzzer)|runtime error:|Test unit written to' "$log" | head -5
    echo "--- last lines of the log"
    tail -40 "$log"
  fi
done

echo "== Fuzzing summary (${seconds}s per target, $jobs at a time)"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]}; inputs in $fuzzdir/findings/" >&2
  exit 1
fi
