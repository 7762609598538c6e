// The core's game hooks on the game double of each build: patched routines against the unpatched ones, the
// replies each hook acts on, re-entry, and installing and removing every hook.
#include <hack/GameHooks.h>
#include <hack/Hacks.h>
#include <hack/ModuleEventData.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <cstring>
#include <functional>

#include "GameDoubleFixture.h"

namespace hacktest {
namespace {

using gamedouble::Place;
using gamedouble::Routine;
using gamedouble::RunResult;

// Registers a patched routine need not keep: a C++ entry the game calls keeps
// what cdecl keeps; the query hooks define their result, not the flags.
enum Scratch : std::uint32_t { kKeepsAll, kFlags, kCdecl };

struct RoutineCase {
  const char* name;
  std::function<RunResult(const gamedouble::RunOptions&)> run;
  Scratch scratch = kKeepsAll;
};

// What a routine left: registers (eax ecx edx ebx ebp esi edi eflags), stack
// words, the game's data, the buffers its arguments point at, the calls it made.
struct Observation {
  std::array<std::uint32_t, 8> registers;
  std::int32_t stackDelta;
  std::vector<std::uint32_t> arguments, calls;
  Bytes data, buffers;
};

// The module on slot 0 answers `event` with `reply` after `act` on its block, 1 to the rest.
template <typename Data = ModuleEventData>
void Module(std::uint32_t event, std::uint32_t reply, std::function<void(Data*)> act = {}) {
  g_Slots[0] = [=](std::uint32_t e, ModuleEventData* data) {
    if (e != event) return 1u;
    if (act) act(static_cast<Data*>(data));
    return reply;
  };
}

class GameHooksTest : public GameDoubleTest {
 protected:
  struct Buffers {  // what the routines' arguments point at
    std::uint8_t keys[256];
    std::uint32_t pads[2], flagWord;  // flagWord: where QueryFlagB's pointer leads
  } buffers{};
  std::uint32_t Buffer(const void* field) const { return Address(field); }
  std::uint32_t DataStart() const { return game->CodeEnd(); }
  Bytes Data() const { return ReadBytes(DataStart(), game->Image().Base() + game->Image().Size() - DataStart()); }

  Observation Observe(const RoutineCase& c, const Bytes& initialData, const gamedouble::RunOptions& options = {}) {
    std::memcpy(reinterpret_cast<void*>(std::uintptr_t(DataStart())), initialData.data(), initialData.size());
    std::memset(&buffers, 0x5A, sizeof buffers);
    buffers.flagWord = 4;
    std::memset(game->Item(0), 0, gamedouble::CGameDouble::kItemSize);
    game->ClearCalls();
    const RunResult run = c.run(options);
    const auto& r = run.after;
    Observation o{{r.eax, r.ecx, r.edx, r.ebx, r.ebp, r.esi, r.edi, r.eflags},
                  run.stackDelta,
                  run.arguments,
                  {},
                  Data(),
                  ReadBytes(Address(&buffers), sizeof buffers)};
    const Bytes item = ReadBytes(Address(game->Item(0)), gamedouble::CGameDouble::kItemSize);
    o.buffers.insert(o.buffers.end(), item.begin(), item.end());
    for (const auto& call : game->Calls()) {
      o.calls.insert(o.calls.end(), {std::uint32_t(call.routine), call.index});
      o.calls.insert(o.calls.end(), call.arguments.begin(), call.arguments.end());
    }
    return o;
  }

