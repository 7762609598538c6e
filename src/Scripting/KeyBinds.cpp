// The key-bind table: binds by key code, dispatch with deferred erasure, the "KeyEvent" class and the three
// script functions.
#include <scripting/KeyBinds.h>

#include <algorithm>

#include <engine/Scripting.h>
#include <engine/VexilAssert.h>
#include <scripting/Resource.h>

namespace Vexil3D {

namespace {

constexpr std::uint32_t kFnvOffset = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;
constexpr unsigned kByteBits = 8;
constexpr std::uint32_t kByteMask = 0xFF;
constexpr int kKeyArgument = 0;
constexpr int kStateArgument = 1;
constexpr int kFunctionArgument = 2;
constexpr int kRepeatArgument = 3;

bool MatchesKey(const CKeyBind* bind, SDL_Keycode key, CResource* resource) {
  return bind->GetKey() == key && (!resource || bind->GetResource() == resource);
}

bool MatchesResource(const CKeyBind* bind, SDL_Keycode, CResource* resource) {
  return bind->GetResource() == resource;
}

CKeyEvent* ThisEvent(CNativeState* state, void* user) {
  CBaseObject* object = nullptr;
  auto* table = static_cast<CKeyBinds*>(user);
  return state->GetThis(table->GetKeyEventClass(), &object) ? static_cast<CKeyEvent*>(object) : nullptr;
}

bool PreventDefault(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  if (!event) return false;
  event->PreventDefault();
  return true;
}

bool IsDefaultPrevented(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  return event && state->ReturnBoolean(event->IsDefaultPrevented());
}

bool GetKeyCode(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  return event && state->ReturnInteger(event->GetKey().sym);
}

bool GetScanCode(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  return event && state->ReturnInteger(event->GetKey().scancode);
}

bool GetMod(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  return event && state->ReturnInteger(event->GetKey().mod);
}

bool GetRepeat(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  return event && state->ReturnInteger(event->GetRepeat());
}

bool GetDown(CNativeState* state, int, void* user) {
  CKeyEvent* event = ThisEvent(state, user);
  return event && state->ReturnBoolean(event->IsDown());
}

}  // namespace

// Counts the dispatches under way; the outermost one erases the binds flagged meanwhile, also when a bind
// throws.
class CKeyBinds::DispatchScope {
 public:
  explicit DispatchScope(CKeyBinds* table) : m_pTable(table) { ++m_pTable->m_iIterating; }
  ~DispatchScope() {
    if (--m_pTable->m_iIterating <= 0) m_pTable->EraseFlagged();
  }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;

