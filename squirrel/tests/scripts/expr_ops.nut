// Bitwise operators, shifts, compound assignment, increments and string concatenation.
function p(x) { print(x + "\n") }

p(6 & 3)
p(6 | 3)
p(6 ^ 3)
p(~0)
p(~5)
p(1 << 4)
p(1 << 31)
p(1 << 32)
p(-16 >> 2)
p(-16 >>> 28)
p(-1 >>> 0)
p(0x0F0 >> 4)
p(1 | 2 ^ 3 & 4)
p(1 + 2 << 1)

local a = 10
a += 5; p(a)
a -= 3; p(a)
a *= 2; p(a)
a /= 5; p(a)
a %= 3; p(a)
local f = 1.5
f *= 2; p(f)

local i = 5
p(i++)
p(i)
p(++i)
p(i--)
p(--i)
p(i)
local fl = 0.5
fl++
p(fl)

local t = { n = 1, arr = [10, 20] }
t.n++
p(t.n)
p(t.n--)
p(t.n)
++t.arr[1]
p(t.arr[1])
t.arr[0] += 5
p(t.arr[0])
t["n"] *= 7
p(t.n)

p("a" + 1)
p(1 + "a")
p("x" + 1.5)
p("v:" + null)
p("b:" + true)
p("" + 3.0)
local s = "ab"
s += "cd"
p(s)
p(1 + 2 + "3")
p("1" + 2 + 3)
g <- 1
g += 2
p(g)
g++
p(::g)
