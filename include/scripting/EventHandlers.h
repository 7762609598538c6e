#pragma once
// Engine events (namespace Vexil3D::EventHandlers): event types declared by name, handlers attached to them
// (script functions, optionally bound to one source object), triggering with an event object and an argument
// list, and a deferred queue that the frame loop's owner drains once a frame.
//
// Errors: warnings go to the engine log ("TriggerWithEvent:", "Trigger:", "AddEventHandler:"); script-visible
// failures are native errors; nothing throws and nothing asserts on script input.
// Ownership: the table owns its types, each type its handlers. While any trigger (or the drain) runs, removed
// handlers and cleared types are only flagged; the outermost trigger's end destroys them. Handlers added
// during a trigger wait for the next trigger. Locking: none; the game's main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <engine/Arguments.h>
#include <engine/Native.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CResource;
class CResourceMgr;
class CScripting;

namespace EventHandlers {

class CEvent;
class CEventMgr;
class CEventType;

class CEventHandler {
 public:
  CEventHandler(CResource* resource, CFunction* function) : m_pResource(resource), m_pFunction(function) {}
  CEventHandler(const CEventHandler&) = delete;
  CEventHandler& operator=(const CEventHandler&) = delete;
  virtual ~CEventHandler() = default;

  virtual void Call(CEvent* event, void* reserved, CArgumentArray* arguments) = 0;

  CEventType* GetType() const { return m_pType; }
  // The source it is bound to, null when unbound or when the object died.
  CBaseObject* GetBoundObject() const { return m_pBound.Get(); }
  bool IsBound() const { return m_bBound; }
  CResource* GetResource() const { return m_pResource; }
  CFunction* GetFunction() const { return m_pFunction.Get(); }
  bool IsRemoved() const { return m_bRemoved; }

 protected:
  friend class CEventType;
  friend class CEventMgr;

  CEventType* m_pType = nullptr;
  Weak<CBaseObject> m_pBound;
  bool m_bBound = false;   // bound handlers match only their source; once it died, only triggers with no source
  CResource* m_pResource;  // null for native handlers; not counted
  Strong<CFunction> m_pFunction;
  bool m_bRemoved = false;
};

// Calls its function with the event followed by the trigger's arguments, as its own resource, which it holds
// for the call.
class CScriptEventHandler : public CEventHandler {
 public:
  using CEventHandler::CEventHandler;
  void Call(CEvent* event, void* reserved, CArgumentArray* arguments) override;
};

// An event may outlive its type (a handler keeps it past CEventMgr::Clear): the type detaches it when it
// goes, and the event keeps its script class from its creation.
class CEvent : public CBaseObject {
 public:
  explicit CEvent(CEventType* type);
  ~CEvent() override;
  ReflectedClass* GetReflectedClass() override { return m_pClass; }
  // Null once the type is gone.
  CEventType* GetType() const { return m_pType; }

 protected:
  friend class CEventType;
  CEventType* m_pType;
  ReflectedClass* m_pClass;
};

class CCancellableEvent : public CEvent {
 public:
  explicit CCancellableEvent(CEventType* type);
  bool IsDefaultPrevented() const { return m_bDefaultPrevented; }
  void PreventDefault() { m_bDefaultPrevented = true; }

 private:
  bool m_bDefaultPrevented = false;
};

class CEventType {
 public:
  CEventType(const CEventType&) = delete;
  CEventType& operator=(const CEventType&) = delete;
  ~CEventType();

  // Takes ownership and appends; true (false only for null).
  bool AddHandler(CEventHandler* handler);
  // A script handler bound to the object (unbound for null); false when an object is given and the type
  // is not bindable.
  bool BindHandler(CBaseObject* object, CResource* resource, CFunction* function);
  // The resource's handlers (every handler when null); the count removed.
  std::uint32_t RemoveHandlers(CResource* resource);
  // The handlers bound to the object (only the resource's when given); 0 for a null object.
  std::uint32_t UnbindHandlers(CBaseObject* object, CResource* resource);
  // Calls the matching handlers in order; true when any was called.
  bool TriggerWithEvent(CEvent* event, CArgumentArray* arguments);
  // The same, calling only the handlers of the resource.
  bool TriggerWithEvent(CResource* resource, CEvent* event, CArgumentArray* arguments);
  // With a new cancellable event; prevented (when given) receives its flag.
  bool Trigger(CArgumentArray* arguments, bool* prevented);

  CEventMgr* GetTable() const { return m_pTable; }
  std::uint32_t GetKey() const { return m_uKey; }
  const std::u16string& GetName() const { return m_Name; }
  const std::u16string& GetDescription() const { return m_Description; }
  std::int32_t GetArgumentCount() const { return m_iArgumentCount; }
  bool IsCancellable() const { return m_bCancellable; }
  void SetCancellable(bool cancellable) { m_bCancellable = cancellable; }
  // -1: handlers cannot be bound; otherwise the position of the source among the arguments.
  std::int32_t GetBindableIndex() const { return m_iBindableIndex; }
  void SetBindableIndex(std::int32_t index) { m_iBindableIndex = index; }
  // Handlers attached and not removed.
  std::size_t GetHandlerCount() const;

