function println(s) { print(s + "\n") }
// the docs' example
function geny(n) { for (local i = 1; i <= n; i += 1) yield i; return null }
local gtor = geny(10)
local x
while (x = resume gtor) print(x + "\n")
println(gtor.getstatus())
try { resume gtor } catch(e) println(e)
// return value of the generator is the value of the last resume
function withret() { yield 1; return "final" }
local g = withret()
println(resume g)
println(resume g)
println(g.getstatus())
// generator as foreach iterable: index counts from 0, return value is not iterated
function letters() { yield "x"; yield "y"; return "z" }
foreach (i, v in letters()) print(i + "=" + v + " ")
println("")
// yield without value yields null
function ynull() { yield; yield 5 }
local gn = ynull()
println(resume gn + " " + resume gn)
// a generator with parameters and free variables
local offs = 100
function counter(start) { local n = start; while (true) yield offs + n++ }
local gc = counter(5)
println(resume gc + " " + resume gc)
offs = 200
println(resume gc)
// generator status while running
local self_g
function selfcheck() { yield self_g.getstatus() }
self_g = selfcheck()
println(resume self_g)
// resume a running generator fails
local rg
function resumer() { resume rg; yield 1 }
rg = resumer()
try { resume rg } catch(e) println(e)
// errors inside a generator propagate to the resumer and kill it
function bad() { yield 1; throw "gen error" }
local gb = bad()
resume gb
try { resume gb } catch(e) println(e)
println(gb.getstatus())
// generators inside classes
class Tree {
  items = null
  constructor() { items = [3, 1, 2] }
  function each() { foreach (v in items) yield v }
}
local sum = 0
local tree = Tree()
foreach (v in tree.each()) sum += v
println(sum)
// yield in a nested try keeps the handler
function trygen() { try { yield 1; throw "inside" } catch(e) { yield "caught " + e } }
local tg = trygen()
println(resume tg)
println(resume tg)
// typeof
println(typeof tg)
// a suspended generator holds its this only weakly, its other locals strongly
class Obj { v = 1; function gen() { yield v; yield 2 } }
local o = Obj(), ow = o.weakref(), og = o.gen()
println(resume og)
o = null
println(ow.ref())
local held = [1, 2], hw = held.weakref()
function holder(a) { yield a.len(); yield a.len() }
local hg = holder(held)
resume hg
held = null
println(typeof hw.ref() + " " + resume hg)
// an object kept alive elsewhere is seen again on resume
class Keeper { tag = "kept"; function gen() { yield 1; yield tag } }
local keeper = Keeper(), kg = keeper.gen()
println(resume kg + " " + resume kg)
// generator edge cases
function g0() { return 5; yield 1 }
local ga = g0()
print(resume ga); print(" " + ga.getstatus() + "\n")
function gp(n, step = 2) { for (local i = 0; i < n; i += step) yield i }
local gout = []
foreach (v in gp(7)) gout.push(v)
foreach (v in gp(7, 3)) gout.push(v)
foreach (v in gout) print(v + " ")
print("\n")
// breaking out of a foreach leaves the generator suspended
local gg = gp(10)
foreach (v in gg) if (v == 4) break
print(gg.getstatus() + " " + resume gg + "\n")
// generators are independent instances
local g1 = gp(3, 1), g2 = gp(3, 1)
resume g1
print(resume g1 + " " + resume g2 + "\n")
// clone of a generator? typeof of a generator function
print(typeof gp + "\n")
try { compilestring("local x = yield 1"); println("yield accepted as expression") } catch(e) println("yield is a statement")
