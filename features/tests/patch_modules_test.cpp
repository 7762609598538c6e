// Every feature module with the core on each build: replies, refusals, the bytes the patches write (no two overlap),
// every byte back at unload; and the small modules' patched places (BugFixes' among them) as the game runs them.
#include <bit>
#include <tuple>

#include <base/FileSystem.h>
#include <platform/window.h>

#include "feature_fixture.h"
#include "file_system_test_support.h"

namespace {

using namespace featuretest;

// By module: whether it loads on each build ('+'; IV Editor, IV Release Patched, IV Demo Corvel, V Release Patched),
// and the console line of a refusal (%s the build's name in kGameNames).
const std::tuple<const char16_t*, const char*, const char*> kModules[] = {
    {u"CustomFiles", "++++", ""}, {u"IncreasedLimits", "+---", "INCREASED LIMITS: The %s is not currently supported\n"},
    {u"MultiplePlayerSupport", "++++", ""},
    {u"AspectRatioSupport", "+++-", "ASPECT RATIO SUPPORT: This game version is not currently supported\n"},
    {u"MultipleInstanceSupport", "++++", ""}, {u"BugFixes", "++++", ""},
    {u"NoDrawDistance", "+---", "NO DRAW DISTANCE: Only the editor of Quorvant: Ossmere is currently supported\n"},
    {u"PCMSupport", "-+++", "PCM SUPPORT: The %s already supports PCM\n"},
    {u"ADPCMSupport", "+---", "ADPCM SUPPORT: The %s already supports ADPCM\n"}, {u"OggVorbisSupport", "++++", ""}};
const char* const kGameNames[] = {"editor of Quorvant: Ossmere", "patched release of Quorvant: Ossmere",
                                  "Corvel Demo of Quorvant: Ossmere", "patched release of Quorvant Thalwick"};
constexpr std::size_t kMultipleInstanceSupport = 4;

constexpr gamedouble::Place E(std::uint32_t editor) { return {editor, 0, 0, 0}; }
// Hand-copied. IncreasedLimits on the IV Editor: item count 1024, the item array of 1024 × 5622 bytes, and an
// 8-byte jump in the rel32 form. NoDrawDistance's short jumps there; AspectRatioSupport's jump; the stretches
// MultipleInstanceSupport skips (Game V keeps the removed code's +60 on the stack).
const std::tuple<gamedouble::Place, std::uint32_t, std::uint32_t> kPatchedBytes[] = {  // place, width, value
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
    const auto& [name, loadsOn, refusal] = kModules[i];
    SCOPED_TRACE(text::Utf16ToUtf8(name));
    std::string lines, line = refusal;
    const std::uint32_t reply = Register(name, &records[i], &lines), loads = loadsOn[build] == '+';
    if (const auto at = line.find("%s"); at != std::string::npos) line.replace(at, 2, kGameNames[build]);
    EXPECT_EQ((Words{reply, records[i]->m_hModule != nullptr}),
              (Words{loads ? MODULEREPLY_HANDLED : MODULEREPLY_UNLOADNOW, loads}));
    // A module that loads says nothing; a refusal says its line.
    EXPECT_EQ(lines, loads ? "" : line);
  }
  EXPECT_NE(Image(), before);
  EXPECT_EQ(g_ItemLimit, Editor() ? kIncreasedItemLimit : kGameItemLimit);
  EXPECT_EQ(records[kMultipleInstanceSupport]->m_Hacks.m_Count, V() ? 2u : 4u);
  for (const auto& [place, width, value] : kPatchedBytes) {
    const std::uint32_t at = place.In(B());
    if (at == 0) continue;
    EXPECT_EQ(width == 1 ? game->Read<std::uint8_t>(at) : width == 2 ? game->Read<std::uint16_t>(at)
                                                                     : game->Read<std::uint32_t>(at), value) << at;
  }
  for (std::size_t i = std::size(kModules); i-- > 0;)
    if (records[i]->m_hModule != nullptr) UnloadHackModule(records[i]);
  EXPECT_TRUE(Image() == before);
  EXPECT_EQ(g_ItemLimit, kGameItemLimit);
}

// A module refused on its own (IncreasedLimits on every build but the IV Editor, among others) says its line and
// leaves every game byte, the item limit and its record as they were.
TEST_P(PatchModulesTest, ARefusedModuleAloneChangesNoGameByte) {
  const Bytes before = Image();
  const std::size_t build = std::size_t(B());
  std::size_t refused = 0;
  for (const auto& [name, loadsOn, refusal] : kModules) {
    if (loadsOn[build] == '+') continue;
    SCOPED_TRACE(text::Utf16ToUtf8(name));
    ++refused;
    std::string lines, line = refusal;
    if (const auto at = line.find("%s"); at != std::string::npos) line.replace(at, 2, kGameNames[build]);
    tHackModule* record = nullptr;
    EXPECT_EQ(Register(name, &record, &lines), MODULEREPLY_UNLOADNOW);
    EXPECT_EQ((std::tuple{lines, Image() == before, g_ItemLimit, record->m_hModule, record->m_Hacks.m_Count}),
              (std::tuple{line, true, kGameItemLimit, nullptr, 0u}));
  }
  EXPECT_EQ(refused, Editor() ? 1u : V() ? 4u : 3u);
}

