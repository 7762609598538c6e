// Small programs through the whole compiler: loops, default parameters, captured loop variables, generators,
// exceptions, switch fall-through, nested ternaries, integer wrap-around, compound assignments, continue in
// do-while, and base calls.
print((function() { local s = 0; for (local i = 1; i <= 10; i++) s += i; return s })() + "\n")
print((function() { local f = function(a, b = 5) { return a * b }; return f(3) + f(2, 2) })() + "\n")
print((function() {
  local fns = []; foreach (i in [1, 2, 3]) { local j = i; fns.append(@() j) }
  return fns[0]() * 100 + fns[1]() * 10 + fns[2]()
})() + "\n")
function g() { yield 1; yield 2 }
print((function() { local t = 0; foreach (v in g()) t += v; return t })() + "\n")
print((function() { try { throw 5 } catch (e) { return e * 2 } })() + "\n")
print((function() {
  local n = 0; switch (3) { case 1: n = 1; case 3: n += 3; case 4: n += 4; break; default: n = -1 }
  return n
})() + "\n")
print((function() { local x = 5; local r = x > 3 ? x < 10 ? 1 : 2 : 3; return r })() + "\n")
print((0x7FFFFFFF + 1 == -2147483648 ? 1 : 0) + "\n")
print((function() { local t = { a = 1 }; t.a += 4; t.a++; return t.a })() + "\n")
print((function() { local a = [1, 2]; a[1] *= 10; return a[0] + a[1] })() + "\n")
print((function() {
  local c = 0; local i = 0; do { i++; if (i == 2) continue; c += i } while (i < 4); return c
})() + "\n")
class A { v = 1; function get() { return v } }
class B extends A { function get() { return base.get() + 10 } }
print(B().get() + "\n")
