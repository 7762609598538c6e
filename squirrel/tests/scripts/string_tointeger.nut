// tointeger(base): a text holding '.', 'e' or 'E' reads as a float in any base, a base the C library cannot
// use reads as 0, other texts read in the base given (partial reads count) or raise "cannot convert the string".
local texts = ["10", "ff", "FF", "-7", "1e3", "2.5", "-2.9", "hello", "zz", "", " 12", "12abc", "0x1f", "777", "fe", "1E2"]
local bases = [null, 1, 2, 8, 10, 16, 36, 37, 0, -1]
local header = "text    "
foreach (b in bases) header += format("%-9s", b == null ? "none" : b.tostring())
print(header + "\n")
foreach (t in texts) {
  local row = format("%-8s", "\"" + t + "\"")
  foreach (b in bases) {
    local r
    try { r = b == null ? t.tointeger() : t.tointeger(b) } catch (e) r = e == "cannot convert the string" ? "X" : e
    row += format("%-9s", r.tostring())
  }
  print(row + "\n")
}
