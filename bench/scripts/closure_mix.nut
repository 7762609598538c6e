// Generators under foreach, a thread woken a million times, a closure per turn and table cycles.
function count(n) { for (local i = 0; i < n; ++i) yield i; }
local N = 1000000;
local g = 0;
foreach (v in count(N)) g = (g + v) % 1000003;

local co = newthread(function(n) {
  local total = 0;
  for (local i = 0; i < n; ++i) total = (total + suspend(i)) % 1000003;
  return total;
});
local r = co.call(N);
local w = 0;
while (co.getstatus() == "suspended") {
  w = (w + r) % 1000003;
  r = co.wakeup(3);
}

local c = 0;
for (local i = 0; i < N; ++i) {
  local k = i;
  local f = function(x) { return k + x; };
  c = (c + f(1)) % 1000003;
}

for (local i = 0; i < 100000; ++i) {
  local p = {};
  local q = {other = p};
  p.other <- q;
}
collectgarbage();
print("checksum: " + g + " " + w + " " + r + " " + c + "\n");