  static void ExpectSame(const Observation& patched, const Observation& original, Scratch scratch,
                         std::pair<std::uint32_t, std::uint32_t> procedures) {
    // Data words that may differ: the scratch registers (the double records
    // them) and the window procedure Main registers.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> allowed{procedures};
    const bool kept[8] = {true, scratch != kCdecl, scratch != kCdecl, true, true, true, true, scratch == kKeepsAll};
    for (int i = 0; i < 8; ++i) {
      if (kept[i]) {
        EXPECT_EQ(patched.registers[i], original.registers[i]) << "register " << i;
      }
      allowed.push_back({patched.registers[i], original.registers[i]});
    }
    EXPECT_EQ(patched.stackDelta, original.stackDelta);
    EXPECT_EQ(patched.arguments, original.arguments);
    EXPECT_EQ(patched.buffers, original.buffers);
    EXPECT_EQ(patched.calls, original.calls);
    ASSERT_EQ(patched.data.size(), original.data.size());
    constexpr std::size_t kPage = 4096;  // equal pages at once: the data section is megabytes long
    for (std::size_t at = 0; at < patched.data.size(); at += 4) {
      if (at % kPage == 0 && std::memcmp(&patched.data[at], &original.data[at], kPage) == 0) {
        at += kPage - 4;
        continue;
      }
      std::pair<std::uint32_t, std::uint32_t> words;
      std::memcpy(&words.first, &patched.data[at], 4);
      std::memcpy(&words.second, &original.data[at], 4);
      if (words.first != words.second && std::find(allowed.begin(), allowed.end(), words) == allowed.end()) {
        FAIL() << "game data differs at +0x" << std::hex << at << ": " << words.first << " for " << words.second;
      }
    }
  }

