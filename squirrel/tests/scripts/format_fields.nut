// format: a width of two digits at most ("width format too long" from 100), no length modifiers and no %a
// ("invalid format"), and any number of flags.
function p(x) { print(x + "\n") }
function run(f, a) {
  try { local s = format(f, a); return s.len() > 20 ? "length " + s.len() : "[" + s + "]" } catch (e) return e
}
local cases = [
  ["%9d", 1], ["%99d", 1], ["%100d", 1], ["%0100d", 1], ["%999d", 1], ["%-100s", "x"], ["%100.2f", 1.0],
  ["%99.2f", 1.0], ["%.2f", 1.0], ["%-99s", "x"],
  ["%ld", 1], ["%lld", 1], ["%hd", 1], ["%hhd", 1], ["%lu", 1], ["%lx", 1], ["%lf", 1.0], ["%ls", "x"],
  ["%a", 1.0], ["%A", 1.0], ["%5a", 1.0],
  ["%-----5d", 1], ["%------5d", 1], ["%+-+-+-+-5d", 1], ["%  + 0#5x", 255], ["%000000008.3f", 1.5],
  ["%----------------------------------------5s|", "x"],
]
foreach (c in cases) p(c[0] + " " + run(c[0], c[1]))
