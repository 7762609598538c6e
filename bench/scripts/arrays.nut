// Array sort with and without a comparator; map, filter and reduce.
local N = 100000;
local a = array(N);
local x = 12345;
for (local i = 0; i < N; ++i) { x = (x * 75 + 74) % 65537; a[i] = x; }
local b = clone a;
b.sort();
local c = clone a;
c.sort(function(p, q) { return q <=> p; });
local m = a.map(function(v) { return v * 2; });
local f = m.filter(function(i, v) { return v % 3 == 0; });
local r = f.reduce(function(acc, v) { return (acc + v) % 1000003; });
print("checksum: " + b[0] + " " + b[N - 1] + " " + b[N / 2] + " " + c[0] + " " + c[N / 2] + " " + f.len() + " " + r + "\n");
