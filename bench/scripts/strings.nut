// String building and searching.
local total = 0;
for (local i = 0; i < 200000; ++i) {
  local s = "item" + i + ":" + (i % 97);
  total += s.len();
}
local text = "";
for (local i = 0; i < 2000; ++i) text += "line " + i + " alpha beta gamma needle" + (i % 10) + "\n";
local found = 0, possum = 0;
for (local r = 0; r < 20; ++r) {
  local idx = text.find("needle7");
  while (idx != null) {
    ++found;
    possum = (possum + idx) % 1000003;
    idx = text.find("needle7", idx + 1);
  }
}
print("checksum: " + total + " " + text.len() + " " + found + " " + possum + "\n");
