#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <hack/Hacks.h>
#include <hack/testing/GameImage.h>
#include <platform/memory.h>

#include "HackTestSupport.h"

namespace {

using namespace hacktest;
using gameimage::CEmitter;
using gameimage::CGameImage;

constexpr std::uint8_t kFill = 0xCC;

class HackTest : public HackRegistryTest {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    ASSERT_TRUE(image.IsMapped()) << "could not map the game image at 0x400000";
    owner = Load(u"First", 0);
    other = Load(u"Second", 1);
  }
  void TearDown() override {
    hack::testing::ResetHackRegistry();  // patches go back while the image is still mapped
    HackRegistryTest::TearDown();
  }
  // Fills n bytes at a place with kFill and returns its runtime address.
  std::uint32_t Prepare(std::uint32_t preferred, std::uint32_t n) {
    const std::uint32_t at = image.At(preferred);
    const Bytes fill(n, kFill);
    image.Write(at, fill.data(), fill.size());
    return at;
  }

  CGameImage image;
  tHackModule* owner = nullptr;
  tHackModule* other = nullptr;
};

// Jumps: (distance, room) -> bytes; the rest of the room keeps its old bytes.
struct JumpCase {
  std::int32_t distance;
  std::uint32_t size;
  Bytes expected;
};

class HackJumpEncoding : public HackTest, public ::testing::WithParamInterface<JumpCase> {};

TEST_P(HackJumpEncoding, WritesOnlyTheJump) {
  const JumpCase& c = GetParam();
  const std::uint32_t at = Prepare(0x401000, 16);
  {
    CHackJumpHack hack(owner, at, at + std::uint32_t(c.distance), c.size);
    Bytes expected = c.expected;
    expected.resize(c.size, kFill);
    EXPECT_EQ(ReadBytes(at, c.size), expected);
    EXPECT_EQ(ReadBytes(at + c.size, 1), Bytes{kFill});
  }
  EXPECT_EQ(ReadBytes(at, 16), Bytes(16, kFill));
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, HackJumpEncoding,
    ::testing::Values(JumpCase{-126, 2, {0xEB, 0x80}}, JumpCase{-127, 5, {0xE9, 0x7C, 0xFF, 0xFF, 0xFF}},
                      JumpCase{-127, 8, {0xE9, 0x7C, 0xFF, 0xFF, 0xFF}}, JumpCase{129, 2, {0xEB, 0x7F}},
                      JumpCase{129, 8, {0xEB, 0x7F}}, JumpCase{130, 5, {0xE9, 0x7D, 0x00, 0x00, 0x00}},
                      JumpCase{0, 2, {0xEB, 0xFE}}, JumpCase{2, 2, {0xEB, 0x00}},
                      JumpCase{0x10000, 5, {0xE9, 0xFB, 0xFF, 0x00, 0x00}}));

TEST_F(HackTest, JumpWithoutRoomIsFatal) {
  const std::uint32_t at = Prepare(0x401000, 8);
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackJumpHack hack(owner, at, at + 130, 4);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write jump\\.");
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        WriteJump(at, at + 10, 1);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write jump\\.");
}

struct AdjustCase {
  std::uint32_t size;
  std::int32_t adjustment;
  Bytes expected;  // the rest of the stretch keeps its old bytes
};

class HackStackAdjustEncoding : public HackTest, public ::testing::WithParamInterface<AdjustCase> {};

