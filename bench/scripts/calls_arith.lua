-- Recursive calls and integer arithmetic.
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
local f = fib(27)
local x = 0
for i = 0, 3000000 - 1 do
  x = (x * 31 + i) % 1000003
  x = x ~ (i & 255)
end
print("checksum: " .. f .. " " .. x)
