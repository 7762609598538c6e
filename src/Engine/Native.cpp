// Native calls: the argument checks, results and errors of CNativeState, CFunction and script streams.
#include <engine/Native.h>

#include "InterfaceViews.h"

#include <cstdarg>
#include <limits>
#include <new>

#include <engine/Context.h>
#include <engine/Scripting.h>
#include <platform/text.h>

namespace Vexil3D {

namespace {

constexpr std::size_t kErrorFormatCapacity = 4096;
constexpr std::uint32_t kVector2DElements = 2;
constexpr std::uint32_t kVector3DElements = 3;

// The elements of an array argument of exactly `count` numbers, as floats.
bool ReadNumberArray(CArgument* argument, std::uint32_t count, float* out) {
  if (!argument || !argument->IsArray()) return false;
  auto* array = static_cast<CArgumentArray*>(argument);
  if (array->GetCount() != count) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    CArgument* element = array->Get(i);
    if (!element || !element->IsNumber() || !element->ToNumber(&out[i])) return false;
  }
  return true;
}

// A number argument narrowed into a smaller integer the way a C cast does.
template <class Wide, class Narrow>
bool CheckNarrowNumber(CNativeState* state, int i, Narrow* value) {
  Wide wide = 0;
  if (!state->CheckNumber(i, &wide)) return false;
  if (value) *value = static_cast<Narrow>(wide);
  return true;
}

}  // namespace

// -------------------------------------------------------------------------------------------------
// CFunction

CFunction::CFunction(std::u16string_view name, NativeFunction callback, ModuleNativeFunction moduleCallback, void* user)
    : m_Name(name), m_pCallback(callback), m_pModuleCallback(moduleCallback), m_pUser(user) {}

bool CFunction::Call(CNativeState* state, int argumentCount, void* user) {
  VEXIL_ASSERT(state);
  if (!state) return false;
  if (m_pCallback) return m_pCallback(state, argumentCount, user);
  if (m_pModuleCallback) return CallModule(state, argumentCount, user);
  return state->Error(u"Cannot call %s", m_Name.c_str());
}

// A module native is handed a module-side view of the state, made on the stack for this call; the UTF-8
// strings it hands out go with it.
bool CFunction::CallModule(CNativeState* state, int argumentCount, void* user) {
  Interfaces::CNativeStateImpl view(state);
  return m_pModuleCallback(&view, argumentCount, user);
}

// -------------------------------------------------------------------------------------------------
// Objects that hold a value for scripts

// The values that script classes own.
template class CObjectValue<CVector2D>;
template class CObjectValue<CVector3D>;
template class CObjectValue<CMatrix4x4>;
template class CObjectValue<AutoDelete<CTextReader>>;
template class CObjectValue<Strong<Stream>>;

CScriptStream::CScriptStream(Stream* stream, ReflectedClass* streamClass) : CObjectValue<Strong<Stream>>(stream) {
  SetReflectedClass(streamClass);
}

CScriptStream::~CScriptStream() {
  if (m_Value.Get()) {
    Close();
    LogF(LOG_ERROR, u"Script stream closed via garbage collection!");
  }
}

CTextReader* CScriptStream::GetReader() {
  if (!m_Value.Get()) return nullptr;
  if (!m_pReader) m_pReader.Reset(new (std::nothrow) CTextReader(m_Value.Get()));
  return m_pReader.Get();
}

void CScriptStream::Close() {
  // The reader holds its own reference to the stream: both go.
  m_pReader.Reset();
  m_Value = nullptr;
}

// -------------------------------------------------------------------------------------------------
// CNativeState

CNativeState::CNativeState(CScripting* scripting, CResource* resource, CArgumentArray* arguments)
    : m_pScripting(scripting), m_pResource(resource), m_pArguments(arguments) {
  ClearLastErrorText();
}

CArgument* CNativeState::GetArgument(int i) const {
  if (!m_pArguments || i < 0) return nullptr;
  return m_pArguments->Get(static_cast<std::uint32_t>(i));
}

bool CNativeState::Error(const char16_t* format, ...) {
  char16_t buffer[kErrorFormatCapacity];
  buffer[0] = u'\0';
  if (format) {
    va_list args;
    va_start(args, format);
    text::FormatV(buffer, kErrorFormatCapacity, format, args);
    va_end(args);
  }
  SetLastErrorText(buffer);
  m_bError = true;
  return false;
}

bool CNativeState::Expected(const char16_t* kind, int i) {
  return Error(u"Expected %s for argument %d", kind, i + 1);
}

