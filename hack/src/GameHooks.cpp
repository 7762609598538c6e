// The bodies of the core's game hooks, the entries the game calls directly, and their installation.
#include <hack/GameHooks.h>
#include <hack/GameRoutines.h>
#include <hack/Hacks.h>
#include <hack/ModuleEventData.h>

#include <cstring>
#include <iterator>

#include "GamePlace.h"
#include "HookTrampolines.h"

namespace {

// ---- Stand-ins until the core brings its start and unload routines ---------

HookStandInCalls g_StandInCalls{};
void StandInGameStart() { ++g_StandInCalls.gameStart; }
void StandInUnloadCore() { ++g_StandInCalls.unloadCore; }

// ---- Places ------------------------------------------------------------------

// The game's main function: its entry (the prologue the start hook replaces)
// and the epilogue at each of its five returns.
constexpr GamePlace kStart{0x48C720, 0x48E9C0, 0x48E830, 0x4D1C00};
constexpr GamePlace kExits[] = {
    {0x48CB04, 0x48EE39, 0x48EC7B, 0x4D215B}, {0x48C9D6, 0x48ECC4, 0x48EB06, 0x4D200C},
    {0x48C8E2, 0x48EBC3, 0x48EA05, 0x4D1F0A}, {0x48C88F, 0x48EB6C, 0x48E9AE, 0x4D1EB4},
    {0x48C805, 0x48EADE, 0x48E920, 0x4D1E27},
};
// Bytes the start and exit patches overwrite: the prologue's `sub esp, imm8`
// and two pushes on the Editor, a `sub esp, imm32` elsewhere; the epilogue's
// `add esp` and `ret 16`.
std::uint32_t StartPatchSize() { return GamePlace::ByBuild(5, 6, 6, 6); }
std::uint32_t ExitPatchSize() { return GamePlace::ByBuild(6, 9, 9, 9); }
// The main function's frame.
std::uint32_t MainFrameBytes() { return GamePlace::ByBuild(20, 168, 168, 164); }
constexpr std::uint32_t kMainArgumentBytes = 16;

constexpr GamePlace kWindowChanged{0x48C874, 0x48EB50, 0x48E992, 0x4D1E99};
constexpr GamePlace kWindowProcedureValue{0x48C7C6, 0x48EA9E, 0x48E8E0, 0x4D1DE8};
constexpr GamePlace kDefineAllObjects{0x45CEC5, 0x45DBFD, 0x45DAED, 0x4755B6};
constexpr std::uint32_t kDefineAllObjectsFrame = 8;
constexpr GamePlace kSetUpItemLinkedLists{0x4741AF, 0x475F42, 0x475DA2, 0x4A63E7};
constexpr std::uint32_t kSetUpItemLinkedListsFrame = 12;
constexpr GamePlace kFrame{0x47DC93, 0x47FC92, 0x47FAE2, 0x4B7CB9};
constexpr std::uint32_t kFrameFrame = 20;
constexpr GamePlace kQueryFlagA{0x448B87, 0x449491, 0x449481, 0x414834};
constexpr GamePlace kQueryFlagAValue{0x4BF5C0, 0x4BF6F0, 0x4BF730, 0x51D01C};
constexpr GamePlace kGetKeyStates{0x492090, 0x4944D0, 0x494310, 0x4A2880};
constexpr GamePlace kKeyboardWord{0x754468, 0x7544F4, 0x754534, 0x86BD94};
constexpr std::uint32_t kKeyTableBytes = 256;
constexpr GamePlace kGetJoypadStates{0x4759B0, 0x4777E0, 0x477640, 0};
constexpr std::uint32_t kGetJoypadStatesPatchSize = 7;
constexpr std::uint32_t kGetJoypadStatesFrame = 52;
constexpr GamePlace kGetJoypadStatesV{0, 0, 0, 0x4A9280};
constexpr GamePlace kJoypadPresent{0, 0, 0, 0x86BA34};
constexpr GamePlace kJoypadFirst{0, 0, 0, 0x86BA3C};
constexpr GamePlace kJoypadSecond{0, 0, 0, 0x86BA40};
constexpr GamePlace kJoypadResult{0, 0, 0, 0x86BA44};
constexpr GamePlace kLoadSampleCall{0x474635, 0x4763D3, 0x476233, 0x4A6A0E};
constexpr GamePlace kScriptLoaded{0x450D70, 0x451718, 0x45170A, 0x434A21};
constexpr std::uint32_t kScriptLoadedFrame = 24;
constexpr GamePlace kQueryFlagB{0x450DEA, 0x4517AE, 0x451795, 0x4354E3};
constexpr GamePlace kQueryFlagBBack{0x450DEF, 0x4517B3, 0x45179D, 0x4354EB};
constexpr GamePlace kQueryFlagBPointer{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC};
constexpr std::uint32_t kQueryFlagBBit = 2;
constexpr GamePlace kLoadItems[] = {{0x474445, 0x4761DA, 0x47603A, 0x4A667F}, {0, 0x475F12, 0x475D72, 0x4A63B2}};
constexpr std::uint32_t kLoadItemsFrame = 28;
constexpr GamePlace kFallDamage{0x422A00, 0x422BE0, 0x422BE0, 0x445A50};
constexpr GamePlace kRollingBallDeath{0x415596, 0x4156E6, 0x415656, 0x48B736};
constexpr GamePlace kRollingBallDeathSkip{0x4155E1, 0x415731, 0x4156A1, 0x48B781};
constexpr GamePlace kDivingRollLandDeath{0x4285BF, 0x42891F, 0x42891F, 0x44CECF};
constexpr GamePlace kDivingRollLandDeathBack{0x4285CD, 0x42892D, 0x42892D, 0x44CEDD};
constexpr std::uint32_t kDivingRollLandDeathPatchSize = 6;
constexpr std::uint32_t kItemStateOffset = 16;
constexpr std::uint16_t kItemStateDiveDeath = 2;
constexpr std::uint16_t kItemStateDiveLand = 8;
constexpr GamePlace kFlipeffect{0x436B7B, 0x43712B, 0x43711B, 0x4326CB};
constexpr std::uint32_t kFlipeffectPatchSize = 9;
// push 0 (2 bytes), call [table + eax*4] (7), add esp, 4 (3).
constexpr std::uint32_t kFlipeffectStretch = 12;
constexpr std::uint32_t kFlipeffectArgumentBytes = kStackWord;
constexpr GamePlace kReplacedCall{0x4721D6, 0x473F16, 0x473D76, 0x4A3F86};
constexpr std::uint32_t kReplacedCallPatchSize = 6;
constexpr std::uint32_t kReplacedCallFrame = 56;
constexpr std::uint32_t kJumpPatchSize = 5;
// At a routine's entry the return address is on top and the first argument above it.
constexpr std::uint32_t kFirstArgument = kStackWord;
// AL, CL, DL within their registers.
constexpr std::uint32_t kLowByte = 0xFF;
constexpr std::uint32_t kCallPatchSize = 5;

// The registers the game's epilogues pop that the hooks replace. The game
// pushed them in the order listed and pops them in reverse.
constexpr std::uint32_t HookContext::*kMainSavedRegisters[] = {&HookContext::ebx, &HookContext::ebp};
constexpr std::uint32_t HookContext::*kOneSavedRegister = &HookContext::esi;
constexpr std::uint32_t HookContext::*kFrameSavedRegisters[] = {&HookContext::ebx, &HookContext::esi,
                                                                &HookContext::edi};

// Where the trampolines go back to and the game data their bodies read,
// translated once when the hooks are installed (the core's own state; the
// game's places do not move while it runs).
struct TranslatedPlaces {
  std::uint32_t startBack, windowChangedBack, setUpItemLinkedListsBack, queryFlagABack, getKeyStatesBack,
      getJoypadStatesBack, queryFlagBBack, rollingBallDeathBack, rollingBallDeathSkip, divingRollLandDeathBack,
      flipeffectBack;
  std::uint32_t window, queryFlagAValue, keyboardWord, queryFlagBPointer, playerItem;
};
TranslatedPlaces g_Translated{};

void TranslatePlaces() {
  TranslatedPlaces& t = g_Translated;
  t.startBack = kStart.At() + StartPatchSize();
  t.windowChangedBack = kWindowChanged.At() + kJumpPatchSize;
  t.setUpItemLinkedListsBack = kSetUpItemLinkedLists.At() + kJumpPatchSize;
  t.queryFlagABack = kQueryFlagA.At() + kJumpPatchSize;
  t.getKeyStatesBack = kGetKeyStates.At() + kJumpPatchSize;
  t.getJoypadStatesBack = kGetJoypadStates.At() + kGetJoypadStatesPatchSize;
  t.queryFlagBBack = kQueryFlagBBack.At();
  t.rollingBallDeathBack = kRollingBallDeath.At() + kJumpPatchSize;
  t.rollingBallDeathSkip = kRollingBallDeathSkip.At();
  t.divingRollLandDeathBack = kDivingRollLandDeathBack.At();
  t.flipeffectBack = kFlipeffect.At() + kFlipeffectStretch;
  t.window = Game::GetWindowAddress();
  t.queryFlagAValue = kQueryFlagAValue.At();
  t.keyboardWord = kKeyboardWord.At();
  t.queryFlagBPointer = kQueryFlagBPointer.At();
  t.playerItem = Game::GetPlayerItemAddress();
}

std::uint32_t Raise(std::uint32_t event, ModuleEventData* data = nullptr) { return RaiseModuleEvent(event, data); }

// Pops saved registers (pushed in the listed order) off the game's stack at esp.
template <std::size_t N>
std::uint32_t PopRegisters(HookContext* context, std::uint32_t esp, std::uint32_t HookContext::*const (&registers)[N]) {
  for (std::size_t i = N; i-- > 0;) {
    context->*registers[i] = ReadGameWord(esp);
    esp += kStackWord;
  }
  return esp;
}

// Releases a frame as `add esp, bytes` does, then returns as `ret` does.
void ReleaseAndReturn(HookContext* context, std::uint32_t esp, std::uint32_t frame, std::uint32_t argumentBytes = 0) {
  context->SetFlagsOfAdd(esp, frame);
  context->ReturnFrom(esp + frame, argumentBytes);
}

}  // namespace

