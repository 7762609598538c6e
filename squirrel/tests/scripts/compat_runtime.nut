// integers wrap at 32 bits
print((2147483647 + 1) + " " + (0xFFFFFFFF) + " " + (2147483648) + "\n");
print((-7 / 2) + " " + (-7 % 2) + " " + (7 % -2) + "\n");
// single-precision floats print with %g
print(3.0 + " " + 0.1 + " " + (1.0 / 3) + " " + 1e20 + " " + 2.5 + "\n");
print((3.0).tostring() + " " + (10).tofloat() + " " + (3.9).tointeger() + " " + (-3.9).tointeger() + "\n");
// truthiness
print((("" ? "yes" : "no")) + " " + ((0 ? "yes" : "no")) + " " + ((0.0 ? "yes" : "no")) + " " + ((null ? "yes" : "no")) + " " + (([] ? "yes" : "no")) + "\n");
// string indexing yields integers
local s = "AbC";
print(s[0] + " " + typeof s[1] + "\n");
print("0x10".tointeger() + " " + "42".tointeger() + " " + "ff".tointeger(16) + " " + "12.5".tofloat() + " " + "-3".tointeger() + "\n");
try { "abc".tointeger(); } catch (e) { print(e + "\n"); }
// + with strings converts the other side
class T { function _tostring() { return "T!"; } }
print("x" + 1 + " " + 1 + "x" + " " + "v" + T() + " " + (null + "n") + " " + ("b" + true) + " " + ("f" + 1.5) + "\n");
// 16-bit characters
local u = "h\u00e9llo";
print(u.len() + " " + "\x41\x042".len() + "\n");
print("ABC".tolower() + " " + "abc".toupper() + " " + "hello".slice(1, 3) + " " + "hello".slice(-3) + " " + "hello".find("l") + " " + ("hello".find("z") == null) + "\n");
print((65).tochar() + "\n");
// arrays
local a = [5, 3, 8, 1];
a.sort();
print(a[0] + " " + a[3] + "\n");
a.sort(@(x, y) y <=> x);
print(a[0] + " " + a[3] + "\n");
a.reverse();
print(a.top() + " " + a.len() + "\n");
a.insert(0, 99); a.remove(1);
print(a[0] + " " + a.find(8) + " " + (a.find(100) == null) + "\n");
a.resize(6, "z");
print(a[5] + " " + a.len() + "\n");
print(a.slice(1, 3).len() + " " + a.pop() + " " + a.len() + "\n");
local m = [1, 2, 3].map(@(v) v * v);
print(m[2] + " " + [1, 2, 3, 4].filter(@(i, v) v % 2 == 0).len() + " " + [1, 2, 3].reduce(@(p, c) p + c, 10) + "\n");
local ap = [1, 2]; ap.apply(@(v) v + 1);
print(ap[0] + ap[1] + "\n");
print(array(3, 7)[2] + " " + array(2).len() + "\n");
local e = [1]; e.extend([2, 3]); e.push(4);
print(e.len() + "\n");
try { [].pop(); } catch (err) { print(err + "\n"); }
// enum counters and constants are compile time
enum Color { Red, Green = 5, Blue }
print(Color.Red + " " + Color.Green + " " + Color.Blue + "\n");
// clone
local orig = { list = [1] };
local cp = clone orig;
cp.list.append(2);
print(orig.list.len() + "\n");
local arr2 = clone [1, 2];
arr2[0] = 9;
print(arr2[0] + "\n");
print(_version_ + " " + _charsize_ + " " + _intsize_ + " " + _floatsize_ + "\n");
print((1 <=> 2) + " " + ("b" <=> "a") + "\n");
