// Runs of local/constant arithmetic, compare-and-branch, store-and-pop and increments, each with operands
// the integer fast paths do not take: the general path must give the same answers and errors.
local values = [3, -7, 2.5, "s", null, true, 2147483647, -2147483647 - 1];
foreach (i, x in values) {
  local r = [];
  try { r.append(x + 1); } catch (e) { r.append("E:" + e); }
  try { r.append(x * 3); } catch (e) { r.append("E:" + e); }
  try { r.append(x / 0); } catch (e) { r.append("E:" + e); }
  try { r.append(x % 0); } catch (e) { r.append("E:" + e); }
  try { r.append(x / -1); } catch (e) { r.append("E:" + e); }
  try { r.append(x % -1); } catch (e) { r.append("E:" + e); }
  try { r.append(x >>> 1); } catch (e) { r.append("E:" + e); }
  try { local y = i; r.append(x - y); } catch (e) { r.append("E:" + e); }
  try { local y = x; y += 2; r.append(y); } catch (e) { r.append("E:" + e); }
  try { if (x < 3) r.append("lt"); else r.append("ge"); } catch (e) { r.append("E:" + e); }
  try { if (x == 3) r.append("eq"); else r.append("ne"); } catch (e) { r.append("E:" + e); }
  try { local y = 3; if (x <= y) r.append("le"); else r.append("gt"); } catch (e) { r.append("E:" + e); }
  try { local y = x; y++; r.append(y); } catch (e) { r.append("E:" + e); }
  try { local y = x; y = y * 3; r.append(y); } catch (e) { r.append("E:" + e); }
  try { local y = x, z = 2; z = y - z; r.append(z); } catch (e) { r.append("E:" + e); }
  try { local y = 0; y = (x + 1) % 5; r.append(y); } catch (e) { r.append("E:" + e); }
  try { local y = 0; y = i ^ (x & 3); r.append(y); } catch (e) { r.append("E:" + e); }
  local line = "";
  foreach (v in r) line += v + " ";
  print(i + ": " + line + "\n");
}

// Metamethods of a class instance in the same positions.
class Num {
  n = 0;
  constructor(a) { n = a; }
  function _add(o) { return Num(n + (typeof o == "integer" ? o : o.n)); }
  function _mul(o) { return Num(n * (typeof o == "integer" ? o : o.n)); }
  function _cmp(o) { local m = typeof o == "integer" ? o : o.n; return n < m ? -1 : (n > m ? 1 : 0); }
  function _tostring() { return "Num(" + n + ")"; }
}
local a = Num(4);
local b = a + 1;
local c = a * b;
print(b + " " + c + " " + (a < Num(5)) + " " + (c > b) + "\n");
if (a < Num(5)) print("branch taken\n");
a += 10;
a++;
print(a + "\n");

// A value stored into a local while a closure captures the popped slot's neighbour.
local fns = [];
for (local k = 0; k < 3; ++k) {
  local captured = k * 10;
  fns.append(function() { return captured; });
  captured = captured + 1;
}
foreach (f in fns) print(f() + " ");
print("\n");

// Integer wrap-around and shifts keep their meaning.
local big = 2147483647;
local w = big + 1;
local s = 1;
local sh = s << 33;
local ns = -8;
print(w + " " + (big * 2) + " " + sh + " " + (ns >> 1) + " " + (ns >>> 28) + " " + (ns % 3) + " " + (ns / 3) + "\n");

// An error inside a fused run reports the run's own line.
function failing(q) {
  local t = q * 2;
  return t;
}
try { failing("x"); } catch (e) { print("caught: " + e + "\n"); }
local loops = 0;
for (local i = 0; i < 10; i += 3) loops += i;
local down = 0;
for (local i = 10; i > 0; --i) down++;
local floats = 0;
for (local q = 0.5; q < 3; ++q) floats++;
local mixed = 0;
for (local q = 0; q < 6; q += 1.5) mixed++;
print(loops + " " + down + " " + floats + " " + mixed + "\n");
