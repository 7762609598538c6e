// map and apply walk the length the call began with; sort's comparator answers as an integer, a comparator that
// resizes the array stops the sort, and the sort is stable.
function p(x) { print(x + "\n") }
function show(a) { local s = "["; foreach (i, v in a) s += (i ? "," : "") + v; return s + "]" }
function fails(f) { try { f(); return "no error" } catch (e) return e }

// a callback that appends (once or twice per element) or removes, over arrays of several sizes
foreach (n in [0, 1, 2, 5]) {
  local grow = array(n, 1), twice = array(n, 1), shrink = array(n, 1)
  local mapped = grow.map(function(x) { grow.append(x); return x * 4 })
  local applied = clone twice
  applied.apply(function(x) { applied.append(x); applied.append(x); return x + 1 })
  local seen = 0
  local shrunk = shrink.map(function(x) { seen++; shrink.pop(); return x })
  p(n + ": map " + mapped.len() + "/" + grow.len() + " apply " + applied.len() + " " + show(applied) +
    " shrinking " + seen + "/" + shrink.len() + " " + show(shrunk))
}
// a callback that removes or clears during apply: the walk ends where the array now ends
foreach (how in ["pop", "clear", "remove"]) {
  local s = [1, 2, 3, 4, 5], seen = 0
  s.apply(function(x) { seen++; if (how == "remove") s.remove(0); else s[how](); return x * 10 })
  p("apply " + how + ": " + seen + " " + show(s))
}
local a = [1, 2]
local r = a.map(function(x) { a.append(x); return x * 4 })
p(show(r) + " " + show(a))

// the comparator's answer counts as an integer: a float truncates toward zero, a bool is 0 or 1
local answers = [
  ["int", @(x, y) x - y],
  ["float", @(x, y) (x - y) * 1.0],
  ["tenth float", @(x, y) (x - y) * 0.1],
  ["bool", @(x, y) x > y],
  ["bool or -1", @(x, y) x < y ? -1 : x > y],
  ["-1.9 or 0.9", @(x, y) x < y ? -1.9 : 0.9],
  ["-0.9 or 0", @(x, y) x < y ? -0.9 : 0],
  ["string", @(x, y) "less"],
  ["null", @(x, y) null],
]
foreach (c in answers) {
  local s = [3, 1, 2, 1]
  local e = fails(@() s.sort(c[1]))
  p(c[0] + ": " + show(s) + " " + e)
}

// a comparator that changes the length, at the first call or a later one, over several sizes
foreach (n in [2, 3, 8, 33]) {
  foreach (when in [1, 5]) {
    foreach (how in ["append", "pop", "clear"]) {
      local s = array(n, 0).map(@(x, i) n - i), calls = 0
      local e = fails(@() s.sort(function(x, y) { if (++calls == when) { if (how == "append") s.append(0); else s[how]() } return x <=> y }))
      p(n + " " + how + " at " + when + ": " + e)
    }
  }
}
// ties keep their order, whatever the length and the comparator's answer form
foreach (n in [2, 7, 16, 41]) {
  local s = array(n, 0).map(@(x, i) { key = (i * 7) % 3, at = i })
  s.sort(@(x, y) x.key <=> y.key)
  local stable = true
  for (local i = 1; i < n; i++)
    if (s[i - 1].key > s[i].key || (s[i - 1].key == s[i].key && s[i - 1].at > s[i].at)) stable = false
  p(n + " stable " + stable)
}
// the comparison that resizes is the last one made, even where the next would undo it; the same holds for a _cmp
// that the default order calls
foreach (n in [2, 5, 33]) {
  foreach (when in [1, 2, 4]) {
    local s = array(n, 0).map(@(x, i) n - i), calls = 0
    local e = fails(@() s.sort(function(x, y) {
      if (++calls == when) s.append(0); else if (calls == when + 1) s.pop()
      return x <=> y
    }))
    p(n + " append at " + when + ", pop after: " + e + " after " + calls + " calls, length " + s.len())
  }
}
local sorted = [], cmpCalls = 0
class Grows {
  n = 0
  constructor(x) { n = x }
  function _cmp(o) { if (++cmpCalls == 2) sorted.push(0); else if (cmpCalls == 3) sorted.pop(); return n - o.n }
}
foreach (n in [4, 9]) {
  sorted = array(n, 0).map(@(x, i) Grows(n - i))
  cmpCalls = 0
  p("_cmp over " + n + ": " + fails(@() sorted.sort()) + " after " + cmpCalls + " calls, length " + sorted.len())
}
