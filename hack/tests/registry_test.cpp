#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <string>
#include <vector>

#include <hack/BuiltInModules.h>
#include <hack/Hacks.h>
#include <hack/ModuleEventData.h>
#include <hack/testing/GameImage.h>
#include <platform/testing/ScriptedDialogs.h>

#include "HackTestSupport.h"

namespace {

using namespace hacktest;

constexpr std::uint32_t kEvent = MODULEEVENT_PROCESS;

// One row: the replies of the modules (registered oldest first) to the first
// raise, what the bus combines, who was asked, and what the second raise (every
// module then replies 1) finds.
struct ReplyCase {
  const char* name;
  std::vector<std::uint32_t> replies;          // by module, oldest first
  std::uint32_t result;
  std::vector<int> asked;                       // module indices, in asking order
  std::vector<int> askedAgain;                  // second raise
  std::vector<bool> loadedAfter;                // module handle still set
};

class HackReplies : public HackRegistryTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(HackReplies, CombineWalkDropAndUnload) {
  const ReplyCase& c = GetParam();
  const int count = int(c.replies.size());
  std::vector<int> asked;
  std::vector<int> unloaded(count, 0);
  int raise = 0;
  std::vector<tHackModule*> modules;
  for (int i = 0; i < count; ++i) {
    g_Slots[i] = [&, i](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
      if (event == MODULEEVENT_INIT) return 1;
      if (event == MODULEEVENT_UNLOAD) {
        ++unloaded[i];
        return 1;
      }
      asked.push_back(i);
      return raise == 0 ? c.replies[i] : 1;
    };
    modules.push_back(Load(hacktest::U16(("M" + std::to_string(i)).c_str()).c_str(), i));
  }

  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), c.result);
  EXPECT_EQ(asked, c.asked);
  asked.clear();
  raise = 1;
  RaiseModuleEvent(kEvent, nullptr);
  EXPECT_EQ(asked, c.askedAgain);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(modules[i]->m_hModule != nullptr, bool(c.loadedAfter[i])) << "module " << i;
    EXPECT_EQ(unloaded[i], c.loadedAfter[i] ? 0 : 1) << "module " << i;
  }
  // Other events are untouched by what happened on this one.
  EXPECT_EQ(CountModuleSubscribers(MODULEEVENT_RENDER2D), std::uint32_t(count));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HackReplies,
    ::testing::Values(
        ReplyCase{"HandledThenSkip", {7, 1}, 7, {1, 0}, {1, 0}, {true, true}},
        ReplyCase{"StopEndsTheWalk", {1, 3}, 3, {1}, {1, 0}, {true, true}},
        ReplyCase{"ZeroDropsForGood", {1, 0}, 1, {1, 0}, {0}, {true, true}},
        ReplyCase{"NobodyAnswers", {0, 0, 0}, 0, {2, 1, 0}, {}, {true, true, true}},
        ReplyCase{"UnloadAtOnce", {1, 17}, 17, {1, 0}, {0}, {true, false}},
        ReplyCase{"UnloadAndStop", {1, 1, 19}, 19, {2}, {1, 0}, {true, true, false}},
        ReplyCase{"OnesOrTogether", {1, 1, 1}, 1, {2, 1, 0}, {2, 1, 0}, {true, true, true}},
        ReplyCase{"ValueFromTheNewest", {1, 7, 11}, 11, {2}, {2, 1, 0}, {true, true, true}},
        ReplyCase{"MiddleStops", {1, 7, 1}, 7, {2, 1}, {2, 1, 0}, {true, true, true}},
        ReplyCase{"DropThenStop", {7, 1, 0}, 7, {2, 1, 0}, {1, 0}, {true, true, true}},
        ReplyCase{"UnloadWithoutHandledIsADrop", {1, 16}, 1, {1, 0}, {0}, {true, true}}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(HackRegistryTest, BlockedEventAsksNobody) {
  int asked = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event > MODULEEVENT_UNLOAD) ++asked;
    return 1;
  };
  Load(u"A", 0);
  g_ModuleEventBlocks[kEvent] = 1;
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), std::uint32_t(MODULEREPLY_BLOCKED));
  g_ModuleEventBlocks[kEvent] = 0;
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), 1u);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_COUNT, nullptr), 0u);
}

