#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each over its seed corpus.
#   bash tools/fuzz.sh            # CI smoke: FUZZ_SECONDS (default 15) per target, half the cores at once
#   FUZZ_SECONDS=3600 bash tools/fuzz.sh fuzz_hbf   # a longer run of one target
# A target whose seed folder corpus/<name>/ has a corpus/<name>.dict beside it runs with that dictionary.
# A crash, leak or sanitizer report fails the run; findings land in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-15}
jobs=$(( $(nproc) / 2 )); [ "$jobs" -ge 1 ] || jobs=1
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DBRINDLE_FUZZ=ON -DBRINDLE_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
mkdir -p "$dir/findings"
# One target over its seeds; its report is printed whole when it fails, its run count when it passes.
run_target() {
  local target=$1 corpus=$2
  local work="$dir/corpus/$target"
  mkdir -p "$work"
  local seeds=()
  [ -d "$corpus" ] && seeds=("$corpus")
  local options=()
  [ -f "${corpus%/}.dict" ] && options=(-dict="${corpus%/}.dict")
  # New inputs go to a scratch folder: the seed corpus in the tree stays as committed.
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1 \
      "$dir/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/findings/$target-" "${options[@]}" "$work" "${seeds[@]}" 2>"$dir/$target.log"; then
    echo "== $target: FAILED"
    tail -40 "$dir/$target.log"
    return 1
  fi
  # Targets keep the code under test quiet: a passing run's log holds libFuzzer's own lines alone.
  local printed
  printed=$(awk '/^###### Recommended dictionary/ { skip = 1 } skip { if (/^###### End of/) skip = 0; next }
                 !/^(INFO: |#[0-9]|\tNEW_FUNC|Done |stat::|MS: |WARNING: |Slowest unit: |artifact_prefix=|Dictionary: |$)/' "$dir/$target.log" | head -5)
  if [ -n "$printed" ]; then
    echo "== $target: FAILED: the code under test printed"
    echo "$printed"
    return 1
  fi
  echo "== $target: $(grep -E '^stat::number_of_executed_units' "$dir/$target.log" || true)"
}

status=0
running=0
while IFS='=' read -r target corpus; do
  [ -n "$target" ] || continue
  if [ "$#" -gt 0 ] && [[ ! " $* " == *" $target "* ]]; then continue; fi
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$target" "$corpus" &
  running=$((running + 1))
done < "$dir/fuzzers.txt"
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
