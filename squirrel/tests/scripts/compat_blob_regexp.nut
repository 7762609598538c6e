// Blob positions and sizes, regexp captures and compile errors. Positions, sizes and captures are 3.2's; of the
// texts, "letter expected" after a bar, "invalid range" and "expected paren" for "()" are 3.2's as measured, the
// rest ("number expected", "unexpected character", the escape and blob texts, "[ab" and "(ab") are our own
// wording where 3.2's documentation gives none.
function p(x) { print(x + "\n") }
local b = blob(4)
b.seek(2)
p(b.seek(5) + " " + b.tell() + " " + b.seek(-1) + " " + b.tell())
p(b.seek(-3, 'c') + " " + b.seek(1, 'e') + " " + b.tell())
p(b.seek(1, 'c') + " " + b.tell() + " " + b.seek(0, 'e') + " " + b.tell())
// resize sets the capacity: larger keeps len(), smaller cuts it
local r = blob(3)
r[0] = 7
r.resize(10)
p(r.len() + " " + r[0])
try { r[5]; p("read") } catch (e) p(e)
r.seek(0, 'e')
r.writen(9, 'b')
p(r.len() + " " + r[3])
r.resize(2)
p(r.len() + " " + r.tell())
try { blob(-1) } catch (e) p(e)
// an optional group that took no part reports 0 for both ends
local re = regexp(@"(a)?(b)")
foreach (c in re.capture("xb")) p(c.begin + " " + c.end)
// a leading * stands for itself
p(regexp(@"*a").match("*a") + " " + regexp(@"*a").match("a"))
// compile errors
foreach (pat in [@"a{", @"a{x}", @"[ab", @"(ab", @")", @"ab)", @"a\"]) {
  try { regexp(pat); p(pat + " compiled") } catch (e) p(pat + " " + e)
}
