// Generators: yield, resume, foreach over generators, dead generators.
function p(x) { print(x + "\n") }

function geny(n) {
  for (local i = 1; i <= n; ++i)
    yield i
  return null
}
local g = geny(3)
for (local x = resume g; x; x = resume g) p(x)
try { resume g } catch (e) { p(e) }

function squares(n) {
  local i = 0
  while (i < n) { yield i * i; i++ }
  return "finished"
}
foreach (idx, v in squares(4)) p(idx + ":" + v)

local gen = squares(1)
p(resume gen)
p(resume gen)
p(gen.getstatus())

function withState() {
  local acc = []
  yield acc.len()
  acc.append(1)
  yield acc.len()
}
local w = withState()
p(resume w)
p(resume w)
p(typeof w)

function bare() { yield; yield 5 }
local b = bare()
p(resume b)
p(resume b)
