function println(s) { print(s + "\n") }
foo <- "root foo"
function testy(arg) { local a = 10; return arg + a }
println(testy(5))
function rootfoo(arg) { local a = 10; return arg + ::foo }
println(rootfoo("x "))
// lookup order: local, then this, then the closure root
function lookup() { return foo }
println(lookup())
println(lookup.call({ foo = "env foo" }))
function lookuplocal() { local foo = "local foo"; return foo }
println(lookuplocal.call({ foo = "env foo" }))
function explicitroot() { return ::foo }
println(explicitroot.call({ foo = "env foo" }))
// assignment: existing slot of this, otherwise the root
function test() { foo = 10 }
local env = { foo = 1 }
test.call(env)
println(env.foo + " " + ::foo)
local env2 = {}
test.call(env2)
println(("foo" in env2) + " " + ::foo)
::foo = "root foo"
// this keyword
local o = { name = "o", who = function() { return this.name } }
println(o.who())
// closures keep the root table that was current when they were created
local newroot = { foo = "other root foo", println = println }
local oldroot = setroottable(newroot)
local madeInNewRoot = compilestring("return function() { return ::foo }")()
setroottable(oldroot)
println(madeInNewRoot())
println(explicitroot())
// getroot / setroot on closures
println(madeInNewRoot.getroot() == newroot)
madeInNewRoot.setroot(getroottable())
println(madeInNewRoot())
// global functions declared inside a function body go to the environment object
function declarer() { function inner() { return "inner" } }
local denv = {}
declarer.call(denv)
println(denv.inner())
// a nested function does not see the locals of the enclosing function unless captured as free variables
function outerfn() { local captured = "captured"; return function() { return captured } }
println(outerfn()())
// a local of an enclosing function wins over a slot of this with the same name
local shadow = "enclosing local"
local holder = { shadow = "slot of this", get = function() { return shadow }, getthis = function() { return this.shadow } }
println(holder.get() + " / " + holder.getthis())
