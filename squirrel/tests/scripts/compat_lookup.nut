// Lookup order: a table's built-in methods come before a delegate's _get; `in` and rawin see own slots only.
function p(x) { print(x + "\n") }
local log = []
local proxy = {
  _get = function(k) { log.append("get " + k); throw null }
  _set = function(k, v) { log.append("set " + k); this.rawset(k, v) }
  _newslot = function(k, v) { log.append("newslot " + k); this.rawset(k, v * 10) }
  _delslot = function(k) { log.append("delslot " + k); this.rawdelete(k) }
}
local t = {}.setdelegate(proxy)
t.x <- 1
p(t.x + " " + t.len())
t.x = 2
t.y = 5
p(t.rawget("x") + " " + t.rawget("y"))
delete t.y
p(t.len() + " " + t.rawin("y"))
foreach (line in log) p(line)
// a built-in name never reaches _get
local asked = []
local spy = {}.setdelegate({ _get = function(k) { asked.append(k); return "from _get" } })
p(spy.len() + " " + typeof spy.keys + " " + spy.other + " " + asked.len())
// in and rawin: own slots only
local parent = { inherited = 1 }
local d = { own = 2 }.setdelegate(parent)
p(("own" in d) + " " + ("inherited" in d) + " " + d.rawin("inherited") + " " + ("len" in d))
p(("len" in "abc") + " " + (0 in "abc") + " " + (3 in "abc") + " " + ("push" in []) + " " + (0 in [7]))
class K { f = 1; function m() {} }
local k = K()
p(("f" in k) + " " + ("m" in k) + " " + ("getclass" in k) + " " + ("f" in K) + " " + ("instance" in K))
