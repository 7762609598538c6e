// getstatus() answers every state of threads and generators, from outside and from inside, the same text
// on every call, whatever the collector and other threads did in between.
function p(x) { print(x + "\n") }
local seen = {}
function note(where, s) {
  if (!(s in seen)) seen[s] <- 0
  seen[s] += 1
  p(where + ": " + s + " " + typeof s + " " + s.len())
}
local th
th = newthread(function(a) {
  note("thread inside", th.getstatus())
  local g
  g = (function() { note("generator inside", g.getstatus()); yield 1; yield 2 })()
  note("generator fresh", g.getstatus())
  resume g
  note("generator yielded", g.getstatus())
  local b = suspend(a + 1)
  resume g
  resume g
  note("generator done", g.getstatus())
  try { resume g } catch (e) p("resume dead: " + e)
  return b * 2
})
note("thread idle", th.getstatus())
p(th.call(1))
note("thread suspended", th.getstatus())
collectgarbage()
p(th.wakeup(21))
note("thread finished", th.getstatus())
// a thread that fails leaves the same texts behind
local bad = newthread(function() { suspend(0); throw "broken" })
bad.call()
note("failing suspended", bad.getstatus())
try { bad.wakeup() } catch (e) p("caught: " + e)
note("failing after", bad.getstatus())
// many polls answer equal texts that compare as keys and as strings
local polls = 0
local counter = newthread(function() { for (local i = 0; i < 1000; ++i) suspend(i); return -1 })
local last = counter.call()
while (counter.getstatus() == "suspended") { ++polls; last = counter.wakeup() }
p(polls + " polls, last " + last + ", now " + counter.getstatus())
local keys = []
foreach (k, n in seen) keys.append(k + "=" + n)
keys.sort()
p(keys.reduce(@(a, b) a + " " + b))
local t = { idle = 1, running = 2, suspended = 3, dead = 4 }
p(t[th.getstatus()] + " " + t[(function() { yield 0 })().getstatus()])
