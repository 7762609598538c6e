// The script classes Vector1D to Vector4D: one family of natives, instantiated per number of components.
#include <cstdio>

#include <scripthost/ScriptClasses.h>

#include "NativeHelpers.h"

using namespace natives;

const SQChar kNotANumberMessage[] = u"value is not a number";

namespace {

constexpr std::uint32_t kMaxComponents = 4;
constexpr ScriptClass kVectorClasses[kMaxComponents] = {ScriptClass::Vector1D, ScriptClass::Vector2D,
                                                        ScriptClass::Vector3D, ScriptClass::Vector4D};
constexpr const SQChar* kVectorNames[kMaxComponents] = {u"Vector1D", u"Vector2D", u"Vector3D", u"Vector4D"};
constexpr const char* kFormats[kMaxComponents] = {"(%g)", "(%g, %g)", "(%g, %g, %g)", "(%g, %g, %g, %g)"};
constexpr const SQChar* kConstructorMasks[kMaxComponents] = {u"xn", u"xnn", u"xnnn", u"xnnn"};
constexpr SQChar kComponentNames[kMaxComponents] = {u'X', u'Y', u'Z', u'W'};
// _tostring's buffer, in characters.
constexpr std::size_t kTextCapacity = 128;

template <std::uint32_t N>
constexpr ScriptClass kClass = kVectorClasses[N - 1];

// The components of the vector at index, checked against class N.
template <std::uint32_t N>
SQRESULT Components(HSQUIRRELVM v, SQInteger index, float** out) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(Object(v, index, kClass<N>, &object))) return SQ_ERROR;
  *out = VectorComponents(HostOf(v), object);
  return *out != nullptr ? SQ_OK : sq_throwerror(v, u"invalid type tag");
}

template <std::uint32_t N>
SQInteger PushNewVector(HSQUIRRELVM v, const float* values) {
  auto* object = new tScriptVector<N>(BindingOf(v, kClass<N>));
  for (std::uint32_t i = 0; i < N; ++i) object->m_value[i] = values[i];
  return PushNew(v, object, object);
}

// The component a key names within the first N, or -1 (also for keys that are not strings).
template <std::uint32_t N>
int ComponentIndex(HSQUIRRELVM v, SQInteger index) {
  const SQChar* key = nullptr;
  SQInteger length = 0;
  if (sq_gettype(v, index) != OT_STRING || SQ_FAILED(sq_getstringandsize(v, index, &key, &length))) return -1;
  if (length != 1) return -1;
  for (std::uint32_t i = 0; i < N; ++i) {
    if (key[0] == kComponentNames[i]) return int(i);
  }
  return -1;
}

template <std::uint32_t N>
SQInteger Constructor(HSQUIRRELVM v) {
  auto* object = new tScriptVector<N>(BindingOf(v, kClass<N>));
  if (sq_gettop(v) - kThis >= SQInteger(N)) {
    for (std::uint32_t i = 0; i < N; ++i) {
      // A value that is not a number leaves its component at zero.
      SQFloat value = 0.0f;
      if (Number(v, kFirstArgument + SQInteger(i), &value)) object->m_value[i] = value;
    }
  }
  return BindNew(v, object, object);
}

template <std::uint32_t N>
SQInteger SetNormalise(HSQUIRRELVM v) {
  float *self, *source;
  if (SQ_FAILED(Components<N>(v, kThis, &self)) || SQ_FAILED(Components<N>(v, kFirstArgument, &source))) {
    return SQ_ERROR;
  }
  const float length = VectorLength<N>(source);
  for (std::uint32_t i = 0; i < N; ++i) self[i] = source[i] / length;
  return kNoResult;
}

template <std::uint32_t N>
SQInteger GetLength(HSQUIRRELVM v) {
  float* self;
  if (SQ_FAILED(Components<N>(v, kThis, &self))) return SQ_ERROR;
  sq_pushfloat(v, VectorLength<N>(self));
  return kResult;
}

template <std::uint32_t N>
SQInteger GetDotProduct(HSQUIRRELVM v) {
  float *self, *other;
  if (SQ_FAILED(Components<N>(v, kThis, &self)) || SQ_FAILED(Components<N>(v, kFirstArgument, &other))) {
    return SQ_ERROR;
  }
  sq_pushfloat(v, VectorDot<N>(self, other));
  return kResult;
}

SQInteger SetCrossProduct(HSQUIRRELVM v) {
  constexpr std::uint32_t kN = 3;
  float *self, *a, *b;
  if (SQ_FAILED(Components<kN>(v, kThis, &self)) || SQ_FAILED(Components<kN>(v, kFirstArgument, &a)) ||
      SQ_FAILED(Components<kN>(v, kFirstArgument + 1, &b))) {
    return SQ_ERROR;
  }
  VectorCross(self, a, b);
  return kNoResult;
}

enum class Operation { Add, Subtract, Multiply, Divide };

template <std::uint32_t N, Operation kOperation>
SQInteger Arithmetic(HSQUIRRELVM v) {
  float* self;
  if (SQ_FAILED(Components<N>(v, kThis, &self))) return SQ_ERROR;
  float operand[N];
  SQFloat k = 0.0f;
  if (Number(v, kFirstArgument, &k)) {
    for (float& component : operand) component = k;
  } else {
    float* other;
    if (SQ_FAILED(Components<N>(v, kFirstArgument, &other))) return SQ_ERROR;
    for (std::uint32_t i = 0; i < N; ++i) operand[i] = other[i];
  }
  float result[N];
  for (std::uint32_t i = 0; i < N; ++i) {
    switch (kOperation) {
      case Operation::Add: result[i] = self[i] + operand[i]; break;
      case Operation::Subtract: result[i] = self[i] - operand[i]; break;
      case Operation::Multiply: result[i] = self[i] * operand[i]; break;
      case Operation::Divide: result[i] = self[i] / operand[i]; break;
    }
  }
  return PushNewVector<N>(v, result);
}

