// Typed arguments: factory, getters, number conversions and the stream form.
#include <engine/Arguments.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include <engine/Context.h>
#include <engine/Stream.h>
#include <platform/process.h>
#include <platform/text.h>

namespace Vexil3D {

namespace {

// As an assertion that the user cancels: a getter with no value to give cannot return.
constexpr UINT kNoValueExitCode = 1;

const char* const kTypeNames[ARGUMENT_TYPE_COUNT] = {
    "ARGUMENT_NIL",       "ARGUMENT_BOOLEAN",    "ARGUMENT_STRING",   "ARGUMENT_TABLE",     "ARGUMENT_INTEGER",
    "ARGUMENT_FLOAT",     "ARGUMENT_NETOBJECT",  "ARGUMENT_OBJECT",   "ARGUMENT_VECTOR2D",  "ARGUMENT_VECTOR3D",
    "ARGUMENT_VECTOR4D",  "ARGUMENT_MATRIX4X4",  "ARGUMENT_UNDEFINED", "ARGUMENT_LUAREF",   "ARGUMENT_JSVALUE",
    "ARGUMENT_LONGINTEGER", "ARGUMENT_DOUBLE",   "ARGUMENT_ARRAY",    "ARGUMENT_MAP",       "ARGUMENT_FUNCTION",
    "ARGUMENT_SQREF",     "ARGUMENT_BYTES",
};

// Nesting of arrays and maps on this thread's current read, write, measure or clone. Hostile
// streams could otherwise nest deep enough to exhaust the stack.
thread_local unsigned t_NestingDepth = 0;

class NestingGuard {
 public:
  NestingGuard() : m_bEntered(t_NestingDepth < CArgument::kMaxNesting) {
    if (m_bEntered) ++t_NestingDepth;
  }
  ~NestingGuard() {
    if (m_bEntered) --t_NestingDepth;
  }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  explicit operator bool() const { return m_bEntered; }

