#pragma once
// CScriptHost: the one holder of the Squirrel machine (g_ScriptHost), its registrations, the held tables and
// class bindings, the running and all script environments and the event-type registry; the print and error
// handlers it installs; the registration helpers that natives of every part use.
//
// Errors: construction never fails towards its caller; a machine that could not be opened is reported on
// standard error and leaves a closed host (IsOpen false) on which every operation does nothing.
// Ownership: the host owns the machine, its held values and the bindings; it does not own the environments or
// the event types. Environments and native holders of machine values that outlive the host are detached by
// its destructor: their values are dropped while the machine is still open, and they never reach the host
// again.
// Locking: none; construction, registration, natives and script calls all run on the game's main thread.
#include <cstdint>

#include <squirrel.h>

#include <hack/List.h>

#include <scripthost/ClassBinding.h>
#include <scripthost/Events.h>
#include <scripthost/ScriptObjectRef.h>

class CScriptEnvironment;

// The classes whose binding the host keeps, in its order.
enum class ScriptClass : std::uint32_t {
  AudioInstance,
  Texture,
  EventType,
  Event,
  Vector1D,
  Vector2D,
  Vector3D,
  Vector4D,
  Matrix4x4,
  Count,
};

class CScriptHost {
 public:
  static constexpr SQInteger kInitialStack = 1024;
  using tOpenFunction = HSQUIRRELVM (*)(SQInteger initialStack);

  CScriptHost();
  // Opens the machine through `open` (sq_open normally).
  explicit CScriptHost(tOpenFunction open);
  ~CScriptHost();
  CScriptHost(const CScriptHost&) = delete;
  CScriptHost& operator=(const CScriptHost&) = delete;
  // Destroys and frees the host (null is ignored).
  static void Delete(CScriptHost* host);

  // The host of a machine or of any environment thread (its foreign pointer).
  static CScriptHost* FromVM(HSQUIRRELVM v) { return static_cast<CScriptHost*>(sq_getforeignptr(v)); }

  bool IsOpen() const { return m_vm != nullptr; }
  HSQUIRRELVM GetVM() const { return m_vm; }

  // Appends the environment to the running list; PopRunningEnvironment removes the tail when its code returns.
  void PushRunningEnvironment(CScriptEnvironment* environment);
  void PopRunningEnvironment();
  // The environment whose code runs now, or null.
  CScriptEnvironment* GetRunningEnvironment() const {
    return m_running.m_pTail != nullptr ? static_cast<CScriptEnvironment*>(m_running.m_pTail->m_pRecord) : nullptr;
  }
  const tList& GetRunningEnvironments() const { return m_running; }
  const tList& GetEnvironments() const { return m_environments; }

  CEventTypeRegistry& GetEventTypes() { return m_eventTypes; }
  CClassBinding* GetBinding(ScriptClass which) const { return m_bindings[static_cast<std::uint32_t>(which)]; }
  // Makes the binding of the class on the stack top (natives' registrations call this right after the class).
  CClassBinding* BindClass(ScriptClass which, HSQUIRRELVM v, bool clonable);

  const CScriptObjectRef& GetSharedTable() const { return m_shared; }
  const CScriptObjectRef& GetDebugTable() const { return m_debug; }
  const CScriptObjectRef& GetRootTables() const { return m_rootTables; }
  const CScriptObjectRef& GetConstantTables() const { return m_constantTables; }
  const CScriptObjectRef& GetEngineTable() const { return m_engine; }

 private:
  friend class CScriptEnvironment;
  friend class tHostDependent;

  // The environment list's node for a new environment; its removal.
  ListNode* LinkEnvironment(CScriptEnvironment* environment) { return m_environments.Append(environment); }
  tHostDependent* GetFirstDependent() const { return m_pDependents; }
  void LinkDependent(tHostDependent* dependent);
  void UnlinkDependent(tHostDependent* dependent);

  void Register();

  HSQUIRRELVM m_vm = nullptr;
  CScriptObjectRef m_shared;
  CScriptObjectRef m_debug;
  CScriptObjectRef m_rootTables;
  CScriptObjectRef m_constantTables;
  CScriptObjectRef m_engine;
  CClassBinding* m_bindings[static_cast<std::uint32_t>(ScriptClass::Count)] = {};
  tList m_running;
  tList m_environments;
  CEventTypeRegistry m_eventTypes;
  tHostDependent* m_pDependents = nullptr;
  // Nodes of the running list kept for reuse, chained through m_pNext.
  ListNode* m_pSpareRunning = nullptr;
};

// The game's one host, or null.
extern CScriptHost* g_ScriptHost;

// The machine's print() and error(): formats with 16-bit text and writes UTF-8 to standard output.
void ScriptPrint(HSQUIRRELVM v, const SQChar* format, ...);
// Writes "sqvm: '<source>' (Ln:<line> Col:<column>) : <description>.\n" to standard error.
void ScriptCompilerErrorHandler(HSQUIRRELVM v, const SQChar* description, const SQChar* source, SQInteger line,
                                SQInteger column);
// The main machine's handler of uncaught errors, which every environment's thread starts with (each thread has
// its own, so an environment's seterrorhandler changes no other's). The error value is at index 2:
// "sqvm: <error>.\n" for a string error,
// then "Stack Dump:\n" and one line per call level, to standard error; of more than twenty levels only the
// first and last ten, with "... <n> levels not shown ...\n" between them. Returns 0.
SQInteger ScriptRuntimeErrorHandler(HSQUIRRELVM v);

// Registration helpers. Names are 16-bit strings; each works on the stack as its line says.
// New table stored under name in the table or class below it; leaves the new table on the top.
SQRESULT RegisterTable(HSQUIRRELVM v, const SQChar* name);
// Native closure stored under name in the table or class on the top; the parameter check and mask are set
// only when the check is non-zero or a mask is given. The stack is as before.
SQRESULT RegisterFunction(HSQUIRRELVM v, const SQChar* name, SQFUNCTION function, SQInteger parameterCheck,
                          const SQChar* typeMask);
// Exactly as many parameters as the mask has entries.
SQRESULT RegisterFunctionTyped(HSQUIRRELVM v, const SQChar* name, SQFUNCTION function, const SQChar* typeMask);
// New class (base: the class on the top, which leaves the stack) stored under name in the table below;
// leaves the class on the top.
SQRESULT RegisterClass(HSQUIRRELVM v, const SQChar* name, bool hasBase);
// RegisterClass with a constructor of at least one parameter, the given ones tested against the mask.
SQRESULT RegisterValueClass(HSQUIRRELVM v, const SQChar* name, bool hasBase, SQFUNCTION constructor,
                            const SQChar* typeMask);
// RegisterClass without base, with a constructor of exactly the mask's parameters.
SQRESULT RegisterClassWithConstructor(HSQUIRRELVM v, const SQChar* name, SQFUNCTION constructor,
                                      const SQChar* typeMask);

// Texts the host writes.
extern const char kVMOpenFailedMessage[];
