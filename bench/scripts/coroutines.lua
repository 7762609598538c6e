-- Generators, coroutine wake-ups, closure creation and a cycle collection.
local function gen(n) return coroutine.wrap(function() for i = 0, n - 1 do coroutine.yield(i) end end) end
local s = 0
for v in gen(300000) do s = (s + v) % 1000003 end

local N = 100000
local co = coroutine.create(function(n)
  local total = 0
  for i = 0, n - 1 do total = total + coroutine.yield(i) end
  return total
end)
local _, r = coroutine.resume(co, N)
local acc = 0
while coroutine.status(co) == "suspended" do
  acc = (acc + r) % 1000003
  _, r = coroutine.resume(co, 1)
end

local cs = 0
for i = 0, 200000 - 1 do
  local k = i
  local f = function() return k + 1 end
  cs = (cs + f()) % 1000003
end

for i = 0, 20000 - 1 do
  local p = {}
  local q = {other = p}
  p.other = q
end
collectgarbage()
print("checksum: " .. s .. " " .. acc .. " " .. r .. " " .. cs)
