function println(s) { print(s + "\n") }
Entity <- {
  function DoStuff() { ::print(_name + "\n") }
}
local newentity = { _name = "I'm the new entity" }
newentity.setdelegate(Entity)
newentity.DoStuff()
local thedelegate = newentity.getdelegate()
println(thedelegate == Entity)
// set on a missing slot goes to the delegate that has it
local parent = { shared = 1 }
local child = {}.setdelegate(parent)
child.shared = 5
println(parent.shared + " " + child.rawin("shared"))
try { child.absent = 1 } catch(e) println(e)
// new slot always lands in the child
child.shared <- 9
println(parent.shared + " " + child.shared + " " + child.rawget("shared"))
// multi-level chain for get and set
local grand = { deep = "g" }
local mid = {}.setdelegate(grand)
local leaf = {}.setdelegate(mid)
println(leaf.deep)
leaf.deep = "changed through chain"
println(grand.deep)
// delegate methods run with the child as this
local proto = { describe = function() { return "I am " + name } }
local x = { name = "x" }.setdelegate(proto)
println(x.describe())
// default delegate methods still work when a custom delegate is set
println(x.len() + " " + x.rawin("name"))
// a custom delegate entry hides the default delegate function of the same name
local lenproto = { len = function() { return "custom len" } }
local y = { a = 1 }.setdelegate(lenproto)
println(y.len())
// delegates must be tables
try { local q = {}; q.setdelegate([]) } catch(e) println("setdelegate rejects arrays")
// cyclic delegation is refused
local c1 = {}, c2 = {}
c1.setdelegate(c2)
try { c2.setdelegate(c1); println("cycle accepted") } catch(e) println("cycle refused")
// an implicit assignment inside a delegate method also reaches the delegate slot
local hproto = { hits = 0, function hit() { hits = hits + 1; return hits } }
local hobj = {}.setdelegate(hproto)
hobj.hit(); hobj.hit()
print(hproto.hits + " " + hobj.rawin("hits") + "\n")
