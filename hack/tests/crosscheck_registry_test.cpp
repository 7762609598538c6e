// The event bus, registration and options checked against reply combinations,
// texts and hash values worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <hack/BuiltInModules.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/testing/GameImage.h>
#include <platform/testing/ScriptedDialogs.h>

#include "HackTestSupport.h"

namespace {

using namespace hacktest;
using platform::testing::ScriptedDialogs;

constexpr std::uint32_t kEvent = MODULEEVENT_RENDER2D;

// Replies by module (oldest first) to the first raise; every later raise gets 1
// from everyone. `asked` and `askedAgain` list module indices in asking order.
struct BusRow {
  const char* name;
  std::vector<std::uint32_t> replies;
  std::uint32_t result;
  std::vector<int> asked;
  std::vector<int> askedAgain;
  std::vector<int> unloaded;  // indices whose Unload ran, in order
};

class HackCrossCheckBus : public HackRegistryTest, public ::testing::WithParamInterface<BusRow> {};

TEST_P(HackCrossCheckBus, Walk) {
  const BusRow& row = GetParam();
  std::vector<int> asked;
  std::vector<int> unloaded;
  bool again = false;
  std::vector<tHackModule*> modules;
  for (int i = 0; i < int(row.replies.size()); ++i) {
    g_Slots[i] = [&, i](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
      if (event == MODULEEVENT_INIT) return 1;
      if (event == MODULEEVENT_UNLOAD) {
        unloaded.push_back(i);
        return 1;
      }
      if (event != kEvent) return 1;
      asked.push_back(i);
      return again ? 1 : row.replies[std::size_t(i)];
    };
    modules.push_back(Load(U16(("Mod" + std::to_string(i)).c_str()).c_str(), i));
  }
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), row.result);
  EXPECT_EQ(asked, row.asked);
  EXPECT_EQ(unloaded, row.unloaded);
  asked.clear();
  again = true;
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), row.askedAgain.empty() ? 0u : 1u);
  EXPECT_EQ(asked, row.askedAgain);
  for (int i = 0; i < int(modules.size()); ++i) {
    const bool wasUnloaded = std::find(row.unloaded.begin(), row.unloaded.end(), i) != row.unloaded.end();
    EXPECT_EQ(modules[std::size_t(i)]->m_hModule == nullptr, wasUnloaded) << i;
    // A dropped subscription clears the record's entry for that event only.
    const bool dropped = std::find(row.askedAgain.begin(), row.askedAgain.end(), i) == row.askedAgain.end();
    EXPECT_EQ(modules[std::size_t(i)]->m_pSubscription[kEvent] == nullptr, dropped && !wasUnloaded) << i;
    EXPECT_NE(modules[std::size_t(i)]->m_pSubscription[MODULEEVENT_PROCESS], nullptr) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackCrossCheckBus,
    ::testing::Values(
        // Stop or Unload without Handled count for nothing: a drop, and the walk goes on.
        BusRow{"StopWithoutHandled", {1, 2}, 1, {1, 0}, {0}, {}},
        BusRow{"SkipStopWithoutHandled", {1, 6}, 1, {1, 0}, {0}, {}},
        BusRow{"ValueWithoutHandled", {5, 8}, 5, {1, 0}, {0}, {}},
        // Handled without Stop: the walk goes on and the bits add up.
        BusRow{"SkipWithoutStopGoesOn", {1, 5}, 5, {1, 0}, {1, 0}, {}},
        BusRow{"BitsOrTogether", {9, 5}, 13, {1, 0}, {1, 0}, {}},
        BusRow{"IncompatibleIsJustABit", {1, 65}, 65, {1, 0}, {1, 0}, {}},
        BusRow{"BlockedFromAModuleIsJustABit", {1, 33}, 33, {1, 0}, {1, 0}, {}},
        BusRow{"SeventyOneStops", {1, 71}, 71, {1}, {1, 0}, {}},
        // The core (oldest) comes last and is not asked after a Stop.
        BusRow{"NewestStopsBeforeTheCore", {7, 1, 11}, 11, {2}, {2, 1, 0}, {}},
        BusRow{"MiddleDropsNewestAndOldestStay", {3, 0, 1}, 3, {2, 1, 0}, {2, 0}, {}},
        // Unload runs at once, in the walk, and the walk goes on unless stopped.
        BusRow{"MiddleUnloads", {1, 17, 1}, 17, {2, 1, 0}, {2, 0}, {1}},
        BusRow{"UnloadAndStop", {1, 1, 19}, 19, {2}, {1, 0}, {2}},
        BusRow{"TwoUnload", {17, 1, 17}, 17, {2, 1, 0}, {1}, {2, 0}},
        BusRow{"UnloadWithValue", {1, 27}, 27, {1}, {0}, {1}},
        BusRow{"EveryoneDrops", {0, 16, 2}, 0, {2, 1, 0}, {}, {}}),
    [](const ::testing::TestParamInfo<BusRow>& info) { return std::string(info.param.name); });

