// Class instantiation, method calls and an arithmetic metamethod.
class Vec {
  x = 0;
  y = 0;
  constructor(ax, ay) { x = ax; y = ay; }
  function dot(o) { return x * o.x + y * o.y; }
  function _add(o) { return Vec(x + o.x, y + o.y); }
}
local acc = Vec(0, 0);
local d = 0;
for (local i = 0; i < 300000; ++i) {
  local v = Vec(i % 7, i % 11);
  acc = acc + v;
  d = (d + acc.dot(v)) % 1000003;
}
print("checksum: " + acc.x + " " + acc.y + " " + d + "\n");
