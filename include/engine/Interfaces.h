#pragma once
// The native-module interfaces (namespace Vexil3D::Interfaces): the binary contract through which a native
// module, compiled apart from the engine, reads a call's arguments, returns values and works with engine
// objects. Each interface is a table of virtual slots in the exact order below; the order is the contract, so
// IUnknown has no virtual destructor and this header needs no engine header.
//
// Errors: no slot throws. Int results are 0 for success or one of the kResult codes; bool results are false
// with the engine's error text set. "out" parameters receive a view holding a reference that the caller
// releases. Locking: none; modules are called on the game's main thread.
#include <cstdint>

#include <platform/guid.h>

namespace Vexil3D::Interfaces {

// Result codes of the layer.
constexpr int kResultOk = 0;
constexpr int kResultFailed = -1;        // the call failed (script error raised, or a class check failed)
constexpr int kResultUnavailable = -2;   // not available or already present
constexpr int kResultRefused = -3;       // registration failed
constexpr int kResultOutOfRange = -4;    // index out of range
constexpr int kResultNotFound = -5;      // not found or wrong kind
constexpr int kResultNullPointer = -6;   // a required pointer is null
constexpr int kResultWrongState = -7;    // a return value is set already, or the argument is of another kind

// 8D078537-E58F-4373-8487-5D2D09E67415
constexpr GUID IID_IBaseObject = {0x8D078537, 0xE58F, 0x4373, {0x84, 0x87, 0x5D, 0x2D, 0x09, 0xE6, 0x74, 0x15}};
// 36D26F66-3E21-4251-858B-91D01DCB9CAE
constexpr GUID IID_IStream = {0x36D26F66, 0x3E21, 0x4251, {0x85, 0x8B, 0x91, 0xD0, 0x1D, 0xCB, 0x9C, 0xAE}};
// F3903BDB-425E-4B9D-AC1B-6B10C502BF63
constexpr GUID IID_IArgument = {0xF3903BDB, 0x425E, 0x4B9D, {0xAC, 0x1B, 0x6B, 0x10, 0xC5, 0x02, 0xBF, 0x63}};
// B82BEF65-9B8A-401E-93DF-AEF05DA65E8A
constexpr GUID IID_IArray = {0xB82BEF65, 0x9B8A, 0x401E, {0x93, 0xDF, 0xAE, 0xF0, 0x5D, 0xA6, 0x5E, 0x8A}};
// D2218297-376A-46D5-9384-FC43BF3B6634
constexpr GUID IID_IDictionary = {0xD2218297, 0x376A, 0x46D5, {0x93, 0x84, 0xFC, 0x43, 0xBF, 0x3B, 0x66, 0x34}};
// 4BCAB029-1F06-4D41-9625-21D27750B501
constexpr GUID IID_IFunction = {0x4BCAB029, 0x1F06, 0x4D41, {0x96, 0x25, 0x21, 0xD2, 0x77, 0x50, 0xB5, 0x01}};
// 71B5C863-8985-4A8C-BC68-F5264AEE78F9
constexpr GUID IID_INativeState = {0x71B5C863, 0x8985, 0x4A8C, {0xBC, 0x68, 0xF5, 0x26, 0x4A, 0xEE, 0x78, 0xF9}};
// 0BA8F85D-9886-40FF-8CF0-90CB1F9A6D8A
constexpr GUID IID_IReflectedClass = {0x0BA8F85D, 0x9886, 0x40FF, {0x8C, 0xF0, 0x90, 0xCB, 0x1F, 0x9A, 0x6D, 0x8A}};
// Defined beside them and answered by no view.
constexpr GUID IID_Reserved1 = {0x7236C5A7, 0x6FE2, 0x4607, {0xB7, 0x07, 0x9D, 0xBF, 0x40, 0x11, 0x24, 0xAF}};
constexpr GUID IID_Reserved2 = {0xC12D55C6, 0x5C90, 0x41A9, {0xAA, 0x43, 0x5E, 0xE2, 0x71, 0x5C, 0x40, 0xA5}};
constexpr GUID IID_Reserved3 = {0x4AC30720, 0x6D9F, 0x4DFD, {0xBC, 0x80, 0x6D, 0x6A, 0x02, 0x3D, 0xD0, 0xD1}};
constexpr GUID IID_Reserved4 = {0x0562748A, 0x7392, 0x4489, {0xB2, 0xF5, 0x10, 0x60, 0x32, 0x7F, 0xA2, 0xC8}};
constexpr GUID IID_Reserved5 = {0xF854DDA8, 0xFD5A, 0x4638, {0xB3, 0x91, 0x71, 0xFD, 0x58, 0xE5, 0x8F, 0x57}};

class IArgument;
class IBaseObject;
class IFunction;
class INativeState;
class IReflectedClass;
class IStream;

// A module native: false means an error whose text the state holds.
using ModuleCallback = bool (*)(INativeState* state, int argumentCount, void* user);
// Told of an object's end with a view of the object (valid only during the call) and the context given.
using DestructionCallback = void (*)(IBaseObject* object, void* context);

class IUnknown {
 public:
  // 0 and an added reference when the view answers iid; -6 for a null out; -5 otherwise.
  virtual int QueryInterface(const GUID& iid, void** out) = 0;
  virtual int AddRef() = 0;
  // At 0 the view goes.
  virtual int Release() = 0;
};

class IBaseObject : public IUnknown {
 public:
  virtual void SetValue(std::uint32_t value) = 0;
  virtual std::uint32_t GetValue() = 0;
  // 0 when the object's class is the class or derives from it, 1 otherwise, -6 for null.
  virtual int IsInstanceOf(IReflectedClass* cls) = 0;
  // -6 for a null callback, -2 when the object has user data already.
  virtual int AddUserData(DestructionCallback callback, void* context) = 0;
  // -6 for null; -5 (the object unchanged) when the view's class was deleted.
  virtual int SetReflectedClass(IReflectedClass* cls) = 0;
  // out null when the object has no class; -6 for a null out.
  virtual int GetReflectedClass(IReflectedClass** out) = 0;
};

class IStream : public IUnknown {};

class IArgument : public IUnknown {
 public:
  virtual int Clone(IArgument** out) = 0;
  virtual std::uint8_t GetType() = 0;
  virtual const char* GetTypeName() = 0;
  virtual bool IsNull() = 0;
  virtual bool IsBoolean() = 0;
  virtual bool IsString() = 0;
  virtual bool IsObject() = 0;
  virtual bool IsVector2D() = 0;
  virtual bool IsVector3D() = 0;
  virtual bool IsVector4D() = 0;
  virtual bool IsMatrix4x4() = 0;
  virtual bool IsNumber() = 0;
  virtual bool IsArray() = 0;
  virtual bool IsMap() = 0;
  virtual bool IsFunction() = 0;
  // 0 when the boolean is true, 1 when false.
  virtual int ToBoolean() = 0;
  // UTF-8, kept by the view until the next call.
  virtual int ToString(const char** out, std::uint32_t* length) = 0;
  virtual int ToObject(IBaseObject** out, IReflectedClass* cls) = 0;
  virtual int ToVector2D(float* x, float* y) = 0;
  virtual int ToVector3D(float* x, float* y, float* z) = 0;
  // Not available: -2.
  virtual int ToVector4D(float* x, float* y, float* z, float* w) = 0;
  virtual int ToMatrix4x4(float* elements) = 0;
  virtual int ToInt32(std::int32_t* out) = 0;
  virtual int ToUInt32(std::uint32_t* out) = 0;
  virtual int ToInt64(std::int64_t* out) = 0;
  virtual int ToUInt64(std::uint64_t* out) = 0;
  virtual int ToFloat(float* out) = 0;
  virtual int ToDouble(double* out) = 0;
  virtual int ToFunction(IFunction** out) = 0;
  virtual int ToStream(IStream** out) = 0;
};

class IArray : public IUnknown {
 public:
  virtual int GetCount() = 0;
  // -4 (out null) out of range, -6 for a null out.
  virtual int Get(int index, IArgument** out) = 0;
  virtual int Clear() = 0;
  virtual int ClearAndReserve(int count) = 0;
  virtual int Append(IArgument* argument) = 0;
  // Copies of the other array's elements; the array itself changes nothing.
  virtual int Assign(IArray* other) = 0;
};

class IDictionary : public IUnknown {
 public:
  virtual int Clear() = 0;
  virtual int ClearAndReserve(int count) = 0;
  virtual int Remove(const char* key) = 0;
  virtual int Get(const char* key, IArgument** out) = 0;
  virtual int Set(const char* key, IArgument* value) = 0;
};

class IFunction : public IUnknown {
 public:
  // 0, or -1 when the call failed; the callee's results are copied into results when given.
  virtual int Call(IArray* arguments, IArray* results) = 0;
};

class IReflectedClass : public IUnknown {
 public:
  virtual const char* GetName() = 0;
  virtual int Clear() = 0;
  virtual int IsDerivedFrom(IReflectedClass* base) = 0;
  virtual int SetConstructor(const char* name, ModuleCallback callback, void* user) = 0;
  virtual int SetClone(ModuleCallback callback, void* user) = 0;
  virtual int SetMove(ModuleCallback callback, void* user) = 0;
  virtual int SetToString(ModuleCallback callback, void* user) = 0;
  virtual int AddMethod(const char* name, const char* typeSpec, ModuleCallback callback, void* user) = 0;
  virtual int AddProperty(std::uint32_t type, const char* name, std::uint32_t flags, ModuleCallback callback,
                          void* user) = 0;
};

class INativeState : public IUnknown {
 public:
  virtual bool Error(const char* format, ...) = 0;
  virtual int GetArgument(int index, IArgument** out) = 0;
  virtual bool CheckBoolean(int index, bool* out) = 0;
  virtual bool CheckInt32(int index, std::int32_t* out) = 0;
  virtual bool CheckUInt32(int index, std::uint32_t* out) = 0;
  virtual bool CheckInt64(int index, std::int64_t* out) = 0;
  virtual bool CheckUInt64(int index, std::uint64_t* out) = 0;
  virtual bool CheckFloat(int index, float* out) = 0;
  virtual bool CheckDouble(int index, double* out) = 0;
  // UTF-8 kept until the call ends; null for an index of 64 or more.
  virtual const char* CheckString(int index, std::uint32_t* length) = 0;
  virtual bool CheckVector2D(int index, float* x, float* y) = 0;
  virtual bool CheckVector3D(int index, float* x, float* y, float* z) = 0;
  virtual bool CheckVector4D(int index, float* x, float* y, float* z, float* w) = 0;
  virtual bool CheckMatrix4x4(int index, float* elements) = 0;
  virtual bool CheckObject(IReflectedClass* cls, int index, bool optional, IBaseObject** out) = 0;
  virtual bool CheckInstance(int index, IBaseObject** out) = 0;
  virtual bool CheckFunction(int index, IFunction** out) = 0;
  // Not available: false, out null.
  virtual bool CheckReserved(int index, void** out) = 0;
  virtual bool GetThis(IBaseObject** out, IReflectedClass* cls) = 0;
  // -6 null out; -5 no this object; -1 (error raised) when this is not of the class; 0 otherwise.
  virtual int GetThisChecked(IBaseObject** out, IReflectedClass* cls) = 0;
  // Each return slot answers -7 once a value is set: a call returns at most one value.
  virtual int ReturnArgument(IArgument* argument) = 0;
  virtual int ReturnNull() = 0;
  virtual int ReturnUndefined() = 0;
  virtual int ReturnBoolean(bool value) = 0;
  virtual int ReturnString(const char* text, std::uint32_t length) = 0;
  virtual int ReturnString(const char* text) = 0;
  virtual int ReturnInteger(std::int32_t value) = 0;
  virtual int ReturnInteger(std::uint32_t value) = 0;
  virtual int ReturnLongInteger(std::int64_t value) = 0;
  virtual int ReturnLongInteger(std::uint64_t value) = 0;
  virtual int ReturnFloat(float value) = 0;
  virtual int ReturnDouble(double value) = 0;
  virtual int ReturnVector2D(float x, float y) = 0;
  virtual int ReturnVector3D(float x, float y, float z) = 0;
  virtual int ReturnVector4D(float x, float y, float z, float w) = 0;
  virtual int ReturnMatrix4x4(const float* elements) = 0;
  virtual int ReturnObject(IBaseObject* object) = 0;
  virtual int ReturnStream(IStream* stream) = 0;
};

}  // namespace Vexil3D::Interfaces
