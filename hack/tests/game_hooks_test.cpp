// The core's game hooks on the game double of each build: patched routines against the unpatched ones, the
// replies each hook acts on, re-entry, and installing and removing every hook.
#include <hack/GameHooks.h>
#include <hack/Hacks.h>
#include <hack/ModuleEventData.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "GameDoubleFixture.h"

namespace hacktest {
namespace {

using gamedouble::CGameDouble;
using gamedouble::Place;
using gamedouble::Routine;
using gamedouble::RunResult;

// What a routine left behind: registers, its stack, the game's data, the
// buffers its arguments point at, and the game routines it called.
struct Observation {
  RunResult run;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> buffers;
  std::vector<std::vector<std::uint32_t>> calls;  // routine, index, arguments...
};

// Registers a patched routine need not keep: a C++ entry the game calls keeps
// what cdecl keeps, and the query hooks define their result, not the flags.
enum Scratch : std::uint32_t { kKeepsAll = 0, kFlags = 1, kCdecl = 2 };

struct RoutineCase {
  const char* name;
  std::function<RunResult(CGameDouble&, std::uint32_t buffers)> run;
  std::uint32_t scratch = kKeepsAll;
};

class GameHooksTest : public GameDoubleTest {
 protected:
  // Buffers the routines' arguments point at: a key table, two joypad words,
  // a u32 that QueryFlagB's pointer leads to, and a sample.
  struct Buffers {
    std::uint8_t keys[256];
    std::uint32_t pads[2];
    std::uint32_t flagWord;
    std::uint8_t sample[16];
  } buffers{};

  std::uint32_t DataStart() const { return game->CodeEnd(); }
  std::uint32_t DataEnd() const { return game->Image().Base() + game->Image().Size(); }
  std::vector<std::uint8_t> SnapshotData() const { return ReadBytes(DataStart(), DataEnd() - DataStart()); }

  Observation Observe(const RoutineCase& c, const std::vector<std::uint8_t>& initialData) {
    std::memcpy(reinterpret_cast<void*>(std::uintptr_t(DataStart())), initialData.data(), initialData.size());
    std::memset(&buffers, 0x5A, sizeof buffers);
    buffers.flagWord = 4;
    std::memset(game->Item(0), 0, CGameDouble::kItemSize);
    game->ClearCalls();
    Observation o;
    o.run = c.run(*game, Address(&buffers));
    o.data = SnapshotData();
    o.buffers.assign(reinterpret_cast<std::uint8_t*>(&buffers), reinterpret_cast<std::uint8_t*>(&buffers + 1));
    const std::uint8_t* item = game->Item(0);
    o.buffers.insert(o.buffers.end(), item, item + CGameDouble::kItemSize);
    for (const auto& call : game->Calls()) {
      o.calls.push_back({std::uint32_t(call.routine), call.index});
      o.calls.back().insert(o.calls.back().end(), call.arguments.begin(), call.arguments.end());
    }
    return o;
  }

