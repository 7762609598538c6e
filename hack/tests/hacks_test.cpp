// Patches: every encoding boundary checked byte by byte and run for real, restoration of bytes and page
// protections, overlap naming, and patches made while code runs on the page.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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

class HackTest : public HackRegistryTest {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    ASSERT_TRUE(image.IsMapped()) << "could not map the game image at 0x400000";
    first = Load(u"First", 0);
    second = Load(u"Second", 1);
    third = Load(u"Third", 2);
  }
  void TearDown() override {
    hack::testing::ResetHackRegistry();  // patches go back while the image is still mapped
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

struct JumpRow {
  std::int32_t distance;
  std::uint32_t size;
  Bytes bytes;  // what the jump writes; the rest of the room keeps its old bytes
};

class HackJumps : public HackTest, public ::testing::WithParamInterface<JumpRow> {};

TEST_P(HackJumps, BytesAndLanding) {
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
    Table, HackJumps,
    ::testing::ValuesIn(std::vector<JumpRow>{
        // Short: -126 .. 129 with room for two bytes; EB and d - 2.
        {-126, 2, {0xEB, 0x80}}, {-126, 5, {0xEB, 0x80}}, {-125, 2, {0xEB, 0x81}}, {-7, 2, {0xEB, 0xF7}},
        {7, 2, {0xEB, 0x05}}, {127, 2, {0xEB, 0x7D}}, {128, 2, {0xEB, 0x7E}}, {129, 2, {0xEB, 0x7F}},
        {129, 6, {0xEB, 0x7F}},
        // Near: E9 and d - 5 as 32 bits.
        {-127, 5, {0xE9, 0x7C, 0xFF, 0xFF, 0xFF}}, {-128, 5, {0xE9, 0x7B, 0xFF, 0xFF, 0xFF}},
        {-200, 5, {0xE9, 0x33, 0xFF, 0xFF, 0xFF}}, {130, 5, {0xE9, 0x7D, 0x00, 0x00, 0x00}},
        {131, 7, {0xE9, 0x7E, 0x00, 0x00, 0x00}}, {0x1FF, 5, {0xE9, 0xFA, 0x01, 0x00, 0x00}},
        // Short distances in rooms too small for a near jump.
        {60, 3, {0xEB, 0x3A}}, {-60, 4, {0xEB, 0xC2}}, {-127, 8, {0xE9, 0x7C, 0xFF, 0xFF, 0xFF}},
        {0x10000, 5, {0xE9, 0xFB, 0xFF, 0x00, 0x00}}}));

// Too little room for what a writer has to write is fatal, with the writer's own text.
TEST_F(HackTest, TooLittleRoomIsFatal) {
  const std::uint32_t at = image.At(0x402000);
  const std::uint8_t three[] = {1, 2, 3};
  struct Row {
    const char* what;
    std::function<void()> write;
    const char* message;
  };
  const auto jump = [at](std::int32_t d, std::uint32_t n) { return [=] { WriteJump(at, at + std::uint32_t(d), n); }; };
  const auto adjust = [at](std::uint32_t size, std::int32_t by) { return [=] { WriteStackAdjust(at, size, by); }; };
  const char* const noJump = "Not enough space to write jump\\.";
  const char* const noSub = "Not enough space to write subtract\\.";
  const char* const noAdd = "Not enough space to write add\\.";
  const Row rows[] = {
      // A short distance in one byte of room; near distances in 2 to 4 bytes.
      {"short 1", jump(10, 1), noJump}, {"short back 1", jump(-126, 1), noJump}, {"near 4", jump(130, 4), noJump},
      {"near back 4", jump(-127, 4), noJump}, {"near back 2", jump(-127, 2), noJump}, {"near 3", jump(130, 3), noJump},
      {"sub8 in 2", adjust(2, -127), noSub}, {"add8 in 2", adjust(2, 127), noAdd}, {"sub32 5", adjust(5, -128), noSub},
      {"add32 in 5", adjust(5, 128), noAdd}, {"sub in 0", adjust(0, -1), noSub},
      {"values", [&] { WriteValues(at, 2, three, 3); }, "Not enough space to write values\\."},
      {"call", [&] { CHackCallHack call(first, at, at + 100, 4); }, "Not enough space to write call\\."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EXIT(
        {
          ShowMessagesOnStderr();
          row.write();
        },
        ::testing::ExitedWithCode(kFatalExitCode), row.message);
  }
}

struct CallRow {
  std::int32_t distance;
  std::uint32_t size;
  Bytes bytes;  // the whole stretch
};

class HackCalls : public HackTest, public ::testing::WithParamInterface<CallRow> {};

TEST_P(HackCalls, CallThenNopsToTheEnd) {
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
    Table, HackCalls,
    ::testing::Values(
        // Always the 5-byte call, even for a distance a short jump would reach.
        CallRow{5, 5, {0xE8, 0x00, 0x00, 0x00, 0x00}}, CallRow{0, 5, {0xE8, 0xFB, 0xFF, 0xFF, 0xFF}},
        CallRow{10, 5, {0xE8, 0x05, 0x00, 0x00, 0x00}}, CallRow{-0x80, 6, {0xE8, 0x7B, 0xFF, 0xFF, 0xFF, 0x90}},
        CallRow{0x90, 9, {0xE8, 0x8B, 0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90}}));

struct AdjustRow {
  std::uint32_t size;
  std::int32_t adjustment;
  Bytes bytes;  // what is written; the rest of the stretch keeps its old bytes
};

class HackStackAdjusts : public HackTest, public ::testing::WithParamInterface<AdjustRow> {};

// The stretch sits in a routine that measures how far the stack pointer moved
// across it; its old bytes are int3, so whatever the patch skips must really be
// skipped.
TEST_P(HackStackAdjusts, BytesAndTheStackPointerMove) {
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
    Table, HackStackAdjusts,
    ::testing::ValuesIn(std::vector<AdjustRow>{
        // 83 /5 (sub) and 83 /0 (add) with one byte up to 127; 81 with 32 bits from 128 on, both signs.
        {3, -1, {0x83, 0xEC, 0x01}}, {3, 1, {0x83, 0xC4, 0x01}}, {3, -127, {0x83, 0xEC, 0x7F}},
        {3, 127, {0x83, 0xC4, 0x7F}}, {6, -128, {0x81, 0xEC, 0x80, 0x00, 0x00, 0x00}},
        {6, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00}}, {6, -0x300, {0x81, 0xEC, 0x00, 0x03, 0x00, 0x00}},
        // What is left: NOPs while a jump would be as long, then a jump over it.
        {4, -4, {0x83, 0xEC, 0x04, 0x90}}, {5, 4, {0x83, 0xC4, 0x04, 0x90, 0x90}},
        {6, -4, {0x83, 0xEC, 0x04, 0xEB, 0x01}}, {7, -128, {0x81, 0xEC, 0x80, 0x00, 0x00, 0x00, 0x90}},
        {8, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00, 0x90, 0x90}},
        {9, 128, {0x81, 0xC4, 0x80, 0x00, 0x00, 0x00, 0xEB, 0x01}},
        {10, -200, {0x81, 0xEC, 0xC8, 0x00, 0x00, 0x00, 0xEB, 0x02}},
        // Jump over 129 left bytes is short, over 130 near.
        {132, -16, {0x83, 0xEC, 0x10, 0xEB, 0x7F}}, {133, 16, {0x83, 0xC4, 0x10, 0xE9, 0x7D, 0x00, 0x00, 0x00}},
        // No adjustment: the whole stretch is what is left.
        {0, 0, {}}, {1, 0, {0x90}}, {2, 0, {0x90, 0x90}}, {3, 0, {0xEB, 0x01}}, {5, 0, {0xEB, 0x03}},
        {129, 0, {0xEB, 0x7F}}, {130, 0, {0xE9, 0x7D, 0x00, 0x00, 0x00}}, {200, 0, {0xE9, 0xC3, 0x00, 0x00, 0x00}}}));