bool CNativeState::CheckBoolean(int i, bool* value) {
  CArgument* argument = GetArgument(i);
  if (!argument || !argument->IsBoolean()) return Expected(u"boolean", i);
  if (value) *value = argument->ToBoolean();
  return true;
}

#define VEXIL_CHECK_NUMBER(Type, Kind)                               \
  bool CNativeState::CheckNumber(int i, Type* value) {               \
    CArgument* argument = GetArgument(i);                            \
    if (!argument || !argument->IsNumber()) return Expected(Kind, i); \
    Type number{};                                                   \
    argument->ToNumber(&number);                                     \
    if (value) *value = number;                                      \
    return true;                                                     \
  }
VEXIL_CHECK_NUMBER(std::int32_t, u"integer")
VEXIL_CHECK_NUMBER(std::uint32_t, u"integer")
VEXIL_CHECK_NUMBER(std::int64_t, u"integer")
VEXIL_CHECK_NUMBER(std::uint64_t, u"integer")
VEXIL_CHECK_NUMBER(float, u"number")
VEXIL_CHECK_NUMBER(double, u"number")
#undef VEXIL_CHECK_NUMBER

bool CNativeState::CheckNumber(int i, std::int8_t* value) { return CheckNarrowNumber<std::int32_t>(this, i, value); }
bool CNativeState::CheckNumber(int i, std::uint8_t* value) { return CheckNarrowNumber<std::uint32_t>(this, i, value); }
bool CNativeState::CheckNumber(int i, std::int16_t* value) { return CheckNarrowNumber<std::int32_t>(this, i, value); }
bool CNativeState::CheckNumber(int i, std::uint16_t* value) {
  return CheckNarrowNumber<std::uint32_t>(this, i, value);
}

const char16_t* CNativeState::CheckString(int i, std::uint32_t* length) {
  if (length) *length = 0;
  CArgument* argument = GetArgument(i);
  if (!argument || !argument->IsString()) {
    Expected(u"string", i);
    return nullptr;
  }
  return argument->ToString(length);
}

bool CNativeState::CheckVector2D(int i, CVector2D* value) {
  CArgument* argument = GetArgument(i);
  CVector2D result;
  if (argument && argument->IsVector2D()) {
    result = argument->ToVector2D();
  } else {
    float xy[kVector2DElements];
    if (!ReadNumberArray(argument, kVector2DElements, xy)) return Expected(u"Vector2D", i);
    result = {xy[0], xy[1]};
  }
  if (value) *value = result;
  return true;
}

bool CNativeState::CheckVector3D(int i, CVector3D* value) {
  CArgument* argument = GetArgument(i);
  CVector3D result;
  if (argument && argument->IsVector3D()) {
    result = argument->ToVector3D();
  } else {
    float xyz[kVector3DElements];
    if (!ReadNumberArray(argument, kVector3DElements, xyz)) return Expected(u"Vector3D", i);
    result = {xyz[0], xyz[1], xyz[2]};
  }
  if (value) *value = result;
  return true;
}

bool CNativeState::CheckMatrix4x4(int i, CMatrix4x4* value) {
  CArgument* argument = GetArgument(i);
  if (!argument || !argument->IsMatrix4x4()) return Expected(u"Matrix4x4", i);
  if (value) *value = argument->ToMatrix4x4();
  return true;
}

bool CNativeState::CheckObject(ReflectedClass* cls, int i, bool allowNull, CBaseObject** object) {
  if (object) *object = nullptr;
  const char16_t* kind = cls ? cls->GetName().c_str() : u"Instance";
  CArgument* argument = GetArgument(i);
  if (argument && allowNull && (argument->IsNil() || argument->IsUndefined())) return true;
  CBaseObject* candidate = argument && argument->IsObject() ? argument->ToObject() : nullptr;
  if (!candidate) return Expected(kind, i);
  // An object outside the reflection matches no class: asked for one, it is the wrong kind.
  if (cls && !IsDerivedFrom(candidate->GetReflectedClass(), cls)) return Expected(kind, i);
  if (object) *object = candidate;
  return true;
}

CBaseObject* CNativeState::CheckInstance(int i) {
  CBaseObject* object = nullptr;
  return CheckObject(nullptr, i, false, &object) ? object : nullptr;
}

CFunction* CNativeState::CheckFunction(int i) {
  CArgument* argument = GetArgument(i);
  CFunction* function = argument && argument->IsFunction() ? argument->ToFunction<CFunction>() : nullptr;
  if (!function) Expected(u"Function", i);
  return function;
}

