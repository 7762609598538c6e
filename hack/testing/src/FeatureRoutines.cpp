// The game's original code at the places the feature modules patch, and the data those places read.
//
// What stands at each place, where the game's description names only what
// the patch does there (the double settles the rest):
// - Opening game data: `push "rb"; push ecx (C: edx); call open; mov esi, eax`
//   (13 bytes); the caller releases the two words later. Opening a saved game
//   (IV): three words pushed before, then `push "rb"; push edx; call open;
//   add esp, 20; mov esi, eax` (16 bytes); V: `push "rb"; push ecx; call open`
//   (11 bytes). Creating: five words pushed before, then `push "wb"; push
//   eax; call open; add esp, 28; mov ebp (A) / ebx, eax` (16 bytes).
// - The read, seek, write and length routines are stubs at their entries;
//   the close places are `call close` after `push stream` (A's fourth: the
//   routine's tail `jmp close`).
// - The object test: the object in EAX is a game record whose byte at 32 is a
//   flag: `cmp byte [eax + 32], 0; je clear` (6 bytes); where the flag is set
//   the game goes on right after, where clear at the far place.
// - The Win32-style save writer reserves 116 bytes of locals and keeps
//   nothing else on the stack; its stretch creates the file (CreateFile through
//   an import slot, `push 0`s on A, `push ebx` with EBX zero on the others),
//   returns 0 when the handle is −1, and leaves the handle in ESI (EAX 0 on A,
//   the handle on the others). It then writes with `call [WriteFile slot]`
//   and closes with `push esi; call [CloseHandle slot]`. The loader pushed its
//   read call's four other words before its stretch (76 bytes of locals + 16
//   = the 92 released), opens (je to its failure exit), and at the resume
//   place reads with `push esi; call [ReadFile slot]`.
// - IncreasedLimits: each value is the operand of an instruction (u32: `mov
//   eax, imm32`; u8: `push imm8`) holding the original of kLimitValues; the
//   8-byte store is `and ax, 0xFF; mov [ebp + 10], ax`.
// - AspectRatio: `fild [width]; fidiv [height]; fmul [0.75]` (18 bytes).
// - Single instance (in Main): A-C `push name; call check` (10), `add esp,
//   4; test eax, eax` (5), `jz over; mov eax, kMainAnotherInstanceCode; jmp
//   return; int3 × 4` (16); V: 15 words pushed before, then `push name; call
//   check; add esp, 64; test eax, eax; jz over; mov eax, code; jmp return;
//   int3 × 4` (31); every build releases its instance on the way out with
//   `push [handle]; call [InstanceRelease slot]` (12).
// - BugFixes: `jnz rel32` (6) and `jnz rel8` (2) that leave before the common
//   target when an argument is non-zero.
// - NoDrawDistance: `cmp eax, edx` (the distance against the limit) and `jg
//   beyond` at each check; the place it jumps to when patched is where the
//   item is drawn.
// - Players: the draw `call draw; nop5` (A-C, 10 bytes) or `push 0; call draw`
//   (V, 7) with `add esp, 4` at V's NOP place; the mirrored draw `call draw;
//   add esp, 4; nop3` after a pushed word; the control `call control; nop4`
//   (V: `call control; cmp byte [state], 5; jne +5; call controlV; nop4`); the
//   item routine call `push ecx; call eax; add esp, 4`; the item creation
//   `mov word [ecx + 34], 0x4210`.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <platform/sync.h>

#include "FeaturePlaces.h"

