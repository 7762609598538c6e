local events = [];
function f(a) {
  return a + 1;
}
setdebughook(function(type, src, line, name) { events.append(type.tochar() + name + line); });
f(1);
setdebughook(null);
foreach (e in events) print(e + " ");
print("\n");
