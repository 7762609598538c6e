// The script class Matrix4x4: its natives over tMatrix4x4<float> and its four row views.
#include <cstdio>
#include <iterator>
#include <string_view>

#include <scripthost/ScriptClasses.h>

#include "NativeHelpers.h"

using namespace natives;

namespace {

constexpr std::uint32_t kElements = Matrix4::kElements;
constexpr std::uint32_t kRows = Matrix4::kRows;
constexpr std::uint32_t kAxes = 3;
constexpr std::uint32_t kWRow = 3;
// _tostring's buffer, in characters.
constexpr std::size_t kTextCapacity = 512;
constexpr const SQChar* kMatrixName = u"Matrix4x4";

using tMatrixValue = tSquirrelReferenceableValue<Matrix4>;

SQRESULT MatrixAt(HSQUIRRELVM v, SQInteger index, Matrix4** out) {
  tMatrixValue* object = nullptr;
  if (SQ_FAILED(Object(v, index, ScriptClass::Matrix4x4, &object))) return SQ_ERROR;
  *out = object->GetValue();
  return SQ_OK;
}

// A vector parameter checked against the class that the native asks for.
SQRESULT VectorAt(HSQUIRRELVM v, SQInteger index, ScriptClass which, float** out) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(Object(v, index, which, &object))) return SQ_ERROR;
  *out = VectorComponents(HostOf(v), object);
  return *out != nullptr ? SQ_OK : sq_throwerror(v, u"invalid type tag");
}

tScriptMatrix4x4* NewMatrix(HSQUIRRELVM v) {
  return new tScriptMatrix4x4(BindingOf(v, ScriptClass::Matrix4x4), BindingOf(v, ScriptClass::Vector4D));
}

// The numbers after this, count of them.
SQRESULT Numbers(HSQUIRRELVM v, float* out, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!Number(v, kFirstArgument + SQInteger(i), &out[i])) return sq_throwerror(v, kNotANumberMessage);
  }
  return SQ_OK;
}

// The row a key names: "X", "Y", "Z", then "W" or "Pos" for the fourth; -1 for any other key.
int RowIndex(HSQUIRRELVM v, SQInteger index) {
  static constexpr const SQChar* kKeys[] = {u"X", u"Y", u"Z", u"W", u"Pos"};
  const SQChar* key = nullptr;
  SQInteger length = 0;
  if (sq_gettype(v, index) != OT_STRING || SQ_FAILED(sq_getstringandsize(v, index, &key, &length))) return -1;
  const std::u16string_view text(key, std::size_t(length));
  for (std::uint32_t i = 0; i < std::size(kKeys); ++i) {
    if (text == kKeys[i]) return int(i < kRows ? i : kWRow);
  }
  return -1;
}

SQInteger Constructor(HSQUIRRELVM v) {
  tScriptMatrix4x4* object = NewMatrix(v);
  Matrix4& m = *object->GetValue();
  float elements[kElements];
  // All sixteen numbers set the elements; anything less leaves the identity.
  if (sq_gettop(v) - kThis == SQInteger(kElements) && SQ_SUCCEEDED(Numbers(v, elements, kElements))) {
    for (std::uint32_t i = 0; i < kElements; ++i) m.Element(i) = elements[i];
  } else {
    MatrixIdentity(m);
  }
  return BindNew(v, object, object);
}

SQInteger SetIdentity(HSQUIRRELVM v) {
  Matrix4* self;
  if (SQ_FAILED(MatrixAt(v, kThis, &self))) return SQ_ERROR;
  MatrixIdentity(*self);
  return kNoResult;
}

SQInteger SetMultiply(HSQUIRRELVM v) {
  Matrix4 *self, *a, *b;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(MatrixAt(v, kFirstArgument, &a)) ||
      SQ_FAILED(MatrixAt(v, kFirstArgument + 1, &b))) {
    return SQ_ERROR;
  }
  MatrixMultiply(*self, *a, *b);
  return kNoResult;
}

SQInteger Multiply(HSQUIRRELVM v) {
  Matrix4 *self, *b;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(MatrixAt(v, kFirstArgument, &b))) return SQ_ERROR;
  tScriptMatrix4x4* object = NewMatrix(v);
  MatrixMultiply(*object->GetValue(), *self, *b);
  return PushNew(v, object, object);
}

