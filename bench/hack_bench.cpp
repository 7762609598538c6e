// links: brindle_hack brindle_gameimage
// The event bus against the plain calls it wraps, and the cost of one patch.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <hack/Hacks.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/RegistryReset.h>
#include <hack/testing/GameImage.h>

namespace {

constexpr int kModules = 12;
std::uint32_t g_Sink[kModules];

template <int N>
std::uint32_t Handler(std::uint32_t event, ModuleEventData*) {
  g_Sink[N] += event;
  return MODULEREPLY_HANDLED;
}

template <int... N>
constexpr std::array<ModuleHandler, sizeof...(N)> MakeHandlers(std::integer_sequence<int, N...>) {
  return {Handler<N>...};
}
const auto kHandlers = MakeHandlers(std::make_integer_sequence<int, kModules>{});

void BM_RaiseModuleEvent12(benchmark::State& state) {
  hack::testing::ResetHackRegistry();
  for (int i = 0; i < kModules; ++i) {
    tHackModule* module = CreateHackModule(u"bench.dll", u"Bench");
    RegisterHackModule(module, reinterpret_cast<HMODULE>(0x1000 + i), false, kHandlers[i]);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr));
  }
  hack::testing::ResetHackRegistry();
}
BENCHMARK(BM_RaiseModuleEvent12);

void BM_PlainIndirectCalls12(benchmark::State& state) {
  std::array<ModuleHandler, kModules> handlers = kHandlers;
  for (auto _ : state) {
    benchmark::DoNotOptimize(handlers.data());
    std::uint32_t result = 0;
    for (int i = kModules - 1; i >= 0; --i) result |= handlers[i](MODULEEVENT_PROCESS, nullptr);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_PlainIndirectCalls12);

// Installs 1000 value patches side by side on the mapped image, then destroys
// them; items are patches.
void BM_InstallAndDestroy1000Patches(benchmark::State& state) {
  hack::testing::ResetHackRegistry();
  gameimage::CGameImage image;
  if (!image.IsMapped()) {
    state.SkipWithError("could not map the game image");
    return;
  }
  tHackModule* module = CreateHackModule(u"bench.dll", u"Bench");
  RegisterHackModule(module, reinterpret_cast<HMODULE>(0x1000), false, kHandlers[0]);
  std::vector<CHackHack*> patches(1000);
  const std::uint32_t start = image.At(0x410000);
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < 1000; ++i) patches[i] = new CHackValueHack(module, start + 4 * i, i);
    for (std::uint32_t i = 1000; i-- > 0;) delete patches[i];
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  hack::testing::ResetHackRegistry();
}
BENCHMARK(BM_InstallAndDestroy1000Patches)->Unit(benchmark::kMillisecond);

}  // namespace