template <std::uint32_t N>
SQInteger ToString(HSQUIRRELVM v) {
  float* c;
  if (SQ_FAILED(Components<N>(v, kThis, &c))) return SQ_ERROR;
  char text[kTextCapacity];
  if constexpr (N == 1) std::snprintf(text, sizeof text, kFormats[0], double(c[0]));
  if constexpr (N == 2) std::snprintf(text, sizeof text, kFormats[1], double(c[0]), double(c[1]));
  if constexpr (N == 3) std::snprintf(text, sizeof text, kFormats[2], double(c[0]), double(c[1]), double(c[2]));
  if constexpr (N == 4) {
    std::snprintf(text, sizeof text, kFormats[3], double(c[0]), double(c[1]), double(c[2]), double(c[3]));
  }
  PushAscii(v, text);
  return kResult;
}

template <std::uint32_t N>
SQInteger TypeOf(HSQUIRRELVM v) {
  sq_pushstring(v, kVectorNames[N - 1], -1);
  return kResult;
}

template <std::uint32_t N>
SQInteger Cloned(HSQUIRRELVM v) {
  float* source;
  if (SQ_FAILED(Components<N>(v, kFirstArgument, &source))) return SQ_ERROR;
  auto* object = new tScriptVector<N>(BindingOf(v, kClass<N>));
  for (std::uint32_t i = 0; i < N; ++i) object->m_value[i] = source[i];
  return BindNew(v, object, object);
}

template <std::uint32_t N>
SQInteger Get(HSQUIRRELVM v) {
  float* self;
  if (SQ_FAILED(Components<N>(v, kThis, &self))) return SQ_ERROR;
  const int component = ComponentIndex<N>(v, kFirstArgument);
  if (component < 0) return MissingIndex(v);
  sq_pushfloat(v, self[component]);
  return kResult;
}

template <std::uint32_t N>
SQInteger Set(HSQUIRRELVM v) {
  float* self;
  if (SQ_FAILED(Components<N>(v, kThis, &self))) return SQ_ERROR;
  const int component = ComponentIndex<N>(v, kFirstArgument);
  if (component < 0) return MissingIndex(v);
  SQFloat value = 0.0f;
  if (!Number(v, kFirstArgument + 1, &value)) return sq_throwerror(v, kNotANumberMessage);
  self[component] = value;
  return kNoResult;
}

template <std::uint32_t N>
void RegisterVector(CScriptHost* host, HSQUIRRELVM v) {
  RegisterValueClass(v, kVectorNames[N - 1], N > 1, Constructor<N>, kConstructorMasks[N - 1]);
  host->BindClass(kClass<N>, v, true);
  RegisterFunctionTyped(v, u"SetNormalise", SetNormalise<N>, u"xx");
  RegisterFunctionTyped(v, u"GetLength", GetLength<N>, u"x");
  RegisterFunctionTyped(v, u"GetDotProduct", GetDotProduct<N>, u"xx");
  if constexpr (N == 3) RegisterFunctionTyped(v, u"SetCrossProduct", SetCrossProduct, u"xxx");
  RegisterFunctionTyped(v, u"_add", Arithmetic<N, Operation::Add>, u"xx");
  RegisterFunctionTyped(v, u"_sub", Arithmetic<N, Operation::Subtract>, u"xx");
  RegisterFunctionTyped(v, u"_mul", Arithmetic<N, Operation::Multiply>, u"xx|n");
  RegisterFunctionTyped(v, u"_div", Arithmetic<N, Operation::Divide>, u"xx|n");
  RegisterFunctionTyped(v, u"_tostring", ToString<N>, u"x");
  RegisterFunctionTyped(v, u"_typeof", TypeOf<N>, u"x");
  RegisterFunctionTyped(v, u"_cloned", Cloned<N>, u"xx");
  RegisterFunctionTyped(v, u"_get", Get<N>, u"x.");
  RegisterFunctionTyped(v, u"_set", Set<N>, u"x..");
}

}  // namespace

float* VectorComponents(CScriptHost* host, tSquirrelReferenceable* object) {
  CClassBinding* binding = object->GetBinding();
  if (binding == host->GetBinding(ScriptClass::Vector4D)) {
    return static_cast<tSquirrelReferenceableValue<tVector4D<float>>*>(object)->GetValue()->m;
  }
  if (binding == host->GetBinding(ScriptClass::Vector3D)) {
    return static_cast<tSquirrelReferenceableValue<tVector3D<float>>*>(object)->GetValue()->m;
  }
  if (binding == host->GetBinding(ScriptClass::Vector2D)) {
    return static_cast<tSquirrelReferenceableValue<tVector2D<float>>*>(object)->GetValue()->m;
  }
  if (binding == host->GetBinding(ScriptClass::Vector1D)) {
    return static_cast<tSquirrelReferenceableValue<tVector1D<float>>*>(object)->GetValue()->m;
  }
  return nullptr;
}

void RegisterVectorClasses(CScriptHost* host, HSQUIRRELVM v) {
  // Each class stays on the stack to become the base of the next; Vector4D leaves after its members.
  RegisterVector<1>(host, v);
  RegisterVector<2>(host, v);
  RegisterVector<3>(host, v);
  RegisterVector<4>(host, v);
  sq_poptop(v);
}
