// links: brindle_scripthost
// The SquirrelSupport module's frame and the math classes' operators against bare baselines, timed pass by pass:
//   ProcessOverCalls  the module's Process event (key drain, playing-list sweep, OnProcess to 10 handlers in 2
//                     environments), against the same 10 closures by sq_call (aim: process/calls at most 1.3);
//   Vector3DAdd       a + b of two Vector3D in a script loop, against a class whose _add of the same arity only
//                     returns a new Vector3D (aim: add/new at most 1.2);
//   Matrix4x4Mul      a * b of two Matrix4x4 likewise, against a _mul that only returns a new Matrix4x4 (aim 1.2).
// Each checks its results and reports the ratio of the summed times as a counter.
#include <benchmark/benchmark.h>

#include "PairedRatio.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <base/Stream.h>

#include <scripthost/Events.h>
#include <scripthost/ScriptClasses.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

namespace {

// Compiles and runs code in the environment; true on success.
bool RunIn(CScriptEnvironment* environment, const std::string& code) {
  const HSQUIRRELVM t = environment->GetThread();
  auto* stream = new CByteArrayStream(const_cast<char*>(code.data()), std::uint32_t(code.size()));
  CScriptHost* host = environment->GetHost();
  host->PushRunningEnvironment(environment);
  environment->Enter();
  bool ok = SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"bench.nut"));
  if (ok) {
    sq_pushroottable(t);
    ok = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue));
  }
  sq_settop(t, 0);
  environment->Leave();
  host->PopRunningEnvironment();
  stream->Release();
  return ok;
}

// Calls the root function `name` of the environment with n and answers its integer or float result.
double CallIn(CScriptEnvironment* environment, const char16_t* name, SQInteger n) {
  const HSQUIRRELVM t = environment->GetThread();
  CScriptHost* host = environment->GetHost();
  host->PushRunningEnvironment(environment);
  environment->Enter();
  const SQInteger top = sq_gettop(t);
  sq_pushroottable(t);
  sq_pushstring(t, name, -1);
  sq_get(t, -2);
  sq_pushroottable(t);
  sq_pushinteger(t, n);
  double result = -1;
  if (SQ_SUCCEEDED(sq_call(t, 2, SQTrue, SQTrue))) {
    SQFloat value = 0;
    if (SQ_SUCCEEDED(sq_getfloat(t, -1, &value))) result = value;
  }
  sq_settop(t, top);
  environment->Leave();
  host->PopRunningEnvironment();
  return result;
}

constexpr int kHandlersPerEnvironment = 5;
constexpr int kEnvironments = 2;

void ProcessOverCalls(benchmark::State& state) {
  ModuleInitData init{};
  init.size = sizeof init;
  SquirrelSupportModuleHandler(MODULEEVENT_INIT, &init);
  {
    CScriptEnvironment first(g_ScriptHost, u"first"), second(g_ScriptHost, u"second");
    CScriptEnvironment* environments[kEnvironments] = {&first, &second};
    const std::string code = "::count <- 0; ::handlers <- []; for (local i = 0; i < 5; i++) {"
                             "  local h = function(e) { ::count += 1; }; handlers.append(h);"
                             "  Engine.EventSystem.GetEventType(\"OnProcess\").AddHandler(h); }"
                             "function countOf(n) { return ::count.tofloat(); }";
    bool ok = true;
    std::vector<std::pair<CScriptEnvironment*, HSQOBJECT>> closures;
    for (CScriptEnvironment* environment : environments) {
      ok = RunIn(environment, code) && ok;
      const HSQUIRRELVM t = environment->GetThread();
      sq_pushroottable(t);
      sq_pushstring(t, u"handlers", -1);
      sq_get(t, -2);
      for (int i = 0; i < kHandlersPerEnvironment; ++i) {
        sq_pushinteger(t, i);
        sq_get(t, -2);
        HSQOBJECT closure;
        sq_getstackobj(t, -1, &closure);
        closures.emplace_back(environment, closure);
        sq_poptop(t);
      }
      sq_settop(t, 0);
    }
    if (!ok) {
      state.SkipWithError("bench script did not run");
    } else {
      bench::Paired(
          state, "process/calls",
          [] { return SquirrelSupportModuleHandler(MODULEEVENT_PROCESS, nullptr) == MODULEREPLY_HANDLED; },
          [&] {
            bool called = true;
            for (const auto& [environment, closure] : closures) {
              const HSQUIRRELVM t = environment->GetThread();
              sq_pushobject(t, closure);
              sq_pushroottable(t);
              sq_pushnull(t);
              called = SQ_SUCCEEDED(sq_call(t, 2, SQFalse, SQTrue)) && called;
              sq_poptop(t);
            }
            return called;
          });
      // Every handler ran once per pass on each side.
      const double expected = double(state.iterations()) * 2 * kEnvironments * kHandlersPerEnvironment;
      if (CallIn(&first, u"countOf", 0) + CallIn(&second, u"countOf", 0) != expected) {
        state.SkipWithError("handlers were missed");
      }
      state.SetItemsProcessed(state.iterations() * kEnvironments * kHandlersPerEnvironment);
    }
  }
  ModuleEventData unload{sizeof(ModuleEventData)};
  SquirrelSupportModuleHandler(MODULEEVENT_UNLOAD, &unload);
}
BENCHMARK(ProcessOverCalls);

