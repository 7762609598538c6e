// The command table: handlers, console lines and the four script functions over them.
#include <scripting/CommandMgr.h>

#include <algorithm>
#include <utility>

#include <engine/Scripting.h>
#include <platform/text.h>
#include <scripting/Resource.h>

namespace Vexil3D {

namespace {

constexpr char16_t kBlank = u' ';
constexpr char16_t kCarriageReturn = u'\r';
constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kSlash = u'/';

// Units of the text up to its terminator, counting no further than limit.
std::uint32_t BoundedLength(const char16_t* text, std::uint32_t limit) {
  std::uint32_t n = 0;
  if (text)
    while (n < limit && text[n] != u'\0') ++n;
  return n;
}

std::uint32_t CommandKey(const char16_t* name) {
  const auto length = static_cast<std::uint32_t>(text::Length(name));
  return GetNameHash(name, length, true);
}

}  // namespace

// Counts the handler calls in progress; the last one out destroys the handlers retired meanwhile.
class CCommandMgr::ExecutingScope {
 public:
  explicit ExecutingScope(CCommandMgr* table) : m_pTable(table) { ++m_pTable->m_iExecuting; }
  ~ExecutingScope() {
    if (--m_pTable->m_iExecuting > 0) return;
    // A destructor may retire further handlers (or run code that does): drain until none are left.
    while (!m_pTable->m_Retired.empty()) {
      std::vector<CCommandHandler*> retired;
      retired.swap(m_pTable->m_Retired);
      for (CCommandHandler* handler : retired) delete handler;
    }
  }
  ExecutingScope(const ExecutingScope&) = delete;
  ExecutingScope& operator=(const ExecutingScope&) = delete;

