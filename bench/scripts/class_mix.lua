-- Per-turn allocation through methods and a metamethod, and a call through the base class.
local Pair = {}
Pair.__index = Pair
function Pair.new(x, y) return setmetatable({a = x, b = y}, Pair) end
function Pair:scaled(k) return Pair.new(self.a * k, self.b * k) end
Pair.__add = function(p, o) return Pair.new(p.a + o.a, p.b + o.b) end
function Pair:dot(o) return self.a * o.a + self.b * o.b end
function Pair:step() return self.a + self.b end
local Walker = setmetatable({}, {__index = Pair})
Walker.__index = Walker
function Walker.new(x, y) return setmetatable({a = x, b = y}, Walker) end
function Walker:step() return Pair.step(self) + 1 end
local N = 1000000
local p = Pair.new(1, 2)
local sum = 0
for i = 0, N - 1 do
  local q = p:scaled(i % 5)
  p = Pair.new(i % 7, i % 3) + q
  sum = (sum + p.a + p.b) % 1000003
end
local u = Pair.new(3, 4)
local d = 0
for i = 0, N - 1 do d = (d + u:dot(p) + i) % 1000003 end
local w = Walker.new(2, 5)
local s = 0
for i = 0, N - 1 do s = (s + w:step()) % 1000003 end
print("checksum: " .. sum .. " " .. d .. " " .. s)