tHookRoutine g_GameStartRoutine = StandInGameStart;
tHookRoutine g_UnloadCoreModule = StandInUnloadCore;

HookStandInCalls& GetHookStandInCalls() { return g_StandInCalls; }

// ---- Trampoline bodies (each renders the game code its patch replaced) -------

// The main function's prologue, after the start routine.
extern "C" void HookStart(HookContext* context) {
  g_GameStartRoutine();
  std::uint32_t esp = context->GameEsp();
  const std::uint32_t frame = MainFrameBytes();
  context->SetFlagsOfSub(esp, frame);
  esp -= frame;
  if (GameVersion == GAMEVERSION_IV_EDITOR) {
    for (auto saved : kMainSavedRegisters) {
      esp -= kStackWord;
      WriteGameWord(esp, context->*saved);
    }
  }
  context->Resume(g_Translated.startBack, esp);
}

// Each of the main function's returns: unload, then `add esp, frame; ret 16`.
extern "C" void HookExit(HookContext* context) {
  g_UnloadCoreModule();
  ReleaseAndReturn(context, context->GameEsp(), MainFrameBytes(), kMainArgumentBytes);
}

// The overwritten `mov [window], eax`.
extern "C" void HookWindowChanged(HookContext* context) {
  const std::uint32_t window = context->eax;
  WriteGame(g_Translated.window, window);
  WindowChangedEventData data{};
  data.size = sizeof data;
  data.window = reinterpret_cast<HWND>(std::uintptr_t(window));
  Raise(MODULEEVENT_WINDOWCHANGED, &data);
  context->ResumeAt(g_Translated.windowChangedBack);
}