 private:
  CCommandMgr* m_pTable;
};

// -------------------------------------------------------------------------------------------------
// Handlers

CScriptCommandHandler::CScriptCommandHandler(CResource* resource, CFunction* function) : m_pFunction(function) {
  m_pResource = resource;
  m_bRestricted = false;
}

void CScriptCommandHandler::Execute(const char16_t* name, const char16_t* parameters, CBaseObject* caller) {
  if (!m_pFunction) return;
  // The handler may be retired during the call; the function must outlive it.
  Strong<CFunction> function = m_pFunction;
  CArgumentArray arguments;
  arguments.AppendString(name ? name : u"", static_cast<std::uint32_t>(text::Length(name)));
  if (parameters)
    arguments.AppendString(parameters, static_cast<std::uint32_t>(text::Length(parameters)));
  else
    arguments.AppendNil();
  if (m_pTable && m_pTable->GetPassCaller()) arguments.AppendObject(caller);
  // The handler may stop every resource, its own among them, which releases the manager's reference; the
  // natives it calls afterwards still read its resource from the state.
  Strong<CResource> resource(m_pResource);
  CNativeState state(m_pTable ? m_pTable->GetScripting() : nullptr, m_pResource, &arguments);
  function->Call(&state, static_cast<int>(arguments.GetCount()));
}

CCallbackCommandHandler::CCallbackCommandHandler(Callback callback) : m_Callback(std::move(callback)) {}

void CCallbackCommandHandler::Execute(const char16_t* name, const char16_t* parameters, CBaseObject* caller) {
  if (m_Callback) m_Callback(name, parameters, caller);
}

// -------------------------------------------------------------------------------------------------
// The table

CCommandMgr::CCommandMgr(CResourceMgr* owner, CScripting* scripting)
    : m_pOwner(owner), m_pLogger(new Logger()), m_pScripting(scripting) {
  m_Handlers.max_load_factor(1.0f);
  Clear();
  if (scripting) RegisterFunctions(scripting);
}

CCommandMgr::~CCommandMgr() {
  Clear();
  for (CCommandHandler* handler : m_Retired) delete handler;
}

void CCommandMgr::Destroy(CCommandHandler* handler) {
  if (!handler) return;
  if (m_iExecuting > 0)
    m_Retired.push_back(handler);
  else
    delete handler;
}

bool CCommandMgr::AddCommandHandler(CCommandHandler* handler, const char16_t* name) {
  if (!handler || !handler->IsCallable()) return false;
  const std::uint32_t key = CommandKey(name);
  if (m_Handlers.count(key)) return false;
  handler->m_uKey = key;
  handler->m_pTable = this;
  handler->m_Name = name ? name : u"";
  m_Handlers.emplace(key, handler);
  return true;
}

bool CCommandMgr::AddScriptCommandHandler(CResource* resource, CFunction* function, const char16_t* name,
                                          bool replace) {
  if (!function) return false;
  const std::uint32_t key = CommandKey(name);
  auto it = m_Handlers.find(key);
  if (it != m_Handlers.end()) {
    // Only a script command of the same resource may be replaced: not another resource's, and not a
    // native one (whose resource is null like that of a caller without one).
    CCommandHandler* existing = it->second;
    if (!replace || existing->GetResource() != resource || !dynamic_cast<CScriptCommandHandler*>(existing))
      return false;
    m_Handlers.erase(it);
    Destroy(existing);
  }
  auto* handler = new CScriptCommandHandler(resource, function);
  if (!AddCommandHandler(handler, name)) {
    delete handler;
    return false;
  }
  return true;
}

bool CCommandMgr::RemoveCommandHandler(const char16_t* name, CResource* resource) {
  auto it = m_Handlers.find(CommandKey(name));
  if (it == m_Handlers.end()) return false;
  CCommandHandler* handler = it->second;
  if (resource && handler->GetResource() != resource) return false;
  m_Handlers.erase(it);
  Destroy(handler);
  return true;
}

void CCommandMgr::RemoveResourceHandlers(CResource* resource) {
  std::vector<CCommandHandler*> removed;
  for (auto it = m_Handlers.begin(); it != m_Handlers.end();) {
    if (it->second->GetResource() == resource) {
      removed.push_back(it->second);
      it = m_Handlers.erase(it);
    } else {
      ++it;
    }
  }
  for (CCommandHandler* handler : removed) Destroy(handler);
}

void CCommandMgr::Clear() {
  CCommandHandler* fallback = std::exchange(m_pFallback, nullptr);
  std::unordered_map<std::uint32_t, CCommandHandler*> handlers;
  handlers.swap(m_Handlers);
  Destroy(fallback);
  for (auto& entry : handlers) Destroy(entry.second);
}

bool CCommandMgr::HasCommandHandler(const char16_t* name) const { return m_Handlers.count(CommandKey(name)) != 0; }

CCommandHandler* CCommandMgr::FindCommandHandler(const char16_t* name) const {
  auto it = m_Handlers.find(CommandKey(name));
  return it != m_Handlers.end() ? it->second : nullptr;
}

void CCommandMgr::SetFallbackHandler(CCommandHandler* handler) {
  if (handler == m_pFallback) return;
  CCommandHandler* old = std::exchange(m_pFallback, handler);
  if (handler) handler->m_pTable = this;
  Destroy(old);
}

void CCommandMgr::CallHandler(CCommandHandler* handler, const char16_t* name, const char16_t* parameters) {
  ExecutingScope scope(this);
  handler->Execute(name, parameters, nullptr);
}

void CCommandMgr::CallFallback(const char16_t* name, const char16_t* parameters, bool privileged) {
  if (!m_pFallback || !m_pFallback->IsCallable()) return;
  if (m_pFallback->IsRestricted() && !privileged) return;
  CallHandler(m_pFallback, name, parameters);
}

bool CCommandMgr::ExecuteCommand(const char16_t* name, const char16_t* parameters, bool privileged) {
  const std::uint32_t length = BoundedLength(parameters, kMaxLine);
  if (length >= kMaxLine) return false;
  CCommandHandler* handler = FindCommandHandler(name);
  if (!handler) return false;
  if (handler->IsRestricted() && !privileged) return false;
  if (!parameters) {
    CallHandler(handler, name, u"");
    return true;
  }
  char16_t buffer[kMaxLine];
  std::copy(parameters, parameters + length, buffer);
  std::uint32_t end = length;
  while (end > 0 && (buffer[end - 1] == kCarriageReturn || buffer[end - 1] == kLineFeed)) --end;
  buffer[end] = u'\0';
  CallHandler(handler, name, buffer);
  return true;
}

bool CCommandMgr::ExecuteLine(const char16_t* line, bool privileged) {
  const std::uint32_t length = BoundedLength(line, kMaxLine);
  if (length == 0 || length >= kMaxLine) return false;
  if (line[0] == kSlash) return ExecuteSlashLine(line + 1, privileged);
  if (ExecuteCommand(u"say", line, privileged)) return true;
  CallFallback(u"say", line, privileged);
  return false;
}

bool CCommandMgr::ExecuteSlashLine(const char16_t* text, bool privileged) {
  const std::uint32_t length = BoundedLength(text, kMaxLine);
  if (length == 0 || length >= kMaxLine) return false;
  char16_t buffer[kMaxLine + 1];
  std::copy(text, text + length, buffer);
  buffer[length] = u'\0';
  char16_t* separator = std::find_if(buffer, buffer + length, [](char16_t c) {
    return c == kBlank || c == kCarriageReturn || c == kLineFeed;
  });
  if (separator != buffer + length) {
    *separator = u'\0';
    const char16_t* parameters = separator + 1;
    if (ExecuteCommand(buffer, parameters, privileged)) return true;
    CallFallback(buffer, parameters, privileged);
    return false;
  }
  if (ExecuteCommand(buffer, u"", privileged)) return true;
  CallFallback(buffer, nullptr, privileged);
  return false;
}

// -------------------------------------------------------------------------------------------------
// Script functions

void CCommandMgr::RegisterFunctions(CScripting* scripting) {
  if (!scripting) return;
  CReflection& global = scripting->m_Global;
  global.RegisterFunction(u"addCommandHandler", u"sc|b", &NativeAddCommandHandler, this);
  global.RegisterFunction(u"removeCommandHandler", u"s", &NativeRemoveCommandHandler, this);
  global.RegisterFunction(u"hasCommandHandler", u"s", &NativeHasCommandHandler, this);
  global.RegisterFunction(u"consoleCommand", u"s", &NativeConsoleCommand, this);
}

// Scripts add and remove commands only as their resource: a caller without one could otherwise take
// over commands of the native side, whose resource is null too.
bool CCommandMgr::NativeAddCommandHandler(CNativeState* state, int argumentCount, void* user) {
  auto* table = static_cast<CCommandMgr*>(user);
  const char16_t* name = state->CheckString(0, nullptr);
  if (!name) return false;
  CFunction* function = state->CheckFunction(1);
  if (!function) return false;
  bool replace = false;
  if (argumentCount > 2 && !state->CheckBoolean(2, &replace)) return false;
  CResource* resource = state->GetResource();
  return state->ReturnBoolean(resource && table->AddScriptCommandHandler(resource, function, name, replace));
}

bool CCommandMgr::NativeRemoveCommandHandler(CNativeState* state, int, void* user) {
  auto* table = static_cast<CCommandMgr*>(user);
  const char16_t* name = state->CheckString(0, nullptr);
  if (!name) return false;
  CResource* resource = state->GetResource();
  return state->ReturnBoolean(resource && table->RemoveCommandHandler(name, resource));
}

bool CCommandMgr::NativeHasCommandHandler(CNativeState* state, int, void* user) {
  auto* table = static_cast<CCommandMgr*>(user);
  const char16_t* name = state->CheckString(0, nullptr);
  if (!name) return false;
  return state->ReturnBoolean(table->HasCommandHandler(name));
}

bool CCommandMgr::NativeConsoleCommand(CNativeState* state, int, void* user) {
  auto* table = static_cast<CCommandMgr*>(user);
  const char16_t* line = state->CheckString(0, nullptr);
  if (!line) return false;
  // A command that runs consoleCommand on itself would otherwise recurse until the stack ends.
  if (table->m_iConsoleDepth >= kMaxConsoleDepth) return state->ReturnBoolean(false);
  CResource* resource = state->GetResource();
  ++table->m_iConsoleDepth;
  const bool executed = table->ExecuteLine(line, resource && resource->IsPrivileged());
  --table->m_iConsoleDepth;
  return state->ReturnBoolean(executed);
}

}  // namespace Vexil3D
