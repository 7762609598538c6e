#pragma once
// Typed argument values: native-call arguments and results, chunk attributes, event and timer
// arguments, and their stream form.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <engine/VexilAssert.h>
#include <engine/VexilBase.h>
#include <engine/VexilMath.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class Stream;
class CFunction;
class ReflectedClass;

enum ArgumentType : std::uint8_t {
  ARGUMENT_NIL = 0,
  ARGUMENT_BOOLEAN = 1,
  ARGUMENT_STRING = 2,
  ARGUMENT_TABLE = 3,
  ARGUMENT_INTEGER = 4,
  ARGUMENT_FLOAT = 5,
  ARGUMENT_NETOBJECT = 6,
  ARGUMENT_OBJECT = 7,
  ARGUMENT_VECTOR2D = 8,
  ARGUMENT_VECTOR3D = 9,
  ARGUMENT_VECTOR4D = 10,
  ARGUMENT_MATRIX4X4 = 11,
  ARGUMENT_UNDEFINED = 12,
  ARGUMENT_LUAREF = 13,
  ARGUMENT_JSVALUE = 14,
  ARGUMENT_LONGINTEGER = 15,
  ARGUMENT_DOUBLE = 16,
  ARGUMENT_ARRAY = 17,
  ARGUMENT_MAP = 18,
  ARGUMENT_FUNCTION = 19,
  ARGUMENT_SQREF = 20,
  ARGUMENT_BYTES = 21,
};
constexpr unsigned ARGUMENT_TYPE_COUNT = 22;

// The type's name as the log prints it ("ARGUMENT_TABLE"); "ARGUMENT_UNKNOWN" past the last id.
const char* GetArgumentTypeName(std::uint8_t type);

class CArgument : public CRefCounted {
 public:
  // Deepest nesting of arrays and maps that is read, written, measured or cloned.
  static constexpr unsigned kMaxNesting = 64;

  explicit CArgument(std::uint8_t type = ARGUMENT_NIL) : m_Type(type) {}

  // A new argument of the type with an empty or zero value, or null for ids without a class.
  static CArgument* Create(std::uint8_t type);

  // The payload (the type id is the container's business).
  virtual bool Read(Stream* stream);
  // False when the value cannot be serialised.
  virtual bool GetSerialisedSize(std::uint32_t* size);
  // False when the value cannot be serialised. An array or map that cannot (an element that cannot, or
  // an array of more than kMaxSerialisedCount elements at any depth) writes nothing at all; only a
  // failing stream leaves part of a value written.
  virtual bool Write(Stream* stream);
  virtual CArgument* Clone();

  std::uint8_t GetType() const { return m_Type; }
  void* GetContext() const { return m_pContext; }
  void SetContext(void* context) { m_pContext = context; }

  bool IsNil() const { return m_Type == ARGUMENT_NIL; }
  bool IsBoolean() const { return m_Type == ARGUMENT_BOOLEAN; }
  bool IsString() const { return m_Type == ARGUMENT_STRING; }
  bool IsInteger() const { return m_Type == ARGUMENT_INTEGER; }
  bool IsFloat() const { return m_Type == ARGUMENT_FLOAT; }
  bool IsObject() const { return m_Type == ARGUMENT_OBJECT; }
  bool IsVector2D() const { return m_Type == ARGUMENT_VECTOR2D; }
  bool IsVector3D() const { return m_Type == ARGUMENT_VECTOR3D; }
  bool IsVector4D() const { return m_Type == ARGUMENT_VECTOR4D; }
  bool IsMatrix4x4() const { return m_Type == ARGUMENT_MATRIX4X4; }
  bool IsUndefined() const { return m_Type == ARGUMENT_UNDEFINED; }
  bool IsLongInteger() const { return m_Type == ARGUMENT_LONGINTEGER; }
  bool IsDouble() const { return m_Type == ARGUMENT_DOUBLE; }
  bool IsArray() const { return m_Type == ARGUMENT_ARRAY; }
  bool IsMap() const { return m_Type == ARGUMENT_MAP; }
  bool IsFunction() const { return m_Type == ARGUMENT_FUNCTION; }
  bool IsBytes() const { return m_Type == ARGUMENT_BYTES; }
  bool IsNumber() const {
    return m_Type == ARGUMENT_INTEGER || m_Type == ARGUMENT_FLOAT || m_Type == ARGUMENT_LONGINTEGER ||
           m_Type == ARGUMENT_DOUBLE;
  }

