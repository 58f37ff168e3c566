#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on its committed corpus, two at a time (CI has two
# cores), and prints the executions of each.
#   scripts/run_fuzzers.sh BUILD_FOLDER [SECONDS_EACH]
# New inputs go to a scratch corpus in the build folder, never into the committed one. A crash,
# leak, hang or broken property fails the run, and its input is copied into the committed
# corpus (tests/fuzz/corpus/<target>/) as a regression to commit with the fix: every later run
# replays the whole committed corpus before it mutates anything.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(sealed_fuzz gcm_fuzz command_line_fuzz settings_fuzz hex_text_fuzz)

# The file targets write a small file per input: memory-backed is several times faster.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

run_one() {
  local target=$1
  local work=$build/fuzz/corpus/$target artifacts=$build/fuzz/artifacts/$target
  rm -rf "$artifacts"
  mkdir -p "$work" "$artifacts"
  "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$root/tests/fuzz/corpus/$target" \
    >"$build/fuzz/$target.log" 2>&1
}

mkdir -p "$build/fuzz"
pids=()
for target in "${targets[@]}"; do
  if ((${#pids[@]} >= 2)); then
    wait -n || true
    pids=($(jobs -pr))
  fi
  run_one "$target" &
  pids+=($!)
done
wait || true

failed=0
total=0
printf '%-20s %12s %10s %8s\n' target executions exec/s edges
for target in "${targets[@]}"; do
  log=$build/fuzz/$target.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  edges=$(sed -n 's/^#[0-9]*[[:space:]]*DONE[[:space:]]*cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
  printf '%-20s %12s %10s %8s\n' "$target" "${runs:-?}" "${speed:-?}" "${edges:-?}"
  total=$((total + ${runs:-0}))
  found=$(find "$build/fuzz/artifacts/$target" -type f | head -1)
  if [ -n "$found" ] || ! grep -q '^Done [0-9]* runs' "$log"; then
    failed=$((failed + 1))
    echo "---- $target failed; the end of its log:"
    tail -40 "$log"
    for input in "$build/fuzz/artifacts/$target"/*; do
      [ -f "$input" ] || continue
      kept=$root/tests/fuzz/corpus/$target/regression-$(basename "$input")
      cp "$input" "$kept"
      echo "---- its input is now a regression: $kept (commit it with the fix)"
    done
  fi
done
echo "total executions: $total"
echo "fuzz: $((${#targets[@]} - failed)) passed, $failed failed"
((failed == 0))
