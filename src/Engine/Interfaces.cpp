// The native-module interface views over engine objects, arguments, functions and classes, and the per-call
// state view CNativeStateImpl.
#include "InterfaceViews.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include <engine/Reflection.h>
#include <platform/text.h>

namespace Vexil3D::Interfaces {

namespace {

constexpr std::size_t kFormatCapacity = 4096;
constexpr std::size_t kTypeNameCapacity = 32;
constexpr std::size_t kMatrixElements = 16;
constexpr int kNo = 1;

const char* const kTypeNames[] = {"null",      "boolean",   "string",   "table",  "integer", "number",
                                  "element",   "instance",  "Vector2D", "Vector3D", "Vector4D", "Matrix4x4",
                                  "undefined", "luaref",    "jsvalue",  "integer", "number",  "array",
                                  "map",       "function",  "sqref",    "bytes"};

int Answer(void** out, IUnknown* view) {
  *out = view;
  return kResultOk;
}

// A counted view; the last Release deletes it. The destructor slot comes after the interface's slots.
template <class Interface>
class CountedView : public Interface {
 public:
  int AddRef() override { return ++m_iRefCount; }
  int Release() override {
    const int count = --m_iRefCount;
    if (count == 0) delete this;
    return count;
  }
  virtual ~CountedView() = default;

 private:
  int m_iRefCount = 1;
};

// One view per wrapped thing: the cache entry goes with the view.
template <class View, class Thing>
std::unordered_map<Thing*, View*>& Cache() {
  static std::unordered_map<Thing*, View*> cache;
  return cache;
}

template <class View, class Thing>
View* Cached(Thing* thing) {
  if (!thing) return nullptr;
  auto& cache = Cache<View, Thing>();
  auto found = cache.find(thing);
  if (found != cache.end()) {
    found->second->AddRef();
    return found->second;
  }
  auto* view = new View(thing);
  cache.emplace(thing, view);
  return view;
}

// -------------------------------------------------------------------------------------------------
// Objects, streams and functions

class CBaseObjectImpl : public CountedView<IBaseObject> {
 public:
  // A cached view holds a reference; a detached one (for a destruction callback) holds none.
  explicit CBaseObjectImpl(CBaseObject* object, bool counted = true) : m_pObject(object), m_bCounted(counted) {
    if (m_bCounted) m_pObject->AddRef();
  }
  ~CBaseObjectImpl() override {
    if (!m_bCounted || !m_pObject) return;
    Cache<CBaseObjectImpl, CBaseObject>().erase(m_pObject);
    m_pObject->Release();
  }
  void Detach() { m_pObject = nullptr; }
  CBaseObject* GetObject() const { return m_pObject; }

  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IBaseObject) return AddRef(), Answer(out, this);
    if (iid == IID_IStream)
      if (auto* stream = dynamic_cast<Stream*>(m_pObject)) return Answer(out, GetStreamView(stream));
    return kResultNotFound;
  }
  void SetValue(std::uint32_t value) override {
    if (m_pObject) m_pObject->SetModuleValue(value);
  }
  std::uint32_t GetValue() override { return m_pObject ? m_pObject->GetModuleValue() : 0; }
  int IsInstanceOf(IReflectedClass* cls) override {
    if (!cls) return kResultNullPointer;
    if (!m_pObject) return kResultNotFound;
    return Vexil3D::IsDerivedFrom(m_pObject->GetReflectedClass(), ClassOf(cls)) ? kResultOk : kNo;
  }
  int AddUserData(DestructionCallback callback, void* context) override;
  int SetReflectedClass(IReflectedClass* cls) override {
    if (!cls) return kResultNullPointer;
    // A view whose class was deleted names no class: taking it would clear the object's class.
    if (!m_pObject || !ClassOf(cls)) return kResultNotFound;
    m_pObject->SetReflectedClass(ClassOf(cls));
    return kResultOk;
  }
  int GetReflectedClass(IReflectedClass** out) override {
    if (!out) return kResultNullPointer;
    *out = m_pObject ? GetClassView(m_pObject->GetReflectedClass()) : nullptr;
    return kResultOk;
  }