  std::vector<RoutineCase> Cases() {
    auto& g = *game;
    using Options = gamedouble::RunOptions;
    const auto plain = [&g](const char* name, Routine r) {
      return RoutineCase{name, [&g, r](const Options& o) { return g.Run(r, {}, o); }};
    };
    std::vector<RoutineCase> cases = {
        plain("DefineAllObjects", Routine::DefineAllObjects), plain("Frame", Routine::Frame),
        plain("SetUpItemLinkedLists", Routine::SetUpItemLinkedLists), plain("ScriptLoaded", Routine::ScriptLoaded),
        plain("LoadItems", Routine::LoadItems), plain("RollingBallDeath", Routine::RollingBallDeath),
        {"QueryFlagA",
         [&g](const Options& o) {
           return g.Write(Place{0x4BF5C0, 0x4BF6F0, 0x4BF730, 0x51D01C}, 5u), g.Run(Routine::QueryFlagA, {}, o);
         },
         kFlags},
        {"QueryFlagB",
         [&g, this](const Options& o) {
           g.Write(Place{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC}, Buffer(&buffers.flagWord));
           return g.Run(Routine::QueryFlagB, {}, o);
         },
         kFlags},
        {"GetKeyStates",
         [&g, this](const Options& o) { return g.Run(Routine::GetKeyStates, {Buffer(buffers.keys)}, o); }},
        {"GetJoypadStates",
         [&g, this](const Options& o) {
           return g.Run(Routine::GetJoypadStates, {Buffer(&buffers.pads[0]), Buffer(&buffers.pads[1])}, o);
         },
         V() ? kCdecl : kKeepsAll},
        {"LoadSampleCaller",
         [&g, this](const Options& o) {
           return g.Run(Routine::LoadSampleCaller, {Buffer(buffers.keys), 16, 3, 9}, o);
         },
         kCdecl},
        // A fall speed of 150: e = 10.
        {"FallDamage",
         [&g](const Options& o) { return g.Item(0)[32] = 150, g.Run(Routine::FallDamage, {Address(g.Item(0))}, o); },
         kCdecl},
        {"DivingRollLandDeath",
         [&g](const Options& o) { return g.Run(Routine::DivingRollLandDeath, {Address(g.Item(0))}, o); }},
        {"FlipeffectCaller", [&g](const Options& o) { return g.Run(Routine::FlipeffectCaller, {5}, o); }},
        {"ReplacedCall",
         [&g](const Options& o) { return g.Run(Routine::ReplacedCall, {0x10, 0x20, 0x30, 0x40}, o); }}};
    if (!Editor()) cases.push_back(plain("LoadItemsSecond", Routine::LoadItemsSecond));
    for (std::uint32_t exit = 0; exit < 5; ++exit) {
      cases.push_back({"Main", [&g, exit](const Options& o) {
                         g.SetMainBehaviour(0x3D0000 + exit, exit);
                         return g.Run(Routine::Main, {g.At(0x400000), 0, 0, 1}, o);
                       }});
    }
    return cases;
  }
};

TEST_P(GameHooksTest, PatchedRoutinesLeaveWhatTheOriginalsLeave) {
  const Bytes initial = Data();
  std::uint8_t keyboard[256];
  for (int i = 0; i < 256; ++i) keyboard[i] = std::uint8_t(i ^ 0x3C);
  const auto procedures =
      std::pair{Address(reinterpret_cast<const void*>(&HookWindowMessage)), game->Address(Routine::WindowProcedure)};
  for (const RoutineCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    hack::testing::ResetHackRegistry();
    game->SetKeyboard(keyboard);
    game->SetJoypad(true, 0x11, 0x22, 0x33);
    game->SetResult(Routine::SampleLoader, 1);
    const Observation original = Observe(c, initial);
    core = Load(u"core", 0);
    InstallCoreHooks(core);
    for (std::uint32_t reply : {1u, 0u}) {  // 0 last: it leaves the event's subscribers for good
      SCOPED_TRACE(reply);
      g_Slots[0] = [reply](std::uint32_t e, ModuleEventData*) { return e <= MODULEEVENT_UNLOAD ? 1u : reply; };
      const HookStandInCalls before = GetHookStandInCalls();
      ExpectSame(Observe(c, initial), original, c.scratch, procedures);
      const std::uint32_t mainRuns = std::strcmp(c.name, "Main") == 0 ? 1 : 0;
      EXPECT_EQ(GetHookStandInCalls().gameStart - before.gameStart, mainRuns);
      EXPECT_EQ(GetHookStandInCalls().unloadCore - before.unloadCore, mainRuns);
    }
  }
}

std::uint32_t CurrentFlags() {
  std::uint32_t flags;
  asm volatile("pushfl\n\tpopl %0" : "=r"(flags));
  return flags;
}

constexpr std::uint32_t kStatus = 0x8D5;     // OF SF ZF AF PF CF
constexpr std::uint32_t kDirection = 0x400;  // DF

// The trampolines give the game back each status flag and the direction flag it arrived with, alone and all
// together, and run their C++ with the direction flag clear. Entries the game calls as functions (cdecl rows)
// are left out: the game's calls reach them with the flag clear, and they define the status flags themselves.
TEST_P(GameHooksTest, PatchedRoutinesKeepEveryStatusFlagAndTheDirectionFlag) {
  // Flags the unpatched double carries from entry to return, so that a hook losing one shows; the rest are
  // set by game code (an `add esp` that releases a frame, QueryFlagA's test, QueryFlagB's subtraction,
  // the key routine's own `cld`).
  const std::pair<const char*, std::uint32_t> carriers[] = {{"RollingBallDeath", kStatus | kDirection},
                                                            {"DivingRollLandDeath", kStatus | kDirection},
                                                            {"QueryFlagA", kDirection},
                                                            {"QueryFlagB", kDirection},
                                                            {"Frame", kDirection},
                                                            {"ScriptLoaded", kDirection},
                                                            {"GetKeyStates", kStatus}};
  std::vector<RoutineCase> cases = Cases();
  std::erase_if(cases, [](const RoutineCase& c) { return c.scratch == kCdecl; });
  const auto flagsAfter = [&](const gamedouble::RunOptions& o) {
    std::vector<std::uint32_t> flags;
    for (const RoutineCase& c : cases) {
      std::memset(&buffers, 0x5A, sizeof buffers);
      buffers.flagWord = 4;
      flags.push_back(c.run(o).after.eflags & (kStatus | kDirection));
    }
    return flags;
  };
  std::uint32_t handlerSawDirection = 0, events = 0;
  for (std::uint32_t flags : {0x001u, 0x004u, 0x010u, 0x040u, 0x080u, 0x800u, kDirection, kStatus | kDirection}) {
    SCOPED_TRACE(flags);
    gamedouble::RunOptions options;
    options.registers.eflags = 0x202 | flags;
    hack::testing::ResetHackRegistry();
    const std::vector<std::uint32_t> original = flagsAfter(options);
    core = Load(u"core", 0);
    InstallCoreHooks(core);
    g_Slots[0] = [&](std::uint32_t, ModuleEventData*) {  // handled: the game's own code goes on
      handlerSawDirection |= CurrentFlags() & kDirection;
      ++events;
      return 1u;
    };
    const std::vector<std::uint32_t> patched = flagsAfter(options);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(cases[i].name);
      const std::uint32_t compared = cases[i].scratch == kFlags ? kDirection : kStatus | kDirection;
      EXPECT_EQ(patched[i] & compared, original[i] & compared);
      for (const auto& [name, carried] : carriers) {
        if (std::strcmp(name, cases[i].name) == 0) {
          EXPECT_EQ(original[i] & carried, flags & carried) << "the row cannot catch a lost flag";
        }
      }
    }
  }
  EXPECT_GT(events, 0u);
  EXPECT_EQ(handlerSawDirection, 0u);
}

// Reply 7 clears the key table with the game's direction flag set or clear: exactly its 256 bytes, nothing
// below or above it; the other replies leave the table as the modules or the game's reading left it.
TEST_P(GameHooksTest, GetKeyStatesTouchesOnlyItsTableWhateverTheDirectionFlag) {
  InstallCoreHooks(core);
  std::uint8_t keyboard[256];
  for (int i = 0; i < 256; ++i) keyboard[i] = std::uint8_t(i | 1);
  game->SetKeyboard(keyboard);
  constexpr std::size_t kGuard = 512;
  std::vector<std::uint8_t> memory(kGuard + 256 + kGuard);
  std::uint8_t* table = memory.data() + kGuard;
  for (std::uint32_t direction : {0u, kDirection}) {
    for (std::uint32_t reply : {7u, 11u, 1u}) {
      SCOPED_TRACE(std::to_string(reply) + (direction != 0 ? " DF" : ""));
      std::fill(memory.begin(), memory.end(), 0xA5);
      Module<>(MODULEEVENT_GETKEYSTATES, reply);
      gamedouble::RunOptions options;
      options.registers.eflags = 0x202 | direction;
      const RunResult run = game->Run(Routine::GetKeyStates, {Address(table)}, options);
      EXPECT_EQ(run.after.eflags & kDirection, reply == 1 ? 0 : direction);  // the game's reading clears it
      std::vector<std::uint8_t> expected;
      for (std::size_t i = 0; i < memory.size(); ++i) {
        const bool inTable = i >= kGuard && i < kGuard + 256;
        expected.push_back(!inTable || reply == 11 ? 0xA5 : reply == 7 ? 0 : keyboard[i - kGuard]);
      }
      EXPECT_EQ(memory, expected);
    }
  }
}

// Replies 11 and 7 (reply 1 behaves as the unpatched game, above).
TEST_P(GameHooksTest, RepliesDecideWhatTheGameGets) {
  InstallCoreHooks(core);
  game->Run(Routine::Main, {game->At(0x400000), 0, 0, 1});
  game->SetResult(Routine::WindowProcedure, 0x55);
  game->SetResult(Routine::SampleLoader, 1);
  std::uint8_t keyboard[256], keys[256];
  std::memset(keyboard, 0x6B, sizeof keyboard);
  game->SetKeyboard(keyboard);
  game->SetJoypad(true, 0x11, 0x22, 0x33);
  std::uint8_t* item = game->Item(3);
  for (std::uint32_t reply : {11u, 7u}) {
    SCOPED_TRACE(reply);
    const bool value = reply == 11;
    game->ClearCalls();
    Module<WindowMessageEventData>(MODULEEVENT_WINDOWMESSAGE, reply, [](auto* d) {
      EXPECT_EQ(Address(d->window) + d->message + d->wParam + d->lParam, 10u);
      d->result = 0x77;
    });
    EXPECT_EQ(game->DispatchMessage(1, 2, 3, 4), value ? 0x77u : 0x55u);  // a reply of 7 is no value
    std::memset(keys, 0x5A, sizeof keys);
    Module<GetKeyStatesEventData>(MODULEEVENT_GETKEYSTATES, reply, [](auto* d) { d->keys[3] = 0x99; });
    game->Run(Routine::GetKeyStates, {Address(keys)});
    EXPECT_EQ(std::count(keys, keys + 256, value ? 0x5A : 0), value ? 255 : 256);
    std::uint32_t pads[2] = {9, 9};
    Module<GetJoypadStatesEventData>(MODULEEVENT_GETJOYPADSTATES, reply, [](auto* d) { d->result = 0x44; });
    const std::uint32_t padResult = game->Call(Routine::GetJoypadStates, {Address(&pads[0]), Address(&pads[1])});
    // Game V's routine is replaced and raises nothing.
    const auto expected = V()     ? std::array{0x33u, 0x11u, 0x22u}
                          : value ? std::array{0x44u, 9u, 9u}
                                  : std::array{0u, 0u, 0u};
    EXPECT_EQ((std::array{padResult, pads[0], pads[1]}), expected);
    Module<LoadSampleEventData>(MODULEEVENT_LOADSAMPLE, reply, [](auto* d) { d->result = 2; });
    EXPECT_EQ(game->Call(Routine::LoadSampleCaller, {Address(keys), 8, 3, 9}), value ? 1u : 0u);
    Module<FallDamageEventData>(MODULEEVENT_FALLDAMAGE, reply, [item](auto* d) {
      EXPECT_EQ(d->item, item);
      d->result = 1;
    });
    EXPECT_EQ((std::tuple{game->Call(Routine::FallDamage, {Address(item)}), game->CallsOf(Routine::SampleLoader).size(),
                          game->CallsOf(Routine::WindowProcedure).size()}),
              (std::tuple{value ? 1u : 0u, 0u, value ? 0u : 1u}));
  }
  Module<>(MODULEEVENT_WINDOWMESSAGE, 1);  // handled without a value: the game's procedure still answers
  EXPECT_EQ(game->DispatchMessage(1, 2, 3, 4), 0x55u);
  // QueryFlagA answers a boolean, QueryFlagB the block's byte in its build's register.
  for (std::uint8_t flag : {0, 0x42}) {
    Module<QueryFlagEventData>(MODULEEVENT_QUERYFLAGA, 11, [flag](auto* d) { d->flag = flag; });
    EXPECT_EQ(game->Call(Routine::QueryFlagA), flag != 0 ? 1u : 0u);
    Module<QueryFlagEventData>(MODULEEVENT_QUERYFLAGB, 11, [flag](auto* d) { d->flag = flag; });
    const RunResult run = game->Run(Routine::QueryFlagB);
    EXPECT_EQ((std::tuple{run.after.eax, run.stackDelta}), (std::tuple{std::uint32_t(flag), 0}));
  }
}

TEST_P(GameHooksTest, DeathHooksAndTheReplacedCall) {
  InstallCoreHooks(core);
  std::uint8_t* item = game->Item(3);
  Module<ModuleEventData>(MODULEEVENT_ROLLINGBALLDEATH, 7, [](auto* d) { EXPECT_EQ(d, nullptr); });
  EXPECT_EQ(game->Call(Routine::RollingBallDeath), 0u);  // resumed past the death code
  Module<DivingRollLandDeathEventData>(MODULEEVENT_DIVINGROLLLANDDEATH, 7,
                                       [item](auto* d) { EXPECT_EQ(d->item, item); });
  game->Run(Routine::DivingRollLandDeath, {Address(item)});
  EXPECT_EQ(item[16] | item[17] << 8, 2);
  std::vector<std::uint32_t> seen;
  Module<ReplacedCallEventData>(MODULEEVENT_REPLACEDCALL, 7,
                                [&seen](auto* d) { seen.assign(d->arguments, d->arguments + 4); });
  gamedouble::RunOptions options;
  options.registers.eax = 0x12345600;
  EXPECT_EQ(game->Run(Routine::ReplacedCall, {0x10, 0x20, 0x30, 0x40}, options).after.eax, 0x12345601u);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{0x10, 0x20, 0x30, 0x40}));
}

