// tSquirrelReferenceable: binding native objects to script instances and letting them go.
#include <scripthost/ClassBinding.h>
#include <scripthost/Referenceable.h>

const SQChar kAlreadyBoundMessage[] = u"the instance is already bound to an object";

SQRESULT tSquirrelReferenceable::BindInstance(HSQUIRRELVM v, SQInteger index, tSquirrelReferenceable* object) {
  HSQOBJECT instance;
  if (SQ_FAILED(sq_getstackobj(v, index, &instance)) || instance._type != OT_INSTANCE) {
    return sq_throwerror(v, u"the object is not a class instance");
  }
  SQUserPointer current = nullptr;
  sq_getinstanceup(v, index, &current, nullptr, SQFalse);
  if (current != nullptr) return sq_throwerror(v, kAlreadyBoundMessage);
  // The instance's own class, not a base: a subclass's instance must not carry a base's object.
  SQUserPointer tag = nullptr;
  sq_getobjtypetag(&instance, &tag);
  if (object == nullptr || tag != object->m_pBinding) return sq_throwerror(v, u"invalid type tag");
  sq_setinstanceup(v, index, object);
  sq_setreleasehook(v, index, ScriptInstanceReleaseHook);
  return SQ_OK;
}

SQRESULT tSquirrelReferenceable::BindConstructedInstance(HSQUIRRELVM v) {
  constexpr SQInteger kThis = 1;
  const SQRESULT result = BindInstance(v, kThis, this);
  if (SQ_FAILED(result)) return result;
  sq_getstackobj(v, kThis, &m_instance);
  AddRef();
  return SQ_OK;
}

void tSquirrelReferenceable::PushInstance(HSQUIRRELVM v) {
  if (m_instance._type == OT_INSTANCE) {
    sq_pushobject(v, m_instance);
    return;
  }
  if (m_pBinding == nullptr || !m_pBinding->HasClass()) {
    sq_pushnull(v);
    return;
  }
  m_pBinding->PushClass(v);
  if (SQ_FAILED(sq_createinstance(v, -1))) {
    sq_poptop(v);
    sq_pushnull(v);
    return;
  }
  sq_remove(v, -2);
  if (SQ_FAILED(BindInstance(v, -1, this))) {
    sq_poptop(v);
    sq_pushnull(v);
    return;
  }
  sq_getstackobj(v, -1, &m_instance);
  AddRef();
}

SQInteger ScriptInstanceReleaseHook(SQUserPointer pointer, SQInteger /*size*/) {
  auto* object = static_cast<tSquirrelReferenceable*>(pointer);
  if (object == nullptr) return 0;
  sq_resetobject(&object->m_instance);
  object->Release();
  return 1;
}