 private:
  CBaseObject* m_pObject;
  bool m_bCounted;
};

// Tells a module of its object's end. The view it hands over holds no reference (the object is going) and
// is detached when the callback returns, so a module that kept it reaches nothing.
class CEventDestruction : public IUserData {
 public:
  CEventDestruction(CBaseObject* object, DestructionCallback callback, void* context)
      : m_pObject(object), m_pCallback(callback), m_pContext(context) {}
  ~CEventDestruction() override {
    auto* view = new CBaseObjectImpl(m_pObject, false);
    m_pCallback(view, m_pContext);
    view->Detach();
    view->Release();
  }

 private:
  CBaseObject* m_pObject;
  DestructionCallback m_pCallback;
  void* m_pContext;
};

int CBaseObjectImpl::AddUserData(DestructionCallback callback, void* context) {
  if (!callback) return kResultNullPointer;
  if (!m_pObject) return kResultNotFound;
  if (m_pObject->GetUserData(0)) return kResultUnavailable;
  m_pObject->AddUserData(new CEventDestruction(m_pObject, callback, context));
  return kResultOk;
}

class CStreamImpl : public CountedView<IStream> {
 public:
  explicit CStreamImpl(Stream* stream) : m_pStream(stream) {}
  ~CStreamImpl() override { Cache<CStreamImpl, Stream>().erase(m_pStream.Get()); }
  Stream* GetStream() const { return m_pStream.Get(); }
  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IStream) return AddRef(), Answer(out, this);
    if (iid == IID_IBaseObject) return Answer(out, GetObjectView(m_pStream.Get()));
    return kResultNotFound;
  }

 private:
  Strong<Stream> m_pStream;
};

class CFunctionImpl : public CountedView<IFunction> {
 public:
  explicit CFunctionImpl(CFunction* function) : m_pFunction(function) {}
  ~CFunctionImpl() override { Cache<CFunctionImpl, CFunction>().erase(m_pFunction.Get()); }
  CFunction* GetFunction() const { return m_pFunction.Get(); }
  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IFunction) return AddRef(), Answer(out, this);
    if (iid == IID_IBaseObject) return Answer(out, GetObjectView(m_pFunction.Get()));
    return kResultNotFound;
  }
  int Call(IArray* arguments, IArray* results) override {
    CArgumentArray* given = arguments ? ArrayOf(arguments) : nullptr;
    CNativeState state(nullptr, nullptr, given);
    if (!m_pFunction->Call(&state, given ? static_cast<int>(given->GetCount()) : 0)) return kResultFailed;
    if (CArgumentArray* into = results ? ArrayOf(results) : nullptr) state.GetResults().AppendTo(into);
    return kResultOk;
  }

 private:
  Strong<CFunction> m_pFunction;
};

// -------------------------------------------------------------------------------------------------
// Arguments

