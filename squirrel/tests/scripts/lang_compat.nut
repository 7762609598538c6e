function println(s) { print(s + "\n") }
// 32-bit integer wrap-around, including literals
println(2147483647 + 1)
println(2147483648)
println(0xFFFFFFFF)
println(-2147483648 - 1)
println(100000 * 100000)
// octal literals and character literals are integers
println(010 + " " + 0777 + " " + 'A' + " " + ('z' - 'a') + " " + typeof 'x')
// division and remainder truncate toward zero
println((7 / 2) + " " + (-7 / 2) + " " + (7 / -2) + " " + (-7 / -2))
println((7 % 2) + " " + (-7 % 2) + " " + (7 % -2) + " " + (-7 % -2))
// single-precision floats printed like %g
println(3.0)
println(2.5)
println(1.0 / 3)
println(1e20)
println(-0.000001)
println(123456.0 + " " + 1234567.0)
println(0.1 + " " + typeof 0.1)
println(16777217.0 == 16777216.0)
// 1 == 1.0 while t[1] and t[1.0] are different keys
println(1 == 1.0)
local t = {}
t[1] <- "int key"
t[1.0] <- "float key"
println(t.len() + " " + t[1] + " " + t[1.0])
// comparing a string with a number throws
try { local r = "a" < 1 } catch(e) println(e)
try { local r = 1 > "a" } catch(e) println(e)
// truthiness: "" is true
println(("" ? "true" : "false") + " " + (0 ? "true" : "false") + " " + (0.0 ? "true" : "false") + " " + (null ? "true" : "false") + " " + ([] ? "true" : "false"))
// string indexing yields integers
println("abc"[0] + " " + typeof "abc"[2])
// "0x10".tointeger() is 0
println("0x10".tointeger())
println("10".tointeger(16) + " " + "12abc".tointeger())
// + with a string converts the other side, instances through _tostring
class P { function _tostring() { return "<P>" } }
println("s" + 1 + " " + (1 + "s") + " " + ("s" + 1.5) + " " + ("s" + null) + " " + ("s" + true) + " " + ("s" + P()) + " " + (P() + "s"))
class Q {}
println(("q:" + Q()).slice(0, 14))
// closures capture variables by reference
local x = 1
local getx = function() { return x }
x = 2
println(getx())
local setx = function(v) { x = v }
setx(3)
println(x)
// closures keep the root table current when they were made
::rootname <- "original root"
local saved = getroottable()
local other = { rootname = "other root" }
setroottable(other)
local fromOther = compilestring("return function() { return ::rootname }")()
setroottable(saved)
local fromSaved = function() { return ::rootname }
println(fromOther() + " / " + fromSaved())
// assigning an unknown global throws
try { undefined_global_xyz = 1 } catch(e) println(e)
// local function f is not visible in its own body
local function f(n) { return n == 0 ? "base" : f(n - 1) }
try { println(f(1)) } catch(e) println(e)
// enum counters ignore explicit values
enum En { a, b = 10, c, d = "s", e }
println(En.a + " " + En.b + " " + En.c + " " + En.d + " " + En.e)
// class member defaults are shared between instances
class Shared { list = [] }
local s1 = Shared(), s2 = Shared()
s1.list.push(1)
println(s2.list.len())
// modifying an instantiated class
class Locked { v = 1 }
Locked()
try { Locked.w <- 2 } catch(e) println(e)
// instances do not support new slot
try { Locked().z <- 1 } catch(e) println(e)
// arithmetic metamethods only for the left operand
class Adder { function _add(o) { return "added" } }
println(Adder() + 1)
try { println(1 + Adder()) } catch(e) println(e)
// _get/_set throwing null mean a missing index
class G { function _get(k) { throw null } function _set(k, v) { throw null } }
try { G().foo } catch(e) println(e)
try { G().foo = 1 } catch(e) println(e)
// parameter-check errors
try { "abc".slice("1") } catch(e) println(e)
try { (1).tochar("x") } catch(e) println(e)
// wrong number of parameters
function two(a, b) {}
try { two(1) } catch(e) println(e)
try { two(1, 2, 3) } catch(e) println(e)
// resuming a dead generator
function g1() { yield 1 }
local gen = g1()
resume gen
resume gen
try { resume gen } catch(e) println(e)
// 16-bit characters: len counts UTF-16 units; \x takes up to four hex digits
println("héllo".len() + " " + "日本".len() + " " + "😀".len() + " " + "\x263A".len() + " " + "\x41BC".len() + " " + "\x41G".len())
println("😀"[0] + " " + "😀"[1])
// deliberate difference: these raise errors
try { 1 % 0 } catch(e) println(e)
try { -2147483648 / -1 } catch(e) println(e)
try { 1 / 0 } catch(e) println(e)
// parameter 0 is this in parameter-check errors; a negative minimum count allows extra arguments
try { "abc".slice.call(5, 1) } catch(e) println(e)
try { [].push.call({}, 1) } catch(e) println(e)
println(array(2, 1, 3).len())
local wi = 2147483647; wi++; local wm = 65536; wm *= 65536; println(wi + " " + wm)