extern "C" void HookDefineAllObjects(HookContext* context) {
  Raise(MODULEEVENT_DEFINEALLOBJECTS);
  ReleaseAndReturn(context, context->GameEsp(), kDefineAllObjectsFrame);
}

// `add esp, 12; xor ecx, ecx`, then on.
extern "C" void HookSetUpItemLinkedLists(HookContext* context) {
  Raise(MODULEEVENT_SETUPITEMLINKEDLISTS);
  context->ecx = 0;
  context->SetFlagsOfClear();
  context->Resume(g_Translated.setUpItemLinkedListsBack, context->GameEsp() + kSetUpItemLinkedListsFrame);
}

// The tail of the game's frame routine, with the two events in it.
extern "C" void HookFrame(HookContext* context) {
  Raise(MODULEEVENT_PROCESS);
  Game::RunFrameRoutine1();
  Raise(MODULEEVENT_RENDER2D);
  Game::RunFrameRoutine2();
  Game::RunFrameRoutine3();
  context->eax = Game::RunFrameRoutine4();
  std::uint32_t esp = context->GameEsp();
  if (IsGameV()) esp = PopRegisters(context, esp, kFrameSavedRegisters);
  ReleaseAndReturn(context, esp, kFrameFrame);
}

extern "C" void HookQueryFlagA(HookContext* context) {
  QueryFlagEventData data{};
  data.size = sizeof data;
  const std::uint32_t reply = Raise(MODULEEVENT_QUERYFLAGA, &data);
  const bool flag = ReplyHolds(reply, MODULEREPLY_VALUE) ? data.flag != 0
                                                         : ReadGame<std::uint32_t>(g_Translated.queryFlagAValue) != 0;
  context->eax = flag ? 1 : 0;
  context->ResumeAt(g_Translated.queryFlagABack);
}