Stream* CNativeState::CheckStream(unsigned int i) {
  VEXIL_ASSERT(m_pScripting);
  if (!m_pScripting) {
    Expected(u"Stream", static_cast<int>(i));
    return nullptr;
  }
  VEXIL_ASSERT(m_pScripting->m_Global.m_pStreamClass);
  ReflectedClass* streamClass = m_pScripting->m_Global.m_pStreamClass;
  CBaseObject* object = nullptr;
  if (!streamClass || !CheckObject(streamClass, static_cast<int>(i), false, &object)) {
    if (!streamClass) Expected(u"Stream", static_cast<int>(i));
    return nullptr;
  }
  // The class is the registry's, but only a script stream carries a stream.
  auto* scriptStream = dynamic_cast<CScriptStream*>(object);
  if (!scriptStream) {
    Expected(u"Stream", static_cast<int>(i));
    return nullptr;
  }
  if (!scriptStream->GetStream()) {
    Error(u"Stream closed");
    return nullptr;
  }
  return scriptStream->GetStream();
}

const std::uint8_t* CNativeState::CheckBytes(int i, std::uint32_t* size) {
  if (size) *size = 0;
  CArgument* argument = GetArgument(i);
  if (argument && argument->IsString())
    return reinterpret_cast<const std::uint8_t*>(static_cast<CArgumentString*>(argument)->GetUTF8(size));
  if (argument && argument->IsBytes()) return static_cast<CArgumentBytes*>(argument)->GetBytes(size);
  Expected(u"bytes", i);
  return nullptr;
}

bool CNativeState::GetThis(ReflectedClass* cls, CBaseObject** object) {
  if (object) *object = nullptr;
  CBaseObject* self = m_pThis.Get();
  if (!self) return Error(u"'this' is null");
  if (cls) {
    ReflectedClass* pInstanceClass = self->GetReflectedClass();
    VEXIL_ASSERT(pInstanceClass);
    if (!IsDerivedFrom(pInstanceClass, cls)) return Error(u"%s expected for 'this'", cls->GetName().c_str());
  }
  if (object) *object = self;
  return true;
}

// -------------------------------------------------------------------------------------------------
// Results

bool CNativeState::ReturnBoolean(bool value) { return m_Results.AppendBoolean(value); }
bool CNativeState::ReturnInteger(std::int32_t value) { return m_Results.AppendInteger(value); }
bool CNativeState::ReturnUnsigned(std::uint32_t value) { return m_Results.AppendLongInteger(value); }
bool CNativeState::ReturnLongInteger(std::int64_t value) { return m_Results.AppendLongInteger(value); }
bool CNativeState::ReturnFloat(float value) { return m_Results.AppendFloat(value); }
bool CNativeState::ReturnDouble(double value) { return m_Results.AppendDouble(value); }
bool CNativeState::ReturnString(const char16_t* text, std::uint32_t length) {
  return m_Results.AppendString(text ? text : u"", text ? length : 0);
}
bool CNativeState::ReturnVector2D(const CVector2D& value) { return m_Results.AppendVector2D(value); }
bool CNativeState::ReturnVector3D(const CVector3D& value) { return m_Results.AppendVector3D(value); }
bool CNativeState::ReturnMatrix4x4(const CMatrix4x4& value) {
  return m_Results.Adopt(new (std::nothrow) CArgumentMatrix4x4(value));
}
bool CNativeState::ReturnObject(CBaseObject* object) { return m_Results.AppendObject(object); }
bool CNativeState::ReturnFunction(CFunction* function) {
  if (!function) return m_Results.AppendNil();
  return m_Results.Adopt(new (std::nothrow) CArgumentFunction(function));
}

bool CNativeState::ReturnStream(Stream* stream) {
  if (!stream) return m_Results.AppendNil();
  ReflectedClass* streamClass = m_pScripting ? m_pScripting->m_Global.m_pStreamClass : nullptr;
  auto* scriptStream = new (std::nothrow) CScriptStream(stream, streamClass);
  if (!scriptStream) return false;
  const bool appended = m_Results.AppendObject(scriptStream);
  // The results hold the script stream now; an append that failed lets it go with its stream still
  // open, which is not a script's leak: close it quietly first.
  if (!appended) scriptStream->Close();
  scriptStream->Release();
  return appended;
}

}  // namespace Vexil3D
