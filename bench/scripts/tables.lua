-- Table inserts, lookups and deletes with string and integer keys.
local t = {}
local N = 200000
for i = 0, N - 1 do t["k" .. i] = i; t[i] = i * 2 end
local sum = 0
for r = 1, 3 do
  for i = 0, N - 1 do sum = (sum + t["k" .. i] + t[i]) % 1000000007 end
end
for i = 0, N - 1, 2 do t["k" .. i] = nil; t[i] = nil end
local count = 0
for k, v in pairs(t) do count = count + 1 end
print("checksum: " .. sum .. " " .. count)
