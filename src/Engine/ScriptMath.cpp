// The core script library's Matrix4x4, Vec2 and Vec3 classes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include <engine/Native.h>
#include <engine/VexilMath.h>

#include "CoreLibraryClasses.h"

namespace Vexil3D::CoreLibrary {

namespace {

using CScriptMatrix = CObjectValue<CMatrix4x4>;
using CScriptVec2 = CObjectValue<CVector2D>;
using CScriptVec3 = CObjectValue<CVector3D>;

constexpr int kMatrixSide = 4;
constexpr int kMatrixElements = kMatrixSide * kMatrixSide;
constexpr int kRowVectorElements = 3;
constexpr std::size_t kTextCapacity = 128;
// Below this sine two directions count as parallel: the arc has no plane, the line serves instead.
constexpr double kParallelSine = 1e-6;

CReflection* Global(void* user) { return static_cast<CReflection*>(user); }

// -------------------------------------------------------------------------------------------------
// Vector arithmetic shared by both sizes

float* Components(CVector2D& v) { return &v.x; }
float* Components(CVector3D& v) { return &v.x; }
const float* Components(const CVector2D& v) { return &v.x; }
const float* Components(const CVector3D& v) { return &v.x; }
template <class V>
constexpr int kDimensions = sizeof(V) / sizeof(float);

template <class V>
double Dot(const V& a, const V& b) {
  double sum = 0.0;
  for (int i = 0; i < kDimensions<V>; ++i) sum += double(Components(a)[i]) * Components(b)[i];
  return sum;
}

template <class V>
double Length(const V& v) {
  return std::sqrt(Dot(v, v));
}

// wa x a + wb x b.
template <class V>
V Blend(const V& a, double wa, const V& b, double wb) {
  V out;
  for (int i = 0; i < kDimensions<V>; ++i)
    Components(out)[i] = static_cast<float>(wa * Components(a)[i] + wb * Components(b)[i]);
  return out;
}

template <class V>
V Linear(const V& a, const V& b, double t) {
  return Blend(a, 1.0 - t, b, t);
}

// Along the arc between a and b. A zero-length vector, or two that are parallel or opposed, has no
// single arc: the straight line is taken then, so that no NaN comes out.
template <class V>
V Spherical(const V& a, const V& b, double t) {
  const double lengths = Length(a) * Length(b);
  if (lengths == 0.0) return Linear(a, b, t);
  const double angle = std::acos(std::clamp(Dot(a, b) / lengths, -1.0, 1.0));
  const double sine = std::sin(angle);
  if (sine < kParallelSine) return Linear(a, b, t);
  return Blend(a, std::sin((1.0 - t) * angle) / sine, b, std::sin(t * angle) / sine);
}

bool CheckVector(CNativeState* state, int i, CVector2D* v) { return state->CheckVector2D(i, v); }
bool CheckVector(CNativeState* state, int i, CVector3D* v) { return state->CheckVector3D(i, v); }

ReflectedClass* ClassOf(CReflection* global, const CVector2D*) { return global->m_pVec2Class; }
ReflectedClass* ClassOf(CReflection* global, const CVector3D*) { return global->m_pVec3Class; }
const char16_t* NameOf(const CVector2D*) { return u"Vec2"; }
const char16_t* NameOf(const CVector3D*) { return u"Vec3"; }

template <class V>
CObjectValue<V>* ThisVector(CNativeState* state, void* user) {
  return ThisAs<CObjectValue<V>>(state, user ? ClassOf(Global(user), static_cast<V*>(nullptr)) : nullptr,
                                 NameOf(static_cast<V*>(nullptr)));
}

template <class V>
bool ReturnVector(CNativeState* state, void* user, const V& value) {
  return ReturnNew(state, MakeValue<CObjectValue<V>>(ClassOf(Global(user), &value), value));
}

// Constructor: the first numbers given, 0 for the rest.
template <class V>
bool VectorConstructor(CNativeState* state, int argumentCount, void* user) {
  V value;
  for (int i = 0; i < kDimensions<V> && i < argumentCount; ++i) {
    CArgument* argument = state->GetArgument(i);
    if (argument && argument->IsNumber()) argument->ToNumber(&Components(value)[i]);
  }
  return ReturnVector(state, user, value);
}

template <class V>
bool VectorClone(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, user);
  return self && ReturnVector(state, user, self->GetValue());
}

template <class V>
bool VectorToString(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, user);
  if (!self) return false;
  const V& v = self->GetValue();
  char narrow[kTextCapacity + 1];
  const int length = kDimensions<V> == 2 ? std::snprintf(narrow, sizeof narrow, "X: %.3f Y: %.3f", v.x, v.y)
                                         : std::snprintf(narrow, sizeof narrow, "X: %.3f Y: %.3f Z: %.3f", v.x, v.y,
                                                         static_cast<double>(Components(v)[kDimensions<V> - 1]));
  if (length < 0 || static_cast<std::size_t>(length) > kTextCapacity)
    return state->Error(u"Unable to generate the string");
  char16_t wide[kTextCapacity + 1];
  for (int i = 0; i <= length; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
  return state->ReturnString(wide, static_cast<std::uint32_t>(length));
}

// Component accessors: the user value points at the component's index.
const int kComponentIndex[] = {0, 1, 2};

template <class V>
bool GetComponent(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, nullptr);
  return self && state->ReturnFloat(Components(self->GetValue())[*static_cast<const int*>(user)]);
}

