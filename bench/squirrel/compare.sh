#!/bin/sh
# Runs each benchmark script through sqrun and through Lua 5.4 and prints the time ratio.
# usage: compare.sh path/to/sqrun [lua-binary]
SQRUN=${1:?path to sqrun}
LUA=${2:-lua5.4}
DIR=$(dirname "$0")
for nut in "$DIR"/*.nut; do
  name=$(basename "$nut" .nut)
  lua="$DIR/$name.lua"
  s0=$(date +%s.%N); sq_out=$("$SQRUN" "$nut"); s1=$(date +%s.%N)
  l0=$(date +%s.%N); lua_out=$("$LUA" "$lua"); l1=$(date +%s.%N)
  sq=$(echo "$s1 - $s0" | bc -l); lu=$(echo "$l1 - $l0" | bc -l)
  ratio=$(echo "$sq / $lu" | bc -l)
  same=yes; [ "$sq_out" = "$lua_out" ] || same="NO ($sq_out / $lua_out)"
  printf '%-12s squirrel %.3fs  lua %.3fs  ratio %.2f  same checksum: %s\n' "$name" "$sq" "$lu" "$ratio" "$same"
done
