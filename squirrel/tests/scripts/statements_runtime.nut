local out = [];
foreach (i, v in [10, 20, 30, 40]) {
  try {
    if (i == 1) continue;
    if (i == 3) break;
    out.append(v);
  } catch (e) {}
}
print(out.len() + " " + out[1] + "\n");
function f() {
  try { return "from try"; } catch (e) {}
}
print(f() + "\n");
local n = 0;
while (true) { try { n++; if (n > 3) break; } catch (e) {} }
print(n + "\n");
try { try { throw "inner"; } catch (e) { throw e + " outer"; } } catch (e2) { print(e2 + "\n"); }
switch (3) { case 1: print("one\n"); break; case 3: print("three\n"); default: print("fall\n"); }
local s = 0;
do { s++; } while (s < 5);
print(s + "\n");
local t = { a = { b = { c = 5 } } };
t.a.b.c += 2;
t.a.b.c++;
print(t.a.b.c + "\n");
local arr = [1, 2, 3];
arr[1] *= 10;
print(arr[1] + " " + arr[2]-- + " " + arr[2] + "\n");
local str = "";
foreach (c in "héllo") str += c.tochar();
print(str + " " + "héllo".len() + "\n");
print((function(...) { return vargv.len(); })(1, 2, 3) + "\n");
local tbl = { x = 1 };
local fn = function() { return x; }.bindenv(tbl);
print(fn() + "\n");
print([1, 2, 3].reduce(@(a, b) a + b) + "\n");
local gen = (function() { local i = 0; while (i < 3) yield i++; })();
local got = [];
foreach (v in gen) got.append(v);
print(got.len() + " " + gen.getstatus() + "\n");
print(typeof (function() {}) + " " + typeof print + " " + typeof gen + " " + typeof newthread(print) + "\n");
