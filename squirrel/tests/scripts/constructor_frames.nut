// Constructors called from scripts run as frames of the calling loop: whatever they return or how they
// end, the call gives the new instance (or the error), exactly as a nested call did.
class Point {
  x = 0;
  y = 0;
  constructor(ax, ay = 5) { x = ax; y = ay; return 42; }
  function _tostring() { return "(" + x + "," + y + ")"; }
}
function helper(p) { return p; }
class TailCalls {
  v = 0;
  constructor(a) { v = a; return helper(a * 2); }
}
class Varargs {
  n = 0;
  constructor(...) { n = vargv.len(); }
}
class Base {
  tag = "";
  constructor(t) { tag = "base:" + t; }
}
class Derived extends Base {
  extra = 0;
  constructor(t) { base.constructor(t); extra = t.len(); }
}
class Thrower {
  constructor(fail) { if (fail) throw "ctor failed"; }
}
class Chain {
  next = null;
  depth = 0;
  constructor(d) { depth = d; if (d > 0) next = Chain(d - 1); }
}
class Suspends {
  constructor() { suspend(1); }
}
print(Point(1) + " " + Point(2, 3) + " " + TailCalls(4).v + " " + Varargs(1, 2, 3).n + "\n");
local d = Derived("abc");
print(d.tag + " " + d.extra + " " + (d instanceof Base) + "\n");
try { Thrower(true); } catch (e) { print("caught: " + e + "\n"); }
print(typeof Thrower(false) + "\n");
local c = Chain(50), n = 0;
while (c) { n += c.depth; c = c.next; }
print(n + "\n");
try { Point(); } catch (e) { print("caught: " + e + "\n"); }
local th = newthread(function() { return Suspends(); });
try { th.call(); } catch (e) { print("caught: " + e + "\n"); }
// An environment-bound constructor keeps its environment as `this`.
class Bound { seen = null; }
local env = { marker = "env", seen = null };
Bound.constructor <- function() { seen = marker; }.bindenv(env);
local b = Bound();
print(b.seen + " " + env.seen + "\n");
// Built in a loop and by an arithmetic metamethod.
class V {
  a = 0;
  constructor(x) { a = x; }
  function _add(o) { return V(a + o.a); }
}
local acc = V(0);
for (local i = 0; i < 100; ++i) acc = acc + V(i);
print(acc.a + "\n");
