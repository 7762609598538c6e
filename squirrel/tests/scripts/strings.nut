// Strings: indexing, escapes, verbatim strings, 16-bit units, conversions.
function p(x) { print(x + "\n") }

local s = "hello"
p(s.len())
p(s[0])
p(typeof s[1])
p(s[1].tochar())
p(s.slice(1, 3))
p(s.slice(-3))
p(s.toupper())
p("MiXeD".tolower())
p(s.find("ll"))
p(s.find("zz"))
p("tab\there")
p("quote\"inside")
p("back\\slash")
p("\x41\x42")
p("\x0041x")
p("\x263A".len())
p(@"verbatim \n no escape")
p(@"double ""quote""")
p(@"multi
line")
p("10".tointeger() + 1)
p("0x10".tointeger())
p("3.5".tofloat())
p("12abc".len())
p(65.tochar())
p(12.tostring() + "!")
p(1.5.tostring())
p("a" + "b" == "ab")
p("abc" > "abd")
try { p(s[10]) } catch (e) { p(e) }
local u = "\u00e9t\u00e9"
p(u.len())
p(u[0])
p("é".len())
local parts = ""
foreach (i, c in "abc") parts += c.tochar() + i
p(parts)
p(typeof "x")
