#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each over its seed corpus.
#   bash tools/fuzz.sh            # CI smoke: FUZZ_SECONDS (default 30) per target
#   FUZZ_SECONDS=3600 bash tools/fuzz.sh fuzz_hbf   # a longer run of one target
# A crash, leak or sanitizer report fails the run; findings land in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DBRINDLE_FUZZ=ON -DBRINDLE_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
mkdir -p "$dir/findings"
status=0
while IFS='=' read -r target corpus; do
  [ -n "$target" ] || continue
  if [ "$#" -gt 0 ] && [[ ! " $* " == *" $target "* ]]; then continue; fi
  work="$dir/corpus/$target"
  mkdir -p "$work"
  seeds=()
  [ -d "$corpus" ] && seeds=("$corpus")
  echo "== $target: ${seconds} s"
  # New inputs go to a scratch folder: the seed corpus in the tree stays as committed.
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1 \
      "$dir/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/findings/$target-" "$work" "${seeds[@]}" 2>"$dir/$target.log"; then
    tail -40 "$dir/$target.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$dir/$target.log" || true
  fi
done < "$dir/fuzzers.txt"
exit $status
