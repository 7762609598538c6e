// The reflection registry: namespaces, reflected classes, their special functions and the last error text.
#include <engine/Reflection.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <engine/Arguments.h>
#include <engine/Native.h>
#include <platform/text.h>

namespace Vexil3D {

namespace {

char16_t g_LastError[kLastErrorCapacity] = {};

constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The engine function of a record; null for a null callback.
CallableRecord MakeRecord(std::u16string_view name, std::u16string_view typeSpec, NativeFunction callback,
                          void* user) {
  CallableRecord record;
  record.name = name;
  record.typeSpec = typeSpec;
  record.user = user;
  if (callback) {
    auto* function = new (std::nothrow) CFunction(name, callback, nullptr, user);
    record.function.Attach(function);
  }
  return record;
}

template <class Entry>
const Entry* FindByName(const std::vector<std::unique_ptr<Entry>>& entries, std::u16string_view name,
                        std::u16string_view (*nameOf)(const Entry&)) {
  for (const auto& entry : entries)
    if (nameOf(*entry) == name) return entry.get();
  return nullptr;
}

// Calls one of an object's special functions with the object as "this" and the arguments given.
bool CallSpecial(const CallableRecord& record, CBaseObject* self, CArgumentArray* arguments, CReturnValue* results) {
  CNativeState state(nullptr, nullptr, arguments);
  state.SetThis(self);
  const bool ok = record.Call(&state, static_cast<int>(arguments->GetCount()));
  state.GetResults().MoveTo(results);
  return ok;
}

// The object's class when it has one; otherwise the error text says so.
ReflectedClass* ClassOf(CBaseObject* object) {
  ReflectedClass* cls = object ? object->GetReflectedClass() : nullptr;
  if (!cls) SetLastErrorText(u"Class not part of reflection");
  return cls;
}

}  // namespace

// -------------------------------------------------------------------------------------------------
// Last error text

const char16_t* GetLastErrorText() { return g_LastError; }

void SetLastErrorText(std::u16string_view text) {
  std::size_t n = std::min(text.size(), kLastErrorCapacity - 1);
  // Half a pair would leave a lone surrogate, which no conversion carries.
  if (n < text.size() && n > 0 && IsHighSurrogate(text[n - 1])) --n;
  std::memcpy(g_LastError, text.data(), n * sizeof(char16_t));
  g_LastError[n] = u'\0';
}

void ClearLastErrorText() { g_LastError[0] = u'\0'; }

bool CallableRecord::Call(CNativeState* state, int argumentCount) const {
  if (!function) return state ? state->Error(u"Cannot call %s", name.c_str()) : false;
  return function->Call(state, argumentCount, user);
}

// -------------------------------------------------------------------------------------------------
// ReflectedClass

ReflectedClass::ReflectedClass(std::u16string_view name, ReflectedClass* base) : m_Name(name), m_pBaseClass(base) {}

// Module views of a class hold no reference: they are told of its end.
ReflectedClass::~ReflectedClass() { Interfaces::OnReflectedClassDestroyed(this); }

void ReflectedClass::SetConstructor(NativeFunction callback, void* user) {
  m_Constructor = MakeRecord(m_Name, u"", callback, user);
}

bool ReflectedClass::RegisterMethod(std::u16string_view name, std::u16string_view typeSpec, NativeFunction callback,
                                    void* user, bool isStatic) {
  if (!callback || m_Members.count(std::u16string(name))) return false;
  MethodEntry entry;
  entry.isStatic = isStatic;
  entry.callable = MakeRecord(name, typeSpec, callback, user);
  entry.user = user;
  if (!entry.callable.IsSet()) return false;
  m_Members.emplace(std::u16string(name), MemberRef{MemberKind::Method, m_Methods.size()});
  m_Methods.push_back(std::move(entry));
  return true;
}

bool ReflectedClass::RegisterProperty(std::u16string_view name, std::uint8_t type, NativeFunction getter,
                                      NativeFunction setter, void* user) {
  if (!getter || m_Members.count(std::u16string(name))) return false;
  PropertyEntry entry;
  entry.getter = MakeRecord(name, u"", getter, user);
  if (setter) entry.setter = MakeRecord(name, u"", setter, user);
  entry.name = name;
  entry.type = type;
  entry.user = user;
  if (!entry.getter.IsSet() || (setter && !entry.setter.IsSet())) return false;
  m_Members.emplace(std::u16string(name), MemberRef{MemberKind::Property, m_Properties.size()});
  m_Properties.push_back(std::move(entry));
  return true;
}

void ReflectedClass::SetClone(NativeFunction callback, void* user) {
  m_Clone = MakeRecord(u"clone", u"", callback, user);
}
void ReflectedClass::SetMove(NativeFunction callback, void* user) { m_Move = MakeRecord(u"move", u"", callback, user); }
void ReflectedClass::SetToString(NativeFunction callback, void* user) {
  m_ToString = MakeRecord(u"toString", u"", callback, user);
}

const MethodEntry* ReflectedClass::FindMethod(std::u16string_view name) const {
  auto it = m_Members.find(std::u16string(name));
  return it != m_Members.end() && it->second.kind == MemberKind::Method ? &m_Methods[it->second.index] : nullptr;
}

const PropertyEntry* ReflectedClass::FindProperty(std::u16string_view name) const {
  auto it = m_Members.find(std::u16string(name));
  return it != m_Members.end() && it->second.kind == MemberKind::Property ? &m_Properties[it->second.index] : nullptr;
}

void ReflectedClass::Clear() {
  m_Constructor = CallableRecord();
  m_Clone = CallableRecord();
  m_Move = CallableRecord();
  m_ToString = CallableRecord();
  m_Members.clear();
  m_Methods.clear();
  m_Properties.clear();
}

CBaseObject* ReflectedClass::Clone(CBaseObject* object) {
  ReflectedClass* cls = ClassOf(object);
  if (!cls) return nullptr;
  if (!cls->m_Clone.IsSet()) {
    SetLastErrorText(u"Class is not cloneable");
    return nullptr;
  }
  CArgumentArray arguments;
  CReturnValue results;
  if (!CallSpecial(cls->m_Clone, object, &arguments, &results)) return nullptr;
  CArgument* first = results.Get(0);
  CBaseObject* copy = first && first->IsObject() ? first->ToObject() : nullptr;
  if (!copy) {
    SetLastErrorText(u"Clone didn't return anything");
    return nullptr;
  }
  copy->AddRef();
  return copy;
}

bool ReflectedClass::Move(CBaseObject* destination, CBaseObject* source) {
  if (destination == source) {
    SetLastErrorText(u"Cannot move to same place");
    return false;
  }
  ReflectedClass* cls = ClassOf(destination);
  if (!cls) return false;
  if (!cls->m_Move.IsSet()) {
    SetLastErrorText(u"Class is not movable");
    return false;
  }
  CArgumentArray arguments;
  CReturnValue results;
  if (!arguments.AppendObject(source)) {
    SetLastErrorText(u"Out of memory.");
    return false;
  }
  return CallSpecial(cls->m_Move, destination, &arguments, &results);
}

char16_t* ReflectedClass::ToString(CBaseObject* object, std::uint32_t* length) {
  if (length) *length = 0;
  ReflectedClass* cls = ClassOf(object);
  if (!cls) return nullptr;
  if (!cls->m_ToString.IsSet()) {
    SetLastErrorText(u"Class doesn't implement ToString");
    return nullptr;
  }
  CArgumentArray arguments;
  CReturnValue results;
  if (!CallSpecial(cls->m_ToString, object, &arguments, &results)) return nullptr;
  CArgument* first = results.Get(0);
  if (!first) {
    SetLastErrorText(u"ToString didn't return anything");
    return nullptr;
  }
  if (!first->IsString()) {
    SetLastErrorText(u"ToString didn't return a string");
    return nullptr;
  }
  std::uint32_t size = 0;
  const char16_t* value = first->ToString(&size);
  auto* copy = new (std::nothrow) char16_t[static_cast<std::size_t>(size) + 1];
  if (!copy) {
    SetLastErrorText(u"Out of memory.");
    return nullptr;
  }
  std::memcpy(copy, value, size * sizeof(char16_t));
  copy[size] = u'\0';
  if (length) *length = size;
  return copy;
}

bool IsDerivedFrom(const ReflectedClass* cls, const ReflectedClass* base) {
  if (!base) return false;
  for (; cls; cls = cls->GetBaseClass())
    if (cls == base) return true;
  return false;
}

// -------------------------------------------------------------------------------------------------
// CReflection

CReflection::CReflection(std::u16string_view name) : m_Name(name) {}

CReflection::~CReflection() { Clear(); }

CReflection* CReflection::FindNamespace(std::u16string_view name) {
  for (const auto& space : m_Namespaces)
    if (space->m_Name == name) return space.get();
  const std::u16string copy(name);
  SetLastErrorText(text::FormatString(u"Namespace %s not found.", copy.c_str()));
  return nullptr;
}

CReflection* CReflection::GetNamespace(std::u16string_view name) {
  for (const auto& space : m_Namespaces)
    if (space->m_Name == name) return space.get();
  auto* space = new (std::nothrow) CReflection(name);
  if (!space) {
    SetLastErrorText(u"Out of memory.");
    return nullptr;
  }
  m_Namespaces.emplace_back(space);
  return space;
}

bool CReflection::RegisterFunction(std::u16string_view name, std::u16string_view typeSpec, NativeFunction callback,
                                   void* user) {
  if (!callback) return false;
  auto entry = std::make_unique<FunctionEntry>();
  entry->callable = MakeRecord(name, typeSpec, callback, user);
  entry->user = user;
  if (!entry->callable.IsSet()) return false;
  m_Functions.push_back(std::move(entry));
  return true;
}

bool CReflection::RegisterValue(std::u16string_view name, std::uint8_t type, NativeFunction getter, void* user) {
  if (!getter) return false;
  auto entry = std::make_unique<ValueEntry>();
  entry->getter = MakeRecord(name, u"", getter, user);
  entry->name = name;
  entry->type = type;
  entry->user = user;
  if (!entry->getter.IsSet()) return false;
  m_Values.push_back(std::move(entry));
  return true;
}

ReflectedClass* CReflection::RegisterClass(std::u16string_view name, ReflectedClass* base) {
  auto* cls = new (std::nothrow) ReflectedClass(name, base);
  if (!cls) return nullptr;
  m_Classes.emplace_back(cls);
  if (m_Name == u"global") {
    if (name == u"Stream") m_pStreamClass = cls;
    if (name == u"Matrix4x4") m_pMatrix4x4Class = cls;
    if (name == u"Vec2") m_pVec2Class = cls;
    if (name == u"Vec3") m_pVec3Class = cls;
  }
  return cls;
}

const FunctionEntry* CReflection::FindFunction(std::u16string_view name) const {
  return FindByName<FunctionEntry>(m_Functions, name,
                                   [](const FunctionEntry& e) { return std::u16string_view(e.callable.name); });
}

const ValueEntry* CReflection::FindValue(std::u16string_view name) const {
  return FindByName<ValueEntry>(m_Values, name, [](const ValueEntry& e) { return std::u16string_view(e.name); });
}

ReflectedClass* CReflection::FindClass(std::u16string_view name) const {
  for (const auto& cls : m_Classes)
    if (cls->GetName() == name) return cls.get();
  return nullptr;
}

void CReflection::Clear() {
  m_pStreamClass = m_pMatrix4x4Class = m_pVec2Class = m_pVec3Class = nullptr;
  m_Functions.clear();
  m_Values.clear();
  for (auto& cls : m_Classes) cls->Clear();
  m_Classes.clear();
  for (auto& space : m_Namespaces) space->Clear();
  m_Namespaces.clear();
}

}  // namespace Vexil3D
