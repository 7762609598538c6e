class Shape {
  static registry = [];
  sides = 0;
  constructor() { Shape.registry.append(this); }
  function describe() { return typeof this + " with " + sides + " sides"; }
  function _typeof() { return "Shape"; }
}
class Square extends Shape {
  sides = 4;
  function describe() { return "square: " + base.describe(); }
}
local sq = Square();
print(sq.describe() + "\n");
print(Shape.registry.len() + "\n");
// an instance is iterable only through _nexti
try { foreach (k, v in sq) print(k); } catch (e) { print(e + "\n"); }
// _nexti
class Range {
  lo = 0; hi = 0;
  constructor(a, b) { lo = a; hi = b; }
  function _nexti(prev) { if (prev == null) return lo; return prev + 1 < hi ? prev + 1 : null; }
  function _get(i) { if (typeof i == "integer") return i * i; throw null; }
}
foreach (i, v in Range(2, 5)) print(i + "=" + v + " ");
print("\n");
// generators as methods, nested generators
class Tree {
  items = null;
  constructor(i) { items = i; }
  // A suspended generator holds its this only weakly, so each subtree is kept in a local.
  function walk() { foreach (x in items) { if (typeof x == "array") { local sub = Tree(x); foreach (y in sub.walk()) yield y; } else yield x; } }
}
local flat = [];
local tree = Tree([1, [2, [3, 4]], 5]);
foreach (x in tree.walk()) flat.append(x);
print(flat.len() + " " + flat[2] + "\n");
// this inside nested functions and lambdas
local obj = { v = 3, get = function() { return (@() this.v)(); } };
print(obj.get() + "\n");
// static access from instance and class
class Counter { static n = [0]; function inc() { n[0]++; return n[0]; } }
Counter().inc(); Counter().inc();
print(Counter.n[0] + "\n");
// instance tostring default and custom
class Plain {}
local pl = Plain();
print((pl.tostring().find("(instance : 0x") == 0) + "\n");
print((typeof Plain) + " " + (Plain.rawin("x")) + "\n");
// delete on instances is refused
try { delete pl.x; } catch (e) { print(e + "\n"); }
// class newmember
class Fresh {}
Fresh.newmember("added", 5);
print(Fresh.rawget("added") + "\n");
// weakref to instance
local w = Plain().weakref();
print((w.ref() == null) + "\n");
local keep = Plain();
local w2 = keep.weakref();
print((w2.ref() == keep) + "\n");
// constructor returning value is ignored
class R { v = 1; constructor() { v = 2; return 99; } }
print(R().v + "\n");
// calling a method with a different this
local m = Square.describe;
print(m.call(Square()) + "\n");
// class with metamethod _call invoked through an instance
class Fn { function _call(self, a, b) { return a * b; } }
print(Fn()(6, 7) + "\n");
