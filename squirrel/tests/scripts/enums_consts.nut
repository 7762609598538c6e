// Compile-time constants and enumerations.
function p(x) { print(x + "\n") }

const ANSWER = 42
const NEG = -7
const PI = 3.5
const NAME = "const name"
p(ANSWER)
p(NEG)
p(PI * 2)
p(NAME)

enum Color { Red, Green, Blue }
p(Color.Red)
p(Color.Green)
p(Color.Blue)

enum Mixed { A, B = 10, C, D = "text", E = 1.5, F }
p(Mixed.A)
p(Mixed.B)
p(Mixed.C)
p(Mixed.D)
p(Mixed.E)
p(Mixed.F)

p(-Color.Blue)
p(Color.Blue * ANSWER)

// constants shadow globals; the global stays reachable through ::
::ANSWER <- "global slot"
p(ANSWER)
p(::ANSWER)

function usesConst() { return ANSWER + 1 }
p(usesConst())

local sw = Color.Green
switch (sw) {
  case Color.Red: p("red"); break
  case Color.Green: p("green"); break
}

p(typeof getconsttable().Color)
p(getconsttable().ANSWER)
p(__LINE__)