class CArgumentImpl : public CountedView<IArgument> {
 public:
  explicit CArgumentImpl(CArgument* argument) : m_pArgument(argument) { argument->AddRef(); }
  ~CArgumentImpl() override {
    Cache<CArgumentImpl, CArgument>().erase(m_pArgument);
    m_pArgument->Release();
  }
  CArgument* GetArgument() const { return m_pArgument; }

  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IArgument) return AddRef(), Answer(out, this);
    if (iid == IID_IArray && m_pArgument->IsArray())
      return Answer(out, GetArrayView(static_cast<CArgumentArray*>(m_pArgument)));
    if (iid == IID_IDictionary && m_pArgument->IsMap())
      return Answer(out, GetDictionaryView(static_cast<CArgumentMap*>(m_pArgument)));
    if (iid == IID_IFunction && m_pArgument->IsFunction())
      return Answer(out, GetFunctionView(m_pArgument->ToFunction<CFunction>()));
    return kResultNotFound;
  }
  int Clone(IArgument** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    CArgument* copy = m_pArgument->Clone();
    if (!copy) return kResultUnavailable;
    *out = GetArgumentView(copy);
    copy->Release();
    return kResultOk;
  }
  std::uint8_t GetType() override { return m_pArgument->GetType(); }
  const char* GetTypeName() override {
    const std::uint8_t type = m_pArgument->GetType();
    std::snprintf(m_TypeName, kTypeNameCapacity, "%s", type < std::size(kTypeNames) ? kTypeNames[type] : "unknown");
    return m_TypeName;
  }
  bool IsNull() override { return m_pArgument->IsNil(); }
  bool IsBoolean() override { return m_pArgument->IsBoolean(); }
  bool IsString() override { return m_pArgument->IsString(); }
  bool IsObject() override { return m_pArgument->IsObject(); }
  bool IsVector2D() override { return m_pArgument->IsVector2D(); }
  bool IsVector3D() override { return m_pArgument->IsVector3D(); }
  bool IsVector4D() override { return m_pArgument->IsVector4D(); }
  bool IsMatrix4x4() override { return m_pArgument->IsMatrix4x4(); }
  bool IsNumber() override { return m_pArgument->IsNumber(); }
  bool IsArray() override { return m_pArgument->IsArray(); }
  bool IsMap() override { return m_pArgument->IsMap(); }
  bool IsFunction() override { return m_pArgument->IsFunction(); }
  int ToBoolean() override { return m_pArgument->ToBoolean() ? kResultOk : kNo; }
  int ToString(const char** out, std::uint32_t* length) override {
    if (!out) return kResultNullPointer;
    std::uint32_t units = 0;
    const char16_t* text = m_pArgument->IsString() ? m_pArgument->ToString(&units) : nullptr;
    m_Text = text ? text::Utf16ToUtf8(std::u16string_view(text, units)) : std::string();
    *out = m_Text.c_str();
    if (length) *length = static_cast<std::uint32_t>(m_Text.size());
    return text ? kResultOk : kResultWrongState;
  }
  int ToObject(IBaseObject** out, IReflectedClass* cls) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    CBaseObject* object = m_pArgument->IsObject() ? m_pArgument->ToObject() : nullptr;
    if (!object || (cls && !Vexil3D::IsDerivedFrom(object->GetReflectedClass(), ClassOf(cls))))
      return kResultNotFound;
    *out = GetObjectView(object);
    return kResultOk;
  }
  int ToVector2D(float* x, float* y) override {
    if (!x || !y) return kResultNullPointer;
    if (!m_pArgument->IsVector2D()) return kResultWrongState;
    const CVector2D v = m_pArgument->ToVector2D();
    *x = v.x, *y = v.y;
    return kResultOk;
  }
  int ToVector3D(float* x, float* y, float* z) override {
    if (!x || !y || !z) return kResultNullPointer;
    if (!m_pArgument->IsVector3D()) return kResultWrongState;
    const CVector3D v = m_pArgument->ToVector3D();
    *x = v.x, *y = v.y, *z = v.z;
    return kResultOk;
  }
  int ToVector4D(float*, float*, float*, float*) override { return kResultUnavailable; }
  int ToMatrix4x4(float* elements) override {
    if (!elements) return kResultNullPointer;
    if (!m_pArgument->IsMatrix4x4()) return kResultWrongState;
    const CMatrix4x4 m = m_pArgument->ToMatrix4x4();
    std::copy(m.m, m.m + kMatrixElements, elements);
    return kResultOk;
  }
  template <class T>
  int Number(T* out) {
    if (!out) return kResultNullPointer;
    return m_pArgument->IsNumber() && m_pArgument->ToNumber(out) ? kResultOk : kResultWrongState;
  }
  int ToInt32(std::int32_t* out) override { return Number(out); }
  int ToUInt32(std::uint32_t* out) override { return Number(out); }
  int ToInt64(std::int64_t* out) override { return Number(out); }
  int ToUInt64(std::uint64_t* out) override { return Number(out); }
  int ToFloat(float* out) override { return Number(out); }
  int ToDouble(double* out) override { return Number(out); }
  int ToFunction(IFunction** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    CFunction* function = m_pArgument->IsFunction() ? m_pArgument->ToFunction<CFunction>() : nullptr;
    if (!function) return kResultWrongState;
    *out = GetFunctionView(function);
    return kResultOk;
  }
  int ToStream(IStream** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    CBaseObject* object = m_pArgument->IsObject() ? m_pArgument->ToObject() : nullptr;
    Stream* stream = dynamic_cast<Stream*>(object);
    if (auto* script = dynamic_cast<CScriptStream*>(object)) stream = script->GetStream();
    if (!stream) return kResultWrongState;
    *out = GetStreamView(stream);
    return kResultOk;
  }

 private:
  CArgument* m_pArgument;  // counted
  std::string m_Text;
  char m_TypeName[kTypeNameCapacity] = {};
};

