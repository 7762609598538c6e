local a = [];
for (local i = 0; i < 50000; i++) a.append((i * 7919) % 50021);
local b = clone a;
a.sort();
b.sort(@(x, y) y <=> x);
local m = a.map(@(x) x * 2).filter(@(i, x) x % 3 == 0).reduce(@(p, c) p + c, 0);
print("checksum " + (a[0] + b[0] + (m % 100000)) + "\n");
