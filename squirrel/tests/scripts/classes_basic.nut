class Animal {
  name = null;
  legs = 4;
  static count = [0];
  tags = [];
  constructor(n) { name = n; Animal.count[0]++; }
  function speak() { return name + " makes a sound"; }
  function _tostring() { return "Animal(" + name + ")"; }
}
class Dog extends Animal {
  constructor(n) { base.constructor(n); }
  function speak() { return name + " barks; " + base.speak(); }
}
local a = Animal("cat");
local d = Dog("rex");
print(a.speak() + "\n");
print(d.speak() + "\n");
print(Animal.count[0] + "\n");
print(d.legs + "\n");
print((d instanceof Animal) + " " + (a instanceof Dog) + "\n");
print(a + "\n");
print(typeof a + " " + typeof Animal + "\n");
// member defaults are shared between instances
a.tags.append("x");
print(d.tags.len() + "\n");
// locking
try { Animal.newfield <- 1; } catch (e) { print(e + "\n"); }
try { a.newfield <- 1; } catch (e) { print(e + "\n"); }
try { a.nothere = 1; } catch (e) { print(e + "\n"); }
// adding a method after instantiation is allowed
Animal.extra <- function() { return "extra " + name; }
print(a.extra() + "\n");
print(d.getclass() == Dog);
print("\n");
print((Dog.getbase() == Animal) + "\n");
local c = clone d;
c.name = "copy";
print(d.name + " " + c.name + "\n");
// attributes
class Attr </ version = 2 /> {
  </ desc = "field" /> x = 1;
  function f() {}
}
print(Attr.getattributes(null).version + " " + Attr.getattributes("x").desc + "\n");
// _inherited and _newmember
class Base2 {
  function _inherited(cls) { print("inherited by a class\n"); }
}
class Derived2 extends Base2 {}
// static members
class S { static K = 10; function get() { return K; } }
print(S.K + " " + S().get() + "\n");
// constructor with defaults
class P { x = 0; y = 0; constructor(a, b = 5) { x = a; y = b; } }
local p = P(1);
print(p.x + "," + p.y + "\n");
// metamethods on instances
class V {
  x = 0;
  constructor(v) { x = v; }
  function _add(o) { return V(x + o.x); }
  function _sub(o) { return V(x - o.x); }
  function _mul(o) { return V(x * (typeof o == "integer" ? o : o.x)); }
  function _unm() { return V(-x); }
  function _cmp(o) { return x <=> o.x; }
  function _typeof() { return "V"; }
  function _get(k) { if (k == "double") return x * 2; throw null; }
  function _set(k, v) { if (k == "double") { x = v / 2; return; } throw null; }
  function _call(t, a) { return x + a; }
  function _cloned(orig) { x = orig.x + 100; }
}
local v1 = V(3), v2 = V(4);
print((v1 + v2).x + " " + (v1 - v2).x + " " + (v1 * 2).x + " " + (-v1).x + "\n");
print((v1 < v2) + " " + (v1 > v2) + " " + typeof v1 + "\n");
print(v1.double + "\n");
v1.double = 20;
print(v1.x + "\n");
try { print(v1.missing); } catch (e) { print(e + "\n"); }
print(v1(5) + "\n");
print((clone v1).x + "\n");
try { local z = 2 * v1; } catch (e) { print(e + "\n"); }