class CArrayImpl : public CountedView<IArray> {
 public:
  explicit CArrayImpl(CArgumentArray* array) : m_pArray(array) { array->AddRef(); }
  ~CArrayImpl() override {
    Cache<CArrayImpl, CArgumentArray>().erase(m_pArray);
    m_pArray->Release();
  }
  CArgumentArray* GetArray() const { return m_pArray; }
  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IArray) return AddRef(), Answer(out, this);
    if (iid == IID_IArgument) return Answer(out, GetArgumentView(m_pArray));
    return kResultNotFound;
  }
  int GetCount() override { return static_cast<int>(m_pArray->GetCount()); }
  int Get(int index, IArgument** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (index < 0 || static_cast<std::uint32_t>(index) >= m_pArray->GetCount()) return kResultOutOfRange;
    *out = GetArgumentView(m_pArray->Get(static_cast<std::uint32_t>(index)));
    return kResultOk;
  }
  int Clear() override {
    m_pArray->Clear();
    return kResultOk;
  }
  int ClearAndReserve(int count) override {
    m_pArray->Clear();
    if (count > 0) m_pArray->Reserve(static_cast<std::uint32_t>(count));
    return kResultOk;
  }
  int Append(IArgument* argument) override {
    CArgument* engine = argument ? ArgumentOf(argument) : nullptr;
    if (!engine) return kResultNullPointer;
    return m_pArray->Append(engine) ? kResultOk : kResultFailed;
  }
  int Assign(IArray* other) override {
    CArgumentArray* source = other ? ArrayOf(other) : nullptr;
    if (!source) return kResultNullPointer;
    if (source == m_pArray) return kResultOk;  // clearing first would lose the very elements to copy
    m_pArray->Clear();
    return source->AppendTo(m_pArray) ? kResultOk : kResultFailed;
  }

 private:
  CArgumentArray* m_pArray;  // counted
};

