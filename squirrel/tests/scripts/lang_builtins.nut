function println(s) { print(s + "\n") }
function show(a) { local s = "["; foreach (i, v in a) s += (i ? "," : "") + v; return s + "]" }
// integer delegate
println((65).tochar() + " " + (5).tofloat() + " " + typeof (5).tofloat() + " " + (5).tostring() + " " + typeof (5).tostring() + " " + (7).tointeger())
println(typeof 5.weakref())
// float delegate
println((3.7).tointeger() + " " + (-3.7).tointeger() + " " + (65.2).tochar() + " " + (2.5).tostring() + " " + (2.0).tofloat())
// bool
println(true.tointeger() + " " + false.tofloat() + " " + true.tostring())
// string delegate
local s = "Hello World"
println(s.len() + " " + s.slice(6) + " " + s.slice(0, 5) + " " + s.slice(-5) + " " + s.slice(-5, -2) + " " + s.slice(2, -2))
try { s.slice(5, 2) } catch(e) println(e)
try { s.slice(0, 100) } catch(e) println(e)
println(s.find("o") + " " + s.find("o", 5) + " " + s.find("xyz") + " " + s.find("World") + " " + s.find(""))
println(s.tolower() + " " + s.toupper())
println("123".tointeger() + " " + "-42".tointeger() + " " + "ff".tointeger(16) + " " + "777".tointeger(8) + " " + "101".tointeger(2))
println("1.5".tofloat() + " " + "3".tofloat() + " " + typeof "3".tofloat())
try { "abc".tointeger() } catch(e) println(e)
try { "abc".tofloat() } catch(e) println(e)
println("x".tostring() + " " + "€".len() + " " + "😀".len())
println(typeof "abc".weakref())
// table delegate
local t = { a = 1, b = 2, c = 3 }
println(t.len() + " " + t.rawin("a") + " " + t.rawin("z") + " " + t.rawget("b"))
t.rawset("d", 4)
println(t.d + " " + t.rawdelete("d") + " " + t.rawin("d") + " " + t.rawdelete("zz"))
local ks = t.keys(); ks.sort(); println(show(ks))
local vs = t.values(); vs.sort(); println(show(vs))
local odd = t.filter(function(k, v) { return v % 2 == 1 })
local ok = odd.keys(); ok.sort(); println(show(ok))
local d = { x = "delegated" }
println(t.setdelegate(d) == t)
println(t.x + " " + (t.getdelegate() == d))
t.setdelegate(null); println(t.getdelegate())
t.clear(); println(t.len())
println(typeof t.tostring())
local tw = t.weakref(); println(typeof tw + " " + (tw.ref() == t))
// array delegate
local a = [5, 3, 8, 1]
println(a.len() + " " + a.top())
a.append(9); a.push(10); println(show(a))
println(a.pop() + " " + show(a))
a.extend([7, 6]); println(show(a))
a.insert(0, 100); a.insert(a.len(), 200); println(show(a))
println(a.remove(0) + " " + show(a))
a.resize(3); println(show(a))
a.resize(5); println(show(a))
a.resize(6, "f"); println(show(a))
local b = [3, 1, 2]; b.sort(); println(show(b))
b.sort(function(x, y) { return y <=> x }); println(show(b))
b.reverse(); println(show(b))
println(show(b.slice(1)) + " " + show(b.slice(-2)) + " " + show(b.slice(0, -1)))
println(b.find(2) + " " + b.find(99))
println(show([1,2,3].map(function(v) { return v * 10 })))
local ap = [1,2,3]; ap.apply(function(v) { return v + 1 }); println(show(ap))
println(show([1,2,3,4,5,6].filter(function(i, v) { return v % 2 == 0 })))
println([1,2,3,4].reduce(function(acc, v) { return acc + v }))
println([].reduce(function(acc, v) { return acc + v }))
println([7].reduce(function(acc, v) { return acc + v }))
println(typeof [].tostring())
local c = [1,2]; c.clear(); println(c.len())
try { [].pop() } catch(e) println(e)
try { [].top() } catch(e) println(e)
try { [1].remove(5) } catch(e) println(e)
try { [1].insert(5, 0) } catch(e) println(e)
local mixed = ["b", "a", "c"]; mixed.sort(); println(show(mixed))
local fl = [3.5, 1, 2.25]; fl.sort(); println(show(fl))
// function delegate
function add3(a, b, c) { return a + b + c }
println(add3.call(null, 1, 2, 3) + " " + add3.pcall(null, 1, 2, 3) + " " + add3.acall([null, 1, 2, 3]) + " " + add3.pacall([null, 4, 5, 6]))
local info = add3.getinfos()
println(info.name + " " + info.native + " " + info.parameters.len())
println(print.getinfos().native)
local env = { val = "bound" }
function getval() { return val }
local bound = getval.bindenv(env)
println(bound())
println(getval.call(env))
// class delegate
class K { x = 1; static y = 2 }
println(K.rawin("x") + " " + K.rawget("y"))
local k = K()
println(k.getclass() == K)
println(k.rawin("x") + " " + k.rawget("x"))
k.rawset("x", 5); println(k.x)
// generator delegate
function gen() { yield 1 }
local g = gen()
println(g.getstatus())
resume g
println(g.getstatus())
resume g
println(g.getstatus())
// thread delegate
local th = newthread(function(a) { local r = suspend(a * 2); return r + 1 })
println(th.getstatus())
println(th.call(5))
println(th.getstatus())
println(th.wakeup(10))
println(th.getstatus())
// weakref delegate
local obj = {}
local wr = obj.weakref()
println(wr.ref() == obj)
obj = null
println(wr.ref())
// global built-in functions
println(show(array(3)) + " " + show(array(2, "z")))
println(_version_ + " " + _charsize_ + " " + _intsize_ + " " + _floatsize_ + " " + _versionnumber_)
println(type(1) + " " + type("s") + " " + type(null) + " " + type([]))
local cs = compilestring("return 40 + 2")
println(cs())
local cs2 = compilestring("return 'x'", "buf")
println(cs2())
try { compilestring("return +") } catch(e) println("compile error: " + typeof e)
try { assert(1 == 2) } catch(e) println(e)
try { assert(false, "custom assert") } catch(e) println(e)
assert(true)
println(getroottable() == ::getroottable())
println(typeof getconsttable())
local myroot = { print = print, marker = "new root" }
local old = setroottable(myroot)
println(compilestring("return ::marker")())
setroottable(old)
println("marker" in getroottable())
function whoami() { return callee() == whoami }
println(whoami())
local si = getstackinfos(1)
println(si.func + " " + typeof si.line + " " + typeof si.locals)
println(typeof collectgarbage())
println(typeof getstackinfos(0))
println(typeof newthread(print))
// documented return values and class/thread extras
local ra = [3,1,2]
print((ra.append(4) == ra) + " " + (ra.push(5) == ra) + " " + (ra.extend([6]) == ra) + " " + (ra.insert(0, 0) == ra) + " " + (ra.resize(3) == ra) + " " + (ra.sort() == ra) + " " + (ra.reverse() == ra) + "\n")
local rt = {x=1}
print((rt.rawset("y", 2) == rt) + " " + (rt.clear() == rt) + "\n")
class AC </ ca = 1 /> { </ a = 1 /> m = 1; constructor() { print("ctor\n") } }
print(AC.setattributes("m", { a = 2 }).a + " " + AC.getattributes("m").a + "\n")
print(AC.setattributes(null, "classattr").ca + " " + AC.getattributes(null) + "\n")
local ai = AC.instance()
print(typeof ai + " " + ai.m + "\n")
print(typeof print.getinfos().paramscheck + " " + typeof print.getinfos().typecheck + "\n")
local wth = newthread(function() { suspend(1); return 2 })
wth.call()
try { wth.wakeupthrow("thrown in") } catch(e) print("caught: " + e + "\n")
print(wth.getstatus() + "\n")
print(({}).tostring().slice(0, 8) + " " + [].tostring().slice(0,8) + " " + print.tostring().slice(0, 12) + " " + AC.tostring().slice(0, 8) + "\n")
local withts = {}.setdelegate({ _tostring = function() { return "custom" } })
print(withts.tostring() + "\n")
enabledebuginfo(null)
enabledebuginfo(true)
print("tick\n")
class NM2 {}
NM2.newmember("f", 10, { tag = "t" }, false)
NM2.newmember("s", 20, null, true)
NM2.rawnewmember("r", 30)
print(NM2.f + " " + NM2.getattributes("f").tag + " " + NM2.s + " " + NM2.r + "\n")
local inst = NM2()
print(inst.f + " " + inst.s + " " + inst.r + "\n")
class Hooked { function _newmember(k, v, a, s) { ::hooked <- k } }
class HK extends Hooked {}
HK.newmember("viahook", 1)
print(::hooked + " " + HK.rawin("viahook") + "\n")
HK.rawnewmember("raw", 2)
print(HK.rawin("raw") + "\n")
// cycle collection: resurrectunreachable hands back unreachable objects, collectgarbage counts them
collectgarbage()
print(typeof resurrectunreachable() + "\n")
local ca = {}; ca.self <- ca; ca = null
local rr = resurrectunreachable()
print(typeof rr + " " + rr.len() + " " + typeof rr[0] + "\n")
rr = null
local cb = []; cb.push(cb); cb = null
print((collectgarbage() >= 1) + "\n")
print(collectgarbage() + "\n")
