// Less common expression forms: enum tables as values, deletes, comma operator, rawcall, in on arrays.
function p(x) { print(x + "\n") }

enum Dir { North, South = "s" }
local d = Dir
p(typeof d)
p(d.South)

temp <- 5
p("temp" in this)
p(delete temp)
p("temp" in this)
::rootOnly <- 1
delete ::rootOnly
p("rootOnly" in getroottable())

local arr = [5, 6, 7]
p(1 in arr)
p(3 in arr)
local t = { n = 1.5 }
p(++t.n)
p(t.n--)
p(t.n)

local x = 0, y = 0
for (x = 1, y = 10; x < y; x += 3, y -= 3) {}
p(x + " " + y)
local last = (x = 100, y = 200, x + y)
p(last)

function who(a) { return this.tag + a }
p(rawcall(who, { tag = "raw" }, "!"))

local nested = 5
p(nested > 3 ? nested > 4 ? "gt4" : "eq4" : "small")

local copy = clone arr
copy.append(8)
p(arr.len() + " " + copy.len())

try { p(1 instanceof 2) } catch (e) { p(e) }
p(typeof null + " " + typeof 1.0 + " " + typeof [] + " " + typeof {} + " " + typeof (@() 1) + " " + typeof true)

local chained = { a = { b = { c = "deep" } } }
p(chained.a.b.c)
p(chained["a"]["b"].c)
chained.a.b.c += "er"
p(chained.a.b.c)

local s = 0
local i = 0
while ((i += 1) < 5) s += i
p(s)

local fnTable = { ["with space"] = @() "called" }
p(fnTable["with space"]())

local bits = 0
bits = bits | 1 << 3
p(bits)
p(-5 % 3 + " " + 5 % -3 + " " + -5 / 3)
p(7.5 % 2)
