// Per-turn allocation through methods and a metamethod, and a call through `base`.
class Pair {
  a = 0;
  b = 0;
  constructor(x, y) { a = x; b = y; }
  function scaled(k) { return Pair(a * k, b * k); }
  function _add(o) { return Pair(a + o.a, b + o.b); }
  function dot(o) { return a * o.a + b * o.b; }
  function step() { return a + b; }
}
class Walker extends Pair {
  constructor(x, y) { base.constructor(x, y); }
  function step() { return base.step() + 1; }
}
local N = 1000000;
local p = Pair(1, 2);
local sum = 0;
for (local i = 0; i < N; ++i) {
  local q = p.scaled(i % 5);
  p = Pair(i % 7, i % 3) + q;
  sum = (sum + p.a + p.b) % 1000003;
}
local u = Pair(3, 4);
local d = 0;
for (local i = 0; i < N; ++i) d = (d + u.dot(p) + i) % 1000003;
local w = Walker(2, 5);
local s = 0;
for (local i = 0; i < N; ++i) s = (s + w.step()) % 1000003;
print("checksum: " + sum + " " + d + " " + s + "\n");
