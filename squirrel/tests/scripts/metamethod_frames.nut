// Arithmetic metamethods written in script run as frames of the calling loop: results, errors, suspension,
// deep recursion and every operand form must come out as a nested call gave them.
class M {
  n = 0;
  constructor(x) { n = x; }
  function _add(o) { return M(n + (typeof o == "integer" ? o : o.n)); }
  function _sub(o) { return M(n - o.n); }
  function _mul(o) { return M(n * o); }
  function _div(o) { return n / o; }
  function _modulo(o) { return n % o; }
  function _tostring() { return "M" + n; }
}
local a = M(7), b = M(3);
local r = a + b;
print(r.n + " " + (a - b).n + " " + (a * 4).n + " " + (a / 2) + " " + (a % 4) + "\n");
local acc = M(0);
for (local i = 0; i < 5; ++i) acc = acc + M(i);
print(acc.n + " " + (M(1) + M(2) + M(3)).n + " " + ((a + 1) * 2).n + "\n");
// A string on the right concatenates through _tostring; _add is not asked.
print(a + "|" + "s" + b + "\n");
// Table delegates answer the same way.
local del = { _add = function(o) { return "t+" + o; }, _mul = function(o) { return x * o; } };
local t = { x = 6 }.setdelegate(del);
print((t + 5) + " " + (t * 7) + "\n");
// Errors thrown inside a metamethod, or a metamethod of the wrong arity, reach the caller's try.
class Bad {
  function _add(o) { throw "add failed " + o; }
  function _sub() { return 1; }
  function _mul(o) { return missing_global; }
}
local bad = Bad();
foreach (op in [@() bad + 1, @() bad - 1, @() bad * 1]) {
  try { op(); print("no error\n"); } catch (e) { print("caught: " + e + "\n"); }
}
// An error in a metamethod nested in another unwinds both frames to the outer try, leaving the stack usable.
class Nest {
  d = 0;
  constructor(x) { d = x; }
  function _add(o) { if (d == 0) throw "bottom"; return Nest(d - 1) + o; }
}
try { Nest(10) + 1; } catch (e) { print("caught: " + e + "\n"); }
local after = 0;
for (local i = 0; i < 3; ++i) after += i;
print(after + "\n");
// Deep recursion through a metamethod: each level is a frame, not a nested loop.
class Deep {
  d = 0;
  constructor(x) { d = x; }
  function _add(o) { return d == 0 ? o : (Deep(d - 1) + (o + 1)); }
}
print((Deep(1000) + 0) + "\n");
// A metamethod cannot suspend the thread that runs it.
class Sus { function _add(o) { return suspend(o); } }
local th = newthread(function() { return Sus() + 1; });
try { th.call(); print("suspended\n"); } catch (e) { print("caught: " + e + "\n"); }
// A metamethod bound to an environment sees it as this.
class Env { function _add(o) { return 0; } }
local envTable = { tag = "env:" };
Env._add <- function(o) { return tag + o; }.bindenv(envTable);
print((Env() + 1) + "\n");
// A generator function as a metamethod hands out its generator.
class Gen { function _add(o) { yield o; yield o * 2; } }
local g = Gen() + 21;
print(typeof g + " " + resume g + " " + resume g + "\n");
