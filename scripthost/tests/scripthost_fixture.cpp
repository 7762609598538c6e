// The test classes and natives of the script-host tests.
#include "scripthost_fixture.h"

#include <cstring>

#include <base/Stream.h>

namespace hosttest {

namespace {

using tVec = tSquirrelReleasableReferenceableValue<float>;

std::string TypeName(HSQUIRRELVM v, SQInteger index) {
  sq_typeof(v, index);
  const SQChar* name = nullptr;
  sq_getstring(v, -1, &name);
  std::string result = Narrow(name != nullptr ? name : u"?");
  sq_poptop(v);
  return result;
}

// Scalars as "type:value", other values by type name.
SQInteger Record(HSQUIRRELVM v) {
  std::string types;
  for (SQInteger i = 2; i <= sq_gettop(v); ++i) {
    types += (i > 2 ? "," : "") + TypeName(v, i);
    const SQObjectType type = sq_gettype(v, i);
    if (type == OT_INTEGER || type == OT_FLOAT || type == OT_BOOL || type == OT_STRING) {
      sq_tostring(v, i);
      const SQChar* value = nullptr;
      sq_getstring(v, -1, &value);
      types += ":" + Narrow(value);
      sq_poptop(v);
    }
  }
  Recorded().push_back(types);
  return 0;
}

// The number of environments on the running list.
SQInteger Depth(HSQUIRRELVM v) {
  sq_pushinteger(v, SQInteger(CScriptHost::FromVM(v)->GetRunningEnvironments().m_Count));
  return 1;
}

CClassBinding* Binding(HSQUIRRELVM v, ScriptClass which) { return CScriptHost::FromVM(v)->GetBinding(which); }

SQInteger BoxConstructor(HSQUIRRELVM v) {
  SQInteger value = 0;
  sq_getinteger(v, 2, &value);
  auto* box = new tBox(Binding(v, ScriptClass::Texture), value);
  const SQRESULT result = box->BindConstructedInstance(v);
  box->Release();
  return result;
}

SQInteger BoxGetValue(HSQUIRRELVM v) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(Binding(v, ScriptClass::Texture), v, 1, &object))) return SQ_ERROR;
  sq_pushinteger(v, static_cast<tBox*>(object)->m_value);
  return 1;
}

// Vec3 inherits Vec1's _cloned, which makes the object of the new instance's own class.
CClassBinding* OwnBinding(HSQUIRRELVM v) {
  HSQOBJECT self;
  sq_getstackobj(v, 1, &self);
  SQUserPointer tag = nullptr;
  sq_getobjtypetag(&self, &tag);
  return static_cast<CClassBinding*>(tag);
}

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
  auto* vec = new tVec(OwnBinding(v));
  *vec->GetValue() = *static_cast<tVec*>(source)->GetValue();
  const SQRESULT result = vec->BindConstructedInstance(v);
  vec->Release();
  return result;
}

SQInteger Take(HSQUIRRELVM v) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(Binding(v, ScriptClass::Vector1D), v, 2, &object))) return SQ_ERROR;
  if (object == nullptr) {
    sq_pushnull(v);
  } else {
    sq_pushfloat(v, *static_cast<tVec*>(object)->GetValue());
  }
  return 1;
}

SQInteger EventConstructor(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, 2, &name);
  CEventType* type = CScriptHost::FromVM(v)->GetEventTypes().Find(name);
  if (type == nullptr) return sq_throwerror(v, u"no such event type");
  auto* event = new CEvent(type);
  const SQRESULT result = event->BindConstructedInstance(v);
  event->Release();
  return result;
}

CEvent* ThisEvent(HSQUIRRELVM v) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(Binding(v, ScriptClass::Event), v, 1, &object))) return nullptr;
  return static_cast<CEvent*>(object);
}

SQInteger EventPreventDefault(HSQUIRRELVM v) {
  CEvent* event = ThisEvent(v);
  if (event == nullptr) return SQ_ERROR;
  event->PreventDefault();
  return 0;
}

