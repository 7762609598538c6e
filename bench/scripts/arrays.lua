-- Array sort with and without a comparator; map, filter and reduce.
local N = 100000
local a = {}
local x = 12345
for i = 1, N do x = (x * 75 + 74) % 65537; a[i] = x end
local function copy(t) local r = {} for i = 1, #t do r[i] = t[i] end return r end
local function map(t, fn) local r = {} for i = 1, #t do r[i] = fn(t[i]) end return r end
local function filter(t, fn) local r = {} for i = 1, #t do if fn(i - 1, t[i]) then r[#r + 1] = t[i] end end return r end
local function reduce(t, fn) local acc = t[1] for i = 2, #t do acc = fn(acc, t[i]) end return acc end
local b = copy(a)
table.sort(b)
local c = copy(a)
table.sort(c, function(p, q) return p > q end)
local m = map(a, function(v) return v * 2 end)
local f = filter(m, function(i, v) return v % 3 == 0 end)
local r = reduce(f, function(acc, v) return (acc + v) % 1000003 end)
print("checksum: " .. b[1] .. " " .. b[N] .. " " .. b[N // 2 + 1] .. " " .. c[1] .. " " .. c[N // 2 + 1] .. " " .. #f .. " " .. r)
