// Recursive calls and integer arithmetic.
function fib(n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }
local f = fib(27);
local x = 0;
for (local i = 0; i < 3000000; ++i) {
  x = (x * 31 + i) % 1000003;
  x = x ^ (i & 255);
}
print("checksum: " + f + " " + x + "\n");