// The game's fall-damage rule, as the double's own routine has it and as the hook applies it when no module decides:
// e = speed - 140 in 16 bits; e <= 0 spares, e > 14 kills (health -1), else health -= trunc(e * e * 1000 / 196).
TEST_P(GameHooksTest, FallDamageFollowsTheGamesRuleWhenNoModuleDecides) {
  struct Row {
    std::int16_t speed, health, healthAfter;
    std::uint32_t dead;
  };
  const Row rows[] = {
      {140, 100, 100, 0}, {139, 100, 100, 0},  {141, 100, 95, 0},  // e = 0, -1, 1 (5)
      {141, 5, 0, 1},     {153, 1000, 138, 0}, {154, 1001, 1, 0},  // e = 1 to death, 13 (862), 14 (1000)
      {154, 1000, 0, 1},  {155, 30000, -1, 1}, {32767, 7, -1, 1},  // e = 14 to death, 15, the largest
      {-32768, 7, -1, 1}, {-100, 7, 7, 0},     {0, 7, 7, 0},       // wraps in 16 bits: deadly, then spared
  };
  std::uint8_t* item = game->Item(3);
  for (const bool hooked : {false, true}) {
    if (hooked) {
      InstallCoreHooks(core);
      Module<>(MODULEEVENT_FALLDAMAGE, MODULEREPLY_HANDLED);  // handled, but no value: the game's rule decides
    }
    for (const Row& row : rows) {
      SCOPED_TRACE(std::to_string(row.speed) + (hooked ? " hooked" : " the game's"));
      std::memcpy(item + 32, &row.speed, 2);
      std::memcpy(item + 34, &row.health, 2);
      const std::uint32_t dead = game->Call(Routine::FallDamage, {Address(item)});
      std::int16_t health = 0;
      std::memcpy(&health, item + 34, 2);
      EXPECT_EQ((std::tuple{health, dead}), (std::tuple{row.healthAfter, row.dead}));
    }
  }
}

