function println(s) { print(s + "\n") }
// declarations
local a = function(a, b, c) { return a + b - c }
function ciao(a, b, c) { return a + b - c }
this.ciao2 <- function(a, b, c) { return a + b - c }
local function tuna(a, b, c) { return a + b - c }
T <- {}
function T::ciao(a, b, c) { return a + b - c }
println(a(1, 2, 3) + " " + ciao(1, 2, 3) + " " + ciao2(4, 5, 6) + " " + tuna(7, 8, 9) + " " + T.ciao(1, 1, 1))
// default parameters
function test(a, b = 1, c = 2) { return a + b + c }
println(test(10) + " " + test(10, 20) + " " + test(10, 20, 30))
try { test() } catch(e) println(e)
try { test(1, 2, 3, 4) } catch(e) println(e)
// default expression evaluated at call time? (defaults are constants per declaration)
// varargs
function vtest(a, ...) {
  local s = "a=" + a + " n=" + vargv.len()
  foreach (i, val in vargv) s += " [" + i + "]=" + val
  return s
}
println(vtest(1))
println(vtest(1, "x", 3.5))
// calling with this
function getthis() { return this }
local tt = { getthis = getthis, name = "tt" }
println(tt.getthis().name)
println(getthis() == getroottable())
println(getthis.call(tt).name)
// lambda
local lam = @(x, y) x * y
println(lam(6, 7))
local arr = [3, 1, 2]
arr.sort(@(a, b) a <=> b)
println(arr[0] + "" + arr[1] + arr[2])
// free variables (outers) captured by reference
local counter = 0
local inc = function() { counter++; return counter }
inc(); inc()
println(counter)
function makecounter() {
  local n = 0
  return { inc = function() { return ++n }, get = function() { return n } }
}
local c1 = makecounter(), c2 = makecounter()
c1.inc(); c1.inc(); c2.inc()
println(c1.get() + " " + c2.get())
// closures in loops: each iteration has its own local
local fns = []
for (local i = 0; i < 3; i++) { local j = i; fns.push(function() { return j }) }
println(fns[0]() + " " + fns[1]() + " " + fns[2]())
local fns2 = []
foreach (i, v in ["a", "b", "c"]) fns2.push(@() v)
println(fns2[0]() + fns2[1]() + fns2[2]())
local fns3 = []
for (local i = 0; i < 3; i++) fns3.push(@() i)
println(fns3[0]() + " " + fns3[2]())
// local function is not visible in its own body
local function fact(n) { return n <= 1 ? 1 : n * fact(n - 1) }
try { println(fact(5)) } catch(e) println(e)
function gfact(n) { return n <= 1 ? 1 : n * gfact(n - 1) }
println(gfact(10))
// recursion via local declared first
local rfact
rfact = function(n) { return n <= 1 ? 1 : n * rfact(n - 1) }
println(rfact(6))
// bindenv
class Foo { x = "foo's x"; function get() { return x } }
local inst = Foo()
local unbound = function() { return x }
local bound = unbound.bindenv(inst)
println(bound())
local tenv = { x = "table x" }
println(unbound.bindenv(tenv)())
println(bound.call({ x = "ignored" }))
try { unbound() } catch(e) println(e)
// bindenv keeps a weak reference to the environment
local weakenv = { x = "weak" }
local wb = unbound.bindenv(weakenv)
println(wb())
// tail recursion does not overflow
function loop(n) { if (n == 0) return "done"; return loop(n - 1) }
println(loop(100000))
// deep non-tail recursion in script does not use the C stack
function depth(n) { return n == 0 ? 0 : 1 + depth(n - 1) }
println(depth(5000))
// parameter count errors on natives
try { "abc".slice() } catch(e) println(e)
try { [1].push() } catch(e) println(e)
try { "abc".slice("x") } catch(e) println(e)
try { array("x") } catch(e) println(e)
// functions are values
local ops = { add = @(a, b) a + b, sub = @(a, b) a - b }
println(ops.add(2, 3) + " " + ops["sub"](9, 4))
// environment: function called through table member gets that table as this
local obj = { v = 5, get = function() { return v } }
println(obj.get())
local g = obj.get
try { g() } catch(e) println(e)
// getinfos defparams
function dp(a, b = 3, c = "x") {}
local inf = dp.getinfos()
println(inf.parameters.len() + " " + inf.defparams.len() + " " + inf.defparams[0] + " " + inf.defparams[1])
// free variables in loops, nested functions and generators
local fs = []
local k = 0
while (k < 3) { local kk = k; fs.push(@() kk); k++ }
print(fs[0]() + " " + fs[2]() + "\n")
function outer() {
  local a = 1
  local mid = function() {
    local inner = function() { a++; return a }
    return inner
  }
  local f = mid()
  f(); f()
  return a
}
print(outer() + "\n")
function mk(p) { return [@() p, function(v) { p = v }] }
local pr = mk(5); pr[1](9); print(pr[0]() + "\n")
// closure capturing loop variable modified after
local arr = []
foreach (v in [1,2,3]) { local c = v * 10; arr.push(function() { return c }) }
print(arr[0]() + arr[1]() + arr[2]() + "\n")
// closures created in a generator
function gg() { for (local i = 0; i < 2; i++) { local j = i; yield @() j } }
local gs = []
foreach (f in gg()) gs.push(f)
print(gs[0]() + " " + gs[1]() + "\n")
// try/catch inside loop with closures
local tc = []
for (local i = 0; i < 2; i++) { local q = i; try { tc.push(@() q); throw "x" } catch (e) {} }
print(tc[0]() + " " + tc[1]() + "\n")
// tail recursion collapses the caller's frame, so depth is not limited by the call stack
local tailcount = 0
function loopy(n) { if (n > 0) { ::tailcount_g <- n; return loopy(n - 1) } return "bottom" }
println(loopy(1000000) + " " + ::tailcount_g)
function even(n) { return n == 0 ? true : odd(n - 1) }
function odd(n) { if (n == 0) return false; return even(n - 1) }
println(even(300001) + " " + odd(300001))
// a call inside try is not a tail call: the handler still catches
function thrower2(n) { if (n == 0) throw "deep"; return thrower2(n - 1) }
function guarded() { try { return thrower2(10) } catch (e) { return "caught " + e } }
println(guarded())
// free variables of the finished frame stay valid in closures it handed over
function maker(v) { local cell = v; return apply2(@() cell) }
function apply2(fn) { return fn() }
println(maker("kept"))
// post-call initializers, rawcall, bound environments, the chapter examples
function pinit() { local retval = { x = 0, y = 0 }; return retval }
local ret1 = pinit() { x = 10, y = 20 }
local ret2 = pinit() { x = 30, y = 40 }
print(ret1.x + " " + ret1.y + " " + ret2.x + " " + ret2.y + "\n")
class vector3 { x = 0; y = 0; z = 0 }
local v0 = vector3() { x = 1, y = 2, z = 3 }
print(v0.x + " " + v0.y + " " + v0.z + "\n")
class entity { position = null; direction = null }
local ent = entity() {
  position = vector3() { x = 1, y = 2, z = 3 }
  direction = vector3() { x = 0, y = 1, z = 0 }
}
print(ent.position.z + " " + ent.direction.y + "\n")
local keyed = pinit() { ["x"] = 5 }
print(keyed.x + "\n")
try { pinit() { nokey = 1 } } catch(e) print(e + "\n")
local env = { base_ = 100 }
function addenv(a, b) { return a + b + this.base_ }
print(rawcall(addenv, env, 1, 2) + "\n")
local benv = { k = "bound env" }
function bound1[benv]() { return k }
local bound2 = function[benv]() { return k }
local function bound3[benv]() { return k }
print(bound1() + " " + bound2() + " " + bound3() + " " + bound1.call({ k = "other" }) + "\n")
function test4(a, b, ...) {
  for (local i = 0; i < vargv.len(); i++) ::print("varparam " + i + " = " + vargv[i] + "\n")
}
test4("goes in a", "goes in b", 0, 1, 2)
local fx = 10, fy = 20
local testy = "I'm testy"
function foo(a, b) { ::print(testy + "\n"); return a + b + fx + fy }
print(foo(1, 2) + "\n")
local sarr = [2,3,5,8,3,5,1,2,6]
sarr.sort(@(a,b) -(a <=> b))
print(sarr[0] + " " + sarr[8] + "\n")
// default parameter expressions are evaluated at runtime
local dcounter = 0
function nextval() { return ++dcounter }
function withdyn(a = nextval()) { return a }
print(withdyn() + " " + withdyn() + " " + withdyn(7) + "\n")
// a bound environment is held weakly: once it dies, this is null
local benvobj = { x = "alive" }
local bgetter = function() { return typeof this }.bindenv(benvobj)
print(bgetter() + "\n")
benvobj = null
print(bgetter() + "\n")
