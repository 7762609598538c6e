// An uncaught overflow reports the ends of the call stack only.
function runaway(n) {
  return 1 + runaway(n + 1)
}
print("before\n")
runaway(0)