template <class V>
bool SetComponent(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, nullptr);
  float value = 0.0f;
  if (!self || !state->CheckNumber(0, &value)) return false;
  Components(self->GetValue())[*static_cast<const int*>(user)] = value;
  return true;
}

template <class V>
bool AddPolar(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, user);
  float distance = 0.0f, angle = 0.0f;
  if (!self || !state->CheckNumber(0, &distance) || !state->CheckNumber(1, &angle)) return false;
  V out = self->GetValue();
  out.x += std::cos(angle) * distance;
  out.y += std::sin(angle) * distance;
  return ReturnVector(state, user, out);
}

enum Blending { kInterpolate, kExtrapolate, kSphericalInterpolate, kSphericalExtrapolate };

template <class V, Blending kind>
bool BlendWith(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, user);
  V other;
  double t = 0.0;
  if (!self || !CheckVector(state, 0, &other) || !state->CheckNumber(1, &t)) return false;
  if (kind == kInterpolate || kind == kSphericalInterpolate) t = std::clamp(t, 0.0, 1.0);
  const bool spherical = kind == kSphericalInterpolate || kind == kSphericalExtrapolate;
  return ReturnVector(state, user,
                      spherical ? Spherical(self->GetValue(), other, t) : Linear(self->GetValue(), other, t));
}

template <class V>
bool CartesianToPolar(CNativeState* state, int, void* user) {
  auto* self = ThisVector<V>(state, user);
  if (!self) return false;
  V out = self->GetValue();
  const float x = out.x, y = out.y;
  out.x = static_cast<float>(std::hypot(x, y));
  out.y = std::atan2(y, x);
  return ReturnVector(state, user, out);
}

template <class V>
void RegisterVectorClass(CReflection* global, const char16_t* name) {
  ReflectedClass* cls = global->RegisterClass(name, nullptr);
  if (!cls) return;
  cls->SetConstructor(&VectorConstructor<V>, global);
  cls->SetToString(&VectorToString<V>, global);
  cls->SetClone(&VectorClone<V>, global);
  const char16_t* componentNames[] = {u"x", u"y", u"z"};
  for (int i = 0; i < kDimensions<V>; ++i)
    cls->RegisterProperty(componentNames[i], ARGUMENT_FLOAT, &GetComponent<V>, &SetComponent<V>,
                          const_cast<int*>(&kComponentIndex[i]));
}

// -------------------------------------------------------------------------------------------------
// Vec3's own operations

enum Measure { kLength, kSquaredLength };

template <Measure kind>
bool Measured(CNativeState* state, int, void* user) {
  auto* self = ThisVector<CVector3D>(state, user);
  if (!self) return false;
  const double squared = Dot(self->GetValue(), self->GetValue());
  return state->ReturnFloat(static_cast<float>(kind == kLength ? std::sqrt(squared) : squared));
}

enum Pairwise { kDistance, kSquaredDistance, kDotProduct, kAbsDotProduct, kCrossProduct, kMidPoint };

