// IncreasedLimits, AspectRatioSupport, MultipleInstanceSupport and NoDrawDistance: their patches and refusals.
#include <features/ItemLimit.h>

#include "FeatureTestSupport.h"

namespace {

using namespace featuretest;

class PatchModulesTest : public FeatureTest {
 protected:
  void TearDown() override {
    FeatureTest::TearDown();
    g_ItemLimit = kGameItemLimit;
  }
  // Registers the module with the console captured: (reply, lines).
  std::pair<std::uint32_t, std::string> RegisterQuietly(const char16_t* name, tHackModule** record = nullptr) {
    ::testing::internal::CaptureStdout();
    const std::uint32_t reply = Register(name, record);
    return {reply, ::testing::internal::GetCapturedStdout()};
  }
  // A refused module leaves every byte of the game as it was.
  void ExpectRefused(const char16_t* name, const std::string& line) {
    const Bytes before = Image();
    tHackModule* module = nullptr;
    const auto [reply, lines] = RegisterQuietly(name, &module);
    EXPECT_EQ(reply, MODULEREPLY_UNLOADNOW);
    EXPECT_EQ(lines, line);
    EXPECT_EQ(module->m_hModule, nullptr);
    EXPECT_TRUE(Image() == before);
  }
  // Registers, then unloads and checks that every byte is back.
  void ExpectUnloadRestores(tHackModule* module, const Bytes& before) {
    ASSERT_NE(Image(), before);
    UnloadHackModule(module);
    EXPECT_TRUE(Image() == before);
  }
  std::uint8_t Byte(std::uint32_t preferred) const { return game->Read<std::uint8_t>(preferred); }
};

struct ValueCase {
  std::uint32_t place, width, value;
};
// The IV Editor's raised constants, hand-copied: item count 1024 and the item array of 1024 × 5622 bytes.
const ValueCase kEditorValues[] = {
    {0x42DD19, 4, 8},        {0x4546EC, 4, 113528},   {0x454703, 4, 8},       {0x4547D2, 1, 8},
    {0x4547EC, 1, 8},        {0x4548C8, 1, 8},        {0x45A04E, 4, 1024},    {0x45A074, 4, 1024},
    {0x45A0B6, 4, 1024},     {0x45A0D9, 4, 1024},     {0x45A291, 4, 1024},    {0x45A2CD, 4, 1024},
    {0x474188, 4, 5756928},  {0x47419C, 4, 1024},     {0x4746EC, 4, 5000000}, {0x48EBB1, 4, 20000000},
    {0x48EBC8, 4, 20000000}, {0x48EBD7, 4, 20000000}, {0x46FBD9, 1, 0},       {0x470BC0, 1, 127},
    {0x470C48, 1, 127},
};

TEST_P(PatchModulesTest, IncreasedLimitsPatchesTheEditorAndRefusesTheRest) {
  if (!Editor()) {
    const char* const lines[] = {
        "", "INCREASED LIMITS: The patched release of Quorvant: Ossmere is not currently supported\n",
        "INCREASED LIMITS: The Corvel Demo of Quorvant: Ossmere is not currently supported\n",
        "INCREASED LIMITS: The patched release of Quorvant Thalwick is not currently supported\n"};
    ExpectRefused(u"IncreasedLimits", lines[std::size_t(B())]);
    EXPECT_EQ(g_ItemLimit, kGameItemLimit);
    return;
  }
  const Bytes before = Image();
  tHackModule* module = nullptr;
  ASSERT_EQ(RegisterQuietly(u"IncreasedLimits", &module).first, MODULEREPLY_HANDLED);
  EXPECT_EQ(g_ItemLimit, kIncreasedItemLimit);
  for (const ValueCase& c : kEditorValues) {
    SCOPED_TRACE(c.place);
    const std::uint32_t value = c.width == 1 ? Byte(c.place) : game->Read<std::uint32_t>(c.place);
    EXPECT_EQ(value, c.value);
  }
  // An 8-byte jump: the rel32 form, the rest untouched.
  EXPECT_EQ(Byte(0x46F5CF), 0xE9);
  ExpectUnloadRestores(module, before);
  EXPECT_EQ(g_ItemLimit, kGameItemLimit);
}

TEST_P(PatchModulesTest, NoDrawDistanceJumpsOnTheEditorOnly) {
  if (!Editor()) {
    ExpectRefused(u"NoDrawDistance", "NO DRAW DISTANCE: Only the editor of Quorvant: Ossmere is currently supported\n");
    return;
  }
  const Bytes before = Image();
  tHackModule* module = nullptr;
  ASSERT_EQ(RegisterQuietly(u"NoDrawDistance", &module).first, MODULEREPLY_HANDLED);
  const std::uint32_t jumps[][3] = {{0x4702A6, 0xEB, 0x0E}, {0x470492, 0xEB, 0x0D}, {0x4706A8, 0xEB, 0x0D}};
  for (const auto& jump : jumps) {
    EXPECT_EQ(Byte(jump[0]), jump[1]);
    EXPECT_EQ(Byte(jump[0] + 1), jump[2]);
  }
  ExpectUnloadRestores(module, before);
}

TEST_P(PatchModulesTest, AspectRatioSupportRefusesGameV) {
  if (V()) {
    ExpectRefused(u"AspectRatioSupport", "ASPECT RATIO SUPPORT: This game version is not currently supported\n");
    return;
  }
  const Bytes before = Image();
  tHackModule* module = nullptr;
  ASSERT_EQ(RegisterQuietly(u"AspectRatioSupport", &module).first, MODULEREPLY_HANDLED);
  EXPECT_EQ(Byte(gamedouble::Place{0x48D6DB, 0x48FA4B, 0x48F88B, 0}.In(B())), 0xE9);
  ExpectUnloadRestores(module, before);
}

// Game V keeps the removed code's +60 on the stack; the stretches are skipped by a jump.
TEST_P(PatchModulesTest, MultipleInstanceSupportRemovesItsStretches) {
  const Bytes before = Image();
  tHackModule* module = nullptr;
  ASSERT_EQ(RegisterQuietly(u"MultipleInstanceSupport", &module).first, MODULEREPLY_HANDLED);
  EXPECT_EQ(PatchCount(module), V() ? 2u : 4u);
  if (V()) {
    const std::uint8_t adjust[] = {0x83, 0xC4, 60, 0xEB, 31 - 5};
    for (std::uint32_t i = 0; i < std::size(adjust); ++i) EXPECT_EQ(Byte(0x4D1D37 + i), adjust[i]) << i;
  } else {
    const std::uint32_t place = gamedouble::Place{0x48C735, 0x48E9D9, 0x48E849, 0}.In(B());
    EXPECT_EQ(Byte(place), 0xEB);
    EXPECT_EQ(Byte(place + 1), 10 - 2);
  }
  ExpectUnloadRestores(module, before);
}

// The game's code at the patched places, before and after: each module's stub or jump as the game runs it.
TEST_P(PatchModulesTest, ThePatchedPlacesRunAsTheModulesSay) {
  float ratio = 0;
  const auto aspect = [&] {
    const std::uint32_t bits = game->Call(Routine::AspectRatio);
    std::memcpy(&ratio, &bits, sizeof ratio);
    return ratio;
  };
  game->SetScreenSize(800, 450);
  if (!V()) {
    EXPECT_FLOAT_EQ(aspect(), 800.0f / 450.0f * 0.75f);
  }
  EXPECT_EQ(game->Call(Routine::BugFixChecks, {1, 0}), 2u);
  EXPECT_EQ(game->Call(Routine::BugFixChecks, {0, 1}), 3u);
  constexpr std::uint32_t kFar = 0x7FFFFFFF;
  if (Editor()) {
    EXPECT_EQ(game->Call(Routine::LimitStore, {0x1234}), 0x34u);
    for (Routine check : {Routine::DrawDistanceCheck1, Routine::DrawDistanceCheck2, Routine::DrawDistanceCheck3})
      EXPECT_EQ(game->Call(check, {kFar}), 0u);
  }

  for (const char16_t* name : {u"AspectRatioSupport", u"BugFixes", u"IncreasedLimits", u"NoDrawDistance"})
    RegisterQuietly(name);
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
    for (Routine check : {Routine::DrawDistanceCheck1, Routine::DrawDistanceCheck2, Routine::DrawDistanceCheck3})
      EXPECT_EQ(game->Call(check, {kFar}), 1u);
  }
}

// Main's single-instance check is gone: a second copy starts, and nothing it did not take is released.
TEST_P(PatchModulesTest, MainRunsBesideAnotherCopy) {
  game->SetResult(Routine::InstanceCheck, 1);
  game->SetMainBehaviour(0, 0);
  const std::initializer_list<std::uint32_t> arguments = {At({0x400000, 0x400000, 0x400000, 0x400000}), 0, 0, 1};
  EXPECT_EQ(game->Run(Routine::Main, arguments).after.eax, gamedouble::kMainAnotherInstanceCode);
  RegisterQuietly(u"MultipleInstanceSupport");
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