class CDictionaryImpl : public CountedView<IDictionary> {
 public:
  explicit CDictionaryImpl(CArgumentMap* map) : m_pMap(map) { map->AddRef(); }
  ~CDictionaryImpl() override {
    Cache<CDictionaryImpl, CArgumentMap>().erase(m_pMap);
    m_pMap->Release();
  }
  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IDictionary) return AddRef(), Answer(out, this);
    if (iid == IID_IArgument) return Answer(out, GetArgumentView(m_pMap));
    return kResultNotFound;
  }
  int Clear() override {
    m_pMap->Clear();
    return kResultOk;
  }
  int ClearAndReserve(int) override { return Clear(); }
  int Remove(const char* key) override {
    if (!key) return kResultNullPointer;
    const std::u16string wide = text::Utf8ToUtf16(key);
    if (!m_pMap->Find(wide)) return kResultNotFound;
    m_pMap->Set(wide, nullptr);
    return kResultOk;
  }
  int Get(const char* key, IArgument** out) override {
    if (!key || !out) return kResultNullPointer;
    CArgument* value = m_pMap->Find(text::Utf8ToUtf16(key));
    *out = value ? GetArgumentView(value) : nullptr;
    return value ? kResultOk : kResultNotFound;
  }
  int Set(const char* key, IArgument* value) override {
    CArgument* engine = value ? ArgumentOf(value) : nullptr;
    if (!key || !engine) return kResultNullPointer;
    CArgument* copy = engine->Clone();
    if (!copy) return kResultFailed;
    m_pMap->Set(text::Utf8ToUtf16(key), copy);
    return kResultOk;
  }

 private:
  CArgumentMap* m_pMap;  // counted
};

// -------------------------------------------------------------------------------------------------
// Classes

// A module callback reached through an engine native: the record lives as long as its class.
struct ModuleEntry {
  ModuleCallback callback;
  void* user;
};

std::unordered_map<ReflectedClass*, std::vector<std::unique_ptr<ModuleEntry>>>& ModuleEntries() {
  static std::unordered_map<ReflectedClass*, std::vector<std::unique_ptr<ModuleEntry>>> entries;
  return entries;
}

bool CallModuleEntry(CNativeState* state, int argumentCount, void* user) {
  auto* entry = static_cast<ModuleEntry*>(user);
  CNativeStateImpl view(state);
  return entry->callback(&view, argumentCount, entry->user);
}

class CReflectedClassImpl : public CountedView<IReflectedClass> {
 public:
  explicit CReflectedClassImpl(ReflectedClass* cls) : m_pClass(cls) {}
  ~CReflectedClassImpl() override {
    if (m_pClass) Cache<CReflectedClassImpl, ReflectedClass>().erase(m_pClass);
  }
  ReflectedClass* GetClass() const { return m_pClass; }
  // The name outlives the class, for the errors of checks that name a class that is gone.
  void Detach() {
    GetName();
    m_pClass = nullptr;
  }

  int QueryInterface(const GUID& iid, void** out) override {
    if (!out) return kResultNullPointer;
    *out = nullptr;
    if (iid == IID_IReflectedClass) return AddRef(), Answer(out, this);
    return kResultNotFound;
  }
  const char* GetName() override {
    if (m_pClass && m_Name.empty()) m_Name = text::Utf16ToUtf8(m_pClass->GetName());
    return m_Name.c_str();
  }
  int Clear() override {
    if (!m_pClass) return kResultNotFound;
    m_pClass->Clear();
    return kResultOk;
  }
  int IsDerivedFrom(IReflectedClass* base) override {
    if (!base) return kResultNullPointer;
    if (!m_pClass) return kResultNotFound;
    return Vexil3D::IsDerivedFrom(m_pClass, ClassOf(base)) ? kResultOk : kNo;
  }
  int SetConstructor(const char*, ModuleCallback callback, void* user) override {
    return Special(&ReflectedClass::SetConstructor, callback, user);
  }
  int SetClone(ModuleCallback callback, void* user) override { return Special(&ReflectedClass::SetClone, callback, user); }
  int SetMove(ModuleCallback callback, void* user) override { return Special(&ReflectedClass::SetMove, callback, user); }
  int SetToString(ModuleCallback callback, void* user) override {
    return Special(&ReflectedClass::SetToString, callback, user);
  }
  int AddMethod(const char* name, const char* typeSpec, ModuleCallback callback, void* user) override {
    if (!name || !callback) return kResultNullPointer;
    if (!m_pClass) return kResultNotFound;
    const std::u16string spec = typeSpec ? text::Utf8ToUtf16(typeSpec) : std::u16string();
    return m_pClass->RegisterMethod(text::Utf8ToUtf16(name), spec, &CallModuleEntry, Entry(callback, user), false)
               ? kResultOk
               : kResultRefused;
  }
  int AddProperty(std::uint32_t type, const char* name, std::uint32_t, ModuleCallback callback, void* user) override {
    if (!name || !callback) return kResultNullPointer;
    if (!m_pClass) return kResultNotFound;
    return m_pClass->RegisterProperty(text::Utf8ToUtf16(name), static_cast<std::uint8_t>(type), &CallModuleEntry,
                                      nullptr, Entry(callback, user))
               ? kResultOk
               : kResultRefused;
  }