template <Pairwise kind>
bool WithOther(CNativeState* state, int, void* user) {
  auto* self = ThisVector<CVector3D>(state, user);
  CVector3D b;
  if (!self || !state->CheckVector3D(0, &b)) return false;
  const CVector3D& a = self->GetValue();
  const CVector3D difference = Blend(a, 1.0, b, -1.0);
  switch (kind) {
    case kDistance:
      return state->ReturnFloat(static_cast<float>(Length(difference)));
    case kSquaredDistance:
      return state->ReturnFloat(static_cast<float>(Dot(difference, difference)));
    case kDotProduct:
      return state->ReturnFloat(static_cast<float>(Dot(a, b)));
    case kAbsDotProduct:
      return state->ReturnFloat(static_cast<float>(std::fabs(Dot(a, b))));
    case kCrossProduct:
      return ReturnVector(state, user, CVector3D{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x});
    case kMidPoint:
      return ReturnVector(state, user, Linear(a, b, 0.5));
  }
  return false;
}

// A zero vector has no direction: its unit form is the zero vector itself.
bool Normalise(CNativeState* state, int, void* user) {
  auto* self = ThisVector<CVector3D>(state, user);
  if (!self) return false;
  const double length = Length(self->GetValue());
  return ReturnVector(state, user,
                      length == 0.0 ? CVector3D{} : Blend(self->GetValue(), 1.0 / length, CVector3D{}, 0.0));
}

bool AddSpherical(CNativeState* state, int, void* user) {
  auto* self = ThisVector<CVector3D>(state, user);
  float d = 0.0f, t = 0.0f, a = 0.0f;
  if (!self || !state->CheckNumber(0, &d) || !state->CheckNumber(1, &t) || !state->CheckNumber(2, &a)) return false;
  CVector3D out = self->GetValue();
  out.x += std::cos(a) * std::sin(t) * d;
  out.y += std::sin(a) * std::sin(t) * d;
  out.z += std::cos(t) * d;
  return ReturnVector(state, user, out);
}

// The origin has no angles: its spherical form is all zeros.
bool CartesianToSpherical(CNativeState* state, int, void* user) {
  auto* self = ThisVector<CVector3D>(state, user);
  if (!self) return false;
  const CVector3D& v = self->GetValue();
  const double r = Length(v);
  if (r == 0.0) return ReturnVector(state, user, CVector3D{});
  return ReturnVector(state, user,
                      CVector3D{static_cast<float>(r), static_cast<float>(std::acos(std::clamp(v.z / r, -1.0, 1.0))),
                                std::atan2(v.y, v.x)});
}

// -------------------------------------------------------------------------------------------------
// Matrix4x4

CScriptMatrix* ThisMatrix(CNativeState* state, void* user) {
  return ThisAs<CScriptMatrix>(state, user ? Global(user)->m_pMatrix4x4Class : nullptr, u"Matrix4x4");
}

bool MatrixArgument(CNativeState* state, void* user, int i, CMatrix4x4* out) {
  CBaseObject* object = nullptr;
  if (!state->CheckObject(Global(user)->m_pMatrix4x4Class, i, false, &object)) return false;
  auto* matrix = dynamic_cast<CScriptMatrix*>(object);
  if (!matrix) return state->Error(u"Expected %s for argument %d", u"Matrix4x4", i + 1);
  *out = matrix->GetValue();
  return true;
}

bool MatrixConstructor(CNativeState* state, int, void* user) {
  CMatrix4x4 identity;
  identity.SetIdentity();
  return ReturnNew(state, MakeValue<CScriptMatrix>(Global(user)->m_pMatrix4x4Class, identity));
}

bool SetIdentity(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  if (self) self->GetValue().SetIdentity();
  return self != nullptr;
}

enum VectorSetter { kTranslate, kScale, kRotate };

template <VectorSetter kind>
bool SetFromVector(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  CVector3D v;
  if (!self || !state->CheckVector3D(0, &v)) return false;
  CMatrix4x4& m = self->GetValue();
  if (kind == kTranslate) m.SetTranslate(v);
  if (kind == kRotate) m.SetRotate(v.x, v.y, v.z);
  if (kind == kScale) {
    m.SetIdentity();
    for (int i = 0; i < kRowVectorElements; ++i) m.m[i * (kMatrixSide + 1)] = Components(v)[i];
  }
  return true;
}

template <void (CMatrix4x4::*rotate)(float)>
bool SetRotateAxis(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  float angle = 0.0f;
  if (!self || !state->CheckNumber(0, &angle)) return false;
  (self->GetValue().*rotate)(angle);
  return true;
}

