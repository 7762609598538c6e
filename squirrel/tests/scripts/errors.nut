// Exceptions: throw/catch of any value, runtime error texts, unwinding through calls.
function p(x) { print(x + "\n") }

try { throw "plain" } catch (e) { p(e) }
try { throw 42 } catch (e) { p(e + 1) }
try { throw { code = 7 } } catch (e) { p(e.code) }
try { throw null } catch (e) { p(e) }

function deep(n) { if (n == 0) throw "from depth"; return deep(n - 1) }
try { deep(20) } catch (e) { p(e) }

function thrower() { local x = [1]; return x[5] }
try { thrower() } catch (e) { p(e) }

try {
  try { throw "inner" } catch (e) { p("caught " + e); throw "rethrown " + e }
} catch (e) { p(e) }

local log = ""
for (local i = 0; i < 3; i++) {
  try {
    if (i == 1) continue
    if (i == 2) break
    log += "body" + i
  } catch (e) { log += "never" }
}
p(log)

function inTry() {
  try { return "returned from try" } catch (e) { return "no" }
}
p(inTry())
try { throw "after return" } catch (e) { p(e) }

local r = 0
foreach (v in [1, 2, 3]) {
  try { if (v == 2) throw v; r += v } catch (e) { r += 100 * e }
}
p(r)

try { local z = 1 / 0 } catch (e) { p(e) }
try { local z = 1 % 0 } catch (e) { p(e) }
try { local z = -2147483648 / -1 } catch (e) { p(e) }
try { local z = null + 1 } catch (e) { p(e) }
try { local z = "a" - 1 } catch (e) { p(e) }
try { undefinedFn() } catch (e) { p(e) }
try { local n = null; n() } catch (e) { p(e) }
try { local q = {}; q.x.y = 1 } catch (e) { p(e) }
try { local s = "s" | 1 } catch (e) { p(e) }
p(1.0 / 0 > 1e30)

local caught = false
try {
  local f = function() { throw "in closure" }
  f()
} catch (e) { caught = e }
p(caught)

function nested() {
  try { throw "one" } catch (e) {
    try { throw e + " two" } catch (e2) { return e2 }
  }
}
p(nested())
p("still running")
