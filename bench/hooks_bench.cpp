// links: brindle_hack brindle_gameimage
// A hooked game routine against the event it raises: GetKeyStates on the game
// image with one module replying 1, called as the game calls it, against
// RaiseModuleEvent called directly with the same module and block. Each
// iteration times a batch of each, in alternating order, and the sums give
// "hooked/direct" (the goal is below 1.5).
#include <benchmark/benchmark.h>
#include <hack/GameHooks.h>
#include <hack/GameVersion.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameImage.h>
#include <hack/testing/RegistryReset.h>

#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint32_t kGetKeyStatesB = 0x4944D0;
constexpr std::uint32_t kKeyboardWordB = 0x7544F4;
constexpr std::uint32_t kKeyboardValue = 0x5EED;
constexpr int kBatch = 1000;

std::uint32_t g_Events = 0;

std::uint32_t Subscriber(std::uint32_t event, ModuleEventData* data) {
  if (event == MODULEEVENT_GETKEYSTATES) {
    g_Events += static_cast<GetKeyStatesEventData*>(data)->keys[0];
    return MODULEREPLY_HANDLED;
  }
  return event == MODULEEVENT_INIT ? std::uint32_t(MODULEREPLY_HANDLED) : 0u;
}

void HookedOverDirect(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  hack::testing::ResetHackRegistry();
  gameimage::CGameImage image;
  if (!image.IsMapped()) {
    state.SkipWithError("could not map the game image");
    return;
  }
  image.WriteBuildMarker(GAMEVERSION_IV_RELEASE_PATCHED);
  DetectGameVersion();
  SelectGameBuild();
  // The routine's entry loads the keyboard word, as the game's does.
  gameimage::CEmitter routine(image.At(kGetKeyStatesB));
  routine.Load(gameimage::EAX, image.At(kKeyboardWordB)).Ret();
  image.Place(routine);
  image.Poke(image.At(kKeyboardWordB), kKeyboardValue);

  tHackModule* core = CreateHackModule(u"core.dll", u"Core");
  RegisterHackModule(core, reinterpret_cast<HMODULE>(0x1000), false, Subscriber);
  InstallCoreHooks(core);

  std::uint8_t keys[256];
  std::memset(keys, 1, sizeof keys);
  const auto getKeyStates = reinterpret_cast<std::uint32_t (*)(std::uint8_t*)>(std::uintptr_t(routine.Origin()));
  GetKeyStatesEventData data{};
  data.size = sizeof data;
  data.keys = keys;

  Clock::duration hookedTime{};
  Clock::duration directTime{};
  bool hookedFirst = true;
  std::uint64_t expectedEvents = 0;
  g_Events = 0;
  bool ok = true;
  for (auto _ : state) {
    const auto timeHooked = [&] {
      const auto start = Clock::now();
      std::uint32_t sum = 0;
      for (int i = 0; i < kBatch; ++i) sum += getKeyStates(keys);
      hookedTime += Clock::now() - start;
      ok = ok && sum == kKeyboardValue * std::uint32_t(kBatch);
    };
    const auto timeDirect = [&] {
      const auto start = Clock::now();
      std::uint32_t replies = 0;
      for (int i = 0; i < kBatch; ++i) replies += RaiseModuleEvent(MODULEEVENT_GETKEYSTATES, &data);
      directTime += Clock::now() - start;
      ok = ok && replies == MODULEREPLY_HANDLED * std::uint32_t(kBatch);
    };
    if (hookedFirst) {
      timeHooked();
      timeDirect();
    } else {
      timeDirect();
      timeHooked();
    }
    hookedFirst = !hookedFirst;
    expectedEvents += 2 * kBatch;
  }
  // Every call reached the module once through each path.
  if (!ok || g_Events != std::uint32_t(expectedEvents)) state.SkipWithError("a call went astray");
  hack::testing::ResetHackRegistry();

  const double calls = static_cast<double>(state.iterations()) * kBatch;
  const double hookedNs = std::chrono::duration<double, std::nano>(hookedTime).count();
  const double directNs = std::chrono::duration<double, std::nano>(directTime).count();
  if (calls > 0 && directNs > 0) {
    state.counters["hooked_ns"] = hookedNs / calls;
    state.counters["direct_ns"] = directNs / calls;
    state.counters["hooked/direct"] = hookedNs / directNs;
  }
}
BENCHMARK(HookedOverDirect);

}  // namespace
