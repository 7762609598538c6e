// _cmp orders two values of its own type only and must answer an integer; against a value of any other type
// (null aside, which orders below everything) the comparison fails without calling it.
local calls = 0;
class V {
  n = 0;
  constructor(a) { n = a; }
  function _cmp(o) { ++calls; if (typeof o != "instance") throw "cmp against " + typeof o; return n - o.n; }
}
local tv = {n = 7};
tv.setdelegate({ function _cmp(o) { ++calls; return typeof o == "table" ? 0 : 1; } });

local ops = {
  lt = @(a, b) a < b, le = @(a, b) a <= b, gt = @(a, b) a > b, ge = @(a, b) a >= b, cmp3 = @(a, b) a <=> b
};
local order = ["lt", "le", "gt", "ge", "cmp3"];
foreach (other in [10, 2.5, "s", [1], true, @() 0, tv]) {
  foreach (pair in [[V(1), other], [other, V(1)]]) {
    local s = "";
    foreach (op in order) {
      try { s += ops[op](pair[0], pair[1]) + " "; } catch (e) s += "E(" + e + ") ";
    }
    print(s + "\n");
  }
}
foreach (other in [10, V(1)]) {
  try { print((tv < other) + "\n"); } catch (e) print("E(" + e + ")\n");
}
print("calls so far " + calls + "\n");

// Same type: the metamethod decides.
local s = "";
foreach (op in order) s += ops[op](V(1), V(3)) + " " + ops[op](V(3), V(3)) + " ";
print(s + (tv < {}) + "\n");
print((V(1) < null) + " " + (null < V(1)) + "\n");

// Answers other than an integer are refused.
foreach (answer in [0.5, -1.0, true, "1", null]) {
  class W { a = null; constructor(x) { a = x; } function _cmp(o) { return a; } }
  try { print((W(answer) < W(answer)) + "\n"); } catch (e) print(typeof answer + ": " + e + "\n");
}
