-- Generators under a for loop, a coroutine resumed a million times, a closure per turn and table cycles.
local function count(n)
  return coroutine.wrap(function() for i = 0, n - 1 do coroutine.yield(i) end end)
end
local N = 1000000
local g = 0
for v in count(N) do g = (g + v) % 1000003 end

local co = coroutine.create(function(n)
  local total = 0
  for i = 0, n - 1 do total = (total + coroutine.yield(i)) % 1000003 end
  return total
end)
local _, r = coroutine.resume(co, N)
local w = 0
while coroutine.status(co) == "suspended" do
  w = (w + r) % 1000003
  _, r = coroutine.resume(co, 3)
end

local c = 0
for i = 0, N - 1 do
  local k = i
  local f = function(x) return k + x end
  c = (c + f(1)) % 1000003
end

for i = 0, 100000 - 1 do
  local p = {}
  local q = {other = p}
  p.other = q
end
collectgarbage()
print("checksum: " .. g .. " " .. w .. " " .. r .. " " .. c)
