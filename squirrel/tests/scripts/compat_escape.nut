// escape() gives a literal that reads back as the same string, for strings of every odd kind.
local odd = [
  "", "plain", "\\", "\"", "'", "\\\"'", "\n\r\t\a\b\v\f", "\x0000", "a\x0000b", "\x001f\x007f\x0080\x009f",
  "caf\u00e9", "\u4e2d\u6587", "\ud83d\ude00", "lone \ud800 high", "lone \udfff low", "\uffff\ufffe",
  "\\x41", "end\\", "mixed \"q\" 'a' \\ \t\u00e9\ud83d\ude00 z"
]
local ok = 0
foreach (i, s in odd) {
  local back = compilestring("return \"" + escape(s) + "\"")()
  if (back == s) ok++
  else print("case " + i + " differs\n")
}
print(ok + " of " + odd.len() + "\n")
// the exact form: backslash before \ " ', four hex digits for everything outside printable ASCII
print(escape("a\\b\"c'd") + "\n")
print(escape("\n\t\x0000\u00e9\ud83d\ude00~ ") + "\n")
