function fib(n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }
local s = 0;
for (local i = 0; i < 300000; i++) s = (s + i * 7) % 1000003;
print("checksum " + (fib(27) + s) + "\n");
