-- Class instantiation, method calls and an arithmetic metamethod.
local Vec = {}
Vec.__index = Vec
function Vec.new(x, y) return setmetatable({x = x, y = y}, Vec) end
function Vec:dot(o) return self.x * o.x + self.y * o.y end
Vec.__add = function(a, b) return Vec.new(a.x + b.x, a.y + b.y) end
local acc = Vec.new(0, 0)
local d = 0
for i = 0, 300000 - 1 do
  local v = Vec.new(i % 7, i % 11)
  acc = acc + v
  d = (d + acc:dot(v)) % 1000003
end
print("checksum: " .. acc.x .. " " .. acc.y .. " " .. d)