TEST_P(HackStackAdjustEncoding, AdjustThenSkipOrFill) {
  const AdjustCase& c = GetParam();
  const std::uint32_t at = Prepare(0x401000, 200);
  {
    CHackNOPHack hack(owner, at, c.size, c.adjustment);
    Bytes expected = c.expected;
    expected.resize(c.size, kFill);
    EXPECT_EQ(ReadBytes(at, c.size), expected);
  }
  EXPECT_EQ(ReadBytes(at, 200), Bytes(200, kFill));
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, HackStackAdjustEncoding,
    ::testing::Values(
        AdjustCase{10, -200, {0x81, 0xEC, 0xC8, 0x00, 0x00, 0x00, 0xEB, 0x02}},
        AdjustCase{2, 0, {0x90, 0x90}}, AdjustCase{1, 0, {0x90}}, AdjustCase{0, 0, {}},
        AdjustCase{3, 0, {0xEB, 0x01}}, AdjustCase{3, 127, {0x83, 0xC4, 0x7F}},
        AdjustCase{3, -127, {0x83, 0xEC, 0x7F}}, AdjustCase{6, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00}},
        AdjustCase{6, -128, {0x81, 0xEC, 0x80, 0x00, 0x00, 0x00}},
        AdjustCase{5, 8, {0x83, 0xC4, 0x08, 0x90, 0x90}}, AdjustCase{8, 8, {0x83, 0xC4, 0x08, 0xEB, 0x03}},
        AdjustCase{129, 0, {0xEB, 0x7F}}, AdjustCase{130, 0, {0xE9, 0x7D, 0x00, 0x00, 0x00}},
        AdjustCase{136, -128, {0x81, 0xEC, 0x80, 0x00, 0x00, 0x00, 0xE9, 0x7D, 0x00, 0x00, 0x00}},
        AdjustCase{7, 0x7FFFFFFF, {0x81, 0xC4, 0xFF, 0xFF, 0xFF, 0x7F, 0x90}},
        AdjustCase{6, std::int32_t(0x80000000), {0x81, 0xEC, 0x00, 0x00, 0x00, 0x80}}));

TEST_F(HackTest, StackAdjustWithoutRoomIsFatal) {
  const std::uint32_t at = Prepare(0x401000, 8);
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackNOPHack hack(owner, at, 2, -4);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write subtract\\.");
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackNOPHack hack(owner, at, 5, 128);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write add\\.");
}

TEST_F(HackTest, CallValueAndValuesEncodings) {
  const std::uint32_t at = Prepare(0x401000, 32);
  {
    CHackCallHack call(owner, at, at + 0x100, 7);
    EXPECT_EQ(ReadBytes(at, 8), (Bytes{0xE8, 0xFB, 0x00, 0x00, 0x00, 0x90, 0x90, kFill}));
  }
  {
    CHackCallHack call(owner, at, at - 0x10, 5);
    EXPECT_EQ(ReadBytes(at, 6), (Bytes{0xE8, 0xEB, 0xFF, 0xFF, 0xFF, kFill}));
  }
  {
    CHackValueHack wide(owner, at, std::uint32_t(0x01020304));
    CHackValueHack narrow(owner, at + 4, std::uint8_t(0x7A));
    EXPECT_EQ(ReadBytes(at, 6), (Bytes{0x04, 0x03, 0x02, 0x01, 0x7A, kFill}));
    EXPECT_EQ(wide.GetSize(), 4u);
    EXPECT_EQ(narrow.GetSize(), 1u);
  }
  EXPECT_EQ(ReadBytes(at, 32), Bytes(32, kFill));
  const std::uint8_t three[] = {1, 2, 3};
  WriteValues(at, 3, three, 3);
  EXPECT_EQ(ReadBytes(at, 4), (Bytes{1, 2, 3, kFill}));
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        WriteValues(at, 2, three, 3);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write values\\.");
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackCallHack call(owner, at, at + 100, 4);
      },
      ::testing::ExitedWithCode(kFatalExitCode), "Not enough space to write call\\.");
}

