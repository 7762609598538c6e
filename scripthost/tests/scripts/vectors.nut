// Vector1D to Vector4D from a script: members, operators, components by name, clones and misuse.
function attempt(what, f) {
  try { local r = f(); print(what + ": " + r + "\n"); } catch (e) { print(what + ": error " + e + "\n"); }
}
local V1 = Engine.Vector1D, V2 = Engine.Vector2D, V3 = Engine.Vector3D, V4 = Engine.Vector4D;

attempt("length of (3, 4)", @() V2(3, 4).GetLength());
local c = V3(0, 0, 0);
c.SetCrossProduct(V3(1, 0, 0), V3(0, 1, 0));
print("cross: " + c + "\n");
c.SetCrossProduct(V4(0, 1, 0, 9), V4(1, 0, 0, 9));
print("cross of Vector4D operands: " + c + "\n");
attempt("(1, 2) * 2", @() V2(1, 2) * 2);
attempt("(6, 8) / (2, 4)", @() V2(6, 8) / V2(2, 4));
attempt("(1, 2, 3) + (4, 5, 6)", @() V3(1, 2, 3) + V3(4, 5, 6));
attempt("(1, 2, 3, 4) - (4, 3, 2, 1)", @() V4(1, 2, 3, 4) - V4(4, 3, 2, 1));
attempt("(1, 2) * (3, 4)", @() V2(1, 2) * V2(3, 4));
attempt("dot", @() V4(1, 2, 3, 4).GetDotProduct(V4(5, 6, 7, 8)));
attempt("(1.5, 2)", @() V2(1.5, 2).tostring() + " " + typeof V2(1.5, 2).tostring());
attempt("Vector1D(1) / 0", @() V1(1) / 0);
local n = V3(0, 0, 0);
n.SetNormalise(V3(0, 3, 4));
print("normalised: " + n + "\n");
n.SetNormalise(V3(0, 0, 0));
print("normalised zero: " + n + "\n");

local v = V2(1, 2);
attempt("v.X", @() v.X);
attempt("v.x", @() v.x);
attempt("v.Z of a Vector2D", @() v.Z);
attempt("v[0]", @() v[0]);
v.Y = 7;
print("after v.Y = 7: " + v + "\n");
attempt("v.Y = \"a\"", function() { v.Y = "a"; });
attempt("v.Q = 1", function() { v.Q = 1; });
local w = clone v;
w.X = 100;
print("clone independent: " + v + " " + w + " " + typeof w + "\n");
attempt("fewer than N values", @() V3(1, 2));
attempt("Vector4D with a string", @() V4(1, 2, 3, "s"));
attempt("Vector3D with a string", @() V3(1, 2, "s"));
attempt("types", @() typeof V1(1) + " " + typeof V2(1, 2) + " " + typeof V3(1, 2, 3) + " " + typeof V4(1, 2, 3, 4));
attempt("Vector4D is a Vector3D", @() V4(1, 2, 3, 4) instanceof V3);
attempt("dot of a Vector2D with a Vector3D", @() V3(1, 2, 3).GetDotProduct(V2(1, 2)));
attempt("dot of a Vector3D with a Vector4D", @() V3(1, 2, 3).GetDotProduct(V4(1, 2, 3, 4)));
attempt("add a number", @() V2(1, 2) + 1);
attempt("add a matrix", @() V2(1, 2) + Engine.Matrix4x4());
attempt("derived class", @() compilestring("class D extends Engine.Vector3D {}")());
attempt("instance() without object", @() V2.instance().GetLength());
attempt("constructor again", @() v.constructor(5, 6));
