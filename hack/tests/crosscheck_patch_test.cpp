// Patch encodings and restoration checked against bytes written out by hand,
// and patched code run for real at every encoding boundary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <hack/Hacks.h>
#include <hack/testing/GameImage.h>
#include <platform/memory.h>

#include "HackTestSupport.h"

namespace {

using namespace hacktest;
using gameimage::CEmitter;
using gameimage::CGameImage;

constexpr std::uint8_t kTrap = 0xCC;  // int3: running an old byte that should be skipped kills the test

class HackCrossCheckPatch : public HackRegistryTest {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    ASSERT_TRUE(image.IsMapped());
    first = Load(u"First", 0);
    second = Load(u"Second", 1);
    third = Load(u"Third", 2);
  }
  void TearDown() override {
    hack::testing::ResetHackRegistry();
    HackRegistryTest::TearDown();
  }
  void Fill(std::uint32_t at, std::uint32_t n, std::uint8_t value) {
    const Bytes fill(n, value);
    if (n > 0) image.Write(at, fill.data(), fill.size());
  }

  CGameImage image;
  tHackModule* first = nullptr;
  tHackModule* second = nullptr;
  tHackModule* third = nullptr;
};

// --- Jumps: every (distance, room) pair around the short/near boundary -----

struct JumpRow {
  std::int32_t distance;
  std::uint32_t size;
  Bytes bytes;  // what the jump writes; the rest of the room keeps its old bytes
};

class HackCrossCheckJump : public HackCrossCheckPatch, public ::testing::WithParamInterface<JumpRow> {};

TEST_P(HackCrossCheckJump, BytesAndLanding) {
  const JumpRow& row = GetParam();
  // Room for the longest backward and forward distance of the table.
  const std::uint32_t at = image.At(0x402000);
  const std::uint32_t target = at + std::uint32_t(row.distance);
  Fill(at - 0x200, 0x400, kTrap);
  CEmitter landing(target);
  landing.MovImm(gameimage::EAX, 0x600D).Ret();
  image.Place(landing);
  CEmitter before(at);
  before.MovImm(gameimage::EAX, 0xBAD).Ret();
  image.Place(before);  // the original routine, run again after the restore
  {
    CHackJumpHack hack(first, at, target, row.size);
    Bytes expected = row.bytes;
    const Bytes old = hack.GetSavedBytes() ? Bytes(hack.GetSavedBytes(), hack.GetSavedBytes() + row.size) : Bytes{};
    for (std::size_t i = expected.size(); i < row.size; ++i) expected.push_back(old[i]);
    EXPECT_EQ(ReadBytes(at, row.size), expected);
    EXPECT_EQ(gameimage::CallGame(at), 0x600Du);
  }
  EXPECT_EQ(gameimage::CallGame(at), 0xBADu);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackCrossCheckJump,
    ::testing::Values(
        // Short: -126 .. 129 with room for two bytes; EB and d - 2.
        JumpRow{-126, 2, {0xEB, 0x80}}, JumpRow{-126, 5, {0xEB, 0x80}}, JumpRow{-125, 2, {0xEB, 0x81}},
        JumpRow{-7, 2, {0xEB, 0xF7}}, JumpRow{7, 2, {0xEB, 0x05}}, JumpRow{127, 2, {0xEB, 0x7D}},
        JumpRow{128, 2, {0xEB, 0x7E}}, JumpRow{129, 2, {0xEB, 0x7F}}, JumpRow{129, 6, {0xEB, 0x7F}},
        // Near: E9 and d - 5 as 32 bits.
        JumpRow{-127, 5, {0xE9, 0x7C, 0xFF, 0xFF, 0xFF}}, JumpRow{-128, 5, {0xE9, 0x7B, 0xFF, 0xFF, 0xFF}},
        JumpRow{-200, 5, {0xE9, 0x33, 0xFF, 0xFF, 0xFF}}, JumpRow{130, 5, {0xE9, 0x7D, 0x00, 0x00, 0x00}},
        JumpRow{131, 7, {0xE9, 0x7E, 0x00, 0x00, 0x00}}, JumpRow{0x1FF, 5, {0xE9, 0xFA, 0x01, 0x00, 0x00}},
        // Short distances in rooms too small for a near jump.
        JumpRow{60, 3, {0xEB, 0x3A}}, JumpRow{-60, 4, {0xEB, 0xC2}}));