// At the routine's entry: the key table is its first argument.
extern "C" void HookGetKeyStates(HookContext* context) {
  const std::uint32_t esp = context->GameEsp();
  GetKeyStatesEventData data{};
  data.size = sizeof data;
  data.keys = static_cast<std::uint8_t*>(GamePointer(ReadGameWord(esp + kFirstArgument)));
  const std::uint32_t reply = Raise(MODULEEVENT_GETKEYSTATES, &data);
  // Called every frame: the usual reply (neither a value nor a skip, which both stop) is told by one test.
  const bool stops = ReplyHolds(reply, MODULEREPLY_HANDLED | MODULEREPLY_STOP);
  if (stops && ReplyHolds(reply, MODULEREPLY_VALUE)) {
    context->ReturnFrom(esp);
  } else if (stops && ReplyHolds(reply, MODULEREPLY_SKIP)) {
    if (data.keys != nullptr) std::memset(data.keys, 0, kKeyTableBytes);
    context->ReturnFrom(esp);
  } else {
    context->eax = ReadGame<std::uint32_t>(g_Translated.keyboardWord);  // the overwritten `mov eax, [keyboard]`
    context->ResumeAt(g_Translated.getKeyStatesBack);
  }
}

// At the routine's entry: the two result pointers are its arguments.
extern "C" void HookGetJoypadStates(HookContext* context) {
  const std::uint32_t esp = context->GameEsp();
  GetJoypadStatesEventData data{};
  data.size = sizeof data;
  data.first = static_cast<std::uint32_t*>(GamePointer(ReadGameWord(esp + kFirstArgument)));
  data.second = static_cast<std::uint32_t*>(GamePointer(ReadGameWord(esp + kFirstArgument + kStackWord)));
  const std::uint32_t reply = Raise(MODULEEVENT_GETJOYPADSTATES, &data);
  if (ReplyHolds(reply, MODULEREPLY_VALUE)) {
    context->eax = data.result;
    context->ReturnFrom(esp);
  } else if (ReplyHolds(reply, MODULEREPLY_SKIP)) {
    if (data.first != nullptr) *data.first = 0;
    if (data.second != nullptr) *data.second = 0;
    context->eax = 0;
    context->ReturnFrom(esp);
  } else {
    // The overwritten `sub esp, 52; mov eax, esp`.
    context->SetFlagsOfSub(esp, kGetJoypadStatesFrame);
    context->eax = esp - kGetJoypadStatesFrame;
    context->Resume(g_Translated.getJoypadStatesBack, esp - kGetJoypadStatesFrame);
  }
}

