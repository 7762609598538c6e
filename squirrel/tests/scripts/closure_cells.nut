// A closure keeps its captured variables' cells inside itself: any number of cells, cells shared between
// closures and with the enclosing frame, cells copied by bindenv, and closures caught in cycles.
function make(n) {
  local a = 1, b = 2, c = 3, d = 4, e = 5;
  switch (n) {
    case 0: return @() 0;
    case 1: return @() a;
    case 2: return @() a + b;
    case 5: return @() a + b + c + d + e;
  }
}
print(make(0)() + " " + make(1)() + " " + make(2)() + " " + make(5)() + "\n");
// Two closures over one variable see each other's writes; the frame's own writes reach both until it ends.
function pair() {
  local n = 0;
  local inc = function() { n += 1; return n; };
  local get = function() { return n; };
  n = 10;
  return [inc, get];
}
local p = pair();
p[0](); p[0]();
print(p[1]() + "\n");
// A closure made inside a closure takes its outer cells from the enclosing closure.
function outer() {
  local x = 7;
  return function() { return function() { x += 1; return x; }; };
}
local inner = outer()();
print(inner() + " " + inner() + "\n");
// bindenv copies the cells: both closures still share the captured variable.
local counter = 0;
local bump = function() { counter += 1; return tag + counter; };
local bound = bump.bindenv({ tag = "b" });
local t = { tag = "t" };
local boundT = bump.bindenv(t);
print(boundT() + " " + boundT() + " " + counter + "\n");
// Closures in cycles through their captured variables are collected.
local probe = null;
for (local i = 0; i < 500; ++i) {
  local holder = {};
  local f = function() { return holder; };
  holder.f <- f;
  if (i == 499) probe = holder.weakref();
}
collectgarbage();
print((probe.ref() == null) + "\n");
// Captured loop variables get a cell each iteration that closes when the iteration ends.
local fs = [];
for (local i = 0; i < 4; ++i) { local j = i * i; fs.append(@() j); }
print(fs.map(@(f) f()).reduce(@(a, b) a + "," + b) + "\n");
