// links: brindle_engine
// The scripting framework's hot paths against bare baselines in the same iterations ("engine/bare"): a
// trigger reaching 8 handlers against calling the same 8 functions directly, a frame step over 4,096 idle
// timers against a bare loop over the same fields, and a module native called through CNativeStateImpl
// against the same function as an engine callback. Each pass checks its result.
#include <benchmark/benchmark.h>

#include "PairedRatio.h"

#include <chrono>
#include <vector>

#include <engine/Interfaces.h>
#include <engine/Scripting.h>
#include <scripting/EventHandlers.h>
#include <scripting/TimerMgr.h>

namespace {

using namespace Vexil3D;
constexpr int kBatch = 1000;
constexpr int kHandlers = 8;
constexpr double kIdleInterval = 1.0e9;

int g_Calls = 0;
bool Count(CNativeState*, int, void*) {
  ++g_Calls;
  return true;
}

void BM_TriggerEightHandlers(benchmark::State& state) {
  CScripting scripting;
  EventHandlers::CEventMgr table(nullptr, &scripting);
  EventHandlers::CEventType* type = table.CreateEventType(u"e", nullptr, -1, false);
  std::vector<Strong<CFunction>> functions;
  for (int i = 0; i < kHandlers; ++i) {
    functions.emplace_back();
    functions.back().Attach(new CFunction(u"h", &Count, nullptr, nullptr));
    type->BindHandler(nullptr, nullptr, functions.back());
  }
  Strong<EventHandlers::CEvent> event;
  event.Attach(new EventHandlers::CEvent(type));
  Strong<CArgumentArray> arguments;
  arguments.Attach(new CArgumentArray());
  arguments->AppendInteger(1);
  bench::Paired(state, "engine/bare",
      [&] {
        g_Calls = 0;
        for (int i = 0; i < kBatch; ++i) type->TriggerWithEvent(event, arguments);
        return g_Calls == kBatch * kHandlers;
      },
      [&] {
        // What a handler does for its call: the event and the arguments into a fresh array, then the call.
        g_Calls = 0;
        for (int i = 0; i < kBatch; ++i)
          for (auto& function : functions) {
            CArgumentArray call;
            call.AppendObject(event);
            arguments->AppendTo(&call);
            CNativeState native(&scripting, nullptr, &call);
            function->Call(&native, static_cast<int>(call.GetCount()));
          }
        return g_Calls == kBatch * kHandlers;
      });
}
BENCHMARK(BM_TriggerEightHandlers);

void BM_StepIdleTimers(benchmark::State& state) {
  TimerHandlers::CTimerMgr table(nullptr, nullptr);
  Strong<CFunction> function;
  function.Attach(new CFunction(u"t", &Count, nullptr, nullptr));
  struct Bare {
    double elapsed = 0;
    double interval = kIdleInterval;
    bool used = true;
  };
  std::vector<Bare> bare(TimerHandlers::CTimerMgr::kCapacity);
  for (std::uint32_t i = 0; i < TimerHandlers::CTimerMgr::kCapacity; ++i)
    table.CreateTimer(nullptr, function, 0, 0, kIdleInterval)->Release();
  constexpr int kSteps = kBatch / 100;  // a step is 4,096 timers: fewer of them per pass
  bench::Paired(state, "engine/bare",
      [&] {
        g_Calls = 0;
        for (int i = 0; i < kSteps; ++i) table.Step(0.016);
        return g_Calls == 0 && table.GetCount() == TimerHandlers::CTimerMgr::kCapacity;
      },
      [&] {
        int due = 0;
        for (int i = 0; i < kSteps; ++i)
          for (Bare& timer : bare) {
            if (!timer.used) continue;
            timer.elapsed += 0.016;
            if (timer.elapsed >= timer.interval) ++due;
          }
        benchmark::DoNotOptimize(bare.data());
        return due == 0;
      });
}
BENCHMARK(BM_StepIdleTimers);

bool AddEngine(CNativeState* state, int, void*) {
  std::int32_t a = 0, b = 0;
  if (!state->CheckNumber(0, &a) || !state->CheckNumber(1, &b)) return false;
  return state->ReturnInteger(a + b);
}

bool AddModule(Interfaces::INativeState* state, int, void*) {
  std::int32_t a = 0, b = 0;
  if (!state->CheckInt32(0, &a) || !state->CheckInt32(1, &b)) return false;
  return state->ReturnInteger(a + b) == Interfaces::kResultOk;
}

void BM_ModuleCall(benchmark::State& state) {
  Strong<CFunction> module, engine;
  module.Attach(new CFunction(u"m", nullptr, &AddModule, nullptr));
  engine.Attach(new CFunction(u"e", &AddEngine, nullptr, nullptr));
  CArgumentArray arguments;
  arguments.AppendInteger(40);
  arguments.AppendInteger(2);
  auto run = [&](CFunction* function) {
    int sum = 0;
    for (int i = 0; i < kBatch; ++i) {
      CNativeState native(nullptr, nullptr, &arguments);
      int value = 0;
      if (function->Call(&native, 2) && native.GetResults().Get(0)->ToNumber(&value)) sum += value;
    }
    return sum == kBatch * 42;
  };
  bench::Paired(state, "engine/bare", [&] { return run(module); }, [&] { return run(engine); });
}
BENCHMARK(BM_ModuleCall);

}  // namespace
