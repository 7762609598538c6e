// Arrays: literals, indexing, growth, common methods.
function p(x) { print(x + "\n") }

local a = [1, 2, 3]
p(a.len())
p(a[0] + a[2])
a.append(4)
a.push(5)
p(a.len())
p(a.pop())
p(a.top())
a[0] = 10
p(a[0])
try { a[10] = 1 } catch (e) { p(e) }
try { p(a[-1]) } catch (e) { p(e) }
local b = [1 2 3]
p(b.len())
local empty = []
p(empty.len())
local mixed = [1, "s", 2.5, null, [9]]
p(mixed[4][0])
p(typeof mixed[3])

local nums = [5, 3, 8, 1]
nums.sort()
local s = ""
foreach (n in nums) s += n + " "
p(s)
nums.sort(@(x, y) y <=> x)
s = ""
foreach (n in nums) s += n + " "
p(s)
p(nums.map(@(x) x * 2)[0])
p(nums.filter(@(i, x) x > 3).len())
p(nums.reduce(@(acc, x) acc + x))
p(nums.find(3))
local r = [1, 2, 3, 4, 5].slice(1, 3)
p(r.len() + ":" + r[0] + r[1])
local c = clone a
c[0] = 0
p(a[0] + " " + c[0])
a.insert(0, "first")
p(a[0])
a.remove(0)
p(a[0])
a.resize(2)
p(a.len())
a.extend([7, 8])
p(a.len())
a.reverse()
p(a[0])
p(typeof a)
