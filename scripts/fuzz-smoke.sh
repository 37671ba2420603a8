#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz"), runs each over its committed seed corpus
# (fuzz/corpus/<target>/), then fuzzes it for a bounded time on one core. Fails on any crash,
# leak or timeout and names the file that reproduces it. Inputs found while fuzzing go to a
# scratch folder under build/fuzz/smoke/, never into the committed corpus.
#
#   scripts/fuzz-smoke.sh [target ...]      all targets when none is named
#   FUZZ_SECONDS=20 FUZZ_MAX_LEN=8192 FUZZ_RSS_MB=2048 FUZZ_TIMEOUT=10   (the defaults)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
max_len="${FUZZ_MAX_LEN:-8192}"
rss_mb="${FUZZ_RSS_MB:-2048}"
timeout_s="${FUZZ_TIMEOUT:-10}"

./scripts/install-deps.sh
# ccache, when present, only as the compiler launcher; an empty value clears an earlier one.
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher=ccache; fi
cmake --preset fuzz -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" -DCMAKE_C_COMPILER_LAUNCHER="$launcher" >/dev/null
cmake --build --preset fuzz --target corvane_fuzzers

root="$(pwd)"
smoke="$root/build/fuzz/smoke"
list="$root/build/fuzz/fuzzers.txt"
# Targets that write files do so under TMPDIR; memory-backed, they run many times faster.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# Qt's one-time allocations in system libraries are not leaks of the code under test.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}"

declare -A program=()
names=()
while read -r name path; do
  [ -n "$name" ] || continue
  program[$name]="$path"
  names+=("$name")
done <"$list"
if [ $# -gt 0 ]; then names=("$@"); fi

# Prints what libFuzzer said about the failure and where the reproducer is.
report_failure() {
  local log="$1" artifacts="$2" replayed="${3:-}"
  tail -n 30 "$log" | sed 's/^/    /'
  [ -n "$replayed" ] && echo "  reproducer (committed seed): $replayed"
  local found=0 f
  for f in "$artifacts"/*; do
    [ -e "$f" ] || continue
    echo "  reproducer written to: $f"
    found=1
  done
  [ $found -eq 1 ] || [ -n "$replayed" ] || echo "  no reproducer written; full log: $log"
}

passed=0
failed=0
failures=()
for name in "${names[@]}"; do
  bin="${program[$name]:-}"
  corpus="$root/fuzz/corpus/$name"
  work="$smoke/$name"
  rm -rf "$work"
  mkdir -p "$work/new" "$work/artifacts"
  if [ -z "$bin" ] || [ ! -x "$bin" ]; then
    echo "FAIL $name: no such fuzz target in $list"
    failed=$((failed + 1)); failures+=("$name"); continue
  fi
  seeds=("$corpus"/*)
  if [ ! -e "${seeds[0]}" ]; then
    echo "FAIL $name: no seed corpus in fuzz/corpus/$name/"
    failed=$((failed + 1)); failures+=("$name"); continue
  fi
  options=(-rss_limit_mb="$rss_mb" -timeout="$timeout_s" -artifact_prefix="$work/artifacts/")

  # Every seed once, whole (a regression seed may be longer than the fuzzing limit).
  if ! "$bin" "${options[@]}" "${seeds[@]}" >"$work/replay.log" 2>&1; then
    last="$(grep -o '^Running: .*' "$work/replay.log" | tail -n 1 | cut -d' ' -f2-)"
    echo "FAIL $name: a seed of the corpus fails"
    report_failure "$work/replay.log" "$work/artifacts" "$last"
    failed=$((failed + 1)); failures+=("$name"); continue
  fi

  # Then fuzzing from the seeds; the scratch folder comes first, so new inputs land there.
  if ! "$bin" "${options[@]}" -max_len="$max_len" -max_total_time="$seconds" -print_final_stats=1 \
      "$work/new" "$corpus" >"$work/fuzz.log" 2>&1; then
    echo "FAIL $name: fuzzing found a failure"
    report_failure "$work/fuzz.log" "$work/artifacts"
    failed=$((failed + 1)); failures+=("$name"); continue
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log")"
  cov="$(grep -o 'cov: [0-9]*' "$work/fuzz.log" | tail -n 1 | cut -d' ' -f2)"
  echo "ok   $name: ${#seeds[@]} seeds, ${seconds} s fuzzing, ${runs:-?} runs, coverage ${cov:-?}"
  passed=$((passed + 1))
done

echo "fuzz smoke: $passed passed, $failed failed${failures:+ (${failures[*]})}"
[ "$failed" -eq 0 ]
