// Library functions as Squirrel 3.2 documents them: split, table.map, rawget, string indexing and find, number parsing.
function p(x) { print(x + "\n") }
function show(a) { local s = a.len() + ":"; foreach (x in a) s += "[" + x + "]"; return s }
// split: no trailing empty piece, the optional skipempty argument
p(show(split("a;b;", ";")))
p(show(split("", ";")))
p(show(split(";", ";")))
p(show(split(";;", ";")))
p(show(split("a;;b", ";")))
p(show(split("a;;b;", ";", true)))
p(show(split(";a,b;;c", ";,", true)))
p(show(split("abc", ";", false)))
// table.map calls f(key, value) and answers an array
local t = { a = 1 }
local m = t.map(function(k, v) { return k + "=" + v })
p(typeof m + " " + show(m))
p({}.map(@(k, v) v).len())
// rawget of a missing key raises; rawget of a present one answers it
try { t.rawget("missing"); p("no error") } catch (e) p(e)
p(t.rawget("a"))
// strings index from the end
local s = "abc"
p(s[-1] + " " + s[-3] + " " + s[0])
try { s[-4]; p("no error") } catch (e) p(e)
// find with a start past the end or negative answers null
p(s.find("a", 5) + " " + s.find("a", -1) + " " + s.find("c", 3) + " " + s.find("c", 2))
// decimal text beyond 32 bits saturates
p("99999999999".tointeger() + " " + "-99999999999".tointeger() + " " + "2147483648".tointeger())
p("2147483647".tointeger() + " " + "-2147483648".tointeger() + " " + "123".tointeger())
// an anonymous function has no name
p((function() {}).getinfos().name + " " + (@(x) x).getinfos().name)
function named() {}
p(named.getinfos().name)