TEST_F(HackTest, DestructionRestoresBytesAndProtection) {
  const std::uint32_t code = image.At(0x405000);
  const std::uint32_t data = image.Data() + 0x20;
  const std::uint8_t original[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x14, 0x53, 0x56};
  image.Write(code, original, sizeof original);
  image.Write(data, original, sizeof original);
  EXPECT_EQ(ProtectionAt(code), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(ProtectionAt(data), DWORD(PAGE_READWRITE));
  {
    CHackNOPHack a(owner, code, 8, 0);
    CHackJumpHack b(owner, data, data + 0x1000, 8);
    EXPECT_EQ(std::memcmp(a.GetSavedBytes(), original, 8), 0);
    EXPECT_EQ(ProtectionAt(code), DWORD(PAGE_EXECUTE_READ));
    EXPECT_EQ(ProtectionAt(data), DWORD(PAGE_READWRITE));
    EXPECT_EQ(owner->m_Hacks.m_Count, 2u);
  }
  EXPECT_EQ(owner->m_Hacks.m_Count, 0u);
  EXPECT_EQ(ReadBytes(code, 8), Bytes(original, original + 8));
  EXPECT_EQ(ReadBytes(data, 8), Bytes(original, original + 8));
  EXPECT_EQ(ProtectionAt(code), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(ProtectionAt(data), DWORD(PAGE_READWRITE));
}

TEST_F(HackTest, TouchingRangesAreAllowed) {
  const std::uint32_t at = Prepare(0x401000, 32);
  CHackValueHack middle(owner, at + 8, std::uint32_t(1));
  CHackValueHack after(other, at + 12, std::uint32_t(2));
  CHackValueHack before(other, at + 4, std::uint32_t(3));
  CHackNOPHack empty(owner, at + 8, 0, 0);  // nothing at all overlaps nothing
  EXPECT_EQ(image.Read<std::uint32_t>(at + 4), 3u);
  EXPECT_EQ(image.Read<std::uint32_t>(at + 8), 1u);
  EXPECT_EQ(image.Read<std::uint32_t>(at + 12), 2u);
}

struct OverlapCase {
  std::uint32_t firstAt, firstSize, secondAt, secondSize;
};

class HackOverlap : public HackTest, public ::testing::WithParamInterface<OverlapCase> {};

TEST_P(HackOverlap, NamesBothPatchesAndExitsWith2) {
  const OverlapCase& c = GetParam();
  const std::uint32_t first = image.At(c.firstAt);
  const std::uint32_t second = image.At(c.secondAt);
  char pattern[512];
  std::snprintf(pattern, sizeof pattern,
                "The hack being installed at quorvant\\.exe\\+0x%X \\(0x%X\\) by 'Second' intersects with the "
                "hack installed at quorvant\\.exe\\+0x%X \\(0x%X\\) by 'First'\\.",
                second - image.Base(), second, first - image.Base(), first);
  CHackNOPHack kept(owner, first, c.firstSize, 0);
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackNOPHack clash(other, second, c.secondSize, 0);
      },
      ::testing::ExitedWithCode(2), pattern);
}

INSTANTIATE_TEST_SUITE_P(Ranges, HackOverlap,
                         ::testing::Values(OverlapCase{0x401000, 5, 0x401004, 2},   // tail
                                           OverlapCase{0x401004, 4, 0x401000, 5},   // head
                                           OverlapCase{0x401000, 10, 0x401002, 2},  // inside
                                           OverlapCase{0x401002, 2, 0x401000, 10},  // around
                                           OverlapCase{0x401000, 4, 0x401000, 4}));

TEST(HackRelocated, OverlapMessageUsesTheImageOffset) {
  hack::testing::ResetHackRegistry();
  CGameImage image(gameimage::kRelocatedBase);
  ASSERT_TRUE(image.IsMapped());
  tHackModule* first = CreateHackModule(u"a.dll", u"First");
  tHackModule* second = CreateHackModule(u"b.dll", u"Second");
  const std::uint32_t at = image.At(0x4012A0);
  {
    CHackValueHack kept(first, at, std::uint32_t(7));
    EXPECT_EXIT(
        {
          ShowMessagesOnStderr();
          CHackValueHack clash(second, at + 3, std::uint8_t(1));
        },
        ::testing::ExitedWithCode(2),
        "installed at quorvant\\.exe\\+0x12A3 \\(0x14012A3\\) by 'Second' intersects with the hack installed at "
        "quorvant\\.exe\\+0x12A0 \\(0x14012A0\\) by 'First'\\.");
    char16_t text[512];
    FormatCodeAddress(at, text);
    EXPECT_EQ(std::u16string(text), u"quorvant.exe+0x12A0 (0x14012A0)");
  }
  hack::testing::ResetHackRegistry();
}