template <void (*kSet)(Matrix4&, const float*)>
SQInteger SetFromVector(HSQUIRRELVM v) {
  Matrix4* self;
  float* vector;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(VectorAt(v, kFirstArgument, ScriptClass::Vector3D, &vector))) {
    return SQ_ERROR;
  }
  kSet(*self, vector);
  return kNoResult;
}

template <void (*kRotate)(Matrix4&, float)>
SQInteger SetRotate(HSQUIRRELVM v) {
  Matrix4* self;
  float angle;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(Numbers(v, &angle, 1))) return SQ_ERROR;
  kRotate(*self, angle);
  return kNoResult;
}

SQInteger SetOrthoOffCentreRH(HSQUIRRELVM v) {
  constexpr std::uint32_t kCount = 6;
  Matrix4* self;
  float n[kCount];
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(Numbers(v, n, kCount))) return SQ_ERROR;
  MatrixOrthoOffCentreRH(*self, n[0], n[1], n[2], n[3], n[4], n[5]);
  return kNoResult;
}

template <void (*kPerspective)(Matrix4&, float, float, float, float)>
SQInteger SetPerspective(HSQUIRRELVM v) {
  constexpr std::uint32_t kCount = 4;
  Matrix4* self;
  float n[kCount];
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(Numbers(v, n, kCount))) return SQ_ERROR;
  kPerspective(*self, n[0], n[1], n[2], n[3]);
  return kNoResult;
}

template <void (*kLookAt)(Matrix4&, const float*, const float*, const float*)>
SQInteger SetLookAt(HSQUIRRELVM v) {
  Matrix4* self;
  float *eye, *at, *up;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(VectorAt(v, kFirstArgument, ScriptClass::Vector3D, &eye)) ||
      SQ_FAILED(VectorAt(v, kFirstArgument + 1, ScriptClass::Vector3D, &at)) ||
      SQ_FAILED(VectorAt(v, kFirstArgument + 2, ScriptClass::Vector3D, &up))) {
    return SQ_ERROR;
  }
  kLookAt(*self, eye, at, up);
  return kNoResult;
}

template <void (*kTransform)(float*, const Matrix4&, const float*)>
SQInteger Transform(HSQUIRRELVM v) {
  Matrix4* self;
  float* vector;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(VectorAt(v, kFirstArgument, ScriptClass::Vector3D, &vector))) {
    return SQ_ERROR;
  }
  auto* object = new tScriptVector<kAxes>(BindingOf(v, ScriptClass::Vector3D));
  kTransform(object->m_value.m, *self, vector);
  return PushNew(v, object, object);
}

SQInteger SetInverse(HSQUIRRELVM v) {
  Matrix4 *self, *a;
  if (SQ_FAILED(MatrixAt(v, kThis, &self)) || SQ_FAILED(MatrixAt(v, kFirstArgument, &a))) return SQ_ERROR;
  float reciprocal = 0.0f;
  MatrixInverse(*self, *a, &reciprocal);
  sq_pushfloat(v, reciprocal);
  return kResult;
}

SQInteger ToString(HSQUIRRELVM v) {
  Matrix4* m;
  if (SQ_FAILED(MatrixAt(v, kThis, &m))) return SQ_ERROR;
  double e[kElements];
  for (std::uint32_t i = 0; i < kElements; ++i) e[i] = m->Element(i);
  char text[kTextCapacity];
  std::snprintf(text, sizeof text,
                "((%g, %g, %g, %g), (%g, %g, %g, %g), (%g, %g, %g, %g), (%g, %g, %g, %g))", e[0], e[1], e[2], e[3],
                e[4], e[5], e[6], e[7], e[8], e[9], e[10], e[11], e[12], e[13], e[14], e[15]);
  PushAscii(v, text);
  return kResult;
}

SQInteger TypeOf(HSQUIRRELVM v) {
  sq_pushstring(v, kMatrixName, -1);
  return kResult;
}

SQInteger Cloned(HSQUIRRELVM v) {
  Matrix4* source;
  if (SQ_FAILED(MatrixAt(v, kFirstArgument, &source))) return SQ_ERROR;
  tScriptMatrix4x4* object = NewMatrix(v);
  *object->GetValue() = *source;
  return BindNew(v, object, object);
}