  static void ExpectSame(const Observation& patched, const Observation& original, std::uint32_t scratch,
                         std::uint32_t hookedProcedure, std::uint32_t gameProcedure) {
    const auto& a = patched.run.after;
    const auto& b = original.run.after;
    // Words that may differ: scratch registers (the double records them in
    // its data) and the window procedure Main registers.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> allowed{{hookedProcedure, gameProcedure}};
    const auto expect = [&](const char* name, std::uint32_t x, std::uint32_t y, bool kept) {
      if (kept) {
        EXPECT_EQ(x, y) << name;
      }
      allowed.push_back({x, y});
    };
    expect("eax", a.eax, b.eax, true);
    expect("ecx", a.ecx, b.ecx, !(scratch & kCdecl));
    expect("edx", a.edx, b.edx, !(scratch & kCdecl));
    expect("ebx", a.ebx, b.ebx, true);
    expect("ebp", a.ebp, b.ebp, true);
    expect("esi", a.esi, b.esi, true);
    expect("edi", a.edi, b.edi, true);
    expect("eflags", a.eflags, b.eflags, scratch == kKeepsAll);
    EXPECT_EQ(patched.run.stackDelta, original.run.stackDelta);
    EXPECT_EQ(patched.run.arguments, original.run.arguments);
    EXPECT_EQ(patched.buffers, original.buffers);
    EXPECT_EQ(patched.calls, original.calls);
    ASSERT_EQ(patched.data.size(), original.data.size());
    constexpr std::size_t kPage = 4096;
    for (std::size_t at = 0; at + 4 <= patched.data.size(); at += 4) {
      // Whole equal pages at once: the data section is megabytes long.
      if (at % kPage == 0 && at + kPage <= patched.data.size() &&
          std::memcmp(&patched.data[at], &original.data[at], kPage) == 0) {
        at += kPage - 4;
        continue;
      }
      std::uint32_t x, y;
      std::memcpy(&x, &patched.data[at], 4);
      std::memcpy(&y, &original.data[at], 4);
      if (x != y && std::find(allowed.begin(), allowed.end(), std::pair{x, y}) == allowed.end()) {
        ADD_FAILURE() << "game data differs at +0x" << std::hex << at << ": " << x << " instead of " << y;
        return;
      }
    }
  }

  std::vector<RoutineCase> Cases() {
    std::vector<RoutineCase> cases;
    for (std::uint32_t exit = 0; exit < 5; ++exit) {
      cases.push_back({"Main", [exit](CGameDouble& g, std::uint32_t) {
                         g.SetMainBehaviour(0x3D0000 + exit, exit);
                         return g.Run(Routine::Main, {g.At(0x400000), 0, 0, 1});
                       }});
    }
    const auto plain = [](const char* name, Routine r) {
      return RoutineCase{name, [r](CGameDouble& g, std::uint32_t) { return g.Run(r); }};
    };
    cases.push_back(plain("DefineAllObjects", Routine::DefineAllObjects));
    cases.push_back(plain("SetUpItemLinkedLists", Routine::SetUpItemLinkedLists));
    cases.push_back(plain("Frame", Routine::Frame));
    cases.push_back(plain("ScriptLoaded", Routine::ScriptLoaded));
    cases.push_back(plain("LoadItems", Routine::LoadItems));
    if (!Editor()) cases.push_back(plain("LoadItemsSecond", Routine::LoadItemsSecond));
    cases.push_back(plain("RollingBallDeath", Routine::RollingBallDeath));
    cases.push_back({"QueryFlagA",
                     [](CGameDouble& g, std::uint32_t) {
                       g.Write(Place{0x4BF5C0, 0x4BF6F0, 0x4BF730, 0x51D01C}, std::uint32_t(5));
                       return g.Run(Routine::QueryFlagA);
                     },
                     kFlags});
    cases.push_back({"QueryFlagB",
                     [](CGameDouble& g, std::uint32_t b) {
                       g.Write(Place{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC}, b + offsetof(Buffers, flagWord));
                       return g.Run(Routine::QueryFlagB);
                     },
                     kFlags});
    cases.push_back({"GetKeyStates", [](CGameDouble& g, std::uint32_t b) {
                       std::uint8_t keys[256];
                       for (int i = 0; i < 256; ++i) keys[i] = std::uint8_t(i ^ 0x3C);
                       g.SetKeyboard(keys);
                       return g.Run(Routine::GetKeyStates, {b});
                     }});
    cases.push_back({"GetJoypadStates",
                     [](CGameDouble& g, std::uint32_t b) {
                       g.SetJoypad(true, 0x11, 0x22, 0x33);
                       return g.Run(Routine::GetJoypadStates, {b + 256, b + 260});
                     },
                     V() ? kCdecl : kKeepsAll});
    cases.push_back({"LoadSampleCaller",
                     [](CGameDouble& g, std::uint32_t b) {
                       g.SetResult(Routine::SampleLoader, 1);
                       return g.Run(Routine::LoadSampleCaller, {b + offsetof(Buffers, sample), 16, 3, 9});
                     },
                     kCdecl});
    cases.push_back({"FallDamage",
                     [](CGameDouble& g, std::uint32_t) {
                       std::int16_t fall[2] = {150, 1000};
                       std::memcpy(g.Item(0) + 32, fall, sizeof fall);
                       return g.Run(Routine::FallDamage, {Address(g.Item(0))});
                     },
                     kCdecl});
    cases.push_back({"DivingRollLandDeath", [](CGameDouble& g, std::uint32_t) {
                       return g.Run(Routine::DivingRollLandDeath, {Address(g.Item(0))});
                     }});
    cases.push_back(
        {"FlipeffectCaller", [](CGameDouble& g, std::uint32_t) { return g.Run(Routine::FlipeffectCaller, {5}); }});
    cases.push_back({"ReplacedCall", [](CGameDouble& g, std::uint32_t) {
                       return g.Run(Routine::ReplacedCall, {0x10, 0x20, 0x30, 0x40});
                     }});
    return cases;
  }

