// Tables: new slot vs assignment, keys, delete, in, JSON syntax, globals.
function p(x) { print(x + "\n") }

local t = { a = 1, [2] = "two", "json key": 3, b = { c = "deep" } }
p(t.a)
p(t[2])
p(t["json key"])
p(t.b.c)
p(t.len())

t.d <- 4
p(t.d)
t.d = 5
p(t.d)
try { t.nope = 1 } catch (e) { p(e) }
try { p(t.nope) } catch (e) { p(e) }

t[1] <- "int key"
t[1.0] <- "float key"
p(t[1])
p(t[1.0])
p(1 == 1.0)

p("a" in t)
p("zz" in t)
p(2 in t)
local removed = delete t.a
p(removed)
p("a" in t)
try { delete t.a } catch (e) { p(e) }

try { undefinedGlobal = 3 } catch (e) { p(e) }
newGlobal <- 10
newGlobal = 11
p(newGlobal)
p(::newGlobal)

local json = {
  "id": 1,
  "tags": ["x", "y"]
}
p(json.id + json.tags.len())

local nested = { inner = { v = 1 } }
nested.inner.v += 1
p(nested.inner.v)

local k = "dyn"
local d = {}
d[k] <- 1
d[k + "2"] <- 2
p(d.dyn + d.dyn2)

local cl = clone t
cl.d = 99
p(t.d + " " + cl.d)

try { local n = {}; n[null] <- 1 } catch (e) { p(e) }
local count = 0
foreach (key, val in { x = 1, y = 2, z = 3 }) count += val
p(count)
p(typeof t)
