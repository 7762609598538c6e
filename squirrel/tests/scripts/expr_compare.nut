// Comparison, equality, three-way compare, truthiness and logical operators.
function p(x) { print(x + "\n") }

p(1 == 1.0)
p(1 != 1.0)
p(2 > 1)
p(2 >= 2)
p(1 < 0.5)
p(1.5 <= 1.5)
p("abc" < "abd")
p("b" > "abc")
p("x" == "x")
p(null == null)
p(null == false)
p(0 == false)
p(1 <=> 2)
p(2 <=> 2)
p(3 <=> 2)
p(("a" <=> "b") < 0)
p(1.5 <=> 1)
local t = {}
p(t == t)
p(t == {})
p(!0)
p(!"")
p(!null)
p(!0.0)
p(![])
p(null || "x")
p(0 || false)
p(1 && 2)
p(0 && 2)
p(null && 1)
p("" ? "empty is true" : "empty is false")
p(0.0 ? "yes" : "no")
p(true ? 1 : 2)
p(false ? 1 : true ? 3 : 4)
local calls = 0
function side() { calls++; return true }
local r = false && side()
r = true || side()
p(calls)
r = true && side()
p(calls)
try {
  local x = "a" < 1
  p("no error")
} catch (e) {
  p(e)
}
try {
  p(null < 1)
} catch (e) {
  p(e)
}
