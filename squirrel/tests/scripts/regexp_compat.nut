// Regular expressions where scripts can tell one implementation from another: a repeated group reports its
// first pass, a search from the end or past it and a search of an empty text find nothing, and three patterns
// that are refused.
function p(x) { print(x + "\n") }
function spans(c) {
  if (c == null) return "null"
  local s = ""
  foreach (i, r in c) s += (i ? " " : "") + r.begin + "-" + r.end
  return s
}
// captures of repeated groups, greedy and bounded, nested, with alternatives
local captures = [
  [@"(\d)+", "123"], [@"(\d)*", "123"], [@"(\d){2}", "123"], [@"(\d){1,3}x", "12x"], [@"((\d)\d)+", "1234"],
  [@"(a|b)+c", "abbac"], [@"x(\w)+", "xyz"], [@"(\d)+-(\d)+", "12-345"], [@"(?:(a)|(b))+", "ab"], [@"(\d)", "7"],
]
foreach (c in captures) p(c[0] + " on " + c[1] + ": " + spans(regexp(c[0]).capture(c[1])))
// a start at, past or before the end; each pattern also matches the empty text
local texts = ["", "a", "abc"]
foreach (pat in ["a*", "x*", "$", "^", "a"]) {
  local re = regexp(pat), row = pat + ":"
  foreach (t in texts) {
    row += " match(\"" + t + "\") " + re.match(t)
    for (local start = 0; start <= t.len() + 2; start++) {
      local m = re.search(t, start)
      row += " " + start + "=" + (m ? m.begin + "-" + m.end : "null")
      if ((m == null) != (re.capture(t, start) == null)) row += "(capture differs)"
    }
  }
  p(row)
}
try { regexp("a").search("abc", -1) } catch (e) p("-1: " + e)
// refused patterns; their neighbours still compile
foreach (pat in ["a|", "a||b", "(a|)", "|", "[a-]", "[ab-]", "[a-", "[-a]", "[a\\-]", "()", "(?:)", "(()a)", "(a", "(?:a", "((a)",
                 "(a)", "a|b", "[z-a]"]) {
  try { regexp(pat); p(pat + " compiles") } catch (e) p(pat + " " + e)
}
