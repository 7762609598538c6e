function println(s) { print(s + "\n") }
// blocks and scoping
local x = 1
{ local x = 2; println("inner " + x) }
println("outer " + x)
// if/else
if (x == 1) println("one") else if (x == 2) println("two") else println("other")
// while / do-while
local i = 0
while (i < 3) { print(i + " "); i++ }
println("")
do { print("do" + i + " "); i-- } while (i > 0)
println("")
do println("runs once"); while (false)
// for
for (local j = 0; j < 3; j++) print("j" + j + " ")
println("")
for (;;) { println("infinite broken"); break }
// foreach forms
foreach (v in [10, 20]) print(v + " ")
foreach (idx, v in [10, 20]) print(idx + "=" + v + " ")
println("")
local tbl = { only = 1 }
foreach (k, v in tbl) println(k + "->" + v)
foreach (i, c in "hi") print(i + ":" + c + " ")
println("")
function gen() { yield "a"; yield "b" }
foreach (i, v in gen()) print(i + ":" + v + " ")
println("")
class Cls { a = 1; static s = 2; function m() {} }
local members = []
foreach (k, v in Cls) members.push(k)
members.sort()
foreach (m in members) print(m + " ")
println("")
try { foreach (v in 5) {} } catch(e) println(e)
// break / continue
for (local k = 0; k < 6; k++) { if (k == 1) continue; if (k == 4) break; print(k + " ") }
println("")
local n = 0
while (true) { n++; if (n < 3) continue; break }
println(n)
// switch
function sw(v) {
  local out = ""
  switch (v) {
    case 1: out += "one "
    case 2: out += "two "; break
    case "s": out += "str "; break
    case 3.5: out += "float "; break
    default: out += "default "
  }
  return out
}
println(sw(1) + "|" + sw(2) + "|" + sw("s") + "|" + sw(3.5) + "|" + sw(99))
function sw2(v) { switch (v) { case 1: return "x"; } return "none" }
println(sw2(1) + " " + sw2(2))
local cv = 2
switch (2) { case cv: println("case with expression"); break; default: println("no") }
// local declarations
local a, b = 2, c
println(a + " " + b + " " + c)
// try / catch / throw with any value
try { throw "string" } catch (e) println(typeof e + " " + e)
try { throw 42 } catch (e) println(typeof e + " " + e)
try { throw { code = 7 } } catch (e) println(e.code)
try { try { throw "inner" } catch (e) { throw e + " rethrown" } } catch (e) println(e)
try { local z = null; z.field } catch (e) println(e)
try { local f = null; f() } catch (e) println(e)
try { local q = 1; q.foo() } catch (e) println(e)
function thrower() { throw "from function" }
try { thrower() } catch (e) println(e)
// return from nested loops inside try
function findit() { foreach (i in [1, 2, 3]) { try { if (i == 2) return i } catch (e) {} } return -1 }
println(findit())
// const and enum statements exist at statement level
const LIMIT = 3
enum E { A, B }
println(LIMIT + " " + E.B)
// function declaration statement, nested table path
T <- {}
function T::method(v) { return "T::method " + v }
println(T.method(1))
// expression statements: table constructor as statement
local last = [1, 2, 3].top(); println(last)
// switch compares with ==, continue inside a switch continues the loop
switch (1.0) { case 1: print("float matches int case\n"); break; default: print("no\n") }
local out = ""
for (local i = 0; i < 4; i++) { switch (i) { case 1: continue; case 2: out += "two"; break; default: out += i } out += "," }
print(out + "\n")
switch ("x") { }
print("empty switch ok\n")
local r = 0
switch (5) { default: r = 1 }
print(r + "\n")
// the chapter examples: global loop counter, resume in a for, computed class keys
glob <- null
for (glob = 0; glob < 3; glob += 1) { print(glob + " ") }
print("\n")
function geny(n) { for (local i = 1; i <= n; ++i) yield i; return null }
local gtor = geny(3)
for (local x = resume gtor; x; x = resume gtor) ::print(x + "\n")
class KeyExpr { ["computed" + 1] = 5; [2] = "two" }
print(KeyExpr.computed1 + " " + KeyExpr[2] + " " + KeyExpr().computed1 + "\n")
try { compilestring("switch (1) { default: break; case 1: break }"); print("default not last accepted\n") } catch(e) print("default must be last\n")
local ab = 0; switch (1) { case 1: ab = 1; case 2: ab += 10 } print(ab + "\n")
function noret() {}
function emptyret() { return }
print(noret() + " " + emptyret() + "\n")
local a = 10, b = 5
if (a > b) a = b; else b = a
print(a + " " + b + "\n")
// break, continue and return inside try; errors from catch blocks, metamethods and callbacks
for (local i = 0; i < 3; i++) { try { if (i == 1) break } catch (e) { println("wrong catch") } }
try { throw "after break" } catch (e) println("outer caught " + e)
local tn = 0
for (local i = 0; i < 5; i++) { try { if (i % 2) continue; tn++ } catch (e) {} }
println(tn)
function tf() { while (true) { try { return "returned from try" } catch (e) {} } }
println(tf())
function tg() { try { tf(); throw "g throws" } catch (e) { return e } }
println(tg())
// nested try with rethrow across frames
function lvl3() { throw "deep" }
function lvl2() { try { lvl3() } catch (e) { throw e + "+2" } }
function lvl1() { try { lvl2() } catch (e) { return e + "+1" } }
println(lvl1())
// stack is consistent after catching inside expressions
local tarr = []
for (local i = 0; i < 3; i++) { try { tarr.push(i + (i == 1 ? null.x : 0)) } catch (e) { tarr.push(-1) } }
foreach (v in tarr) print(v + " ")
println("")
// foreach + try + break inside switch
local tout = ""
foreach (v in [1, 2, 3]) { try { switch (v) { case 2: break; default: tout += v } } catch (e) {} }
println(tout)
// error inside a catch block propagates
try { try { throw 1 } catch (e) { throw "from catch" } } catch (e2) println(e2)
// errors inside metamethods are catchable
class Bad { function _add(o) { throw "in _add" } }
try { Bad() + 1 } catch (e) println(e)
// errors inside native callbacks (sort comparator) propagate
try { [3, 1, 2].sort(function(a, b) { throw "cmp fail" }) } catch (e) println(e)
try { [1].map(function(v) { throw "map fail" }) } catch (e) println(e)
// separators: trailing commas, newlines, chained assignment
local ta = [1, 2, ]
local t = { x = 1, y = 2, }
print(ta.len() + " " + t.len() + "\n")
try { compilestring("foo(1, 2, )") ; print("trailing comma in call accepted\n") } catch(e) print("trailing comma in call rejected\n")
local p, q, r
p = q = r = 7
print(p + q + r + "\n")
local tt = {
  a = 1
  b = 2
  function c() { return a + b }
}
print(tt.c() + "\n")
class K { x = 1; y = 2
  z = 3 }
print(K().z + "\n")
local s = "multi" +
  "line"
print(s + "\n")
local v = 1
+ 2
print(v + "\n")
// each switch case and block has its own scope
function pick(v) { switch (v) { case 1: local x = "one"; return x; case 2: local x = "two"; return x; default: local x = "other"; return x } }
print(pick(1) + " " + pick(2) + " " + pick(3) + "\n")
local sx = 1
{ local x = 2; { local x = 3; print(x) } print(x) }
print(sx + "\n")
