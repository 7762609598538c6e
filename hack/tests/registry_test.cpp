// The module registry and the event bus: reply combining over walks, Init and Unload replies, built-in
// modules, records, and the lock order of patches made in Init.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>
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

class HackReplies : public HackRegistryTest, public ::testing::WithParamInterface<BusRow> {};

TEST_P(HackReplies, Walk) {
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
  // Other events are untouched by what happened on this one.
  EXPECT_EQ(CountModuleSubscribers(MODULEEVENT_PROCESS), std::uint32_t(modules.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackReplies,
    ::testing::ValuesIn(std::vector<BusRow>{
        // Stop or Unload without Handled count for nothing: a drop, and the walk goes on.
        {"StopWithoutHandled", {1, 2}, 1, {1, 0}, {0}, {}}, {"SkipStopWithoutHandled", {1, 6}, 1, {1, 0}, {0}, {}},
        {"ValueWithoutHandled", {5, 8}, 5, {1, 0}, {0}, {}},
        {"OnesOrTogether", {1, 1, 1}, 1, {2, 1, 0}, {2, 1, 0}, {}}, {"StopEndsTheWalk", {1, 3}, 3, {1}, {1, 0}, {}},
        {"MiddleStops", {1, 7, 1}, 7, {2, 1}, {2, 1, 0}, {}}, {"DropThenStop", {7, 1, 0}, 7, {2, 1, 0}, {1, 0}, {}},
        // Handled without Stop: the walk goes on and the bits add up.
        {"SkipWithoutStopGoesOn", {1, 5}, 5, {1, 0}, {1, 0}, {}}, {"BitsOrTogether", {9, 5}, 13, {1, 0}, {1, 0}, {}},
        {"IncompatibleIsJustABit", {1, 65}, 65, {1, 0}, {1, 0}, {}},
        {"BlockedFromAModuleIsJustABit", {1, 33}, 33, {1, 0}, {1, 0}, {}},
        {"SeventyOneStops", {1, 71}, 71, {1}, {1, 0}, {}},
        // The core (oldest) comes last and is not asked after a Stop.
        {"NewestStopsBeforeTheCore", {7, 1, 11}, 11, {2}, {2, 1, 0}, {}},
        {"MiddleDropsNewestAndOldestStay", {3, 0, 1}, 3, {2, 1, 0}, {2, 0}, {}},
        // Unload runs at once, in the walk, and the walk goes on unless stopped.
        {"MiddleUnloads", {1, 17, 1}, 17, {2, 1, 0}, {2, 0}, {1}}, {"UnloadAndStop", {1, 1, 19}, 19, {2}, {1, 0}, {2}},
        {"TwoUnload", {17, 1, 17}, 17, {2, 1, 0}, {1}, {2, 0}}, {"UnloadWithValue", {1, 27}, 27, {1}, {0}, {1}},
        {"EveryoneDrops", {0, 16, 2}, 0, {2, 1, 0}, {}, {}}}),
    [](const ::testing::TestParamInfo<BusRow>& info) { return std::string(info.param.name); });

// A blocked event asks nobody and answers Blocked; a busy module is passed over.
TEST_F(HackRegistryTest, BlockedEventAsksNobodyAndABusyModuleIsPassedOver) {
  int asked = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event > MODULEEVENT_UNLOAD) ++asked;
    return 1;
  };
  tHackModule* a = Load(u"A", 0);
  g_ModuleEventBlocks[MODULEEVENT_PROCESS] = 1;
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr), std::uint32_t(MODULEREPLY_BLOCKED));
  g_ModuleEventBlocks[MODULEEVENT_PROCESS] = 0;
  a->m_Busy[MODULEEVENT_PROCESS] = 1;
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr), 0u);
  a->m_Busy[MODULEEVENT_PROCESS] = 0;
  const std::uint32_t reply = RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr);
  EXPECT_EQ((std::tuple{reply, asked, RaiseModuleEvent(MODULEEVENT_COUNT, nullptr)}), (std::tuple{1u, 1, 0u}));
}

