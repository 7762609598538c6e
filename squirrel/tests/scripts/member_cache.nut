// One member-reading instruction meeting instances of different classes, members added later, weak fields.
class A { x = 1; function who() { return "A" + x } }
class B { y = 0; x = 2; function who() { return "B" + x } }
class C extends A { z = 5; function who() { return "C" + x + z } }
local out = ""
foreach (o in [A(), B(), C(), A(), B(), C()]) out += o.x + o.who() + " "
print(out + "\n")
// the same function reading and writing fields of different classes through `this`
function bump() { x = x + 10; return x }
foreach (o in [A(), B(), C()]) print(bump.call(o) + " ")
print("\n")
// a method added to the class after an instruction cached a member of it
local a = A()
function callWho(o) { return o.who() }
print(callWho(a) + " ")
A.extra <- function() { return "extra" }
print(a.extra() + " " + callWho(a) + "\n")
// a field holding a weak reference reads as its target, and as null once it died
class W { ref = null }
local w = W()
local target = [1, 2, 3]
w.ref = target.weakref()
function len(o) { return o.ref == null ? "gone" : o.ref.len() }
print(len(w) + " ")
target = null
print(len(w) + "\n")
// a missing member still goes to the class's _get, then fails
class G { function _get(k) { if (k == "dyn") return 42; throw null } }
local g = G()
print(g.dyn + "\n")
try { print(g.nothing) } catch (e) print(e + "\n")
