// CClassBinding: class type tags, the refusals of derivation and cloning, instance checks; the playing list.
#include <scripthost/ClassBinding.h>
#include <scripthost/Referenceable.h>
#include <scripthost/ScriptHost.h>

const SQChar kNotInheritableMessage[] = u"this class cannot be inherited";
const SQChar kNotClonableMessage[] = u"instances of this class cannot be cloned";
const SQChar kNotBoundMessage[] = u"the instance is not bound to an object";

tList g_PlayingAudioInstances;

namespace {

SQInteger RefuseInheritance(HSQUIRRELVM v) { return sq_throwerror(v, kNotInheritableMessage); }
SQInteger RefuseCloning(HSQUIRRELVM v) { return sq_throwerror(v, kNotClonableMessage); }

}  // namespace

CClassBinding::CClassBinding(HSQUIRRELVM v, bool clonable) {
  m_class.SetFromStack(v, -1);
  sq_settypetag(v, -1, this);
  RegisterFunction(v, u"_inherited", RefuseInheritance, 0, nullptr);
  if (!clonable) RegisterFunction(v, u"_cloned", RefuseCloning, 0, nullptr);
}

SQRESULT CClassBinding::GetInstance(CClassBinding* binding, HSQUIRRELVM v, SQInteger index, SQUserPointer* out) {
  *out = nullptr;
  SQUserPointer bound = nullptr;
  // Natives read their operands on every call: the usual case, a bound instance of the class, takes one query.
  if (SQ_SUCCEEDED(sq_getinstanceup(v, index, &bound, binding, SQFalse)) && bound != nullptr) {
    *out = bound;
    return SQ_OK;
  }
  const SQObjectType type = sq_gettype(v, index);
  if (type == OT_NULL) return SQ_OK;
  if (type != OT_INSTANCE) return sq_throwerror(v, u"the object is not a class instance");
  SQUserPointer pointer = nullptr;
  // With a tag the machine walks the instance's class and its bases and raises "invalid type tag".
  if (SQ_FAILED(sq_getinstanceup(v, index, &pointer, binding, SQTrue))) return SQ_ERROR;
  if (binding != nullptr && pointer == nullptr) return sq_throwerror(v, kNotBoundMessage);
  *out = pointer;
  return SQ_OK;
}

SQRESULT CClassBinding::GetInstance(CClassBinding* binding, HSQUIRRELVM v, SQInteger index,
                                    tSquirrelReferenceable** out) {
  SQUserPointer pointer = nullptr;
  const SQRESULT result = GetInstance(binding, v, index, &pointer);
  if (SQ_SUCCEEDED(result)) *out = static_cast<tSquirrelReferenceable*>(pointer);
  return result;
}

void AddPlayingAudioInstance(ListNode* node, ListNode* previous) {
  tList* list = node->m_pList;
  node->m_pPrevious = previous;
  node->m_pNext = previous != nullptr ? previous->m_pNext : list->m_pHead;
  if (node->m_pNext != nullptr) {
    node->m_pNext->m_pPrevious = node;
  } else {
    list->m_pTail = node;
  }
  if (previous != nullptr) {
    previous->m_pNext = node;
  } else {
    list->m_pHead = node;
  }
  ++list->m_Count;
}