 private:
  friend class CEventMgr;
  friend class CEvent;

  CEventType(CEventMgr* table, std::uint32_t key, const char16_t* name, const char16_t* description,
             std::int32_t argumentCount, bool cancellable);
  bool Walk(CResource* only, bool filterResource, CEvent* event, CArgumentArray* arguments);
  template <class Match>
  std::uint32_t Remove(Match match);
  void EraseRemoved();

  CEventMgr* m_pTable;
  std::vector<CEventHandler*> m_Handlers;  // owned
  std::uint32_t m_uKey;
  std::u16string m_Name;
  std::u16string m_Description;
  std::int32_t m_iArgumentCount;
  bool m_bCancellable;
  std::int32_t m_iBindableIndex = -1;
  bool m_bCleared = false;  // out of the table, waiting for the outermost trigger to end
  std::vector<CEvent*> m_Events;  // alive, not counted: detached when the type goes
};

class CEventMgr {
 public:
  // Registers the six script functions and the classes "Event" and "CancellableEvent" into scripting's
  // "global" namespace (when given).
  CEventMgr(CResourceMgr* owner, CScripting* scripting);
  CEventMgr(const CEventMgr&) = delete;
  CEventMgr& operator=(const CEventMgr&) = delete;
  ~CEventMgr();

  // Null (nothing made) when the name's key is taken. argumentCount -1 takes any number.
  CEventType* CreateEventType(const char16_t* name, const char16_t* description, std::int32_t argumentCount,
                              bool cancellable);
  CEventType* FindEventType(const char16_t* name) const;
  // The resource's handlers in every type, and its deferred records; the count of handlers removed.
  std::uint32_t RemoveResourceHandlers(CResource* resource);
  // The handlers bound to the object in every type; the count removed.
  std::uint32_t UnbindObjectHandlers(CBaseObject* object);
  // Every handler, type and deferred record; the count of handlers removed.
  std::uint32_t Clear();

  // Queues a trigger of the type for the next drain (only the resource's handlers when one is given); the
  // record takes over the arguments (may be null). A record with a hold flag stays queued until released.
  void Defer(CEventType* type, CResource* resource, std::uint32_t hold, CArgumentArray* arguments);
  // Releases the held records of the type so that the next drain triggers them.
  void ReleaseHeld(CEventType* type);
  // Triggers each queued record that is not held, in queue order, each with a plain event.
  void ProcessDeferred();
  std::size_t GetDeferredCount() const { return m_Deferred.size(); }

  std::size_t GetTypeCount() const { return m_Types.size(); }
  int GetTriggering() const { return m_iTriggering; }
  CResourceMgr* GetOwner() const { return m_pOwner; }
  CScripting* GetScripting() const { return m_pScripting; }
  ReflectedClass* GetEventClass() const { return m_pEventClass; }
  ReflectedClass* GetCancellableEventClass() const { return m_pCancellableClass; }

  // addEvent, addEventHandler, removeEventHandler, bindEventHandler, unbindEventHandler and triggerEvent,
  // with the classes Event and CancellableEvent. The type masks use the core library's letters, in which
  // "c" is a function and "f" a number: addEventHandler is "sc" and bindEventHandler "sxc", not "sf" and
  // "sxf", which would refuse every handler. removeEventHandler and unbindEventHandler answer false to a
  // caller with no resource: a removal on behalf of no resource would take every handler of the type, the
  // native ones too.
  void RegisterFunctions(CScripting* scripting);

 private:
  friend class CEventType;
  class TriggerScope;

  struct Deferred {
    CEventType* type;
    CResource* resource;
    std::uint32_t hold;
    Strong<CArgumentArray> arguments;
  };
  void DropDeferred(CEventType* type, CResource* resource);

  static bool NativeAddEvent(CNativeState* state, int argumentCount, void* user);
  static bool NativeAddEventHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeRemoveEventHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeBindEventHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeUnbindEventHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeTriggerEvent(CNativeState* state, int argumentCount, void* user);

  CResourceMgr* m_pOwner;
  std::unordered_map<std::uint32_t, CEventType*> m_Types;  // owned
  std::vector<Deferred> m_Deferred;
  std::vector<Deferred> m_Draining;  // the records of a drain under way, not yet triggered
  ReflectedClass* m_pEventClass = nullptr;        // owned by the registry
  ReflectedClass* m_pCancellableClass = nullptr;  // owned by the registry
  CScripting* m_pScripting;                       // not owned
  int m_iTriggering = 0;
  bool m_bSweep = false;               // handlers were flagged while a trigger ran
  std::vector<CEventType*> m_Retired;  // cleared while a trigger ran; owned
};

}  // namespace EventHandlers
}  // namespace Vexil3D
