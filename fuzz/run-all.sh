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
# Usage: fuzz/run-all.sh <build dir> [seconds per target] [target...]
set -uo pipefail
build=${1:?usage: run-all.sh <build dir> [seconds per target] [target...]}
seconds=${2:-60}
seed=${VZ_FUZZ_SEED:-1}
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

failed=()
summary=()
for target in "${targets[@]}"; do
  exe=$fuzzdir/$target
  if [ ! -x "$exe" ]; then
    echo "run-all: $exe is missing (build the fuzz preset first)" >&2
    failed+=("$target (not built)")
    continue
  fi
  corpus=$scratch/$target/corpus
  findings=$fuzzdir/findings/$target
  mkdir -p "$corpus" "$findings" "$scratch/$target/tmp"
  if [ -d "$fuzzdir/seeds/$target" ]; then cp -r "$fuzzdir/seeds/$target/." "$corpus/"; fi
  log=$scratch/$target/log
  echo "== $target: ${seconds}s over $(ls "$corpus" | wc -l) seeds, mutation seed $seed"
  # TMPDIR: the whole-transfer target writes its template and output there.
  # The outer timeout only catches a fuzzer that stops honouring its own.
  TMPDIR=$scratch/$target/tmp timeout --kill-after=30 $((seconds + 300)) \
    "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -seed="$seed" \
    -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  found=$(grep -E '^(==[0-9]+==ERROR|SUMMARY: |ALARM: working on the last Unit|==[0-9]+== ERROR: libFuzzer)|runtime error:|Test unit written to' "$log" | head -5)
  if [ $rc -ne 0 ]; then
    echo "$target: FAILED (exit $rc) after ${execs:-?} executions"
    echo "$found"
    echo "--- last lines of the log"
    tail -40 "$log"
    failed+=("$target")
    summary+=("$target: FAILED, ${execs:-?} executions, $cov")
  else
    echo "$target: ${execs:-?} executions, $cov, no finding"
    summary+=("$target: ${execs:-?} executions, $cov, no finding")
  fi
done

echo "== Fuzzing summary (${seconds}s per target)"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]}; inputs in $fuzzdir/findings/" >&2
  exit 1
fi
