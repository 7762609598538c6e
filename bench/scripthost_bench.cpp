// links: brindle_scripthost
// The script host's hot paths against bare baselines, timed pass by pass in the same iterations:
//   QueueOverDeque    push 256 entries and drain them with the frame's loop, against a mutex-guarded deque
//                     (aim: queue/deque at most 1.5);
//   NameTableOverMap  look up 32 event-type hashes in a NameHashTable, against std::unordered_map
//                     (aim: table/map at most 1.3);
//   TriggerOverCalls  CEvent::Trigger with 8 handlers, against 8 bare sq_calls of the same closures
//                     (aim: trigger/calls at most 1.5).
// Each checks its results and reports the ratio of the summed times as a counter.
#include <benchmark/benchmark.h>

#include "PairedRatio.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <hack/ModuleOptions.h>

#include <base/Stream.h>

#include <scripthost/Events.h>
#include <scripthost/NameHashTable.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/TaskQueue.h>

namespace {

constexpr std::uint32_t kBatch = 256;

void QueueOverDeque(benchmark::State& state) {
  CTaskQueue queue;
  std::mutex mutex;
  std::deque<std::pair<std::uint32_t, std::uint32_t>> deque;
  constexpr std::uint32_t kExpectedSum = kBatch * (kBatch - 1) / 2;
  bench::Paired(
      state, "queue/deque",
      [&] {
        for (std::uint32_t i = 0; i < kBatch; ++i) queue.Push(0, i);
        std::uint32_t sum = 0, kind = 0, value = 0;
        if (WaitForSingleObject(queue.GetEvent(), 0) == WAIT_OBJECT_0) {
          while (queue.Pop(&kind, &value)) sum += value;
        }
        return sum == kExpectedSum;
      },
      [&] {
        for (std::uint32_t i = 0; i < kBatch; ++i) {
          std::lock_guard<std::mutex> lock(mutex);
          deque.emplace_back(0, i);
        }
        std::uint32_t sum = 0;
        for (;;) {
          std::lock_guard<std::mutex> lock(mutex);
          if (deque.empty()) break;
          sum += deque.front().second;
          deque.pop_front();
        }
        return sum == kExpectedSum;
      });
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(QueueOverDeque);

const char16_t* const kEventNames[] = {
    u"OnLoadedScript", u"OnDefineAllObjects", u"OnSetUpItemLinkedLists", u"OnLoadItems", u"OnProcess",
    u"OnRender2D", u"OnFallDamage", u"OnRollingBallDeath", u"OnDivingRollLandDeath", u"OnFlipeffect",
    u"OnKeyDown", u"OnKeyUp", u"OnLoad", u"OnUnload", u"OnGetKeyStates", u"OnGetJoypadStates",
    u"OnClientConnect", u"OnClientDisconnect", u"OnServerEvent", u"OnResourceStart", u"OnResourceStop",
    u"OnResourceReady", u"OnFileDownload", u"OnChat", u"OnCommand", u"OnPlayerJoin", u"OnPlayerLeave",
    u"OnPlayerSpawn", u"OnPlayerDeath", u"OnTick", u"OnMenu", u"OnCustom",
};

void NameTableOverMap(benchmark::State& state) {
  NameHashTable table;
  std::unordered_map<std::uint32_t, std::uintptr_t> map;
  std::vector<std::uint32_t> hashes;
  std::uintptr_t expected = 0;
  for (std::uintptr_t i = 0; i < std::size(kEventNames); ++i) {
    const std::uint32_t hash = HashName(kEventNames[i], false);
    hashes.push_back(hash);
    table.Add(hash, reinterpret_cast<void*>(i + 1));
    map.emplace(hash, i + 1);
    expected += i + 1;
  }
  constexpr int kRounds = 16;
  bench::Paired(
      state, "table/map",
      [&] {
        std::uintptr_t sum = 0;
        for (int round = 0; round < kRounds; ++round) {
          for (std::uint32_t hash : hashes) sum += reinterpret_cast<std::uintptr_t>(table.Find(hash)->m_pValue);
          benchmark::DoNotOptimize(sum);
        }
        return sum == expected * kRounds;
      },
      [&] {
        std::uintptr_t sum = 0;
        for (int round = 0; round < kRounds; ++round) {
          for (std::uint32_t hash : hashes) sum += map.find(hash)->second;
          benchmark::DoNotOptimize(sum);
        }
        return sum == expected * kRounds;
      });
  state.SetItemsProcessed(state.iterations() * kRounds * std::int64_t(hashes.size()));
}
BENCHMARK(NameTableOverMap);

constexpr int kHandlers = 8;

void TriggerOverCalls(benchmark::State& state) {
  std::fflush(stdout);
  CScriptHost host;
  g_ScriptHost = &host;
  {
    CScriptEnvironment environment(&host, u"bench");
    auto* type = new CEventType(&host.GetEventTypes(), nullptr, u"OnBench");
    host.GetEventTypes().Add(type);
    const HSQUIRRELVM t = environment.GetThread();
    const std::string code = "count <- 0; handlers <- []; for (local i = 0; i < 8; i++) "
                             "handlers.append(function(e) { ::count += 1; });";
    auto* stream = new CByteArrayStream(const_cast<char*>(code.data()), std::uint32_t(code.size()));
    const bool compiled = SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"bench.nut"));
    stream->Release();
    std::vector<CScriptObjectRef> closures(kHandlers);
    if (compiled) {
      sq_pushroottable(t);
      sq_call(t, 1, SQFalse, SQTrue);
      sq_settop(t, 0);
      sq_pushroottable(t);
      sq_pushstring(t, u"handlers", -1);
      sq_get(t, -2);
      for (int i = 0; i < kHandlers; ++i) {
        sq_pushinteger(t, i);
        sq_get(t, -2);
        closures[std::size_t(i)].Set(host.GetVM(), [&] {
          HSQOBJECT o;
          sq_getstackobj(t, -1, &o);
          return o;
        }());
        type->AddHandler(&environment, t, -1);
        sq_poptop(t);
      }
      sq_settop(t, 0);
    }
    const auto count = [&] {
      sq_pushroottable(t);
      sq_pushstring(t, u"count", -1);
      sq_get(t, -2);
      SQInteger n = 0;
      sq_getinteger(t, -1, &n);
      sq_settop(t, 0);
      return n;
    };
    if (!compiled) {
      state.SkipWithError("bench script did not compile");
    } else {
      bench::Paired(
          state, "trigger/calls",
          [&] {
            auto* event = new CEvent(type);
            event->Trigger(nullptr, nullptr);
            event->Release();
            return true;
          },
          [&] {
            bool ok = true;
            for (const CScriptObjectRef& closure : closures) {
              closure.Push(t);
              sq_pushroottable(t);
              sq_pushnull(t);
              ok = SQ_SUCCEEDED(sq_call(t, 2, SQFalse, SQTrue)) && ok;
              sq_poptop(t);
            }
            return ok;
          });
      // Every handler ran once per pass on each side.
      if (count() != SQInteger(state.iterations()) * 2 * kHandlers) state.SkipWithError("handlers were missed");
      state.SetItemsProcessed(state.iterations() * kHandlers);
    }
    closures.clear();
    type->Release();
  }
  g_ScriptHost = nullptr;
}
BENCHMARK(TriggerOverCalls);

}  // namespace
