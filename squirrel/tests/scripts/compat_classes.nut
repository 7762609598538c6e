// Classes, cloning and ordering with null as Squirrel 3.2 has them.
function p(x) { print(x + "\n") }
// null orders below every other value, so arrays holding null sort
local a = [3, null, 1, null]
a.sort(function(x, y) { return x <=> y })
p((a[0] == null) + " " + (a[1] == null) + " " + (null < 1) + " " + (null < ""))
p((1 > null) + " " + (null <=> null))
local b = [2, null, 1]
b.sort()
p(b[0] + " " + b[1] + " " + b[2])
// class members are read-only after the class is made: `=` fails, `<-` adds
class C { x = 1; static s = 2 }
try { C.x = 2; p("assigned") } catch (e) p(e)
try { C.s = 3; p("assigned") } catch (e) p(e)
C.y <- 3
p(C.x + " " + C.s + " " + C.y)
// the values clone cannot copy
foreach (v in [1, 1.5, "s", null, true, C, print, @() 0]) {
  try { clone v; p("cloned " + typeof v) } catch (e) p(e)
}
p((clone [1, 2]).len() + " " + (clone { a = 1 }).a + " " + (clone C()).x)
// an instance is iterable only through its class's _nexti
try { foreach (k, v in C()) p(k) } catch (e) p(e)
class R { function _nexti(i) { return i == null ? 0 : (i < 2 ? i + 1 : null) } function _get(i) { return i * 10 } }
foreach (k, v in R()) p(k + " " + v)