// this = this x each matrix from argument `first` on; every argument is checked before this changes.
bool MultiplyFrom(CNativeState* state, void* user, CScriptMatrix* self, CMatrix4x4 product, int first,
                  int argumentCount) {
  for (int i = first; i < argumentCount; ++i) {
    CMatrix4x4 next;
    if (!MatrixArgument(state, user, i, &next)) return false;
    CMatrix4x4::Multiply(&product, product, next);
  }
  self->GetValue() = product;
  return true;
}

bool SetMultiply(CNativeState* state, int argumentCount, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  CMatrix4x4 first, second;
  if (!self || !MatrixArgument(state, user, 0, &first) || !MatrixArgument(state, user, 1, &second)) return false;
  return MultiplyFrom(state, user, self, first, 1, argumentCount);
}

bool Multiply(CNativeState* state, int argumentCount, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  CMatrix4x4 first;
  if (!self || !MatrixArgument(state, user, 0, &first)) return false;
  return MultiplyFrom(state, user, self, self->GetValue(), 0, argumentCount);
}

bool SetInverse(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  CMatrix4x4 source;
  if (!self || !MatrixArgument(state, user, 0, &source)) return false;
  float determinant = 0.0f;
  if (!self->GetValue().SetInverse(source, &determinant)) return state->GetResults().AppendNil();
  return state->ReturnFloat(determinant);
}

// As a row vector with w = 1; the fourth column is not divided by.
bool TransformCoordinate(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  CVector3D v;
  if (!self || !state->CheckVector3D(0, &v)) return false;
  const float* m = self->GetValue().m;
  CVector3D out;
  for (int c = 0; c < kRowVectorElements; ++c)
    Components(out)[c] = v.x * m[c] + v.y * m[kMatrixSide + c] + v.z * m[2 * kMatrixSide + c] + m[3 * kMatrixSide + c];
  return ReturnVector(state, user, out);
}

// An index argument in [0, limit): negative ones are as invalid as those past the end.
bool CheckIndex(CNativeState* state, int limit, std::int32_t* index) {
  if (!state->CheckNumber(0, index)) return false;
  if (*index < 0 || *index >= limit) return state->Error(u"invalid index");
  return true;
}

bool GetElement(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  std::int32_t index = 0;
  if (!self || !CheckIndex(state, kMatrixElements, &index)) return false;
  return state->ReturnFloat(self->GetValue().m[index]);
}

bool SetElement(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  std::int32_t index = 0;
  float value = 0.0f;
  if (!self || !CheckIndex(state, kMatrixElements, &index) || !state->CheckNumber(1, &value)) return false;
  self->GetValue().m[index] = value;
  return true;
}

bool GetVector3(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, user);
  std::int32_t row = 0;
  if (!self || !CheckIndex(state, kMatrixSide, &row)) return false;
  const float* m = &self->GetValue().m[row * kMatrixSide];
  return ReturnVector(state, user, CVector3D{m[0], m[1], m[2]});
}

const int kElementIndex[kMatrixElements] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

bool GetMatrixElement(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, nullptr);
  return self && state->ReturnFloat(self->GetValue().m[*static_cast<const int*>(user)]);
}

bool SetMatrixElement(CNativeState* state, int, void* user) {
  CScriptMatrix* self = ThisMatrix(state, nullptr);
  float value = 0.0f;
  if (!self || !state->CheckNumber(0, &value)) return false;
  self->GetValue().m[*static_cast<const int*>(user)] = value;
  return true;
}

void RegisterMatrixClass(CReflection* global) {
  ReflectedClass* cls = global->RegisterClass(u"Matrix4x4", nullptr);
  if (!cls) return;
  cls->SetConstructor(&MatrixConstructor, global);
  cls->RegisterMethod(u"setIdentity", u"t", &SetIdentity, global, false);
  cls->RegisterMethod(u"setTranslate", u"tv", &SetFromVector<kTranslate>, global, false);
  cls->RegisterMethod(u"setScale", u"tv", &SetFromVector<kScale>, global, false);
  cls->RegisterMethod(u"setRotate", u"tv", &SetFromVector<kRotate>, global, false);
  cls->RegisterMethod(u"setRotateX", u"tf", &SetRotateAxis<&CMatrix4x4::SetRotateX>, global, false);
  cls->RegisterMethod(u"setRotateY", u"tf", &SetRotateAxis<&CMatrix4x4::SetRotateY>, global, false);
  cls->RegisterMethod(u"setRotateZ", u"tf", &SetRotateAxis<&CMatrix4x4::SetRotateZ>, global, false);
  cls->RegisterMethod(u"setMultiply", u"txx*", &SetMultiply, global, false);
  cls->RegisterMethod(u"multiply", u"tx*", &Multiply, global, false);
  cls->RegisterMethod(u"setInverse", u"tx", &SetInverse, global, false);
  cls->RegisterMethod(u"transformCoordinate", u"tv", &TransformCoordinate, global, false);
  cls->RegisterMethod(u"getElement", u"ti", &GetElement, global, false);
  cls->RegisterMethod(u"setElement", u"tif", &SetElement, global, false);
  cls->RegisterMethod(u"getVector3", u"ti", &GetVector3, global, false);
  for (int i = 0; i < kMatrixElements; ++i) {
    const char16_t name[] = {u'm', static_cast<char16_t>(u'1' + i / kMatrixSide),
                             static_cast<char16_t>(u'1' + i % kMatrixSide), u'\0'};
    cls->RegisterProperty(name, ARGUMENT_FLOAT, &GetMatrixElement, &SetMatrixElement,
                          const_cast<int*>(&kElementIndex[i]));
  }
}

}  // namespace

