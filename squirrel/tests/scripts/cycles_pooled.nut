// Objects in reference cycles through generators, threads, closures, instances, tables and arrays
// are collected, weak references to them go null, and the storage they leave is reused by new
// objects of every size without disturbing the live ones.
function p(x) { print(x + "\n") }
class Node { peer = null; tag = 0; constructor(t) { tag = t } }
local weak = []
function watch(x) { weak.append(x.weakref()) }
// Weak references read from a container give their target, or null once it is gone.
function alive() { local n = 0; foreach (w in weak) if (w != null) ++n; return n }

for (local round = 0; round < 3; ++round) {
  weak.clear()
  for (local i = 0; i < 50; ++i) {
    // instance <-> instance
    local a = Node(i), b = Node(-i)
    a.peer = b; b.peer = a
    watch(a)
    // closure -> table -> closure
    local t = { f = null }
    t.f = function() { return t }
    watch(t)
    // generator whose frame holds a table that holds the generator
    local box = {}
    local g = (function(holder) { yield holder; yield holder.len() })(box)
    box.gen <- g
    resume g
    watch(box)
    // suspended thread whose stack holds an array that holds the thread
    local arr = [i]
    local th = newthread(function(x) { suspend(x); return x })
    arr.append(th)
    th.call(arr)
    watch(arr)
    // long strings and wide arrays of the same sizes made in between
    local s = "s" + i
    for (local k = 0; k < 5; ++k) s += s
    local wide = array(i % 9, s)
    wide.append(wide)
    watch(wide)
  }
  p("round " + round + " before: " + alive() + " alive")
  local freed = collectgarbage()
  p("round " + round + " freed some: " + (freed > 0) + ", after: " + alive() + " alive")
}

// Live objects made after the collection keep their contents while more garbage comes and goes.
local keep = []
for (local i = 0; i < 300; ++i) {
  local j = i  // one cell per turn: the loop variable is a single cell for the whole loop
  keep.append({ id = i, text = "k" + i, list = array(i % 7, i), fn = @(x) x + j, obj = Node(i) })
  local c1 = {}, c2 = { back = c1 }
  c1.fwd <- c2
  if (i % 50 == 0) collectgarbage()
}
local ok = true
foreach (i, e in keep) {
  if (e.id != i || e.text != "k" + i || e.list.len() != i % 7 || e.fn(1) != i + 1 || e.obj.tag != i) ok = false
  foreach (v in e.list) if (v != i) ok = false
}
p("kept intact: " + ok)
// A weak reference to an object that is alive through a cycle and a root stays valid across collection.
local root = Node(7)
root.peer = Node(8)
root.peer.peer = root
local w = root.peer.weakref()
collectgarbage()
p("reachable cycle kept: " + (w.ref() != null) + " " + w.ref().tag + " " + w.ref().peer.tag)
root = null
collectgarbage()
p("unreachable cycle gone: " + (w.ref() == null))