TEST_F(HackRegistryTest, BusyModuleIsPassedOver) {
  int asked = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event > MODULEEVENT_UNLOAD) ++asked;
    return 1;
  };
  tHackModule* a = Load(u"A", 0);
  a->m_Busy[kEvent] = 1;
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), 0u);
  a->m_Busy[kEvent] = 0;
  EXPECT_EQ(RaiseModuleEvent(kEvent, nullptr), 1u);
  EXPECT_EQ(asked, 1);
}

TEST_F(HackRegistryTest, ValueSuppliedReachesTheHook) {
  g_Slots[0] = [](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event != MODULEEVENT_QUERYFLAGA) return 1;
    static_cast<QueryFlagEventData*>(data)->flag = 1;
    return 11;
  };
  Load(u"A", 0);
  QueryFlagEventData block{};
  block.size = sizeof block;
  EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_QUERYFLAGA, &block), 11u);
  EXPECT_EQ(block.flag, 1);
}

// A handler that raises its own event again (window messages do) while the
// inner walk drops subscriptions that the outer walk still holds.
TEST_F(HackRegistryTest, NestedRaiseOfTheSameEventDropsSafely) {
  std::vector<std::string> calls;
  int depth = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event <= MODULEEVENT_UNLOAD) return 1;
    calls.push_back("A");
    return 1;
  };
  g_Slots[1] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event <= MODULEEVENT_UNLOAD) return 1;
    calls.push_back("B");
    return 0;
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
    if (event == kEvent) calls.push_back(1);
    return 1;
  };
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event != kEvent) return 1;
    calls.push_back(0);
    if (calls.size() == 1) Load(u"Late", 1);
    return 1;
  };
  Load(u"A", 0);
  RaiseModuleEvent(kEvent, nullptr);
  RaiseModuleEvent(kEvent, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{0, 1, 0}));
}

struct InitCase {
  const char* name;
  std::uint32_t reply;
  bool subscribed;
  bool message;
};

class HackInitReplies : public HackRegistryTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(HackInitReplies, RefusalRestoresPatchesAndClearsTheRecord) {
  const InitCase& c = GetParam();
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x401000);
  image.Poke<std::uint32_t>(place, 0x11223344);
  platform::testing::ScriptedDialogs dialogs;

  ModuleInitData seen{};
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event != MODULEEVENT_INIT) return 1;
    seen = *static_cast<ModuleInitData*>(data);
    new CHackValueHack(seen.module, place, std::uint32_t(0xAABBCCDD));
    return c.reply;
  };
  std::uint32_t reply = 0;
  tHackModule* module = Load(u"Strict", 0, &reply);
  EXPECT_EQ(reply, c.reply);
  EXPECT_EQ(seen.size, 28u);
  EXPECT_EQ(seen.module, module);
  EXPECT_EQ(std::memcmp(seen.magic, "KAVO", 4), 0);
  EXPECT_EQ(seen.major, 1u);
  EXPECT_EQ(seen.minor, 0u);
  EXPECT_EQ(seen.build, 12u);
  EXPECT_EQ(seen.revision, 0u);

  EXPECT_EQ(module->m_hModule != nullptr, c.subscribed);
  EXPECT_EQ(module->m_pHandler != nullptr, c.subscribed);
  EXPECT_EQ(CountModuleSubscribers(kEvent), c.subscribed ? 1u : 0u);
  EXPECT_EQ(image.Read<std::uint32_t>(place), c.subscribed ? 0xAABBCCDDu : 0x11223344u);
  EXPECT_EQ(module->m_Hacks.m_Count, c.subscribed ? 1u : 0u);

  const auto shown = dialogs.CallsOf(platform::testing::ScriptedDialogs::Kind::TaskDialog);
  if (c.message) {
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].content,
              u"The hack \"Strict\" is not compatible with this version of Quorvant Mod Launcher.");
    EXPECT_EQ(shown[0].mainIcon, std::uintptr_t(0xFFFE));  // error icon
  } else {
    EXPECT_TRUE(shown.empty());
  }
  hack::testing::ResetHackRegistry();  // restores a kept patch while the image is mapped
}

