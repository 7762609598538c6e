#pragma once
// The fixture of the feature modules' tests: the game double of one build with the core's record registered (its
// hooks installed), built-in modules registered by name, console capture, and the game image's bytes for
// before/after comparisons. The item limit goes back to the game's at the end of each test.
#include <gtest/gtest.h>

#include <features/FeatureModules.h>
#include <features/ItemLimit.h>
#include <hack/GameHooks.h>
#include <hack/GameVersion.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>

namespace featuretest {

using gamedouble::Build;
using gamedouble::Routine;
using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint32_t>;
using namespace std::string_literals;

// The feature modules by their built-in names, handed to the registry for each test.
inline const tBuiltInModule kFeatureModules[] = {
    {u"ADPCMSupport", ADPCMSupportModuleHandler},
    {u"AspectRatioSupport", AspectRatioSupportModuleHandler},
    {u"MultipleInstanceSupport", MultipleInstanceSupportModuleHandler},
    {u"BugFixes", BugFixesModuleHandler},
    {u"CustomFiles", CustomFilesModuleHandler},
    {u"IncreasedLimits", IncreasedLimitsModuleHandler},
    {u"MultiplePlayerSupport", MultiplePlayerSupportModuleHandler},
    {u"NoDrawDistance", NoDrawDistanceModuleHandler},
    {u"OggVorbisSupport", OggVorbisSupportModuleHandler},
    {u"PCMSupport", PCMSupportModuleHandler},
};

inline std::string BuildName(const ::testing::TestParamInfo<Build>& info) { return gamedouble::NameOf(info.param); }
inline std::uint32_t Address(const void* p) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(p)); }

// What the call writes to standard output.
template <typename F>
std::string Console(F&& call) {
  ::testing::internal::CaptureStdout();
  call();
  return ::testing::internal::GetCapturedStdout();
}

class FeatureTest : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    hack::testing::ResetHackRegistry();
    SetBuiltInModules(kFeatureModules, std::size(kFeatureModules));
    game = std::make_unique<gamedouble::CGameDouble>(GetParam());
    ASSERT_TRUE(game->IsReady());
    DetectGameVersion();
    ASSERT_TRUE(SelectGameBuild());
    tHackModule* core = CreateHackModule(u"core.dll", u"core");
    RegisterHackModule(core, reinterpret_cast<HMODULE>(0x1000), false,
                       [](std::uint32_t, ModuleEventData*) -> std::uint32_t { return MODULEREPLY_HANDLED; });
    InstallCoreHooks(core);
  }
  void TearDown() override {
    // Unloaded, not dropped: a module frees its process-wide state at its Unload.
    hack::testing::UnloadAndResetHackRegistry();
    SetBuiltInModules(nullptr, 0);
    game.reset();
    g_ItemLimit = kGameItemLimit;
  }

  // Registers the built-in module of that name (its record in *record); its console lines in *lines if given.
  std::uint32_t Register(const char16_t* name, tHackModule** record = nullptr, std::string* lines = nullptr) {
    tHackModule* module = CreateHackModule(u"module.dll", name);
    if (record != nullptr) *record = module;
    std::uint32_t reply = 0;
    const std::string out = Console([&] { reply = RegisterBuiltInModule(module, reinterpret_cast<HMODULE>(0x2000)); });
    if (lines != nullptr) *lines = out;
    return reply;
  }
  std::size_t Calls(Routine routine) const { return game->CallsOf(routine).size(); }

  // The game's code and data below the double's own data, as they are now.
  Bytes Image() const {
    const auto* begin = reinterpret_cast<const std::uint8_t*>(std::uintptr_t(game->At(0x401000)));
    Bytes bytes(begin, reinterpret_cast<const std::uint8_t*>(std::uintptr_t(game->At(kImageCompared))));
    // The double writes a thunk for each run there.
    std::memset(bytes.data() + (V() ? kOwnCodeV : kOwnCodeIV) + kRunThunks - 0x401000, 0, kRunThunksBytes);
    return bytes;
  }

  Build B() const { return GetParam(); }
  bool Editor() const { return GetParam() == Build::IVEditor; }
  bool V() const { return GetParam() == Build::VReleasePatched; }
  std::uint32_t At(const gamedouble::Place& place) const { return game->At(place); }

  // Up to the double's own data area (its run thunks and records change with every run).
  static constexpr std::uint32_t kImageCompared = 0xF00000, kOwnCodeIV = 0x498000, kOwnCodeV = 0x4D8000;
  static constexpr std::uint32_t kRunThunks = 0x2800, kRunThunksBytes = 0x1000;
  std::unique_ptr<gamedouble::CGameDouble> game;
};

}  // namespace featuretest
