-- Garbage-heavy work: many short-lived tables, arrays and closures, some of them in reference cycles.
local keep = 0
for i = 0, 200000 - 1 do
  local node = { id = i, items = { i, i + 1, i + 2 } }
  local f = function(x) return x + node.id end
  keep = (keep + f(node.items[3])) % 1000003
  if i % 4 == 0 then local other = { peer = node }; node.peer = other end
end
collectgarbage()
print("checksum: " .. keep)
