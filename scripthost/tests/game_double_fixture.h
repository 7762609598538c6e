#pragma once
// Script-host tests on the game double: one double per build, its renderer present on a screen of a given
// size, a module record of the SquirrelSupport module's and a decoder module that answers LoadImage with PNG
// images, as the core does.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>

struct tHackModule;

namespace doubletest {

// Image data of given pixels (0xAARRGGBB, rows top to bottom).
std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& pixels);

class GameDoubleTest : public ::testing::TestWithParam<gamedouble::Build> {
 protected:
  static constexpr std::uint32_t kScreenWidth = 64;
  static constexpr std::uint32_t kScreenHeight = 48;

  void SetUp() override;
  void TearDown() override;

  bool V() const { return GetParam() == gamedouble::Build::VReleasePatched; }
  // A rectangle of one colour over opaque black, the size of the frame.
  gamedouble::CPicture Filled(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t colour) const;
  void ExpectFrame(const gamedouble::CPicture& expected, const std::string& name, std::uint32_t tolerance = 0);
  void ClearFrame() { game->Frame().Fill(kOpaqueBlack); }

  static constexpr std::uint32_t kOpaqueBlack = 0xFF000000;
  std::unique_ptr<gamedouble::CGameDouble> game;
  tHackModule* module = nullptr;
};

inline std::string BuildName(const ::testing::TestParamInfo<gamedouble::Build>& info) {
  return gamedouble::NameOf(info.param);
}

}  // namespace doubletest