// At the routine's end: `pop reg; add esp, 24; ret`.
extern "C" void HookScriptLoaded(HookContext* context) {
  Raise(MODULEEVENT_SCRIPTLOADED);
  const std::uint32_t esp = context->GameEsp();
  context->*kOneSavedRegister = ReadGameWord(esp);
  ReleaseAndReturn(context, esp + kStackWord, kScriptLoadedFrame);
}

extern "C" void HookQueryFlagB(HookContext* context) {
  QueryFlagEventData data{};
  data.size = sizeof data;
  const std::uint32_t reply = Raise(MODULEEVENT_QUERYFLAGB, &data);
  std::uint8_t result;
  if (ReplyHolds(reply, MODULEREPLY_VALUE)) {
    result = data.flag;
  } else {
    const std::uint32_t pointer = ReadGame<std::uint32_t>(g_Translated.queryFlagBPointer);
    const std::uint32_t word = pointer != 0 ? ReadGame<std::uint32_t>(pointer) : 0;
    result = std::uint8_t(1 - ((word >> kQueryFlagBBit) & 1));
  }
  std::uint32_t esp = context->GameEsp();
  // The result register and the release of one argument word differ by build.
  switch (GameVersion) {
    case GAMEVERSION_IV_EDITOR:
    case GAMEVERSION_IV_RELEASE_PATCHED:
      context->ecx = (context->ecx & ~kLowByte) | result;
      break;
    case GAMEVERSION_IV_DEMO_CORVEL:
      context->ecx = (context->ecx & ~kLowByte) | result;
      esp += kStackWord;
      break;
    default:
      context->edx = (context->edx & ~kLowByte) | result;
      esp += kStackWord;
      break;
  }
  context->Resume(g_Translated.queryFlagBBack, esp);
}

// At the routine's end: `pop reg; add esp, 28; ret`.
extern "C" void HookLoadItems(HookContext* context) {
  Raise(MODULEEVENT_LOADITEMS);
  const std::uint32_t esp = context->GameEsp();
  context->*kOneSavedRegister = ReadGameWord(esp);
  ReleaseAndReturn(context, esp + kStackWord, kLoadItemsFrame);
}

extern "C" void HookRollingBallDeath(HookContext* context) {
  const std::uint32_t reply = Raise(MODULEEVENT_ROLLINGBALLDEATH);
  if (ReplyHolds(reply, MODULEREPLY_SKIP)) {
    context->ResumeAt(g_Translated.rollingBallDeathSkip);
  } else {
    context->eax = ReadGame<std::uint32_t>(g_Translated.playerItem);  // the overwritten `mov eax, [player item]`
    context->ResumeAt(g_Translated.rollingBallDeathBack);
  }
}

// The item is in ESI; the skipped game code sets its state word to 8.
extern "C" void HookDivingRollLandDeath(HookContext* context) {
  DivingRollLandDeathEventData data{};
  data.size = sizeof data;
  data.item = GamePointer(context->esi);
  const std::uint32_t reply = Raise(MODULEEVENT_DIVINGROLLLANDDEATH, &data);
  const std::uint16_t state = ReplyHolds(reply, MODULEREPLY_SKIP) ? kItemStateDiveDeath : kItemStateDiveLand;
  WriteGame(context->esi + kItemStateOffset, state);
  context->ResumeAt(g_Translated.divingRollLandDeathBack);
}

// The number is in EAX. A module may change it, and the core's range check
// may not have run (a Stop before it): the table is indexed only within the
// build's count.
extern "C" void HookFlipeffect(HookContext* context) {
  FlipeffectEventData data{};
  data.size = sizeof data;
  data.number = context->eax;
  data.argument = 0;
  const std::uint32_t reply = Raise(MODULEEVENT_FLIPEFFECT, &data);
  const std::uint32_t esp = context->GameEsp();
  if (!ReplyHolds(reply, MODULEREPLY_SKIP) && data.number < Game::FlipeffectCount()) {
    context->eax = Game::CallFlipeffect(data.number, data.argument);
    // `add esp, 4` after the call, on the stack that held the argument.
    context->SetFlagsOfAdd(esp - kFlipeffectArgumentBytes, kFlipeffectArgumentBytes);
  }
  context->ResumeAt(g_Translated.flipeffectBack);
}