TEST_F(HackCrossCheckPatch, JumpRoomBelowWhatTheDistanceNeedsIsFatal) {
  const std::uint32_t at = image.At(0x402000);
  struct Row {
    std::int32_t distance;
    std::uint32_t size;
  };
  // A short distance in one byte of room; near distances in 2 to 4 bytes.
  for (const Row row : {Row{10, 1}, Row{-126, 1}, Row{130, 4}, Row{-127, 4}, Row{-127, 2}, Row{130, 3}}) {
    EXPECT_EXIT(
        {
          ShowMessagesOnStderr();
          WriteJump(at, at + std::uint32_t(row.distance), row.size);
        },
        ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write jump\\.")
        << row.distance << " in " << row.size;
  }
}

// --- Calls ---------------------------------------------------------------------

struct CallRow {
  std::int32_t distance;
  std::uint32_t size;
  Bytes bytes;  // the whole stretch
};

class HackCrossCheckCall : public HackCrossCheckPatch, public ::testing::WithParamInterface<CallRow> {};

TEST_P(HackCrossCheckCall, CallThenNopsToTheEnd) {
  const CallRow& row = GetParam();
  const std::uint32_t at = image.At(0x402000);
  Fill(at - 0x100, 0x200, kTrap);
  {
    CHackCallHack hack(first, at, at + std::uint32_t(row.distance), row.size);
    EXPECT_EQ(ReadBytes(at, row.size), row.bytes);
    EXPECT_EQ(ReadBytes(at + row.size, 1), Bytes{kTrap});  // nothing past the stretch
  }
  EXPECT_EQ(ReadBytes(at, row.size), Bytes(row.size, kTrap));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackCrossCheckCall,
    ::testing::Values(
        // Always the 5-byte call, even for a distance a short jump would reach.
        CallRow{5, 5, {0xE8, 0x00, 0x00, 0x00, 0x00}}, CallRow{0, 5, {0xE8, 0xFB, 0xFF, 0xFF, 0xFF}},
        CallRow{10, 5, {0xE8, 0x05, 0x00, 0x00, 0x00}}, CallRow{-0x80, 6, {0xE8, 0x7B, 0xFF, 0xFF, 0xFF, 0x90}},
        CallRow{0x90, 9, {0xE8, 0x8B, 0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90}}));

// A call placed backwards and forwards lands on its target and comes back to
// the NOP fill, which runs into the game's next instruction.
TEST_F(HackCrossCheckPatch, CallsRunBothWays) {
  const std::uint32_t place = image.At(0x403000);
  CEmitter back(image.At(0x402F00));
  back.AddImm(gameimage::EAX, 0x10).Ret();
  CEmitter ahead(image.At(0x403100));
  ahead.AddImm(gameimage::EAX, 0x20).Ret();
  image.Place(back);
  image.Place(ahead);
  CEmitter game(place);
  game.MovImm(gameimage::EAX, 1);
  const std::uint32_t patchAt = game.Here();
  game.Raw({kTrap, kTrap, kTrap, kTrap, kTrap, kTrap, kTrap}).AddImm(gameimage::EAX, 0x100).Ret();
  image.Place(game);
  {
    CHackCallHack hack(first, patchAt, back.Origin(), 7);
    EXPECT_EQ(gameimage::CallGame(place), 0x111u);
  }
  {
    CHackCallHack hack(first, patchAt, ahead.Origin(), 7);
    EXPECT_EQ(gameimage::CallGame(place), 0x121u);
  }
}

// --- Stack adjustments -------------------------------------------------------

struct AdjustRow {
  std::uint32_t size;
  std::int32_t adjustment;
  Bytes bytes;  // what is written; the rest of the stretch keeps its old bytes
};

class HackCrossCheckAdjust : public HackCrossCheckPatch, public ::testing::WithParamInterface<AdjustRow> {};

// The stretch sits in a routine that measures how far the stack pointer moved
// across it; its old bytes are int3, so whatever the patch skips must really be
// skipped.
TEST_P(HackCrossCheckAdjust, BytesAndTheStackPointerMove) {
  const AdjustRow& row = GetParam();
  CEmitter frame(image.At(0x404000));
  frame.Push(gameimage::EBP).Mov(gameimage::EBP, gameimage::ESP);
  frame.AddEsp(-0x400);  // room, so that an addition stays inside this frame
  frame.Mov(gameimage::ECX, gameimage::ESP);
  const std::uint32_t at = frame.Here();
  for (std::uint32_t i = 0; i < row.size; ++i) frame.Int3();
  frame.Mov(gameimage::EAX, gameimage::ECX).Raw({0x29, 0xE0});  // eax = before - after
  frame.Mov(gameimage::ESP, gameimage::EBP).Pop(gameimage::EBP).Ret();
  image.Place(frame);
  {
    CHackNOPHack hack(first, at, row.size, row.adjustment);
    Bytes expected = row.bytes;
    expected.resize(row.size, kTrap);
    EXPECT_EQ(ReadBytes(at, row.size), expected);
    EXPECT_EQ(std::int32_t(gameimage::CallGame(frame.Origin())), -row.adjustment);
  }
  EXPECT_EQ(ReadBytes(at, row.size), Bytes(row.size, kTrap));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackCrossCheckAdjust,
    ::testing::Values(
        // 83 /5 (sub) and 83 /0 (add) with one byte up to 127.
        AdjustRow{3, -1, {0x83, 0xEC, 0x01}}, AdjustRow{3, 1, {0x83, 0xC4, 0x01}},
        AdjustRow{3, -127, {0x83, 0xEC, 0x7F}}, AdjustRow{3, 127, {0x83, 0xC4, 0x7F}},
        // 81 with 32 bits from 128 on, both signs.
        AdjustRow{6, -128, {0x81, 0xEC, 0x80, 0x00, 0x00, 0x00}},
        AdjustRow{6, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00}},
        AdjustRow{6, -0x300, {0x81, 0xEC, 0x00, 0x03, 0x00, 0x00}},
        // What is left: NOPs while a jump would be as long, then a jump over it.
        AdjustRow{4, -4, {0x83, 0xEC, 0x04, 0x90}}, AdjustRow{5, 4, {0x83, 0xC4, 0x04, 0x90, 0x90}},
        AdjustRow{6, -4, {0x83, 0xEC, 0x04, 0xEB, 0x01}}, AdjustRow{7, -128, {0x81, 0xEC, 0x80, 0x00, 0x00, 0x00, 0x90}},
        AdjustRow{8, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00, 0x90, 0x90}},
        AdjustRow{9, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00, 0xEB, 0x01}},
        AdjustRow{10, -200, {0x81, 0xEC, 0xC8, 0x00, 0x00, 0x00, 0xEB, 0x02}},
        // Jump over 129 left bytes is short, over 130 near.
        AdjustRow{132, -16, {0x83, 0xEC, 0x10, 0xEB, 0x7F}},
        AdjustRow{133, 16, {0x83, 0xC4, 0x10, 0xE9, 0x7D, 0x00, 0x00, 0x00}},
        // No adjustment: the whole stretch is what is left.
        AdjustRow{0, 0, {}}, AdjustRow{1, 0, {0x90}}, AdjustRow{2, 0, {0x90, 0x90}}, AdjustRow{3, 0, {0xEB, 0x01}},
        AdjustRow{5, 0, {0xEB, 0x03}}, AdjustRow{129, 0, {0xEB, 0x7F}},
        AdjustRow{130, 0, {0xE9, 0x7D, 0x00, 0x00, 0x00}}, AdjustRow{200, 0, {0xE9, 0xC3, 0x00, 0x00, 0x00}}));

