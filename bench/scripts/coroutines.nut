// Generators, coroutine wake-ups, closure creation and a cycle collection.
function gen(n) { for (local i = 0; i < n; ++i) yield i; }
local s = 0;
foreach (v in gen(300000)) s = (s + v) % 1000003;

local N = 100000;
local co = newthread(function(n) {
  local total = 0;
  for (local i = 0; i < n; ++i) total += suspend(i);
  return total;
});
local r = co.call(N);
local acc = 0;
while (co.getstatus() == "suspended") {
  acc = (acc + r) % 1000003;
  r = co.wakeup(1);
}

local cs = 0;
for (local i = 0; i < 200000; ++i) {
  local k = i;
  local f = function() { return k + 1; };
  cs = (cs + f()) % 1000003;
}

for (local i = 0; i < 20000; ++i) {
  local p = {};
  local q = {other = p};
  p.other <- q;
}
collectgarbage();
print("checksum: " + s + " " + acc + " " + r + " " + cs + "\n");
