function gen(n) { for (local i = 0; i < n; i++) yield i; }
local s = 0;
foreach (x in gen(200000)) s = (s + x) % 1000000;
local t = newthread(function() { local k = 0; while (true) k += suspend(k); });
t.call();
local last = 0;
for (local i = 0; i < 50000; i++) last = t.wakeup(1);
local fs = [];
for (local i = 0; i < 50000; i++) fs.append(@() i);
for (local i = 0; i < 5000; i++) { local a = {}; local b = { a = a }; a.b <- b; }
collectgarbage();
print("checksum " + (s + last + fs.len()) + "\n");
