#!/usr/bin/env bash
# Set-up, configure, build and run every test: once plainly (the concurrency
# suites also under valgrind's DRD), once under AddressSanitizer, LeakSanitizer
# and UBSan (any leak fails; tools/lsan.supp holds the few inside system
# libraries), then a short run of every fuzz target over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 600
}

run_suite build
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-sanitize -DBRINDLE_SANITIZE=ON -DBRINDLE_BENCHMARKS=OFF
bash tools/fuzz.sh