void RegisterMathClasses(CReflection* global) {
  RegisterMatrixClass(global);

  RegisterVectorClass<CVector2D>(global, u"Vec2");
  if (ReflectedClass* vec2 = global->m_pVec2Class) {
    vec2->RegisterMethod(u"addPolar", u"tff", &AddPolar<CVector2D>, global, false);
    vec2->RegisterMethod(u"interpolate", u"tzf", &BlendWith<CVector2D, kInterpolate>, global, false);
    vec2->RegisterMethod(u"extrapolate", u"tzf", &BlendWith<CVector2D, kExtrapolate>, global, false);
    vec2->RegisterMethod(u"sphericalInterpolate", u"tzf", &BlendWith<CVector2D, kSphericalInterpolate>, global, false);
    vec2->RegisterMethod(u"sphericalExtrapolate", u"tzf", &BlendWith<CVector2D, kSphericalExtrapolate>, global, false);
    vec2->RegisterMethod(u"cartesianToPolar", u"t", &CartesianToPolar<CVector2D>, global, false);
  }

  RegisterVectorClass<CVector3D>(global, u"Vec3");
  if (ReflectedClass* vec3 = global->m_pVec3Class) {
    vec3->RegisterProperty(u"length", ARGUMENT_FLOAT, &Measured<kLength>, nullptr, global);
    vec3->RegisterProperty(u"squaredLength", ARGUMENT_FLOAT, &Measured<kSquaredLength>, nullptr, global);
    vec3->RegisterMethod(u"distance", u"tv", &WithOther<kDistance>, global, false);
    vec3->RegisterMethod(u"squaredDistance", u"tv", &WithOther<kSquaredDistance>, global, false);
    vec3->RegisterMethod(u"dotProduct", u"tv", &WithOther<kDotProduct>, global, false);
    vec3->RegisterMethod(u"absDotProduct", u"tv", &WithOther<kAbsDotProduct>, global, false);
    vec3->RegisterMethod(u"crossProduct", u"tv", &WithOther<kCrossProduct>, global, false);
    vec3->RegisterMethod(u"midPoint", u"tv", &WithOther<kMidPoint>, global, false);
    vec3->RegisterMethod(u"normalise", u"t", &Normalise, global, false);
    vec3->RegisterMethod(u"addPolar", u"tff", &AddPolar<CVector3D>, global, false);
    vec3->RegisterMethod(u"addSpherical", u"tfff", &AddSpherical, global, false);
    vec3->RegisterMethod(u"interpolate", u"tvf", &BlendWith<CVector3D, kInterpolate>, global, false);
    vec3->RegisterMethod(u"extrapolate", u"tvf", &BlendWith<CVector3D, kExtrapolate>, global, false);
    vec3->RegisterMethod(u"sphericalInterpolate", u"tvf", &BlendWith<CVector3D, kSphericalInterpolate>, global, false);
    vec3->RegisterMethod(u"sphericalExtrapolate", u"tvf", &BlendWith<CVector3D, kSphericalExtrapolate>, global, false);
    vec3->RegisterMethod(u"cartesianToPolar", u"t", &CartesianToPolar<CVector3D>, global, false);
    vec3->RegisterMethod(u"cartesianToSpherical", u"t", &CartesianToSpherical, global, false);
  }
}

}  // namespace Vexil3D::CoreLibrary
