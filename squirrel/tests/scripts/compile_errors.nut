// Compile errors surface through compilestring as catchable errors with the compiler's message.
function p(x) { print(x + "\n") }
function tryCompile(src) {
  try { compilestring(src); return "ok" } catch (e) { return e }
}
p(tryCompile("local a = 1"))
p(tryCompile("a b"))
p(tryCompile("local = 3"))
p(tryCompile("x = (1 + 2"))
p(tryCompile("break"))
p(tryCompile("continue"))
p(tryCompile("1 = 2"))
p(tryCompile("local s = \"open"))
p(tryCompile("local a;\na <- 1"))
p(tryCompile("f(1,)"))
p(tryCompile("local x = "))
p(tryCompile("/* never closed"))
p(tryCompile("local c = ''"))
p(tryCompile("local q = \"\\z\""))
p(tryCompile("if (x) { y"))
p(tryCompile("enum E { A = foo }"))
local f = compilestring("return 6 * 7")
p(f())
local g = compilestring("return vargv.len()")
p(g(1, 2, 3))