// The bare operators: a new object of the operands' class, nothing computed.
SQInteger NewVector3D(HSQUIRRELVM v) {
  auto* object = new tScriptVector<3>(CScriptHost::FromVM(v)->GetBinding(ScriptClass::Vector3D));
  object->PushInstance(v);
  object->Release();
  return 1;
}
SQInteger NewMatrix(HSQUIRRELVM v) {
  CScriptHost* host = CScriptHost::FromVM(v);
  auto* object =
      new tScriptMatrix4x4(host->GetBinding(ScriptClass::Matrix4x4), host->GetBinding(ScriptClass::Vector4D));
  object->PushInstance(v);
  object->Release();
  return 1;
}

// A native subclass of the named class carrying the base's type tag, so its instances are the base's objects, with
// one operator replaced by the bare one.
void AddBareClass(CScriptHost* host, const char16_t* base, const char16_t* name, ScriptClass tag,
                  const char16_t* operation, SQFUNCTION bare) {
  const HSQUIRRELVM v = host->GetVM();
  host->GetEngineTable().Push(v);
  sq_pushstring(v, base, -1);
  sq_get(v, -2);
  RegisterClass(v, name, true);
  sq_settypetag(v, -1, host->GetBinding(tag));
  RegisterFunctionTyped(v, operation, bare, u"xx");
  sq_pop(v, 2);
}

constexpr SQInteger kLoop = 1000;

void Operators(benchmark::State& state, const char* counter, const std::string& code) {
  CScriptHost host;
  g_ScriptHost = &host;
  AddBareClass(&host, u"Vector3D", u"BareVector3D", ScriptClass::Vector3D, u"_add", NewVector3D);
  AddBareClass(&host, u"Matrix4x4", u"BareMatrix4x4", ScriptClass::Matrix4x4, u"_mul", NewMatrix);
  {
    CScriptEnvironment environment(&host, u"bench");
    if (!RunIn(&environment, code)) {
      state.SkipWithError("bench script did not run");
    } else {
      const double expected = CallIn(&environment, u"expected", 0);
      bench::Paired(
          state, counter, [&] { return CallIn(&environment, u"ours", kLoop) == expected; },
          [&] { return CallIn(&environment, u"bare", kLoop) == 0.0; });
      state.SetItemsProcessed(state.iterations() * kLoop);
    }
  }
  g_ScriptHost = nullptr;
}

void Vector3DAdd(benchmark::State& state) {
  Operators(state, "add/new",
            "local a = Engine.Vector3D(1, 2, 3), b = Engine.Vector3D(4, 5, 6);"
            "local ba = Engine.BareVector3D(1, 2, 3), bb = Engine.BareVector3D(4, 5, 6);"
            "function expected(n) { return 21.0; }"
            "function ours(n) { local r; for (local i = 0; i < n; i++) r = a + b; return r.X + r.Y + r.Z; }"
            "function bare(n) { local r; for (local i = 0; i < n; i++) r = ba + bb; return r.X + r.Y + r.Z; }");
}
BENCHMARK(Vector3DAdd);

void Matrix4x4Mul(benchmark::State& state) {
  Operators(state, "mul/new",
            "local a = Engine.Matrix4x4(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16), b = clone a;"
            "local ba = Engine.BareMatrix4x4(), bb = Engine.BareMatrix4x4();"
            "function expected(n) { return 90.0; }"
            "function ours(n) { local r; for (local i = 0; i < n; i++) r = a * b; return r.X.X; }"
            "function bare(n) { local r; for (local i = 0; i < n; i++) r = ba * bb; return r.X.X; }");
}
BENCHMARK(Matrix4x4Mul);

}  // namespace
