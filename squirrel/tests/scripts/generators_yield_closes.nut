// A yield closes every variable captured from the generator's frame at that point: closures made before it
// keep the values they saw, for loops of any length and for variables of nested blocks; a closure that
// writes its variable after the yield writes its own copy.
function fresh(n) {
  for (local i = 0; i < n; i++) {
    local fs = [];
    local twice = i * 2;
    fs.append(@() i);
    fs.append(@() twice);
    yield fs;
  }
}
foreach (n in [1, 2, 3, 5]) {
  local all = [];
  foreach (fs in fresh(n)) all.extend(fs);
  local s = "";
  foreach (f in all) s += f() + " ";
  print(n + ": " + s + "\n");
}

// The example of the language reference: the closures collect 0 1 2.
function g() { local fs = []; for (local i = 0; i < 3; i++) { fs.append(@() i); yield fs } }
local gen = g();
local fs = null;
for (local k = 0; k < 3; k++) fs = resume gen;
print(fs[0]() + " " + fs[1]() + " " + fs[2]() + "\n");

// A setter closure's write after the yield is not seen by the generator, nor the generator's by the getter.
local setX = null, getX = null;
function shared() {
  local x = "start";
  setX = function(v) { x = v; };
  getX = @() x;
  yield x;
  yield x;
  x = "generator";
  yield x;
}
local sg = shared();
print(resume sg);
setX("closure");
print(" " + getX() + " " + resume sg);
print(" " + resume sg + " " + getX() + "\n");

// A variable captured before the first yield and again after it: two cells, each with its own value.
function twoCells() {
  local v = 1;
  local before = @() v;
  yield before;
  v = 2;
  local after = @() v;
  v = 3;
  yield after;
}
local cells = [];
foreach (c in twoCells()) cells.append(c);
print(cells[0]() + " " + cells[1]() + "\n");
