// Matrix4x4 from a script: the Part's examples, rows as live vectors, aliasing, refusals and clones.
function attempt(what, f) {
  try { local r = f(); print(what + ": " + r + "\n"); } catch (e) { print(what + ": error " + e + "\n"); }
}
function rounded(v) { return format("(%.4f, %.4f, %.4f)", v.X, v.Y, v.Z); }
local M = Engine.Matrix4x4, V3 = Engine.Vector3D, V4 = Engine.Vector4D;

local t = M(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1);
attempt("TransformCoordinate", @() t.TransformCoordinate(V3(1, 2, 3)));
attempt("TransformNormal", @() t.TransformNormal(V3(1, 2, 3)));
attempt("TransformCoordinate of a Vector4D", @() t.TransformCoordinate(V4(1, 2, 3, 99)));
local r = M();
r.SetRotateZ(PI / 2);
attempt("rotate Z by pi/2", @() rounded(r.TransformNormal(V3(1, 0, 0))));
r.SetRotateX(PI / 2);
attempt("rotate X by pi/2", @() rounded(r.TransformNormal(V3(0, 1, 0))));
r.SetRotateY(PI / 2);
attempt("rotate Y by pi/2", @() rounded(r.TransformNormal(V3(0, 0, 1))));
attempt("inverse of the identity", @() M().SetInverse(M()));
attempt("inverse of diag(2, 2, 2, 1)", @() M().SetInverse(M(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1)));
local s = M();
attempt("inverse of a singular matrix", @() s.SetInverse(M(1, 2, 3, 4, 2, 4, 6, 8, 0, 0, 1, 0, 0, 0, 0, 1)));
print("its elements: " + s + "\n");
attempt("identity", @() M());
attempt("fewer than sixteen numbers", @() M(9, 9, 9));

local m = M();
m.X.X = 5;
print("after m.X.X = 5: " + m + "\n");
m.SetTranslate(V3(1, 2, 3));
attempt("m.Pos", @() m.Pos);
attempt("m.W", @() m.W);
attempt("m.x", @() m.x);
attempt("m[0]", @() m[0]);
m.Y = V4(9, 8, 7, 6);
print("after m.Y = (9, 8, 7, 6): " + m.Y + "\n");
attempt("m.Z = null", function() { m.Z = null; });
attempt("m.Z = a Vector3D", function() { m.Z = V3(1, 2, 3); });
attempt("m.Q = a Vector4D", function() { m.Q = V4(1, 2, 3, 4); });
m.X = m.X;
print("m.X = m.X keeps it: " + m.X + "\n");

local a = M(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
local product = a * a;
local alias = clone a;
alias.SetMultiply(alias, alias);
print("a x a: " + product + "\n");
print("in place equals: " + (alias.tostring() == product.tostring()) + "\n");
local b = M(2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 8, 0, 1, 2, 3, 1);
local inverse = M();
inverse.SetInverse(b);
local self = clone b;
attempt("SetInverse of this", @() self.SetInverse(self));
print("in place equals: " + (self.tostring() == inverse.tostring()) + "\n");
print("b x inverse: " + (b * inverse) + "\n");

local row = M(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16).Z;
collectgarbage();
print("a row outlives its matrix: " + row + "\n");
local source = M();
local copy = clone source;
copy.SetScale(V3(2, 3, 4));
print("clone independent: " + source.X + " " + copy + " " + typeof copy + "\n");
local ortho = M();
ortho.SetOrthoOffCentreRH(0, 640, 480, 0, 0, 1);
print("ortho: " + ortho + "\n");
local p = M();
p.SetPerspectiveFOVLH(PI / 2, 2, 1, 3);
print("perspective LH: " + p + "\n");
p.SetPerspectiveFOVRH(PI / 2, 2, 1, 3);
print("perspective RH: " + p + "\n");
local view = M();
view.SetLookAtLH(V3(0, 0, -5), V3(0, 0, 0), V3(0, 1, 0));
print("look-at LH: " + view + "\n");
view.SetLookAtRH(V3(0, 0, 5), V3(0, 0, 0), V3(0, 1, 0));
print("look-at RH: " + view + "\n");
// A skewed view: every axis off the coordinate axes, up neither unit nor square to the view.
view.SetLookAtLH(V3(1, 2, 3), V3(3, 3, 5), V3(0, 3, 3));
print("skewed look-at LH: " + view + "\n");
view.SetLookAtRH(V3(1, 2, 3), V3(3, 3, 5), V3(0, 3, 3));
print("skewed look-at RH: " + view + "\n");
view.SetLookAtLH(V3(1, 1, 1), V3(1, 1, 1), V3(0, 1, 0));
print("eye = at: " + view.X + "\n");
attempt("a Vector2D for a Vector3D", @() m.SetTranslate(Engine.Vector2D(1, 2)));
attempt("a vector for a matrix", @() m.SetMultiply(m, V4(1, 2, 3, 4)));
attempt("instance() without object", @() M.instance().SetIdentity());
attempt("constructor again", @() m.constructor());
attempt("derived class", @() compilestring("class D extends Engine.Matrix4x4 {}")());
attempt("typeof", @() typeof m);
