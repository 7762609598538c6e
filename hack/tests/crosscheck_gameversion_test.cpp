// Build detection from the marker's raw bytes at its literal offset, and each
// build's column on a relocated image, written out by hand.
#include <gtest/gtest.h>

#include <string>

#include <hack/GameVersion.h>
#include <hack/Messages.h>
#include <hack/testing/GameImage.h>
#include <platform/modules.h>
#include <platform/testing/ScriptedDialogs.h>

namespace {

using gameimage::CGameImage;
using platform::testing::ScriptedDialogs;

struct BuildRow {
  std::uint8_t bytes[4];  // as they lie in the image at +0x6B487
  std::uint32_t build;
  char column;            // 0 for a build that is not supported
  const char16_t* refusal;
};

class HackCrossCheckBuild : public ::testing::TestWithParam<BuildRow> {};

TEST_P(HackCrossCheckBuild, RawMarkerBuildAndColumn) {
  const BuildRow& row = GetParam();
  CGameImage image(gameimage::kRelocatedBase);
  ASSERT_TRUE(image.IsMapped());
  image.Write(image.Base() + 0x6B487, row.bytes, 4);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DetectGameVersion(), row.build);
  ::testing::internal::GetCapturedStdout();
  ScriptedDialogs dialogs;
  TranslateGameAddress = nullptr;
  EXPECT_EQ(SelectGameBuild(), row.column != 0);
  if (row.column == 0) {
    const auto shown = dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].content, row.refusal);
    return;
  }
  EXPECT_TRUE(dialogs.Calls().empty());
  ASSERT_NE(TranslateGameAddress, nullptr);
  // The columns in order: IV Editor, IV Release Patched, IV Demo Corvel, V Release Patched.
  const std::uint32_t up = gameimage::kRelocatedBase - 0x400000;
  const std::uint32_t expected = 0x40A000 + 0x100 * std::uint32_t(row.column - 'A') + up;
  EXPECT_EQ(TranslateGameAddress(0, 0x40A000, 0x40A100, 0x40A200, 0x40A300), expected);
  EXPECT_EQ(TranslateGameAddress(6, 0x40A000, 0x40A100, 0x40A200, 0x40A300), expected);
  const std::uint32_t columnOf[4] = {GAMEVERSION_IV_EDITOR, GAMEVERSION_IV_RELEASE_PATCHED,
                                     GAMEVERSION_IV_DEMO_CORVEL, GAMEVERSION_V_RELEASE_PATCHED};
  EXPECT_EQ(columnOf[row.column - 'A'], row.build);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackCrossCheckBuild,
    ::testing::Values(
        BuildRow{{0x8B, 0x10, 0x89, 0x15}, 3, 'A', nullptr},  // IV Editor
        BuildRow{{0x89, 0x7C, 0x24, 0x24}, 2, 'B', nullptr},  // IV Release Patched
        BuildRow{{0x00, 0x8B, 0x44, 0x24}, 4, 'C', nullptr},  // IV Demo Corvel
        BuildRow{{0x46, 0x2C, 0xE8, 0x12}, 7, 'D', nullptr},  // V Release Patched
        BuildRow{{0x00, 0x00, 0x00, 0x00}, 0, 0, u"Quorvant II: Starring Kelv Dunmar is not currently supported."},
        BuildRow{{0x0F, 0x82, 0x46, 0x01}, 1, 0, u"Quorvant III: Adventures of Kelv Dunmar is not currently supported."},
        BuildRow{{0x00, 0x83, 0xC4, 0x1C}, 5, 0,
                 u"The unpatched release version of Quorvant: Ossmere is not currently supported."},
        BuildRow{{0x51, 0x00, 0x8D, 0x0C}, 6, 0, u"The Brennic demo of Quorvant: Ossmere is not currently supported."},
        BuildRow{{0x46, 0x2C, 0xE8, 0xEA}, 8, 0,
                 u"The unpatched release version of Quorvant: Thalwick is not currently supported."},
        // Byte order matters: the IV Release Patched value read the other way round.
        BuildRow{{0x24, 0x24, 0x7C, 0x89}, 9, 0, u"Unrecognised game version."},
        BuildRow{{0x46, 0x2C, 0xE8, 0x13}, 9, 0, u"Unrecognised game version."}));

// Only bytes +0x6B487 to +0x6B48A are the marker: the same value one byte to
// either side is nothing.
TEST(HackCrossCheckBuildMarker, OnlyThatOffsetCounts) {
  const std::uint8_t patched[4] = {0x89, 0x7C, 0x24, 0x24};
  for (std::uint32_t offset : {0x6B486u, 0x6B488u, 0x6B484u}) {
    CGameImage image;
    ASSERT_TRUE(image.IsMapped());
    image.Write(image.Base() + offset, patched, 4);
    // II Release is the zero value: make the real marker something else.
    if (offset < 0x6B487) {
      const std::uint8_t after = 0xFF;
      image.Write(image.Base() + 0x6B48A, &after, 1);
    } else {
      const std::uint8_t before = 0xFF;
      image.Write(image.Base() + 0x6B487, &before, 1);
    }
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(DetectGameVersion(), std::uint32_t(GAMEVERSION_UNRECOGNISED)) << std::hex << offset;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  }
}

// The smallest image that holds the marker ends with its last byte.
TEST(HackCrossCheckBuildMarker, SmallestImageThatHoldsIt) {
  CGameImage image(gameimage::kPreferredBase, 0x6B48B);
  ASSERT_TRUE(image.IsMapped());
  image.WriteBuildMarker(GAMEVERSION_V_RELEASE_PATCHED);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DetectGameVersion(), std::uint32_t(GAMEVERSION_V_RELEASE_PATCHED));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BRINDLECORE: Game version detected as V (Release Patched)\n");
  EXPECT_EQ(g_GameImageSize, 0x6B48Bu);
  platform::RegisterGameImage(reinterpret_cast<void*>(std::uintptr_t(image.Base())), 0x6B48A,
                              u"C:\\Games\\Quorvant\\quorvant.exe");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DetectGameVersion(), std::uint32_t(GAMEVERSION_UNRECOGNISED));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ScriptedDialogs dialogs;
  EXPECT_FALSE(SelectGameBuild());
  ASSERT_EQ(dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog).size(), 1u);
  EXPECT_EQ(dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog)[0].content, u"Unrecognised game version.");
}

}  // namespace
