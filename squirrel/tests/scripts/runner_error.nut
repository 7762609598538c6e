function inner(x) {
  return x.missing;
}
function outer() {
  local r = inner({}); return r;  // not a tail call, so outer() stays on the call stack
}
print("before\n");
outer();
print("not reached\n");
