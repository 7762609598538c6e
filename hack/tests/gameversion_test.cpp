// Build detection from the marker, the build's column of places, and the refusal of unsupported builds.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include <hack/GameVersion.h>
#include <hack/Messages.h>
#include <platform/modules.h>
#include <hack/testing/GameImage.h>
#include <platform/testing/ScriptedDialogs.h>

#include "HackTestSupport.h"

namespace {

using gameimage::CGameImage;

// Detects the build with its console line left out.
std::uint32_t DetectQuietly() {
  ::testing::internal::CaptureStdout();
  const std::uint32_t build = DetectGameVersion();
  ::testing::internal::GetCapturedStdout();
  return build;
}
using platform::testing::ScriptedDialogs;

struct MarkerCase {
  std::uint32_t marker;
  std::uint32_t build;
  const char* line;  // console line, "" for none
};

class HackDetection : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(HackDetection, MarkerGivesBuildAndItsLine) {
  const MarkerCase& c = GetParam();
  CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  image.WriteMarkerValue(c.marker);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DetectGameVersion(), c.build);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line);
  EXPECT_EQ((std::tuple{GameVersion, g_GameImageBase, g_GameImageSize, GameVersionFromMarker(c.marker)}),
            (std::tuple{c.build, image.Base(), image.Size(), c.build}));
  // The image's marker writer agrees for every build.
  EXPECT_EQ(GameVersionFromMarker(CGameImage::MarkerOf(c.build)), c.build);
}

INSTANTIATE_TEST_SUITE_P(
    EveryMarker, HackDetection,
    ::testing::Values(
        MarkerCase{0x24247C89, 2, "BRINDLECORE: Game version detected as IV (Release Patched)\n"},
        MarkerCase{0x1589108B, 3, "BRINDLECORE: Game version detected as IV (Editor)\n"},
        MarkerCase{0x24448B00, 4, "BRINDLECORE: Game version detected as IV (Demo Corvel)\n"},
        MarkerCase{0x1CC48300, 5, "BRINDLECORE: Game version detected as IV (Release)\n"},
        MarkerCase{0x0C8D0051, 6, "BRINDLECORE: Game version detected as IV (Demo)\n"},
        MarkerCase{0x12E82C46, 7, "BRINDLECORE: Game version detected as V (Release Patched)\n"},
        MarkerCase{0x00000000, 0, "BRINDLECORE: Game version detected as II (Release)\n"},
        MarkerCase{0x0146820F, 1, "BRINDLECORE: Game version detected as III (Release)\n"},
        MarkerCase{0xEAE82C46, 8, "BRINDLECORE: Game version detected as V (Release)\n"},
        // Byte order matters: the last is the IV Release Patched value read the other way round.
        MarkerCase{0x12E82C47, 9, ""}, MarkerCase{0xFFFFFFFF, 9, ""}, MarkerCase{0x892424C7, 9, ""},
        MarkerCase{0x897C2424, 9, ""}));

// The marker is the four raw bytes at +0x6B487; the same bytes one byte to either side are nothing.
TEST(HackDetection, OnlyThatOffsetCounts) {
  const std::uint8_t patched[4] = {0x89, 0x7C, 0x24, 0x24};
  for (std::uint32_t offset : {0x6B487u, 0x6B486u, 0x6B488u, 0x6B484u}) {
    SCOPED_TRACE(offset);
    CGameImage image;
    ASSERT_TRUE(image.IsMapped());
    image.Write(image.Base() + offset, patched, 4);
    // II Release is the zero value: make the real marker something else.
    const std::uint8_t spoiler = 0xFF;
    if (offset < 0x6B487) image.Write(image.Base() + 0x6B48A, &spoiler, 1);
    if (offset > 0x6B487) image.Write(image.Base() + 0x6B487, &spoiler, 1);
    EXPECT_EQ(DetectQuietly(), offset == 0x6B487 ? std::uint32_t(GAMEVERSION_IV_RELEASE_PATCHED)
                                                 : std::uint32_t(GAMEVERSION_UNRECOGNISED));
  }
}

