function println(s) { print(s + "\n") }
// construction
local t = {}
local test = {
  a = 10
  b = function(a) { return a + 1 }
}
println(test.a + " " + test.b(1))
local tj = { "double": 1, "x y": 2 }
println(tj["double"] + " " + tj["x y"])
local tk = { [1] = "one", [2.5] = "float key", ["s"] = "string key", [true] = "bool key" }
println(tk[1] + " " + tk[2.5] + " " + tk.s + " " + tk[true])
// slot creation and deletion
local a = {}
a.newslot <- 1234
a["strkey"] <- "v"
println(a.newslot + " " + a.strkey)
try { a.undeclared = 1 } catch(e) println(e)
println(delete a.newslot)
println("newslot" in a)
// keys of any type except null
local k = {}
k[[]] <- 1; k[k] <- "self"; k[print] <- "fn"
println(k[k] + " " + k[print] + " " + k.len())
try { k[null] <- 1 } catch(e) println(e)
try { k[null] } catch(e) println(e)
// integer and float keys are different keys
k = {}
k[1] <- "int"; k[1.0] <- "float"
println(k[1] + " " + k[1.0] + " " + k.len())
// tables are references
local r1 = { v = 1 }
local r2 = r1
r2.v = 2
println(r1.v)
// iteration visits every key once
local it = { a = 1, b = 2, c = 3, d = 4 }
local sum = 0, count = 0
foreach (key, val in it) { sum += val; count++ }
println(count + " " + sum)
// removing the current slot during iteration
foreach (key, val in it) if (val % 2 == 0) delete it[key]
local left = it.keys(); left.sort()
println(left.len() + " " + left[0] + left[1])
// many slots and rehash
local big = {}
for (local i = 0; i < 1000; i++) big[i] <- i * 2
local ok = true
for (local i = 0; i < 1000; i++) if (big[i] != i * 2) ok = false
println(big.len() + " " + ok)
for (local i = 0; i < 1000; i += 2) delete big[i]
println(big.len() + " " + (1 in big) + " " + (2 in big))
// table functions called with the table as this
local obj = { n = 3, twice = function() { return n * 2 } }
println(obj.twice())
// nested tables and paths
local nest = { inner = { deeper = { value = "deep" } } }
println(nest.inner.deeper.value)
nest.inner.deeper.value = "changed"
println(nest["inner"]["deeper"]["value"])
// table equality is identity
println(({} == {}) + " " + (obj == obj))
// tostring of tables starts with "(table : "
println(obj.tostring().slice(0, 9))
// the chapter's examples
local na = {}
try { na.newslot = 1234 } catch(e) println("assignment to a missing slot fails")
na.newslot <- 1234
na[1] <- "I'm the value of the new slot"
println(na.newslot + " " + na[1])
tdel <- {
  test1 = 1234
  deleteme = "now"
}
delete tdel.test1
println(delete tdel.deleteme)
println(tdel.len())