TEST_F(HackTest, AddressOutsideEveryModuleIsPlainHex) {
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  const auto address = std::uint32_t(reinterpret_cast<std::uintptr_t>(page)) + 0x10;
  char16_t text[512];
  FormatCodeAddress(address, text);
  char expected[32];
  std::snprintf(expected, sizeof expected, "0x%X", address);
  EXPECT_EQ(text::Utf16ToUtf8(text), expected);
  munmap(page, 4096);
}

TEST_F(HackTest, FailedProtectionChangeIsFatalAndNamesTheAddress) {
  void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  munmap(page, 4096);  // nothing is there any more
  const auto address = std::uint32_t(reinterpret_cast<std::uintptr_t>(page)) + 0x24;
  char pattern[128];
  std::snprintf(pattern, sizeof pattern, "Failed to change the memory protection at 0x%X\\.", address);
  const std::uint8_t byte = 0x90;
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        WriteValues(address, 1, &byte, 1);
      },
      ::testing::ExitedWithCode(kFatalExitCode), pattern);
}

// --- Patched code runs -----------------------------------------------------

TEST_F(HackTest, PatchedCallLandsWithRegistersFlagsAndStackIntact) {
  const std::uint32_t capture = image.Data();
  const std::uint32_t espAtPatch = image.Data() + 0x100;
  const std::uint32_t eaxAfter = image.Data() + 0x104;
  const std::uint32_t flagsAfter = image.Data() + 0x108;

  CEmitter probe(image.At(0x410000));
  gameimage::EmitRegisterProbe(probe, capture);
  image.Place(probe);

  CEmitter game(image.At(0x401000));
  game.Push(gameimage::EBX).Push(gameimage::ESI).Push(gameimage::EDI).Push(gameimage::EBP);
  game.MovImm(gameimage::EAX, 0xA1A1A1A1).MovImm(gameimage::ECX, 0xC1C1C1C1).MovImm(gameimage::EDX, 0xD1D1D1D1);
  game.MovImm(gameimage::EBX, 0xB1B1B1B1).MovImm(gameimage::ESI, 0x51515151).MovImm(gameimage::EDI, 0xD2D2D2D2);
  game.MovImm(gameimage::EBP, 0xB0B0B0B0);
  game.Stc();
  game.Store(espAtPatch, gameimage::ESP);
  const std::uint32_t patchAt = game.Here();
  game.MovImm(gameimage::EAX, 0x12345678).Nop(2);  // the 7 bytes the patch replaces
  game.Store(eaxAfter, gameimage::EAX);
  game.Pushfd().Pop(gameimage::EAX).Store(flagsAfter, gameimage::EAX);
  game.Pop(gameimage::EBP).Pop(gameimage::EDI).Pop(gameimage::ESI).Pop(gameimage::EBX).Ret();
  image.Place(game);

  gameimage::CallGame(game.Origin());
  EXPECT_EQ(image.Read<std::uint32_t>(eaxAfter), 0x12345678u);
  EXPECT_EQ(image.Read<gameimage::RegisterCapture>(capture).calls, 0u);

  {
    CHackCallHack hack(owner, patchAt, probe.Origin(), 7);
    gameimage::CallGame(game.Origin());
    const auto seen = image.Read<gameimage::RegisterCapture>(capture);
    EXPECT_EQ(seen.calls, 1u);
    EXPECT_EQ(seen.eax, 0xA1A1A1A1u);
    EXPECT_EQ(seen.ecx, 0xC1C1C1C1u);
    EXPECT_EQ(seen.edx, 0xD1D1D1D1u);
    EXPECT_EQ(seen.ebx, 0xB1B1B1B1u);
    EXPECT_EQ(seen.esi, 0x51515151u);
    EXPECT_EQ(seen.edi, 0xD2D2D2D2u);
    EXPECT_EQ(seen.ebp, 0xB0B0B0B0u);
    EXPECT_EQ(seen.eflags & 1u, 1u);  // the carry set before the call
    EXPECT_EQ(seen.returnAddress, patchAt + 5);
    EXPECT_EQ(seen.esp, image.Read<std::uint32_t>(espAtPatch) - 4);
    // Back from the call, the NOP fill runs into the game's next instruction.
    EXPECT_EQ(image.Read<std::uint32_t>(eaxAfter), 0xA1A1A1A1u);
    EXPECT_EQ(image.Read<std::uint32_t>(flagsAfter) & 1u, 1u);
  }
  gameimage::CallGame(game.Origin());
  EXPECT_EQ(image.Read<std::uint32_t>(eaxAfter), 0x12345678u);
  EXPECT_EQ(image.Read<gameimage::RegisterCapture>(capture).calls, 1u);
}

