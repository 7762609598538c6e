local t = {}
local s = 0
for r = 0, 19 do
  for i = 0, 4999 do t["k" .. i] = i; t[i] = i end
  for i = 0, 4999 do s = s + t["k" .. i] + t[i] end
  for i = 0, 4999 do t[i] = nil; t["k" .. i] = nil end
end
local n = 0 for _ in pairs(t) do n = n + 1 end
print("checksum " .. (s + n))
