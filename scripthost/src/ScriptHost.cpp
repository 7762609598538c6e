// CScriptHost: opening, registering, detaching and closing the one script machine.
#include <scripthost/ScriptHost.h>

#include <cstdio>

#include <sqstdblob.h>
#include <sqstdmath.h>
#include <sqstdstring.h>
#include <sqstdsystem.h>

#include <scripthost/EngineNatives.h>
#include <scripthost/GameNatives.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/ScriptClasses.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptTexture.h>

CScriptHost* g_ScriptHost = nullptr;

const char kVMOpenFailedMessage[] = "sqvm: the script machine could not be opened.\n";

CScriptHost::CScriptHost() : CScriptHost(sq_open) {}

CScriptHost::CScriptHost(tOpenFunction open) : m_eventTypes(this) {
  m_vm = open(kInitialStack);
  if (m_vm == nullptr) {
    std::fputs(kVMOpenFailedMessage, stderr);
    std::fflush(stderr);
    return;
  }
  sq_setforeignptr(m_vm, this);
  sq_setprintfunc(m_vm, ScriptPrint, ScriptPrint);
  sq_setcompilererrorhandler(m_vm, ScriptCompilerErrorHandler);
  sq_newclosure(m_vm, ScriptRuntimeErrorHandler, 0);
  sq_seterrorhandler(m_vm);

  sq_pushroottable(m_vm);
  sqstd_register_bloblib(m_vm);
  sqstd_register_mathlib(m_vm);
  sqstd_register_systemlib(m_vm);
  sqstd_register_stringlib(m_vm);
  Register();
  sq_pop(m_vm, 1);
}

// The script API. Each native's row joins the table it belongs to together with the native itself.
void CScriptHost::Register() {
  const SQInteger root = sq_gettop(m_vm);

  RegisterTable(m_vm, u"Shared");
  m_shared.SetFromStack(m_vm, -1);
  sq_poptop(m_vm);

  RegisterTable(m_vm, u"Debug");
  m_debug.SetFromStack(m_vm, -1);
  RegisterTable(m_vm, u"RootTables");
  m_rootTables.SetFromStack(m_vm, -1);
  sq_poptop(m_vm);
  RegisterTable(m_vm, u"ConstantTables");
  m_constantTables.SetFromStack(m_vm, -1);
  sq_poptop(m_vm);
  RegisterDebugNatives(m_vm);
  sq_poptop(m_vm);

  RegisterTable(m_vm, u"Engine");
  m_engine.SetFromStack(m_vm, -1);
  RegisterEngineNatives(m_vm);
  RegisterTable(m_vm, u"QVUtil");
  RegisterQVUtilNatives(m_vm);
  sq_poptop(m_vm);
  RegisterTable(m_vm, u"EventSystem");
  RegisterEventSystem(m_vm);
  sq_poptop(m_vm);
  RegisterFrameNatives(m_vm);
  // The classes come between EventSystem and QV.
  RegisterAudioInstanceClass(this, m_vm);
  RegisterTextureClass(this, m_vm);
  RegisterEventClasses(this, m_vm);
  RegisterVectorClasses(this, m_vm);
  RegisterMatrixClass(this, m_vm);
  RegisterTable(m_vm, u"QV");
  RegisterQVNatives(m_vm);
  sq_poptop(m_vm);

  sq_settop(m_vm, root);
}

CClassBinding* CScriptHost::BindClass(ScriptClass which, HSQUIRRELVM v, bool clonable) {
  CClassBinding*& slot = m_bindings[static_cast<std::uint32_t>(which)];
  delete slot;
  slot = new CClassBinding(v, clonable);
  return slot;
}

CScriptHost::~CScriptHost() {
  // Environments and other holders that outlive the host drop their values now, while the machine is open.
  while (m_environments.m_pHead != nullptr) {
    auto* environment = static_cast<CScriptEnvironment*>(m_environments.m_pHead->m_pRecord);
    ListNode::Remove(m_environments.m_pHead);
    environment->DetachFromHost();
  }
  // Each holder is unlinked before it drops its values: dropping may destroy other holders, which then
  // unlink themselves from what is left of the list.
  while (m_pDependents != nullptr) {
    tHostDependent* dependent = m_pDependents;
    UnlinkDependent(dependent);
    dependent->m_pHost = nullptr;
    dependent->DropHostValues();
  }
  if (m_vm != nullptr) {
    m_shared.Release();
    m_debug.Release();
    m_rootTables.Release();
    m_constantTables.Release();
    m_engine.Release();
    for (CClassBinding* binding : m_bindings) {
      if (binding != nullptr) binding->ReleaseClass();
    }
    sq_close(m_vm);
    m_vm = nullptr;
  }
  for (CClassBinding*& binding : m_bindings) {
    delete binding;
    binding = nullptr;
  }
  // Types still registered lost their handlers above; the registry's references go with it.
  m_eventTypes.Clear();
  m_running.Clear();
  while (m_pSpareRunning != nullptr) {
    ListNode* next = m_pSpareRunning->m_pNext;
    delete m_pSpareRunning;
    m_pSpareRunning = next;
  }
}

void CScriptHost::Delete(CScriptHost* host) { delete host; }

// Every handler call pushes and pops one node: nodes are kept for reuse rather than allocated each time.
void CScriptHost::PushRunningEnvironment(CScriptEnvironment* environment) {
  ListNode* node = m_pSpareRunning;
  if (node != nullptr) {
    m_pSpareRunning = node->m_pNext;
  } else {
    node = new ListNode;
  }
  *node = ListNode{&m_running, m_running.m_pTail, nullptr, environment};
  if (m_running.m_pTail != nullptr) {
    m_running.m_pTail->m_pNext = node;
  } else {
    m_running.m_pHead = node;
  }
  m_running.m_pTail = node;
  ++m_running.m_Count;
}

void CScriptHost::PopRunningEnvironment() {
  ListNode* node = m_running.m_pTail;
  if (node == nullptr) return;
  m_running.m_pTail = node->m_pPrevious;
  if (m_running.m_pTail != nullptr) {
    m_running.m_pTail->m_pNext = nullptr;
  } else {
    m_running.m_pHead = nullptr;
  }
  --m_running.m_Count;
  node->m_pNext = m_pSpareRunning;
  m_pSpareRunning = node;
}

void CScriptHost::LinkDependent(tHostDependent* dependent) {
  dependent->m_pPreviousDependent = nullptr;
  dependent->m_pNextDependent = m_pDependents;
  if (m_pDependents != nullptr) m_pDependents->m_pPreviousDependent = dependent;
  m_pDependents = dependent;
}

void CScriptHost::UnlinkDependent(tHostDependent* dependent) {
  if (dependent->m_pPreviousDependent != nullptr) {
    dependent->m_pPreviousDependent->m_pNextDependent = dependent->m_pNextDependent;
  } else {
    m_pDependents = dependent->m_pNextDependent;
  }
  if (dependent->m_pNextDependent != nullptr) {
    dependent->m_pNextDependent->m_pPreviousDependent = dependent->m_pPreviousDependent;
  }
  dependent->m_pPreviousDependent = nullptr;
  dependent->m_pNextDependent = nullptr;
}