TEST_F(HackTest, JumpsNearAndFarLandOnTheirTargets) {
  CEmitter routine(image.At(0x401000));
  routine.MovImm(gameimage::EAX, 1).Ret();
  image.Place(routine);
  CEmitter nearTarget(image.At(0x401000) + 128);
  nearTarget.MovImm(gameimage::EAX, 2).Ret();
  image.Place(nearTarget);
  CEmitter farTarget(image.At(0x430000));
  farTarget.MovImm(gameimage::EAX, 3).Ret();
  image.Place(farTarget);

  EXPECT_EQ(gameimage::CallGame(routine.Origin()), 1u);
  {
    CHackJumpHack hack(owner, routine.Origin(), nearTarget.Origin(), 5);
    EXPECT_EQ(image.Read<std::uint8_t>(routine.Origin()), 0xEB);
    EXPECT_EQ(gameimage::CallGame(routine.Origin()), 2u);
  }
  {
    CHackJumpHack hack(owner, routine.Origin(), farTarget.Origin(), 5);
    EXPECT_EQ(image.Read<std::uint8_t>(routine.Origin()), 0xE9);
    EXPECT_EQ(gameimage::CallGame(routine.Origin()), 3u);
  }
  EXPECT_EQ(gameimage::CallGame(routine.Origin()), 1u);
}

TEST_F(HackTest, NopHackSkipsACallAndBalancesItsArguments) {
  CEmitter callee(image.At(0x402000));
  callee.MovImm(gameimage::EAX, 0x99).Ret();
  image.Place(callee);
  CEmitter game(image.At(0x401000));
  game.MovImm(gameimage::EAX, 0x55).PushImm(0x11).PushImm(0x22);
  const std::uint32_t patchAt = game.Here();
  game.Call(callee.Origin()).AddEsp(8).Ret();
  image.Place(game);

  EXPECT_EQ(gameimage::CallGame(game.Origin()), 0x99u);
  {
    CHackNOPHack hack(owner, patchAt, 8, 8);  // the call and its "add esp, 8"
    EXPECT_EQ(gameimage::CallGame(game.Origin()), 0x55u);
  }
  EXPECT_EQ(gameimage::CallGame(game.Origin()), 0x99u);

  // A reservation made by the patch shows in the frame the routine measures.
  CEmitter frame(image.At(0x403000));
  frame.Push(gameimage::EBP).Mov(gameimage::EBP, gameimage::ESP);
  const std::uint32_t reserveAt = frame.Here();
  frame.Nop(10);
  frame.Mov(gameimage::EAX, gameimage::EBP).Raw({0x29, 0xE0});  // sub eax, esp
  frame.Mov(gameimage::ESP, gameimage::EBP).Pop(gameimage::EBP).Ret();
  image.Place(frame);
  EXPECT_EQ(gameimage::CallGame(frame.Origin()), 0u);
  {
    CHackNOPHack hack(owner, reserveAt, 10, -200);
    EXPECT_EQ(gameimage::CallGame(frame.Origin()), 200u);
  }
  {
    CHackNOPHack hack(owner, reserveAt, 10, -24);
    EXPECT_EQ(gameimage::CallGame(frame.Origin()), 24u);
  }
}

