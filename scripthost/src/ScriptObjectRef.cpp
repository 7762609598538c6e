// CScriptObjectRef and tHostDependent: held machine values and their owners' link to the host.
#include <scripthost/ScriptHost.h>
#include <scripthost/ScriptObjectRef.h>

void CScriptObjectRef::SetFromStack(HSQUIRRELVM v, SQInteger index) {
  HSQOBJECT object;
  if (SQ_FAILED(sq_getstackobj(v, index, &object))) sq_resetobject(&object);
  Set(v, object);
}

void CScriptObjectRef::Set(HSQUIRRELVM v, const HSQOBJECT& object) {
  if (m_vm == v && object._type == m_object._type && object._unVal.raw == m_object._unVal.raw) return;
  // The new value is held before the old one goes: releasing the old one may free whatever held the new one.
  const HSQUIRRELVM oldVM = m_vm;
  HSQOBJECT old = m_object;
  m_object = object;
  m_vm = object._type == OT_NULL ? nullptr : v;
  if (m_vm != nullptr && ISREFCOUNTED(m_object._type)) sq_addref(m_vm, &m_object);
  if (oldVM != nullptr && ISREFCOUNTED(old._type)) sq_release(oldVM, &old);
}

void CScriptObjectRef::Release() {
  if (m_vm != nullptr && ISREFCOUNTED(m_object._type)) {
    HSQUIRRELVM vm = m_vm;
    HSQOBJECT object = m_object;
    // Forget first: the release may free objects whose destructors reach this holder.
    Abandon();
    sq_release(vm, &object);
    return;
  }
  Abandon();
}

tHostDependent::tHostDependent(CScriptHost* host) : m_pHost(host) {
  if (host != nullptr) host->LinkDependent(this);
}

tHostDependent::~tHostDependent() {
  if (m_pHost != nullptr) m_pHost->UnlinkDependent(this);
}
