try { local r = "a" < 1; } catch (e) { print(e + "\n"); }
try { local r = [] < {}; } catch (e) { print(e + "\n"); }
try { "abc".slice("x"); } catch (e) { print(e + "\n"); }
try { [].len(1); } catch (e) { print(e + "\n"); }
try { local r = 1 % 0; } catch (e) { print(e + "\n"); }
try { local r = 1 / 0; } catch (e) { print(e + "\n"); }
try { local m = -2147483647 - 1; local r = m / -1; } catch (e) { print(e + "\n"); }
print((-2147483647 - 1) % -1 + "\n");
print((1.0 / 0 > 1e30) + "\n");
try { throw { code = 7 }; } catch (e) { print(e.code + "\n"); }
try { throw 12; } catch (e) { print(typeof e + " " + e + "\n"); }
try { null(); } catch (e) { print(e + "\n"); }
try { local a = [1, 2]; a[5] = 1; } catch (e) { print(e + "\n"); }
try { local a = [1, 2]; print(a[2]); } catch (e) { print(e + "\n"); }
try { assert(false); } catch (e) { print(e + "\n"); }
try { assert(1 == 2, "custom message"); } catch (e) { print(e + "\n"); }
try { local x = {}; x.y.z = 1; } catch (e) { print(e + "\n"); }
try { class A {} class B extends A {} local q = 5; class C extends q {} } catch (e) { print(e + "\n"); }
try { local r = 1 instanceof 2; } catch (e) { print(e + "\n"); }
try { foreach (x in 5) ; } catch (e) { print(e + "\n"); }
try { local s = "x"; s.len = 5; } catch (e) { print(e + "\n"); }
// nested try with rethrow through functions
function thrower(n) { if (n == 0) throw "deep"; return thrower(n - 1); }
function mid() { try { thrower(5); } catch (e) { throw "rethrown " + e; } }
try { mid(); } catch (e) { print(e + "\n"); }
// errors thrown through natives
try { [3, 1, 2].sort(function(a, b) { throw "in comparator"; }); } catch (e) { print(e + "\n"); }
try { [1].map(function(x) { return x.nothing; }); } catch (e) { print(e + "\n"); }
// deep script recursion does not use the C stack
function depth(n) { return n == 0 ? 0 : 1 + depth(n - 1); }
print(depth(50000) + "\n");
// the native nesting limit
function nest(n) { return [n].map(@(x) nest(x + 1))[0]; }
try { nest(0); } catch (e) { print(e + "\n"); }
// getstackinfos
function whereami() { local info = getstackinfos(1); return info.func + " line " + info.line; }
print(whereami() + "\n");
print(type(null) + " " + type(1) + " " + type(1.5) + " " + type("s") + " " + type([]) + " " + type({}) + " " + type(print) + "\n");
// pcall does not hide the error
local ok = true;
try { (function() { throw "x"; }).pcall(this); } catch (e) { ok = false; }
print(ok + "\n");
// try/catch leaves the stack consistent in loops
local count = 0;
for (local i = 0; i < 100; i++) { try { if (i % 2) throw i; count++; } catch (e) { count += 2; } }
print(count + "\n");
try { local huge = array(400000000); } catch (e) { print(e + "\n"); }
