local V = {}
V.__index = V
V.__add = function(a, b) return V.new(a.x + b.x) end
function V.new(a) return setmetatable({ x = a }, V) end
function V:get() return self.x end
local acc = V.new(0)
for i = 0, 199999 do acc = acc + V.new(i % 100) end
print("checksum " .. acc:get())
