// Garbage-heavy work: many short-lived tables, arrays and closures, some of them in reference cycles.
local keep = 0;
for (local i = 0; i < 200000; ++i) {
  local node = { id = i, items = [i, i + 1, i + 2] };
  local f = function(x) { return x + node.id; };
  keep = (keep + f(node.items[2])) % 1000003;
  if (i % 4 == 0) { local other = { peer = node }; node.peer <- other; }
}
collectgarbage();
print("checksum: " + keep + "\n");