TEST_P(GameHooksTest, FlipeffectsStayInsideTheTable) {
  InstallCoreHooks(core);
  const std::uint32_t limit = gamedouble::FlipeffectLimit(GetParam().build);
  struct Row {
    std::uint32_t reply, number, argument;
    bool called;
  };
  for (const Row& row : {Row{1, 3, 9, true}, Row{1, limit - 1, 0, true}, Row{1, limit, 0, false},
                         Row{1, 0xFFFFFFFF, 0, false}, Row{7, 3, 0, false}}) {
    SCOPED_TRACE(row.number);
    game->ClearCalls();
    Module<FlipeffectEventData>(MODULEEVENT_FLIPEFFECT, row.reply, [row](auto* d) {
      EXPECT_EQ(d->number, 5u);
      d->number = row.number;
      d->argument = row.argument;
    });
    game->Run(Routine::FlipeffectCaller, {5});
    EXPECT_TRUE(game->CallsOf(Routine::FlipeffectOutOfRange).empty());
    std::vector<std::uint32_t> called;
    for (const auto& call : game->CallsOf(Routine::Flipeffect)) called = {call.index, call.arguments[0]};
    const auto expected =
        row.called ? std::vector<std::uint32_t>{row.number, row.argument} : std::vector<std::uint32_t>{};
    EXPECT_EQ(called, expected);
  }
}

