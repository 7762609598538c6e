local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
local s = 0
for i = 0, 299999 do s = (s + i * 7) % 1000003 end
print("checksum " .. (fib(27) + s))
