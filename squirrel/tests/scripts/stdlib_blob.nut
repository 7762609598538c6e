// Blob library: a binary record written, read back, patched byte by byte and iterated.
local b = blob();
b.writen('R', 'b');
b.writen(0x0102, 'w');
b.writen(-7, 'i');
b.writen(2.5, 'f');
b.writen(-0.125, 'd');
print("len " + b.len() + " tell " + b.tell() + " eos " + (b.eos() != null) + "\n");
b.seek(0);
print(b.readn('b').tochar() + " " + b.readn('w') + " " + b.readn('i') + " " + b.readn('f') + " " + b.readn('d') + "\n");
b.seek(1);
print(format("bytes %02x %02x\n", b[1], b[2]));
b[1] = 0xFF;
b.seek(1);
print("patched " + b.readn('w') + " signed " + (b.seek(1), b.readn('s')) + "\n");
b.seek(-4, 'e');
local tail = b.readblob(100);
print("tail " + tail.len() + " " + typeof tail + "\n");
local sum = 0;
foreach (i, x in b) sum += i * x;
print("weighted " + sum + "\n");
local c = clone b;
c.resize(3);
print("clone " + c.len() + " original " + b.len() + "\n");
local d = blob(4);
d.writeblob(c);
print("write " + d.len() + " " + d.tell() + "\n");
foreach (bad in [@() b.seek(-1), @() b.readn('x'), @() b[99], @() blob(-3), @() b.seek(0, 'q')]) {
  try { bad(); } catch (e) { print("error: " + e + "\n"); }
}
print(castf2i(-2.0) + " " + casti2f(0x3F000000) + " " + format("%x", swap4(0xAABBCCDD)) + " " + swap2(0x0180) + "\n");