namespace gamedouble {

using namespace gameimage;
using namespace places;

namespace {

constexpr std::int32_t kWord = 4;
constexpr std::uint32_t kJccRel32Bytes = 6, kJccRel8Bytes = 2;
constexpr std::uint32_t kModeRead = 0x6272;   // "rb"
constexpr std::uint32_t kModeWrite = 0x6277;  // "wb"
constexpr std::uint32_t kInstanceHandleValue = 0x1D0C;
constexpr float kAspectFourThirds = 0.75f;
constexpr std::uint32_t kDefaultDrawDistance = 20 * 1024;
constexpr std::uint8_t kVControlState = 5;
constexpr std::int32_t kMirroredDrawArgument = 1;
constexpr std::uint32_t kCreateFileArguments = 7, kFileCallArguments = 5;
constexpr std::uint32_t kGenericRead = 0x80000000, kGenericWrite = 0x40000000;
constexpr std::int8_t kCreateAlways = 2, kOpenExisting = 3, kFileShareRead = 1;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::int32_t kSavedGamePushedWords = 3, kCreatePushedWords = 5;
constexpr std::int32_t kOpenCallWords = 2;

// Instruction shapes the emitter lacks, spelt out.
void CallMem(CEmitter& e, std::uint32_t slot) { e.Raw({0xFF, 0x15}).Imm32(slot); }           // call [slot]
void PushMemory(CEmitter& e, std::uint32_t slot) { e.Raw({0xFF, 0x35}).Imm32(slot); }        // push [slot]
void JccNear(CEmitter& e, Cond cond, std::uint32_t target) {  // jcc rel32
  const std::uint32_t end = e.Here() + kJccRel32Bytes;
  e.Raw({0x0F, std::uint8_t(0x80 | cond)}).Imm32(target - end);
}
void JccShortTo(CEmitter& e, Cond cond, std::uint32_t target) {  // jcc rel8
  const std::int32_t distance = std::int32_t(target - (e.Here() + kJccRel8Bytes));
  if (distance < INT8_MIN || distance > INT8_MAX) {
    std::fprintf(stderr, "game double: short jump from 0x%X cannot reach 0x%X\n", e.Here(), target);
    std::abort();
  }
  e.Raw({std::uint8_t(0x70 | cond), std::uint8_t(distance)});
}
void Nop3(CEmitter& e) { e.Raw({0x0F, 0x1F, 0x00}); }
void Nop4(CEmitter& e) { e.Raw({0x0F, 0x1F, 0x40, 0x00}); }
void Nop5(CEmitter& e) { e.Raw({0x0F, 0x1F, 0x44, 0x00, 0x00}); }

class CFeatureWriter {
 public:
  CFeatureWriter(CCodeWriter& writer, std::vector<std::uint32_t>& entries)
      : w(writer), m_Entries(entries), m_Build(writer.Game().GetBuild()) {}

  CCodeWriter& w;
  bool V() const { return m_Build == Build::VReleasePatched; }
  bool Editor() const { return m_Build == Build::IVEditor; }
  bool Demo() const { return m_Build == Build::IVDemoCorvel; }
  std::uint32_t In(const Place& place) const { return place.In(m_Build); }
  std::uint32_t Rt(const Place& place) const { return w.Game().At(place); }
  std::uint32_t Rt(std::uint32_t preferred) const { return w.Game().At(preferred); }
  std::uint32_t Entry(Routine routine) const { return m_Entries[std::size_t(routine)]; }
  void SetEntry(Routine routine, std::uint32_t address) { m_Entries[std::size_t(routine)] = address; }
  std::uint32_t Slot(Import import) const { return Rt(kImportSlots + std::uint32_t(import) * kWord); }

  // Pads with NOPs up to a preferred place.
  void PadTo(CEmitter& e, std::uint32_t preferred) const {
    const std::uint32_t target = Rt(preferred);
    if (e.Here() > target) {
      std::fprintf(stderr, "game double: feature code runs past 0x%X\n", preferred);
      std::abort();
    }
    e.Nop(target - e.Here());
  }
  // Ends the process when the code so far does not end exactly at a place the game resumes at.
  void ExpectHere(const CEmitter& e, std::uint32_t preferred) const {
    if (e.Here() != Rt(preferred)) {
      std::fprintf(stderr, "game double: code reaches 0x%X, not the resume place 0x%X\n", e.Here(), Rt(preferred));
      std::abort();
    }
  }
  void Stub(Routine routine, std::uint32_t preferred, std::uint16_t argumentBytes = 0) {
    if (preferred == 0) return;
    CEmitter code = w.At(preferred);
    EmitStub(code, StubTag(routine), argumentBytes);
    w.Put(code);
    SetEntry(routine, code.Origin());
  }
  std::uint32_t OwnStubPlace() { return In(kOwnCode) + kFeatureStubsOffset + m_NextOwn++ * kStubSlot; }