// Unload asked for by the reply but refused by the module's Unload handler: the
// module keeps running and keeps its subscription.
TEST_F(HackRegistryTest, HackCrossCheckUnloadReplyRefusedByTheModule) {
  int asked = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) return 1;
    if (event == MODULEEVENT_UNLOAD) return 7;
    ++asked;
    return 17;
  };
  tHackModule* module = Load(u"Clingy", 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), 17u);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BRINDLECORE: Failed to unload hack \"Clingy\"\n");
  EXPECT_NE(module->m_hModule, nullptr);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), 17u);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(asked, 2);
}

// "At once": the module's Unload has run (and its patches are gone) before the
// next module is asked.
TEST_F(HackRegistryTest, HackCrossCheckUnloadHappensBeforeTheNextModuleIsAsked) {
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x401A00);
  std::vector<std::string> log;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event == kEvent) log.push_back("old sees " + std::to_string(image.Read<std::uint32_t>(place)));
    return 1;
  };
  g_Slots[1] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) new CHackValueHack(static_cast<ModuleInitData*>(data)->module, place, 5u);
    if (event == MODULEEVENT_UNLOAD) log.push_back("new unloads");
    if (event == kEvent) {
      log.push_back("new asked");
      return 17;
    }
    return 1;
  };
  Load(u"Old", 0);
  Load(u"New", 1);
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), 17u);
  EXPECT_EQ(log, (std::vector<std::string>{"new asked", "new unloads", "old sees 0"}));
  hack::testing::ResetHackRegistry();
}

// Init and Unload go to the handler directly: block and busy counters, which
// hold back the bus, do not hold them back, and registration zeroes the busy
// counters.
TEST_F(HackRegistryTest, HackCrossCheckInitAndUnloadBypassTheBus) {
  std::vector<std::uint32_t> seen;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    seen.push_back(event);
    return 1;
  };
  tHackModule* module = CreateHackModule(u"d.dll", u"Direct");
  for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) module->m_Busy[event] = 3;
  g_ModuleEventBlocks[MODULEEVENT_INIT] = 1;
  g_ModuleEventBlocks[MODULEEVENT_UNLOAD] = 1;
  EXPECT_EQ(RegisterHackModule(module, reinterpret_cast<HMODULE>(0x7000), false, g_SlotHandlers[0]), 1u);
  for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) EXPECT_EQ(module->m_Busy[event], 0u) << event;
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_INIT, nullptr), std::uint32_t(MODULEREPLY_BLOCKED));
  EXPECT_EQ(UnloadHackModule(module), 1u);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{MODULEEVENT_INIT, MODULEEVENT_UNLOAD}));
  g_ModuleEventBlocks[MODULEEVENT_INIT] = 0;
  g_ModuleEventBlocks[MODULEEVENT_UNLOAD] = 0;
}

// --- Init replies --------------------------------------------------------------

struct InitRow {
  std::uint32_t reply;
  bool accepted;
  bool message;
};

class HackCrossCheckInit : public HackRegistryTest, public ::testing::WithParamInterface<InitRow> {};

