function println(s) { print(s + "\n") }
// identifiers are case sensitive
local Foo = 1, foo = 2, _x1 = 3
println(Foo + " " + foo + " " + _x1)
// integer literals
println(1234 + " " + 0x0000FF + " " + 0xff + " " + 0777 + " " + 'a' + " " + '\t' + " " + '\\' + " " + '\'' + " " + '\x41')
println(0x7FFFFFFF + " " + (0x7FFFFFFF + 1) + " " + 2147483648 + " " + 0xFFFFFFFF + " " + 0x80000000 + " " + 4294967296)
println(-2147483648 + " " + (-2147483647 - 1))
// float literals
println(1.0 + " " + 0.234 + " " + 3.14159 + " " + 1.5e3 + " " + 1.2e-3 + " " + 2.0e10 + " " + 1e+2)
// strings and escapes
println("tab[\t] quote[\"] backslash[\\] nul-free")
println("\x41\x42\x043\u0044" + " " + "\x4142".len() + " " + "\u263A".len())
local v = @"I'm a verbatim string
  with ""quotes"" and \n no escapes"
println(v)
println(v.len())
// comments
/* block
   comment */ println("after block comment")
// line comment
# hash line comment
println("after hash comment")
// keywords used as table keys via strings
local t = { ["class"] = 1, ["base"] = 2 }
println(t["class"] + t["base"])
// operators tokens
println((5 <=> 3) + " " + (1 <=> 1) + " " + (2 <=> 9))
println((6 & 3) + " " + (6 | 3) + " " + (6 ^ 3) + " " + (~0) + " " + (1 << 4) + " " + (-16 >> 2) + " " + (-16 >>> 28))
println(__LINE__ + " " + typeof __FILE__)
// literal forms from the table, escapes, reserved words
print(1.e2 + " " + 1.e-2 + " " + 0xFF00A120 + " " + 0753 + " " + 1.52 + "\n")
print("\a\b\f\v\0".len() + " " + "\a"[0] + " " + "\v"[0] + " " + "\0"[0] + " " + "\r"[0] + "\n")
try { compilestring("local rawcall = 1") ; print("rawcall usable\n") } catch(e) print("rawcall reserved\n")
try { compilestring("local constructor = 1") ; print("constructor usable\n") } catch(e) print("constructor reserved\n")
print("\u00e9".len() + " " + "\u00e9"[0] + "\n")
try { compilestring("local s = \"\\q\"") } catch(e) print("bad escape rejected\n")
local t = { foo = 1 }
print(("foo" in t && true) + "\n")
print("abc" + '\x41' + "\n")
print('\0' + "\n")