TEST_P(GameHooksTest, FrameRaisesProcessAndRender2DBetweenTheGamesRoutines) {
  InstallCoreHooks(core);
  std::vector<std::uint32_t> order;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) { return order.push_back(event), 1u; };
  for (Routine r : {Routine::FrameRoutine1, Routine::FrameRoutine2, Routine::FrameRoutine3, Routine::FrameRoutine4}) {
    game->OnCall(r, [&order, r](const auto&) { return order.push_back(100 + std::uint32_t(r)), 0u; });
  }
  game->Run(Routine::Frame);
  const auto first = 100 + std::uint32_t(Routine::FrameRoutine1);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{MODULEEVENT_PROCESS, first, MODULEEVENT_RENDER2D, first + 1, first + 2,
                                               first + 3}));
}

// A module makes the game read its keys again inside the event: the outer
// call's table is the one its own reply decides.
TEST_P(GameHooksTest, AHookReenteredFromItsOwnEventKeepsTheOuterCallsValues) {
  InstallCoreHooks(core);
  std::uint8_t keyboard[256], outer[256], inner[256];
  std::memset(keyboard, 0x6B, sizeof keyboard);
  game->SetKeyboard(keyboard);
  int depth = 0;
  g_Slots[0] = [&](std::uint32_t event, ModuleEventData*) {
    if (event != MODULEEVENT_GETKEYSTATES || depth++ > 0) return 1u;
    game->Run(Routine::GetKeyStates, {Address(inner)});
    return 7u;
  };
  game->Run(Routine::GetKeyStates, {Address(outer)});
  EXPECT_EQ(std::count(outer, outer + 256, 0) + std::count(inner, inner + 256, 0x6B), 2 * 256);
}