TEST_P(HackCrossCheckInit, AcceptRefuseAndTell) {
  const InitRow& row = GetParam();
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x401800);
  image.Poke<std::uint32_t>(place, 0x01234567);
  int events = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) {
      new CHackValueHack(static_cast<ModuleInitData*>(data)->module, place, std::uint32_t(0x89ABCDEF));
      return row.reply;
    }
    ++events;
    return 1;
  };
  for (bool closeOnly : {false, true}) {
    hack::testing::ResetHackRegistry();
    events = 0;
    SetCloseOnlyMessages(closeOnly);
    ScriptedDialogs dialogs;
    std::uint32_t reply = 0;
    tHackModule* module = Load(u"Picky", 0, &reply);
    EXPECT_EQ(reply, row.reply);
    EXPECT_EQ(module->m_hModule != nullptr, row.accepted);
    EXPECT_EQ(module->m_pHandler != nullptr, row.accepted);
    EXPECT_EQ(image.Read<std::uint32_t>(place), row.accepted ? 0x89ABCDEFu : 0x01234567u);
    for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) {
      EXPECT_EQ(module->m_pSubscription[event] != nullptr, row.accepted) << event;
    }
    RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr);
    EXPECT_EQ(events, row.accepted ? 1 : 0);
    const auto shown = dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog);
    if (row.message) {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].content, u"The hack \"Picky\" is not compatible with this version of Quorvant Mod Launcher.");
      EXPECT_EQ(shown[0].mainIcon, std::uintptr_t(0xFFFE));
      EXPECT_EQ(shown[0].config.dwCommonButtons, closeOnly ? 32 : 1);
    } else {
      EXPECT_TRUE(shown.empty());
    }
    hack::testing::ResetHackRegistry();
  }
  SetCloseOnlyMessages(false);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackCrossCheckInit,
    ::testing::Values(
        // Neither 17 nor 7 as a whole: accepted, whatever other bits are set.
        InitRow{0, true, false}, InitRow{1, true, false}, InitRow{3, true, false}, InitRow{5, true, false},
        InitRow{6, true, false}, InitRow{16, true, false}, InitRow{18, true, false}, InitRow{65, true, false},
        InitRow{70, true, false}, InitRow{11, true, false},
        // 7 or 17 as a whole: refused; 71 as a whole also says why.
        InitRow{7, false, false}, InitRow{15, false, false}, InitRow{17, false, false}, InitRow{19, false, false},
        InitRow{49, false, false}, InitRow{71, false, true}, InitRow{79, false, true}, InitRow{87, false, true},
        InitRow{127, false, true}, InitRow{81, false, false}),
    [](const ::testing::TestParamInfo<InitRow>& info) { return "Reply" + std::to_string(info.param.reply); });

TEST_F(HackRegistryTest, HackCrossCheckIncompatibleTextWithALongName) {
  ScriptedDialogs dialogs;
  g_Slots[0] = [](std::uint32_t event, ModuleEventData*) -> std::uint32_t { return event == MODULEEVENT_INIT ? 71 : 1; };
  const std::u16string name(64, u'W');
  Load(name.c_str(), 0);
  const auto shown = dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].content,
            u"The hack \"" + name + u"\" is not compatible with this version of Quorvant Mod Launcher.");
}

// --- Unload replies ------------------------------------------------------------

class HackCrossCheckUnload : public HackRegistryTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(HackCrossCheckUnload, SevenAsAWholeRefuses) {
  const std::uint32_t reply = GetParam();
  const bool refused = (reply & 7) == 7;
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x401900);
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) new CHackValueHack(static_cast<ModuleInitData*>(data)->module, place, std::uint8_t(0x42));
    return event == MODULEEVENT_UNLOAD ? reply : 1;
  };
  tHackModule* module = Load(u"Leaving", 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(UnloadHackModule(module), reply);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            refused ? "BRINDLECORE: Failed to unload hack \"Leaving\"\n" : "");
  EXPECT_EQ(module->m_hModule != nullptr, refused);
  EXPECT_EQ(image.Read<std::uint8_t>(place), refused ? 0x42 : 0x00);
  // Subscriptions stay either way; the bus passes an unloaded module over.
  EXPECT_NE(module->m_pSubscription[kEvent], nullptr);
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), refused ? 1u : 0u);
  hack::testing::ResetHackRegistry();
}

