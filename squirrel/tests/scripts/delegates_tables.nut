local proto = {
  greet = function() { return "hi " + name; },
  _get = function(k) { if (k == "magic") return 42; throw null; },
  _set = function(k, v) { if (k == "magic") { ::lastset <- v; return; } throw null; },
  _newslot = function(k, v) { rawset(k, v * 2); },
  _delslot = function(k) { print("deleting " + k + "\n"); rawdelete(k); },
  _add = function(o) { return "added " + o; },
  _tostring = function() { return "obj:" + name; },
  _typeof = function() { return "custom"; },
  _call = function(self, a) { return "called with " + a; },
  _nexti = null
}
local t = { name = "bob" }.setdelegate(proto);
print(t.greet() + "\n");
print(t.magic + "\n");
t.magic = 7;
print(::lastset + "\n");
t.newone <- 5;
print(t.newone + "\n");
delete t.newone;
print(("newone" in t) + "\n");
print((t + 1) + "\n");
print(t + "\n");
print(typeof t + "\n");
print(t("x") + "\n");
try { print(t.nope); } catch (e) { print(e + "\n"); }
print((t.getdelegate() == proto) + "\n");
print(("greet" in t) + " " + t.rawin("greet") + "\n");
// delegate chain
local a = { x = 1 };
local b = { y = 2 }.setdelegate(a);
local c = { z = 3 }.setdelegate(b);
print(c.x + c.y + c.z + "\n");
// table keys: 1 and 1.0 differ, 1 == 1.0
local k = {};
k[1] <- "int";
k[1.0] <- "float";
k["1"] <- "string";
k[true] <- "bool";
print(k[1] + " " + k[1.0] + " " + k["1"] + " " + k[true] + " " + k.len() + "\n");
print((1 == 1.0) + "\n");
// default delegate functions
local tbl = { a = 1, b = 2, c = 3 };
local keys = tbl.keys(); keys.sort();
print(keys.len() + " " + keys[0] + keys[2] + "\n");
local vals = tbl.values(); vals.sort();
print(vals[0] + vals[1] + vals[2] + "\n");
local big = tbl.filter(@(k, v) v > 1);
print(big.len() + "\n");
print(tbl.rawget("a") + " " + tbl.rawdelete("a") + " " + tbl.len() + "\n");
tbl.clear();
print(tbl.len() + "\n");
// iteration removes nothing
local it = { p = 1, q = 2 };
local sum = 0;
foreach (key, val in it) sum += val;
print(sum + "\n");
try { it.missing = 1; } catch (e) { print(e + "\n"); }
try { local n = null; n.x <- 1; } catch (e) { print(e + "\n"); }
try { it[null] <- 1; } catch (e) { print(e + "\n"); }
// weak references
local obj = { v = 1 };
local w = obj.weakref();
print(typeof w + " " + w.ref().v + "\n");
obj = null;
print((w.ref() == null) + "\n");
print((5).weakref() + "\n");