// A handler that raises its own event again (window messages do) while the
// inner walk drops subscriptions that the outer walk still holds.
TEST_F(HackRegistryTest, NestedRaiseOfTheSameEventDropsSafely) {
  std::vector<std::string> calls;
  int depth = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) {
    return event <= MODULEEVENT_UNLOAD ? 1u : (calls.push_back("A"), 1u);
  };
  g_Slots[1] = [&](std::uint32_t event, ModuleEventData*) {
    return event <= MODULEEVENT_UNLOAD ? 1u : (calls.push_back("B"), 0u);
  };
  g_Slots[2] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event <= MODULEEVENT_UNLOAD) return 1;
    calls.push_back(depth == 0 ? "C-outer" : "C-inner");
    if (depth == 0) {
      ++depth;
      EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_WINDOWMESSAGE, nullptr), 1u);
      --depth;
      return 1;
    }
    return 0;
  };
  Load(u"A", 0);
  Load(u"B", 1);
  Load(u"C", 2);
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_WINDOWMESSAGE, nullptr), 1u);
  // B was dropped inside the inner walk: the outer walk passes it over.
  EXPECT_EQ(calls, (std::vector<std::string>{"C-outer", "C-inner", "B", "A", "A"}));
  EXPECT_EQ(CountModuleSubscribers(MODULEEVENT_WINDOWMESSAGE), 1u);
  calls.clear();
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_WINDOWMESSAGE, nullptr), 1u);
  EXPECT_EQ(calls, (std::vector<std::string>{"A"}));
}

TEST_F(HackRegistryTest, ModuleRegisteredDuringAWalkIsAskedNextTime) {
  std::vector<int> calls;
  g_Slots[1] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event == MODULEEVENT_PROCESS) calls.push_back(1);
    return 1;
  };
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event != MODULEEVENT_PROCESS) return 1;
    calls.push_back(0);
    if (calls.size() == 1) Load(u"Late", 1);
    return 1;
  };
  Load(u"A", 0);
  RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr);
  RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{0, 1, 0}));
}

// "At once": the module's Unload has run (and its patches are gone) before the
// next module is asked.
TEST_F(HackRegistryTest, UnloadHappensBeforeTheNextModuleIsAsked) {
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
TEST_F(HackRegistryTest, InitAndUnloadBypassTheBus) {
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

// Init replies: 7 or 17 as a whole refuse, and a refusal takes back what Init patched.

struct InitRow {
  std::uint32_t reply;
  bool accepted;
  bool message;
};

class HackInitReplies : public HackRegistryTest, public ::testing::WithParamInterface<InitRow> {};

TEST_P(HackInitReplies, AcceptRefuseAndTell) {
  const InitRow& row = GetParam();
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x401800);
  image.Poke<std::uint32_t>(place, 0x01234567);
  int events = 0;
  ModuleInitData seen{};
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) {
      seen = *static_cast<ModuleInitData*>(data);
      new CHackValueHack(seen.module, place, std::uint32_t(0x89ABCDEF));
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
    // A name of the longest length a record keeps appears whole in the message.
    const std::u16string name(64, u'W');
    tHackModule* module = Load(name.c_str(), 0, &reply);
    EXPECT_EQ(reply, row.reply);
    // The Init block: {28, module, "KAVO", 1, 0, 12, 0}.
    EXPECT_EQ((std::tuple{seen.size, seen.module, std::string(seen.magic, 4), seen.major, seen.minor, seen.build,
                          seen.revision}),
              (std::tuple{28u, module, "KAVO", 1u, 0u, 12u, 0u}));
    EXPECT_EQ((std::tuple{module->m_Hacks.m_Count, module->m_hModule != nullptr, module->m_pHandler != nullptr}),
              (std::tuple{row.accepted ? 1u : 0u, row.accepted, row.accepted}));
    EXPECT_EQ(image.Read<std::uint32_t>(place), row.accepted ? 0x89ABCDEFu : 0x01234567u);
    for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) {
      EXPECT_EQ(module->m_pSubscription[event] != nullptr, row.accepted) << event;
    }
    RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr);
    EXPECT_EQ(events, row.accepted ? 1 : 0);
    const auto shown = dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog);
    if (row.message) {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].content,
                u"The hack \"" + name + u"\" is not compatible with this version of Quorvant Mod Launcher.");
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
    Table, HackInitReplies,
    ::testing::Values(
        // Neither 17 nor 7 as a whole: accepted, whatever other bits are set; 7 or 17 as a whole: refused, and 71
        // as a whole also says why.
        InitRow{0, true, false}, InitRow{1, true, false}, InitRow{3, true, false}, InitRow{5, true, false},
        InitRow{6, true, false}, InitRow{16, true, false}, InitRow{18, true, false}, InitRow{65, true, false},
        InitRow{70, true, false}, InitRow{11, true, false}, InitRow{7, false, false}, InitRow{15, false, false},
        InitRow{17, false, false}, InitRow{19, false, false}, InitRow{49, false, false}, InitRow{71, false, true},
        InitRow{79, false, true}, InitRow{87, false, true}, InitRow{127, false, true}, InitRow{81, false, false}),
    [](const ::testing::TestParamInfo<InitRow>& info) { return "Reply" + std::to_string(info.param.reply); });

