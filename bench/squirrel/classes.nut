class V {
  x = 0;
  constructor(a) { x = a; }
  function _add(o) { return V(x + o.x); }
  function get() { return x; }
}
local acc = V(0);
for (local i = 0; i < 200000; i++) acc = acc + V(i % 100);
print("checksum " + acc.get() + "\n");
