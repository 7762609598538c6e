// Table inserts, lookups and deletes with string and integer keys.
local t = {};
local N = 200000;
for (local i = 0; i < N; ++i) { t["k" + i] <- i; t[i] <- i * 2; }
local sum = 0;
for (local r = 0; r < 3; ++r)
  for (local i = 0; i < N; ++i) sum = (sum + t["k" + i] + t[i]) % 1000000007;
for (local i = 0; i < N; i += 2) { delete t["k" + i]; delete t[i]; }
local count = 0;
foreach (k, v in t) ++count;
print("checksum: " + sum + " " + count + "\n");
