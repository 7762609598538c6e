// Deep recursion is bounded by memory, not by a count of frames; overflowing leaves the VM usable.
function deep(n) { return n == 0 ? 0 : 1 + deep(n - 1) }
print(deep(1000000) + "\n")
function runaway(n) { return 1 + runaway(n + 1) }
try { runaway(0) } catch (e) print(e + "\n")
print(deep(10) + "\n")
try { runaway(0) } catch (e) print(e + "\n")
print(deep(1000000) + "\n")
