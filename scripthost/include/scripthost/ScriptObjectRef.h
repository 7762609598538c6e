#pragma once
// CScriptObjectRef: one value held in the script machine's reference table, and tHostDependent: the link of
// every native object that holds such values, so the host can make it drop them before the machine closes.
//
// Errors: none; holding and releasing cannot fail.
// Locking: none; the game's main thread alone touches the machine.
#include <cstdint>
#include <utility>
#include <vector>

#include <squirrel.h>

class CScriptEnvironment;
class CScriptHost;

class CScriptObjectRef {
 public:
  CScriptObjectRef() { sq_resetobject(&m_object); }
  ~CScriptObjectRef() { Release(); }
  CScriptObjectRef(const CScriptObjectRef&) = delete;
  CScriptObjectRef& operator=(const CScriptObjectRef&) = delete;
  // Moving passes the held reference on; the source is left null.
  CScriptObjectRef(CScriptObjectRef&& other) noexcept : m_vm(other.m_vm), m_object(other.m_object) {
    other.Abandon();
  }
  CScriptObjectRef& operator=(CScriptObjectRef&& other) noexcept {
    if (this != &other) {
      Release();
      m_vm = other.m_vm;
      m_object = other.m_object;
      other.Abandon();
    }
    return *this;
  }

  // Releases the old value, then holds the value at the stack index (a reference for counted types).
  // Holding the value already held changes nothing.
  void SetFromStack(HSQUIRRELVM v, SQInteger index);
  // The same for a value taken from another thread of the machine: holding on the machine that outlives the
  // thread keeps the release safe after the thread is gone.
  void Set(HSQUIRRELVM v, const HSQOBJECT& object);
  // Pushes the value (null when none is held).
  void Push(HSQUIRRELVM v) const { sq_pushobject(v, m_object); }
  // Drops the held reference; the holder becomes null.
  void Release();
  // Forgets the value without touching the machine: for holders whose machine is gone.
  void Abandon() {
    m_vm = nullptr;
    sq_resetobject(&m_object);
  }

  bool IsNull() const { return m_object._type == OT_NULL; }
  const HSQOBJECT& GetObject() const { return m_object; }
  // The machine the value is held in; null when nothing is held.
  HSQUIRRELVM GetVM() const { return m_vm; }

 private:
  HSQUIRRELVM m_vm = nullptr;
  HSQOBJECT m_object;
};

// A native object that holds values of one host's machine. It links itself into the host's list when made
// and unlinks when destroyed; a host that is destroyed first calls DropHostValues once and forgets it, after
// which the object touches neither host nor machine.
class tHostDependent {
 public:
  tHostDependent(const tHostDependent&) = delete;
  tHostDependent& operator=(const tHostDependent&) = delete;

  CScriptHost* GetHost() const { return m_pHost; }
  tHostDependent* GetNextDependent() const { return m_pNextDependent; }
  // An environment is going: values of its own (handlers) move out to the caller, who releases them once
  // every holder is settled.
  virtual void TakeValuesOf(CScriptEnvironment* /*environment*/, std::vector<CScriptObjectRef>& /*values*/) {}
  // An environment is gone: whatever still names it as its owner forgets it, so no later walk compares
  // against, or reaches, a destroyed environment.
  virtual void ForgetEnvironment(CScriptEnvironment* /*environment*/) {}

 protected:
  // Links into host's list (none: stays unlinked, as after a detach).
  explicit tHostDependent(CScriptHost* host);
  virtual ~tHostDependent();

  // Releases every value held in the machine; called while the machine is still open. Releasing may free
  // script instances and through them other native objects, this one included unless it guards itself.
  virtual void DropHostValues() = 0;

 private:
  friend class CScriptHost;
  CScriptHost* m_pHost;
  tHostDependent* m_pPreviousDependent = nullptr;
  tHostDependent* m_pNextDependent = nullptr;
};