 private:
  std::vector<std::uint32_t>& m_Entries;
  Build m_Build;
  std::uint32_t m_NextOwn = 0;
};

void WriteStubs(CFeatureWriter& f) {
  f.Stub(Routine::FileOpen, f.OwnStubPlace());
  f.Stub(Routine::FileClose, f.OwnStubPlace());
  f.Stub(Routine::CreateFileW32, f.OwnStubPlace(), kCreateFileArguments * kWord);
  f.Stub(Routine::WriteFileW32, f.OwnStubPlace(), kFileCallArguments * kWord);
  f.Stub(Routine::ReadFileW32, f.OwnStubPlace(), kFileCallArguments * kWord);
  f.Stub(Routine::CloseHandleW32, f.OwnStubPlace(), kWord);
  f.Stub(Routine::InstanceCheck, f.OwnStubPlace());
  f.Stub(Routine::InstanceRelease, f.OwnStubPlace(), kWord);
  f.Stub(Routine::ItemRoutine, f.OwnStubPlace());
  // The object record's routine, called as the game calls it: (item, item*, argument).
  constexpr std::int8_t kThirdArgument = 3 * kWord;
  CEmitter object = f.w.At(f.OwnStubPlace());
  object.PushStack(kThirdArgument).PushStack(kThirdArgument).PushStack(kThirdArgument);
  object.Load(EAX, f.Rt(kObjectRecord) + kObjectRoutineOffset).CallReg(EAX).AddEsp(3 * kWord).Ret();
  f.w.Put(object);
  f.SetEntry(Routine::ObjectRoutineCaller, object.Origin());
  const std::pair<Routine, Place> atPlaces[] = {
      {Routine::FileRead, kFileRead},
      {Routine::FileSeek, kFileSeek},
      {Routine::FileWrite, kFileWrite},
      {Routine::FileLength, kFileLength},
      {Routine::PlayerControlRoutine, kPlayerControlRoutine},
      {Routine::PlayerControlRoutineV, kPlayerControlRoutineV},
      {Routine::PlayerDrawRoutine, kPlayerDrawRoutine},
      {Routine::RemoteDrawRoutine, kRemoteDrawRoutine},
      {Routine::PlayerMeshRoutine, kPlayerMeshRoutine},
      {Routine::MatrixRoutine, kMatrixRoutine},
      {Routine::PlayerExtraRoutine, kPlayerExtraRoutine},
      {Routine::HeldObjectRoutine, kHeldObjectRoutine},
      {Routine::ObjectDefaultRoutine, kObjectDefaultRoutine},
  };
  for (const auto& [routine, place] : atPlaces) f.Stub(routine, f.In(place));
}

// ---- File access ----

void WriteOpenGameData(CFeatureWriter& f) {
  const Reg path = f.Demo() ? EDX : ECX;
  f.SetEntry(Routine::OpenGameData, f.w.PutBefore(f.In(kOpenGameData), [path](CEmitter& e) {
    e.Push(ESI).LoadStack(path, 2 * kWord);
  }));
  CEmitter code = f.w.At(f.In(kOpenGameData));
  code.PushImm(f.Rt(kModeStrings)).Push(path).Call(f.Entry(Routine::FileOpen)).Mov(ESI, EAX);
  f.ExpectHere(code, f.In(kOpenGameData) + kOpenGameDataStretch);
  // The stream the game goes on with in ESI comes back in EDX, beside EAX's.
  code.AddEsp(kOpenCallWords * kWord).Mov(EDX, ESI).Pop(ESI).Ret();
  f.w.Put(code);
}

void WriteOpenSavedGame(CFeatureWriter& f) {
  const std::uint32_t place = f.In(kOpenSavedGame);
  if (f.V()) {
    f.SetEntry(Routine::OpenSavedGame, f.w.PutBefore(place, [](CEmitter& e) { e.LoadStack(ECX, kWord); }));
    CEmitter code = f.w.At(place);
    code.PushImm(f.Rt(kModeStrings)).Push(ECX).Call(f.Entry(Routine::FileOpen));
    f.ExpectHere(code, place + kOpenSavedGameStretchV);
    code.AddEsp(kOpenCallWords * kWord).Ret();
    f.w.Put(code);
    return;
  }
  f.SetEntry(Routine::OpenSavedGame, f.w.PutBefore(place, [](CEmitter& e) {
    e.Push(ESI).LoadStack(EDX, 2 * kWord);
    for (int i = 0; i < kSavedGamePushedWords; ++i) e.PushImm8(0);
  }));
  CEmitter code = f.w.At(place);
  code.PushImm(f.Rt(kModeStrings)).Push(EDX).Call(f.Entry(Routine::FileOpen));
  code.AddEsp((kSavedGamePushedWords + kOpenCallWords) * kWord).Mov(ESI, EAX);
  f.ExpectHere(code, place + kOpenSavedGameStretchIV);
  code.Mov(EDX, ESI).Pop(ESI).Ret();
  f.w.Put(code);
}

void WriteCreateGameFile(CFeatureWriter& f) {
  const Reg stream = f.Editor() ? EBP : EBX;
  const std::uint32_t place = f.In(kCreateGameFile);
  f.SetEntry(Routine::CreateGameFile, f.w.PutBefore(place, [](CEmitter& e) {
    e.Push(EBP).Push(EBX).LoadStack(EAX, 3 * kWord);
    for (int i = 0; i < kCreatePushedWords; ++i) e.PushImm8(0);
  }));
  CEmitter code = f.w.At(place);
  code.PushImm(f.Rt(kModeStrings + kWord)).Push(EAX).Call(f.Entry(Routine::FileOpen));
  code.AddEsp((kCreatePushedWords + kOpenCallWords) * kWord).Mov(stream, EAX);
  f.ExpectHere(code, place + kCreateGameFileStretch);
  code.Mov(EAX, stream).Pop(EBX).Pop(EBP).Ret();
  f.w.Put(code);
}

void WriteCloseCallers(CFeatureWriter& f) {
  const Routine routines[] = {Routine::CloseCaller1,  Routine::CloseCaller2,  Routine::CloseCaller3,
                              Routine::CloseCaller4,  Routine::CloseCallerV1, Routine::CloseCallerV2,
                              Routine::CloseCallerV3};
  static_assert(std::size(routines) == std::size(kCloseCalls));
  constexpr std::size_t kTailJump = 3;
  for (std::size_t i = 0; i < std::size(kCloseCalls); ++i) {
    const std::uint32_t place = f.In(kCloseCalls[i]);
    if (place == 0) continue;
    if (i == kTailJump && f.Editor()) {
      CEmitter code = f.w.At(place);
      code.Jmp(f.Entry(Routine::FileClose));
      f.w.Put(code);
      f.SetEntry(routines[i], code.Origin());
      continue;
    }
    f.SetEntry(routines[i], f.w.PutBefore(place, [](CEmitter& e) { e.PushStack(kWord); }));
    CEmitter code = f.w.At(place);
    code.Call(f.Entry(Routine::FileClose)).AddEsp(kWord).Ret();
    f.w.Put(code);
  }
}

void WriteObjectTest(CFeatureWriter& f) {
  constexpr std::uint32_t kFlagSetResult = 1, kFlagClearResult = 2;
  const std::uint32_t place = f.In(kObjectTest);
  f.SetEntry(Routine::ObjectTest, f.w.PutBefore(place, [](CEmitter& e) { e.LoadStack(EAX, kWord); }));
  CEmitter code = f.w.At(place);
  code.Raw({0x80, 0x78, std::uint8_t(kObjectTestFlagOffset), 0x00});  // cmp byte [eax + 32], 0
  JccShortTo(code, CondE, f.Rt(kObjectTestFlagClear));
  code.MovImm(EDX, kFlagSetResult).Ret();
  while (code.Here() < f.Rt(kObjectTestFlagClear)) code.Int3();
  code.MovImm(EDX, kFlagClearResult).Ret();
  f.w.Put(code);
}

// Creating or opening through the CreateFile import: the seven arguments.
void PushCreateArguments(CEmitter& e, std::uint32_t access, std::int8_t disposition, std::int8_t share,
                         bool zeroInEbx) {
  if (zeroInEbx) {
    e.Push(EBX);
  } else {
    e.PushImm8(0);
  }
  e.PushImm(kFileAttributeNormal).PushImm8(disposition);
  if (zeroInEbx) {
    e.Push(EBX);
  } else {
    e.PushImm8(0);
  }
  e.PushImm8(share).PushImm(access).Push(EDX);
}

void WriteSaveWriter(CFeatureWriter& f) {
  const bool editor = f.Editor();
  const std::uint32_t place = f.In(kSaveWriter);
  // EDI = buffer, EBP = size: the locals are too far for the arguments after the frame.
  f.SetEntry(Routine::SaveWriter, f.w.PutBefore(place, [editor](CEmitter& e) {
    e.LoadStack(EDX, kWord).LoadStack(EDI, 2 * kWord).LoadStack(EBP, 3 * kWord).AddEsp(-kSaveWriterFrame);
    if (!editor) e.Xor(EBX, EBX);
  }));
  CEmitter code = f.w.At(place);
  PushCreateArguments(code, kGenericWrite, kCreateAlways, 0, !editor);
  CallMem(code, f.Slot(Import::CreateFile));
  code.Mov(ESI, EAX);
  if (editor) code.Xor(EAX, EAX);
  code.CmpImm8(ESI, -1);
  const std::size_t created = code.JccShort(CondNE);
  if (!editor) code.Xor(EAX, EAX);
  code.AddEsp(kSaveWriterFrame).Ret();
  code.Bind(created);
  f.ExpectHere(code, f.In(kSaveWriterBack));
  // What EAX held where the game went on stays in ECX (the stubs keep it) for the caller to see.
  code.Mov(ECX, EAX);
  // WriteFile(handle, buffer, size, &written, 0).
  code.PushImm8(0).LeaStack(EAX, kWord).Push(EAX).Push(EBP).Push(EDI).Push(ESI);
  f.PadTo(code, f.In(kSaveWriterWriteSlot) - 2);
  CallMem(code, f.Slot(Import::WriteFile));
  f.PadTo(code, f.In(kSaveWriterClose) - 1);
  code.Push(ESI);
  CallMem(code, f.Slot(Import::CloseHandle));
  code.MovImm(EAX, 1).AddEsp(kSaveWriterFrame).Ret();
  f.w.Put(code);
}

void WriteSaveLoader(CFeatureWriter& f) {
  const std::uint32_t place = f.In(kSaveLoader);
  // ReadFile's other four words go first: 0, &read, size, buffer.
  f.SetEntry(Routine::SaveLoader, f.w.PutBefore(place, [](CEmitter& e) {
    e.LoadStack(EDX, kWord).LoadStack(EDI, 2 * kWord).LoadStack(EBP, 3 * kWord).AddEsp(-kSaveLoaderLocals);
    e.PushImm8(0).LeaStack(EAX, kWord).Push(EAX).Push(EBP).Push(EDI);
  }));
  CEmitter code = f.w.At(place);
  PushCreateArguments(code, kGenericRead, kOpenExisting, kFileShareRead, false);
  CallMem(code, f.Slot(Import::CreateFile));
  code.Mov(ESI, EAX).CmpImm8(ESI, -1);
  const std::size_t failed = code.JccShort(CondE);
  f.ExpectHere(code, f.In(kSaveLoaderBack));
  code.Push(ESI);
  CallMem(code, f.Slot(Import::ReadFile));
  f.PadTo(code, f.In(kSaveLoaderClose) - 1);
  code.Push(ESI);
  CallMem(code, f.Slot(Import::CloseHandle));
  code.MovImm(EAX, 1).AddEsp(kSaveLoaderLocals).Ret();
  code.Bind(failed);
  code.Xor(EAX, EAX).AddEsp(kSaveLoaderFrame).Ret();
  f.w.Put(code);
}

// ---- IncreasedLimits, AspectRatio, BugFixes, NoDrawDistance ----

void WriteLimits(CFeatureWriter& f) {
  if (!f.Editor()) return;
  constexpr std::uint8_t kMovEaxImm32 = 0xB8, kPushImm8 = 0x6A;
  for (const ValuePlace& value : kLimitValues) {
    CEmitter code = f.w.At(value.place - 1);
    if (value.width == sizeof(std::uint32_t)) {
      code.Raw({kMovEaxImm32}).Imm32(value.original);
    } else {
      code.Raw({kPushImm8, std::uint8_t(value.original)});
    }
    f.w.Put(code);
  }
  constexpr std::int32_t kFrame = 12;
  constexpr std::int8_t kStoreOffset = 10, kStoreWordOffset = 8;
  constexpr std::uint8_t kHalfWordShift = 16;
  f.SetEntry(Routine::LimitStore, f.w.PutBefore(f.In(kLimitStore), [](CEmitter& e) {
    e.Push(EBP).AddEsp(-kFrame).Mov(EBP, ESP).LoadStack(EAX, kFrame + 2 * kWord);
  }));
  CEmitter code = f.w.At(f.In(kLimitStore));
  code.Raw({0x66, 0x25, 0xFF, 0x00});                               // and ax, 0xFF
  code.Raw({0x66, 0x89, 0x45, std::uint8_t(kStoreOffset)});        // mov [ebp + 10], ax
  f.ExpectHere(code, f.In(kLimitStore) + kLimitStoreStretch);
  code.LoadAt(EAX, EBP, kStoreWordOffset).ShrImm(EAX, kHalfWordShift).AddEsp(kFrame).Pop(EBP).Ret();
  f.w.Put(code);
}

void WriteAspectRatio(CFeatureWriter& f) {
  const std::uint32_t place = f.In(kAspectRatio);
  if (place == 0) return;
  f.SetEntry(Routine::AspectRatio, f.w.PutBefore(place, [](CEmitter& e) { e.Push(ECX); }));
  CEmitter code = f.w.At(place);
  code.Raw({0xDB, 0x05}).Imm32(f.Rt(kScreenWidth));   // fild dword [width]
  code.Raw({0xDA, 0x35}).Imm32(f.Rt(kScreenHeight));  // fidiv dword [height]
  code.Raw({0xD8, 0x0D}).Imm32(f.Rt(kAspectConstant));  // fmul dword [0.75]
  f.ExpectHere(code, place + kAspectRatioStretch);
  code.Raw({0xD9, 0x1C, 0x24}).Pop(EAX).Ret();         // fstp dword [esp]
  f.w.Put(code);
}

void WriteBugFixChecks(CFeatureWriter& f) {
  constexpr std::uint32_t kReached = 1, kFirst = 2, kSecond = 3;
  constexpr std::uint32_t kExitBytes = 6;  // mov eax, imm32; ret
  const std::uint32_t target = f.In(kBugFixTarget);
  f.SetEntry(Routine::BugFixChecks, f.w.PutBefore(f.In(kBugFixCheck1), [](CEmitter& e) {
    e.LoadStack(EAX, kWord).Test(EAX, EAX);
  }));
  CEmitter code = f.w.At(f.In(kBugFixCheck1));
  JccNear(code, CondNE, f.Rt(target + kExitBytes));
  code.LoadStack(EAX, 2 * kWord).Test(EAX, EAX);
  f.PadTo(code, f.In(kBugFixCheck2));
  JccShortTo(code, CondNE, f.Rt(target + 2 * kExitBytes));
  f.PadTo(code, target);
  code.MovImm(EAX, kReached).Ret().MovImm(EAX, kFirst).Ret().MovImm(EAX, kSecond).Ret();
  f.w.Put(code);
}

void WriteDrawDistanceChecks(CFeatureWriter& f) {
  if (!f.Editor()) return;
  const Routine routines[] = {Routine::DrawDistanceCheck1, Routine::DrawDistanceCheck2, Routine::DrawDistanceCheck3};
  constexpr std::uint32_t kPassedBytes = 6;  // mov eax, 1; ret
  for (std::size_t i = 0; i < std::size(routines); ++i) {
    f.SetEntry(routines[i], f.w.PutBefore(kDrawDistanceChecks[i], [&f](CEmitter& e) {
      e.LoadStack(EAX, kWord).Load(EDX, f.Rt(kDrawDistanceLimit));
    }));
    CEmitter code = f.w.At(kDrawDistanceChecks[i]);
    code.Raw({0x3B, 0xC2});  // cmp eax, edx
    JccShortTo(code, CondG, f.Rt(kDrawDistancePassed[i] + kPassedBytes));
    f.PadTo(code, kDrawDistancePassed[i]);
    code.MovImm(EAX, 1).Ret().Xor(EAX, EAX).Ret();
    f.w.Put(code);
  }
}

// ---- MultiplePlayerSupport ----

void WritePlayerCallers(CFeatureWriter& f) {
  // The draw.
  CEmitter draw = f.w.At(f.In(kPlayerDraw));
  if (f.V()) draw.PushImm8(0);
  draw.Call(f.Entry(Routine::PlayerDrawRoutine));
  if (!f.V()) Nop5(draw);
  f.ExpectHere(draw, f.In(kPlayerDrawBack));
  if (f.V()) {
    Nop5(draw);
    f.PadTo(draw, kPlayerDrawCleanupV);
    draw.AddEsp(kWord);
  }
  draw.Ret();
  f.w.Put(draw);
  f.SetEntry(Routine::PlayerDrawCaller, draw.Origin());

  // The mirrored draw, after one argument word.
  f.SetEntry(Routine::MirroredDrawCaller, f.w.PutBefore(f.In(kMirroredDraw), [](CEmitter& e) {
    e.PushImm8(kMirroredDrawArgument);
  }));
  CEmitter mirrored = f.w.At(f.In(kMirroredDraw));
  mirrored.Call(f.Entry(Routine::PlayerDrawRoutine)).AddEsp(kWord);
  Nop3(mirrored);
  f.ExpectHere(mirrored, f.In(kMirroredDrawBack));
  mirrored.Ret();
  f.w.Put(mirrored);

  // The control.
  CEmitter control = f.w.At(f.In(kPlayerControl));
  control.Call(f.Entry(Routine::PlayerControlRoutine));
  if (f.V()) {
    control.Raw({0x80, 0x3D}).Imm32(f.Rt(kVStateByte)).Raw({kVControlState});  // cmp byte [state], 5
    const std::size_t other = control.JccShort(CondNE);
    control.Call(f.Entry(Routine::PlayerControlRoutineV));
    control.Bind(other);
  }
  Nop4(control);
  f.ExpectHere(control, f.In(kPlayerControlBack));
  control.Ret();
  f.w.Put(control);
  f.SetEntry(Routine::PlayerControlCaller, control.Origin());

  // The item routine call and the item creation.
  f.SetEntry(Routine::ItemRoutineCaller, f.w.PutBefore(f.In(kItemRoutineCall), [](CEmitter& e) {
    e.LoadStack(ECX, kWord).LoadStack(EAX, 2 * kWord);
  }));
  CEmitter call = f.w.At(f.In(kItemRoutineCall));
  call.Push(ECX).CallReg(EAX).AddEsp(kWord).Ret();
  f.w.Put(call);
  f.SetEntry(Routine::ItemCreationCaller, f.w.PutBefore(f.In(kItemCreation), [](CEmitter& e) {
    e.LoadStack(ECX, kWord).LoadStack(EAX, 2 * kWord);
  }));
  CEmitter creation = f.w.At(f.In(kItemCreation));
  creation.MovWordAtImm(ECX, kCreatedItemMarkOffset, kCreatedItemMark).Ret();
  f.w.Put(creation);

}

}  // namespace

std::uint32_t WriteInstanceCheck(CCodeWriter& writer, std::vector<std::uint32_t>& entries, std::uint32_t resume,
                                 std::uint32_t refusedExit) {
  CFeatureWriter f(writer, entries);
  constexpr std::int8_t kOverRefusal = 14;  // mov eax, code; jmp exit; int3 × 4
  constexpr std::uint32_t kTrailingInt3 = 4;
  const auto refusal = [&](CEmitter& e) {
    e.Raw({std::uint8_t(0x70 | CondE), std::uint8_t(kOverRefusal)});
    e.MovImm(EAX, kMainAnotherInstanceCode).Jmp(refusedExit);
    for (std::uint32_t i = 0; i < kTrailingInt3; ++i) e.Int3();
  };
  if (f.V()) {
    const std::uint32_t start = f.w.PutBefore(f.In(kInstanceCheck1), [](CEmitter& e) {
      for (std::uint32_t i = 0; i < kInstanceCheckPushedWordsV; ++i) e.Push(EBX);
    });
    CEmitter code = f.w.At(f.In(kInstanceCheck1));
    code.PushImm(f.Rt(kInstanceName)).Call(f.Entry(Routine::InstanceCheck));
    code.AddEsp((kInstanceCheckPushedWordsV + 1) * kWord).Test(EAX, EAX);
    refusal(code);
    f.ExpectHere(code, f.In(kInstanceCheck1) + kInstanceCheckStretchV);
    code.Jmp(resume);
    f.w.Put(code);
    return start;
  }
  CEmitter code = f.w.At(f.In(kInstanceCheck1));
  code.PushImm(f.Rt(kInstanceName)).Call(f.Entry(Routine::InstanceCheck));
  f.PadTo(code, f.In(kInstanceCheck2));
  code.AddEsp(kWord).Test(EAX, EAX);
  f.PadTo(code, f.In(kInstanceCheck3));
  refusal(code);
  f.ExpectHere(code, f.In(kInstanceCheck3) + kInstanceCheckStretch3);
  code.Jmp(resume);
  f.w.Put(code);
  return code.Origin();
}

std::uint32_t WriteInstanceRelease(CCodeWriter& writer, std::vector<std::uint32_t>& entries, std::uint32_t resume) {
  CFeatureWriter f(writer, entries);
  CEmitter code = f.w.At(f.In(kInstanceRelease));
  PushMemory(code, f.Rt(kInstanceHandle));
  CallMem(code, f.Slot(Import::InstanceRelease));
  f.ExpectHere(code, f.In(kInstanceRelease) + kInstanceReleaseStretch);
  code.Jmp(resume);
  f.w.Put(code);
  return code.Origin();
}

void WriteFeatureStubs(CCodeWriter& writer, std::vector<std::uint32_t>& entries) {
  CFeatureWriter f(writer, entries);
  WriteStubs(f);
}

void WriteFeatureRoutines(CCodeWriter& writer, std::vector<std::uint32_t>& entries) {
  CFeatureWriter f(writer, entries);
  WriteOpenGameData(f);
  WriteOpenSavedGame(f);
  WriteCreateGameFile(f);
  WriteCloseCallers(f);
  WriteObjectTest(f);
  WriteSaveWriter(f);
  WriteSaveLoader(f);
  WriteLimits(f);
  WriteAspectRatio(f);
  WriteBugFixChecks(f);
  WriteDrawDistanceChecks(f);
  WritePlayerCallers(f);
}

void WriteFeatureData(CGameDouble& game, const std::vector<std::uint32_t>& entries) {
  const auto entry = [&entries](Routine routine) { return entries[std::size_t(routine)]; };
  const std::pair<Import, Routine> imports[] = {{Import::CreateFile, Routine::CreateFileW32},
                                                {Import::WriteFile, Routine::WriteFileW32},
                                                {Import::ReadFile, Routine::ReadFileW32},
                                                {Import::CloseHandle, Routine::CloseHandleW32},
                                                {Import::InstanceRelease, Routine::InstanceRelease}};
  for (const auto& [import, routine] : imports)
    game.Write<std::uint32_t>(kImportSlots + std::uint32_t(import) * kWord, entry(routine));
  game.Write<std::uint32_t>(kModeStrings, kModeRead);
  game.Write<std::uint32_t>(kModeStrings + kWord, kModeWrite);
  const char name[] = "Quorvant";
  game.Image().Write(game.At(kInstanceName), name, sizeof name);
  game.Write<std::uint32_t>(kInstanceHandle, kInstanceHandleValue);
  game.Write<float>(kAspectConstant, kAspectFourThirds);
  game.Write<std::uint32_t>(kDrawDistanceLimit, kDefaultDrawDistance);
  // Two matrix stacks, their pointers in the middle so that pops and pushes both have room.
  const std::uint32_t stackBytes = kMatrixStackDepth * kMatrixBytes;
  game.Write<std::uint32_t>(kMatrixStackPointer, game.At(kMatrixStacks + stackBytes / 2));
  if (kMatrixStackPointerV2.In(game.GetBuild()) != 0)
    game.Write<std::uint32_t>(kMatrixStackPointerV2, game.At(kMatrixStacks + stackBytes + stackBytes / 2));
  const std::uint32_t record = kObjectRecord.In(game.GetBuild());
  game.Write<std::uint32_t>(record + kObjectRoutineOffset, entry(Routine::ObjectDefaultRoutine));
  game.Write<std::uint16_t>(record + kObjectValueOffset, kObjectOriginalValue);
  // The game's frame limiter waits this many performance-counter ticks a frame.
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  game.Write<std::uint64_t>(kFrameTime, std::uint64_t(frequency.QuadPart) / (2 * kGameFramesPerSecond));
}

std::uint32_t CGameDouble::MatrixStackStart(bool second) const {
  const std::uint32_t stackBytes = kMatrixStackDepth * kMatrixBytes;
  return At(kMatrixStacks + (second ? stackBytes : 0) + stackBytes / 2);
}

}  // namespace gamedouble