INSTANTIATE_TEST_SUITE_P(Table, HackCrossCheckUnload,
                         ::testing::Values(0u, 1u, 3u, 5u, 6u, 16u, 17u, 64u, 7u, 15u, 23u, 71u, 127u));

// --- Built-in names ------------------------------------------------------------

TEST(HackCrossCheckBuiltIn, TwelveNamesInTheirOrder) {
  const char16_t* const names[12] = {u"ADPCMSupport",   u"AspectRatioSupport",     u"MultipleInstanceSupport",
                                     u"BugFixes",       u"CustomFiles",            u"IncreasedLimits",
                                     u"Multiplayer",    u"MultiplePlayerSupport",  u"NoDrawDistance",
                                     u"OggVorbisSupport", u"PCMSupport",           u"SquirrelSupport"};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(std::u16string(g_BuiltInModules[i].name), names[i]) << i;
    std::u16string upper(names[i]);
    for (char16_t& c : upper) c = text::ToUpperAscii(c);
    EXPECT_EQ(FindBuiltInHandler(upper.c_str()), g_BuiltInModules[i].handler) << i;
  }
  EXPECT_EQ(FindBuiltInHandler(u"BugFixes "), nullptr);
  EXPECT_EQ(FindBuiltInHandler(u"Bug"), nullptr);
}

// --- Names and options ---------------------------------------------------------

struct HashRow {
  const char16_t* text;
  bool fold;
  std::uint32_t hash;
};

class HackCrossCheckHash : public ::testing::TestWithParam<HashRow> {};

TEST_P(HackCrossCheckHash, Vector) { EXPECT_EQ(HashName(GetParam().text, GetParam().fold), GetParam().hash); }

INSTANTIATE_TEST_SUITE_P(Vectors, HackCrossCheckHash,
                         ::testing::Values(HashRow{u"Nickname", false, 0x58FE9C32}, HashRow{u"Nickname", true, 0xA188FE64},
                                           HashRow{u"MULTIPLAYER", false, 0xC81C89CD},
                                           HashRow{u"MULTIPLAYER", true, 0x451F1B25},
                                           HashRow{u"SquirrelSupport", true, 0x7D98835C},
                                           HashRow{u"Z", false, 0x59BC5767}, HashRow{u"Z", true, 0x62D277AF},
                                           HashRow{u"z", true, 0x62D277AF}, HashRow{u"plumless", true, 0x4DDB0C25},
                                           HashRow{u"buckeroo", false, 0x4DDB0C25}));

ModuleOption Option(const char16_t* value) {
  ModuleOption option{};
  text::Copy(option.value, 64, value);
  return option;
}

class HackCrossCheckOptions : public HackRegistryTest {};

// Entries are told apart by their 32-bit key alone: two names of one CRC are
// one name to the tables, and the first stored wins.
TEST_F(HackCrossCheckOptions, KeysAloneDecide) {
  const ModuleOption a = Option(u"first"), b = Option(u"second"), c = Option(u"third");
  AddModuleOption(u"Multiplayer", u"plumless", &a);
  AddModuleOption(u"Multiplayer", u"BUCKEROO", &b);
  AddModuleOption(u"plumless", u"Nickname", &c);
  tModuleOptionTable* table = FindModuleOption(u"MultiPlayer");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(table, u"buckeroo")->value), u"first");
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(table, u"Plumless")->value), u"first");
  // A module named by a colliding name finds the other's table.
  tModuleOptionTable* other = FindModuleOption(u"Buckeroo");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other, FindModuleOption(u"plumless"));
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(other, u"NICKNAME")->value), u"third");
  EXPECT_EQ(FindModuleOptionEntry(other, u"plumless"), nullptr);
  EXPECT_EQ(FindModuleOptionEntry(table, u"Nickname"), nullptr);
  // Empty names hash to 0 and are a name like any other.
  const ModuleOption d = Option(u"empty");
  AddModuleOption(u"", u"", &d);
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(FindModuleOption(u""), u"")->value), u"empty");
}

}  // namespace
