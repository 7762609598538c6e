#pragma once
// Native calls: the state a native function receives (CNativeState: arguments, "this", results and the
// error), the callable entry CFunction, objects that hold one value for scripts (CObjectValue) and the
// script-owned stream (CScriptStream).
//
// Errors: every failed check and Error() store their text as the last error text (Reflection.h), set
// the state's error flag and give false or null; nothing throws. Internal misuse (a state without a
// registry asked for a stream) is an engine assertion.
// Locking: none; a state lives for one call on the game's main thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <engine/Arguments.h>
#include <engine/Reflection.h>
#include <engine/Stream.h>
#include <engine/VexilBase.h>
#include <engine/VexilMath.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CScripting;
class CResource;

// A callable entry: an engine native, or a native of a module reached through the module-side view.
class CFunction : public CBaseObject {
 public:
  CFunction(std::u16string_view name, NativeFunction callback, ModuleNativeFunction moduleCallback, void* user);

  // The engine callback when there is one; else the module callback; else "Cannot call %s".
  bool Call(CNativeState* state, int argumentCount, void* user);
  bool Call(CNativeState* state, int argumentCount) { return Call(state, argumentCount, m_pUser); }

  const std::u16string& GetName() const { return m_Name; }
  void* GetUserValue() const { return m_pUser; }

 private:
  bool CallModule(CNativeState* state, int argumentCount, void* user);

  std::u16string m_Name;
  NativeFunction m_pCallback;
  ModuleNativeFunction m_pModuleCallback;
  void* m_pUser;
};

// Holds one value of T inside a counted object so that scripts can own it.
template <class T>
class CObjectValue : public CBaseObject {
 public:
  template <class... Args>
  explicit CObjectValue(Args&&... args) : m_Value(std::forward<Args>(args)...) {}

  T& GetValue() { return m_Value; }
  const T& GetValue() const { return m_Value; }

 protected:
  T m_Value;
};

// A stream handed to scripts. Closing releases the stream; a script stream that goes while its stream
// is open releases it and logs "Script stream closed via garbage collection!" at error level.
class CScriptStream : public CObjectValue<Strong<Stream>> {
 public:
  // Adds a reference to the stream; the object's reflected class is streamClass.
  CScriptStream(Stream* stream, ReflectedClass* streamClass);
  ~CScriptStream() override;

  // Null once closed.
  Stream* GetStream() const { return m_Value.Get(); }
  // The text reader over the stream, made on first use; null once closed.
  CTextReader* GetReader();
  void Close();

 private:
  AutoDelete<CTextReader> m_pReader;
};

class CNativeState {
 public:
  // Each state clears the last error text. The arguments are not counted here: the caller keeps them
  // for the call.
  CNativeState(CScripting* scripting, CResource* resource, CArgumentArray* arguments);
  CNativeState(const CNativeState&) = delete;
  CNativeState& operator=(const CNativeState&) = delete;

  CScripting* GetScripting() const { return m_pScripting; }
  CResource* GetResource() const { return m_pResource; }
  CArgumentArray* GetArguments() const { return m_pArguments; }
  std::uint32_t GetArgumentCount() const { return m_pArguments ? m_pArguments->GetCount() : 0; }
  // Argument i (from 0), null past the end.
  CArgument* GetArgument(int i) const;
  CReturnValue& GetResults() { return m_Results; }
  bool HasError() const { return m_bError; }
  CBaseObject* GetThisObject() const { return m_pThis.Get(); }
  void SetThis(CBaseObject* object) { m_pThis = object; }

  // Checks of argument i. A missing argument or one of another kind gives
  // Error("Expected %s for argument %d", kind, i + 1) and false or null.
  bool CheckBoolean(int i, bool* value);
  bool CheckNumber(int i, std::int8_t* value);
  bool CheckNumber(int i, std::uint8_t* value);
  bool CheckNumber(int i, std::int16_t* value);
  bool CheckNumber(int i, std::uint16_t* value);
  bool CheckNumber(int i, std::int32_t* value);
  bool CheckNumber(int i, std::uint32_t* value);
  bool CheckNumber(int i, std::int64_t* value);
  bool CheckNumber(int i, std::uint64_t* value);
  bool CheckNumber(int i, float* value);
  bool CheckNumber(int i, double* value);
  const char16_t* CheckString(int i, std::uint32_t* length);
  // A Vector2D, or an array of exactly two numbers.
  bool CheckVector2D(int i, CVector2D* value);
  // A Vector3D, or an array of exactly three numbers.
  bool CheckVector3D(int i, CVector3D* value);
  bool CheckMatrix4x4(int i, CMatrix4x4* value);
  // An object whose class is cls or derives from it (any object when cls is null); nil or undefined
  // give null when allowNull is set. An object without a class does not match a class asked.
  bool CheckObject(ReflectedClass* cls, int i, bool allowNull, CBaseObject** object);
  CBaseObject* CheckInstance(int i);
  CFunction* CheckFunction(int i);
  // The open stream of a script stream of the registry's "Stream" class; "Stream closed" once closed.
  Stream* CheckStream(unsigned int i);
  // A string's UTF-8 form (converted once and kept in the argument) or a bytes argument's bytes.
  const std::uint8_t* CheckBytes(int i, std::uint32_t* size);

  // "this" of class cls or derived (any object when cls is null).
  bool GetThis(ReflectedClass* cls, CBaseObject** object);

  // Formats (at most 4095 units), stores the text as the last error text, sets the error flag; false.
  // Names go in as arguments, never as the format.
  bool Error(const char16_t* format, ...);

  // Result appenders: each appends one new argument to the results.
  bool ReturnBoolean(bool value);
  bool ReturnInteger(std::int32_t value);
  // As a 64-bit integer, so that values above INT32_MAX keep their sign.
  bool ReturnUnsigned(std::uint32_t value);
  bool ReturnLongInteger(std::int64_t value);
  bool ReturnFloat(float value);
  bool ReturnDouble(double value);
  bool ReturnString(const char16_t* text, std::uint32_t length);
  bool ReturnVector2D(const CVector2D& value);
  bool ReturnVector3D(const CVector3D& value);
  bool ReturnMatrix4x4(const CMatrix4x4& value);
  // Adds a reference; null appends nil.
  bool ReturnObject(CBaseObject* object);
  // Adds a reference; null appends nil.
  bool ReturnFunction(CFunction* function);
  // Wraps the stream in a new CScriptStream of the registry's "Stream" class; null appends nil.
  bool ReturnStream(Stream* stream);

 private:
  bool Expected(const char16_t* kind, int i);

  CScripting* m_pScripting;
  CResource* m_pResource;
  CArgumentArray* m_pArguments;
  CReturnValue m_Results;
  bool m_bError = false;
  Weak<CBaseObject> m_pThis;
};

}  // namespace Vexil3D
