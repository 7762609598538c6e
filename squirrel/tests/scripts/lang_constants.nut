function println(s) { print(s + "\n") }
const delay = 0.5
const pi = 3.14
const name = "constant string"
const big = 0x7FFFFFFF
const neg = -5
println(delay + " " + pi + " " + name + " " + big + " " + neg)
enum Stuff { first, second, third }
println(Stuff.first + " " + Stuff.second + " " + Stuff.third)
enum Mixed { a = 10, b, c = "str", d, e = 1.5, f }
println(Mixed.a + " " + Mixed.b + " " + Mixed.c + " " + Mixed.d + " " + Mixed.e + " " + Mixed.f)
// constants live in the const table
println(getconsttable().name + " " + getconsttable().Stuff.third)
println(typeof getconsttable().Stuff)
// a constant shadows nothing at runtime: it is substituted at compile time
function useconst() { return delay * 2 }
println(useconst())
// constants added to the const table at runtime are seen by scripts compiled later
getconsttable().runtimeconst <- 99
println(compilestring("return runtimeconst")())
// constants can be used as switch cases and default parameters
function withdef(x = pi) { return x }
println(withdef())
switch (Stuff.second) { case Stuff.first: println("first"); break; case Stuff.second: println("second"); break }
// assigning to a constant is a compile error
try { compilestring("const Q = 1; Q = 2") } catch(e) println("compile error")
// constant expressions must be literals
try { compilestring("const W = 1 + 2") } catch(e) println("compile error 2")
// enum value expressions must be literals too
try { compilestring("enum Z { a = 1 + 1 }") } catch(e) println("compile error 3")
// global lookups of an enum name by string yield the table in the const table, not the root
println("Stuff" in getroottable())
// constants shadow globals (still reachable with ::); the const table is editable at runtime
::shadowed <- "global slot"
const shadowed = 100
println(shadowed + " " + ::shadowed)
enum shadowenum { a = 5 }
::shadowenum <- "global enum slot"
println(shadowenum.a + " " + ::shadowenum)
getconsttable()["something"] <- 10
getconsttable()["somethingelse"] <- { a = "10", c = "20", d = "200" }
println(compilestring("return something + somethingelse.c")())
delete getconsttable()["something"]
println("something" in getconsttable())
local old = setconsttable({ fresh = "new const table" })
println(compilestring("return fresh")())
setconsttable(old)
println(old.len() > 0)
