// Building one long string by += (every step makes a new, longer string) and reading it back.
local s = "";
for (local i = 0; i < 10000; ++i) s += "row " + (i % 1000) + ";";
local sum = 0;
for (local i = 0; i < s.len(); i += 7) sum = (sum + s[i]) % 1000003;
print("checksum: " + s.len() + " " + sum + "\n");