 private:
  bool m_bEntered;
};

// Whether a container about to be written holds something that cannot be. The outermost container asks
// once for its whole tree, so that a refused value writes nothing instead of a count and some elements.
bool CannotWrite(CArgument* container) { return t_NestingDepth == 0 && !container->GetSerialisedSize(nullptr); }

bool ReadExact(Stream* stream, void* buffer, std::uint32_t size) {
  return stream && stream->Read(buffer, size) == size;
}

bool WriteExact(Stream* stream, const void* data, std::uint32_t size) {
  return stream && stream->Write(data, size) == size;
}

bool ReadTypeByte(Stream* stream, std::uint8_t* type) { return ReadExact(stream, type, 1); }

// Saturating truncation of a floating value into an integer type; NaN gives 0.
template <class T>
T FloatingToInteger(double value) {
  if (std::isnan(value)) return 0;
  const double high = std::ldexp(1.0, std::numeric_limits<T>::digits);  // first value above the range
  if (value >= high) return std::numeric_limits<T>::max();
  if constexpr (std::numeric_limits<T>::is_signed) {
    if (value <= -high) return std::numeric_limits<T>::min();
  } else {
    if (value <= 0.0) return 0;
  }
  return static_cast<T>(value);
}

float DoubleToFloat(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > static_cast<double>(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
  if (value < -static_cast<double>(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// The value of a number argument, as an integer or as a floating value.
struct NumberValue {
  bool isInteger;
  std::int64_t integer;
  double floating;
};

bool GetNumberValue(const CArgument* argument, NumberValue* out) {
  switch (argument->GetType()) {
    case ARGUMENT_INTEGER:
      *out = {true, static_cast<const CArgumentInteger*>(argument)->GetValue(), 0.0};
      return true;
    case ARGUMENT_LONGINTEGER:
      *out = {true, static_cast<const CArgumentLongInteger*>(argument)->GetValue(), 0.0};
      return true;
    case ARGUMENT_FLOAT:
      *out = {false, 0, static_cast<const CArgumentFloat*>(argument)->GetValue()};
      return true;
    case ARGUMENT_DOUBLE:
      *out = {false, 0, static_cast<const CArgumentDouble*>(argument)->GetValue()};
      return true;
    default:
      return false;
  }
}

template <class T>
bool ToIntegerNumber(const CArgument* argument, T* value) {
  NumberValue number;
  if (!GetNumberValue(argument, &number)) {
    if (value) *value = 0;
    return false;
  }
  if (value)
    *value = number.isInteger ? static_cast<T>(number.integer) : FloatingToInteger<T>(number.floating);
  return true;
}

}  // namespace

const char* GetArgumentTypeName(std::uint8_t type) {
  return type < ARGUMENT_TYPE_COUNT ? kTypeNames[type] : "ARGUMENT_UNKNOWN";
}

// -------------------------------------------------------------------------------------------------
// CArgument

CArgument* CArgument::Create(std::uint8_t type) {
  switch (type) {
    case ARGUMENT_NIL:
    case ARGUMENT_UNDEFINED: return new (std::nothrow) CArgument(type);
    case ARGUMENT_BOOLEAN: return new (std::nothrow) CArgumentBoolean();
    case ARGUMENT_STRING: return new (std::nothrow) CArgumentString();
    case ARGUMENT_INTEGER: return new (std::nothrow) CArgumentInteger();
    case ARGUMENT_FLOAT: return new (std::nothrow) CArgumentFloat();
    case ARGUMENT_VECTOR2D: return new (std::nothrow) CArgumentVector2D();
    case ARGUMENT_VECTOR3D: return new (std::nothrow) CArgumentVector3D();
    case ARGUMENT_MATRIX4X4: return new (std::nothrow) CArgumentMatrix4x4();
    case ARGUMENT_LONGINTEGER: return new (std::nothrow) CArgumentLongInteger();
    case ARGUMENT_DOUBLE: return new (std::nothrow) CArgumentDouble();
    case ARGUMENT_ARRAY: return new (std::nothrow) CArgumentArray();
    case ARGUMENT_MAP: return new (std::nothrow) CArgumentMap();
    case ARGUMENT_FUNCTION: return new (std::nothrow) CArgumentFunction();
    case ARGUMENT_BYTES: return new (std::nothrow) CArgumentBytes();
    default: return nullptr;  // no class for the id, or an object (made by its owner only)
  }
}

bool CArgument::Read(Stream*) { return IsNil() || IsUndefined(); }

bool CArgument::GetSerialisedSize(std::uint32_t* size) {
  if (!IsNil() && !IsUndefined()) return false;
  if (size) *size = 0;
  return true;
}

bool CArgument::Write(Stream*) { return IsNil() || IsUndefined(); }

CArgument* CArgument::Clone() {
  if (!IsNil() && !IsUndefined()) return nullptr;
  return WithContext(new (std::nothrow) CArgument(m_Type));
}

bool CArgument::ToBoolean() const {
  VEXIL_ASSERT(IsBoolean());
  if (!IsBoolean()) return false;
  return static_cast<const CArgumentBoolean*>(this)->GetValue();
}

const char16_t* CArgument::ToString(std::uint32_t* length) const {
  VEXIL_ASSERT(IsString());
  if (!IsString()) {
    if (length) *length = 0;
    return nullptr;
  }
  const std::u16string& value = static_cast<const CArgumentString*>(this)->GetValue();
  if (length) *length = static_cast<std::uint32_t>(value.size());
  return value.c_str();
}

CBaseObject* CArgument::ToObject() const {
  VEXIL_ASSERT(IsObject());
  if (!IsObject()) return nullptr;
  return static_cast<const CArgumentObject*>(this)->GetObject();
}

CVector2D CArgument::ToVector2D() const {
  VEXIL_ASSERT(IsVector2D());
  if (!IsVector2D()) return {};
  return static_cast<const CArgumentVector2D*>(this)->GetValue();
}

CVector3D CArgument::ToVector3D() const {
  VEXIL_ASSERT(IsVector3D());
  if (!IsVector3D()) return {};
  return static_cast<const CArgumentVector3D*>(this)->GetValue();
}

CVector4D CArgument::ToVector4D() const {
  VEXIL_ASSERT(IsVector4D());
  ExitProcess(kNoValueExitCode);
}

CMatrix4x4 CArgument::ToMatrix4x4() const {
  VEXIL_ASSERT(IsMatrix4x4());
  if (!IsMatrix4x4()) return {};
  return static_cast<const CArgumentMatrix4x4*>(this)->GetValue();
}

CBaseObject* CArgument::ToFunctionObject() const {
  VEXIL_ASSERT(IsFunction());
  if (!IsFunction()) return nullptr;
  return static_cast<const CArgumentFunction*>(this)->GetFunctionObject();
}

bool CArgument::ToNumber(int* value) const {
  VEXIL_ASSERT(IsNumber());
  return ToIntegerNumber(this, value);
}

bool CArgument::ToNumber(unsigned int* value) const {
  VEXIL_ASSERT(IsNumber());
  return ToIntegerNumber(this, value);
}

bool CArgument::ToNumber(std::int64_t* value) const {
  VEXIL_ASSERT(IsNumber());
  return ToIntegerNumber(this, value);
}

bool CArgument::ToNumber(std::uint64_t* value) const {
  VEXIL_ASSERT(IsNumber());
  return ToIntegerNumber(this, value);
}

bool CArgument::ToNumber(float* value) const {
  VEXIL_ASSERT(IsNumber());
  NumberValue number;
  if (!GetNumberValue(this, &number)) {
    if (value) *value = 0.0f;
    return false;
  }
  if (value)
    *value = number.isInteger ? static_cast<float>(number.integer) : DoubleToFloat(number.floating);
  return true;
}

bool CArgument::ToNumber(double* value) const {
  VEXIL_ASSERT(IsNumber());
  NumberValue number;
  if (!GetNumberValue(this, &number)) {
    if (value) *value = 0.0;
    return false;
  }
  if (value) *value = number.isInteger ? static_cast<double>(number.integer) : number.floating;
  return true;
}

// -------------------------------------------------------------------------------------------------
// Boolean, string, fixed-size values, bytes

bool CArgumentBoolean::Read(Stream* stream) {
  std::uint8_t byte;
  if (!ReadExact(stream, &byte, 1)) return false;
  m_bValue = byte != 0;
  return true;
}

bool CArgumentBoolean::GetSerialisedSize(std::uint32_t* size) {
  if (size) *size = 1;
  return true;
}

bool CArgumentBoolean::Write(Stream* stream) {
  const std::uint8_t byte = m_bValue ? 1 : 0;
  return WriteExact(stream, &byte, 1);
}

CArgument* CArgumentBoolean::Clone() { return WithContext(new (std::nothrow) CArgumentBoolean(m_bValue)); }

CArgumentString::CArgumentString(const char16_t* text, std::uint32_t length) : CArgument(ARGUMENT_STRING) {
  if (text) m_Value.assign(text, length);
}

void CArgumentString::SetValue(std::u16string_view text) {
  m_Value.assign(text);
  m_UTF8.clear();
  m_bHasUTF8 = false;
}

const char* CArgumentString::GetUTF8(std::uint32_t* size) {
  if (!m_bHasUTF8) {
    m_UTF8 = text::Utf16ToUtf8(m_Value);
    m_bHasUTF8 = true;
  }
  if (size) *size = static_cast<std::uint32_t>(m_UTF8.size());
  return m_UTF8.c_str();
}

bool CArgumentString::Read(Stream* stream) {
  std::uint32_t length = 0;
  std::unique_ptr<char16_t[]> text(ReadString(stream, &length, nullptr));
  if (!text) return false;
  SetValue(std::u16string_view(text.get(), length));
  return true;
}

bool CArgumentString::GetSerialisedSize(std::uint32_t* size) {
  std::uint32_t bytes = 0;
  GetUTF8(&bytes);
  if (size) *size = GetCompactIntegerSize(bytes) + bytes;
  return true;
}

bool CArgumentString::Write(Stream* stream) {
  return WriteString(stream, m_Value.c_str(), static_cast<std::uint32_t>(m_Value.size()));
}

CArgument* CArgumentString::Clone() { return WithContext(new (std::nothrow) CArgumentString(m_Value)); }

template <class T, std::uint8_t TypeId>
bool CArgumentFixed<T, TypeId>::Read(Stream* stream) {
  T value;
  if (!ReadExact(stream, &value, sizeof(T))) return false;
  m_Value = value;
  return true;
}

template <class T, std::uint8_t TypeId>
bool CArgumentFixed<T, TypeId>::GetSerialisedSize(std::uint32_t* size) {
  if (size) *size = sizeof(T);
  return true;
}

template <class T, std::uint8_t TypeId>
bool CArgumentFixed<T, TypeId>::Write(Stream* stream) {
  return WriteExact(stream, &m_Value, sizeof(T));
}

template <class T, std::uint8_t TypeId>
CArgument* CArgumentFixed<T, TypeId>::Clone() {
  return WithContext(new (std::nothrow) CArgumentFixed(m_Value));
}

template class CArgumentFixed<std::int32_t, ARGUMENT_INTEGER>;
template class CArgumentFixed<float, ARGUMENT_FLOAT>;
template class CArgumentFixed<std::int64_t, ARGUMENT_LONGINTEGER>;
template class CArgumentFixed<double, ARGUMENT_DOUBLE>;
template class CArgumentFixed<CVector2D, ARGUMENT_VECTOR2D>;
template class CArgumentFixed<CVector3D, ARGUMENT_VECTOR3D>;
template class CArgumentFixed<CMatrix4x4, ARGUMENT_MATRIX4X4>;

CArgumentBytes::CArgumentBytes(const void* data, std::uint32_t size) : CArgument(ARGUMENT_BYTES) {
  SetBytes(data, size);
}

const std::uint8_t* CArgumentBytes::GetBytes(std::uint32_t* size) const {
  if (size) *size = static_cast<std::uint32_t>(m_Bytes.size());
  return m_Bytes.data();
}

void CArgumentBytes::SetBytes(const void* data, std::uint32_t size) {
  if (!data) size = 0;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  m_Bytes.assign(bytes, bytes + size);
}

bool CArgumentBytes::Read(Stream* stream) {
  std::uint32_t count = 0;
  if (!ReadCompactInteger(stream, &count)) return false;
  // A count the stream cannot hold is refused before anything is allocated. No bytes at all is a
  // valid (empty) value.
  if (count > stream->GetRemaining()) return false;
  std::vector<std::uint8_t> bytes(count);
  if (count != 0 && !ReadExact(stream, bytes.data(), count)) return false;
  m_Bytes = std::move(bytes);
  return true;
}

bool CArgumentBytes::GetSerialisedSize(std::uint32_t* size) {
  const auto count = static_cast<std::uint32_t>(m_Bytes.size());
  if (size) *size = GetCompactIntegerSize(count) + count;
  return true;
}

bool CArgumentBytes::Write(Stream* stream) {
  const auto count = static_cast<std::uint32_t>(m_Bytes.size());
  if (!WriteCompactInteger(stream, count)) return false;
  return count == 0 || WriteExact(stream, m_Bytes.data(), count);
}

CArgument* CArgumentBytes::Clone() {
  auto* clone = new (std::nothrow) CArgumentBytes();
  if (clone) clone->m_Bytes = m_Bytes;
  return WithContext(clone);
}

// -------------------------------------------------------------------------------------------------
// Object and function

bool CArgumentObject::Read(Stream*) { return false; }
bool CArgumentObject::GetSerialisedSize(std::uint32_t*) { return false; }
bool CArgumentObject::Write(Stream*) { return false; }
CArgument* CArgumentObject::Clone() { return WithContext(new (std::nothrow) CArgumentObject(m_pObject.Get())); }

bool CArgumentFunction::Read(Stream*) {
  m_pFunction = nullptr;
  return true;
}

bool CArgumentFunction::GetSerialisedSize(std::uint32_t* size) {
  if (size) *size = 0;
  return true;
}

bool CArgumentFunction::Write(Stream*) { return true; }

CArgument* CArgumentFunction::Clone() {
  auto* clone = new (std::nothrow) CArgumentFunction();
  if (clone) clone->m_pFunction = m_pFunction;
  return WithContext(clone);
}

// -------------------------------------------------------------------------------------------------
// CArgumentArray

CArgumentArray::~CArgumentArray() { Clear(); }

void CArgumentArray::Clear() {
  std::vector<CArgument*> elements;
  elements.swap(m_Elements);
  for (CArgument* element : elements) element->Release();
}

bool CArgumentArray::Adopt(CArgument* argument) {
  if (!argument) return false;
  m_Elements.push_back(argument);
  return true;
}

bool CArgumentArray::Append(CArgument* argument) {
  if (!argument) return false;
  CArgument* clone = argument->Clone();
  if (!clone) clone = new (std::nothrow) CArgument(ARGUMENT_UNDEFINED);
  return Adopt(clone);
}

bool CArgumentArray::AppendObject(CBaseObject* object) {
  if (!object) return AppendNil();
  return Adopt(object->CreateArgument());
}

bool CArgumentArray::AppendNil() { return Adopt(new (std::nothrow) CArgument(ARGUMENT_NIL)); }
bool CArgumentArray::AppendBoolean(bool value) { return Adopt(new (std::nothrow) CArgumentBoolean(value)); }
bool CArgumentArray::AppendString(const char16_t* text, std::uint32_t length) {
  return Adopt(new (std::nothrow) CArgumentString(text, length));
}
bool CArgumentArray::AppendInteger(std::int32_t value) { return Adopt(new (std::nothrow) CArgumentInteger(value)); }
bool CArgumentArray::AppendLongInteger(std::int64_t value) {
  return Adopt(new (std::nothrow) CArgumentLongInteger(value));
}
bool CArgumentArray::AppendFloat(float value) { return Adopt(new (std::nothrow) CArgumentFloat(value)); }
bool CArgumentArray::AppendDouble(double value) { return Adopt(new (std::nothrow) CArgumentDouble(value)); }
bool CArgumentArray::AppendVector2D(const CVector2D& value) {
  return Adopt(new (std::nothrow) CArgumentVector2D(value));
}
bool CArgumentArray::AppendVector3D(const CVector3D& value) {
  return Adopt(new (std::nothrow) CArgumentVector3D(value));
}

bool CArgumentArray::AppendTo(CArgumentArray* other) const {
  if (!other || other == this) return false;
  bool ok = true;
  for (CArgument* element : m_Elements) ok = other->Append(element) && ok;
  return ok;
}

void CArgumentArray::MoveTo(CArgumentArray* other) {
  if (!other || other == this) return;
  other->m_Elements.insert(other->m_Elements.end(), m_Elements.begin(), m_Elements.end());
  m_Elements.clear();
}

bool CArgumentArray::Read(Stream* stream) {
  if (!stream) return false;
  Strong<Stream> hold(stream);
  NestingGuard guard;
  if (!guard) return false;
  std::uint8_t count;
  if (!ReadExact(stream, &count, 1)) return false;
  Clear();
  // Every element takes at least its type byte.
  if (count > stream->GetRemaining()) return false;
  Reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t type;
    if (!ReadTypeByte(stream, &type)) return false;
    CArgument* element = Create(type);
    if (!element) {
      LogF(LOG_WARN, u"CArgument::Create(%hs) - Failed. (Argument %u of %u)", GetArgumentTypeName(type), i + 1,
           static_cast<std::uint32_t>(count));
      return false;
    }
    element->SetContext(GetContext());
    if (!element->Read(stream)) {
      element->Release();
      return false;
    }
    Adopt(element);
  }
  return true;
}

bool CArgumentArray::GetSerialisedSize(std::uint32_t* size) {
  if (m_Elements.size() > kMaxSerialisedCount) return false;
  NestingGuard guard;
  if (!guard) return false;
  std::uint64_t total = 1;
  for (CArgument* element : m_Elements) {
    std::uint32_t elementSize = 0;
    if (!element->GetSerialisedSize(&elementSize)) return false;
    total += 1 + std::uint64_t(elementSize);
  }
  if (total > std::numeric_limits<std::uint32_t>::max()) return false;
  if (size) *size = static_cast<std::uint32_t>(total);
  return true;
}

bool CArgumentArray::Write(Stream* stream) {
  // The count is one byte: a longer array is refused outright rather than written with a count
  // that no longer matches its elements.
  if (!stream || m_Elements.size() > kMaxSerialisedCount || CannotWrite(this)) return false;
  NestingGuard guard;
  if (!guard) return false;
  const auto count = static_cast<std::uint8_t>(m_Elements.size());
  if (!WriteExact(stream, &count, 1)) return false;
  for (CArgument* element : m_Elements) {
    const std::uint8_t type = element->GetType();
    if (!WriteExact(stream, &type, 1) || !element->Write(stream)) return false;
  }
  return true;
}

bool CArgumentArray::CloneInto(CArgumentArray* clone) const {
  NestingGuard guard;
  if (!guard) return false;
  clone->SetContext(GetContext());
  clone->Reserve(GetCount());
  for (CArgument* element : m_Elements) {
    CArgument* copy = element->Clone();
    if (!copy) copy = new (std::nothrow) CArgument(ARGUMENT_UNDEFINED);
    if (!copy) return false;
    copy->SetContext(GetContext());
    clone->Adopt(copy);
  }
  return true;
}

CArgument* CArgumentArray::Clone() {
  auto* clone = new (std::nothrow) CArgumentArray();
  if (clone && !CloneInto(clone)) {
    clone->Release();
    return nullptr;
  }
  return clone;
}

CArgument* CReturnValue::Clone() {
  auto* clone = new (std::nothrow) CReturnValue();
  if (clone && !CloneInto(clone)) {
    clone->Release();
    return nullptr;
  }
  return clone;
}

// -------------------------------------------------------------------------------------------------
// CArgumentMap

CArgumentMap::~CArgumentMap() { Clear(); }

CArgument* CArgumentMap::Find(const char16_t* key) const {
  if (!key) return nullptr;
  return Find(std::u16string_view(key));
}

CArgument* CArgumentMap::Find(std::u16string_view key) const {
  const auto it = m_Entries.find(std::u16string(key));
  return it == m_Entries.end() ? nullptr : it->second;
}

void CArgumentMap::Set(std::u16string_view key, CArgument* argument) {
  auto it = m_Entries.find(std::u16string(key));
  if (it != m_Entries.end()) {
    if (it->second == argument) return;
    CArgument* old = it->second;
    if (argument) {
      it->second = argument;
    } else {
      m_Entries.erase(it);
    }
    old->Release();
    return;
  }
  if (argument) m_Entries.emplace(std::u16string(key), argument);
}

void CArgumentMap::Clear() {
  Entries entries;
  entries.swap(m_Entries);
  for (auto& [key, value] : entries) value->Release();
}

bool CArgumentMap::Read(Stream* stream) {
  if (!stream) return false;
  Strong<Stream> hold(stream);
  NestingGuard guard;
  if (!guard) return false;
  std::uint32_t count = 0;
  if (!ReadCompactInteger(stream, &count)) return false;
  Clear();
  // Every entry takes at least its type byte and the byte of an empty key.
  if (count > stream->GetRemaining() / 2) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t type;
    if (!ReadTypeByte(stream, &type)) return false;
    std::uint32_t keyLength = 0;
    std::unique_ptr<char16_t[]> key(ReadString(stream, &keyLength, nullptr));
    if (!key) return false;
    CArgument* value = Create(type);
    if (!value) {
      LogF(LOG_WARN, u"CArgument::Create(%hs) - Failed", GetArgumentTypeName(type));
      return false;
    }
    value->SetContext(GetContext());
    if (!value->Read(stream)) {
      value->Release();
      return false;
    }
    Set(std::u16string_view(key.get(), keyLength), value);
  }
  return true;
}

bool CArgumentMap::GetSerialisedSize(std::uint32_t* size) {
  NestingGuard guard;
  if (!guard) return false;
  std::uint64_t total = GetCompactIntegerSize(GetCount());
  for (auto& [key, value] : m_Entries) {
    std::uint32_t valueSize = 0;
    if (!value->GetSerialisedSize(&valueSize)) return false;
    total += 1 + std::uint64_t(GetStringSize(key.c_str(), static_cast<std::uint32_t>(key.size()))) + valueSize;
  }
  if (total > std::numeric_limits<std::uint32_t>::max()) return false;
  if (size) *size = static_cast<std::uint32_t>(total);
  return true;
}

bool CArgumentMap::Write(Stream* stream) {
  if (!stream || CannotWrite(this)) return false;
  NestingGuard guard;
  if (!guard) return false;
  if (!WriteCompactInteger(stream, GetCount())) return false;
  for (auto& [key, value] : m_Entries) {
    const std::uint8_t type = value->GetType();
    if (!WriteExact(stream, &type, 1)) return false;
    if (!WriteString(stream, key.c_str(), static_cast<std::uint32_t>(key.size()))) return false;
    if (!value->Write(stream)) return false;
  }
  return true;
}

CArgument* CArgumentMap::Clone() {
  NestingGuard guard;
  if (!guard) return nullptr;
  auto* clone = new (std::nothrow) CArgumentMap();
  if (!clone) return nullptr;
  clone->SetContext(GetContext());
  for (auto& [key, value] : m_Entries) {
    CArgument* copy = value->Clone();
    if (!copy) copy = new (std::nothrow) CArgument(ARGUMENT_UNDEFINED);
    if (!copy) {
      clone->Release();
      return nullptr;
    }
    copy->SetContext(GetContext());
    clone->m_Entries.emplace(key, copy);
  }
  return clone;
}

}  // namespace Vexil3D