class HackUnloadReplies : public HackRegistryTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(HackUnloadReplies, SevenAsAWholeRefuses) {
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

INSTANTIATE_TEST_SUITE_P(Table, HackUnloadReplies,
                         ::testing::Values(0u, 1u, 3u, 5u, 6u, 16u, 17u, 64u, 7u, 15u, 23u, 71u, 127u));

TEST_F(HackRegistryTest, ModuleWithoutHandlerIsRefusedWith17) {
  tHackModule* module = CreateHackModule(u"x.dll", u"Nameless");
  EXPECT_EQ((std::tuple{RegisterHackModule(module, reinterpret_cast<HMODULE>(0x1234), true, nullptr), module->m_hModule,
                        CountModuleSubscribers(MODULEEVENT_PROCESS)}),
            (std::tuple{17u, nullptr, 0u}));
}

TEST_F(HackRegistryTest, UnloadRunsOnceAndRestoresPatchesNewestFirst) {
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x402000);
  image.Poke<std::uint64_t>(place, 0x0807060504030201ull);
  int unloads = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) {
      auto* module = static_cast<ModuleInitData*>(data)->module;
      new CHackValueHack(module, place, std::uint32_t(0xFFFFFFFF));
      new CHackValueHack(module, place + 4, std::uint8_t(0xEE));
    }
    if (event == MODULEEVENT_UNLOAD) ++unloads;
    return 1;
  };
  tHackModule* module = Load(u"A", 0);
  EXPECT_EQ(image.Read<std::uint64_t>(place), 0x080706EEFFFFFFFFull);  // both patches over the original bytes
  EXPECT_EQ(UnloadHackModule(module), 1u);
  EXPECT_EQ((std::tuple{image.Read<std::uint64_t>(place), module->m_hModule}),
            (std::tuple{0x0807060504030201ull, nullptr}));
  // A record that is not loaded any more has nothing to unload; one never loaded has no handler to call.
  EXPECT_EQ((std::tuple{UnloadHackModule(module), unloads}), (std::tuple{0u, 1}));
  EXPECT_EQ(UnloadHackModule(CreateHackModule(u"y.dll", u"Bare")) + UnloadHackModule(nullptr), 0u);
}

TEST_F(HackRegistryTest, UnloadAllSparesTheCoreAndGoesNewestFirst) {
  std::vector<int> order;
  for (int i = 0; i < 4; ++i) {
    g_Slots[i] = [&, i](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
      if (event == MODULEEVENT_UNLOAD) order.push_back(i);
      return 1;
    };
  }
  tHackModule* core = Load(u"Brindlecore", 0);
  Load(u"A", 1);
  g_Slots[2] = [](std::uint32_t event, ModuleEventData*) -> std::uint32_t { return event == MODULEEVENT_INIT ? 17 : 1; };
  Load(u"Refused", 2);
  Load(u"C", 3);
  UnloadAllHackModules();
  EXPECT_EQ((std::tuple{order, core->m_hModule != nullptr}), (std::tuple{std::vector<int>{3, 1}, true}));
}

// The table handed down is the only source of names: before it and after a null one nothing is known; names fold
// ASCII case, the first of two equal names wins, and an entry changed in place is seen at once.
TEST_F(HackRegistryTest, BuiltInNamesAreLookedUpInTheTableHandedDown) {
  tBuiltInModule table[] = {{u"Alpha", g_SlotHandlers[0]},
                            {u"BETA", g_SlotHandlers[1]},
                            {nullptr, g_SlotHandlers[2]},
                            {u"beta", g_SlotHandlers[2]},
                            {u"Gamma", nullptr}};
  const struct {
    const char16_t* name;
    ModuleHandler handler;
  } rows[] = {{u"Alpha", g_SlotHandlers[0]},
              {u"ALPHA", g_SlotHandlers[0]},
              {u"alpha", g_SlotHandlers[0]},
              {u"Beta", g_SlotHandlers[1]},
              {u"Gamma", nullptr},
              {u"Alpha ", nullptr},
              {u"Alph", nullptr},
              {u"", nullptr},
              {nullptr, nullptr}};
  SetBuiltInModules(nullptr, 5);
  EXPECT_EQ(FindBuiltInHandler(u"Alpha"), nullptr);
  SetBuiltInModules(table, std::size(table));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name != nullptr ? text::Utf16ToUtf8(row.name) : "null");
    EXPECT_EQ(FindBuiltInHandler(row.name), row.handler);
  }
  // A count short of the table hides what lies past it.
  SetBuiltInModules(table, 1);
  EXPECT_EQ((std::tuple{FindBuiltInHandler(u"Alpha"), FindBuiltInHandler(u"Beta")}),
            (std::tuple{g_SlotHandlers[0], nullptr}));
  SetBuiltInModules(table, std::size(table));
  table[0].handler = g_SlotHandlers[3];
  EXPECT_EQ(FindBuiltInHandler(u"alpha"), g_SlotHandlers[3]);
  // An unknown name, and a known name without a handler, are refused with 17.
  for (const char16_t* name : {u"NoSuchModule", u"Gamma"}) {
    tHackModule* unknown = CreateHackModule(u"u.dll", name);
    EXPECT_EQ((std::tuple{RegisterBuiltInModule(unknown, reinterpret_cast<HMODULE>(0x2000)), unknown->m_hModule}),
              (std::tuple{17u, nullptr}));
  }
  SetBuiltInModules(nullptr, 0);
  EXPECT_EQ(FindBuiltInHandler(u"Alpha"), nullptr);
}

