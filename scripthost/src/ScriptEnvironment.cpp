// CScriptEnvironment: making, entering, calling into and tearing down one environment; CompileScriptFile.
#include <scripthost/ScriptEnvironment.h>

#include <string>
#include <vector>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <base/TextReader.h>

#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

const SQChar* const CScriptEnvironment::kCopiedNames[kCopiedNameCount] = {
    u"seterrorhandler", u"setdebughook", u"enabledebuginfo", u"getstackinfos", u"getroottable",
    u"setroottable", u"getconsttable", u"setconsttable", u"assert", u"print", u"error", u"compilestring",
    u"newthread", u"suspend", u"array", u"type", u"callee", u"dummy", u"collectgarbage",
    u"resurrectunreachable", u"_versionnumber_", u"_version_", u"_charsize_", u"_intsize_", u"_floatsize_",
    u"Engine", u"Shared", u"Debug", u"blob", u"casti2f", u"castf2i", u"swap2", u"swap4", u"swapfloat",
    u"sqrt", u"sin", u"cos", u"asin", u"acos", u"log", u"log10", u"tan", u"atan", u"atan2", u"pow",
    u"floor", u"ceil", u"exp", u"srand", u"rand", u"fabs", u"abs", u"RAND_MAX", u"PI", u"getenv",
    u"clock", u"time", u"date", u"regexp", u"format", u"strip", u"lstrip", u"rstrip", u"split",
    u"escape", u"startswith", u"endswith",
};

const SQChar kHandlerSuspendedMessage[] = u"a handler cannot suspend its environment's thread";

namespace {

// Stores the value on the top under name in the table held by `table`, on the thread t, and leaves the value.
// Raw: the table is shared with every environment, whose scripts may have given it a delegate.
void StoreUnderName(HSQUIRRELVM t, const CScriptObjectRef& table, const char16_t* name) {
  const SQInteger value = sq_gettop(t);
  table.Push(t);
  sq_pushstring(t, name, -1);
  sq_push(t, value);
  sq_rawset(t, value + 1);
  sq_settop(t, value);
}

// Replaces the table on the top with a new table of its slots: a clone would keep its delegate and run _cloned.
void ReplaceWithCopyOfSlots(HSQUIRRELVM t) {
  sq_newtable(t);
  sq_pushnull(t);
  while (SQ_SUCCEEDED(sq_next(t, -3))) sq_rawset(t, -4);
  sq_poptop(t);
  sq_remove(t, -2);
}

}  // namespace

CScriptEnvironment::CScriptEnvironment(CScriptHost* host, const char16_t* name) : m_pHost(host) {
  if (host == nullptr) return;
  m_pNode = host->LinkEnvironment(this);
  const HSQUIRRELVM vm = host->GetVM();
  if (vm == nullptr) return;

  const SQInteger hostTop = sq_gettop(vm);
  m_thread = sq_newthread(vm, CScriptHost::kInitialStack);
  if (m_thread == nullptr) {
    sq_settop(vm, hostTop);
    return;
  }
  sq_setforeignptr(m_thread, host);
  m_heldThread.SetFromStack(vm, -1);
  sq_settop(vm, hostTop);

  // No script code runs while the environment is built: it would run on the new thread, whose root is the host's
  // own until it gets its own, and could replace the tables being built. So every lookup and store is raw, and the
  // constant table is copied slot by slot.
  const HSQUIRRELVM t = m_thread;
  sq_pushroottable(t);
  sq_newtable(t);
  for (const SQChar* copied : kCopiedNames) {
    sq_pushstring(t, copied, -1);
    sq_pushstring(t, copied, -1);
    // A name the host lacks is stored as null rather than shifting the stack.
    if (SQ_FAILED(sq_rawget(t, -4))) sq_pushnull(t);
    sq_rawset(t, -3);
  }
  sq_remove(t, -2);
  StoreUnderName(t, host->GetRootTables(), name);
  sq_setroottable(t);

  sq_pushconsttable(t);
  ReplaceWithCopyOfSlots(t);
  StoreUnderName(t, host->GetConstantTables(), name);
  HSQOBJECT constants;
  sq_getstackobj(t, -1, &constants);
  m_constantTable.Set(vm, constants);
  sq_poptop(t);
}

