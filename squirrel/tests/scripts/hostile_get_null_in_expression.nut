// A _get (native or script) that throws null inside a larger expression: "in" answers false and
// the operands around it (an array literal under construction, a call's arguments) stay intact.
local b = blob(4);
local x = ["a" in b, 0, "z" in b, [1] ];
print(x.len() + " " + x[0] + " " + x[1] + " " + x[2] + " " + x[3].len() + "\n");
class G { function _get(k) { throw null; } function _set(k, v) { throw null; } }
local g = G();
local y = [1, "q" in g, 2];
print(y.len() + " " + y[1] + " " + y[2] + "\n");
local t = {};
t.setdelegate({ _get = function(k) { throw null; } });
print(["w" in t, "v" in t, 3].len() + "\n");
try { g.q = 1; } catch (e) print("set: " + e + "\n");
print([1, 2, 3].map(@(v) ("k" + v) in b).len() + "\n");
