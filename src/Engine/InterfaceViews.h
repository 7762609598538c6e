#pragma once
// The engine side of the native-module interfaces: the views (thin counted wrappers over engine objects)
// and CNativeStateImpl, the per-call view of a CNativeState.
//
// Errors: as the interfaces (result codes, false with the error text set). Ownership: object, stream,
// function, argument, array and map views are cached per wrapped thing and hold a reference on it; class
// views hold none and answer -5 once their class is gone. Locking: none; the game's main thread only.
#include <cstdint>
#include <memory>
#include <string>

#include <engine/Interfaces.h>
#include <engine/Native.h>

namespace Vexil3D::Interfaces {

// Views handed out with one reference for the caller (cached ones shared), or null for a null thing.
IBaseObject* GetObjectView(CBaseObject* object);
IStream* GetStreamView(Stream* stream);
IArgument* GetArgumentView(CArgument* argument);
IArray* GetArrayView(CArgumentArray* array);
IDictionary* GetDictionaryView(CArgumentMap* map);
IFunction* GetFunctionView(CFunction* function);
IReflectedClass* GetClassView(ReflectedClass* cls);
// The engine thing behind a view of this layer, or null.
CBaseObject* ObjectOf(IBaseObject* view);
CArgument* ArgumentOf(IArgument* view);
CArgumentArray* ArrayOf(IArray* view);
ReflectedClass* ClassOf(IReflectedClass* view);

class CNativeStateImpl final : public INativeState {
 public:
  static constexpr int kStringSlots = 64;

  explicit CNativeStateImpl(CNativeState* state) : m_pState(state) {}
  CNativeStateImpl(const CNativeStateImpl&) = delete;
  CNativeStateImpl& operator=(const CNativeStateImpl&) = delete;

  int QueryInterface(const GUID& iid, void** out) override;
  int AddRef() override { return ++m_iRefCount; }
  int Release() override { return --m_iRefCount; }  // on the stack: never deleted

  bool Error(const char* format, ...) override;
  int GetArgument(int index, IArgument** out) override;
  bool CheckBoolean(int index, bool* out) override { return m_pState->CheckBoolean(index, out); }
  bool CheckInt32(int index, std::int32_t* out) override { return m_pState->CheckNumber(index, out); }
  bool CheckUInt32(int index, std::uint32_t* out) override { return m_pState->CheckNumber(index, out); }
  bool CheckInt64(int index, std::int64_t* out) override { return m_pState->CheckNumber(index, out); }
  bool CheckUInt64(int index, std::uint64_t* out) override { return m_pState->CheckNumber(index, out); }
  bool CheckFloat(int index, float* out) override { return m_pState->CheckNumber(index, out); }
  bool CheckDouble(int index, double* out) override { return m_pState->CheckNumber(index, out); }
  const char* CheckString(int index, std::uint32_t* length) override;
  bool CheckVector2D(int index, float* x, float* y) override;
  bool CheckVector3D(int index, float* x, float* y, float* z) override;
  bool CheckVector4D(int, float*, float*, float*, float*) override { return false; }
  bool CheckMatrix4x4(int index, float* elements) override;
  bool CheckObject(IReflectedClass* cls, int index, bool optional, IBaseObject** out) override;
  bool CheckInstance(int index, IBaseObject** out) override;
  bool CheckFunction(int index, IFunction** out) override;
  bool CheckReserved(int, void** out) override;
  bool GetThis(IBaseObject** out, IReflectedClass* cls) override;
  int GetThisChecked(IBaseObject** out, IReflectedClass* cls) override;
  int ReturnArgument(IArgument* argument) override;
  int ReturnNull() override;
  int ReturnUndefined() override;
  int ReturnBoolean(bool value) override;
  int ReturnString(const char* text, std::uint32_t length) override;
  int ReturnString(const char* text) override;
  int ReturnInteger(std::int32_t value) override;
  int ReturnInteger(std::uint32_t value) override { return ReturnInteger(static_cast<std::int32_t>(value)); }
  int ReturnLongInteger(std::int64_t value) override;
  int ReturnLongInteger(std::uint64_t value) override { return ReturnLongInteger(static_cast<std::int64_t>(value)); }
  int ReturnFloat(float value) override { return ReturnDouble(value); }
  int ReturnDouble(double value) override;
  int ReturnVector2D(float x, float y) override;
  int ReturnVector3D(float x, float y, float z) override;
  int ReturnVector4D(float, float, float, float) override;
  int ReturnMatrix4x4(const float* elements) override;
  int ReturnObject(IBaseObject* object) override;
  int ReturnStream(IStream* stream) override;

 private:
  // -7 once the call has a value.
  bool HasReturn() const { return m_pState->GetResults().GetCount() > 0; }

  int m_iRefCount = 1;
  CNativeState* m_pState;
  // The UTF-8 forms handed out, made on the first CheckString: most calls ask for none.
  std::unique_ptr<std::string[]> m_pStrings;
  bool m_bStringSet[kStringSlots] = {};
};

}  // namespace Vexil3D::Interfaces
