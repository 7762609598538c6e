// The natives of Engine.EventSystem and the script classes EventType and Event.
#include <scripthost/Events.h>
#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptClasses.h>

#include "NativeHelpers.h"

using namespace natives;

const SQChar kNoEnvironmentMessage[] = u"no script environment is running";

namespace {

SQRESULT TypeAt(HSQUIRRELVM v, SQInteger index, CEventType** out) {
  return Object(v, index, ScriptClass::EventType, out);
}

SQRESULT EventAt(HSQUIRRELVM v, SQInteger index, CEvent** out) { return Object(v, index, ScriptClass::Event, out); }

SQInteger PushBool(HSQUIRRELVM v, bool value) {
  sq_pushbool(v, value ? SQTrue : SQFalse);
  return kResult;
}

// ---- Engine.EventSystem ----------------------------------------------------------------------------------------

SQInteger GetEventType(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, kFirstArgument, &name);
  CEventType* type = HostOf(v)->GetEventTypes().Find(name);
  if (type == nullptr) {
    sq_pushnull(v);
  } else {
    type->PushInstance(v);
  }
  return kResult;
}

SQInteger AddEventType(HSQUIRRELVM v) {
  CEventType* type;
  if (SQ_FAILED(TypeAt(v, kFirstArgument, &type))) return SQ_ERROR;
  HostOf(v)->GetEventTypes().Add(type);
  return kNoResult;
}

SQInteger RemoveEventType(HSQUIRRELVM v) {
  CEventType* type;
  if (SQ_FAILED(TypeAt(v, kFirstArgument, &type))) return SQ_ERROR;
  HostOf(v)->GetEventTypes().Remove(type);
  return kNoResult;
}

SQInteger IsEventTypeAdded(HSQUIRRELVM v) {
  CEventType* type;
  if (SQ_FAILED(TypeAt(v, kFirstArgument, &type))) return SQ_ERROR;
  return PushBool(v, type->IsRegistered());
}

// ---- EventType ---------------------------------------------------------------------------------------------------

SQInteger EventTypeConstructor(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, kFirstArgument, &name);
  CScriptHost* host = HostOf(v);
  auto* type = new CEventType(&host->GetEventTypes(), host->GetRunningEnvironment(), name);
  return BindNew(v, type, type);
}

SQInteger AddHandler(HSQUIRRELVM v) {
  CEventType* type;
  if (SQ_FAILED(TypeAt(v, kThis, &type))) return SQ_ERROR;
  // A handler belongs to an environment and is called in it: outside every environment there is none to call.
  CScriptEnvironment* environment = HostOf(v)->GetRunningEnvironment();
  if (environment == nullptr) return sq_throwerror(v, kNoEnvironmentMessage);
  type->AddHandler(environment, v, kFirstArgument);
  return kNoResult;
}

SQInteger EventTypeTypeOf(HSQUIRRELVM v) {
  sq_pushstring(v, u"EventType", -1);
  return kResult;
}

// ---- Event -------------------------------------------------------------------------------------------------------

SQInteger EventConstructor(HSQUIRRELVM v) {
  CEventType* type;
  if (SQ_FAILED(TypeAt(v, kFirstArgument, &type))) return SQ_ERROR;
  auto* event = new CEvent(type);
  return BindNew(v, event, event);
}

SQInteger PreventDefault(HSQUIRRELVM v) {
  CEvent* event;
  if (SQ_FAILED(EventAt(v, kThis, &event))) return SQ_ERROR;
  event->PreventDefault();
  return kNoResult;
}

SQInteger IsDefaultPrevented(HSQUIRRELVM v) {
  CEvent* event;
  if (SQ_FAILED(EventAt(v, kThis, &event))) return SQ_ERROR;
  return PushBool(v, event->IsDefaultPrevented());
}

SQInteger GetEventTypeOfEvent(HSQUIRRELVM v) {
  CEvent* event;
  if (SQ_FAILED(EventAt(v, kThis, &event))) return SQ_ERROR;
  event->GetType()->PushInstance(v);
  return kResult;
}

SQInteger Trigger(HSQUIRRELVM v) {
  CEvent* event;
  if (SQ_FAILED(EventAt(v, kThis, &event))) return SQ_ERROR;
  CListScriptArguments arguments(HostOf(v));
  const SQInteger top = sq_gettop(v);
  for (SQInteger i = kFirstArgument; i <= top; ++i) arguments.AddFromStack(v, i);
  event->Trigger(&arguments, nullptr);
  arguments.Clear();
  return kNoResult;
}

SQInteger EventTypeOf(HSQUIRRELVM v) {
  sq_pushstring(v, u"Event", -1);
  return kResult;
}

}  // namespace

void RegisterEventSystem(HSQUIRRELVM v) {
  RegisterFunctionTyped(v, u"GetEventType", GetEventType, u".s");
  RegisterFunctionTyped(v, u"AddEventType", AddEventType, u".x");
  RegisterFunctionTyped(v, u"RemoveEventType", RemoveEventType, u".x");
  RegisterFunctionTyped(v, u"IsEventTypeAdded", IsEventTypeAdded, u".x");
}

void RegisterEventClasses(CScriptHost* host, HSQUIRRELVM v) {
  constexpr SQInteger kAtLeastThis = -1;
  RegisterClassWithConstructor(v, u"EventType", EventTypeConstructor, u"xs");
  host->BindClass(ScriptClass::EventType, v, false);
  RegisterFunctionTyped(v, u"AddHandler", AddHandler, u"xc");
  RegisterFunctionTyped(v, u"_typeof", EventTypeTypeOf, u"x");
  sq_poptop(v);

  RegisterClassWithConstructor(v, u"Event", EventConstructor, u"xx");
  host->BindClass(ScriptClass::Event, v, false);
  RegisterFunctionTyped(v, u"PreventDefault", PreventDefault, u"x");
  RegisterFunctionTyped(v, u"IsDefaultPrevented", IsDefaultPrevented, u"x");
  RegisterFunctionTyped(v, u"GetEventType", GetEventTypeOfEvent, u"x");
  RegisterFunction(v, u"Trigger", Trigger, kAtLeastThis, u"x");
  RegisterFunctionTyped(v, u"_typeof", EventTypeOf, u"x");
  sq_poptop(v);
}