TEST_F(HackCrossCheckPatch, AdjustmentRoomIsCheckedBySignAndSize) {
  const std::uint32_t at = image.At(0x404000);
  struct Row {
    std::uint32_t size;
    std::int32_t adjustment;
    const char* message;
  };
  const Row rows[] = {{2, -127, "Not enough space to write subtract\\."},
                      {2, 127, "Not enough space to write add\\."},
                      {5, -128, "Not enough space to write subtract\\."},
                      {5, 128, "Not enough space to write add\\."},
                      {0, -1, "Not enough space to write subtract\\."}};
  for (const Row& row : rows) {
    EXPECT_EXIT(
        {
          ShowMessagesOnStderr();
          WriteStackAdjust(at, row.size, row.adjustment);
        },
        ::testing::ExitedWithCode(kFatalExitCode), row.message)
        << row.size << " " << row.adjustment;
  }
}

// --- Values ------------------------------------------------------------------

TEST_F(HackCrossCheckPatch, ValuesAreLittleEndianAndExactlyTheirWidth) {
  const std::uint32_t at = image.At(0x405000);
  Fill(at, 8, kTrap);
  {
    CHackValueHack wide(first, at + 1, std::uint32_t(0xDEADBEEF));
    CHackValueHack narrow(first, at + 6, std::uint8_t(0x00));
    EXPECT_EQ(ReadBytes(at, 8), (Bytes{kTrap, 0xEF, 0xBE, 0xAD, 0xDE, kTrap, 0x00, kTrap}));
    EXPECT_EQ(wide.GetAddress(), at + 1);
    EXPECT_EQ(narrow.GetAddress(), at + 6);
  }
  EXPECT_EQ(ReadBytes(at, 8), Bytes(8, kTrap));
}