 private:
  CKeyBinds* m_pTable;
};

void CScriptKeyBind::Call(CBaseObject* caller, CKeyEvent* event) {
  if (!m_pFunction) return;
  Strong<CFunction> function = m_pFunction;  // the bind may be removed during the call
  CArgumentArray arguments;
  arguments.AppendObject(event);
  CKeyBinds* table = GetTable();
  if (table && table->GetPassCaller()) arguments.AppendObject(caller);
  // The bind may stop every resource, its own among them, which releases the manager's reference; the
  // natives it calls afterwards still read its resource from the state.
  Strong<CResource> resource(GetResource());
  CNativeState state(table ? table->GetScripting() : nullptr, GetResource(), &arguments);
  function->Call(&state, static_cast<int>(arguments.GetCount()));
}

CKeyEvent::CKeyEvent(CKeyBinds* table, const SDL_Keysym& key, std::int32_t repeat, bool down)
    : m_pTable(table), m_Key(key), m_iRepeat(repeat), m_bDown(down) {}

ReflectedClass* CKeyEvent::GetReflectedClass() { return m_pTable ? m_pTable->GetKeyEventClass() : nullptr; }

std::size_t CKeyBinds::KeyHash::operator()(SDL_Keycode key) const {
  std::uint32_t hash = kFnvOffset;
  const auto value = static_cast<std::uint32_t>(key);
  for (unsigned byte = 0; byte < sizeof(value); ++byte) {
    hash ^= (value >> (byte * kByteBits)) & kByteMask;
    hash *= kFnvPrime;
  }
  return hash;
}

CKeyBinds::CKeyBinds(CResourceMgr* owner, CScripting* scripting) : m_pOwner(owner), m_pScripting(scripting) {
  m_Binds.max_load_factor(1.0f);
  if (scripting) RegisterFunctions(scripting);
}

CKeyBinds::~CKeyBinds() {
  VEXIL_ASSERT(m_iIterating == 0);
  for (auto& [key, binds] : m_Binds)
    for (CKeyBind* bind : binds) delete bind;
}

bool CKeyBinds::AddKeyBind(CKeyBind* bind, SDL_Keycode key, std::int32_t keyState, bool allowRepeat) {
  if (!bind) return false;
  bind->m_pTable = this;
  bind->m_iKey = key;
  bind->m_iKeyState = keyState;
  bind->m_bAllowRepeat = allowRepeat;
  m_Binds[key].push_back(bind);
  return true;
}

std::uint32_t CKeyBinds::Remove(bool (*match)(const CKeyBind*, SDL_Keycode, CResource*), SDL_Keycode key,
                                CResource* resource) {
  std::uint32_t removed = 0;
  for (auto& [bindKey, binds] : m_Binds) {
    for (CKeyBind* bind : binds) {
      if (bind->m_bDeleted || !match(bind, key, resource)) continue;
      bind->m_bDeleted = true;
      ++removed;
    }
  }
  if (m_iIterating <= 0) EraseFlagged();
  return removed;
}

std::uint32_t CKeyBinds::RemoveKeyBinds(SDL_Keycode key, CResource* resource) {
  return Remove(&MatchesKey, key, resource);
}

std::uint32_t CKeyBinds::RemoveResourceBinds(CResource* resource) { return Remove(&MatchesResource, 0, resource); }

void CKeyBinds::EraseFlagged() {
  for (auto it = m_Binds.begin(); it != m_Binds.end();) {
    auto& binds = it->second;
    auto kept = std::stable_partition(binds.begin(), binds.end(), [](CKeyBind* b) { return !b->m_bDeleted; });
    std::vector<CKeyBind*> gone(kept, binds.end());
    binds.erase(kept, binds.end());
    for (CKeyBind* bind : gone) delete bind;
    it = binds.empty() ? m_Binds.erase(it) : std::next(it);
  }
}

std::size_t CKeyBinds::GetCount() const {
  std::size_t count = 0;
  for (const auto& [key, binds] : m_Binds) count += binds.size();
  return count;
}

bool CKeyBinds::Dispatch(const SDL_Keysym& key, std::int32_t repeat, bool down) {
  Strong<CKeyEvent> event;
  event.Attach(new CKeyEvent(this, key, repeat, down));
  DispatchScope scope(this);
  auto found = m_Binds.find(key.sym);
  if (found == m_Binds.end()) return false;
  // The key's list is not erased while a dispatch runs (map nodes stay put); binds appended by a call lie
  // past the count taken here and wait for the next dispatch.
  std::vector<CKeyBind*>* binds = &found->second;
  const std::size_t count = binds->size();
  bool called = false;
  for (std::size_t i = 0; i < count; ++i) {
    CKeyBind* bind = (*binds)[i];
    if (bind->m_bDeleted || (repeat >= 1 && !bind->m_bAllowRepeat)) continue;
    const std::int32_t state = bind->m_iKeyState;
    if (state == KEYSTATE_BOTH || (state == KEYSTATE_DOWN && down) || (state == KEYSTATE_UP && !down)) {
      called = true;
      bind->Call(nullptr, event.Get());
    }
  }
  return called;
}

// -------------------------------------------------------------------------------------------------
// Script functions

void CKeyBinds::RegisterFunctions(CScripting* scripting) {
  CReflection& global = scripting->m_Global;
  global.RegisterFunction(u"bindKey", u"iic|b", &NativeBindKey, this);
  global.RegisterFunction(u"unbindKey", u"i", &NativeUnbindKey, this);
  global.RegisterFunction(u"unbindAllKeys", u"", &NativeUnbindAllKeys, this);
  m_pKeyEventClass = global.RegisterClass(u"KeyEvent", nullptr);
  if (!m_pKeyEventClass) return;
  m_pKeyEventClass->RegisterMethod(u"preventDefault", u"t", &PreventDefault, this, false);
  m_pKeyEventClass->RegisterMethod(u"isDefaultPrevented", u"t", &IsDefaultPrevented, this, false);
  m_pKeyEventClass->RegisterProperty(u"keyCode", ARGUMENT_INTEGER, &GetKeyCode, nullptr, this);
  m_pKeyEventClass->RegisterProperty(u"scanCode", ARGUMENT_INTEGER, &GetScanCode, nullptr, this);
  m_pKeyEventClass->RegisterProperty(u"mod", ARGUMENT_INTEGER, &GetMod, nullptr, this);
  m_pKeyEventClass->RegisterProperty(u"repeat", ARGUMENT_INTEGER, &GetRepeat, nullptr, this);
  m_pKeyEventClass->RegisterProperty(u"down", ARGUMENT_BOOLEAN, &GetDown, nullptr, this);
}

bool CKeyBinds::NativeBindKey(CNativeState* state, int argumentCount, void* user) {
  auto* table = static_cast<CKeyBinds*>(user);
  std::int32_t key = 0;
  std::int32_t keyState = 0;
  bool allowRepeat = false;
  if (!state->CheckNumber(kKeyArgument, &key) || !state->CheckNumber(kStateArgument, &keyState)) return false;
  CFunction* function = state->CheckFunction(kFunctionArgument);
  if (!function) return false;
  if (argumentCount > kRepeatArgument && !state->CheckBoolean(kRepeatArgument, &allowRepeat)) return false;
  table->AddKeyBind(new CScriptKeyBind(state->GetResource(), function), key, keyState, allowRepeat);
  return state->ReturnBoolean(true);
}

bool CKeyBinds::NativeUnbindKey(CNativeState* state, int, void* user) {
  auto* table = static_cast<CKeyBinds*>(user);
  std::int32_t key = 0;
  if (!state->CheckNumber(kKeyArgument, &key)) return false;
  // A script without a resource would otherwise remove every bind of the key, the native ones included.
  CResource* resource = state->GetResource();
  return state->ReturnBoolean(resource && table->RemoveKeyBinds(key, resource) > 0);
}

bool CKeyBinds::NativeUnbindAllKeys(CNativeState* state, int, void* user) {
  auto* table = static_cast<CKeyBinds*>(user);
  if (CResource* resource = state->GetResource()) table->RemoveResourceBinds(resource);
  return true;
}

}  // namespace Vexil3D