// Magnitudes no frame can move by: only the bytes. INT32_MIN keeps its meaning as a subtraction.
TEST_F(HackTest, ExtremeAdjustmentsEncodeTheirMagnitude) {
  const std::uint32_t at = image.At(0x404000);
  Fill(at, 8, kTrap);
  WriteStackAdjust(at, 7, 0x7FFFFFFF);
  EXPECT_EQ(ReadBytes(at, 7), (Bytes{0x81, 0xC4, 0xFF, 0xFF, 0xFF, 0x7F, 0x90}));
  WriteStackAdjust(at, 6, std::int32_t(0x80000000));
  EXPECT_EQ(ReadBytes(at, 7), (Bytes{0x81, 0xEC, 0x00, 0x00, 0x00, 0x80, 0x90}));
}

TEST_F(HackTest, ValuesAreLittleEndianAndExactlyTheirWidth) {
  const std::uint32_t at = image.At(0x405000);
  Fill(at, 20, kTrap);
  {
    CHackValueHack wide(first, at + 1, std::uint32_t(0xDEADBEEF));
    CHackValueHack narrow(first, at + 6, std::uint8_t(0x00));
    CHackValueHack quad(first, at + 9, std::uint64_t(0x0807060504030201ull));
    EXPECT_EQ(ReadBytes(at, 18), (Bytes{kTrap, 0xEF, 0xBE, 0xAD, 0xDE, kTrap, 0x00, kTrap, kTrap, 1, 2, 3, 4, 5, 6, 7,
                                        8, kTrap}));
    EXPECT_EQ((std::tuple{wide.GetAddress(), narrow.GetAddress(), wide.GetSize(), narrow.GetSize(), quad.GetSize()}),
              (std::tuple{at + 1, at + 6, 4u, 1u, 8u}));
  }
  EXPECT_EQ(ReadBytes(at, 20), Bytes(20, kTrap));
}

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
TEST_F(HackTest, UnloadDestroysNewestFirstAndOnlyItsOwn) {
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
  EXPECT_EQ((std::tuple{second->m_Hacks.m_Count, third->m_Hacks.m_Count}), (std::tuple{0u, 1u}));
  g_Destroyed.clear();
}

