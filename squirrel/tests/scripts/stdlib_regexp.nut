// The regexp class: search, match, capture and the documented constructs.
local ex = regexp(@"(\d+) ([a-zA-Z]+)(\p)");
local string = "stuff 123 Test;";
local res = ex.capture(string);
foreach (i, val in res) print(format("match number[%02d] %s\n", i, string.slice(val.begin, val.end)));
local m = regexp("[a-zA-Z]+").search("123 Test;");
print("search " + m.begin + " " + m.end + "\n");
print("from 3: " + regexp(@"\d").search("1a2b3c", 3).begin + "\n");
local tests = [
  [@"^\w+@\w+\.(com|org)$", "someone@example.org"],
  [@"^\w+@\w+\.(com|org)$", "someone@example.net"],
  [@"a{2,3}", "aaa"],
  [@"a{2,3}", "aaaa"],
  [@"(?:ab)*c", "ababc"],
  [@"[^\s]+", "no spaces"],
  [@"\bword\b", "word"],
  [@"x|y|z?", ""],
];
foreach (t in tests) print(t[0] + " ~ \"" + t[1] + "\" : " + regexp(t[0]).match(t[1]) + "\n");
local words = [], text = "one, two;three  four", pos = 0, word = regexp(@"\a+");
while (pos < text.len()) {
  local r = word.search(text, pos);
  if (!r) break;
  words.append(text.slice(r.begin, r.end));
  pos = r.end;
}
print(words.len() + " words: " + words.reduce(@(a, b) a + "/" + b) + "\n");
local opt = regexp(@"(a)|(b)").capture("b");
print("unmatched group " + opt[1].begin + " " + opt[1].end + ", matched " + opt[2].begin + "\n");
print(typeof ex + " " + ex.subexpcount() + " " + (regexp("z").capture("abc") == null) + "\n");
foreach (bad in ["(open", "close)", "[class", "*", "a{2,1}"]) {
  try { regexp(bad); print(bad + " compiled\n"); } catch (e) { print(bad + " : " + e + "\n"); }
}
