// `<-` and `delete` on an instance go to its class's _newslot and _delslot, inherited ones included;
// without them an instance still refuses both.
class Bag {
  extra = null;
  constructor() { extra = {}; }
  function _newslot(k, v) { print("newslot " + k + " " + v + "\n"); extra[k] <- v; }
  function _delslot(k) { print("delslot " + k + "\n"); local v = extra[k]; delete extra[k]; return v; }
  function _get(k) { if (k in extra) return extra[k]; throw null; }
}
class SubBag extends Bag {}
class Plain { a = 1; }

foreach (cls in [Bag, SubBag]) {
  local b = cls();
  foreach (i, key in ["a", 2, 3.5]) {
    local r = (b[key] <- i * 10);
    print("result " + r + ", read back " + b[key] + "\n");
  }
  b.named <- "n";
  print("deleted " + (delete b.named) + ", then " + (delete b[2]) + "\n");
  print("left " + b.extra.len() + "\n");
  // A metamethod's error comes out as it is.
  try { delete b.missing; } catch (e) print("caught " + e + "\n");
}

local p = Plain();
foreach (key in ["a", "b", 1]) {
  try { p[key] <- 2; } catch (e) print("newslot " + key + ": " + e + "\n");
  try { delete p[key]; } catch (e) print("delete " + key + ": " + e + "\n");
}
print("a is still " + p.a + "\n");

// A subclass's own metamethods replace the inherited ones; rawset goes around _newslot.
class Counted extends Bag {
  function _newslot(k, v) { print("counted newslot " + k + "\n"); }
  function _delslot(k) { print("counted delslot " + k + "\n"); return "gone"; }
}
local c = Counted();
c.x <- 1;
print("delete gives " + (delete c.x) + ", kept " + c.extra.len() + "\n");
foreach (inst in [Bag(), Counted()]) {
  local outcome = "set";
  try { inst.rawset("fresh", 1); } catch (e) outcome = "refused";
  print("rawset on a new key: " + outcome + ", extra holds it " + ("fresh" in inst.extra) + "\n");
}