// `mov al, 1; add esp, 56; ret`, with the routine's four arguments in the event.
extern "C" void HookReplacedCall(HookContext* context) {
  const std::uint32_t esp = context->GameEsp();
  ReplacedCallEventData data{};
  data.size = sizeof data;
  // Above the frame: the return address, then the routine's arguments.
  for (std::uint32_t i = 0; i < std::size(data.arguments); ++i) {
    data.arguments[i] = ReadGameWord(esp + kReplacedCallFrame + kFirstArgument + kStackWord * i);
  }
  Raise(MODULEEVENT_REPLACEDCALL, &data);
  context->eax = (context->eax & ~kLowByte) | 1;
  ReleaseAndReturn(context, esp, kReplacedCallFrame);
}

// ---- Entries the game calls directly -----------------------------------------

std::uint32_t HookWindowMessage(HWND window, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
  WindowMessageEventData data{};
  data.size = sizeof data;
  data.window = window;
  data.message = message;
  data.wParam = wParam;
  data.lParam = lParam;
  const std::uint32_t reply = Raise(MODULEEVENT_WINDOWMESSAGE, &data);
  if (ReplyHolds(reply, MODULEREPLY_VALUE)) return data.result;
  return Game::CallWindowProcedure(window, message, wParam, lParam);
}

std::uint32_t HookLoadSample(const void* sample, std::uint32_t size, std::uint32_t third, std::uint32_t index) {
  LoadSampleEventData data{};
  data.size = sizeof data;
  data.data = sample;
  data.dataSize = size;
  data.third = third;
  data.index = index;
  const std::uint32_t reply = Raise(MODULEEVENT_LOADSAMPLE, &data);
  if (ReplyHolds(reply, MODULEREPLY_VALUE)) return data.result != 0 ? 1 : 0;
  if (ReplyHolds(reply, MODULEREPLY_SKIP)) return 0;
  if (GameVersion == GAMEVERSION_IV_EDITOR) return Game::LoadSampleEditor(sample, size, third, index);
  return Game::LoadSample(sample, size, third, index);
}

bool FallDamageRule(void* item) {
  constexpr std::uint32_t kFallSpeedOffset = 32;
  constexpr std::uint32_t kHealthOffset = 34;
  constexpr std::int16_t kSafeFallSpeed = 140;
  constexpr std::int16_t kDeadlyExcess = 14;
  constexpr std::int32_t kDamageScale = 1000;
  constexpr std::int32_t kDamageDivisor = 196;
  const auto base = std::uint32_t(reinterpret_cast<std::uintptr_t>(item));
  // The game computes the excess in 16 bits: a speed near -32768 wraps.
  const auto excess = std::int16_t(std::uint16_t(ReadGame<std::int16_t>(base + kFallSpeedOffset)) - kSafeFallSpeed);
  if (excess <= 0) return false;
  if (excess > kDeadlyExcess) {
    WriteGame(base + kHealthOffset, std::int16_t(-1));
    return true;
  }
  const auto health =
      std::int16_t(ReadGame<std::int16_t>(base + kHealthOffset) - excess * excess * kDamageScale / kDamageDivisor);
  WriteGame(base + kHealthOffset, health);
  return health <= 0;
}

std::uint32_t HookFallDamage(void* item) {
  FallDamageEventData data{};
  data.size = sizeof data;
  data.item = item;
  const std::uint32_t reply = Raise(MODULEEVENT_FALLDAMAGE, &data);
  if (ReplyHolds(reply, MODULEREPLY_VALUE)) return data.result != 0 ? 1 : 0;
  if (ReplyHolds(reply, MODULEREPLY_SKIP)) return 0;
  return FallDamageRule(item) ? 1 : 0;
}

