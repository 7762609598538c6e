// Errors caught by the calling script print nothing, whatever they went through: a thread called or woken,
// a function or a native reached through call() or acall(). Only an error that nothing catches is reported,
// with the frames of the thread where it was thrown.
function p(x) { print(x + "\n") }
function fail(what) { throw what }
local called = newthread(function(x) { fail("in call " + x) })
try { called.call(1) } catch (e) p("caught: " + e)
p(called.getstatus())
local woken = newthread(function() { local v = suspend("paused"); fail("in wakeup " + v) })
p(woken.call())
try { woken.wakeup(2) } catch (e) p("caught: " + e)
local thrown = newthread(function() { suspend(0); p("not reached") })
thrown.call()
try { thrown.wakeupthrow("thrown in") } catch (e) p("caught: " + e)
// caught further out, through a function's call(), inside a nested thread, inside a generator
function viaCall() { return called.call(3) }
try { viaCall.call(this) } catch (e) p("caught: " + e)
local outer = newthread(function() { return newthread(@() fail("nested")).call() })
try { outer.call() } catch (e) p("caught: " + e)
function gen() { yield newthread(@() fail("in generator")).call() }
try { foreach (x in gen()) p(x) } catch (e) p("caught: " + e)
// caught inside the thread itself
p(newthread(function() { try { fail("inside") } catch (e) return "thread caught: " + e }).call())
// natives and script functions through call() and acall(), caught
try { split.call(this, "a", "") } catch (e) p("caught: " + e)
try { split.acall([this, "a", ""]) } catch (e) p("caught: " + e)
try { fail.call.call(fail, this, "call of call") } catch (e) p("caught: " + e)
try { [3, 1, 2].sort(@(a, b) fail.call(this, "in sort")) } catch (e) p("caught: " + e)
// pcall and acall, caught
try { (@() newthread(@() fail("pcall")).call()).pcall(this) } catch (e) p("caught: " + e)
try { (@(a) newthread(@() fail(a)).call()).acall([this, "acall"]) } catch (e) p("caught: " + e)
// the last one nobody catches: reported once, with the thread's frames
local last = newthread(function() { local v = suspend(); fail("uncaught " + v) })
last.call()
last.wakeup("wake")
p("not reached")