 private:
  ModuleEntry* Entry(ModuleCallback callback, void* user) {
    auto& list = ModuleEntries()[m_pClass];
    list.push_back(std::make_unique<ModuleEntry>(ModuleEntry{callback, user}));
    return list.back().get();
  }
  int Special(void (ReflectedClass::*set)(NativeFunction, void*), ModuleCallback callback, void* user) {
    if (!callback) return kResultNullPointer;
    if (!m_pClass) return kResultNotFound;
    (m_pClass->*set)(&CallModuleEntry, Entry(callback, user));
    return kResultOk;
  }

  ReflectedClass* m_pClass;  // not counted; null once the class is gone
  std::string m_Name;
};

}  // namespace

// -------------------------------------------------------------------------------------------------
// View factories

IBaseObject* GetObjectView(CBaseObject* object) { return Cached<CBaseObjectImpl>(object); }
IStream* GetStreamView(Stream* stream) { return Cached<CStreamImpl>(stream); }
IArgument* GetArgumentView(CArgument* argument) { return Cached<CArgumentImpl>(argument); }
IArray* GetArrayView(CArgumentArray* array) { return Cached<CArrayImpl>(array); }
IDictionary* GetDictionaryView(CArgumentMap* map) { return Cached<CDictionaryImpl>(map); }
IFunction* GetFunctionView(CFunction* function) { return Cached<CFunctionImpl>(function); }
IReflectedClass* GetClassView(ReflectedClass* cls) { return Cached<CReflectedClassImpl>(cls); }

CBaseObject* ObjectOf(IBaseObject* view) {
  auto* impl = dynamic_cast<CBaseObjectImpl*>(view);
  return impl ? impl->GetObject() : nullptr;
}
CArgument* ArgumentOf(IArgument* view) {
  auto* impl = dynamic_cast<CArgumentImpl*>(view);
  return impl ? impl->GetArgument() : nullptr;
}
CArgumentArray* ArrayOf(IArray* view) {
  auto* impl = dynamic_cast<CArrayImpl*>(view);
  return impl ? impl->GetArray() : nullptr;
}
ReflectedClass* ClassOf(IReflectedClass* view) {
  auto* impl = dynamic_cast<CReflectedClassImpl*>(view);
  return impl ? impl->GetClass() : nullptr;
}

void OnReflectedClassDestroyed(ReflectedClass* cls) {
  auto& cache = Cache<CReflectedClassImpl, ReflectedClass>();
  auto found = cache.find(cls);
  if (found != cache.end()) {
    found->second->Detach();
    cache.erase(found);
  }
  ModuleEntries().erase(cls);
}

// -------------------------------------------------------------------------------------------------
// CNativeStateImpl

int CNativeStateImpl::QueryInterface(const GUID& iid, void** out) {
  if (!out) return kResultNullPointer;
  *out = nullptr;
  if (iid == IID_INativeState) return AddRef(), Answer(out, this);
  return kResultNotFound;
}

bool CNativeStateImpl::Error(const char* format, ...) {
  char buffer[kFormatCapacity];
  buffer[0] = '\0';
  va_list args;
  va_start(args, format);
  if (format) std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return m_pState->Error(u"%s", text::Utf8ToUtf16(buffer).c_str());
}