  // Typed getters: each reports a getter of the wrong type and gives an empty value.
  bool ToBoolean() const;
  const char16_t* ToString(std::uint32_t* length = nullptr) const;
  CBaseObject* ToObject() const;
  // The object when its reflected class is the one asked or derives from it, else null.
  template <class RC>
  CBaseObject* ToObject(RC* pClass) const;
  CVector2D ToVector2D() const;
  CVector3D ToVector3D() const;
  // No argument class holds a four-component vector: there is no value to give, so this asserts
  // "IsVector4D()" and then ends the process.
  [[noreturn]] CVector4D ToVector4D() const;
  CMatrix4x4 ToMatrix4x4() const;
  template <class F = CFunction>
  F* ToFunction() const {
    return static_cast<F*>(ToFunctionObject());
  }

  // Number conversions between the four number types: integers widen or wrap; floating values
  // truncate toward zero into integer targets, saturating at the target's limits (NaN gives 0);
  // a double beyond float's range becomes an infinity of its sign.
  bool ToNumber(int* value) const;
  bool ToNumber(unsigned int* value) const;
  bool ToNumber(std::int64_t* value) const;
  bool ToNumber(std::uint64_t* value) const;
  bool ToNumber(float* value) const;
  bool ToNumber(double* value) const;

 protected:
  // The copy made by Clone starts with this argument's context.
  template <class T>
  T* WithContext(T* clone) const {
    if (clone) clone->SetContext(m_pContext);
    return clone;
  }

 private:
  CBaseObject* ToFunctionObject() const;

  [[maybe_unused]] std::uint32_t m_uReserved = 0;  // a word of the argument record that nothing reads
  void* m_pContext = nullptr;
  std::uint8_t m_Type;
};

class CArgumentBoolean : public CArgument {
 public:
  explicit CArgumentBoolean(bool value = false) : CArgument(ARGUMENT_BOOLEAN), m_bValue(value) {}
  bool GetValue() const { return m_bValue; }
  void SetValue(bool value) { m_bValue = value; }

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

 private:
  bool m_bValue;
};

class CArgumentString : public CArgument {
 public:
  CArgumentString() : CArgument(ARGUMENT_STRING) {}
  CArgumentString(const char16_t* text, std::uint32_t length);
  explicit CArgumentString(std::u16string_view text) : CArgument(ARGUMENT_STRING), m_Value(text) {}

  const std::u16string& GetValue() const { return m_Value; }
  void SetValue(std::u16string_view text);
  // The UTF-8 form, converted once and kept.
  const char* GetUTF8(std::uint32_t* size);

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

 private:
  std::u16string m_Value;
  std::string m_UTF8;
  bool m_bHasUTF8 = false;
};

// Fixed-size payloads written as their little-endian bytes.
template <class T, std::uint8_t TypeId>
class CArgumentFixed : public CArgument {
 public:
  explicit CArgumentFixed(const T& value = T{}) : CArgument(TypeId), m_Value(value) {}
  const T& GetValue() const { return m_Value; }
  void SetValue(const T& value) { m_Value = value; }

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

 private:
  T m_Value;
};

using CArgumentInteger = CArgumentFixed<std::int32_t, ARGUMENT_INTEGER>;
using CArgumentFloat = CArgumentFixed<float, ARGUMENT_FLOAT>;
using CArgumentLongInteger = CArgumentFixed<std::int64_t, ARGUMENT_LONGINTEGER>;
using CArgumentDouble = CArgumentFixed<double, ARGUMENT_DOUBLE>;
using CArgumentVector2D = CArgumentFixed<CVector2D, ARGUMENT_VECTOR2D>;
using CArgumentVector3D = CArgumentFixed<CVector3D, ARGUMENT_VECTOR3D>;
using CArgumentMatrix4x4 = CArgumentFixed<CMatrix4x4, ARGUMENT_MATRIX4X4>;

extern template class CArgumentFixed<std::int32_t, ARGUMENT_INTEGER>;
extern template class CArgumentFixed<float, ARGUMENT_FLOAT>;
extern template class CArgumentFixed<std::int64_t, ARGUMENT_LONGINTEGER>;
extern template class CArgumentFixed<double, ARGUMENT_DOUBLE>;
extern template class CArgumentFixed<CVector2D, ARGUMENT_VECTOR2D>;
extern template class CArgumentFixed<CVector3D, ARGUMENT_VECTOR3D>;
extern template class CArgumentFixed<CMatrix4x4, ARGUMENT_MATRIX4X4>;

class CArgumentBytes : public CArgument {
 public:
  CArgumentBytes() : CArgument(ARGUMENT_BYTES) {}
  CArgumentBytes(const void* data, std::uint32_t size);

  const std::uint8_t* GetBytes(std::uint32_t* size) const;
  void SetBytes(const void* data, std::uint32_t size);

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

 private:
  std::vector<std::uint8_t> m_Bytes;
};

