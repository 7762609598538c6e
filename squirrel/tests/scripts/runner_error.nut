function inner(x) {
  return x.missing;
}
function outer() {
  return inner({});
}
print("before\n");
outer();
print("not reached\n");
