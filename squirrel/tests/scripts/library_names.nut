// Names the libraries offer: the math library's functions, and the delegates that carry getfuncinfos.
function p(x) { print(x + "\n") }
local names = ["abs", "acos", "asin", "atan", "atan2", "ceil", "cos", "exp", "fabs", "floor", "log", "log10",
               "log2", "pow", "rand", "round", "sin", "sqrt", "srand", "tan", "trunc", "cbrt", "hypot"]
local row = ""
foreach (n in names) row += n + (n in getroottable() ? "+ " : "- ")
p(row)
class C { function _call(o, x) { return x } function m() {} }
local holders = [["function", function() {}], ["native", print], ["class", C], ["instance", C()],
                 ["method", C.m], ["table", {}]]
foreach (h in holders) {
  local v = h[1], r
  try { r = typeof v.getfuncinfos() } catch (e) r = e
  p(h[0] + ": " + r)
}