CScriptEnvironment::~CScriptEnvironment() {
  CScriptHost* host = m_pHost;
  if (host == nullptr) return;
  // Handlers of this environment leave every event type, registered or not; their closures are released
  // once no list is walked any more, as a release may free native objects that unlink themselves.
  std::vector<CScriptObjectRef> values;
  for (tHostDependent* dependent = host->GetFirstDependent(); dependent != nullptr;
       dependent = dependent->GetNextDependent()) {
    dependent->TakeValuesOf(this, values);
  }
  values.clear();
  host->GetEventTypes().RemoveOwnedBy(this);
  for (tHostDependent* dependent = host->GetFirstDependent(); dependent != nullptr;
       dependent = dependent->GetNextDependent()) {
    dependent->ForgetEnvironment(this);
  }
  StopEnvironmentAudio(this);
  ListNode::Remove(m_pNode);
  m_pNode = nullptr;
  m_constantTable.Release();
  m_heldThread.Release();
  m_thread = nullptr;
}

void CScriptEnvironment::DetachFromHost() {
  // The host has already removed the node.
  m_pNode = nullptr;
  m_constantTable.Release();
  m_heldThread.Release();
  m_thread = nullptr;
  m_pHost = nullptr;
}

CStream* CScriptEnvironment::OpenFile(const char16_t* path, bool readable, bool writable, bool createIfMissing) {
  // A path the file system cannot hold, virtually or on the host behind a mount point, would be reported to its
  // context, which ends the game: a script's argument must end as a missing file at worst.
  if (path == nullptr || g_FileSystem == nullptr || !g_FileSystem->FitsLimits(path)) return nullptr;
  return g_FileSystem->OpenFile(path, (readable ? kOpenFileRead : 0u) | (writable ? kOpenFileWrite : 0u) |
                                          (createIfMissing ? kOpenFileCreateIfMissing : 0u));
}

bool CScriptEnvironment::Enter() {
  if (m_thread == nullptr) return false;
  sq_pushconsttable(m_thread);
  m_constantTable.Push(m_thread);
  sq_setconsttable(m_thread);
  return true;
}

void CScriptEnvironment::Leave() {
  if (m_thread == nullptr) return;
  sq_pushconsttable(m_thread);
  HSQOBJECT current;
  sq_getstackobj(m_thread, -1, &current);
  m_constantTable.Set(m_pHost->GetVM(), current);
  sq_poptop(m_thread);
  sq_setconsttable(m_thread);
}

bool CScriptEnvironment::CallHandler(const CScriptObjectRef& closure, CScriptArguments* arguments) {
  if (m_thread == nullptr) return false;
  CScriptHost* host = m_pHost;
  host->PushRunningEnvironment(this);
  Enter();
  const bool succeeded = CallEntered(closure, arguments);
  Leave();
  host->PopRunningEnvironment();
  return succeeded;
}

bool CScriptEnvironment::CallEntered(const CScriptObjectRef& closure, CScriptArguments* arguments) {
  const HSQUIRRELVM t = m_thread;
  // The top is the thread's own record: a handler that suspends leaves its frame and values behind.
  const SQInteger top = sq_gettop(t);
  closure.Push(t);
  sq_pushroottable(t);
  SQInteger parameters = 1;
  if (arguments != nullptr) {
    arguments->Push(t);
    parameters += arguments->GetCount();
  }
  bool succeeded = SQ_SUCCEEDED(sq_call(t, parameters, SQFalse, SQTrue));
  // suspend() in a handler parks the thread in the middle of its call: wake it with an error until it has
  // unwound, or it stays wedged and every later call piles onto its stack. The error says why, rather than
  // repeating whatever the thread last failed with.
  while (sq_getvmstate(t) == SQ_VMSTATE_SUSPENDED) {
    succeeded = false;
    sq_throwerror(t, kHandlerSuspendedMessage);
    if (SQ_FAILED(sq_wakeupvm(t, SQFalse, SQFalse, SQTrue, SQTrue))) break;
  }
  // Back to the constant table that Enter left on the stack.
  sq_settop(t, top);
  return succeeded;
}

namespace {

struct tCompileSource {
  tTaskContext* task;
  CLinearTextReader* reader;
};

SQInteger ReadScriptCharacter(SQUserPointer user) {
  auto* source = static_cast<tCompileSource*>(user);
  char16_t unit = 0;
  if (!source->reader->ReadUCS2(source->task, &unit)) return 0;
  return SQInteger(unit);
}

}  // namespace

SQRESULT CompileScriptFile(tTaskContext* task, HSQUIRRELVM v, CStream* stream, const SQChar* sourceName) {
  auto* wrapper = new CStreamStream(stream);
  auto* reader = new CFileLinearTextReader(wrapper);
  tCompileSource source{task, reader};
  const SQRESULT result = sq_compile(v, ReadScriptCharacter, &source, sourceName, SQTrue);
  delete reader;
  wrapper->Release();
  return result;
}
