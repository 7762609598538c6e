function println(s) { print(s + "\n") }
// assignment and new slot
local t = {}
t.a <- 1
t.a = 2
println(t.a)
try { t.b = 3 } catch(e) println(e)
newglobal <- "g"
println(::newglobal)
// ternary, logical short-circuit returning operands
println((1 ? "yes" : "no") + " " + (null ? "yes" : "no") + " " + (0 || "right") + " " + (1 && "second") + " " + (null && "x") + " " + ("left" || "x"))
function side(v) { print("side" + v + " "); return v }
local r = side(0) && side(1); println(r)
r = side(1) || side(2); println(r)
// arithmetic
println((7 / 2) + " " + (-7 / 2) + " " + (7 % 3) + " " + (-7 % 3) + " " + (7 % -3) + " " + (7.0 / 2) + " " + (7 / 2.0) + " " + (5.5 % 2))
println((2147483647 + 1) + " " + (-2147483647 - 2) + " " + (65536 * 65536) + " " + (0x40000000 * 4))
println(typeof (1 + 1.0) + " " + typeof (1 * 2) + " " + (0.1 + 0.2) + " " + (1.0 / 3.0) + " " + (2.0 / 3.0))
println((16777217.0) + " " + (1.0 / 0.0 > 1e30) + " " + (123456789.0) + " " + (0.000123))
try { 1 / 0 } catch(e) println(e)
try { 1 % 0 } catch(e) println(e)
try { -2147483648 / -1 } catch(e) println(e)
println(1.0 / 0.0 == 2.0 / 0.0)
// string concatenation
println("a" + 1 + 2.5 + null + true + false)
println(1 + 2 + "a")
// relational
println((1 == 1.0) + " " + (1 != 2) + " " + ("a" == "a") + " " + ("abc" < "abd") + " " + ("b" > "abc") + " " + (1 < 1.5) + " " + (null == null) + " " + (null == 0) + " " + ([] == []))
try { println("a" < 1) } catch(e) println(e)
try { println(null < 1) } catch(e) println(e)
println((3 <=> 3.5) + " " + ("b" <=> "a"))
// in, instanceof, typeof, delete, comma
local tt = { k = 1 }
println(("k" in tt) + " " + ("z" in tt) + " " + (0 in [5]) + " " + (1 in [5]))
println(delete tt.k)
println(tt.len())
try { delete tt.nope } catch(e) println(e)
local x = (1, 2, 3); println(x)
// increment/decrement
local i = 5
println(i++ + " " + i + " " + ++i + " " + i-- + " " + --i)
local arr = [1]; arr[0]++; arr[0] += 10; println(arr[0])
tt.c <- 1; tt.c *= 5; tt.c -= 1; tt.c /= 2; tt.c %= 3; println(tt.c)
// bitwise
println((0xF0 & 0x3C) + " " + (0xF0 | 0x0F) + " " + (0xFF ^ 0x0F) + " " + (~5) + " " + (1 << 31) + " " + (-1 >> 31) + " " + (-1 >>> 31) + " " + (0x80000000 >> 4))
try { 1.5 & 1 } catch(e) println(e)
// logical not
println((!0) + " " + (!1) + " " + (!"") + " " + (!null) + " " + (!0.0) + " " + (![]))
// unary minus
println(-(-2147483648) + " " + (-(5)) + " " + -1.5)
// table constructors
local tc = { a = 1, b = "x", ["c" + 1] = 3, [10] = "ten", function f() { return "f" }, "json": 5 }
println(tc.a + " " + tc.b + " " + tc.c1 + " " + tc[10] + " " + tc.f() + " " + tc.json)
// array constructors
local ac = [1, "two", 3.0, [4], { five = 5 }, null]
println(ac.len() + " " + ac[1] + " " + ac[3][0] + " " + ac[4].five + " " + ac[5])
try { ac[10] } catch(e) println(e)
try { ac[10] = 1 } catch(e) println(e)
try { ac["x"] } catch(e) println(e)
// clone
local orig = { inner = [1] }
local cl = clone orig
cl.inner.push(2); cl.extra <- 1
println(orig.inner.len() + " " + ("extra" in orig))
local oa = [1, 2]; local ca = clone oa; ca.push(3); println(oa.len() + " " + ca.len())
// operator precedence
println(2 + 3 * 4 + " " + (2 + 3) * 4 + " " + (1 + 2 << 1) + " " + (1 | 2 & 3) + " " + (10 - 2 - 3) + " " + (!1 == 0))
// string indexing
println("abc"[0] + " " + typeof "abc"[0])
try { "abc"[5] } catch(e) println(e)
// integer/float conversions in comparisons and keys
local keys = {}
keys[1] <- "int"; keys[1.0] <- "float"
println(keys.len() + " " + keys[1] + " " + keys[1.0])
// precedence table: in is at the level of &&, instanceof at the relational level
local pt = { a = 1 }
print(("a" in pt == true) + " " + ("b" in pt == false) + "\n")
class PC {}
local pc = PC()
print((pc instanceof PC == true) + "\n")
// clone: shallow, keeps the delegate, does not run the constructor
class CtorCount { static made = [0]; items = null; constructor() { made[0]++; items = [1] } }
local cc1 = CtorCount()
local cc2 = clone cc1
cc2.items.push(2)
println(CtorCount.made[0] + " " + cc1.items.len() + " " + (cc2 instanceof CtorCount))
local cdel = { marker = "delegate" }
local csrc = { own = 1 }.setdelegate(cdel)
local ccopy = clone csrc
println(ccopy.marker + " " + (ccopy.getdelegate() == cdel) + " " + (ccopy != csrc))
try { println(clone 5) } catch (e) { println(e) }