// Triggers the event with the call's arguments after this; answers whether the default was prevented.
SQInteger TriggerWithArguments(HSQUIRRELVM v, CEvent* event, SQInteger first) {
  CListScriptArguments arguments(CScriptHost::FromVM(v));
  for (SQInteger i = first; i <= sq_gettop(v); ++i) arguments.AddFromStack(v, i);
  event->Trigger(&arguments, nullptr);
  arguments.Clear();
  sq_pushbool(v, event->IsDefaultPrevented() ? SQTrue : SQFalse);
  return 1;
}

SQInteger EventTrigger(HSQUIRRELVM v) {
  CEvent* event = ThisEvent(v);
  return event == nullptr ? SQ_ERROR : TriggerWithArguments(v, event, 2);
}

SQInteger Fire(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, 2, &name);
  CEventType* type = CScriptHost::FromVM(v)->GetEventTypes().Find(name);
  if (type == nullptr) return sq_throwerror(v, u"no such event type");
  auto* event = new CEvent(type);
  const SQInteger result = TriggerWithArguments(v, event, 3);
  event->Release();
  return result;
}

SQInteger AddHandler(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, 2, &name);
  CScriptHost* host = CScriptHost::FromVM(v);
  CEventType* type = host->GetEventTypes().Find(name);
  if (type == nullptr) return sq_throwerror(v, u"no such event type");
  type->AddHandler(host->GetRunningEnvironment(), v, 3);
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

  RegisterClassWithConstructor(v, u"Box", BoxConstructor, u"xi");
  host->BindClass(ScriptClass::Texture, v, false);
  RegisterFunctionTyped(v, u"GetValue", BoxGetValue, u"x");
  sq_poptop(v);

  RegisterValueClass(v, u"Vec1", false, VecConstructor<ScriptClass::Vector1D>, u"xn");
  host->BindClass(ScriptClass::Vector1D, v, true);
  RegisterFunctionTyped(v, u"_cloned", VecCloned, u"xx");
  RegisterValueClass(v, u"Vec3", true, VecConstructor<ScriptClass::Vector3D>, u"xn");
  host->BindClass(ScriptClass::Vector3D, v, true);
  sq_poptop(v);

  RegisterClassWithConstructor(v, u"Event", EventConstructor, u"xs");
  host->BindClass(ScriptClass::Event, v, false);
  RegisterFunctionTyped(v, u"PreventDefault", EventPreventDefault, u"x");
  RegisterFunction(v, u"Trigger", EventTrigger, -1, u"x");
  sq_poptop(v);
  sq_poptop(v);
}

bool HostTest::Run(CScriptEnvironment* environment, const std::u16string& code) {
  const HSQUIRRELVM t = environment->GetThread();
  const SQInteger top = sq_gettop(t);
  const std::string bytes = Narrow(code);
  auto* stream = new CByteArrayStream(const_cast<char*>(bytes.data()), std::uint32_t(bytes.size()));
  bool ok = false;
  host->PushRunningEnvironment(environment);
  environment->Enter();
  if (SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"test.nut"))) {
    sq_pushroottable(t);
    ok = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue));
    sq_settop(t, top + 1);
  }
  environment->Leave();
  host->PopRunningEnvironment();
  stream->Release();
  EXPECT_EQ(sq_gettop(t), top);
  return ok;
}

std::string HostTest::RunCapturingErrors(CScriptEnvironment* environment, const std::u16string& code, bool* ok) {
  ::testing::internal::CaptureStderr();
  const bool succeeded = Run(environment, code);
  if (ok != nullptr) *ok = succeeded;
  return ::testing::internal::GetCapturedStderr();
}

CEventType* HostTest::AddEventType(const char16_t* name, CScriptEnvironment* owner) {
  auto* type = new CEventType(&host->GetEventTypes(), owner, name);
  host->GetEventTypes().Add(type);
  type->Release();
  return type;
}

}  // namespace hosttest
