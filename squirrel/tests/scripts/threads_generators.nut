function gen(n) { for (local i = 0; i < n; i++) yield i * 10; return "done"; }
local g = gen(3);
print(g.getstatus() + "\n");
print(resume g + " " + resume g + " " + resume g + "\n");
print(resume g + " " + g.getstatus() + "\n");
try { resume g; } catch (e) { print(e + "\n"); }
foreach (i, v in gen(4)) print(i + ":" + v + " ");
print("\n");
// generator with try/catch inside
function gtry() {
  try { yield 1; throw "boom"; } catch (e) { yield "caught " + e; }
  yield 3;
}
foreach (v in gtry()) print(v + " ");
print("\n");
// coroutines
function worker(a, b) {
  print("start " + a + " " + b + "\n");
  local got = suspend(a + b);
  print("woke with " + got + "\n");
  got = suspend(got * 2);
  return "finished " + got;
}
local t = newthread(worker);
print(t.getstatus() + "\n");
local r = t.call(1, 2);
print("suspended with " + r + " " + t.getstatus() + "\n");
r = t.wakeup(5);
print("suspended with " + r + "\n");
r = t.wakeup("last");
print(r + " " + t.getstatus() + "\n");
// closure root binding across threads
::rootname <- "main";
local th = newthread(function() { return ::rootname; });
print(th.call() + "\n");
// errors inside threads propagate
local bad = newthread(function() { throw "thread error"; });
try { bad.call(); } catch (e) { print("caught: " + e + "\n"); }
// wakeupthrow
local wt = newthread(function() {
  try { suspend("waiting"); } catch (e) { return "got " + e; }
  return "no throw";
});
print(wt.call() + "\n");
print(wt.wakeupthrow("injected") + "\n");
// generator as closure capturing
local total = 0;
function acc() { for (local i = 1; i <= 4; i++) { total += i; yield total; } }
foreach (x in acc()) ;
print(total + "\n");
