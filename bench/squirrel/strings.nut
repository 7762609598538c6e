local total = 0;
for (local r = 0; r < 20; r++) {
  local parts = [];
  for (local i = 0; i < 2000; i++) parts.append((i % 10).tostring());
  local s = "";
  foreach (p in parts) s += p;
  local n = 0, p = 0;
  while ((p = s.find("78", p)) != null) { n++; p++; }
  total += n + s.len() + s.slice(10, 20).len();
}
print("checksum " + total + "\n");
