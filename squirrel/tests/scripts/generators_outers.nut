// A yield closes the variables its closures captured: a closure made before the yield keeps the value the
// variable had there, one made after the resume captures the variable anew.
local getter = null;
function g() {
  local x = 1;
  getter = function() { return x; };
  yield x;
  x = 5;
  yield x;
  getter = function() { return x; };
  x = 9;
  yield x;
  x = 11;
}
local gen = g();
resume gen;
print(getter() + " ");
resume gen;
print(getter() + " ");
resume gen;
print(getter() + " ");
resume gen;
print(getter() + " ");
local gen2 = g();
resume gen2;
gen2 = null;
print(getter() + "\n");