TEST_F(HackRegistryTest, SecondModuleOfOneBuiltInNameIsRefused) {
  int inits = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) ++inits;
    return 1;
  };
  const tBuiltInModule table[] = {{u"CustomFiles", g_SlotHandlers[0]}};
  SetBuiltInModules(table, std::size(table));

  tHackModule* first = CreateHackModule(u"a.dll", u"CustomFiles");
  tHackModule* second = CreateHackModule(u"b.dll", u"customfiles");
  EXPECT_EQ((std::tuple{RegisterBuiltInModule(first, reinterpret_cast<HMODULE>(0x3000)), first->m_FreeLibraryOnUnload}),
            (std::tuple{1u, 1}));
  EXPECT_EQ(RegisterBuiltInModule(second, reinterpret_cast<HMODULE>(0x3001)), 17u);
  EXPECT_EQ((std::tuple{inits, second->m_hModule, CountModuleSubscribers(MODULEEVENT_PROCESS)}),
            (std::tuple{1, nullptr, 1u}));
  // Once the first is unloaded the name is free again.
  first->m_FreeLibraryOnUnload = 0;  // the handle is made up
  ASSERT_EQ(UnloadHackModule(first), 1u);
  EXPECT_EQ((std::tuple{RegisterBuiltInModule(second, reinterpret_cast<HMODULE>(0x3001)), inits}), (std::tuple{1u, 2}));
  second->m_FreeLibraryOnUnload = 0;
  SetBuiltInModules(nullptr, 0);
}

TEST_F(HackRegistryTest, RecordsKeepTheirNamesCutToSize) {
  tHackModule* module = CreateHackModule(std::u16string(300, u'p').c_str(), std::u16string(80, u'n').c_str());
  tHackModule* records[4];
  EXPECT_EQ((std::tuple{std::u16string(module->m_Name), std::u16string(module->m_Path), GetHackModules(records, 4),
                        records[0]}),
            (std::tuple{std::u16string(64, u'n'), std::u16string(259, u'p'), 1u, module}));
}

// An Init that installs a patch while another thread installs one for another
// module: both must finish (the registry lock is always taken first).
TEST_F(HackRegistryTest, PatchInInitAndPatchOnAnotherThreadDoNotDeadlock) {
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x404000);
  tHackModule* bystander = Load(u"Bystander", 1);
  tHackModule* slow = CreateHackModule(u"slow.dll", u"Slow");

  std::atomic<bool> initRunning{false};
  std::atomic<bool> otherDone{false};
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event != MODULEEVENT_INIT) return 1;
    initRunning = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the other thread reach its patch
    new CHackValueHack(static_cast<ModuleInitData*>(data)->module, place, 1u);
    return 1;
  };
  std::thread registrar([&] { RegisterHackModule(slow, reinterpret_cast<HMODULE>(0x5000), false, g_SlotHandlers[0]); });
  std::thread other([&] {
    while (!initRunning) std::this_thread::yield();
    new CHackValueHack(bystander, place + 8, 2u);
    otherDone = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!otherDone && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!otherDone) {
    // The locks are held for good: nothing after this could run.
    std::fprintf(stderr, "deadlock between an Init's patch and another thread's patch\n");
    std::_Exit(1);
  }
  registrar.join();
  other.join();
  EXPECT_EQ((std::tuple{image.Read<std::uint32_t>(place), image.Read<std::uint32_t>(place + 8)}), (std::tuple{1u, 2u}));
  hack::testing::ResetHackRegistry();
}

}  // namespace
