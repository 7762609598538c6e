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