// --- Restoration -------------------------------------------------------------

std::vector<int> g_Destroyed;

class CountedHack : public CHackValueHack {
 public:
  CountedHack(tHackModule* module, std::uint32_t address, int id)
      : CHackValueHack(module, address, std::uint32_t(0x11111111u * std::uint32_t(id))), m_Id(id) {}
  ~CountedHack() override { g_Destroyed.push_back(m_Id); }

 private:
  int m_Id;
};

// Unloading a module destroys its patches from the newest to the oldest; the
// other modules' patches stay.
TEST_F(HackCrossCheckPatch, UnloadDestroysNewestFirstAndOnlyItsOwn) {
  const std::uint32_t at = image.At(0x406000);
  Fill(at, 32, 0xAB);
  g_Destroyed.clear();
  new CountedHack(second, at + 0, 1);
  new CountedHack(second, at + 4, 2);
  new CountedHack(third, at + 8, 9);
  new CountedHack(second, at + 12, 3);
  EXPECT_EQ(UnloadHackModule(second), 1u);
  EXPECT_EQ(g_Destroyed, (std::vector<int>{3, 2, 1}));
  Bytes expected(32, 0xAB);
  for (int i = 8; i < 12; ++i) expected[std::size_t(i)] = 0x99;
  EXPECT_EQ(ReadBytes(at, 32), expected);
  EXPECT_EQ(second->m_Hacks.m_Count, 0u);
  EXPECT_EQ(third->m_Hacks.m_Count, 1u);
  g_Destroyed.clear();
}

