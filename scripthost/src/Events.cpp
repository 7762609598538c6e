// Event types, their handlers, events and the registry of types by name hash.
#include <scripthost/Events.h>

#include <utility>
#include <vector>

#include <hack/ModuleOptions.h>

#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

namespace {

CClassBinding* BindingOf(CEventTypeRegistry* registry, ScriptClass which) {
  CScriptHost* host = registry != nullptr ? registry->GetHost() : nullptr;
  return host != nullptr ? host->GetBinding(which) : nullptr;
}

// The per-instance fields of the class of the instance on top of the stack (not the methods and statics, which
// the class keeps).
void FieldsOf(HSQUIRRELVM v, std::vector<HSQMEMBERHANDLE>& fields) {
  if (SQ_FAILED(sq_getclass(v, -1))) return;
  sq_pushnull(v);
  while (SQ_SUCCEEDED(sq_next(v, -2))) {
    // Key and value on the iterator: the lookup takes a copy of the key.
    const SQInteger iterator = sq_gettop(v) - 2;
    sq_push(v, -2);
    HSQMEMBERHANDLE handle;
    if (SQ_SUCCEEDED(sq_getmemberhandle(v, iterator - 1, &handle)) && !handle._static) fields.push_back(handle);
    sq_settop(v, iterator);
  }
  sq_pop(v, 2);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Registry

CEventTypeRegistry::~CEventTypeRegistry() { Clear(); }

void CEventTypeRegistry::Add(CEventType* type) {
  NameHashTable::tNode* node = m_table.Add(type->m_nameHash, type);
  // A type entered twice keeps the link of its latest entry; each entry holds its own reference.
  type->m_pRegistryLink = node;
  type->AddRef();
}

CEventType* CEventTypeRegistry::Find(const char16_t* name) const {
  NameHashTable::tNode* node = m_table.Find(HashName(name, false));
  return node != nullptr ? static_cast<CEventType*>(node->m_pValue) : nullptr;
}

void CEventTypeRegistry::Remove(CEventType* type) {
  if (type->m_pRegistryLink == nullptr) return;
  NameHashTable::RemoveNode(type->m_pRegistryLink);
  type->m_pRegistryLink = nullptr;
  // A second entry of the same type keeps it registered.
  for (const ListNode* node = m_table.GetOrdered().m_pHead; node != nullptr; node = node->m_pNext) {
    auto* entry = static_cast<NameHashTable::tNode*>(node->m_pRecord);
    if (entry->m_pValue == type) type->m_pRegistryLink = entry;
  }
  type->Release();
}

void CEventTypeRegistry::RemoveOwnedBy(CScriptEnvironment* owner) {
  // References are dropped after the walk: a type's destruction releases script values.
  std::vector<CEventType*> removed;
  for (ListNode* node = m_table.GetOrdered().m_pHead; node != nullptr;) {
    ListNode* next = node->m_pNext;
    auto* entry = static_cast<NameHashTable::tNode*>(node->m_pRecord);
    auto* type = static_cast<CEventType*>(entry->m_pValue);
    if (type->m_pOwner == owner) {
      NameHashTable::RemoveNode(entry);
      type->m_pRegistryLink = nullptr;
      removed.push_back(type);
    }
    node = next;
  }
  for (CEventType* type : removed) type->Release();
}

void CEventTypeRegistry::Clear() {
  std::vector<CEventType*> removed;
  while (m_table.GetOrdered().m_pHead != nullptr) {
    auto* entry = static_cast<NameHashTable::tNode*>(m_table.GetOrdered().m_pHead->m_pRecord);
    auto* type = static_cast<CEventType*>(entry->m_pValue);
    NameHashTable::RemoveNode(entry);
    type->m_pRegistryLink = nullptr;
    removed.push_back(type);
  }
  for (CEventType* type : removed) type->Release();
}

// ---------------------------------------------------------------------------------------------------------------
// Event types

CEventType::CEventType(CEventTypeRegistry* registry, CScriptEnvironment* owner, const char16_t* name)
    : tSquirrelReferenceableReleasable<CEventType>(BindingOf(registry, ScriptClass::EventType)),
      tHostDependent(registry != nullptr ? registry->GetHost() : nullptr),
      m_pRegistry(registry),
      m_pOwner(owner),
      m_nameHash(HashName(name, false)) {}

CEventType::~CEventType() {
  while (m_handlers.m_pHead != nullptr) Unlink(m_handlers.m_pHead);
}

void CEventType::AddHandler(CScriptEnvironment* environment, HSQUIRRELVM v, SQInteger index) {
  auto* handler = new tHandler{&m_handlers, m_handlers.m_pTail, nullptr, environment, {}};
  HSQOBJECT closure;
  if (SQ_FAILED(sq_getstackobj(v, index, &closure))) sq_resetobject(&closure);
  CScriptHost* host = GetHost();
  handler->m_closure.Set(host != nullptr ? host->GetVM() : v, closure);
  if (m_handlers.m_pTail != nullptr) {
    m_handlers.m_pTail->m_pNext = handler;
  } else {
    m_handlers.m_pHead = handler;
  }
  m_handlers.m_pTail = handler;
  ++m_handlers.m_Count;
}

void CEventType::Unlink(tHandler* handler) {
  if (handler->m_pPrevious != nullptr) {
    handler->m_pPrevious->m_pNext = handler->m_pNext;
  } else {
    m_handlers.m_pHead = handler->m_pNext;
  }
  if (handler->m_pNext != nullptr) {
    handler->m_pNext->m_pPrevious = handler->m_pPrevious;
  } else {
    m_handlers.m_pTail = handler->m_pPrevious;
  }
  --m_handlers.m_Count;
  delete handler;
}

void CEventType::TakeValuesOf(CScriptEnvironment* environment, std::vector<CScriptObjectRef>& closures) {
  if (environment == nullptr) return;
  for (tHandler* handler = m_handlers.m_pHead; handler != nullptr;) {
    tHandler* next = handler->m_pNext;
    if (handler->m_pEnvironment == environment) {
      closures.push_back(std::move(handler->m_closure));
      if (m_firing != 0) {
        // A firing walks this list now: the node stays, marked gone, until it ends.
        handler->m_pEnvironment = nullptr;
        m_needsSweep = true;
      } else {
        Unlink(handler);
      }
    }
    handler = next;
  }
}

void CEventType::Sweep() {
  m_needsSweep = false;
  for (tHandler* handler = m_handlers.m_pHead; handler != nullptr;) {
    tHandler* next = handler->m_pNext;
    if (handler->m_pEnvironment == nullptr) Unlink(handler);
    handler = next;
  }
}

void CEventType::DropHostValues() {
  std::vector<CScriptObjectRef> closures;
  for (tHandler* handler = m_handlers.m_pHead; handler != nullptr; handler = handler->m_pNext) {
    closures.push_back(std::move(handler->m_closure));
    handler->m_pEnvironment = nullptr;
  }
  if (m_firing == 0) Sweep();
  m_pRegistry = nullptr;
  AddRef();
  closures.clear();
  Release();
}

// ---------------------------------------------------------------------------------------------------------------
// Events

CEvent::CEvent(CEventType* type)
    : tSquirrelReferenceableReleasable<CEvent>(BindingOf(type->GetRegistry(), ScriptClass::Event)), m_pType(type) {
  m_pType->AddRef();
}

CEvent::~CEvent() { m_pType->Release(); }

void CEvent::Trigger(CScriptArguments* arguments, CScriptEnvironment* filter) {
  CEventType* type = m_pType;
  CScriptHost* host = type->GetHost();
  if (type->m_handlers.m_pHead == nullptr || host == nullptr) return;
  CEventScriptArguments eventArguments(this, arguments);
  // Handlers may drop the last script references on this event or its type, or remove handlers.
  AddRef();
  type->AddRef();
  ++type->m_firing;
  // Consecutive handlers of one environment run within one entry: the same pushes, swaps and their undoing as
  // a CallHandler per handler, without swapping back and forth in between.
  CScriptEnvironment* entered = nullptr;
  for (CEventType::tHandler* handler = type->m_handlers.m_pHead; handler != nullptr; handler = handler->m_pNext) {
    CScriptEnvironment* environment = handler->m_pEnvironment;
    if (environment == nullptr || (filter != nullptr && environment != filter)) continue;
    if (environment != entered) {
      if (entered != nullptr) {
        entered->Leave();
        host->PopRunningEnvironment();
        entered = nullptr;
      }
      if (environment->GetThread() == nullptr) continue;
      host->PushRunningEnvironment(environment);
      environment->Enter();
      entered = environment;
    }
    entered->CallEntered(handler->m_closure, &eventArguments);
    if (m_preventDefault != 0) break;
  }
  if (entered != nullptr) {
    entered->Leave();
    host->PopRunningEnvironment();
  }
  if (--type->m_firing == 0 && type->m_needsSweep) type->Sweep();
  type->Release();
  Release();
}

// ---------------------------------------------------------------------------------------------------------------
// Reused events

void CReusedEvent::ResetFields(const CScriptObjectRef& instance) {
  const HSQUIRRELVM v = instance.GetVM();
  instance.Push(v);
  if (SQ_SUCCEEDED(sq_getclass(v, -1))) {
    for (const HSQMEMBERHANDLE& field : m_fields) {
      if (SQ_SUCCEEDED(sq_getbyhandle(v, -1, &field))) sq_setbyhandle(v, -3, &field);
    }
    sq_poptop(v);
  }
  sq_poptop(v);
}

void CReusedEvent::Drop() {
  // Letting go of the instance frees it, and its release hook drops the instance's reference on the event.
  m_instance.Release();
  m_fields.clear();
  m_fieldsKnown = false;
  if (m_pEvent != nullptr) {
    CEvent* event = m_pEvent;
    m_pEvent = nullptr;
    event->Release();
  }
}

bool CReusedEvent::Fire(CEventType* type, CScriptArguments* arguments) {
  // Taken out for the firing: a handler firing this type again makes an event of its own.
  CEvent* event = std::exchange(m_pEvent, nullptr);
  CScriptObjectRef instance = std::move(m_instance);
  if (event != nullptr && event->GetType() != type) {
    // Another type may be of another host, whose class of events is another.
    instance.Release();
    event->Release();
    event = nullptr;
    m_fields.clear();
    m_fieldsKnown = false;
  }
  if (event == nullptr) event = new CEvent(type);
  // The defaults as a new event would read them now: a closure may have replaced one since the last firing.
  if (!instance.IsNull() && !m_fields.empty()) ResetFields(instance);
  CScriptHost* host = type->GetHost();
  if (instance.IsNull() && host != nullptr && type->m_handlers.m_pHead != nullptr) {
    // Held through the firing, so that afterwards the count tells whether anything else kept it.
    const HSQUIRRELVM v = host->GetVM();
    event->PushInstance(v);
    if (sq_gettype(v, -1) == OT_INSTANCE) {
      instance.SetFromStack(v, -1);
      if (!m_fieldsKnown) FieldsOf(v, m_fields);
      m_fieldsKnown = true;
    }
    sq_poptop(v);
  }
  event->Trigger(arguments, nullptr);
  const bool prevented = event->IsDefaultPrevented();
  const HSQOBJECT& held = instance.GetObject();
  // Our reference and the instance's on the event, and our hold on the instance: nothing else.
  const bool unkept = !instance.IsNull() && event->HasInstance() &&
                      event->GetCachedInstance()._unVal.pInstance == held._unVal.pInstance &&
                      event->GetRefCount() == 2 && sq_getvmrefcount(instance.GetVM(), &held) == 1 &&
                      !sq_hasweakref(&held);
  if (unkept) {
    event->m_preventDefault = 0;
    m_pEvent = event;
    m_instance = std::move(instance);
    // What the handlers stored goes now, as it would with the event.
    if (!m_fields.empty()) ResetFields(m_instance);
  } else {
    instance.Release();
    event->Release();
  }
  return prevented;
}