// A refused Init takes back every patch it made, code and data alike.
TEST_F(HackTest, RefusedInitTakesBackEveryPatch) {
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
  EXPECT_EQ((std::tuple{refused->m_hModule, refused->m_Hacks.m_Count, g_Destroyed}),
            (std::tuple{nullptr, 0u, std::vector<int>{4}}));
  EXPECT_EQ((std::tuple{ReadBytes(code, 16), gameimage::CallGame(code)}), (std::tuple{before, 5u}));
  platform::SetDialogBackend(nullptr);
  g_Destroyed.clear();
}

// The protections of a code place and a data place, for comparing with what they should be.
std::pair<DWORD, DWORD> Protections(std::uint32_t code, std::uint32_t data) {
  return {ProtectionAt(code), ProtectionAt(data)};
}
const std::pair<DWORD, DWORD> kCodeAndData{PAGE_EXECUTE_READ, PAGE_READWRITE};

// A patch that straddles two pages of different protections gives each page
// its own protection back: a data page that came back execute-read would fault
// on the game's next write to it.
TEST_F(HackTest, PatchAcrossPagesRestoresEachPagesProtection) {
  const std::uint32_t boundary = image.Data();  // code below, data from here
  ASSERT_EQ(boundary % platform::PageSize(), 0u);
  ASSERT_EQ(Protections(boundary - 1, boundary), kCodeAndData);
  const std::uint32_t at = boundary - 2;
  {
    CHackValueHack hack(first, at, std::uint32_t(0x44332211));
    EXPECT_EQ(Protections(boundary - 1, boundary), kCodeAndData);
    EXPECT_EQ(image.Read<std::uint32_t>(at), 0x44332211u);
  }
  EXPECT_EQ(Protections(boundary - 1, boundary), kCodeAndData);
  EXPECT_EQ(image.Read<std::uint32_t>(at), 0u);
  // The data page is still writable by plain stores.
  *reinterpret_cast<volatile std::uint32_t*>(std::uintptr_t(boundary)) = 7;
  EXPECT_EQ(image.Read<std::uint32_t>(boundary), 7u);

  // The harness's own writes keep each page's protection too (later tests rely on the data area staying
  // writable).
  const std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  image.Write(boundary - 4, bytes, sizeof bytes);
  EXPECT_EQ(ReadBytes(boundary - 4, 8), Bytes(bytes, bytes + 8));
  EXPECT_EQ(Protections(boundary - 1, boundary), kCodeAndData);
}