  // The module on slot 0 answers every event but Init and Unload with `reply`.
  void ReplyToAll(std::uint32_t reply) {
    g_Slots[0] = [reply](std::uint32_t event, ModuleEventData*) {
      return event == MODULEEVENT_INIT || event == MODULEEVENT_UNLOAD ? 1u : reply;
    };
  }
};

TEST_P(GameHooksTest, PatchedRoutinesLeaveWhatTheOriginalsLeave) {
  const std::vector<std::uint8_t> initial = SnapshotData();
  const std::uint32_t hooked = Address(reinterpret_cast<const void*>(&HookWindowMessage));
  const std::uint32_t gameProcedure = game->Address(Routine::WindowProcedure);
  for (const RoutineCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    hack::testing::ResetHackRegistry();
    const Observation original = Observe(c, initial);
    core = Load(u"core", 0);
    InstallCoreHooks(core);
    // Reply 1 first: a reply of 0 leaves the event's subscribers for good.
    for (std::uint32_t reply : {1u, 0u}) {
      SCOPED_TRACE(reply);
      ReplyToAll(reply);
      const HookStandInCalls before = GetHookStandInCalls();
      const Observation patched = Observe(c, initial);
      ExpectSame(patched, original, c.scratch, hooked, gameProcedure);
      const bool main = std::strcmp(c.name, "Main") == 0;
      EXPECT_EQ(GetHookStandInCalls().gameStart - before.gameStart, main ? 1u : 0u);
      EXPECT_EQ(GetHookStandInCalls().unloadCore - before.unloadCore, main ? 1u : 0u);
    }
  }
}

// The module on slot 0 answers `event` through `answer` (1 to the rest).
template <typename Data>
void Answer(std::uint32_t event, std::function<std::uint32_t(Data*)> answer) {
  g_Slots[0] = [event, answer](std::uint32_t e, ModuleEventData* data) {
    return e == event ? answer(static_cast<Data*>(data)) : 1u;
  };
}

TEST_P(GameHooksTest, WindowMessageRepliesAndTheGamesProcedure) {
  InstallCoreHooks(core);
  game->Run(Routine::Main, {game->At(0x400000), 0, 0, 1});
  ASSERT_EQ(game->RegisteredWindowProcedure(), Address(reinterpret_cast<const void*>(&HookWindowMessage)));
  game->SetResult(Routine::WindowProcedure, 0x55);
  for (std::uint32_t reply : {11u, 7u, 1u}) {
    SCOPED_TRACE(reply);
    game->ClearCalls();
    WindowMessageEventData seen{};
    Answer<WindowMessageEventData>(MODULEEVENT_WINDOWMESSAGE, [&](WindowMessageEventData* d) {
      seen = *d;
      d->result = 0x77;
      return reply;
    });
    EXPECT_EQ(game->DispatchMessage(1, 2, 3, 4), reply == 11 ? 0x77u : 0x55u);
    EXPECT_EQ(seen.size, 24u);
    EXPECT_EQ(Address(seen.window), 1u);
    EXPECT_EQ(seen.message + seen.wParam + seen.lParam, 9u);
    EXPECT_EQ(game->CallsOf(Routine::WindowProcedure).size(), reply == 11 ? 0u : 1u);
  }
}

TEST_P(GameHooksTest, InputRepliesDecideTheTablesAndPads) {
  InstallCoreHooks(core);
  std::uint8_t keyboard[256];
  std::memset(keyboard, 0x6B, sizeof keyboard);
  game->SetKeyboard(keyboard);
  game->SetJoypad(true, 0x11, 0x22, 0x33);
  for (std::uint32_t reply : {11u, 7u, 1u}) {
    SCOPED_TRACE(reply);
    std::uint8_t keys[256];
    std::memset(keys, 0x5A, sizeof keys);
    Answer<GetKeyStatesEventData>(MODULEEVENT_GETKEYSTATES, [&](GetKeyStatesEventData* d) {
      d->keys[3] = 0x99;
      return reply;
    });
    game->Run(Routine::GetKeyStates, {Address(keys)});
    const std::uint8_t rest = reply == 11 ? 0x5A : reply == 7 ? 0 : 0x6B;
    EXPECT_EQ(keys[3], reply == 11 ? 0x99 : rest);
    EXPECT_EQ(std::count(keys, keys + 256, rest), reply == 11 ? 255 : 256);

    // Game V's routine is replaced and raises nothing.
    std::uint32_t pads[2] = {9, 9};
    Answer<GetJoypadStatesEventData>(MODULEEVENT_GETJOYPADSTATES, [&](GetJoypadStatesEventData* d) {
      d->result = 0x44;
      return reply;
    });
    const std::uint32_t result = game->Call(Routine::GetJoypadStates, {Address(&pads[0]), Address(&pads[1])});
    const std::uint32_t decided = V() ? 1 : reply;
    EXPECT_EQ(result, decided == 11 ? 0x44u : decided == 7 ? 0u : 0x33u);
    EXPECT_EQ(pads[0], decided == 11 ? 9u : decided == 7 ? 0u : 0x11u);
    EXPECT_EQ(pads[1], decided == 11 ? 9u : decided == 7 ? 0u : 0x22u);
  }
  if (V()) {
    std::uint32_t pads[2] = {9, 9};
    game->SetJoypad(false, 0x11, 0x22, 0x33);
    EXPECT_EQ(game->Call(Routine::GetJoypadStates, {Address(&pads[0]), Address(&pads[1])}), 0u);
    EXPECT_EQ(pads[0] + pads[1], 0u);
  }
}

TEST_P(GameHooksTest, ValueRepliesOfLoadSampleAndTheQueries) {
  InstallCoreHooks(core);
  game->SetResult(Routine::SampleLoader, 1);
  const std::uint8_t sample[8] = {};
  struct Row {
    std::uint32_t reply;
    std::uint8_t value;
    std::uint32_t loaded;
    std::size_t loaderCalls;
  };
  for (const Row& row : {Row{11, 2, 1, 0}, Row{11, 0, 0, 0}, Row{7, 1, 0, 0}, Row{1, 0, 1, 1}}) {
    SCOPED_TRACE(row.reply);
    game->ClearCalls();
    LoadSampleEventData seen{};
    Answer<LoadSampleEventData>(MODULEEVENT_LOADSAMPLE, [&](LoadSampleEventData* d) {
      seen = *d;
      d->result = row.value;
      return row.reply;
    });
    EXPECT_EQ(game->Call(Routine::LoadSampleCaller, {Address(sample), 8, 3, 9}), row.loaded);
    EXPECT_EQ(seen.data, sample);
    EXPECT_EQ(seen.dataSize + seen.third + seen.index, 20u);
    const auto calls = game->CallsOf(Routine::SampleLoader);
    ASSERT_EQ(calls.size(), row.loaderCalls);
    if (!calls.empty()) {
      EXPECT_EQ(calls[0].arguments, (std::vector<std::uint32_t>{Address(sample), 8, 3, 9}));
    }
  }
  // QueryFlagA answers a boolean, QueryFlagB the block's byte in its build's register.
  for (std::uint8_t flag : {0, 0x42}) {
    Answer<QueryFlagEventData>(MODULEEVENT_QUERYFLAGA, [&](QueryFlagEventData* d) {
      d->flag = flag;
      return 11u;
    });
    EXPECT_EQ(game->Call(Routine::QueryFlagA), flag != 0 ? 1u : 0u);
    Answer<QueryFlagEventData>(MODULEEVENT_QUERYFLAGB, [&](QueryFlagEventData* d) {
      d->flag = flag;
      return 11u;
    });
    const RunResult run = game->Run(Routine::QueryFlagB);
    EXPECT_EQ(run.after.eax, flag);
    EXPECT_EQ(run.stackDelta, 0);
  }
}

TEST_P(GameHooksTest, FallDamageRepliesAndTheGamesRule) {
  InstallCoreHooks(core);
  std::uint8_t* item = game->Item(7);
  const auto fall = [&](std::int16_t speed) {
    std::int16_t words[2] = {speed, 1000};
    std::memcpy(item + 32, words, sizeof words);
    const std::uint32_t dead = game->Call(Routine::FallDamage, {Address(item)});
    std::memcpy(words, item + 32, sizeof words);
    return std::pair{dead, words[1]};
  };
  // The rule: e = speed - 140 in 16 bits.
  struct Row {
    std::int16_t speed;
    std::uint32_t dead;
    std::int16_t health;
  };
  Answer<FallDamageEventData>(MODULEEVENT_FALLDAMAGE, [](FallDamageEventData*) { return 1u; });
  for (const Row& row : {Row{140, 0, 1000}, Row{141, 0, 995}, Row{154, 1, 0}, Row{155, 1, -1}, Row{-32700, 1, -1}}) {
    SCOPED_TRACE(row.speed);
    EXPECT_EQ(fall(row.speed), (std::pair{row.dead, row.health}));
  }
  for (std::uint32_t reply : {11u, 7u}) {
    Answer<FallDamageEventData>(MODULEEVENT_FALLDAMAGE, [&](FallDamageEventData* d) {
      EXPECT_EQ(d->item, item);
      d->result = 1;
      return reply;
    });
    EXPECT_EQ(fall(200), (std::pair{reply == 11 ? 1u : 0u, std::int16_t(1000)}));
  }
}

TEST_P(GameHooksTest, DeathHooksAndTheReplacedCall) {
  InstallCoreHooks(core);
  std::uint8_t* item = game->Item(3);
  for (std::uint32_t reply : {7u, 1u}) {
    SCOPED_TRACE(reply);
    Answer<ModuleEventData>(MODULEEVENT_ROLLINGBALLDEATH, [&](ModuleEventData* d) {
      EXPECT_EQ(d, nullptr);
      return reply;
    });
    EXPECT_EQ(game->Call(Routine::RollingBallDeath), reply == 7 ? 0u : 1u);

    Answer<DivingRollLandDeathEventData>(MODULEEVENT_DIVINGROLLLANDDEATH, [&](DivingRollLandDeathEventData* d) {
      EXPECT_EQ(d->item, item);
      return reply;
    });
    game->Run(Routine::DivingRollLandDeath, {Address(item)});
    std::uint16_t state;
    std::memcpy(&state, item + 16, sizeof state);
    EXPECT_EQ(state, reply == 7 ? 2 : 8);

    ReplacedCallEventData seen{};
    Answer<ReplacedCallEventData>(MODULEEVENT_REPLACEDCALL, [&](ReplacedCallEventData* d) {
      seen = *d;
      return reply;
    });
    gamedouble::RunOptions options;
    options.registers.eax = 0x12345600;
    EXPECT_EQ(game->Run(Routine::ReplacedCall, {0x10, 0x20, 0x30, 0x40}, options).after.eax, 0x12345601u);
    EXPECT_EQ(std::vector<std::uint32_t>(seen.arguments, seen.arguments + 4),
              (std::vector<std::uint32_t>{0x10, 0x20, 0x30, 0x40}));
  }
}

TEST_P(GameHooksTest, FlipeffectsStayInsideTheTable) {
  InstallCoreHooks(core);
  const std::uint32_t limit = gamedouble::FlipeffectLimit(GetParam().build);
  struct Row {
    std::uint32_t reply, number, argument;
    bool called;
  };
  for (const Row& row : {Row{1, 3, 9, true}, Row{1, limit - 1, 0, true}, Row{1, limit, 0, false}, Row{1, 255, 0, false},
                         Row{1, 0xFFFFFFFF, 0, false}, Row{7, 3, 0, false}}) {
    SCOPED_TRACE(row.number);
    game->ClearCalls();
    Answer<FlipeffectEventData>(MODULEEVENT_FLIPEFFECT, [&](FlipeffectEventData* d) {
      EXPECT_EQ(d->number, 5u);
      d->number = row.number;
      d->argument = row.argument;
      return row.reply;
    });
    game->Run(Routine::FlipeffectCaller, {5});
    EXPECT_TRUE(game->CallsOf(Routine::FlipeffectOutOfRange).empty());
    const auto calls = game->CallsOf(Routine::Flipeffect);
    ASSERT_EQ(calls.size(), row.called ? 1u : 0u);
    if (row.called) {
      EXPECT_EQ((std::vector<std::uint32_t>{calls[0].index, calls[0].arguments[0]}),
                (std::vector<std::uint32_t>{row.number, row.argument}));
    }
  }
}

TEST_P(GameHooksTest, FrameRaisesProcessAndRender2DBetweenTheGamesRoutines) {
  InstallCoreHooks(core);
  std::vector<std::uint32_t> order;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) {
    order.push_back(event);
    return 1u;
  };
  const Routine routines[] = {Routine::FrameRoutine1, Routine::FrameRoutine2, Routine::FrameRoutine3,
                              Routine::FrameRoutine4};
  for (Routine r : routines) {
    game->OnCall(r, [&order, r](const auto&) {
      order.push_back(100 + std::uint32_t(r));
      return 0u;
    });
  }
  game->Run(Routine::Frame);
  const auto at = [](Routine r) { return 100 + std::uint32_t(r); };
  EXPECT_EQ(order, (std::vector<std::uint32_t>{MODULEEVENT_PROCESS, at(routines[0]), MODULEEVENT_RENDER2D,
                                               at(routines[1]), at(routines[2]), at(routines[3])}));
}

// Every hook of the build on one image, in the core's order, without overlap;
// removing them gives the image back byte for byte.
TEST_P(GameHooksTest, InstallsEveryHookInOrderAndRemovesThemAll) {
  const std::uint32_t codeStart = game->Image().Base() + 0x1000;
  const Bytes before = ReadBytes(codeStart, game->CodeEnd() - codeStart);
  InstallCoreHooks(core);
  std::vector<Place> order = {{0x48C720, 0x48E9C0, 0x48E830, 0x4D1C00}, {0x48CB04, 0x48EE39, 0x48EC7B, 0x4D215B},
                              {0x48C9D6, 0x48ECC4, 0x48EB06, 0x4D200C}, {0x48C8E2, 0x48EBC3, 0x48EA05, 0x4D1F0A},
                              {0x48C88F, 0x48EB6C, 0x48E9AE, 0x4D1EB4}, {0x48C805, 0x48EADE, 0x48E920, 0x4D1E27},
                              {0x48C874, 0x48EB50, 0x48E992, 0x4D1E99}, {0x48C7C6, 0x48EA9E, 0x48E8E0, 0x4D1DE8},
                              {0x45CEC5, 0x45DBFD, 0x45DAED, 0x4755B6}, {0x4741AF, 0x475F42, 0x475DA2, 0x4A63E7},
                              {0x47DC93, 0x47FC92, 0x47FAE2, 0x4B7CB9}, {0x448B87, 0x449491, 0x449481, 0x414834},
                              {0x492090, 0x4944D0, 0x494310, 0x4A2880}, {0x4759B0, 0x4777E0, 0x477640, 0x4A9280},
                              {0x474635, 0x4763D3, 0x476233, 0x4A6A0E}, {0x450D70, 0x451718, 0x45170A, 0x434A21},
                              {0x450DEA, 0x4517AE, 0x451795, 0x4354E3}, {0x474445, 0x4761DA, 0x47603A, 0x4A667F},
                              {0, 0x475F12, 0x475D72, 0x4A63B2},        {0x422A00, 0x422BE0, 0x422BE0, 0x445A50},
                              {0x415596, 0x4156E6, 0x415656, 0x48B736}, {0x4285BF, 0x42891F, 0x42891F, 0x44CECF},
                              {0x436B7B, 0x43712B, 0x43711B, 0x4326CB}, {0x4721D6, 0x473F16, 0x473D76, 0x4A3F86}};
  std::vector<std::uint32_t> expected, installed;
  for (const Place& place : order) {
    if (Column(place) != 0) expected.push_back(game->At(place));
  }
  for (ListNode* node = core->m_Hacks.m_pHead; node != nullptr; node = node->m_pNext) {
    installed.push_back(static_cast<CHackHack*>(node->m_pRecord)->GetAddress());
  }
  EXPECT_EQ(installed, expected);
  EXPECT_NE(ReadBytes(codeStart, game->CodeEnd() - codeStart), before);
  UnloadHackModule(core);
  EXPECT_EQ(core->m_Hacks.m_Count, 0u);
  EXPECT_TRUE(ReadBytes(codeStart, game->CodeEnd() - codeStart) == before);
}

// A module that makes the game read its keys again from inside the event: the
// outer call's table is the one its own reply decides.
TEST_P(GameHooksTest, AHookReenteredFromItsOwnEventKeepsTheOuterCallsValues) {
  InstallCoreHooks(core);
  std::uint8_t keyboard[256];
  std::memset(keyboard, 0x6B, sizeof keyboard);
  game->SetKeyboard(keyboard);
  std::uint8_t outer[256], inner[256];
  std::memset(outer, 0x5A, sizeof outer);
  std::memset(inner, 0x5A, sizeof inner);
  int depth = 0;
  Answer<GetKeyStatesEventData>(MODULEEVENT_GETKEYSTATES, [&](GetKeyStatesEventData*) {
    if (depth++ > 0) return 1u;
    game->Run(Routine::GetKeyStates, {Address(inner)});
    return 7u;
  });
  game->Run(Routine::GetKeyStates, {Address(outer)});
  EXPECT_EQ(std::count(outer, outer + 256, 0), 256);
  EXPECT_EQ(std::count(inner, inner + 256, 0x6B), 256);
}

TEST_P(GameHooksTest, CrashFilterAndAudioSourceAnswers) {
  int pointers = 0, objects[2] = {};
  auto* source = reinterpret_cast<CAudioSource*>(&objects[0]);
  auto* stream = reinterpret_cast<CStream*>(&objects[1]);
  for (std::uint32_t reply : {7u, 11u, 1u}) {
    SCOPED_TRACE(reply);
    Answer<UnhandledExceptionEventData>(MODULEEVENT_UNHANDLEDEXCEPTION, [&](UnhandledExceptionEventData* d) {
      EXPECT_EQ(d->exceptionPointers, &pointers);
      return reply;
    });
    EXPECT_EQ(CrashFilter(&pointers), reply == 7 ? kExceptionExecuteHandler : kExceptionContinueSearch);
    Answer<OpenAudioSourceEventData>(MODULEEVENT_OPENAUDIOSOURCE, [&](OpenAudioSourceEventData* d) {
      EXPECT_EQ(d->stream, stream);
      d->result = source;
      return reply;
    });
    EXPECT_EQ(OpenAudioSourceFromStream(stream), reply == 11 ? source : nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, GameHooksTest, ::testing::ValuesIn(AllBuilds()), DoubleCaseName);

}  // namespace
}  // namespace hacktest