// A refused Init takes back every patch it made, code and data alike.
TEST_F(HackCrossCheckPatch, RefusedInitTakesBackEveryPatch) {
  const std::uint32_t code = image.At(0x407000);
  CEmitter routine(code);
  routine.MovImm(gameimage::EAX, 5).Ret();
  image.Place(routine);
  const Bytes before = ReadBytes(code, 16);
  g_Destroyed.clear();
  g_Slots[3] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event != MODULEEVENT_INIT) return 1;
    tHackModule* self = static_cast<ModuleInitData*>(data)->module;
    new CHackValueHack(self, code + 1, std::uint32_t(6));
    new CHackNOPHack(self, code + 6, 3, -4);
    new CountedHack(self, code + 9, 4);
    EXPECT_EQ(gameimage::CallGame(code), 6u);  // patched while Init runs
    return 71;
  };
  ShowMessagesOnStderr();
  tHackModule* refused = Load(u"Refused", 3);
  EXPECT_EQ(refused->m_hModule, nullptr);
  EXPECT_EQ(refused->m_Hacks.m_Count, 0u);
  EXPECT_EQ(g_Destroyed, std::vector<int>{4});
  EXPECT_EQ(ReadBytes(code, 16), before);
  EXPECT_EQ(gameimage::CallGame(code), 5u);
  platform::SetDialogBackend(nullptr);
  g_Destroyed.clear();
}

// A patch that straddles two pages of different protections gives each page
// its own protection back: a data page that came back execute-read would fault
// on the game's next write to it.
TEST_F(HackCrossCheckPatch, PatchAcrossPagesRestoresEachPagesProtection) {
  const std::uint32_t boundary = image.Data();  // code below, data from here
  ASSERT_EQ(boundary % platform::PageSize(), 0u);
  ASSERT_EQ(ProtectionAt(boundary - 1), DWORD(PAGE_EXECUTE_READ));
  ASSERT_EQ(ProtectionAt(boundary), DWORD(PAGE_READWRITE));
  const std::uint32_t at = boundary - 2;
  {
    CHackValueHack hack(first, at, std::uint32_t(0x44332211));
    EXPECT_EQ(ProtectionAt(boundary - 1), DWORD(PAGE_EXECUTE_READ));
    EXPECT_EQ(ProtectionAt(boundary), DWORD(PAGE_READWRITE));
    EXPECT_EQ(image.Read<std::uint32_t>(at), 0x44332211u);
  }
  EXPECT_EQ(ProtectionAt(boundary - 1), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(ProtectionAt(boundary), DWORD(PAGE_READWRITE));
  EXPECT_EQ(image.Read<std::uint32_t>(at), 0u);
  // The data page is still writable by plain stores.
  *reinterpret_cast<volatile std::uint32_t*>(std::uintptr_t(boundary)) = 7;
  EXPECT_EQ(image.Read<std::uint32_t>(boundary), 7u);
}

// The harness's own writes keep each page's protection too (later tests rely
// on the data area staying writable).
TEST_F(HackCrossCheckPatch, ImageWriteAcrossPagesKeepsEachProtection) {
  const std::uint32_t boundary = image.Data();
  const std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  image.Write(boundary - 4, bytes, sizeof bytes);
  EXPECT_EQ(ReadBytes(boundary - 4, 8), Bytes(bytes, bytes + 8));
  EXPECT_EQ(ProtectionAt(boundary - 1), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(ProtectionAt(boundary), DWORD(PAGE_READWRITE));
}

// A routine of the game replaced by a jump into the program: the 32-bit
// displacement spans the whole distance between the image and the program,
// whichever side the program lies on, and the game's caller gets our result.
extern "C" __attribute__((force_align_arg_pointer, noinline)) std::uint32_t CrossCheckReplacement(std::uint32_t a,
                                                                                                  std::uint32_t b) {
  return a * 10 + b;
}

TEST(HackCrossCheckFarJump, GameRoutineReplacedByTheProgramsOwn) {
  for (std::uint32_t base : {gameimage::kPreferredBase, gameimage::kRelocatedBase}) {
    hack::testing::ResetHackRegistry();
    CGameImage image(base);
    ASSERT_TRUE(image.IsMapped());
    tHackModule* module = CreateHackModule(u"r.dll", u"Replacer");
    CEmitter routine(image.At(0x420000));
    routine.MovImm(gameimage::EAX, 1).Ret();
    image.Place(routine);
    CEmitter caller(image.At(0x421000));
    caller.PushImm(4).PushImm(7).Call(routine.Origin()).AddEsp(8).Ret();
    image.Place(caller);
    EXPECT_EQ(gameimage::CallGame(caller.Origin()), 1u);
    const auto target = std::uint32_t(reinterpret_cast<std::uintptr_t>(&CrossCheckReplacement));
    {
      CHackJumpHack hack(module, routine.Origin(), target, 5);
      std::uint8_t bytes[5];
      std::memcpy(bytes, reinterpret_cast<const void*>(std::uintptr_t(routine.Origin())), 5);
      std::uint32_t displacement;
      std::memcpy(&displacement, bytes + 1, 4);
      EXPECT_EQ(bytes[0], 0xE9);
      EXPECT_EQ(displacement, target - routine.Origin() - 5);
      EXPECT_EQ(gameimage::CallGame(caller.Origin()), 74u);
    }
    EXPECT_EQ(gameimage::CallGame(caller.Origin()), 1u);
    hack::testing::ResetHackRegistry();
  }
}

// --- Overlap -----------------------------------------------------------------

std::string OverlapPattern(const CGameImage& image, std::uint32_t newAt, const char* newName, std::uint32_t oldAt,
                           const char* oldName) {
  char pattern[512];
  std::snprintf(pattern, sizeof pattern,
                "The hack being installed at quorvant\\.exe\\+0x%X \\(0x%X\\) by '%s' intersects with the hack "
                "installed at quorvant\\.exe\\+0x%X \\(0x%X\\) by '%s'\\.",
                newAt - image.Base(), newAt, newName, oldAt - image.Base(), oldAt, oldName);
  return pattern;
}

// When the new patch meets several, the message names the first found: modules
// oldest first, and within a module its patches oldest first (not by address).
TEST_F(HackCrossCheckPatch, OverlapNamesTheOldestModulesOldestPatch) {
  const std::uint32_t at = image.At(0x408000);
  CHackValueHack firstsOlder(first, at + 12, std::uint8_t(1));
  CHackValueHack seconds(second, at + 8, std::uint32_t(2));
  CHackValueHack firstsNewer(first, at + 4, std::uint32_t(3));
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackNOPHack clash(third, at, 16, 0);
      },
      ::testing::ExitedWithCode(2), OverlapPattern(image, at, "Third", at + 12, "First"));
  // Second's patch is older than First's newer one, but First is the older module.
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackNOPHack clash(third, at + 6, 4, 0);
      },
      ::testing::ExitedWithCode(2), OverlapPattern(image, at + 6, "Third", at + 4, "First"));
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackValueHack clash(third, at + 11, std::uint8_t(9));
      },
      ::testing::ExitedWithCode(2), OverlapPattern(image, at + 11, "Third", at + 8, "Second"));
}