INSTANTIATE_TEST_SUITE_P(Table, HackInitReplies,
                         ::testing::Values(InitCase{"Accepted", 1, true, false},
                                           InitCase{"ValueReplyAccepted", 11, true, false},
                                           InitCase{"Refused", 7, false, false},
                                           InitCase{"RefusedQuietly", 17, false, false},
                                           InitCase{"Incompatible", 71, false, true},
                                           InitCase{"UnloadWithStopIsRefusal", 23, false, false}),
                         [](const ::testing::TestParamInfo<InitCase>& info) { return std::string(info.param.name); });

TEST_F(HackRegistryTest, ModuleWithoutHandlerIsRefusedWith17) {
  tHackModule* module = CreateHackModule(u"x.dll", u"Nameless");
  EXPECT_EQ(RegisterHackModule(module, reinterpret_cast<HMODULE>(0x1234), true, nullptr), 17u);
  EXPECT_EQ(module->m_hModule, nullptr);
  EXPECT_EQ(CountModuleSubscribers(kEvent), 0u);
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
  EXPECT_EQ(image.Read<std::uint32_t>(place), 0xFFFFFFFFu);
  EXPECT_EQ(image.Read<std::uint8_t>(place + 4), 0xEE);
  EXPECT_EQ(UnloadHackModule(module), 1u);
  EXPECT_EQ(image.Read<std::uint64_t>(place), 0x0807060504030201ull);
  EXPECT_EQ(module->m_hModule, nullptr);
  // A record that is not loaded any more has nothing to unload.
  EXPECT_EQ(UnloadHackModule(module), 0u);
  EXPECT_EQ(unloads, 1);
  // Never loaded at all: no handler to call through.
  tHackModule* bare = CreateHackModule(u"y.dll", u"Bare");
  EXPECT_EQ(UnloadHackModule(bare), 0u);
  EXPECT_EQ(UnloadHackModule(nullptr), 0u);
}

TEST_F(HackRegistryTest, RefusedUnloadIsLoggedAndKeepsEverything) {
  gameimage::CGameImage image;
  ASSERT_TRUE(image.IsMapped());
  const std::uint32_t place = image.At(0x403000);
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData* data) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) new CHackValueHack(static_cast<ModuleInitData*>(data)->module, place, 5u);
    return event == MODULEEVENT_UNLOAD ? 7 : 1;
  };
  tHackModule* module = Load(u"Stubborn", 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(UnloadHackModule(module), 7u);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BRINDLECORE: Failed to unload hack \"Stubborn\"\n");
  EXPECT_NE(module->m_hModule, nullptr);
  EXPECT_EQ(image.Read<std::uint32_t>(place), 5u);
  hack::testing::ResetHackRegistry();
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
  EXPECT_EQ(order, (std::vector<int>{3, 1}));
  EXPECT_NE(core->m_hModule, nullptr);
}

