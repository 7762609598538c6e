#pragma once
// CScriptEnvironment: one isolated place where scripts run on the host's machine: its own thread, its own root
// table (67 names copied from the host's root) and its own constant table, swapped in by Enter and out by Leave.
// CompileScriptFile compiles a stream of script text into a closure.
//
// Errors: script errors are reported by the environment thread's error handler, which starts as the host's and
// which the environment's scripts may replace or clear for that environment alone (seterrorhandler); they are
// answered as false (CallHandler) or a negative result (CompileScriptFile); no script error ends or wedges the
// environment.
// Ownership: the creator owns the environment; it holds its thread and constant table in the machine. An
// environment that outlives its host has been detached by it and touches neither host nor machine again.
// Locking: none; the game's main thread alone uses environments.
#include <cstdint>

#include <squirrel.h>

#include <hack/List.h>

#include <scripthost/ScriptObjectRef.h>

// The error a handler's thread is woken with, as often as it suspends, until its call has unwound.
extern const SQChar kHandlerSuspendedMessage[];

class CScriptArguments;
class CScriptHost;
class CStream;
class tTaskContext;

class CScriptEnvironment {
 public:
  // The names of the host's root table every environment's root table starts with, in order.
  static constexpr std::uint32_t kCopiedNameCount = 67;
  static const SQChar* const kCopiedNames[kCopiedNameCount];

  // Name keys the environment's entries in Debug.RootTables and Debug.ConstantTables. The root table and a copy
  // of the machine's constant table's slots (without its delegate) are stored there raw: building an environment
  // runs no script code, whatever delegates scripts gave the shared tables.
  CScriptEnvironment(CScriptHost* host, const char16_t* name);
  virtual ~CScriptEnvironment();
  CScriptEnvironment(const CScriptEnvironment&) = delete;
  CScriptEnvironment& operator=(const CScriptEnvironment&) = delete;

  // A file for the environment's scripts through the game-side file system, without prompting; one reference for
  // the caller, or null. Any path is tried that the file system can hold as it is and as the host will see it
  // behind every mount point (CFileSystem::FitsLimits); any other is null without a report. Overrides that
  // narrow the paths open through this one.
  virtual CStream* OpenFile(const char16_t* path, bool readable, bool writable, bool createIfMissing);

  // Makes the environment's constant table the machine's, keeping the previous one on the thread's stack.
  // False (nothing changed) on a detached environment.
  bool Enter();
  // Keeps the machine's constant table as the environment's and restores the one Enter kept.
  void Leave();
  // Calls the closure with the root table as this and the arguments after it, between PushRunningEnvironment
  // and Enter and their undoing. A thread left suspended by the handler is woken with kHandlerSuspendedMessage
  // until it has unwound; the thread's stack ends as it began. True when the call succeeded.
  bool CallHandler(const CScriptObjectRef& closure, CScriptArguments* arguments);

  CScriptHost* GetHost() const { return m_pHost; }
  HSQUIRRELVM GetThread() const { return m_thread; }
  const CScriptObjectRef& GetConstantTable() const { return m_constantTable; }

 private:
  friend class CScriptHost;
  friend class CEvent;
  // The host is going: drop the held values and forget host, machine and node.
  void DetachFromHost();
  // CallHandler's call alone, for a caller that has pushed the environment on the running list and entered it.
  bool CallEntered(const CScriptObjectRef& closure, CScriptArguments* arguments);

  CScriptHost* m_pHost;
  HSQUIRRELVM m_thread = nullptr;
  CScriptObjectRef m_heldThread;
  CScriptObjectRef m_constantTable;
  ListNode* m_pNode = nullptr;
};

// Compiles the whole stream (UCS-2 or 8-bit text, told from its start) into a closure left on v's stack top;
// compile errors go to the machine's compiler error handler. 0 on success, negative with nothing pushed.
SQRESULT CompileScriptFile(tTaskContext* task, HSQUIRRELVM v, CStream* stream, const SQChar* sourceName);
