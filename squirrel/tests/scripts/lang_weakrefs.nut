function println(s) { print(s + "\n") }
// the docs' example
local t = {}
local a = ["first", "second", "third"]
t.thearray <- a.weakref()
println(t.thearray[0])
println(t.thearray.len())
a = 123
println(t.thearray)
println(typeof t.thearray)
// weakref to a value type returns the value itself
local n = 10
println(typeof n.weakref() + " " + n.weakref())
println(typeof 1.5.weakref() + " " + typeof true.weakref() + " " + typeof null)
// ref() and comparing
local obj = { v = 1 }
local w = obj.weakref()
println(typeof w + " " + (w.ref() == obj))
local w2 = obj.weakref()
println(w.ref() == w2.ref())
// a weak reference in a table slot is transparent on fetch
local holder = { r = obj.weakref() }
println(typeof holder.r + " " + holder.r.v)
holder.r.v = 2
println(obj.v)
// after the object dies, the slot yields null
obj = null
println(holder.r)
println(w.ref())
// weak reference in arrays
local target = [1, 2]
local arr = [target.weakref()]
println(typeof arr[0] + " " + arr[0].len())
target = null
println(arr[0])
// weakref of instances and closures
class C { x = 7 }
local inst = C()
local wi = inst.weakref()
println(wi.ref().x)
inst = null
println(wi.ref())
local f = function() { return "f" }
local wf = f.weakref()
println(wf.ref()())
// weak reference to a weak reference
local o2 = {}
local ww = o2.weakref().weakref()
println(typeof ww)
// iteration, delegates and class members read through weak references too
local live = { name = "live" }
local coll = [live.weakref()]
foreach (v in coll) println(typeof v + " " + v.name)
local wt = { k = live.weakref() }
foreach (k, v in wt) println(k + " " + typeof v)
local wdel = {}.setdelegate({ fromdelegate = live.weakref() })
println(wdel.fromdelegate.name)
class WHolder { static target = null }
WHolder.target <- live.weakref()
println(WHolder.target.name + " " + (WHolder.rawget("target") == live))
live = null
foreach (v in coll) println(v)
println(wdel.fromdelegate + " " + WHolder.target)