TEST_F(HackCrossCheckPatch, OverlapWithTheSameModulesOwnPatch) {
  const std::uint32_t at = image.At(0x409000);
  CHackValueHack kept(first, at, std::uint32_t(1));
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackValueHack clash(first, at + 3, std::uint32_t(2));
      },
      ::testing::ExitedWithCode(2), OverlapPattern(image, at + 3, "First", at, "First"));
  // One byte either side touches without overlapping.
  CHackValueHack below(second, at - 4, std::uint32_t(3));
  CHackValueHack above(second, at + 4, std::uint8_t(4));
  EXPECT_EQ(image.Read<std::uint32_t>(at - 4), 3u);
  EXPECT_EQ(image.Read<std::uint32_t>(at), 1u);
  EXPECT_EQ(image.Read<std::uint8_t>(at + 4), 4u);
}

// A restored place can be patched again by anyone.
TEST_F(HackCrossCheckPatch, DestroyedPatchFreesItsPlace) {
  const std::uint32_t at = image.At(0x40A000);
  Fill(at, 8, 0x5A);
  { CHackNOPHack gone(first, at, 8, 0); }
  CHackCallHack again(second, at, at + 0x100, 8);
  EXPECT_EQ(ReadBytes(at, 8), (Bytes{0xE8, 0xFB, 0x00, 0x00, 0x00, 0x90, 0x90, 0x90}));
}

}  // namespace