// A routine of the game replaced by a jump into the program: the 32-bit
// displacement spans the whole distance between the image and the program,
// whichever side the program lies on, and the game's caller gets our result.
extern "C" __attribute__((force_align_arg_pointer, noinline)) std::uint32_t CrossCheckReplacement(std::uint32_t a,
                                                                                                  std::uint32_t b) {
  return a * 10 + b;
}

TEST(HackFarJump, GameRoutineReplacedByTheProgramsOwn) {
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
      const std::uint32_t at = routine.Origin();
      EXPECT_EQ((std::tuple{image.Read<std::uint8_t>(at), image.Read<std::uint32_t>(at + 1)}),
                (std::tuple{std::uint8_t(0xE9), target - at - 5}));
      EXPECT_EQ(gameimage::CallGame(caller.Origin()), 74u);
    }
    EXPECT_EQ(gameimage::CallGame(caller.Origin()), 1u);
    hack::testing::ResetHackRegistry();
  }
}

TEST_F(HackTest, DestructionRestoresBytesAndProtection) {
  const std::uint32_t code = image.At(0x405000);
  const std::uint32_t data = image.Data() + 0x20;
  const std::uint8_t original[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x14, 0x53, 0x56};
  image.Write(code, original, sizeof original);
  image.Write(data, original, sizeof original);
  EXPECT_EQ(Protections(code, data), kCodeAndData);
  {
    CHackNOPHack a(first, code, 8, 0);
    CHackJumpHack b(first, data, data + 0x1000, 8);
    EXPECT_EQ(std::memcmp(a.GetSavedBytes(), original, 8), 0);
    EXPECT_EQ(Protections(code, data), kCodeAndData);
    EXPECT_EQ(first->m_Hacks.m_Count, 2u);
  }
  const Bytes kept(original, original + 8);
  EXPECT_EQ((std::tuple{first->m_Hacks.m_Count, ReadBytes(code, 8), ReadBytes(data, 8)}), (std::tuple{0u, kept, kept}));
  EXPECT_EQ(Protections(code, data), kCodeAndData);
}

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
TEST_F(HackTest, OverlapNamesTheOldestModulesOldestPatch) {
  const std::uint32_t at = image.At(0x408000);
  CHackValueHack firstsOlder(first, at + 12, std::uint8_t(1));
  CHackValueHack seconds(second, at + 8, std::uint32_t(2));
  CHackValueHack firstsNewer(first, at + 4, std::uint32_t(3));
  // Second's patch is older than First's newer one, but First is the older module.
  const struct {
    std::uint32_t offset, size, namedOffset;
    const char* named;
  } clashes[] = {{0, 16, 12, "First"}, {6, 4, 4, "First"}, {11, 1, 8, "Second"}};
  for (const auto& c : clashes) {
    EXPECT_EXIT(
        {
          ShowMessagesOnStderr();
          CHackNOPHack clash(third, at + c.offset, c.size, 0);
        },
        ::testing::ExitedWithCode(2), OverlapPattern(image, at + c.offset, "Third", at + c.namedOffset, c.named));
  }
}

TEST_F(HackTest, AdjacentPatchesDoNotOverlap) {
  const std::uint32_t at = image.At(0x409000);
  CHackValueHack kept(first, at, std::uint32_t(1));
  // One byte either side touches without overlapping; nothing at all overlaps nothing.
  CHackValueHack below(second, at - 4, std::uint32_t(3));
  CHackValueHack above(second, at + 4, std::uint8_t(4));
  CHackNOPHack empty(third, at, 0, 0);
  EXPECT_EQ((std::tuple{image.Read<std::uint32_t>(at - 4), image.Read<std::uint32_t>(at),
                        image.Read<std::uint8_t>(at + 4)}),
            (std::tuple{3u, 1u, std::uint8_t(4)}));
}

struct OverlapCase {
  std::uint32_t firstAt, firstSize, secondAt, secondSize;
  bool sameModule = false;  // the clash comes from the module that holds the kept patch
};

class HackOverlap : public HackTest, public ::testing::WithParamInterface<OverlapCase> {};

