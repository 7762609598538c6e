local a = {}
for i = 0, 49999 do a[#a + 1] = (i * 7919) % 50021 end
local b = {}
for i, v in ipairs(a) do b[i] = v end
table.sort(a)
table.sort(b, function(x, y) return y < x end)
local mapped = {}
for i, v in ipairs(a) do mapped[i] = v * 2 end
local filtered = {}
for _, v in ipairs(mapped) do if v % 3 == 0 then filtered[#filtered + 1] = v end end
local m = 0
for _, v in ipairs(filtered) do m = m + v end
print("checksum " .. (a[1] + b[1] + (m % 100000)))
