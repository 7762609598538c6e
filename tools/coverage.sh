#!/usr/bin/env bash
# Builds a separate coverage configuration (gcc --coverage), runs the suite and prints line and
# branch coverage per area of the tree. The report of each area counts the area's own code, not its tests.
#   bash tools/coverage.sh            # table on standard output; HTML in build-coverage/html/
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
dir=build-coverage
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DBRINDLE_BENCHMARKS=OFF -DBRINDLE_COVERAGE=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
find "$dir" -name '*.gcda' -delete
# A failing test still leaves its coverage behind: report it, print the table, and fail at the end.
suite=0
ctest --test-dir "$dir" -j"$(nproc)" --timeout 900 >"$dir/ctest.log" || { suite=1; grep -A20 'tests failed' "$dir/ctest.log"; }

areas=()
for a in platform base hack src/Engine src/Scripting scripthost src/TamberFont src/TamberGUI launcher features \
         multiplayer squirrel; do
  [ -d "$a" ] && areas+=("$a")
done
printf '%-16s %8s %8s %8s %8s\n' area lines line% branches branch%
for a in "${areas[@]}"; do
  # Only the area's code: its tests and the headers of other areas are excluded.
  json=$(gcovr -r . --object-directory "$dir" --filter "$a/" --exclude '.*/tests/.*' --exclude '.*/fuzz/.*' \
         --gcov-ignore-parse-errors --json-summary - 2>/dev/null)
  python3 - "$a" "$json" <<'PY'
import json, sys
area, data = sys.argv[1], json.loads(sys.argv[2])
print(f"{area:<16} {data['line_total']:>8} {data['line_percent']:>7.1f}% {data['branch_total']:>8} {data['branch_percent']:>7.1f}%")
PY
done
mkdir -p "$dir/html"
gcovr -r . --object-directory "$dir" --exclude '.*/tests/.*' --gcov-ignore-parse-errors \
  --html-details "$dir/html/index.html" >/dev/null 2>&1 || true
exit $suite