int CNativeStateImpl::GetArgument(int index, IArgument** out) {
  if (!out) return kResultNullPointer;
  *out = nullptr;
  CArgument* argument = index >= 0 ? m_pState->GetArgument(index) : nullptr;
  if (!argument) return kResultOutOfRange;
  *out = GetArgumentView(argument);
  return kResultOk;
}

const char* CNativeStateImpl::CheckString(int index, std::uint32_t* length) {
  if (index < 0 || index >= kStringSlots) return nullptr;
  if (!m_bStringSet[index]) {
    std::uint32_t units = 0;
    const char16_t* text = m_pState->CheckString(index, &units);
    if (!text) return nullptr;
    if (!m_pStrings) m_pStrings = std::make_unique<std::string[]>(kStringSlots);
    m_pStrings[index] = text::Utf16ToUtf8(std::u16string_view(text, units));
    m_bStringSet[index] = true;
  }
  if (length) *length = static_cast<std::uint32_t>(m_pStrings[index].size());
  return m_pStrings[index].c_str();
}

bool CNativeStateImpl::CheckVector2D(int index, float* x, float* y) {
  CVector2D v;
  if (!m_pState->CheckVector2D(index, &v)) return false;
  if (x) *x = v.x;
  if (y) *y = v.y;
  return true;
}

bool CNativeStateImpl::CheckVector3D(int index, float* x, float* y, float* z) {
  CVector3D v;
  if (!m_pState->CheckVector3D(index, &v)) return false;
  if (x) *x = v.x;
  if (y) *y = v.y;
  if (z) *z = v.z;
  return true;
}

bool CNativeStateImpl::CheckMatrix4x4(int index, float* elements) {
  CMatrix4x4 m;
  if (!elements || !m_pState->CheckMatrix4x4(index, &m)) return false;
  std::copy(m.m, m.m + kMatrixElements, elements);
  return true;
}

// A view whose class was deleted asks for a class nothing is an instance of; it must not read as a check
// that asks for none.
bool IsDetachedClass(IReflectedClass* cls) { return cls && !ClassOf(cls); }

bool CNativeStateImpl::CheckObject(IReflectedClass* cls, int index, bool optional, IBaseObject** out) {
  if (out) *out = nullptr;
  if (IsDetachedClass(cls)) {
    CArgument* argument = m_pState->GetArgument(index);
    if (optional && argument && (argument->IsNil() || argument->IsUndefined())) return true;
    return m_pState->Error(u"Expected %s for argument %d", text::Utf8ToUtf16(cls->GetName()).c_str(), index + 1);
  }
  CBaseObject* object = nullptr;
  if (!m_pState->CheckObject(cls ? ClassOf(cls) : nullptr, index, optional, &object)) return false;
  if (out) *out = GetObjectView(object);
  return true;
}

bool CNativeStateImpl::CheckInstance(int index, IBaseObject** out) { return CheckObject(nullptr, index, false, out); }

bool CNativeStateImpl::CheckFunction(int index, IFunction** out) {
  if (out) *out = nullptr;
  CFunction* function = m_pState->CheckFunction(index);
  if (!function) return false;
  if (out) *out = GetFunctionView(function);
  return true;
}

bool CNativeStateImpl::CheckReserved(int, void** out) {
  if (out) *out = nullptr;
  return false;
}

bool CNativeStateImpl::GetThis(IBaseObject** out, IReflectedClass* cls) {
  if (out) *out = nullptr;
  if (IsDetachedClass(cls)) {
    if (!m_pState->GetThisObject()) return m_pState->Error(u"'this' is null");
    return m_pState->Error(u"%s expected for 'this'", text::Utf8ToUtf16(cls->GetName()).c_str());
  }
  CBaseObject* object = nullptr;
  if (!m_pState->GetThis(cls ? ClassOf(cls) : nullptr, &object)) return false;
  if (out) *out = GetObjectView(object);
  return true;
}

