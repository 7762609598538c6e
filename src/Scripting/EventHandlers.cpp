// Engine events: event types, handlers, triggering with deferred removal, the deferred queue and the six
// script functions.
#include <scripting/EventHandlers.h>

#include <algorithm>
#include <utility>

#include <engine/Context.h>
#include <engine/Scripting.h>
#include <platform/text.h>
#include <scripting/Resource.h>

namespace Vexil3D::EventHandlers {

namespace {

constexpr int kNameArgument = 0;
constexpr int kSecondArgument = 1;
constexpr int kThirdArgument = 2;
constexpr std::int32_t kAnyCount = -1;
constexpr std::int32_t kNotBindable = -1;

std::uint32_t EventKey(const char16_t* name) {
  return GetNameHash(name, static_cast<std::uint32_t>(text::Length(name)), true);
}

CCancellableEvent* ThisEvent(CNativeState* state, void* user) {
  CBaseObject* object = nullptr;
  auto* table = static_cast<CEventMgr*>(user);
  return state->GetThis(table->GetCancellableEventClass(), &object) ? static_cast<CCancellableEvent*>(object)
                                                                     : nullptr;
}

bool PreventDefault(CNativeState* state, int, void* user) {
  CCancellableEvent* event = ThisEvent(state, user);
  if (!event) return false;
  event->PreventDefault();
  return true;
}

bool IsDefaultPrevented(CNativeState* state, int, void* user) {
  CCancellableEvent* event = ThisEvent(state, user);
  return event && state->ReturnBoolean(event->IsDefaultPrevented());
}

}  // namespace

// Counts the triggers (and drains) under way; the outermost one's end destroys what was removed meanwhile.
class CEventMgr::TriggerScope {
 public:
  explicit TriggerScope(CEventMgr* table) : m_pTable(table) { ++m_pTable->m_iTriggering; }
  ~TriggerScope() {
    if (--m_pTable->m_iTriggering > 0) return;
    if (std::exchange(m_pTable->m_bSweep, false))
      for (auto& [key, type] : m_pTable->m_Types) type->EraseRemoved();
    std::vector<CEventType*> retired;
    retired.swap(m_pTable->m_Retired);
    for (CEventType* type : retired) delete type;
  }
  TriggerScope(const TriggerScope&) = delete;
  TriggerScope& operator=(const TriggerScope&) = delete;

