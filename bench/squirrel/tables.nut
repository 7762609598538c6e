local t = {};
local s = 0;
for (local r = 0; r < 20; r++) {
  for (local i = 0; i < 5000; i++) { t["k" + i] <- i; t[i] <- i; }
  for (local i = 0; i < 5000; i++) s += t["k" + i] + t[i];
  for (local i = 0; i < 5000; i++) { delete t[i]; delete t["k" + i]; }
}
print("checksum " + (s + t.len()) + "\n");
