function println(s) { print(s + "\n") }
function show(a) { local s = "["; foreach (i, v in a) s += (i ? "," : "") + v; return s + "]" }
local a = ["I'm", "an", "array"]
local b = [null]
b[0] = a[2]
println(b[0] + " " + a.len() + " " + b.len())
// arrays are references; clone is shallow
local c = a; c[0] = "You're"; println(a[0])
local d = clone a; d[0] = "changed"; println(a[0])
// array(n) and array(n, fill)
local z = array(4, 0); z[3] = 9; println(show(z))
local e = array(0); println(e.len())
try { array(-1) } catch(err) println(err)
// nested arrays
local m = [[1, 2], [3, 4]]
println(m[1][0] + m[0][1])
// out of range reads and writes
try { a[3] } catch(err) println(err)
try { a[-1] } catch(err) println(err)
try { a[3] = 1 } catch(err) println(err)
// float index is truncated
println(a[1.7])
// new slot on arrays is not allowed
try { a[3] <- 1 } catch(err) println("newslot failed")
// foreach with index
foreach (i, v in [7, 8]) print(i + ":" + v + " ")
println("")
// modifying an array during iteration sees the change
local grow = [1, 2, 3]
local seen = 0
foreach (v in grow) { seen++; if (v == 1) grow.pop() }
println(seen)
// sort is stable enough for ints, mixed int/float compare numerically
local s = [10, 2.5, -3, 7, 0]
s.sort(); println(show(s))
local strs = ["pear", "apple", "fig"]
strs.sort(@(x, y) x.len() <=> y.len()); println(show(strs))
// sort comparator must return integer
try { [2, 1].sort(@(x, y) "bad") } catch(err) println("comparator error")
// sort of uncomparable values throws
try { [1, "a"].sort(); println("sorted") } catch(err) println("sort error")
// map/filter/reduce/apply return values
local nums = [1, 2, 3, 4]
println(show(nums.map(@(v) v * v)) + " " + show(nums.filter(@(i, v) i % 2 == 0)) + " " + nums.reduce(@(p, v) p * v))
nums.apply(@(v) -v)
println(show(nums))
// find uses ==
println([1, 2.0, "3"].find(2) + " " + [1, 2.0, "3"].find("3") + " " + [1].find(1.0))
// extend returns the array, push/append return null? (push returns the array itself is not documented)
local ex = [1]; ex.extend([2, 3]); println(show(ex))
// insert at the end and the beginning, remove returns the removed value
ex.insert(0, 0); ex.insert(4, 4); println(show(ex) + " " + ex.remove(2) + " " + show(ex))
// slice with negative indexes and errors
local sl = [0, 1, 2, 3, 4]
println(show(sl.slice(1, 3)) + " " + show(sl.slice(-3)) + " " + show(sl.slice(-3, -1)) + " " + show(sl.slice(5)))
try { sl.slice(3, 1) } catch(err) println(err)
try { sl.slice(0, 6) } catch(err) println(err)
// resize shrinks and grows with fill
sl.resize(2); println(show(sl)); sl.resize(4, "x"); println(show(sl))
// reverse in place
local rv = [1, 2, 3]; rv.reverse(); println(show(rv))
// top and pop
println(rv.top() + " " + rv.pop() + " " + rv.len())
// equality is identity
println(([1] == [1]) + " " + (rv == rv))
// callbacks may take the index and the array too; reduce takes an initializer
println([10, 20].map(@(v, i) i + ":" + v)[1] + " " + [10, 20].map(@(v, i, arr) arr.len())[0] + " " + [1, 2, 3].reduce(@(p, v) p + v, 10))
