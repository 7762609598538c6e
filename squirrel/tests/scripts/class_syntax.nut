// Class declarations as the compiler sees them: members, statics, attributes, constructors, base calls.
function p(x) { print(x + "\n") }

class Animal </ kind = "base" /> {
  name = null
  legs = 4
  static count = [0]
  </ doc = "speaks" />
  function speak() { return name + " makes a sound" }
  constructor(n) { name = n; Animal.count[0]++ }
  function describe() { return name + " has " + legs + " legs" }
}

class Bird extends Animal {
  legs = 2
  constructor(n) { base.constructor(n + " the bird") }
  function speak() { return base.speak() + ": tweet" }
}

local a = Animal("Rex")
local b = Bird("Tweety")
p(a.speak())
p(b.speak())
p(b.describe())
p(Animal.count[0])
p(b instanceof Animal)
p(a instanceof Bird)
p(typeof a)
p(typeof Animal)
p(Animal.getattributes(null).kind)
p(Animal.getattributes("speak").doc)
p(Bird.getbase() == Animal)

// member defaults are shared values, not copies
class Holder { items = [] }
local h1 = Holder(), h2 = Holder()
h1.items.append(1)
p(h2.items.len())

try { Holder.extra <- 1 } catch (e) { p(e) }
try { h1.fresh <- 1 } catch (e) { p(e) }

// classes as expressions and nested names
local Anon = class { v = 5; function get() { return v } }
p(Anon().get())
Outer <- {}
class Outer.Inner { function hi() { return "inner" } }
p(Outer.Inner().hi())

// methods added later through the class object (before instantiation)
class Late {}
Late.extra <- function() { return "late method" }
function Late::another() { return "sugar method" }
p(Late().extra())
p(Late().another())

// _tostring is used by string concatenation
class Pt {
  x = 0; y = 0
  constructor(a, b) { x = a; y = b }
  function _tostring() { return "(" + x + "," + y + ")" }
  function _add(o) { return Pt(x + o.x, y + o.y) }
}
p("point " + Pt(1, 2))
p(Pt(1, 2) + Pt(3, 4))

// post-call initializer on an instance
local q = Pt(0, 0) { x = 7 }
p(q.x)

// static members are shared through the class
class Cnt { static n = [0]; function bump() { n[0]++ } }
Cnt().bump(); Cnt().bump()
p(Cnt.n[0])

// `function constructor` is accepted in a class body
class Named { v = 0; function constructor(x) { v = x } }
p(Named(9).v)
