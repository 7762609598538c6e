// Threads and generators: refused suspends and wakeups raise, and both stay usable.
function p(x) { print(x + "\n") }
function gen() {
  try { suspend("from generator") } catch (e) p("generator caught: " + e)
  yield 1
  yield 2
}
local g
local th = newthread(function() { g = gen(); local first = resume g; local s = suspend("thread"); return first + s })
p(th.call())
p(th.getstatus() + " " + g.getstatus())
p(th.wakeup(10) + " " + th.getstatus())
p((resume g) + " " + g.getstatus())
// waking a running thread, then a finished one
local self
self = newthread(function(x) { try { self.wakeup(1) } catch (e) p(e); return x * 2 })
p(self.call(4))
p(self.getstatus())
try { self.wakeup(1) } catch (e) p(e)
p(self.call(5))
// setdelegate refuses a cycle, however long the chain, and the chain still works
local first = { leaf = "found" }
local last = first
for (local i = 0; i < 100000; i++) last = {}.setdelegate(last)
try { first.setdelegate(last); p("cycle made") } catch (e) p(e)
p(last.leaf + " " + (first.getdelegate() == null))
try { first.setdelegate(first); p("cycle made") } catch (e) p(e)
local fresh = {}
try { fresh.setdelegate(fresh); p("cycle made") } catch (e) p(e)