SQInteger Get(HSQUIRRELVM v) {
  tScriptMatrix4x4* self = nullptr;
  if (SQ_FAILED(Object(v, kThis, ScriptClass::Matrix4x4, &self))) return SQ_ERROR;
  const int row = RowIndex(v, kFirstArgument);
  if (row < 0) return MissingIndex(v);
  self->Row(std::uint32_t(row)).PushInstance(v);
  return kResult;
}

SQInteger Set(HSQUIRRELVM v) {
  Matrix4* self;
  if (SQ_FAILED(MatrixAt(v, kThis, &self))) return SQ_ERROR;
  const int row = RowIndex(v, kFirstArgument);
  if (row < 0) return MissingIndex(v);
  float* value;
  if (SQ_FAILED(VectorAt(v, kFirstArgument + 1, ScriptClass::Vector4D, &value))) return SQ_ERROR;
  // The value may be this very row (m.X = m.X): copying onto itself is harmless.
  tVector4D<float>& target = (*self)[std::uint32_t(row)];
  for (std::uint32_t i = 0; i < kRows; ++i) target[i] = value[i];
  return kNoResult;
}

}  // namespace

tScriptMatrix4x4::tScriptMatrix4x4(CClassBinding* matrix, CClassBinding* vector4)
    : tSquirrelReleasableReferenceableValue<Matrix4>(matrix),
      m_rows{{vector4, this, &m_value[0]},
             {vector4, this, &m_value[1]},
             {vector4, this, &m_value[2]},
             {vector4, this, &m_value[3]}} {}

void RegisterMatrixClass(CScriptHost* host, HSQUIRRELVM v) {
  RegisterValueClass(v, kMatrixName, false, Constructor, u"xnnnnnnnnnnnnnnnn");
  host->BindClass(ScriptClass::Matrix4x4, v, true);
  RegisterFunctionTyped(v, u"SetIdentity", SetIdentity, u"x");
  RegisterFunctionTyped(v, u"SetMultiply", SetMultiply, u"xxx");
  RegisterFunctionTyped(v, u"_mul", Multiply, u"xx");
  RegisterFunctionTyped(v, u"SetTranslate", SetFromVector<MatrixTranslate>, u"xx");
  RegisterFunctionTyped(v, u"SetScale", SetFromVector<MatrixScale>, u"xx");
  RegisterFunctionTyped(v, u"SetRotateX", SetRotate<MatrixRotateX>, u"xn");
  RegisterFunctionTyped(v, u"SetRotateY", SetRotate<MatrixRotateY>, u"xn");
  RegisterFunctionTyped(v, u"SetRotateZ", SetRotate<MatrixRotateZ>, u"xn");
  RegisterFunctionTyped(v, u"SetOrthoOffCentreRH", SetOrthoOffCentreRH, u"xnnnnnn");
  RegisterFunctionTyped(v, u"SetPerspectiveFOVLH", SetPerspective<MatrixPerspectiveFOVLH>, u"xnnnn");
  RegisterFunctionTyped(v, u"SetLookAtLH", SetLookAt<MatrixLookAtLH>, u"xxxx");
  RegisterFunctionTyped(v, u"SetPerspectiveFOVRH", SetPerspective<MatrixPerspectiveFOVRH>, u"xnnnn");
  RegisterFunctionTyped(v, u"SetLookAtRH", SetLookAt<MatrixLookAtRH>, u"xxxx");
  RegisterFunctionTyped(v, u"TransformNormal", Transform<MatrixTransformNormal>, u"xx");
  RegisterFunctionTyped(v, u"TransformCoordinate", Transform<MatrixTransformCoordinate>, u"xx");
  RegisterFunctionTyped(v, u"SetInverse", SetInverse, u"xx");
  RegisterFunctionTyped(v, u"_tostring", ToString, u"x");
  RegisterFunctionTyped(v, u"_typeof", TypeOf, u"x");
  RegisterFunctionTyped(v, u"_cloned", Cloned, u"xx");
  RegisterFunctionTyped(v, u"_get", Get, u"x.");
  RegisterFunctionTyped(v, u"_set", Set, u"x..");
  sq_poptop(v);
}
