// Names a method reads that are not members: the root table's slot, read anew each time (changed, deleted,
// added), after the instance's built-in methods and _get, and from the root the function was bound to.
helper <- @(x) "helper " + x;
class P {
  own = "member";
  function read(name) {
    switch (name) {
      case "helper": return helper(1);
      case "own": return own;
      case "tostring": return typeof tostring;
      case "later": return later;
    }
  }
}
local p = P();
local s = "";
foreach (n in ["helper", "own", "tostring"]) s += p.read(n) + ", ";
print(s + "\n");
tostring <- "a global shadowed by the built-in method";
own <- "a global shadowed by the member";
print(p.read("tostring") + " " + p.read("own") + "\n");
// The same instruction, run again after the root table changed under it.
foreach (round, value in [@(x) "first " + x, @(x) "second " + x, null]) {
  if (value == null) delete getroottable().helper;
  else helper = value;
  try { print(p.read("helper") + "\n"); } catch (e) print("round " + round + ": " + e + "\n");
}
try { p.read("later"); } catch (e) print(e + "\n");
getroottable().later <- "added later";
print(p.read("later") + "\n");
// A root table reached through a delegate, and one bound to the function.
getroottable().later = null;
delete getroottable().later;
local fallback = {later = "from the root's delegate"};
getroottable().setdelegate(fallback);
print(p.read("later") + "\n");
getroottable().setdelegate(null);
local env = {later = "from a bound root"};
P.readBound <- (function() { return later; }).setroot(env);
print(p.readBound() + "\n");
// _get answers before the root table.
class Q extends P { function _get(k) { return "_get " + k; } }
print(Q().read("later") + "\n");