 private:
  CEventMgr* m_pTable;
};

// -------------------------------------------------------------------------------------------------
// Handlers and events

void CScriptEventHandler::Call(CEvent* event, void*, CArgumentArray* arguments) {
  if (!m_pFunction) return;
  Strong<CFunction> function = m_pFunction;
  // The handler may stop every resource, its own among them, which releases the manager's reference; the
  // natives it calls afterwards still read its resource from the state.
  Strong<CResource> resource(m_pResource);
  CArgumentArray call;
  call.AppendObject(event);
  if (arguments) arguments->AppendTo(&call);
  CEventMgr* table = m_pType ? m_pType->GetTable() : nullptr;
  CNativeState state(table ? table->GetScripting() : nullptr, m_pResource, &call);
  function->Call(&state, static_cast<int>(call.GetCount()));
}

CEvent::CEvent(CEventType* type)
    : m_pType(type), m_pClass(type && type->GetTable() ? type->GetTable()->GetEventClass() : nullptr) {
  if (type) type->m_Events.push_back(this);
}

CEvent::~CEvent() {
  if (m_pType) std::erase(m_pType->m_Events, this);
}

CCancellableEvent::CCancellableEvent(CEventType* type) : CEvent(type) {
  if (type && type->GetTable()) m_pClass = type->GetTable()->GetCancellableEventClass();
}

// -------------------------------------------------------------------------------------------------
// Event types

CEventType::CEventType(CEventMgr* table, std::uint32_t key, const char16_t* name, const char16_t* description,
                       std::int32_t argumentCount, bool cancellable)
    : m_pTable(table),
      m_uKey(key),
      m_Name(name ? name : u""),
      m_Description(description ? description : u""),
      m_iArgumentCount(argumentCount),
      m_bCancellable(cancellable) {}

CEventType::~CEventType() {
  for (CEventHandler* handler : m_Handlers) delete handler;
  for (CEvent* event : m_Events) event->m_pType = nullptr;
}

bool CEventType::AddHandler(CEventHandler* handler) {
  if (!handler) return false;
  handler->m_pType = this;
  m_Handlers.push_back(handler);
  return true;
}

bool CEventType::BindHandler(CBaseObject* object, CResource* resource, CFunction* function) {
  if (object && m_iBindableIndex == kNotBindable) return false;
  auto* handler = new CScriptEventHandler(resource, function);
  handler->m_pBound = object;
  handler->m_bBound = object != nullptr;
  return AddHandler(handler);
}

template <class Match>
std::uint32_t CEventType::Remove(Match match) {
  std::uint32_t removed = 0;
  for (CEventHandler* handler : m_Handlers) {
    if (handler->m_bRemoved || !match(handler)) continue;
    handler->m_bRemoved = true;
    ++removed;
  }
  if (m_pTable->m_iTriggering <= 0)
    EraseRemoved();
  else if (removed > 0)
    m_pTable->m_bSweep = true;
  return removed;
}

void CEventType::EraseRemoved() {
  auto kept = std::stable_partition(m_Handlers.begin(), m_Handlers.end(),
                                    [](CEventHandler* handler) { return !handler->m_bRemoved; });
  std::vector<CEventHandler*> gone(kept, m_Handlers.end());
  m_Handlers.erase(kept, m_Handlers.end());
  for (CEventHandler* handler : gone) delete handler;
}

std::uint32_t CEventType::RemoveHandlers(CResource* resource) {
  return Remove([resource](CEventHandler* handler) { return !resource || handler->m_pResource == resource; });
}

std::uint32_t CEventType::UnbindHandlers(CBaseObject* object, CResource* resource) {
  if (!object) return 0;
  return Remove([object, resource](CEventHandler* handler) {
    return handler->m_bBound && handler->m_pBound.Get() == object && (!resource || handler->m_pResource == resource);
  });
}

std::size_t CEventType::GetHandlerCount() const {
  return static_cast<std::size_t>(
      std::count_if(m_Handlers.begin(), m_Handlers.end(), [](CEventHandler* h) { return !h->m_bRemoved; }));
}

bool CEventType::Walk(CResource* only, bool filterResource, CEvent* event, CArgumentArray* arguments) {
  const std::uint32_t given = arguments ? arguments->GetCount() : 0;
  if (m_iArgumentCount != kAnyCount && given < static_cast<std::uint32_t>(m_iArgumentCount))
    LogF(LOG_WARN, u"TriggerWithEvent: Event '%s' triggered with %d arguments but requires %d arguments",
         m_Name.c_str(), static_cast<int>(given), static_cast<int>(m_iArgumentCount));
  CBaseObject* source = nullptr;
  if (m_iBindableIndex != kNotBindable && arguments) {
    CArgument* argument = arguments->Get(static_cast<std::uint32_t>(m_iBindableIndex));
    if (argument && argument->IsObject())
      source = argument->ToObject();
    else if (argument && !argument->IsNil() && !argument->IsUndefined())
      LogF(LOG_WARN, u"TriggerWithEvent: Event '%s' source argument %d is not an object", m_Name.c_str(),
           static_cast<int>(m_iBindableIndex));
  }
  // The event and its arguments must outlive handlers that drop their last outside references.
  Strong<CEvent> holdEvent(event);
  CEventMgr::TriggerScope scope(m_pTable);
  // Handlers appended by a call lie past this count and wait for the next trigger; removed ones stay in
  // place, flagged, until the outermost trigger ends.
  const std::size_t count = m_Handlers.size();
  bool called = false;
  for (std::size_t i = 0; i < count; ++i) {
    CEventHandler* handler = m_Handlers[i];
    if (handler->m_bRemoved || (filterResource && handler->m_pResource != only)) continue;
    if (handler->m_bBound && handler->m_pBound.Get() != source) continue;
    called = true;
    handler->Call(event, nullptr, arguments);
  }
  return called;
}

bool CEventType::TriggerWithEvent(CEvent* event, CArgumentArray* arguments) {
  return Walk(nullptr, false, event, arguments);
}

bool CEventType::TriggerWithEvent(CResource* resource, CEvent* event, CArgumentArray* arguments) {
  return Walk(resource, true, event, arguments);
}

bool CEventType::Trigger(CArgumentArray* arguments, bool* prevented) {
  if (!m_bCancellable)
    LogF(LOG_WARN, u"Trigger: Event '%s' used with 'preventDefault' but not registered that way", m_Name.c_str());
  Strong<CCancellableEvent> event;
  event.Attach(new CCancellableEvent(this));
  const bool result = TriggerWithEvent(event.Get(), arguments);
  if (prevented) *prevented = event->IsDefaultPrevented();
  return result;
}

// -------------------------------------------------------------------------------------------------
// The table

CEventMgr::CEventMgr(CResourceMgr* owner, CScripting* scripting) : m_pOwner(owner), m_pScripting(scripting) {
  if (scripting) RegisterFunctions(scripting);
}

CEventMgr::~CEventMgr() {
  m_Deferred.clear();
  m_Draining.clear();
  for (auto& [key, type] : m_Types) delete type;
  for (CEventType* type : m_Retired) delete type;
}

CEventType* CEventMgr::CreateEventType(const char16_t* name, const char16_t* description, std::int32_t argumentCount,
                                       bool cancellable) {
  const std::uint32_t key = EventKey(name);
  if (m_Types.count(key)) return nullptr;
  auto* type = new CEventType(this, key, name, description, argumentCount, cancellable);
  m_Types.emplace(key, type);
  return type;
}

CEventType* CEventMgr::FindEventType(const char16_t* name) const {
  auto it = m_Types.find(EventKey(name));
  return it != m_Types.end() ? it->second : nullptr;
}

void CEventMgr::DropDeferred(CEventType* type, CResource* resource) {
  auto drop = [&](std::vector<Deferred>& records) {
    std::erase_if(records, [&](const Deferred& record) {
      return (type && record.type == type) || (resource && record.resource == resource) || (!type && !resource);
    });
  };
  drop(m_Deferred);
  drop(m_Draining);
}

std::uint32_t CEventMgr::RemoveResourceHandlers(CResource* resource) {
  std::uint32_t removed = 0;
  for (auto& [key, type] : m_Types) removed += type->RemoveHandlers(resource);
  if (resource) DropDeferred(nullptr, resource);
  return removed;
}

std::uint32_t CEventMgr::UnbindObjectHandlers(CBaseObject* object) {
  std::uint32_t removed = 0;
  for (auto& [key, type] : m_Types) removed += type->UnbindHandlers(object, nullptr);
  return removed;
}

std::uint32_t CEventMgr::Clear() {
  std::uint32_t removed = 0;
  DropDeferred(nullptr, nullptr);
  std::unordered_map<std::uint32_t, CEventType*> types;
  types.swap(m_Types);
  for (auto& [key, type] : types) {
    removed += static_cast<std::uint32_t>(type->GetHandlerCount());
    if (m_iTriggering > 0) {
      // A running trigger walks it: flag everything and let the outermost trigger's end destroy it.
      for (CEventHandler* handler : type->m_Handlers) handler->m_bRemoved = true;
      type->m_bCleared = true;
      m_Retired.push_back(type);
    } else {
      delete type;
    }
  }
  return removed;
}

void CEventMgr::Defer(CEventType* type, CResource* resource, std::uint32_t hold, CArgumentArray* arguments) {
  Deferred record{type, resource, hold, {}};
  record.arguments.Attach(arguments);
  m_Deferred.push_back(std::move(record));
}

void CEventMgr::ReleaseHeld(CEventType* type) {
  for (Deferred& record : m_Deferred)
    if (record.type == type) record.hold = 0;
}

void CEventMgr::ProcessDeferred() {
  TriggerScope scope(this);
  std::vector<Deferred> taken;
  taken.swap(m_Deferred);
  for (Deferred& record : taken) {
    if (record.hold != 0)
      m_Deferred.push_back(std::move(record));
    else
      m_Draining.push_back(std::move(record));
  }
  // One record at a time from the front: a handler may clear the table or stop a resource, which drops the
  // records still waiting here.
  while (!m_Draining.empty()) {
    Deferred record = std::move(m_Draining.front());
    m_Draining.erase(m_Draining.begin());
    if (!record.type || record.type->m_bCleared) continue;
    Strong<CEvent> event;
    event.Attach(new CEvent(record.type));
    if (record.resource)
      record.type->TriggerWithEvent(record.resource, event.Get(), record.arguments.Get());
    else
      record.type->TriggerWithEvent(event.Get(), record.arguments.Get());
  }
}

// -------------------------------------------------------------------------------------------------
// Script functions

void CEventMgr::RegisterFunctions(CScripting* scripting) {
  CReflection& global = scripting->m_Global;
  global.RegisterFunction(u"addEvent", u"s|i", &NativeAddEvent, this);
  global.RegisterFunction(u"addEventHandler", u"sc", &NativeAddEventHandler, this);
  global.RegisterFunction(u"removeEventHandler", u"s", &NativeRemoveEventHandler, this);
  global.RegisterFunction(u"bindEventHandler", u"sxc", &NativeBindEventHandler, this);
  global.RegisterFunction(u"unbindEventHandler", u"sx", &NativeUnbindEventHandler, this);
  global.RegisterFunction(u"triggerEvent", u"s|x*", &NativeTriggerEvent, this);
  m_pEventClass = global.RegisterClass(u"Event", nullptr);
  m_pCancellableClass = global.RegisterClass(u"CancellableEvent", m_pEventClass);
  if (!m_pCancellableClass) return;
  m_pCancellableClass->RegisterMethod(u"preventDefault", u"t", &PreventDefault, this, false);
  m_pCancellableClass->RegisterMethod(u"isDefaultPrevented", u"t", &IsDefaultPrevented, this, false);
}

bool CEventMgr::NativeAddEvent(CNativeState* state, int argumentCount, void* user) {
  auto* table = static_cast<CEventMgr*>(user);
  const char16_t* name = state->CheckString(kNameArgument, nullptr);
  if (!name) return false;
  std::int32_t count = kAnyCount;
  if (argumentCount > kSecondArgument && !state->CheckNumber(kSecondArgument, &count)) return false;
  return state->ReturnBoolean(table->CreateEventType(name, nullptr, count, true) != nullptr);
}

bool CEventMgr::NativeAddEventHandler(CNativeState* state, int, void* user) {
  auto* table = static_cast<CEventMgr*>(user);
  const char16_t* name = state->CheckString(kNameArgument, nullptr);
  if (!name) return false;
  CFunction* function = state->CheckFunction(kSecondArgument);
  if (!function) return false;
  CEventType* type = table->FindEventType(name);
  if (!type) {
    LogF(LOG_WARN, u"AddEventHandler: Event '%s' doesn't exist", name);
    return state->ReturnBoolean(false);
  }
  return state->ReturnBoolean(type->BindHandler(nullptr, state->GetResource(), function));
}

bool CEventMgr::NativeRemoveEventHandler(CNativeState* state, int, void* user) {
  auto* table = static_cast<CEventMgr*>(user);
  const char16_t* name = state->CheckString(kNameArgument, nullptr);
  if (!name) return false;
  CEventType* type = table->FindEventType(name);
  // Without a resource the removal would take every handler of the type, the native ones too.
  CResource* resource = state->GetResource();
  return state->ReturnBoolean(type && resource && type->RemoveHandlers(resource) > 0);
}

bool CEventMgr::NativeBindEventHandler(CNativeState* state, int, void* user) {
  auto* table = static_cast<CEventMgr*>(user);
  const char16_t* name = state->CheckString(kNameArgument, nullptr);
  if (!name) return false;
  CBaseObject* object = state->CheckInstance(kSecondArgument);
  if (!object) return false;
  CFunction* function = state->CheckFunction(kThirdArgument);
  if (!function) return false;
  CEventType* type = table->FindEventType(name);
  if (!type) return state->Error(u"Event '%s' doesn't exist", name);
  if (type->GetBindableIndex() == kNotBindable) return state->Error(u"Event '%s' is not bindable", name);
  if (!type->BindHandler(object, state->GetResource(), function))
    return state->Error(u"Event '%s' failed to bind", name);
  return state->ReturnBoolean(true);
}

bool CEventMgr::NativeUnbindEventHandler(CNativeState* state, int, void* user) {
  auto* table = static_cast<CEventMgr*>(user);
  const char16_t* name = state->CheckString(kNameArgument, nullptr);
  if (!name) return false;
  CBaseObject* object = state->CheckInstance(kSecondArgument);
  if (!object) return false;
  CEventType* type = table->FindEventType(name);
  CResource* resource = state->GetResource();
  return state->ReturnBoolean(type && resource && type->UnbindHandlers(object, resource) > 0);
}

bool CEventMgr::NativeTriggerEvent(CNativeState* state, int argumentCount, void* user) {
  auto* table = static_cast<CEventMgr*>(user);
  const char16_t* name = state->CheckString(kNameArgument, nullptr);
  if (!name) return false;
  if (argumentCount > kSecondArgument && !state->CheckObject(nullptr, kSecondArgument, true, nullptr)) return false;
  CEventType* type = table->FindEventType(name);
  if (!type) return state->Error(u"Event '%s' doesn't exist", name);
  Strong<CArgumentArray> arguments;
  arguments.Attach(new CArgumentArray());
  for (int i = kThirdArgument; i < argumentCount; ++i) arguments->Append(state->GetArgument(i));
  bool prevented = false;
  type->Trigger(arguments.Get(), &prevented);
  return state->ReturnBoolean(prevented);
}

}  // namespace Vexil3D::EventHandlers
