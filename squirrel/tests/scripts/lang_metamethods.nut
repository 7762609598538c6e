function println(s) { print(s + "\n") }
class Comparable {
    constructor(n) { name = n }
    function _cmp(other) { if(name<other.name) return -1; if(name>other.name) return 1; return 0 }
    name = null
}
local a = Comparable("Alberto"), b = Comparable("Wouter")
if (a > b) println("a>b") else println("b<=a")
println((a < b) + " " + (a <= b) + " " + (a >= b) + " " + (a <=> b) + " " + (b <=> a) + " " + (a <=> Comparable("Alberto")))
println(a == Comparable("Alberto"))  // == does not use _cmp
// _get / _set with throw null
class Props {
  store = null
  constructor() { store = {} }
  function _get(idx) { if (idx in store) return store[idx]; if (idx == "boom") throw "custom error"; throw null }
  function _set(idx, val) { if (idx == "ro") throw null; store[idx] <- val }
}
local p = Props()
p.alpha = 5
println(p.alpha)
try { p.missing } catch(e) println(e)
try { p.boom } catch(e) println(e)
try { p.ro = 1 } catch(e) println(e)
// table delegates with metamethods
local del = {
  _get = function(k) { if (k == "nope") return "del:" + k; throw null }
  _set = function(k, v) { ::setlog <- k + "=" + v }
  _newslot = function(k, v) { rawset(k, v * 10) }
  _delslot = function(k) { ::dellog <- "delslot " + k }
  _call = function(self, x, y) { return x + y }
  _tostring = function() { return "<deltable>" }
  _typeof = function() { return "fancy" }
  _add = function(o) { return "added " + o }
  _unm = function() { return "negated" }
  _cloned = function(orig) { ::clonelog <- "cloned, orig has " + orig.len() }
  _cmp = function(o) { return 0 }
  other = "from delegate"
}
local t = { x = 1 }.setdelegate(del)
println(t.x + " " + t.other + " " + t.nope)
t.x = 2
println(t.x)
t.y = 3  // _set since y missing
println(::setlog + " " + t.rawin("y"))
t.z <- 4  // _newslot
println(t.rawget("z"))
t.x <- 7  // existing: no _newslot
println(t.x)
delete t.x
println(::dellog + " " + t.rawin("x"))
println(t(3, 4))
println(t + "")
println(typeof t)
println(t + 1)
println(-t)
local tc = clone t
println(::clonelog + " " + tc.rawget("z") + " " + (tc.getdelegate() == del))
println(t < {})
// arithmetic only on the left operand
class Num {
  v = 0
  constructor(x) { v = x }
  function _add(o) { return Num(v + (typeof o == "instance" ? o.v : o)) }
  function _sub(o) { return Num(v - o) }
  function _mul(o) { return Num(v * o) }
  function _div(o) { return Num(v / o) }
  function _modulo(o) { return Num(v % o) }
  function _unm() { return Num(-v) }
  function _tostring() { return "Num(" + v + ")" }
}
println((Num(5) + 2) + " " + (Num(5) - 2) + " " + (Num(5) * 2) + " " + (Num(5) / 2) + " " + (Num(5) % 2) + " " + (-Num(5)))
println(Num(1) + Num(2))
try { println(2 + Num(5)) } catch(e) println(e)
local n = Num(1); n += 4; println(n)
// compound ops through _get/_set
// _call on instance
class Callable { function _call(self, a) { return "called with " + a + " this=" + typeof self } }
println(Callable()(9))
// _nexti iteration
class Range {
  n = 0
  constructor(x) { n = x }
  function _nexti(prev) { if (prev == null) return n > 0 ? 0 : null; return prev + 1 < n ? prev + 1 : null }
  function _get(i) { if (typeof i == "integer") return i * i; throw null }
}
foreach (i, v in Range(4)) print(i + ":" + v + " ")
println("")
// _cloned on instances
class Cl { v = null; function _cloned(orig) { ::cl <- "clone of " + orig.v } }
local c = Cl(); c.v = "x"
local c2 = clone c
println(::cl + " " + c2.v)
// _tostring used by print
print(Num(3)); println("")
// _typeof
class TT { function _typeof() { return "TT" } }
println(typeof TT())
// _delslot on instance? delegation chain
local basedel = { greet = function() { return "hello from " + name } }
local obj = { name = "obj" }.setdelegate(basedel)
println(obj.greet())
local chain = {}.setdelegate({}.setdelegate({ deep = "deep value" }))
println(chain.deep)
println(obj.getdelegate() == basedel)
println(obj.rawin("greet") + " " + ("greet" in obj))
// sort without a comparator uses _cmp; metamethods are inherited and may be added after instantiation
class MA { v = 1; function _tostring() { return "A" } function _cmp(o) { return v <=> o.v } }
class B extends MA { function _tostring() { return "B" } }
print(B() + "\n")
local arr = [MA(), MA(), MA()]; arr[0].v = 3; arr[1].v = 1; arr[2].v = 2
arr.sort()
foreach (x in arr) print(x.v + " ")
print("\n")
class C extends MA {}
print((C() + "") + "\n")
MA._add <- function(o) { return "late add" }
print((MA() + 1) + "\n")
// print and tostring go through _tostring; %g formatting in concatenation
print({}.setdelegate({ _tostring = function() { return "T!" } })); print("\n")
class P { function _tostring() { return "P!" } }
print(P()); print("\n")
print(P().tostring() + " " + ({}.setdelegate({ _tostring = @() "D" })).tostring() + "\n")
print(1.5); print(" "); print(true); print(" "); print(null); print(" "); print('a'); print("\n")
print((123).tostring() + (1.25).tostring() + "\n")
print(("" + 1e15) + " " + ("" + -1e-7) + " " + ("" + 65536.0 * 65536.0) + "\n")
// every arithmetic metamethod through a table delegate; _get deep in the delegate chain
local ad = {
  _sub = @(o) "sub " + o, _mul = @(o) "mul " + o, _div = @(o) "div " + o, _modulo = @(o) "mod " + o
}
local at = {}.setdelegate(ad)
print((at - 1) + ", " + (at * 2) + ", " + (at / 3) + ", " + (at % 4) + "\n")
local deep = {}.setdelegate({}.setdelegate({ _get = @(k) "deep get " + k }))
print(deep.anything + "\n")
at -= 5
print(at + "\n")