TEST_P(HackOverlap, NamesBothPatchesAndExitsWith2) {
  const OverlapCase& c = GetParam();
  const std::uint32_t kept = image.At(c.firstAt);
  const std::uint32_t clashing = image.At(c.secondAt);
  CHackNOPHack keep(first, kept, c.firstSize, 0);
  EXPECT_EXIT(
      {
        ShowMessagesOnStderr();
        CHackNOPHack clash(c.sameModule ? first : second, clashing, c.secondSize, 0);
      },
      ::testing::ExitedWithCode(2), OverlapPattern(image, clashing, c.sameModule ? "First" : "Second", kept, "First"));
}

// Tail, head, inside, around, the same, and a tail of the module's own patch.
INSTANTIATE_TEST_SUITE_P(Ranges, HackOverlap,
                         ::testing::ValuesIn(std::vector<OverlapCase>{
                             {0x401000, 5, 0x401004, 2}, {0x401004, 4, 0x401000, 5}, {0x401000, 10, 0x401002, 2},
                             {0x401002, 2, 0x401000, 10}, {0x401000, 4, 0x401000, 4},
                             {0x401000, 4, 0x401003, 4, true}}));

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
  // An address outside every module is plain hex.
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
  // The null page, below the lowest address the kernel maps: nothing is ever there, whatever else the process maps
  // meanwhile (an unmapped page of our own was taken again under load).
  const std::uint32_t address = 0x24;
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

// A restored place can be patched again by anyone.
TEST_F(HackTest, DestroyedPatchFreesItsPlace) {
  const std::uint32_t at = image.At(0x40A000);
  Fill(at, 8, 0x5A);
  { CHackNOPHack gone(first, at, 8, 0); }
  CHackCallHack again(second, at, at + 0x100, 8);
  EXPECT_EQ(ReadBytes(at, 8), (Bytes{0xE8, 0xFB, 0x00, 0x00, 0x00, 0x90, 0x90, 0x90}));
}

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
  EXPECT_EQ((std::tuple{image.Read<std::uint32_t>(eaxAfter), image.Read<gameimage::RegisterCapture>(capture).calls}),
            (std::tuple{0x12345678u, 0u}));

  {
    CHackCallHack hack(first, patchAt, probe.Origin(), 7);
    gameimage::CallGame(game.Origin());
    const auto seen = image.Read<gameimage::RegisterCapture>(capture);
    EXPECT_EQ((std::tuple{seen.calls, seen.eax, seen.ecx, seen.edx, seen.ebx, seen.esi, seen.edi, seen.ebp}),
              (std::tuple{1u, 0xA1A1A1A1u, 0xC1C1C1C1u, 0xD1D1D1D1u, 0xB1B1B1B1u, 0x51515151u, 0xD2D2D2D2u,
                          0xB0B0B0B0u}));
    // The carry set before the call; back from the call, the NOP fill runs into the game's next instruction.
    EXPECT_EQ((std::tuple{seen.eflags & 1u, seen.returnAddress, seen.esp, image.Read<std::uint32_t>(eaxAfter),
                          image.Read<std::uint32_t>(flagsAfter) & 1u}),
              (std::tuple{1u, patchAt + 5, image.Read<std::uint32_t>(espAtPatch) - 4, 0xA1A1A1A1u, 1u}));
  }
  gameimage::CallGame(game.Origin());
  EXPECT_EQ((std::tuple{image.Read<std::uint32_t>(eaxAfter), image.Read<gameimage::RegisterCapture>(capture).calls}),
            (std::tuple{0x12345678u, 1u}));
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
    CHackCallHack hack(first, patchAt, target, 6);
    g_LocalAddress = 1;
    EXPECT_EQ((std::tuple{gameimage::CallGame(game.Origin()), g_Arguments[0], g_Arguments[2], g_LocalAddress % 16}),
              (std::tuple{123u, 1u, 3u, 0u}))
        << padding;
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
    CHackValueHack hack(first, spot, std::uint32_t(i));
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
        CHackValueHack hack(t % 2 ? first : second, base + 16 * t, std::uint32_t(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ProtectionAt(base), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(first->m_Hacks.m_Count + second->m_Hacks.m_Count, 0u);
}

}  // namespace
