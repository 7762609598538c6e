// Every feature module with the core on each build: replies and refusals, the bytes the patches write (no two
// overlap), every byte back at unload; and the small modules' patched places as the game runs them.
#include <base/FileSystem.h>

#include "feature_fixture.h"
#include "file_system_test_support.h"

namespace {

using namespace featuretest;

constexpr std::uint32_t kOk = MODULEREPLY_HANDLED, kRefused = MODULEREPLY_UNLOADNOW;
struct ModuleCase {
  const char16_t* name;
  std::uint32_t replies[4];  // by build: IV Editor, IV Release Patched, IV Demo Corvel, V Release Patched
  const char* refusal;       // the console line of a refusal, %s the build's name in kGameNames
};
const ModuleCase kModules[] = {
    {u"CustomFiles", {kOk, kOk, kOk, kOk}, ""},
    {u"IncreasedLimits", {kOk, kRefused, kRefused, kRefused}, "INCREASED LIMITS: The %s is not currently supported\n"},
    {u"MultiplePlayerSupport", {kOk, kOk, kOk, kOk}, ""},
    {u"AspectRatioSupport", {kOk, kOk, kOk, kRefused},
     "ASPECT RATIO SUPPORT: This game version is not currently supported\n"},
    {u"MultipleInstanceSupport", {kOk, kOk, kOk, kOk}, ""},
    {u"BugFixes", {kOk, kOk, kOk, kOk}, ""},
    {u"NoDrawDistance", {kOk, kRefused, kRefused, kRefused},
     "NO DRAW DISTANCE: Only the editor of Quorvant: Ossmere is currently supported\n"},
    {u"PCMSupport", {kRefused, kOk, kOk, kOk}, "PCM SUPPORT: The %s already supports PCM\n"},
    {u"ADPCMSupport", {kOk, kRefused, kRefused, kRefused}, "ADPCM SUPPORT: The %s already supports ADPCM\n"},
    {u"OggVorbisSupport", {kOk, kOk, kOk, kOk}, ""},
};
const char* const kGameNames[] = {"editor of Quorvant: Ossmere", "patched release of Quorvant: Ossmere",
                                  "Corvel Demo of Quorvant: Ossmere", "patched release of Quorvant Thalwick"};
constexpr std::size_t kMultipleInstanceSupport = 4;

constexpr gamedouble::Place E(std::uint32_t editor) { return {editor, 0, 0, 0}; }
struct ByteCase {
  gamedouble::Place place;
  std::uint32_t width, value;
};
// Hand-copied. IncreasedLimits on the IV Editor: item count 1024, the item array of 1024 × 5622 bytes, and an
// 8-byte jump in the rel32 form. NoDrawDistance's short jumps there; AspectRatioSupport's jump; the stretches
// MultipleInstanceSupport skips (Game V keeps the removed code's +60 on the stack).
const ByteCase kPatchedBytes[] = {
    {E(0x42DD19), 4, 8},        {E(0x4546EC), 4, 113528},   {E(0x454703), 4, 8},       {E(0x4547D2), 1, 8},
    {E(0x4547EC), 1, 8},        {E(0x4548C8), 1, 8},        {E(0x45A04E), 4, 1024},    {E(0x45A074), 4, 1024},
    {E(0x45A0B6), 4, 1024},     {E(0x45A0D9), 4, 1024},     {E(0x45A291), 4, 1024},    {E(0x45A2CD), 4, 1024},
    {E(0x474188), 4, 5756928},  {E(0x47419C), 4, 1024},     {E(0x4746EC), 4, 5000000}, {E(0x48EBB1), 4, 20000000},
    {E(0x48EBC8), 4, 20000000}, {E(0x48EBD7), 4, 20000000}, {E(0x46FBD9), 1, 0},       {E(0x470BC0), 1, 127},
    {E(0x470C48), 1, 127},      {E(0x46F5CF), 1, 0xE9},     {E(0x4702A6), 2, 0x0EEB},  {E(0x470492), 2, 0x0DEB},
    {E(0x4706A8), 2, 0x0DEB},   {{0x48D6DB, 0x48FA4B, 0x48F88B, 0}, 1, 0xE9},
    {{0x48C735, 0x48E9D9, 0x48E849, 0}, 2, 0xEB | (10 - 2) << 8},
    {{0, 0, 0, 0x4D1D37}, 4, 0xEB3CC483},  // add esp, 60; jmp short
    {{0, 0, 0, 0x4D1D3B}, 1, 31 - 5},
};

class PatchModulesTest : public FeatureTest {};

TEST_P(PatchModulesTest, AllTogetherAndBackAgain) {
  fstest::CollectingAppContext context;
  CFileSystem files(&context);
  const Bytes before = Image();
  const std::size_t build = std::size_t(B());
  tHackModule* records[std::size(kModules)] = {};
  for (std::size_t i = 0; i < std::size(kModules); ++i) {
    const ModuleCase& module = kModules[i];
    SCOPED_TRACE(text::Utf16ToUtf8(module.name));
    std::uint32_t reply = 0;
    const std::string lines = Console([&] { reply = Register(module.name, &records[i]); });
    EXPECT_EQ(reply, module.replies[build]);
    EXPECT_EQ(records[i]->m_hModule == nullptr, reply == kRefused);
    if (reply == kRefused) {
      std::string line = module.refusal;
      if (const auto at = line.find("%s"); at != std::string::npos) line.replace(at, 2, kGameNames[build]);
      EXPECT_EQ(lines, line);
    }
  }
  EXPECT_NE(Image(), before);
  EXPECT_EQ(g_ItemLimit, Editor() ? kIncreasedItemLimit : kGameItemLimit);
  EXPECT_EQ(PatchCount(records[kMultipleInstanceSupport]), V() ? 2u : 4u);
  for (const ByteCase& c : kPatchedBytes) {
    const std::uint32_t at = c.place.In(B());
    if (at == 0) continue;
    SCOPED_TRACE(at);
    const std::uint32_t value = c.width == 1   ? Byte(at)
                                : c.width == 2 ? game->Read<std::uint16_t>(at)
                                               : game->Read<std::uint32_t>(at);
    EXPECT_EQ(value, c.value);
  }
  for (std::size_t i = std::size(kModules); i-- > 0;) {
    if (records[i]->m_hModule != nullptr) UnloadHackModule(records[i]);
  }
  EXPECT_TRUE(Image() == before);
  EXPECT_EQ(g_ItemLimit, kGameItemLimit);
}

// The game's code at the patched places, before and after: each module's stub or jump as the game runs it.
TEST_P(PatchModulesTest, ThePatchedPlacesRunAsTheModulesSay) {
  float ratio = 0;
  game->SetScreenSize(800, 450);
  if (!V()) {
    const std::uint32_t bits = game->Call(Routine::AspectRatio);
    std::memcpy(&ratio, &bits, sizeof ratio);
    EXPECT_FLOAT_EQ(ratio, 800.0f / 450.0f * 0.75f);
  }
  EXPECT_EQ(game->Call(Routine::BugFixChecks, {1, 0}), 2u);
  EXPECT_EQ(game->Call(Routine::BugFixChecks, {0, 1}), 3u);
  constexpr std::uint32_t kFar = 0x7FFFFFFF;
  const Routine checks[] = {Routine::DrawDistanceCheck1, Routine::DrawDistanceCheck2, Routine::DrawDistanceCheck3};
  if (Editor()) {
    EXPECT_EQ(game->Call(Routine::LimitStore, {0x1234}), 0x34u);
    for (Routine check : checks) EXPECT_EQ(game->Call(check, {kFar}), 0u);
  }

  for (const char16_t* name : {u"AspectRatioSupport", u"BugFixes", u"IncreasedLimits", u"NoDrawDistance"})
    Quietly(name);
  if (!V()) {
    // 1.0 on the FPU stack, 18 bytes on: the game stores it as its ratio.
    const gamedouble::RunResult run = game->Run(Routine::AspectRatio);
    std::memcpy(&ratio, &run.after.eax, sizeof ratio);
    EXPECT_EQ(ratio, 1.0f);
    EXPECT_EQ(run.after.ebx, run.before.ebx);
    EXPECT_EQ(run.after.esi, run.before.esi);
  }
  EXPECT_EQ(game->Call(Routine::BugFixChecks, {1, 0}), 1u);
  EXPECT_EQ(game->Call(Routine::BugFixChecks, {0, 1}), 1u);
  if (Editor()) {
    // The whole 16-bit value unless AL is 0.
    EXPECT_EQ(game->Call(Routine::LimitStore, {0x1234}), 0x1234u);
    EXPECT_EQ(game->Call(Routine::LimitStore, {0x1200}), 0u);
    EXPECT_EQ(game->Call(Routine::LimitStore, {0x0001}), 1u);
    for (Routine check : checks) EXPECT_EQ(game->Call(check, {kFar}), 1u);
  }
}

// Main's single-instance check is gone: a second copy starts, and nothing it did not take is released.
TEST_P(PatchModulesTest, MainRunsBesideAnotherCopy) {
  game->SetResult(Routine::InstanceCheck, 1);
  game->SetMainBehaviour(0, 0);
  const std::initializer_list<std::uint32_t> arguments = {At({0x400000, 0x400000, 0x400000, 0x400000}), 0, 0, 1};
  EXPECT_EQ(game->Run(Routine::Main, arguments).after.eax, gamedouble::kMainAnotherInstanceCode);
  Quietly(u"MultipleInstanceSupport");
  game->ClearCalls();
  const gamedouble::RunResult run = game->Run(Routine::Main, arguments);
  EXPECT_EQ(run.after.eax, gamedouble::kMainExitCode);
  EXPECT_EQ(run.stackDelta, 16);
  EXPECT_EQ(run.after.ebx, run.before.ebx);
  EXPECT_EQ(run.after.ebp, run.before.ebp);
  EXPECT_TRUE(game->CallsOf(Routine::InstanceCheck).empty());
  EXPECT_TRUE(game->CallsOf(Routine::InstanceRelease).empty());
}

INSTANTIATE_TEST_SUITE_P(Builds, PatchModulesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
