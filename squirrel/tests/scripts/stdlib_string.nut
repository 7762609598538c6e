// String library: format and printf, stripping, splitting, escaping, prefixes and suffixes.
print(format("%s %d 0x%02X\n", "this is a test :", 123, 10));
printf("[%5s][%-5s][%.2s][%05.1f][%+d][%c]\n", "ab", "cd", "xyz", 3.14159, 7, 65);
print(format("%g %g %g %e\n", 3.0, 0.5, 1e20, 12345.678));
print(format("%o %x %X %u\n", 64, -1, 48879, -2));
foreach (args in [["%s", 1], ["%d", "x"], ["%f", null], ["%d %d", 1], ["%*d", 1, 2], ["%y", 1]]) {
  try { format.acall([this].extend(args)); } catch (e) { print("format error: " + e + "\n"); }
}
print("[" + strip("  \t padded \n ") + "][" + lstrip("  left ") + "][" + rstrip(" right  ") + "]\n");
local parts = split("1.2-3;4/5", ".-/;");
print(parts.len() + ":" + parts.reduce(@(a, b) a + "," + b) + "\n");
print(split("a,,b", ",").len() + " " + split("", ",").len() + "\n");
print(escape("tab\tquote\"apos'back\\nl\nnul\x0000ctl\x01") + "\n");
print(startswith("prefix-body", "prefix") + " " + startswith("pre", "prefix") + " " +
      endswith("body.nut", ".nut") + " " + endswith("nut", "body.nut") + "\n");
print(format("%s|%3s|%-3s|", "\u4e2d", "\u00e9", "\u00e9") + " " + format("%c", 0x4e2d).len() + "\n");
