local function gen(n) return coroutine.wrap(function() for i = 0, n - 1 do coroutine.yield(i) end end) end
local s = 0
for x in gen(200000) do s = (s + x) % 1000000 end
local t = coroutine.create(function() local k = 0 while true do k = k + coroutine.yield(k) end end)
coroutine.resume(t)
local last = 0
for i = 0, 49999 do local _, v = coroutine.resume(t, 1); last = v end
local fs = {}
for i = 0, 49999 do fs[#fs + 1] = function() return i end end
for i = 0, 4999 do local a = {}; local b = { a = a }; a.b = b end
collectgarbage()
print("checksum " .. (s + last + #fs))
