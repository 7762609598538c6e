// The test classes and natives of the script-host tests.
#include "scripthost_fixture.h"


namespace hosttest {

namespace {

using tVec = tSquirrelReleasableReferenceableValue<float>;

CClassBinding* Binding(HSQUIRRELVM v, ScriptClass which) { return CScriptHost::FromVM(v)->GetBinding(which); }

std::string StringAt(HSQUIRRELVM v, SQInteger index) {
  const SQChar* text = nullptr;
  sq_getstring(v, index, &text);
  return Narrow(text != nullptr ? text : u"?");
}

// Scalars as "type:value", other values by type name.
SQInteger Record(HSQUIRRELVM v) {
  const SQInteger top = sq_gettop(v);
  std::string line;
  for (SQInteger i = 2; i <= top; ++i) {
    sq_typeof(v, i);
    line += (i > 2 ? "," : "") + StringAt(v, -1);
    const SQObjectType type = sq_gettype(v, i);
    if (type == OT_INTEGER || type == OT_FLOAT || type == OT_BOOL || type == OT_STRING) {
      sq_tostring(v, i);
      line += ":" + StringAt(v, -1);
    }
    sq_settop(v, top);
  }
  Recorded().push_back(line);
  return 0;
}

SQInteger Depth(HSQUIRRELVM v) {
  sq_pushinteger(v, SQInteger(CScriptHost::FromVM(v)->GetRunningEnvironments().m_Count));
  return 1;
}

SQInteger BoxConstructor(HSQUIRRELVM v) {
  SQInteger value = 0;
  sq_getinteger(v, 2, &value);
  auto* box = new tBox(Binding(v, ScriptClass::Texture), value);
  const SQRESULT result = box->BindConstructedInstance(v);
  box->Release();
  return result;
}

// Each vector class constructs objects of its own binding; Vec3 inherits Vec1's _cloned, which makes the
// object of the new instance's own class.
template <ScriptClass kClass>
SQInteger VecConstructor(HSQUIRRELVM v) {
  auto* vec = new tVec(Binding(v, kClass));
  if (sq_gettop(v) >= 2) sq_getfloat(v, 2, vec->GetValue());
  const SQRESULT result = vec->BindConstructedInstance(v);
  vec->Release();
  return result;
}

SQInteger VecCloned(HSQUIRRELVM v) {
  tSquirrelReferenceable* source = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(Binding(v, ScriptClass::Vector1D), v, 2, &source))) return SQ_ERROR;
  HSQOBJECT self;
  sq_getstackobj(v, 1, &self);
  SQUserPointer tag = nullptr;
  sq_getobjtypetag(&self, &tag);
  auto* vec = new tVec(static_cast<CClassBinding*>(tag));
  *vec->GetValue() = *static_cast<tVec*>(source)->GetValue();
  const SQRESULT result = vec->BindConstructedInstance(v);
  vec->Release();
  return result;
}

SQInteger Take(HSQUIRRELVM v) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(Binding(v, ScriptClass::Vector1D), v, 2, &object))) return SQ_ERROR;
  object == nullptr ? sq_pushnull(v) : sq_pushfloat(v, *static_cast<tVec*>(object)->GetValue());
  return 1;
}

SQInteger PreventDefault(HSQUIRRELVM v) {
  tSquirrelReferenceable* event = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(Binding(v, ScriptClass::Event), v, 1, &event))) return SQ_ERROR;
  static_cast<CEvent*>(event)->PreventDefault();
  return 0;
}

CEventType* TypeNamed(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, 2, &name);
  return CScriptHost::FromVM(v)->GetEventTypes().Find(name);
}

// A new event of the named type, triggered with the call's further arguments; answers PreventDefault.
SQInteger Fire(HSQUIRRELVM v) {
  CEventType* type = TypeNamed(v);
  if (type == nullptr) return sq_throwerror(v, u"no such event type");
  CListScriptArguments arguments(CScriptHost::FromVM(v));
  for (SQInteger i = 3; i <= sq_gettop(v); ++i) arguments.AddFromStack(v, i);
  auto* event = new CEvent(type);
  event->Trigger(&arguments, nullptr);
  sq_pushbool(v, event->IsDefaultPrevented() ? SQTrue : SQFalse);
  event->Release();
  return 1;
}

SQInteger AddHandler(HSQUIRRELVM v) {
  CEventType* type = TypeNamed(v);
  if (type == nullptr) return sq_throwerror(v, u"no such event type");
  type->AddHandler(CScriptHost::FromVM(v)->GetRunningEnvironment(), v, 3);
  return 0;
}

}  // namespace

std::vector<std::string>& Recorded() {
  static std::vector<std::string> recorded;
  return recorded;
}

void RegisterTestApi(CScriptHost* host) {
  const HSQUIRRELVM v = host->GetVM();
  host->GetEngineTable().Push(v);
  RegisterFunction(v, u"Record", Record, 0, nullptr);
  RegisterFunction(v, u"Depth", Depth, 0, nullptr);
  RegisterFunctionTyped(v, u"Take", Take, u"..");
  RegisterFunctionTyped(v, u"AddHandler", AddHandler, u".sc");
  RegisterFunction(v, u"Fire", Fire, -2, u".s");
  RegisterFunction(v, u"Handler", ScriptRuntimeErrorHandler, 0, nullptr);

  RegisterClassWithConstructor(v, u"Box", BoxConstructor, u"xi");
  host->BindClass(ScriptClass::Texture, v, false);
  sq_poptop(v);
  RegisterValueClass(v, u"Vec1", false, VecConstructor<ScriptClass::Vector1D>, u"xn");
  host->BindClass(ScriptClass::Vector1D, v, true);
  RegisterFunctionTyped(v, u"_cloned", VecCloned, u"xx");
  RegisterValueClass(v, u"Vec3", true, VecConstructor<ScriptClass::Vector3D>, u"xn");
  host->BindClass(ScriptClass::Vector3D, v, true);
  sq_poptop(v);
  RegisterClass(v, u"Event", false);
  host->BindClass(ScriptClass::Event, v, false);
  RegisterFunctionTyped(v, u"PreventDefault", PreventDefault, u"x");
  sq_pop(v, 2);
}

}  // namespace hosttest
