// A _tostring that answers another object with a _tostring must end in a catchable error,
// not in unbounded native recursion.
class A { function _tostring() { return A(); } }
try { print("" + A()); } catch (e) print("caught: " + e + "\n");
try { print(A().tostring()); } catch (e) print("caught: " + e + "\n");
// A short chain of objects is still followed to its string.
class B { n = 0; constructor(k) { n = k; } function _tostring() { return n == 0 ? "end" : B(n - 1); } }
print("" + B(5) + "\n");
print("still running\n");
