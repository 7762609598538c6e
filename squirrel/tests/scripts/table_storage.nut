// Tables keep up to four slots inside themselves and move to a separate block when they grow: every size
// across that boundary must keep its slots through inserts, deletes, reinserts, clear, clone and walks.
local report = [];
for (local n = 0; n <= 12; ++n) {
  local t = {};
  for (local i = 0; i < n; ++i) t["k" + i] <- i;
  local sum = 0;
  foreach (k, v in t) sum += v;
  for (local i = 0; i < n; i += 2) delete t["k" + i];
  local kept = t.len();
  for (local i = 0; i < n; i += 2) t[i] <- i * 10;
  local c = clone t;
  local csum = 0;
  foreach (k, v in c) csum += v;
  t.clear();
  t.after <- n;
  report.append(n + ":" + sum + "/" + kept + "/" + c.len() + "/" + csum + "/" + t.len() + "/" + t.after);
}
print(report.reduce(@(a, b) a + " " + b) + "\n");
// Values held by a table are released by a clear and by the table's end, small and large alike.
class Counted {}
foreach (n in [3, 4, 5, 40]) {
  local t = {}, weak = [];
  for (local i = 0; i < n; ++i) {
    local c = Counted();
    weak.append(c.weakref());
    t[i] <- c;
  }
  local before = weak.filter(@(i, w) w.ref() != null).len();
  t.clear();
  local afterClear = weak.filter(@(i, w) w.ref() != null).len();
  for (local i = 0; i < n; ++i) {
    local c = Counted();
    weak.append(c.weakref());
    t[i] <- c;
  }
  t = null;
  print(n + ": " + before + " " + afterClear + " " + weak.filter(@(i, w) w.ref() != null).len() + "\n");
}
// Small tables in cycles are collected; a delegate chain of small tables still answers.
local probe = null;
for (local i = 0; i < 1000; ++i) {
  local a = {}, b = { peer = a };
  a.peer <- b;
  if (i == 999) probe = a.weakref();
}
collectgarbage();
print((probe.ref() == null) + "\n");
local root = { greet = "hi" };
local mid = {}.setdelegate(root);
local top = { own = 1 }.setdelegate(mid);
print(top.greet + " " + top.own + " " + ("greet" in top) + "\n");
