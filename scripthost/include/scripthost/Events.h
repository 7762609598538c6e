#pragma once
// Script event types (CEventType: a named list of handler closures, each of one environment), events (CEvent:
// one firing with its prevented-default flag) and the host's registry of types by name hash.
//
// Ownership: the registry holds one reference on each entry; an event holds one on its type. A handler
// holds its closure in the machine until its environment goes or the host closes.
// Errors: none reported here; a handler's script error goes to the error handler of its environment's thread
// (the host's report unless the environment set its own with seterrorhandler) and the firing goes on.
// Locking: none; the game's main thread alone uses these.
#include <cstdint>
#include <vector>

#include <squirrel.h>

#include <scripthost/NameHashTable.h>
#include <scripthost/Referenceable.h>
#include <scripthost/ScriptObjectRef.h>

class CScriptArguments;
class CScriptEnvironment;
class CScriptHost;
class CEventType;

class CEventTypeRegistry {
 public:
  explicit CEventTypeRegistry(CScriptHost* host) : m_pHost(host) {}
  ~CEventTypeRegistry();
  CEventTypeRegistry(const CEventTypeRegistry&) = delete;
  CEventTypeRegistry& operator=(const CEventTypeRegistry&) = delete;

  // Enters the type (behind any of the same name) and takes a reference on it.
  void Add(CEventType* type);
  // The first type entered under the name's hash, or null.
  CEventType* Find(const char16_t* name) const;
  // Removes the type's latest entry, when it has one, and drops that entry's reference. A type entered twice
  // stays registered through its other entry, which becomes its link: it is still found and still reads as
  // added until that entry goes too.
  void Remove(CEventType* type);
  // Removes every entry whose type's owner is the environment (null: the types made natively).
  void RemoveOwnedBy(CScriptEnvironment* owner);
  // Removes every entry, dropping each reference.
  void Clear();

  CScriptHost* GetHost() const { return m_pHost; }
  const NameHashTable& GetTable() const { return m_table; }

 private:
  CScriptHost* m_pHost;
  NameHashTable m_table;
};

class CEventType : public tSquirrelReferenceableReleasable<CEventType>, public tHostDependent {
 public:
  struct tHandlerList;
  struct tHandler {
    tHandlerList* m_pList;
    tHandler* m_pPrevious;
    tHandler* m_pNext;
    // Null once the handler is gone but its node waits for a firing to end.
    CScriptEnvironment* m_pEnvironment;
    CScriptObjectRef m_closure;
  };
  struct tHandlerList {
    tHandler* m_pHead = nullptr;
    tHandler* m_pTail = nullptr;
    std::uint32_t m_Count = 0;
  };

  // Not yet in the registry; count 1 for the caller.
  CEventType(CEventTypeRegistry* registry, CScriptEnvironment* owner, const char16_t* name);
  ~CEventType() override;

  // Appends a handler of the environment with the closure at the stack index.
  void AddHandler(CScriptEnvironment* environment, HSQUIRRELVM v, SQInteger index);
  // Removes every handler of the environment, moving their closures out for the caller to release.
  void TakeValuesOf(CScriptEnvironment* environment, std::vector<CScriptObjectRef>& closures) override;
  // A type made by the environment and kept alive elsewhere (Shared, a global of another environment) becomes a
  // type without owner.
  void ForgetEnvironment(CScriptEnvironment* environment) override {
    if (m_pOwner == environment) m_pOwner = nullptr;
  }

  CEventTypeRegistry* GetRegistry() const { return m_pRegistry; }
  CScriptEnvironment* GetOwner() const { return m_pOwner; }
  std::uint32_t GetNameHash() const { return m_nameHash; }
  bool IsRegistered() const { return m_pRegistryLink != nullptr; }
  const tHandlerList& GetHandlers() const { return m_handlers; }

 private:
  friend class CEvent;
  friend class CReusedEvent;
  friend class CEventTypeRegistry;

  void DropHostValues() override;
  void Unlink(tHandler* handler);
  // Unlinks the handlers marked gone during a firing.
  void Sweep();

  CEventTypeRegistry* m_pRegistry;
  CScriptEnvironment* m_pOwner;
  tHandlerList m_handlers;
  std::uint32_t m_nameHash;
  NameHashTable::tNode* m_pRegistryLink = nullptr;
  // Firings under way; handlers removed meanwhile are only marked.
  std::uint32_t m_firing = 0;
  bool m_needsSweep = false;
};

class CEvent : public tSquirrelReferenceableReleasable<CEvent> {
 public:
  // Takes a reference on the type; count 1 for the caller.
  explicit CEvent(CEventType* type);
  ~CEvent() override;

  // Calls the type's handlers in order (only the filter environment's when one is given) with this event and
  // the arguments; stops after the handler that prevents the default.
  void Trigger(CScriptArguments* arguments, CScriptEnvironment* filter);

  void PreventDefault() { m_preventDefault = 1; }
  bool IsDefaultPrevented() const { return m_preventDefault != 0; }
  CEventType* GetType() const { return m_pType; }

 private:
  friend class CReusedEvent;

  CEventType* m_pType;
  std::uint8_t m_preventDefault = 0;
};

// The events native code fires of one type, one firing after another. Making the script instance handed to the
// handlers is most of a firing's own cost, so an event that nothing kept after its firing (no script value, no
// weak reference, no native reference) serves the next firing, instance and all: its prevented-default flag is
// cleared, and every field of its class (a script may add fields to Engine.Event before the first event exists)
// goes back to the class's default when the firing ends (releasing what handlers stored, as a freed event
// would) and again when the next begins (a closure may have replaced a default meanwhile), so no script can
// tell it from a new one. An event
// that a handler kept stays the handler's as it was, and the next firing makes a new one.
class CReusedEvent {
 public:
  CReusedEvent() = default;
  CReusedEvent(const CReusedEvent&) = delete;
  CReusedEvent& operator=(const CReusedEvent&) = delete;
  ~CReusedEvent() { Drop(); }

  // Fires an event of the type (arguments may be none) to every handler; answers whether one prevented the
  // default.
  bool Fire(CEventType* type, CScriptArguments* arguments);
  // Lets go of the kept event and its instance: before the machine that holds the instance closes.
  void Drop();

 private:
  // Puts the instance's fields back to its class's defaults as they are now.
  void ResetFields(const CScriptObjectRef& instance);

  CEvent* m_pEvent = nullptr;
  CScriptObjectRef m_instance;
  // The fields of the class of events, found with its first instance here: a class gains no field once it has
  // an instance, and every event of the machine is of that one class.
  std::vector<HSQMEMBERHANDLE> m_fields;
  bool m_fieldsKnown = false;
};
