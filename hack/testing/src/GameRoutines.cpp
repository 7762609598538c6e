// The game double's routines: the game's original instructions at each hook place, and the stubs.
#include <cstdio>
#include <cstdlib>

#include "FeaturePlaces.h"

namespace gamedouble {

using namespace gameimage;
using namespace places;

namespace {

// Values the routines load into registers they are about to lose, so that a
// hook that does not restore them shows.
constexpr std::uint32_t kClobberEbx = 0xB0B0B0B0, kClobberEbp = 0xBEBEBEBE, kClobberEsi = 0x5E5E5E5E,
                        kClobberEdi = 0xD1D1D1D1, kClobberEcx = 0xC0C0C0C0, kClobberEax = 0xA1A1A1A1;
// ReplacedCall leaves this in EAX above the AL it sets.
constexpr std::uint32_t kReplacedCallHighBits = 0x12345600;

// Frames of the routines, as their patch places imply.
constexpr std::int32_t kMainFrameEditor = 20, kMainFrameIV = 168, kMainFrameV = 164;
constexpr std::uint16_t kMainArgumentBytes = 16;
constexpr std::int32_t kDefineAllObjectsFrame = 8;
constexpr std::int32_t kSetUpItemLinkedListsFrame = 12;
constexpr std::int32_t kFrameFrame = 20;
constexpr std::int32_t kJoypadFrame = 52;
constexpr std::int32_t kScriptLoadedFrame = 24;
constexpr std::int32_t kLoadItemsFrame = 28;
constexpr std::int32_t kQueryFlagBReleased = 4;
constexpr std::int32_t kReplacedCallFrame = 56;

// Item fields of the game's rules.
constexpr std::int8_t kItemFallSpeed = 32, kItemHealth = 34, kItemAnimation = 16;
constexpr std::int32_t kFallDamageThreshold = 140;
constexpr std::int8_t kFallDamageDeadly = 14;
constexpr std::int32_t kFallDamageScale = 1000, kFallDamageDivisor = 196;
constexpr std::uint16_t kDeadHealth = 0xFFFF;
constexpr std::uint16_t kDivingRollLandAnimation = 8;
constexpr std::uint8_t kQueryFlagBBit = 2;
constexpr std::uint32_t kKeyTableWords = 256 / 4;
constexpr std::uint16_t kWindowProcedureArgumentBytes = 16;
constexpr std::int32_t kWord = 4;

[[noreturn]] void Broken(const char* what, std::uint32_t address) {
  std::fprintf(stderr, "game double: %s at 0x%X\n", what, address);
  std::abort();
}

// Pads with NOPs up to the preferred place (the code must not be past it).
void PadTo(CCodeWriter& w, CEmitter& code, std::uint32_t preferred) {
  const std::uint32_t target = w.Game().At(preferred);
  if (code.Here() > target) Broken("routine runs past its place", target);
  code.Nop(target - code.Here());
}

Build BuildOf(CCodeWriter& w) { return w.Game().GetBuild(); }
std::uint32_t In(CCodeWriter& w, const Place& place) { return place.In(BuildOf(w)); }
std::uint32_t Rt(CCodeWriter& w, const Place& place) { return w.Game().At(place); }
std::uint32_t Rt(CCodeWriter& w, std::uint32_t preferred) { return w.Game().At(preferred); }

// ---- Main: prologue, window procedure, WindowChanged, five returns ----

void WriteMain(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  const bool editor = BuildOf(w) == Build::IVEditor;
  const std::int32_t frame =
      editor ? kMainFrameEditor : BuildOf(w) == Build::VReleasePatched ? kMainFrameV : kMainFrameIV;
  // IV Editor: reserve 20 bytes, save two registers (5 bytes); the others
  // reserve their frame in one 6-byte instruction.
  CEmitter entry = w.At(In(w, kMainEntry));
  entry.AddEsp(-frame);
  if (editor) entry.Push(EBX).Push(EBP).MovImm(EBX, kClobberEbx).MovImm(EBP, kClobberEbp);
  // The single-instance check comes first; it leaves by the first return when another copy runs.
  const std::uint32_t popBytes = editor ? 2 : 0;
  entry.Jmp(WriteInstanceCheck(w, entries, Rt(w, kMainWindowProcedureValue) - 1,
                               Rt(w, In(w, kMainExits[0]) - popBytes)));
  w.Put(entry);
  entries[std::size_t(Routine::Main)] = entry.Origin();

  // The window class takes the procedure from the 4-byte value at its place.
  CEmitter value = w.At(In(w, kMainWindowProcedureValue) - 1);
  value.MovImm(EAX, Rt(w, kWindowProcedure)).Store(Rt(w, kClassProcedure), EAX);
  value.Load(EAX, Rt(w, kCreatedWindow)).Jmp(Rt(w, kMainWindowChanged));
  w.Put(value);

  // The 5 bytes of WindowChanged store the new window into the game's global.
  const std::uint32_t lastExit = In(w, kMainExits[std::size(kMainExits) - 1]);
  const std::uint32_t dispatch = lastExit + 0x20;
  CEmitter changed = w.At(In(w, kMainWindowChanged));
  changed.Store(Rt(w, kWindowGlobal), EAX).Jmp(WriteInstanceRelease(w, entries, Rt(w, dispatch)));
  w.Put(changed);

  // Which return: EAX = kMainExitCode + choice, then one compare per return.
  CEmitter choose = w.At(dispatch);
  choose.Load(ECX, Rt(w, kExitChoice)).MovImm(EAX, kMainExitCode).Add(EAX, ECX);
  for (std::uint32_t i = 0; i < std::size(kMainExits); ++i) {
    choose.CmpImm8(ECX, std::int8_t(i));
    const std::size_t skip = choose.JccShort(CondNE);
    choose.Jmp(Rt(w, In(w, kMainExits[i]) - popBytes));
    choose.Bind(skip);
  }
  choose.Jmp(Rt(w, In(w, kMainExits[0]) - popBytes));
  w.Put(choose);

  // Each return: (IV Editor: restore the two registers), release the frame,
  // return removing the four arguments.
  for (const Place& exit : kMainExits) {
    CEmitter code = w.At(In(w, exit) - popBytes);
    if (editor) code.Pop(EBP).Pop(EBX);
    code.AddEsp(frame).RetN(kMainArgumentBytes);
    w.Put(code);
  }
}

// ---- Routines ending in a hook place ----

void WriteDefineAllObjects(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  entries[std::size_t(Routine::DefineAllObjects)] = w.PutBefore(In(w, kDefineAllObjects), [](CEmitter& e) {
    e.AddEsp(-kDefineAllObjectsFrame).MovImm(EAX, kClobberEax);
  });
  // Release 8 bytes and return (4 bytes), then the padding that follows a routine.
  CEmitter end = w.At(In(w, kDefineAllObjects));
  end.AddEsp(kDefineAllObjectsFrame).Ret().Int3();
  w.Put(end);
}

void WriteSetUpItemLinkedLists(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  entries[std::size_t(Routine::SetUpItemLinkedLists)] =
      w.PutBefore(In(w, kSetUpItemLinkedLists), [](CEmitter& e) {
        e.AddEsp(-kSetUpItemLinkedListsFrame).MovImm(ECX, kClobberEcx);
      });
  CEmitter code = w.At(In(w, kSetUpItemLinkedLists));
  code.AddEsp(kSetUpItemLinkedListsFrame).Xor(ECX, ECX);  // the 5 bytes of the place
  code.Mov(EAX, ECX).Ret();
  w.Put(code);
}

void WriteFrame(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  const bool v = BuildOf(w) == Build::VReleasePatched;
  // Each frame begins on a cleared frame buffer.
  const std::uint32_t frameStart = Rt(w, In(w, kOwnCode) + kFrameStartOffset);
  CEmitter start = w.At(In(w, kOwnCode) + kFrameStartOffset);
  EmitStub(start, std::uint32_t(InternalWork::FrameStart));
  w.Put(start);
  entries[std::size_t(Routine::Frame)] = w.PutBefore(In(w, kFrame), [v, frameStart](CEmitter& e) {
    e.Call(frameStart).AddEsp(-kFrameFrame);
    if (v) e.Push(EBX).Push(ESI).Push(EDI).MovImm(EBX, kClobberEbx).MovImm(ESI, kClobberEsi).MovImm(EDI, kClobberEdi);
  });
  // The tail: the four frame routines, then the epilogue.
  CEmitter tail = w.At(In(w, kFrame));
  tail.Call(Rt(w, kFrameRoutine1));
  tail.PushImm(Rt(w, kFrameRoutine2Address)).PushMem(Rt(w, kFrameRoutine2Value)).Call(Rt(w, kFrameRoutine2)).AddEsp(2 * kWord);
  tail.Call(Rt(w, kFrameRoutine3));
  tail.PushImm(Rt(w, kFrameRoutine4Address)).Call(Rt(w, kFrameRoutine4)).AddEsp(kWord);
  if (v) tail.Pop(EDI).Pop(ESI).Pop(EBX);
  tail.AddEsp(kFrameFrame).Ret();
  w.Put(tail);
}

void WriteQueryFlagA(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  entries[std::size_t(Routine::QueryFlagA)] =
      w.PutBefore(In(w, kQueryFlagA), [](CEmitter& e) { e.MovImm(EAX, kClobberEax); });
  CEmitter code = w.At(In(w, kQueryFlagA));
  code.Load(EAX, Rt(w, kQueryFlagAGlobal));  // the 5 bytes of the place
  code.Test(EAX, EAX).Setcc(CondNE, AL).MovzxByte(EAX, AL).Ret();
  w.Put(code);
}

void WriteGetKeyStates(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  CEmitter code = w.At(In(w, kGetKeyStates));
  code.Load(EAX, Rt(w, kKeyboardGlobal));  // the 5 bytes at the entry
  // The game reads the keyboard: 256 bytes from the device EAX names into the table.
  code.Push(ESI).Push(EDI).Mov(ESI, EAX).LoadStack(EDI, 12).MovImm(ECX, kKeyTableWords).Cld().RepMovsd();
  code.Pop(EDI).Pop(ESI).Ret();
  w.Put(code);
  entries[std::size_t(Routine::GetKeyStates)] = code.Origin();
}

void WriteGetJoypadStates(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  CEmitter code = w.At(In(w, kGetJoypadStates));
  if (BuildOf(w) == Build::VReleasePatched) {
    // Game V: the routine the hook replaces, as it reads.
    code.Load(EAX, Rt(w, kJoypadPresentV)).Test(EAX, EAX);
    const std::size_t none = code.JccShort(CondE);
    code.LoadStack(ECX, 4).Load(EDX, Rt(w, kJoypadAV)).StoreAt(ECX, 0, EDX);
    code.LoadStack(ECX, 8).Load(EDX, Rt(w, kJoypadBV)).StoreAt(ECX, 0, EDX);
    code.Load(EAX, Rt(w, kJoypadValueV)).Ret();
    code.Bind(none);
    code.LoadStack(ECX, 4).StoreAt(ECX, 0, EAX).LoadStack(ECX, 8).StoreAt(ECX, 0, EAX).Ret();
  } else {
    // The 7 bytes at the entry: reserve 52 bytes, EAX = the stack pointer.
    code.AddEsp(-kJoypadFrame).LeaStack(EAX, 0);
    // The game reads the joypad into its buffer and hands out two words.
    code.Load(ECX, Rt(w, kJoypadA)).StoreAt(EAX, 0, ECX).Load(ECX, Rt(w, kJoypadB)).StoreAt(EAX, 4, ECX);
    code.LoadStack(EDX, kJoypadFrame + 4).LoadAt(ECX, EAX, 0).StoreAt(EDX, 0, ECX);
    code.LoadStack(EDX, kJoypadFrame + 8).LoadAt(ECX, EAX, 4).StoreAt(EDX, 0, ECX);
    code.Load(EAX, Rt(w, kJoypadValue)).AddEsp(kJoypadFrame).Ret();
  }
  w.Put(code);
  entries[std::size_t(Routine::GetJoypadStates)] = code.Origin();
}

void WriteLoadSampleCaller(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  constexpr int kSampleLoaderArguments = 4;
  constexpr std::int8_t kLastArgument = kSampleLoaderArguments * kWord;  // moves down one word per push
  entries[std::size_t(Routine::LoadSampleCaller)] = w.PutBefore(In(w, kLoadSampleCall), [](CEmitter& e) {
    for (int i = 0; i < kSampleLoaderArguments; ++i) e.PushStack(kLastArgument);
  });
  CEmitter code = w.At(In(w, kLoadSampleCall));
  code.Call(Rt(w, kSampleLoader)).AddEsp(kSampleLoaderArguments * kWord).Ret();
  w.Put(code);
}

// "restore one register, release frame bytes, return": the register is ESI.
std::uint32_t WriteSavedRegisterEnd(CCodeWriter& w, std::uint32_t place, std::int32_t frame) {
  const std::uint32_t entry = w.PutBefore(place, [frame](CEmitter& e) {
    e.AddEsp(-frame).Push(ESI).MovImm(ESI, kClobberEsi);
  });
  CEmitter end = w.At(place);
  end.Pop(ESI).AddEsp(frame).Ret();
  w.Put(end);
  return entry;
}

void WriteQueryFlagB(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  const Build build = BuildOf(w);
  const bool releases = build == Build::IVDemoCorvel || build == Build::VReleasePatched;
  const Reg8 result = build == Build::VReleasePatched ? DL : CL;
  const std::uint32_t pointer = Rt(w, kQueryFlagBPointer);
  // Before the place: EAX = bit 2 of the word the pointer leads to.
  entries[std::size_t(Routine::QueryFlagB)] = w.PutBefore(In(w, kQueryFlagB), [&](CEmitter& e) {
    if (releases) e.PushImm(kClobberEcx);
    e.Load(EAX, pointer).LoadAt(EAX, EAX, 0).ShrImm(EAX, kQueryFlagBBit).AndImm8(EAX, 1);
  });
  // The place: (C, D: release 4 bytes) result = 1 − bit, one byte of padding.
  CEmitter code = w.At(In(w, kQueryFlagB));
  if (releases) code.AddEsp(kQueryFlagBReleased);
  code.MovByteImm(result, 1).SubByte(result, AL).Nop();
  if (code.Here() != Rt(w, kQueryFlagBBack)) Broken("QueryFlagB stretch does not reach its resume place", code.Here());
  code.MovzxByte(EAX, result).Ret();
  w.Put(code);
}

void WriteFallDamage(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  CEmitter code = w.At(In(w, kFallDamage));
  code.LoadStack(ECX, 4).MovsxWordAt(EAX, ECX, kItemFallSpeed).AddImm(EAX, std::uint32_t(-kFallDamageThreshold));
  code.MovsxWord(EAX, EAX).Test(EAX, EAX);  // e as a 16-bit signed value
  const std::size_t none = code.JccShort(CondLE);
  code.CmpImm8(EAX, kFallDamageDeadly);
  const std::size_t dead = code.JccShort(CondG);
  code.Imul(EAX, EAX).ImulImm(EAX, EAX, kFallDamageScale).Xor(EDX, EDX).Push(ECX);
  code.MovImm(ECX, kFallDamageDivisor).Div(ECX).Pop(ECX).SubWordAt(ECX, kItemHealth, EAX);
  code.MovsxWordAt(EAX, ECX, kItemHealth).Test(EAX, EAX).Setcc(CondLE, AL).MovzxByte(EAX, AL).Ret();
  code.Bind(none);
  code.Xor(EAX, EAX).Ret();
  code.Bind(dead);
  code.MovWordAtImm(ECX, kItemHealth, kDeadHealth).MovImm(EAX, 1).Ret();
  w.Put(code);
  entries[std::size_t(Routine::FallDamage)] = code.Origin();
}

void WriteRollingBallDeath(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  entries[std::size_t(Routine::RollingBallDeath)] =
      w.PutBefore(In(w, kRollingBallDeath), [](CEmitter& e) { e.MovImm(EDX, 0); });  // leaves the flags as they came
  CEmitter code = w.At(In(w, kRollingBallDeath));
  code.Load(EAX, Rt(w, kPlayerItemPointer));  // the 5 bytes of the place
  // The game code between the two resume places: the player dies.
  code.MovWordAtImm(EAX, kItemHealth, kDeadHealth).MovImm(EDX, 1);
  PadTo(w, code, In(w, kRollingBallDeathSkip));
  code.Mov(EAX, EDX).Ret();
  w.Put(code);
}

void WriteDivingRollLandDeath(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  constexpr std::uint32_t kStretch = 14;  // from the place to where the hook resumes
  entries[std::size_t(Routine::DivingRollLandDeath)] = w.PutBefore(In(w, kDivingRollLandDeath), [](CEmitter& e) {
    e.Push(ESI).LoadStack(ESI, 8);
  });
  CEmitter code = w.At(In(w, kDivingRollLandDeath));
  code.MovWordAtImm(ESI, kItemAnimation, kDivingRollLandAnimation);  // the 6 bytes of the place
  const std::size_t over = code.JmpShortForward();
  // The bytes jumped over belong to another path of the game; never run here.
  while (code.Here() < Rt(w, In(w, kDivingRollLandDeath) + kStretch)) code.Int3();
  code.Bind(over);
  code.Pop(ESI).Ret();
  w.Put(code);
}

void WriteFlipeffectCaller(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  entries[std::size_t(Routine::FlipeffectCaller)] =
      w.PutBefore(In(w, kFlipeffect), [](CEmitter& e) { e.LoadStack(EAX, 4); });
  CEmitter code = w.At(In(w, kFlipeffect));
  code.PushImm8(0).CallTable(EAX, Rt(w, kFlipeffectTable)).AddEsp(kWord);  // 12 bytes; the patch takes 9
  code.Ret();
  w.Put(code);
}

void WriteReplacedCall(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  entries[std::size_t(Routine::ReplacedCall)] = w.PutBefore(In(w, kReplacedCall), [](CEmitter& e) {
    e.AddEsp(-kReplacedCallFrame).MovImm(EAX, kReplacedCallHighBits);
  });
  CEmitter code = w.At(In(w, kReplacedCall));
  code.MovAlImm(1).AddEsp(kReplacedCallFrame).Ret();  // the 6 bytes of the place
  w.Put(code);
}

// ---- Stubs ----

void WriteStubAt(CCodeWriter& w, std::vector<std::uint32_t>& entries, Routine routine, std::uint32_t preferred,
                 std::uint16_t argumentBytes = 0) {
  if (preferred == 0) return;
  CEmitter code = w.At(preferred);
  EmitStub(code, StubTag(routine), argumentBytes);
  w.Put(code);
  entries[std::size_t(routine)] = code.Origin();
}

void WriteStubs(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  WriteStubAt(w, entries, Routine::WindowProcedure, In(w, kWindowProcedure), kWindowProcedureArgumentBytes);
  const std::pair<Routine, Place> stubs[] = {
      {Routine::FrameRoutine1, kFrameRoutine1},        {Routine::FrameRoutine2, kFrameRoutine2},
      {Routine::FrameRoutine3, kFrameRoutine3},        {Routine::FrameRoutine4, kFrameRoutine4},
      {Routine::SampleLoader, kSampleLoader},          {Routine::ProgressBar, kProgressBar},
      {Routine::ProgressBarV, kProgressBarV},          {Routine::AllocateItem, chosen::kAllocateItem},
      {Routine::SetUpItem, chosen::kSetUpItem},        {Routine::RemoveItem, chosen::kRemoveItem},
      {Routine::CallItemRoutineA, chosen::kCallItemRoutineA},
      {Routine::CallItemRoutineB, chosen::kCallItemRoutineB},
      {Routine::MoveItemToRoom, chosen::kMoveItemToRoom},
      {Routine::RemoveEffect, chosen::kRemoveEffect},  {Routine::PlaySoundEffect, chosen::kPlaySoundEffect},
      {Routine::RenderString, chosen::kRenderString},  {Routine::RoutineC, chosen::kRoutineC},
      {Routine::RoutineD, chosen::kRoutineD},          {Routine::RoutineDV, chosen::kRoutineDV},
      {Routine::RoutineE, chosen::kRoutineE},
  };
  for (const auto& [routine, place] : stubs) WriteStubAt(w, entries, routine, In(w, place));
  WriteStubAt(w, entries, Routine::QuadRoutine, In(w, kOwnCode) + kQuadRoutineOffset);

  // The flipeffect table: an entry per number below the limit, then entries
  // that report a call past it.
  const std::uint32_t limit = FlipeffectLimit(BuildOf(w));
  const std::uint32_t table = Rt(w, kFlipeffectTable);
  for (std::uint32_t i = 0; i < kFlipeffectTableEntries; ++i) {
    CEmitter code = w.At(In(w, kOwnCode) + kFlipeffectStubsOffset + i * kFlipeffectStubSlot);
    const Routine routine = i < limit ? Routine::Flipeffect : Routine::FlipeffectOutOfRange;
    EmitStub(code, StubTag(routine, i));
    w.Put(code);
    w.Game().Image().Poke(table + i * kWord, code.Origin());
    if (i == 0) entries[std::size_t(Routine::Flipeffect)] = code.Origin();
    if (i == limit) entries[std::size_t(Routine::FlipeffectOutOfRange)] = code.Origin();
  }
}

}  // namespace

void WriteGameRoutines(CCodeWriter& w, std::vector<std::uint32_t>& entries) {
  WriteFeatureStubs(w, entries);
  WriteMain(w, entries);
  WriteDefineAllObjects(w, entries);
  WriteSetUpItemLinkedLists(w, entries);
  WriteFrame(w, entries);
  WriteQueryFlagA(w, entries);
  WriteGetKeyStates(w, entries);
  WriteGetJoypadStates(w, entries);
  WriteLoadSampleCaller(w, entries);
  entries[std::size_t(Routine::ScriptLoaded)] = WriteSavedRegisterEnd(w, In(w, kScriptLoaded), kScriptLoadedFrame);
  WriteQueryFlagB(w, entries);
  entries[std::size_t(Routine::LoadItems)] = WriteSavedRegisterEnd(w, In(w, kLoadItems), kLoadItemsFrame);
  if (In(w, kLoadItemsSecond) != 0)
    entries[std::size_t(Routine::LoadItemsSecond)] =
        WriteSavedRegisterEnd(w, In(w, kLoadItemsSecond), kLoadItemsFrame);
  WriteFallDamage(w, entries);
  WriteRollingBallDeath(w, entries);
  WriteDivingRollLandDeath(w, entries);
  WriteFlipeffectCaller(w, entries);
  WriteReplacedCall(w, entries);
  WriteStubs(w, entries);
  WriteFeatureRoutines(w, entries);
}

}  // namespace gamedouble
