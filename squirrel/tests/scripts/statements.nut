// Control flow: if/else, loops, break/continue, switch, scoping.
function p(x) { print(x + "\n") }

local n = 3
if (n > 2) p("big"); else p("small")
if (n > 5) p("huge")
else if (n == 3) p("three")
else p("other")

if (n) {
  local inner = "block local"
  p(inner)
}

local i = 0
while (i < 3) { p("while " + i); i++ }

i = 10
do { p("do " + i); i++ } while (i < 3)

for (local j = 0; j < 3; j++) p("for " + j)

local sum = 0
for (local j = 0, k = 10; j < k; j++, k--) sum += j * k
p(sum)

for (;;) { sum++; if (sum > 100) break }
p(sum)

for (local j = 0; j < 10; j++) {
  if (j % 2) continue
  if (j > 6) break
  p("even " + j)
}

local out = ""
for (local a = 0; a < 3; a++) {
  for (local b = 0; b < 3; b++) {
    if (b == 2) break
    if (a == 1) continue
    out += a + "" + b + " "
  }
}
p(out)

i = 0
while (true) {
  i++
  if (i < 5) continue
  break
}
p(i)

i = 0
do {
  i++
  if (i == 2) continue
  if (i == 4) break
  p("dw " + i)
} while (i < 10)

function sw(x) {
  local r = ""
  switch (x) {
    case 1:
      r += "one "
    case 2:
      r += "two "
      break
    case "s":
      r += "string "
      break
    case 3.0:
      r += "three "
      break
    default:
      r += "default "
  }
  return r
}
p(sw(1))
p(sw(2))
p(sw("s"))
p(sw(3))
p(sw(4))

for (local k = 0; k < 4; k++) {
  switch (k) {
    case 0: continue
    case 2: break
    default: p("sw in loop " + k)
  }
}

local x = 1
{
  local x = 2
  p(x)
}
p(x)

foreach (v in [5, 6]) p(v)
foreach (idx, v in ["a", "b"]) p(idx + "=" + v)
local keys = []
foreach (k, v in { one = 1, two = 2, three = 3 }) keys.append(k + ":" + v)
keys.sort()
foreach (k in keys) p(k)
foreach (c in "hi") p(c)
foreach (idx, c in "hi") p(idx + ":" + c.tochar())
local total = 0
foreach (v in [1, 2, 3, 4, 5, 6]) {
  if (v == 2) continue
  if (v == 5) break
  total += v
}
p(total)
// separators: case labels end statements, else needs none, try/catch bodies without blocks
local lab = ""
foreach (x in [1, 2, 3]) switch (x) { case 1: lab += "a" case 2: lab += "b"; break; default: lab += "c" }
p(lab)
if (lab.len() > 2) p("long") else p("short")
try p(undefinedthing) catch (e) p(e)
if (false) p("no"); else p("semicolon before else")
;;
p("end")
