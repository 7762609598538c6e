function println(s) { print(s + "\n") }
// the docs' example
function coroutine_test(a, b) {
  ::print(a + " " + b + "\n")
  local ret = ::suspend("suspend 1")
  ::print("the coroutine says " + ret + "\n")
  ret = ::suspend("suspend 2")
  ::print("the coroutine says " + ret + "\n")
  ret = ::suspend("suspend 3")
  ::print("the coroutine says " + ret + "\n")
  return "I'm done"
}
local coro = ::newthread(coroutine_test)
local susparam = coro.call("test", "coroutine") // starts the coroutine
local i = 1
do {
  ::print("suspend passed (" + susparam + ")\n")
  susparam = coro.wakeup("ciao " + i)
  ++i
} while (coro.getstatus() == "suspended")
::print("return passed (" + susparam + ")\n")
println(coro.getstatus())
// a finished thread can be called again
local again = newthread(function(x) { return x * 2 })
println(again.call(4) + " " + again.call(5))
// suspend without a value returns null to the caller; wakeup without a value resumes with null
local t2 = newthread(function() { local r = suspend(); return "woke with " + r })
println(t2.call())
println(t2.wakeup())
// errors inside a thread propagate to the caller
local t3 = newthread(function() { suspend(1); throw "thread error" })
t3.call()
try { t3.wakeup() } catch(e) println(e)
// wakeup on a thread that is not suspended
local t4 = newthread(function() { return 1 })
try { t4.wakeup() } catch(e) println(e)
// threads see the same root table
sharedval <- "shared"
local t5 = newthread(function() { return ::sharedval })
println(t5.call())
// a thread nested in a thread
local inner = newthread(function() { suspend("inner suspended"); return "inner done" })
local outer = newthread(function() { local r = inner.call(); suspend(r); return inner.wakeup() })
println(outer.call())
println(outer.wakeup())
println(typeof outer)
// generator-like producer with threads
local producer = newthread(function() { for (local k = 0; k < 3; k++) suspend(k * k); return "end" })
local out = [producer.call()]
while (producer.getstatus() == "suspended") out.push(producer.wakeup())
foreach (v in out) print(v + " ")
println("")
// tail calls inside a thread: the state machine from the chapter runs without growing the stack
function state1() { ::suspend("state1"); return state2() }
function state2() { ::suspend("state2"); return state3() }
function state3() { ::suspend("state3"); return state1() }
local statethread = ::newthread(state1)
::print(statethread.call() + "\n")
local counts = { state1 = 0, state2 = 0, state3 = 0 }
local last
for (local i = 0; i < 10000; i++) { last = statethread.wakeup(); counts[last]++ }
::print(counts.state1 + " " + counts.state2 + " " + counts.state3 + " " + last + "\n")
local depth = 0
while (statethread.getstackinfos(depth) != null) depth++
::print("stack stays small: " + (depth < 4) + "\n")
