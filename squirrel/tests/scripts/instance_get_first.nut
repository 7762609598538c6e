// An instance's _get is asked before its type's built-in methods; members still come first, and a _get that
// throws null leaves the name to the built-in methods.
class G {
  own = "member";
  function _get(k) { return "got " + k; }
  function whoAmI() { return getclass; }  // an identifier resolved through `this`
}
class Sub extends G {}
class Strict {
  function _get(k) { throw "no " + k; }
}
class Polite {
  function _get(k) { if (k == "answer") return 42; throw null; }
}
local names = ["getclass", "tostring", "weakref", "getdelegate", "own"];
foreach (cls in [G, Sub]) {
  local x = cls();
  local s = "";
  foreach (n in names) s += x[n] + ", ";
  print(s + x.getclass + ", " + x.whoAmI() + "\n");
}
foreach (n in ["getclass", "tostring", "weakref"]) {
  try { Strict()[n](); print("called " + n + "\n"); } catch (e) print("caught: " + e + "\n");
}
local p = Polite();
print(p.answer + " " + (p.getclass() == Polite) + " " + typeof p.weakref() + "\n");
try { p.nothing; } catch (e) print("caught: " + e + "\n");
// The same call site, first on an instance with _get, then on one without: each answers for itself.
class Bare {}
foreach (x in [G(), Bare(), G()]) print(typeof x.getclass + " ");
print("\n");