std::uint32_t GetJoypadStatesV(std::uint32_t* first, std::uint32_t* second) {
  std::uint32_t a = 0, b = 0, result = 0;
  if (ReadGame<std::uint32_t>(kJoypadPresent.At()) != 0) {
    a = ReadGame<std::uint32_t>(kJoypadFirst.At());
    b = ReadGame<std::uint32_t>(kJoypadSecond.At());
    result = ReadGame<std::uint32_t>(kJoypadResult.At());
  }
  if (first != nullptr) *first = a;
  if (second != nullptr) *second = b;
  return result;
}

std::int32_t CrashFilter(void* exceptionPointers) {
  UnhandledExceptionEventData data{};
  data.size = sizeof data;
  data.exceptionPointers = exceptionPointers;
  const std::uint32_t reply = Raise(MODULEEVENT_UNHANDLEDEXCEPTION, &data);
  return ReplyHolds(reply, MODULEREPLY_SKIP) ? kExceptionExecuteHandler : kExceptionContinueSearch;
}

CAudioSource* OpenAudioSourceFromStream(CStream* stream) {
  OpenAudioSourceEventData data{};
  data.size = sizeof data;
  data.stream = stream;
  const std::uint32_t reply = Raise(MODULEEVENT_OPENAUDIOSOURCE, &data);
  return ReplyHolds(reply, MODULEREPLY_VALUE) ? data.result : nullptr;
}

// ---- Installation -------------------------------------------------------------

namespace {

template <typename F>
std::uint32_t EntryAddress(F* function) {
  return std::uint32_t(reinterpret_cast<std::uintptr_t>(function));
}

void Jump(tHackModule* module, const GamePlace& place, void (*trampoline)(), std::uint32_t size) {
  new CHackJumpHack(module, place.At(size), CodeAddress(trampoline), size);
}

}  // namespace

void InstallCoreHooks(tHackModule* module) {
  TranslatePlaces();
  Jump(module, kStart, HookTrampolineStart, StartPatchSize());
  for (const GamePlace& exit : kExits) Jump(module, exit, HookTrampolineExit, ExitPatchSize());
  Jump(module, kWindowChanged, HookTrampolineWindowChanged, kJumpPatchSize);
  new CHackValueHack(module, kWindowProcedureValue.At(kStackWord), EntryAddress(&HookWindowMessage));
  Jump(module, kDefineAllObjects, HookTrampolineDefineAllObjects, kJumpPatchSize);
  Jump(module, kSetUpItemLinkedLists, HookTrampolineSetUpItemLinkedLists, kJumpPatchSize);
  Jump(module, kFrame, HookTrampolineFrame, kJumpPatchSize);
  Jump(module, kQueryFlagA, HookTrampolineQueryFlagA, kJumpPatchSize);
  Jump(module, kGetKeyStates, HookTrampolineGetKeyStates, kJumpPatchSize);
  if (kGetJoypadStates.Exists()) {
    Jump(module, kGetJoypadStates, HookTrampolineGetJoypadStates, kGetJoypadStatesPatchSize);
  } else {
    new CHackJumpHack(module, kGetJoypadStatesV.At(kJumpPatchSize), EntryAddress(&GetJoypadStatesV), kJumpPatchSize);
  }
  new CHackCallHack(module, kLoadSampleCall.At(kCallPatchSize), EntryAddress(&HookLoadSample), kCallPatchSize);
  Jump(module, kScriptLoaded, HookTrampolineScriptLoaded, kJumpPatchSize);
  Jump(module, kQueryFlagB, HookTrampolineQueryFlagB, kJumpPatchSize);
  for (const GamePlace& place : kLoadItems) {
    if (place.Exists()) Jump(module, place, HookTrampolineLoadItems, kJumpPatchSize);
  }
  new CHackJumpHack(module, kFallDamage.At(kJumpPatchSize), EntryAddress(&HookFallDamage), kJumpPatchSize);
  Jump(module, kRollingBallDeath, HookTrampolineRollingBallDeath, kJumpPatchSize);
  Jump(module, kDivingRollLandDeath, HookTrampolineDivingRollLandDeath, kDivingRollLandDeathPatchSize);
  Jump(module, kFlipeffect, HookTrampolineFlipeffect, kFlipeffectPatchSize);
  Jump(module, kReplacedCall, HookTrampolineReplacedCall, kReplacedCallPatchSize);
}
