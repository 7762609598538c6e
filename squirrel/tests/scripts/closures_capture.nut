// Captured variables survive break, continue, exceptions and generator death with their last values; a
// yield closes them with the values they had there.
local fns = []
for (local i = 0; i < 5; i++) {
  local x = i * 10
  fns.append(@() x)
  if (i == 1) continue
  if (i == 3) break
}
local s = ""
foreach (f in fns) s += f() + ","
print(s + "\n")
local g = []
try {
  local y = "in try"
  g.append(@() y)
  throw "boom"
} catch (e) {
  local z = "in catch " + e
  g.append(@() z)
}
local w = "after"
print(g[0]() + " / " + g[1]() + " / " + w + "\n")
function mk() {
  local acc = 0
  local add = function(n) { acc += n; return acc }
  local get = @() acc
  add(5); add(7)
  return [add, get]
}
local pair = mk()
pair[0](1)
print(pair[1]() + "\n")
local gens = []
function countdown(n) { local left = n; while (left > 0) { yield @() left; left-- } }
foreach (fn in countdown(3)) gens.append(fn)
print(gens[0]() + " " + gens[2]() + "\n")
