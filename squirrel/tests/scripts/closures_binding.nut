// closures capture variables by reference
function counter() {
  local n = 0;
  return { inc = function() { n++; return n; }, get = function() { return n; } };
}
local c = counter();
c.inc(); c.inc();
print(c.get() + "\n");
local fns = [];
for (local i = 0; i < 3; i++) { local j = i; fns.append(function() { return j; }); }
foreach (f in fns) print(f() + " ");
print("\n");
local x = 1;
local g = function() { return x; };
x = 42;
print(g() + "\n");
// closures keep the root table current when they were made
::who <- "main root";
local saved = function() { return ::who; };
local other = { who = "other root", print = print };
local oldroot = setroottable(other);
local made = compilestring("return function() { return ::who; }")();
setroottable(oldroot);
print(saved() + "\n");
print(made() + "\n");
// local function is not visible in its own body
local function fact(n) { return n <= 1 ? 1 : n * fact(n - 1); }
try { fact(3); } catch (e) { print(e + "\n"); }
function gfact(n) { return n <= 1 ? 1 : n * gfact(n - 1); }
print(gfact(5) + "\n");
// unknown global assignment
try { undefined_global = 5; } catch (e) { print(e + "\n"); }
// bindenv
local env = { val = "bound" };
local fb = (function() { return this.val; }).bindenv(env);
print(fb() + "\n");
// call / pcall / acall
function add3(a, b, c) { return a + b + c + (this == env ? " env" : ""); }
print(add3.call(env, 1, 2, 3) + "\n");
print(add3.acall([env, "a", "b", "c"]) + "\n");
// default params and varargs
function dp(a, b = 10, ...) { return a + b + vargv.len(); }
print(dp(1) + " " + dp(1, 2) + " " + dp(1, 2, 3, 4) + "\n");
try { dp(); } catch (e) { print(e + "\n"); }
function fixed(a) { return a; }
try { fixed(1, 2); } catch (e) { print(e + "\n"); }
// lambdas and free variables
local k = 3;
local mul = @(v) v * k;
print([1, 2, 3].map(mul).reduce(@(a, b) a + b) + "\n");
print(callee != null);
print("\n");
local infos = dp.getinfos();
print(infos.name + " " + infos.parameters.len() + " " + infos.varargs + "\n");