// Holds an engine object (one reference); made by CBaseObject::CreateArgument. Never serialised.
class CArgumentObject : public CArgument {
 public:
  explicit CArgumentObject(CBaseObject* object = nullptr) : CArgument(ARGUMENT_OBJECT), m_pObject(object) {}
  CBaseObject* GetObject() const { return m_pObject.Get(); }

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

 private:
  Strong<CBaseObject> m_pObject;
};

// Holds a callable function (one reference). The stream form carries no function.
class CArgumentFunction : public CArgument {
 public:
  CArgumentFunction() : CArgument(ARGUMENT_FUNCTION) {}
  template <class F>
  explicit CArgumentFunction(F* function) : CArgument(ARGUMENT_FUNCTION), m_pFunction(function) {}

  CBaseObject* GetFunctionObject() const { return m_pFunction.Get(); }
  template <class F>
  void SetFunction(F* function) {
    m_pFunction = function;
  }

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

 private:
  Strong<CBaseObject> m_pFunction;
};

// The stream forms of arrays and maps: an array or map holding an element that cannot be serialised (an
// object, or a nested value that cannot) reports no size (GetSerialisedSize false) rather than a size that
// leaves the element out, since such a size would announce bytes that no Write produces; Write fails on it
// too. Reading, a count larger than the bytes left in the stream (each element takes at least its type
// byte, each map entry also its key's count byte) fails before anything is read or reserved: a count comes
// from the sender and must not size an allocation by itself.
class CArgumentArray : public CArgument {
 public:
  // At most this many elements fit the one-byte count of the stream form.
  static constexpr std::uint32_t kMaxSerialisedCount = 255;

  CArgumentArray() : CArgument(ARGUMENT_ARRAY) {}

  std::uint32_t GetCount() const { return static_cast<std::uint32_t>(m_Elements.size()); }
  CArgument* Get(std::uint32_t index) const { return index < m_Elements.size() ? m_Elements[index] : nullptr; }
  void Clear();
  void Reserve(std::uint32_t count) { m_Elements.reserve(count); }

  // Appends a clone (Undefined when the argument cannot be cloned).
  bool Append(CArgument* argument);
  // Appends the argument itself, taking over the caller's reference.
  bool Adopt(CArgument* argument);
  // The object's own argument, or Nil for null.
  bool AppendObject(CBaseObject* object);
  bool AppendNil();
  bool AppendBoolean(bool value);
  bool AppendString(const char16_t* text, std::uint32_t length);
  bool AppendInteger(std::int32_t value);
  bool AppendLongInteger(std::int64_t value);
  bool AppendFloat(float value);
  bool AppendDouble(double value);
  bool AppendVector2D(const CVector2D& value);
  bool AppendVector3D(const CVector3D& value);
  // Clones of every element onto the end of another array.
  bool AppendTo(CArgumentArray* other) const;
  // Every element onto the end of another array; this one is left empty.
  void MoveTo(CArgumentArray* other);

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

  ~CArgumentArray() override;

 protected:
  bool CloneInto(CArgumentArray* clone) const;

 private:
  std::vector<CArgument*> m_Elements;
};

class CArgumentMap : public CArgument {
 public:
  using Entries = std::map<std::u16string, CArgument*>;

  CArgumentMap() : CArgument(ARGUMENT_MAP) {}

  std::uint32_t GetCount() const { return static_cast<std::uint32_t>(m_Entries.size()); }
  CArgument* Find(const char16_t* key) const;
  CArgument* Find(std::u16string_view key) const;
  // Stores the argument under the key, taking over the caller's reference; the value it replaces
  // is released. Setting the value the key already holds changes nothing; null removes the key.
  void Set(std::u16string_view key, CArgument* argument);
  void Clear();
  const Entries& GetEntries() const { return m_Entries; }

  bool Read(Stream* stream) override;
  bool GetSerialisedSize(std::uint32_t* size) override;
  bool Write(Stream* stream) override;
  CArgument* Clone() override;

  ~CArgumentMap() override;

 private:
  Entries m_Entries;
};

// The results of a native call.
class CReturnValue : public CArgumentArray {
 public:
  CReturnValue() { Reserve(1); }
  CArgument* Clone() override;
};

// -------------------------------------------------------------------------------------------------

template <class RC>
CBaseObject* CArgument::ToObject(RC* pClass) const {
  CBaseObject* pObject = ToObject();
  VEXIL_ASSERT(pObject);
  if (!pObject) return nullptr;
  RC* pInstanceClass = static_cast<RC*>(pObject->GetReflectedClass());
  VEXIL_ASSERT(pInstanceClass);
  if (!pInstanceClass) return nullptr;
  return IsDerivedFrom(pInstanceClass, pClass) ? pObject : nullptr;
}

}  // namespace Vexil3D
