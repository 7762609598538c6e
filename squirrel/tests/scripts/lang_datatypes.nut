function println(s) { print(s + "\n") }
// integer
local a = 123, b = 0x0012, c = 075, d = 'w'
println(a + " " + b + " " + c + " " + d)
// integers are 32 bits: wrap around
local max = 2147483647
println((max + 1) + " " + (max * 2) + " " + (-max - 2) + " " + (max + 1 == -2147483648))
// float: 32-bit single precision, printed like %g
local f1 = 1.0, f2 = 0.234
println(f1 + " " + f2 + " " + 3.0 + " " + 0.1 + " " + 1234567.0 + " " + 0.00001 + " " + (1.0 / 3.0))
println((16777216.0 + 1.0) + " " + (0.1 + 0.7) + " " + (100.0 * 1.1))
println((3.9).tointeger() + " " + (1e9).tointeger() + " " + (2.5 * 2) + " " + typeof (2.5 * 2))
// string: immutable
local s = "I'm a string"
try { s[0] = 'X' } catch(e) println("strings are immutable")
println(s)
// null
local n = null
println(n + " " + typeof n + " " + (n == null))
// bool: only null, 0, 0.0 and false are false
local vals = [null, 0, 0.0, false, true, 1, -1, 0.5, "", "0", [], {}]
local outs = ""
foreach (v in vals) outs += (v ? "T" : "F")
println(outs)
println((1 == true) + " " + (0 == false) + " " + (true == true))
// table/array/function/class/instance/generator/thread/weakref typeof
class Cl {}
function gf() { yield 1 }
println(typeof {} + " " + typeof [] + " " + typeof gf + " " + typeof Cl + " " + typeof Cl() + " " + typeof gf() + " " + typeof newthread(gf) + " " + typeof {}.weakref() + " " + typeof print)
// userdata and userpointer are not creatable from scripts; typeof of a native closure is "function"
println(typeof "".len)
// values vs references
local t1 = { v = 1 }, t2 = t1
t2.v = 5
local i1 = 1, i2 = i1
i2 = 5
println(t1.v + " " + i1)
// single precision arithmetic is observable
println((0.1 + 0.2 == 0.3) + " " + (1 <=> 1.0) + " " + (2147483647 + 1.0) + " " + typeof (2147483647 + 1.0) + " " + (16777216.0 + 1.0 == 16777216.0))
println((1.0 / 3.0 * 3.0 == 1.0) + " " + (3.0).tostring() + " " + (-0.5).tostring() + " " + (5 / 2.0))
println((7).tofloat() / 2 + " " + (-7.9).tointeger() + " " + (0.5 + 0.5).tointeger() + " " + "2.5e2".tofloat() + " " + "-3".tofloat())