// The game's code at the patched places, before and after: each module's stub or jump as the game runs it. Main's
// single-instance check is gone: a second copy starts, and nothing it did not take is released.
TEST_P(PatchModulesTest, ThePatchedPlacesRunAsTheModulesSay) {
  game->SetScreenSize(800, 450);
  game->SetResult(Routine::InstanceCheck, 1);
  game->SetMainBehaviour(0, 0);
  const std::initializer_list<std::uint32_t> arguments = {At({0x400000, 0x400000, 0x400000, 0x400000}), 0, 0, 1};
  const auto ratio = [&](std::uint32_t bits) { return std::bit_cast<float>(bits); };
  const float wide = 800.0f / 450.0f * 0.75f;
  EXPECT_FLOAT_EQ(V() ? wide : ratio(game->Call(Routine::AspectRatio)), wide);
  const auto checks = [&] {
    Words out{game->Call(Routine::BugFixChecks, {1, 0}), game->Call(Routine::BugFixChecks, {0, 1})};
    if (!Editor()) return out;
    for (std::uint32_t value : {0x1234, 0x1200, 0x0001}) out.push_back(game->Call(Routine::LimitStore, {value}));
    for (Routine check : {Routine::DrawDistanceCheck1, Routine::DrawDistanceCheck2, Routine::DrawDistanceCheck3})
      out.push_back(game->Call(check, {0x7FFFFFFF}));
    return out;
  };
  EXPECT_EQ(checks(), (Editor() ? Words{2, 3, 0x34, 0, 1, 0, 0, 0} : Words{2, 3}));
  EXPECT_EQ(game->Run(Routine::Main, arguments).after.eax, gamedouble::kMainAnotherInstanceCode);
  for (const char16_t* name :
       {u"AspectRatioSupport", u"BugFixes", u"IncreasedLimits", u"NoDrawDistance", u"MultipleInstanceSupport"})
    Register(name);
  if (!V()) {
    // 1.0 on the FPU stack, 18 bytes on: the game stores it as its ratio.
    const gamedouble::RunResult run = game->Run(Routine::AspectRatio);
    EXPECT_EQ(ratio(run.after.eax), 1.0f);
    EXPECT_EQ((Words{run.after.ebx, run.after.esi}), (Words{run.before.ebx, run.before.esi}));
  }
  // IncreasedLimits stores the whole 16-bit value unless AL is 0.
  EXPECT_EQ(checks(), (Editor() ? Words{1, 1, 0x1234, 0, 1, 1, 1, 1} : Words{1, 1}));
  game->ClearCalls();
  const gamedouble::RunResult run = game->Run(Routine::Main, arguments);
  EXPECT_EQ((Words{run.after.eax, std::uint32_t(run.stackDelta), run.after.ebx, run.after.ebp}),
            (Words{gamedouble::kMainExitCode, 16, run.before.ebx, run.before.ebp}));
  EXPECT_EQ(Calls(Routine::InstanceCheck) + Calls(Routine::InstanceRelease), 0u);
}

// BugFixes keeps the window at the framed screen size (minimised or gone: never resized) and lets the game read no
// input while its window is in the background.
TEST_P(PatchModulesTest, BugFixesFramesTheWindowAndReadsNoInputInTheBackground) {
  constexpr gamedouble::Place kWindowGlobal{0x75385C, 0x753984, 0x7539C4, 0xD9AB3C};
  HWND window = CreateWindowExW(0, u"game", u"game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 40, 640, 480, nullptr,
                                nullptr, nullptr, nullptr);
  game->Write<std::uint32_t>(kWindowGlobal, Address(window));
  ASSERT_EQ(Register(u"BugFixes"), 1u);
  const auto process = [&] {  // the console lines of one PROCESS event, and the window's rectangle after it
    const std::string lines =
        Console([] { EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr), MODULEREPLY_HANDLED); });
    RECT rect{};
    GetWindowRect(window, &rect);
    return std::pair(lines, std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom});
  };
  // The overlapped frame: 4 on every side and a caption of 19 (640 + 8, 480 + 19 + 8).
  const std::vector<LONG> framed{30, 40, 30 + 648, 40 + 507};
  EXPECT_EQ(process(), std::pair("BUG FIXES: Window size is incorrect (640x480); correcting (to 648x507)\n"s, framed));
  EXPECT_EQ(process(), std::pair(""s, framed));

  std::uint8_t keys[256], table[256];
  HWND other =
      CreateWindowExW(0, nullptr, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
  for (std::uint32_t i = 0; i < std::size(keys); ++i) keys[i] = std::uint8_t(i | 1);
  game->SetKeyboard(keys);
  game->SetJoypad(true, 0x11, 0x22, 0x33);
  for (bool front : {true, false, true}) {
    SCOPED_TRACE(front ? "in front" : "behind");
    SetForegroundWindow(front ? window : other);
    std::memset(table, 0xCC, sizeof table);
    game->Run(Routine::GetKeyStates, {Address(table)});
    EXPECT_EQ(Bytes(table, std::end(table)), front ? Bytes(keys, std::end(keys)) : Bytes(sizeof table, 0));
    if (V()) continue;  // Game V's joypad routine is replaced whole and raises no event.
    std::uint32_t pads[2] = {0xCC, 0xCC};
    const std::uint32_t result = game->Call(Routine::GetJoypadStates, {Address(&pads[0]), Address(&pads[1])});
    EXPECT_EQ((Words{pads[0], pads[1], result}), (front ? Words{0x11, 0x22, 0x33} : Words(3, 0)));
  }

  MoveWindow(window, 0, 0, 100, 100, TRUE);
  ShowWindow(window, SW_MINIMIZE);
  const auto minimised = process();
  EXPECT_EQ((std::pair(minimised.first, minimised.second[2])), std::pair(""s, LONG(100)));
  ShowWindow(window, SW_RESTORE);
  game->Write<std::uint32_t>(kWindowGlobal, 0);
  EXPECT_EQ(process(), std::pair(""s, std::vector<LONG>{0, 0, 100, 100}));
  DestroyWindow(other);
  DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Builds, PatchModulesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