int CNativeStateImpl::GetThisChecked(IBaseObject** out, IReflectedClass* cls) {
  if (!out) return kResultNullPointer;
  *out = nullptr;
  CBaseObject* object = m_pState->GetThisObject();
  if (!object) return kResultNotFound;
  if (IsDetachedClass(cls)) {
    m_pState->Error(u"%s expected for 'this'", text::Utf8ToUtf16(cls->GetName()).c_str());
    return kResultFailed;
  }
  ReflectedClass* wanted = cls ? ClassOf(cls) : nullptr;
  if (wanted) {
    ReflectedClass* own = object->GetReflectedClass();
    VEXIL_ASSERT(own);
    if (!Vexil3D::IsDerivedFrom(own, wanted)) {
      m_pState->Error(u"%s expected for 'this'", wanted->GetName().c_str());
      return kResultFailed;
    }
  }
  *out = GetObjectView(object);
  return kResultOk;
}

int CNativeStateImpl::ReturnArgument(IArgument* argument) {
  if (HasReturn()) return kResultWrongState;
  CArgument* engine = argument ? ArgumentOf(argument) : nullptr;
  if (!engine) return kResultNullPointer;
  return m_pState->GetResults().Append(engine) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnNull() {
  if (HasReturn()) return kResultWrongState;
  return m_pState->GetResults().AppendNil() ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnUndefined() {
  if (HasReturn()) return kResultWrongState;
  return m_pState->GetResults().Adopt(new CArgument(ARGUMENT_UNDEFINED)) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnBoolean(bool value) {
  if (HasReturn()) return kResultWrongState;
  return m_pState->ReturnBoolean(value) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnString(const char* text, std::uint32_t length) {
  if (HasReturn()) return kResultWrongState;
  if (!text) return kResultNullPointer;
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(text, length));
  return m_pState->ReturnString(wide.c_str(), static_cast<std::uint32_t>(wide.size())) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnString(const char* text) {
  if (!text) return HasReturn() ? kResultWrongState : kResultNullPointer;
  return ReturnString(text, static_cast<std::uint32_t>(std::char_traits<char>::length(text)));
}

int CNativeStateImpl::ReturnInteger(std::int32_t value) {
  if (HasReturn()) return kResultWrongState;
  return m_pState->ReturnInteger(value) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnLongInteger(std::int64_t value) {
  if (HasReturn()) return kResultWrongState;
  return m_pState->ReturnLongInteger(value) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnDouble(double value) {
  if (HasReturn()) return kResultWrongState;
  return m_pState->ReturnDouble(value) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnVector2D(float x, float y) {
  if (HasReturn()) return kResultWrongState;
  return m_pState->ReturnVector2D({x, y}) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnVector3D(float x, float y, float z) {
  if (HasReturn()) return kResultWrongState;
  return m_pState->ReturnVector3D({x, y, z}) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnVector4D(float, float, float, float) {
  return HasReturn() ? kResultWrongState : kResultUnavailable;
}

int CNativeStateImpl::ReturnMatrix4x4(const float* elements) {
  if (HasReturn()) return kResultWrongState;
  if (!elements) return kResultNullPointer;
  CMatrix4x4 m;
  std::copy(elements, elements + kMatrixElements, m.m);
  return m_pState->ReturnMatrix4x4(m) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnObject(IBaseObject* object) {
  if (HasReturn()) return kResultWrongState;
  CBaseObject* engine = object ? ObjectOf(object) : nullptr;
  if (!engine) return kResultNullPointer;
  return m_pState->ReturnObject(engine) ? kResultOk : kResultFailed;
}

int CNativeStateImpl::ReturnStream(IStream* stream) {
  if (HasReturn()) return kResultWrongState;
  auto* impl = dynamic_cast<CStreamImpl*>(stream);
  if (!impl) return kResultNullPointer;
  return m_pState->ReturnStream(impl->GetStream()) ? kResultOk : kResultFailed;
}

}  // namespace Vexil3D::Interfaces
