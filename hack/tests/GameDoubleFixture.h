#pragma once
// A test per build (and base) on the game double, with the core's record
// registered on test slot 0 and the build selected for translation.
#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>

#include <memory>
#include <string>

#include "HackTestSupport.h"

namespace hacktest {

struct DoubleCase {
  gamedouble::Build build;
  std::uint32_t base;
};

inline std::string DoubleCaseName(const ::testing::TestParamInfo<DoubleCase>& info) {
  return std::string(gamedouble::NameOf(info.param.build)) +
         (info.param.base == gameimage::kPreferredBase ? "" : "Relocated");
}

// Each build at the preferred base and at a relocated one.
inline std::vector<DoubleCase> AllBuilds() {
  std::vector<DoubleCase> cases;
  for (auto build : gamedouble::kBuilds) {
    cases.insert(cases.end(), {{build, gameimage::kPreferredBase}, {build, gameimage::kRelocatedBase}});
  }
  return cases;
}

inline std::uint32_t Address(const void* p) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(p)); }

class GameDoubleTest : public HackRegistryTest, public ::testing::WithParamInterface<DoubleCase> {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    game = std::make_unique<gamedouble::CGameDouble>(GetParam().build, GetParam().base);
    ASSERT_TRUE(game->IsReady());
    DetectGameVersion();
    ASSERT_TRUE(SelectGameBuild());
    core = Load(u"core", 0);
  }
  // Patches go back while the image is still mapped.
  void TearDown() override {
    hack::testing::ResetHackRegistry();
    game.reset();
    HackRegistryTest::TearDown();
  }
  bool V() const { return GetParam().build == gamedouble::Build::VReleasePatched; }
  bool Editor() const { return GetParam().build == gamedouble::Build::IVEditor; }
  std::uint32_t Column(const gamedouble::Place& place) const { return place.In(GetParam().build); }

  std::unique_ptr<gamedouble::CGameDouble> game;
  tHackModule* core = nullptr;
};

}  // namespace hacktest
