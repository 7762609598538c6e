#pragma once
// The command table: console command names to handlers, and one typed console line turned into a call
// of one handler (or of the fallback, which gets what no command took).
//
// Names are matched by GetNameHash with ASCII case folded: two names of one key are one command.
// Errors: no message is written; every refusal is a false result, and a handler is never thrown into.
// Ownership: the table owns its handlers and the fallback. A handler that is removed, replaced or
// cleared while any handler runs is destroyed once the outermost call has returned, so a handler may
// remove itself. Locking: none; the game's main thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include <engine/Context.h>
#include <engine/Native.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CCommandMgr;
class CResource;
class CResourceMgr;
class CScripting;

class CCommandHandler {
 public:
  CCommandHandler() = default;
  CCommandHandler(const CCommandHandler&) = delete;
  CCommandHandler& operator=(const CCommandHandler&) = delete;
  virtual ~CCommandHandler() = default;

  // parameters is null when the line gave none (only the fallback sees that).
  virtual void Execute(const char16_t* name, const char16_t* parameters, CBaseObject* caller) = 0;
  // False for a handler with nothing to call; the table refuses to add it.
  virtual bool IsCallable() const { return true; }

  CCommandMgr* GetTable() const { return m_pTable; }
  void SetTable(CCommandMgr* table) { m_pTable = table; }
  CResource* GetResource() const { return m_pResource; }
  std::uint32_t GetKey() const { return m_uKey; }
  const std::u16string& GetName() const { return m_Name; }
  // A restricted handler runs only for privileged callers.
  bool IsRestricted() const { return m_bRestricted; }

 protected:
  friend class CCommandMgr;

  CCommandMgr* m_pTable = nullptr;
  CResource* m_pResource = nullptr;  // null for native handlers; not counted
  std::uint32_t m_uKey = 0;
  std::u16string m_Name;
  bool m_bRestricted = true;
};

// A script function of a resource: called with the name, the parameters (null when none) and, when
// the table passes callers, the caller, as its resource, which it holds for the call. Not restricted; the
// call's result is ignored.
class CScriptCommandHandler : public CCommandHandler {
 public:
  CScriptCommandHandler(CResource* resource, CFunction* function);

  void Execute(const char16_t* name, const char16_t* parameters, CBaseObject* caller) override;
  bool IsCallable() const override { return m_pFunction.Get() != nullptr; }
  CFunction* GetFunction() const { return m_pFunction.Get(); }

 private:
  Strong<CFunction> m_pFunction;
};

// A native callable; restricted.
class CCallbackCommandHandler : public CCommandHandler {
 public:
  using Callback = std::function<void(const char16_t* name, const char16_t* parameters, CBaseObject* caller)>;

  explicit CCallbackCommandHandler(Callback callback);

  // An empty callable does nothing (the table never adds one).
  void Execute(const char16_t* name, const char16_t* parameters, CBaseObject* caller) override;
  bool IsCallable() const override { return static_cast<bool>(m_Callback); }

 private:
  Callback m_Callback;
};

class CCommandMgr {
 public:
  // Parameters and lines must be shorter than this many units.
  static constexpr std::uint32_t kMaxLine = 256;
  // consoleCommand calls nested deeper than this are refused.
  static constexpr int kMaxConsoleDepth = 16;

  // Empty, no fallback, callers not passed; registers the script functions into scripting's "global"
  // namespace (when given).
  CCommandMgr(CResourceMgr* owner, CScripting* scripting);
  CCommandMgr(const CCommandMgr&) = delete;
  CCommandMgr& operator=(const CCommandMgr&) = delete;
  ~CCommandMgr();

  // Takes ownership and names the handler; false (the caller keeps it) when the name's key is taken,
  // the handler is null or has nothing to call.
  bool AddCommandHandler(CCommandHandler* handler, const char16_t* name);
  // A script handler of the resource; a taken key fails unless replace is set and the command is a
  // script command of the same resource, which is then replaced.
  bool AddScriptCommandHandler(CResource* resource, CFunction* function, const char16_t* name, bool replace);
  // False when absent, or when a resource is given and the command is not its own.
  bool RemoveCommandHandler(const char16_t* name, CResource* resource);
  void RemoveResourceHandlers(CResource* resource);
  // Destroys the fallback and every handler.
  void Clear();
  bool HasCommandHandler(const char16_t* name) const;
  CCommandHandler* FindCommandHandler(const char16_t* name) const;
  std::size_t GetCount() const { return m_Handlers.size(); }

  // Calls the command's handler; false when the parameters are too long, the command is absent, or
  // restricted and the caller is not privileged. Trailing CR and LF of the parameters are cut.
  bool ExecuteCommand(const char16_t* name, const char16_t* parameters, bool privileged);
  // A "/command parameters" line, or chat: "say" with the whole line (the fallback's when no "say"
  // command takes it, and then false).
  bool ExecuteLine(const char16_t* line, bool privileged);
  // The text after the slash: the name up to the first blank, CR or LF, then the parameters.
  bool ExecuteSlashLine(const char16_t* text, bool privileged);

  // Installs the fallback (owned; the one before is destroyed) and points it at this table.
  void SetFallbackHandler(CCommandHandler* handler);
  CCommandHandler* GetFallbackHandler() const { return m_pFallback; }
  void SetPassCaller(bool pass) { m_bPassCaller = pass; }
  bool GetPassCaller() const { return m_bPassCaller; }
  CResourceMgr* GetOwner() const { return m_pOwner; }
  CScripting* GetScripting() const { return m_pScripting; }
  Logger* GetLogger() const { return m_pLogger.Get(); }

  // addCommandHandler, removeCommandHandler, hasCommandHandler and consoleCommand. addCommandHandler and
  // removeCommandHandler answer false to a caller with no resource (a handler must belong to the resource
  // that stops it; a removal for no resource would take native handlers too); consoleCommand from such a
  // caller runs unprivileged.
  void RegisterFunctions(CScripting* scripting);

 private:
  class ExecutingScope;
  friend class ExecutingScope;

  // Destroys a handler that is no longer in the table, or keeps it until no handler runs.
  void Destroy(CCommandHandler* handler);
  void CallHandler(CCommandHandler* handler, const char16_t* name, const char16_t* parameters);
  void CallFallback(const char16_t* name, const char16_t* parameters, bool privileged);

  static bool NativeAddCommandHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeRemoveCommandHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeHasCommandHandler(CNativeState* state, int argumentCount, void* user);
  static bool NativeConsoleCommand(CNativeState* state, int argumentCount, void* user);

  CResourceMgr* m_pOwner;
  std::unordered_map<std::uint32_t, CCommandHandler*> m_Handlers;  // owned
  CCommandHandler* m_pFallback = nullptr;                          // owned
  bool m_bPassCaller = false;
  AutoDelete<Logger> m_pLogger;
  CScripting* m_pScripting;  // the registry whose states script handlers are called with; not owned
  int m_iExecuting = 0;      // handler calls in progress
  int m_iConsoleDepth = 0;   // consoleCommand calls in progress
  std::vector<CCommandHandler*> m_Retired;  // owned; destroyed when no handler runs
};

}  // namespace Vexil3D
