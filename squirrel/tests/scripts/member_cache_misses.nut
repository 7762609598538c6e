// Member reads and writes remember what they found per instruction and class: the answer must follow the
// class (instances of several classes through one instruction), members added later, keys that are no
// member (the default delegate, _get, the root table) and weak references stored in fields.
function helper() { return "global helper"; }
class A {
  x = 1;
  function read() { return x; }
  function call() { return helper(); }
  function name() { return tostring(); }
  function set(v) { x = v; }
}
class B extends A {
  y = 2;
  x = 10;
}
class C { x = "c"; function _tostring() { return "C!"; } }
function readX(o) { return o.x; }
local objs = [A(), B(), C(), A(), B()];
local line = "";
foreach (o in objs) line += readX(o) + " ";
print(line + "\n");
local a = A();
print(a.read() + " " + a.call() + " " + (a.name().find("instance") != null) + "\n");
// A method added after the key was found missing is found from then on.
A.helper <- function() { return "member helper " + x; };
print(a.call() + " " + B().call() + "\n");
// A field written through the cache lands in the right instance and class.
local b = B();
a.set(5);
b.set(6);
print(a.x + " " + b.x + " " + b.y + " " + A().x + " " + B().x + "\n");
// _get answers keys that are neither members nor in the default delegate; the root table comes last.
class G {
  function _get(k) { if (k == "virt") return "from _get"; throw null; }
  function ask() { return virt; }
  function askRoot() { return helper(); }
}
local g = G();
for (local i = 0; i < 2; ++i) print(g.ask() + " " + g.askRoot() + "\n");
// A weak reference stored in a field reads as its target, and as null once the target died.
class W { ref = null; function get() { return ref; } }
local w = W();
local target = [1, 2, 3];
w.ref = target.weakref();
print(w.get().len() + " " + w.ref.len() + "\n");
target = null;
print((w.get() == null) + " " + (w.ref == null) + "\n");
// Cloned instances keep their own copy of every field.
local src = B();
src.x = 99;
local copy = clone src;
copy.x = 1;
print(src.x + " " + copy.x + " " + copy.y + "\n");
// Instances in a reference cycle are collected, and their fields released.
class Node { other = null; payload = null; }
local freed = 0;
for (local i = 0; i < 100; ++i) {
  local n1 = Node(), n2 = Node();
  n1.other = n2;
  n2.other = n1;
  n1.payload = [i];
}
print((collectgarbage() >= 200) + "\n");