TEST_P(GameHooksTest, CrashFilterAndAudioSourceAnswers) {
  int objects[3] = {};
  auto* source = reinterpret_cast<CAudioSource*>(&objects[1]);
  auto* stream = reinterpret_cast<CStream*>(&objects[2]);
  for (std::uint32_t reply : {7u, 11u, 1u}) {
    SCOPED_TRACE(reply);
    Module<UnhandledExceptionEventData>(MODULEEVENT_UNHANDLEDEXCEPTION, reply,
                                        [&](auto* d) { EXPECT_EQ(d->exceptionPointers, &objects[0]); });
    EXPECT_EQ(CrashFilter(&objects[0]), reply == 7 ? kExceptionExecuteHandler : kExceptionContinueSearch);
    Module<OpenAudioSourceEventData>(MODULEEVENT_OPENAUDIOSOURCE, reply, [&](auto* d) {
      EXPECT_EQ(d->stream, stream);
      d->result = source;
    });
    EXPECT_EQ(OpenAudioSourceFromStream(stream), reply == 11 ? source : nullptr);
  }
}

// Every hook of the build on one image, in the core's order, without overlap;
// removing them gives the image back byte for byte.
TEST_P(GameHooksTest, InstallsEveryHookInOrderAndRemovesThemAll) {
  const std::uint32_t codeStart = game->Image().Base() + 0x1000;
  const Bytes before = ReadBytes(codeStart, game->CodeEnd() - codeStart);
  InstallCoreHooks(core);
  const Place order[] = {{0x48C720, 0x48E9C0, 0x48E830, 0x4D1C00}, {0x48CB04, 0x48EE39, 0x48EC7B, 0x4D215B},
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
  EXPECT_EQ((std::tuple{installed, ReadBytes(codeStart, game->CodeEnd() - codeStart) != before}),
            (std::tuple{expected, true}));
  UnloadHackModule(core);
  EXPECT_EQ((std::tuple{core->m_Hacks.m_Count, ReadBytes(codeStart, game->CodeEnd() - codeStart) == before}),
            (std::tuple{0u, true}));
}

INSTANTIATE_TEST_SUITE_P(Builds, GameHooksTest, ::testing::ValuesIn(AllBuilds()), DoubleCaseName);

}  // namespace
}  // namespace hacktest
