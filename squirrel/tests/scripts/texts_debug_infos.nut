// Refusals of the root and constant tables and of waking a thread, instanceof's operands, and what the
// debug-information functions and member-adding methods answer.
foreach (bad in [1, "t", [], 2.5]) {
  try { setroottable(bad); } catch (e) print("setroottable(" + typeof bad + "): " + e + "\n");
  try { setconsttable(bad); } catch (e) print("setconsttable(" + typeof bad + "): " + e + "\n");
}
try { setconsttable(null); } catch (e) print("setconsttable(null): " + e + "\n");
local root = getroottable();
print((setroottable(null) == root) + " " + (setroottable(root) == null) + " " + (getroottable() == root) + "\n");

local idle = newthread(@() suspend(1));
foreach (name in ["wakeup", "wakeupthrow"]) {
  try { idle[name]("x"); } catch (e) print(name + " idle: " + e + "\n");
}
local running = null;
running = newthread(function() {
  foreach (name in ["wakeup", "wakeupthrow"]) {
    try { running[name]("x"); } catch (e) print(name + " running: " + e + "\n");
  }
});
running.call();

class K {}
foreach (rhs in [1, [], {}, "s"]) {
  try { K() instanceof rhs; } catch (e) print(e + "\n");
}

// getstackinfos: every level has `locals`; a native's is empty; a function expression is "unknown".
local seen = [];
[0].map(function(x) {
  for (local level = 1; level <= 3; ++level) {
    local si = ::getstackinfos(level);
    local names = [];
    foreach (k, v in si.locals) names.append(k);
    names.sort();
    seen.append(si.func + " " + si.src + " [" + names.reduce(@(a, b) a + "," + b) + "]");
  }
  return x;
});
foreach (s in seen) print(s + "\n");
function named() { return getstackinfos(1).func; }
print(named() + " " + (@() getstackinfos(1).func)() + "\n");

// getinfos: a function with `...` lists its hidden vargv; a native registered without a type mask has none.
foreach (f in [function(a) {}, function(a, ...) {}, function(...) {}]) {
  local p = f.getinfos().parameters;
  print(p.reduce(@(a, b) a + " " + b) + " / " + f.getinfos().varargs + "\n");
}
foreach (nf in [print, array, "x".len, [].push]) {
  local tc = nf.getinfos().typecheck;
  print(nf.getinfos().name + ": " + (tc == null ? "null" : tc.len() + " masks") + "\n");
}

// setroot answers the function, newmember and rawnewmember the class.
local f = function() { return value; };
local env = {value = "from env"};
print((f.setroot(env) == f) + " " + f() + "\n");
class M {}
print((M.newmember("a", 1) == M) + " " + (M.rawnewmember("b", 2) == M) + " " + M.a + M.b + "\n");
