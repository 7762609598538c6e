// Functions: defaults, varargs, closures by reference, local functions, lambdas, environments.
function p(x) { print(x + "\n") }

function add(a, b = 10, c = 100) { return a + b + c }
p(add(1))
p(add(1, 2))
p(add(1, 2, 3))

function va(a, ...) {
  local s = "" + a + ":" + vargv.len()
  foreach (v in vargv) s += " " + v
  return s
}
p(va(1))
p(va(1, 2, 3))

try { add() } catch (e) { p(e) }
try { add(1, 2, 3, 4) } catch (e) { p(e) }

// default expressions are evaluated when the function is created
local baseVal = 5
local withDefault = function(x = baseVal * 2) { return x }
baseVal = 100
p(withDefault())

// closures capture variables, not values
function counter() {
  local n = 0
  return { inc = function() { n++; return n }, get = @() n }
}
local c1 = counter()
local c2 = counter()
c1.inc(); c1.inc()
c2.inc()
p(c1.get() + " " + c2.get())

local shared = 1
local readShared = @() shared
shared = 42
p(readShared())
local writeShared = function() { shared = 7 }
writeShared()
p(shared)

// each iteration's block local is a fresh variable
local fns = []
for (local i = 0; i < 3; i++) {
  local j = i
  fns.append(@() j)
}
local s = ""
foreach (f in fns) s += f()
p(s)

// nested capture through two levels
function outer() {
  local x = "outer x"
  return function() {
    return function() { return x }
  }
}
p(outer()()())

// `local function` is not visible in its own body
fact <- function(n) { return 1000 }
local function fact(n) { return n <= 1 ? 1 : n * fact(n - 1) }
p(fact(5))

function rec(n) { return n <= 1 ? 1 : n * rec(n - 1) }
p(rec(10))

// lambdas
local sq = @(x) x * x
p(sq(9))
local arr = [3, 1, 2]
arr.sort(@(a, b) b <=> a)
p(arr[0] + "" + arr[1] + arr[2])

// environment object
local obj = { name = "obj", who = function() { return this.name } }
p(obj.who())
name <- "root"
local who = obj.who
p(who())
local other = { name = "other" }
p(who.bindenv(other)())
p(rawcall(obj.who, other))
local bound = function[other]() { return name }
p(bound())
local boundDefaults = function[other](a = 1, b = "!") { return name + a + b }
p(boundDefaults())
p(boundDefaults(2, "?"))

// function statement sugar into a table
T <- {}
function T::hello(n) { return "hello " + n }
p(T.hello("t"))

// call through `this` inside a table method
local calc = {
  v = 2
  function dbl() { return v * 2 }
  function quad() { return dbl() * 2 }
}
p(calc.quad())

// tail-position recursion depth
function loopy(n) { if (n > 0) return loopy(n - 1); return "done" }
p(loopy(10000))

// post-call initializer
function mk() { return { x = 0, y = 0 } }
local m = mk() { x = 3, y = 4 }
p(m.x + m.y)

p(typeof add)
p(typeof print)