TEST_F(HackTest, ValueHacksChangeWhatTheCodeComputes) {
  CEmitter wide(image.At(0x401000));
  wide.MovImm(gameimage::EAX, 640).Ret();
  CEmitter narrow(image.At(0x401100));
  narrow.Raw({0x31, 0xC0}).MovAlImm(47).Ret();  // xor eax, eax; mov al, 47
  image.Place(wide);
  image.Place(narrow);
  {
    CHackValueHack width(owner, wide.Origin() + 1, std::uint32_t(1920));
    CHackValueHack limit(owner, narrow.Origin() + 3, std::uint8_t(200));
    EXPECT_EQ(gameimage::CallGame(wide.Origin()), 1920u);
    EXPECT_EQ(gameimage::CallGame(narrow.Origin()), 200u);
  }
  EXPECT_EQ(gameimage::CallGame(wide.Origin()), 640u);
  EXPECT_EQ(gameimage::CallGame(narrow.Origin()), 47u);
}

// The game keeps its stack 4-byte aligned; an entry it calls directly must not
// assume the 16 bytes that Linux i386 code does.
std::uint32_t g_Arguments[3];
std::uintptr_t g_LocalAddress;

extern "C" __attribute__((force_align_arg_pointer, noinline)) std::uint32_t GameCallsThis(std::uint32_t a,
                                                                                           std::uint32_t b,
                                                                                           std::uint32_t c) {
  alignas(16) volatile float lanes[4] = {float(a), float(b), float(c), 0.0f};
  g_LocalAddress = reinterpret_cast<std::uintptr_t>(&lanes[0]);
  g_Arguments[0] = a;
  g_Arguments[1] = b;
  g_Arguments[2] = c;
  return std::uint32_t(lanes[0] * 100 + lanes[1] * 10 + lanes[2]);
}

TEST_F(HackTest, GameCodeCallsIntoTheProgramFromAnyStackAlignment) {
  const auto target = std::uint32_t(reinterpret_cast<std::uintptr_t>(&GameCallsThis));
  for (std::uint32_t padding = 0; padding < 4; ++padding) {
    CEmitter game(image.At(0x401000 + padding * 0x100));
    for (std::uint32_t i = 0; i < padding; ++i) game.PushImm(0xBADF00D);
    game.PushImm(3).PushImm(2).PushImm(1);
    const std::uint32_t patchAt = game.Here();
    game.Nop(6);
    game.AddEsp(std::int32_t(12 + 4 * padding)).Ret();
    image.Place(game);
    CHackCallHack hack(owner, patchAt, target, 6);
    g_LocalAddress = 1;
    EXPECT_EQ(gameimage::CallGame(game.Origin()), 123u) << padding;
    EXPECT_EQ(g_Arguments[0], 1u);
    EXPECT_EQ(g_Arguments[2], 3u);
    EXPECT_EQ(g_LocalAddress % 16, 0u) << padding;
  }
}

// Writing a patch never takes execution away from its page: another thread
// running code on that page must not fault while patches come and go.
TEST_F(HackTest, CodeOnThePatchedPageKeepsRunning) {
  // The runner spends nearly all its time fetching from the patched page.
  CEmitter busy(image.At(0x406000));
  busy.Nop(0xE00).MovImm(gameimage::EAX, 7).Ret();
  image.Place(busy);
  const std::uint32_t spot = image.At(0x406F00);
  std::atomic<bool> stop{false};
  std::atomic<std::uint32_t> runs{0};
  std::thread runner([&] {
    while (!stop.load()) {
      if (gameimage::CallGame(busy.Origin()) == 7) runs.fetch_add(1);
    }
  });
  while (runs.load() == 0) std::this_thread::yield();
  for (int i = 0; i < 3000; ++i) {
    CHackValueHack hack(owner, spot, std::uint32_t(i));
  }
  stop.store(true);
  runner.join();
  EXPECT_GT(runs.load(), 0u);
  EXPECT_EQ(ProtectionAt(spot), DWORD(PAGE_EXECUTE_READ));
}

TEST_F(HackTest, PatchesOfDifferentThreadsDoNotTearTheProtection) {
  const std::uint32_t base = image.At(0x407000);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        CHackValueHack hack(t % 2 ? owner : other, base + 16 * t, std::uint32_t(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ProtectionAt(base), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(owner->m_Hacks.m_Count + other->m_Hacks.m_Count, 0u);
}

}  // namespace
