// Error texts a script can catch (one case each). The slice and instanceof texts are 3.2's words as 3.2 was
// measured to print them; the others (argument counts, member assignment, new slots, delete, clone, resize,
// rawget, foreach, split) are our own wording where 3.2's documentation gives none, and a case says so where the
// words are ours on purpose.
function check(f) { try { f(); print("no error\n") } catch (e) print(e + "\n") }
function two(a, b) {}
function withDefault(a, b = 1) {}
class Pair { constructor(a, b) {} }
class Point { x = 0 }
// wrong argument count: script functions, constructors, acall (counts include this)
check(@() two(1))
check(@() two(1, 2, 3))
check(@() withDefault())
check(@() Pair(1))
check(@() two.acall([this]))
// a missing expression at the end of a compiled string: the compiler's words are our own, as squirrel/README.md
// declares
check(@() compilestring("return 1 +"))
check(@() compilestring("local x ="))
// assigning to a class member after creation
check(function() { Point.x = 1 })
// <- with a string key on an array or an integer
check(function() { local a = []; a["k"] <- 1 })
check(function() { local i = 5; i["k"] <- 1 })
// instanceof with something that is not a class
check(@() {} instanceof {})
check(@() 1 instanceof [])
// delete on an instance
check(function() { local pt = Point(); delete pt.x })
// clone of a value that cannot be cloned
check(@() clone 1)
check(@() clone "s")
// a negative resize; slices out of range, and reversed ones (asked first)
check(@() [1].resize(-1))
check(@() [1, 2].slice(1, 5))
check(@() "ab".slice(-3))
check(@() [1, 2].slice(1, 0))
check(@() "ab".slice(3))
// rawget of a missing key
check(@() {}.rawget("k"))
// foreach over an instance without _nexti
check(function() { foreach (k in Point()) {} })
// split with an empty separator
check(@() split("a", ""))
