// slice, toupper and tolower ranges on strings and arrays: negative indexes count from the end, then a reversed
// range is "wrong indexes" and one past either end "slice out of range". Each cell of a grid is the slice's
// length, W for "wrong indexes" or R for "slice out of range"; a row is one start, a column one end.
function p(x) { print(x + "\n") }
function cell(f) {
  try { return f() } catch (e) {
    if (e == "wrong indexes") return "W"
    if (e == "slice out of range") return "R"
    return "<" + e + ">"
  }
}
foreach (len in [0, 1, 4]) {
  local arr = array(len, 0), str = "abcd".slice(0, len)
  p("length " + len + ": columns end -" + (len + 2) + " .. " + (len + 2) + ", then none")
  for (local s = -len - 2; s <= len + 2; s++) {
    local row = "", same = true
    for (local e = -len - 2; e <= len + 3; e++) {
      local bounded = e <= len + 2
      local a = cell(@() bounded ? arr.slice(s, e).len() : arr.slice(s).len())
      local b = cell(@() bounded ? str.slice(s, e).len() : str.slice(s).len())
      local u = cell(@() bounded ? str.toupper(s, e).len() : str.toupper(s).len())
      local l = cell(@() bounded ? str.tolower(s, e).len() : str.tolower(s).len())
      // toupper and tolower keep the whole text: its length where the slice has one
      if (a != b || (typeof b == "integer" ? u != len || l != len : u != b || l != b)) same = false
      row += a
    }
    p(format("%3d ", s) + row + (same ? "" : " (arrays and strings differ)"))
  }
}
// slice needs its start; neither index may be null
foreach (f in [@() [1, 2].slice(), @() "ab".slice(), @() [1, 2].slice(0, null), @() "ab".slice(0, null),
               @() [1, 2].slice(null), @() "ab".toupper(0, null)])
  p(cell(f))
// the range changes case, the rest is kept
local cases = [["hello", 1, 3], ["hello", 2, null], ["hello", -2, null], ["hello", 0, -1], ["HeLLo", 1, 4], ["", 0, 0]]
foreach (c in cases) {
  local up = c[2] == null ? c[0].toupper(c[1]) : c[0].toupper(c[1], c[2])
  local down = c[2] == null ? c[0].toupper().tolower(c[1]) : c[0].toupper().tolower(c[1], c[2])
  p(c[0] + " " + c[1] + " " + c[2] + ": " + up + " " + down)
}
p("hello".toupper() + " " + "HELLO".tolower())
