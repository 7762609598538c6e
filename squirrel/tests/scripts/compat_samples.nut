// Constructs that real scripts use: a constructor defined outside its class body calling its base's, balanced
// runs in regular expressions, the base library's do-nothing function, and slices refused with two texts.
function p(x) { print(x + "\n") }

class Base {
  name = null
  constructor(n) { name = n }
}
class Toggle extends Base {
  state = false
}
function Toggle::constructor(s) {
  base.constructor("toggle")
  state = s
}
function Toggle::flip() { state = !state; return state }
local t = Toggle(true)
p(t.name + " " + t.state + " " + t.flip() + " " + t.flip())
// one given in the body is replaced before the first instance; a nested path reaches the class
class Counter { n = 0; constructor() { n = 1 } }
function Counter::constructor(start) { n = start }
p(Counter(7).n)
local ns = { Inner = class { v = 0 } }
function ns::Inner::constructor(a, b = 2) { v = a * b }
p(ns.Inner(3).v + " " + ns.Inner(3, 5).v)
// the constructor's argument count is checked as any function's
try { Toggle(); p("no error") } catch (e) p(e)
// a constructor outside the body of a class that has none of its own, and a class without a base
class Plain { v = 0 }
function Plain::constructor() { v = 9 }
p(Plain().v)

// \m followed by an opening and a closing character: a balanced run
function show(pattern, text) {
  local r
  try { r = regexp(pattern) } catch (e) { p(pattern + " -> error: " + e); return }
  local m = r.search(text)
  p(pattern + " on " + text + " -> " + (m == null ? "null" : text.slice(m.begin, m.end)))
}
local rows = [
  ["\\m()", "x(a,(b),c)y"],
  ["a\\m()b", "xa(1(2)3)by"],
  ["(\\m())+z", "q(a)(b(c))z"],
  ["\\m\"\"", "say \"hi\" now"],
  ["^\\m()$", "(a)(b)"],
  ["\\m(", "(a)"],
]
foreach (row in rows) show(row[0], row[1])
// whole-text matches and the captures of a run
p(regexp("\\m()").match("(a(b))") + " " + regexp("\\m()").match("(a)(b)") + " " + regexp("\\m()").match("(a"))
local caps = regexp("(\\m())(\\w+)").capture("-(x(y))tail-")
foreach (c in caps) p(c.begin + "," + c.end)
local deep = ""
for (local i = 0; i < 2000; i++) deep = "(" + deep + ")"
local dm = regexp("\\m()").search("ab" + deep + "cd")
p(dm.begin + " " + dm.end)

// dummy: takes anything, does nothing
p(type(dummy) + " " + dummy() + " " + dummy(1, "two", [3]))

// slices: reversed ("wrong indexes", asked first) or out of range at either end, after negative indexes count
// from the end
local arr = [1, 2, 3, 4, 5]
local slices = [[0, 5], [5], [-5], [-1], [2, -1], [0, 6], [6], [-6], [3, 1], [-1, -3], [0, -6], [4, 3]]
foreach (s in slices) {
  local a = "", b = ""
  try { a = s.len() == 1 ? arr.slice(s[0]).len() : arr.slice(s[0], s[1]).len() } catch (e) a = e
  try { b = s.len() == 1 ? "abcde".slice(s[0]) : "abcde".slice(s[0], s[1]) } catch (e) b = e
  p(s.len() + ":" + s[0] + (s.len() > 1 ? "," + s[1] : "") + " -> " + a + " | " + b)
}