// The marker's four bytes must all lie inside the image.
TEST(HackDetection, ImageTooSmallForTheMarkerIsUnrecognised) {
  // Image sizes and the build each gives.
  for (const auto& c :
       {std::pair{0x6B487u, 9u}, {0x6B488u, 9u}, {0x6B48Au, 9u}, {0x6B48Bu, 2u}, {0x6C000u, 2u}, {0x1000u, 9u}}) {
    // Mapped generously: only the registered size may decide.
    CGameImage image(gameimage::kPreferredBase, 0x80000);
    ASSERT_TRUE(image.IsMapped());
    image.WriteBuildMarker(GAMEVERSION_IV_RELEASE_PATCHED);
    platform::RegisterGameImage(reinterpret_cast<void*>(std::uintptr_t(image.Base())), c.first,
                                u"C:\\Games\\Quorvant\\quorvant.exe");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(DetectGameVersion(), c.second) << std::hex << c.first;
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.empty(), c.second == 9) << out;
  }
}

struct ColumnCase {
  std::uint32_t build;
  std::uint32_t column;  // 0 = A ... 3 = D
};

class HackTranslation : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(HackTranslation, RelocatedImagePicksTheBuildsColumn) {
  const ColumnCase& c = GetParam();
  CGameImage image(gameimage::kRelocatedBase);
  ASSERT_TRUE(image.IsMapped());
  image.WriteBuildMarker(c.build);
  DetectQuietly();
  ScriptedDialogs dialogs;
  ASSERT_TRUE(SelectGameBuild());
  EXPECT_EQ(dialogs.DialogCount(), 0u);
  const std::uint32_t columns[4] = {0x48C720, 0x48E9C0, 0x48E830, 0x4D1C00};
  const std::uint32_t delta = gameimage::kRelocatedBase - 0x400000;
  for (std::uint32_t size : {0u, 5u, 9u}) {
    EXPECT_EQ(TranslateGameAddress(size, columns[0], columns[1], columns[2], columns[3]), columns[c.column] + delta);
  }
  // A place the build lacks translates to the load distance alone.
  std::uint32_t lacking[4] = {0x401000, 0x401000, 0x401000, 0x401000};
  lacking[c.column] = 0;
  EXPECT_EQ(TranslateGameAddress(0, lacking[0], lacking[1], lacking[2], lacking[3]), delta);
}

INSTANTIATE_TEST_SUITE_P(Builds, HackTranslation,
                         ::testing::ValuesIn(std::vector<ColumnCase>{
                             {GAMEVERSION_IV_EDITOR, 0}, {GAMEVERSION_IV_RELEASE_PATCHED, 1},
                             {GAMEVERSION_IV_DEMO_CORVEL, 2}, {GAMEVERSION_V_RELEASE_PATCHED, 3}}));

TEST(HackTranslation, BeforeABuildIsSelectedIsFatal) {
  EXPECT_EXIT(
      {
        hacktest::ShowMessagesOnStderr();
        TranslateGameAddress = TranslateBeforeBuildSelected;  // as before start-up selects a build
        TranslateGameAddress(0, 0x401000, 0x401000, 0x401000, 0x401000);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "TranslateGameAddress was called before SelectGameBuild");
}

struct UnsupportedCase {
  std::uint32_t build;
  const char16_t* message;
};

class HackUnsupported : public ::testing::TestWithParam<UnsupportedCase> {};

TEST_P(HackUnsupported, ShowsWhyAndRefuses) {
  const UnsupportedCase& c = GetParam();
  CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  image.WriteBuildMarker(c.build);
  DetectQuietly();
  for (bool closeOnly : {false, true}) {
    SetCloseOnlyMessages(closeOnly);
    ScriptedDialogs dialogs;
    EXPECT_FALSE(SelectGameBuild());
    const auto shown = dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog);
    ASSERT_EQ(shown.size(), 1u);
    // OK alone, or Close alone when the launcher asked for it.
    EXPECT_EQ((std::tuple{shown[0].content, shown[0].mainIcon, shown[0].config.dwCommonButtons}),
              (std::tuple{std::u16string(c.message), std::uintptr_t(0xFFFE),
                          decltype(shown[0].config.dwCommonButtons)(closeOnly ? 32 : 1)}));
  }
  SetCloseOnlyMessages(false);
}

INSTANTIATE_TEST_SUITE_P(
    Builds, HackUnsupported,
    ::testing::Values(
        UnsupportedCase{0, u"Quorvant II: Starring Kelv Dunmar is not currently supported."},
        UnsupportedCase{1, u"Quorvant III: Adventures of Kelv Dunmar is not currently supported."},
        UnsupportedCase{5, u"The unpatched release version of Quorvant: Ossmere is not currently supported."},
        UnsupportedCase{6, u"The Brennic demo of Quorvant: Ossmere is not currently supported."},
        UnsupportedCase{8, u"The unpatched release version of Quorvant: Thalwick is not currently supported."},
        UnsupportedCase{9, u"Unrecognised game version."}));

}  // namespace
