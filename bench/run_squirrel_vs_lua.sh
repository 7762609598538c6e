#!/usr/bin/env bash
# Runs each benchmark script pair (bench/scripts/NAME.nut through sqrun, NAME.lua through Lua 5.4),
# checks that both print the same checksum line and prints the time ratio squirrel/lua.
# Each side is run REPEAT times (default 3) and the fastest run counts. With /usr/bin/time present the
# largest peak resident memory of the runs is printed too, with its ratio squirrel/lua.
# usage: bench/run_squirrel_vs_lua.sh [path/to/sqrun] [lua binary]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
SQRUN=${1:-${SQRUN:-}}
LUA=${2:-${LUA:-lua5.4}}
REPEAT=${REPEAT:-3}
if [ -z "$SQRUN" ]; then
  for candidate in "$here"/../build*/tools/sqrun/sqrun; do
    if [ -x "$candidate" ]; then SQRUN=$candidate; break; fi
  done
fi
if [ -z "$SQRUN" ] || [ ! -x "$SQRUN" ]; then
  echo "sqrun not found; pass its path as the first argument" >&2
  exit 2
fi
command -v "$LUA" >/dev/null || { echo "$LUA not found (tools/setup.sh installs lua5.4)" >&2; exit 2; }

TIMER=/usr/bin/time
[ -x "$TIMER" ] || TIMER=""

# Prints the fastest wall time in seconds of REPEAT runs; the output of the last run goes to $2, the
# largest peak memory in kB to $2.kb (0 without /usr/bin/time).
best_time() {
  local best="" out=$2 t0 t1 elapsed peak=0 kb
  shift 2
  for _ in $(seq "$REPEAT"); do
    t0=$(date +%s%N)
    if [ -n "$TIMER" ]; then
      "$TIMER" -f %M -o "$out.mem" "$@" > "$out"
      kb=$(tail -n 1 "$out.mem")
      if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
    else
      "$@" > "$out"
    fi
    t1=$(date +%s%N)
    elapsed=$(( (t1 - t0) / 1000 ))
    if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
  done
  echo "$peak" > "$out.kb"
  awk -v us="$best" 'BEGIN { printf "%.3f", us / 1e6 }'
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
printf '%-14s %10s %10s %8s %10s %10s %8s  %s\n' script squirrel lua ratio sq_kB lua_kB mem checksum
for nut in "$here"/scripts/*.nut; do
  name=$(basename "$nut" .nut)
  lua="$here/scripts/$name.lua"
  [ -f "$lua" ] || continue
  sq_t=$(best_time x "$tmp/sq.out" "$SQRUN" "$nut")
  lua_t=$(best_time x "$tmp/lua.out" "$LUA" "$lua")
  sq_sum=$(grep '^checksum:' "$tmp/sq.out" || true)
  lua_sum=$(grep '^checksum:' "$tmp/lua.out" || true)
  if [ -n "$sq_sum" ] && [ "$sq_sum" = "$lua_sum" ]; then
    check="same"
  else
    check="DIFFERENT: squirrel '$sq_sum' lua '$lua_sum'"
    status=1
  fi
  ratio=$(awk -v a="$sq_t" -v b="$lua_t" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')
  sq_kb=$(cat "$tmp/sq.out.kb")
  lua_kb=$(cat "$tmp/lua.out.kb")
  mem=$(awk -v a="$sq_kb" -v b="$lua_kb" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')
  printf '%-14s %9ss %9ss %8s %10s %10s %8s  %s\n' "$name" "$sq_t" "$lua_t" "$ratio" "$sq_kb" "$lua_kb" "$mem" "$check"
done
exit $status
