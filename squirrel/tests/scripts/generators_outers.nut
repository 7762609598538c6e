local getter = null;
function g() {
  local x = 1;
  getter = function() { return x; };
  yield x;
  x = 5;
  yield x;
  x = 9;
}
local gen = g();
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