TEST_F(HackRegistryTest, BuiltInNamesFindTheirHandlers) {
  EXPECT_EQ(FindBuiltInHandler(u"SquirrelSupport"), &SquirrelSupportModuleHandler);
  EXPECT_EQ(FindBuiltInHandler(u"squirrelSUPPORT"), &SquirrelSupportModuleHandler);
  EXPECT_EQ(FindBuiltInHandler(u"Multiplayer"), &MultiplayerModuleHandler);
  EXPECT_EQ(FindBuiltInHandler(u"MultiplePlayerSupport"), &MultiplePlayerSupportModuleHandler);
  EXPECT_EQ(FindBuiltInHandler(u"PCMSupport"), &PCMSupportModuleHandler);
  EXPECT_EQ(FindBuiltInHandler(u"Multiplayer2"), nullptr);
  EXPECT_EQ(FindBuiltInHandler(u""), nullptr);
  EXPECT_EQ(FindBuiltInHandler(nullptr), nullptr);
  int distinct = 0;
  for (int i = 0; i < 12; ++i) {
    bool seen = false;
    for (int j = 0; j < i; ++j) seen |= g_BuiltInModules[j].handler == g_BuiltInModules[i].handler;
    distinct += !seen;
  }
  EXPECT_EQ(distinct, 12);

  // An unknown name has no handler and is refused with 17.
  tHackModule* unknown = CreateHackModule(u"u.dll", u"NoSuchModule");
  EXPECT_EQ(RegisterBuiltInModule(unknown, reinterpret_cast<HMODULE>(0x2000)), 17u);
  EXPECT_EQ(unknown->m_hModule, nullptr);
}

TEST_F(HackRegistryTest, SecondModuleOfOneBuiltInNameIsRefused) {
  // Put an accepting handler behind one name for the length of the test.
  tBuiltInModule& entry = g_BuiltInModules[4];
  ASSERT_EQ(std::u16string(entry.name), u"CustomFiles");
  const ModuleHandler original = entry.handler;
  int inits = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) -> std::uint32_t {
    if (event == MODULEEVENT_INIT) ++inits;
    return 1;
  };
  entry.handler = g_SlotHandlers[0];

  tHackModule* first = CreateHackModule(u"a.dll", u"CustomFiles");
  tHackModule* second = CreateHackModule(u"b.dll", u"customfiles");
  EXPECT_EQ(RegisterBuiltInModule(first, reinterpret_cast<HMODULE>(0x3000)), 1u);
  EXPECT_EQ(first->m_FreeLibraryOnUnload, 1);
  EXPECT_EQ(RegisterBuiltInModule(second, reinterpret_cast<HMODULE>(0x3001)), 17u);
  EXPECT_EQ(inits, 1);
  EXPECT_EQ(second->m_hModule, nullptr);
  EXPECT_EQ(CountModuleSubscribers(kEvent), 1u);
  entry.handler = original;
  first->m_FreeLibraryOnUnload = 0;  // the handle is made up
}

TEST_F(HackRegistryTest, StubsOfMissingModulesRefuseQuietly) {
  const std::u16string_view present[] = {u"ADPCMSupport", u"OggVorbisSupport", u"PCMSupport"};
  for (const tBuiltInModule& builtIn : g_BuiltInModules) {
    if (std::find(std::begin(present), std::end(present), builtIn.name) != std::end(present)) continue;
    tHackModule* module = CreateHackModule(u"m.dll", builtIn.name);
    EXPECT_EQ(RegisterBuiltInModule(module, nullptr), 17u) << text::Utf16ToUtf8(builtIn.name);
    EXPECT_EQ(module->m_hModule, nullptr);
  }
}

TEST_F(HackRegistryTest, RecordsKeepTheirNamesCutToSize) {
  std::u16string longName(80, u'n');
  std::u16string longPath(300, u'p');
  tHackModule* module = CreateHackModule(longPath.c_str(), longName.c_str());
  EXPECT_EQ(std::u16string(module->m_Name), std::u16string(64, u'n'));
  EXPECT_EQ(std::u16string(module->m_Path), std::u16string(259, u'p'));
  tHackModule* records[4];
  ASSERT_EQ(GetHackModules(records, 4), 1u);
  EXPECT_EQ(records[0], module);
}

}  // namespace

namespace {

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
  EXPECT_EQ(image.Read<std::uint32_t>(place), 1u);
  EXPECT_EQ(image.Read<std::uint32_t>(place + 8), 2u);
  hack::testing::ResetHackRegistry();
}

}  // namespace
