#pragma once
// The game double: a synthetic game executable for one of the four supported
// builds (columns A IV Editor, B IV Release Patched, C IV Demo Corvel, D V
// Release Patched) on a CGameImage, holding at every place a hook or accessor
// touches the game's original instructions inside small routines that tests
// run as the game would, the game routines those call as stubs that record
// their calls, the game's data, and a renderer that draws queued quads into a
// 32-bit frame buffer of the screen's size.
//
// Sections: [base + 0x1000, CodeEnd()) is execute-read; everything above is
// read-write game data (globals, tables, buffers). Places are written at the
// preferred base 0x400000 and translated by At() for a relocated double.
//
// Errors: building the double cannot fail quietly: a place that collides with
// another, or a second double while one exists, ends the process with a
// message on standard error. IsReady() is false only when the image could not
// be mapped (something else lives at the base). Calls recorded by stubs are
// read after the run; a stub's result is what SetResult gave (0 by default) or
// what the OnCall handler answers.
//
// Threads: one double at a time, used from one thread (the game's main thread
// of the test). Stubs and Run are re-entrant on that thread (a stub's handler
// may run other routines of the double).
//
// The original instructions at the places, where the game's description names
// only their effect (the hooks render the same effect):
// - Main (start place): IV Editor `sub esp, 20; push ebx; push ebp` (5 bytes);
//   IV Release Patched and IV Demo Corvel `sub esp, 168`, V `sub esp, 164`
//   (6 bytes each). Each return place: `add esp, frame; ret 16` (IV Editor:
//   `pop ebp; pop ebx` just before it). The body loads EBX and EBP with other
//   values, so a prologue rendered with other registers shows.
// - Window-procedure value: the imm32 of `mov eax, procedure` (the B8 opcode
//   lies one byte before the place); WindowChanged: `mov [window global], eax`.
// - DefineAllObjects: `add esp, 8; ret; int3`. SetUpItemLinkedLists: `add esp,
//   12; xor ecx, ecx`, then the routine returns ECX.
// - Frame tail: `call R1; push address; push dword [value]; call R2; add esp,
//   8; call R3; push address; call R4; add esp, 4; (V: pop edi; pop esi; pop
//   ebx;) add esp, 20; ret`; V's routine saved EBX, ESI, EDI after reserving
//   its 20 bytes.
// - QueryFlagA: `mov eax, [flag]`, then the routine answers (EAX != 0).
// - GetKeyStates: `mov eax, [keyboard]`; EAX is the device the rest reads from.
// - GetJoypadStates (A-C): `sub esp, 52; lea eax, [esp + 0]` (3 + 4 bytes).
// - ScriptLoaded, LoadItems (both places): `pop esi; add esp, frame; ret`.
// - QueryFlagB: EAX holds bit 2 (0 or 1) of the word the pointer leads to
//   before the place; the stretch up to the resume place is A, B `mov cl, 1;
//   sub cl, al; nop`, C `add esp, 4; mov cl, 1; sub cl, al; nop`, V `add esp,
//   4; mov dl, 1; sub dl, al; nop`; the routine then returns that byte.
// - RollingBallDeath: `mov eax, [player item]`; between the resume places the
//   game sets the item's health (i16 at 34) to −1 and EDX to 1; the routine
//   returns EDX (0 when the stretch was skipped).
// - DivingRollLandDeath: `mov word [esi + 16], 8` (6 bytes), then a jump over
//   the rest of the 14-byte stretch.
// - Flipeffect: `push 0; call [table + eax * 4]; add esp, 4` (12 bytes).
// - ReplacedCall: `mov al, 1; add esp, 56; ret`; EAX's upper bytes stay
//   0x123456 from the body.
// - LoadSample: `call loader` with the four arguments pushed; cdecl.
// - The places the feature modules patch (file access, limits, aspect ratio,
//   single instance, window checks, draw distance, several players): listed
//   with their instructions at the top of src/FeatureRoutines.cpp.
//
// Calling conventions the double settles: every game routine and stub is cdecl
// (the caller removes arguments; result in EAX), except the game's main
// routine (stdcall, four arguments) and the window procedure (stdcall, four
// arguments). Stubs keep every register but EAX and keep the flags only as far
// as a cdecl routine would.
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <hack/testing/GameImage.h>
#include <hack/testing/Picture.h>
#include <hack/testing/RendererDouble.h>

struct IDirectSound8;
struct ACMSTREAM;

namespace gamedouble {

enum class Build : std::uint32_t { IVEditor, IVReleasePatched, IVDemoCorvel, VReleasePatched };
constexpr Build kBuilds[] = {Build::IVEditor, Build::IVReleasePatched, Build::IVDemoCorvel, Build::VReleasePatched};
// GameVersion number of a build (3, 2, 4, 7) and its name for test output.
std::uint32_t GameVersionOf(Build build);
const char* NameOf(Build build);

// A place in the four columns at the preferred base; 0 = absent in the build.
struct Place {
  std::uint32_t a, b, c, d;
  constexpr std::uint32_t In(Build build) const {
    return build == Build::IVEditor ? a : build == Build::IVReleasePatched ? b : build == Build::IVDemoCorvel ? c : d;
  }
};

// Places no description of the game gives; the double chose them in its free
// space, and accessors use them as they are here.
namespace chosen {
// Code: the stubs of routines the accessors call.
constexpr Place kAllocateItem{0x498000, 0x498000, 0x498000, 0x4D8000};     // () -> item number, 0xFFFF none
constexpr Place kSetUpItem{0x498040, 0x498040, 0x498040, 0x4D8040};        // (item number)
constexpr Place kRemoveItem{0x498080, 0x498080, 0x498080, 0x4D8080};       // (item number)
constexpr Place kCallItemRoutineA{0x4980C0, 0x4980C0, 0x4980C0, 0x4D80C0}; // (item number)
constexpr Place kCallItemRoutineB{0x498100, 0x498100, 0x498100, 0x4D8100}; // (item number)
constexpr Place kMoveItemToRoom{0x498140, 0x498140, 0x498140, 0x4D8140};   // (item number, room)
constexpr Place kRemoveEffect{0x498180, 0x498180, 0x498180, 0x4D8180};     // (effect number)
constexpr Place kPlaySoundEffect{0x4981C0, 0x4981C0, 0x4981C0, 0x4D81C0};  // (sample, position or 0, flags) -> played
constexpr Place kRenderString{0x498200, 0x498200, 0x498200, 0x4D8200};     // five arguments
constexpr Place kRoutineC{0x498240, 0x498240, 0x498240, 0x4D8240};         // ()
constexpr Place kRoutineD{0x498280, 0x498280, 0x498280, 0x4D8280};         // ()
constexpr Place kRoutineDV{0, 0, 0, 0x4D82C0};                             // (byte), game V only
constexpr Place kRoutineE{0x498300, 0x498300, 0x498300, 0x4D8300};         // ()
// Data.
constexpr Place kFontHeight{0xF00000, 0xF00000, 0xF00000, 0xF00000};            // u32
constexpr Place kMultiplayerVariableA{0xF00004, 0xF00004, 0xF00004, 0xF00004};  // u32
constexpr Place kMultiplayerVariableB{0xF00008, 0xF00008, 0xF00008, 0xF00008};  // u32
}  // namespace chosen

// Routines of the double. The first group holds the hook places; tests run
// them with Run. The second group are stubs that record their calls.
enum class Routine : std::uint32_t {
  // stdcall (instance, previous, command line, show): the game's main
  // function: prologue, window-procedure value, WindowChanged store, five
  // returns. SetMainBehaviour chooses the window it "creates" and the return
  // it leaves by; it answers kMainExitCode + the return's index (0 = lowest
  // address).
  Main,
  DefineAllObjects,      // () ; ends "release 8 bytes, return"
  SetUpItemLinkedLists,  // () -> the ECX the routine had after its cleared-ECX step (0)
  Frame,                 // () ; its tail calls FrameRoutine1..4
  QueryFlagA,            // () -> (the flag global != 0)
  GetKeyStates,          // (u8 table[256]) ; copies the keyboard (SetKeyboard) into the table
  GetJoypadStates,       // (u32* a, u32* b) -> value ; A-C: 7-byte entry; D: the replaced routine
  LoadSampleCaller,      // (data, size, third, index) -> the loader's result, calls SampleLoader at the call place
  ScriptLoaded,          // ()
  QueryFlagB,            // () -> the result byte (CL on A-C, DL on D)
  LoadItems,             // ()
  LoadItemsSecond,       // () ; absent on A
  FallDamage,            // (item*) -> bool, the game's rule
  RollingBallDeath,      // () -> 1 when the death code between the two resume places ran, else 0
  DivingRollLandDeath,   // (item*) ; ESI = item at the place
  FlipeffectCaller,      // (number) ; EAX = number at the place, calls table entry [number] with 0
  ReplacedCall,          // (w0, w1, w2, w3) -> AL = 1
  // Stubs (recording).
  WindowProcedure,  // stdcall (window, message, wParam, lParam) -> result
  FrameRoutine1,    // () A 0x47F6F0 / B 0x481860 / C 0x4816D0 / D 0x4BA100 ; flushes
  FrameRoutine2,    // (u32, address) A 0x47F6B0 / ... ; flushes
  FrameRoutine3,    // () A 0x47E950 / ... ; flushes
  FrameRoutine4,    // (address) A 0x48D5A0 / ...
  SampleLoader,     // (data, size, third, index) -> loaded
  ProgressBar,      // (x, y, width, height, value, colour, colour), A-C
  ProgressBarV,     // the same, game V
  AllocateItem,
  SetUpItem,
  RemoveItem,
  CallItemRoutineA,
  CallItemRoutineB,
  MoveItemToRoom,
  RemoveEffect,
  PlaySoundEffect,
  RenderString,
  RoutineC,
  RoutineD,
  RoutineDV,
  RoutineE,
  Flipeffect,            // the table's entries 0 .. limit − 1: (argument); StubCall::index is the entry
  FlipeffectOutOfRange,  // entries limit .. 255 of the table lead here
  QuadRoutine,           // (QuadRecord*) ; queues the record

  // The feature modules' places (FeatureRoutines.cpp tells each one's original
  // instructions). Runnable routines holding the places:
  OpenGameData,       // (path) -> stream (EAX; EDX: the ESI it went on with) ; path in ECX (C: EDX) at the place
  OpenSavedGame,      // (path) -> stream (IV: as OpenGameData) ; path in EDX (V: ECX)
  CreateGameFile,     // (path) -> stream ; path in EAX, stream to EBP (A) or EBX
  CloseCaller1,       // (stream) ; the close calls, in the order of kCloseCalls
  CloseCaller2,
  CloseCaller3,
  CloseCaller4,       // A: the routine ends in a jump to the close routine
  CloseCallerV1,      // game V only
  CloseCallerV2,
  CloseCallerV3,
  ObjectTest,         // (object*) ; EAX = object; EDX = 1 resumed where the flag is set, 2 where clear
  SaveWriter,         // (path, buffer, size) -> 1 written, 0 not created ; ECX: EAX where it went on
  SaveLoader,         // (path, buffer, size) -> 1 read, 0 not opened ; Win32-style
  LimitStore,         // (value) -> the u16 stored at byte 10 of EBP's frame (A)
  AspectRatio,        // () -> float bits: width / height × 3/4 (A-C)
  BugFixChecks,       // (a, b) -> 1 reached the common target, 2 left at the first check (a != 0), 3 at the second
  DrawDistanceCheck1, // (distance) -> 1 drawn, 0 beyond the limit (A)
  DrawDistanceCheck2,
  DrawDistanceCheck3,
  PlayerDrawCaller,   // () ; draws the player
  MirroredDrawCaller, // () ; draws the mirrored player, one argument word pushed before
  PlayerControlCaller,  // () ; controls the player (V: and the second routine in state 5)
  ItemRoutineCaller,  // (item number, routine) ; calls routine(item number) as the game does
  ItemCreationCaller, // (structure*, item number) -> item number ; marks the structure
  ObjectRoutineCaller,  // (item number, item*, argument) ; calls the object record's routine
  // Stubs the feature places lead to.
  FileOpen,           // (path, mode) -> stream ; the game's C runtime open
  FileClose,          // (stream)
  FileRead,           // (buffer, size, count, stream) -> count ; at the read place
  FileSeek,           // (stream, offset, origin) -> 0
  FileWrite,          // (buffer, size, count, stream) -> count
  FileLength,         // (stream) -> length
  CreateFileW32,      // stdcall (path, access, share, security, disposition, attributes, template) -> handle, −1 failed
  WriteFileW32,       // stdcall (handle, buffer, size, written*, overlapped) -> BOOL
  ReadFileW32,        // stdcall (handle, buffer, size, read*, overlapped) -> BOOL
  CloseHandleW32,     // stdcall (handle) -> BOOL
  InstanceCheck,      // (name) -> non-zero when another copy runs
  InstanceRelease,    // stdcall (handle)
  PlayerControlRoutine,   // ()
  PlayerControlRoutineV,  // () game V
  PlayerDrawRoutine,      // ()
  RemoteDrawRoutine,      // ()
  PlayerMeshRoutine,      // ()
  MatrixRoutine,          // ()
  PlayerExtraRoutine,     // ()
  HeldObjectRoutine,      // ()
  ObjectDefaultRoutine,   // (argument)
  ItemRoutine,            // (item number) ; a routine to hand ItemRoutineCaller
  Count
};
const char* NameOf(Routine routine);

// Number of entries of the game's flipeffect table: 59 on game V, 47 otherwise.
std::uint32_t FlipeffectLimit(Build build);
// What Main answers: kMainExitCode + the index of the return it left by.
constexpr std::uint32_t kMainExitCode = 0x100;
// What Main answers when its single-instance check finds another copy running
// (the InstanceCheck stub answered non-zero).
constexpr std::uint32_t kMainAnotherInstanceCode = 0x1FF;

// Registers in and out of a run. ESP is ignored on the way in.
struct Registers {
  std::uint32_t eax, ecx, edx, ebx, esp, ebp, esi, edi, eflags;
};
// Distinct values loaded by default, so that a routine that loses one shows.
constexpr Registers kDefaultRegisters{0xA0A0A0A0, 0xC1C1C1C1, 0xD2D2D2D2, 0xB3B3B3B3, 0,
                                      0xE5E5E5E5, 0x56565656, 0xD7D7D7D7, 0x00000202};

struct RunResult {
  Registers before;  // as loaded (esp: the stack pointer at the call, pointing at the first argument)
  Registers after;   // right after the routine returned (esp likewise)
  // after.esp − before.esp: 0 for cdecl, 4 × arguments for stdcall.
  std::int32_t stackDelta = 0;
  // The argument words as the routine left them on the stack.
  std::vector<std::uint32_t> arguments;
};

// One call of a stub.
struct StubCall {
  Routine routine;
  std::uint32_t index = 0;  // Flipeffect: the table entry
  std::vector<std::uint32_t> arguments;  // as many as the routine takes
  std::uint32_t eax, ecx, edx, ebx, ebp, esi, edi;
  std::uint32_t returnAddress;
  std::uint32_t stackPointer;  // at entry, pointing at the return address
};

struct RunOptions {
  // Registers loaded before the call (ESP ignored).
  Registers registers = kDefaultRegisters;
  // Bytes by which the stack at the routine's entry misses the 16-byte
  // alignment that Linux i386 code expects (game code keeps only 4).
  std::uint32_t stackSkew = 4;
};

class CGameDouble {
 public:
  // Maps the image at base (kPreferredBase or kRelocatedBase), writes the
  // build marker, the routines, the stubs, the data and the renderer objects.
  // Does not select the build for the translation: call DetectGameVersion()
  // and SelectGameBuild() (or let the code under test do it).
  explicit CGameDouble(Build build, std::uint32_t base = gameimage::kPreferredBase);
  ~CGameDouble();
  CGameDouble(const CGameDouble&) = delete;
  CGameDouble& operator=(const CGameDouble&) = delete;

  bool IsReady() const;
  Build GetBuild() const { return m_Build; }
  gameimage::CGameImage& Image() { return *m_Image; }
  // The address in this image of a place written at the preferred base; of a
  // Place, its column for this build (0 stays 0).
  std::uint32_t At(std::uint32_t preferred) const { return preferred == 0 ? 0 : m_Image->At(preferred); }
  std::uint32_t At(const Place& place) const { return At(place.In(m_Build)); }
  // End of the execute-read code section (at this base).
  std::uint32_t CodeEnd() const;

  // Entry of a routine or stub in this image (0 when the build lacks it).
  std::uint32_t Address(Routine routine) const;

  // Runs a routine as the game would: arguments pushed right to left, the
  // registers and flags of the options loaded, called with a 4-byte aligned
  // stack. A routine the build lacks ends the test process. Each run writes a
  // thunk into the code section (two protection changes): a benchmark calls
  // Address(routine) directly as a cdecl function pointer instead.
  RunResult Run(Routine routine, std::initializer_list<std::uint32_t> arguments = {},
                const RunOptions& options = {});
  RunResult Run(std::uint32_t address, std::initializer_list<std::uint32_t> arguments = {},
                const RunOptions& options = {});
  // Run and answer EAX.
  std::uint32_t Call(Routine routine, std::initializer_list<std::uint32_t> arguments = {});
  std::uint32_t CallAddress(std::uint32_t address, std::initializer_list<std::uint32_t> arguments = {});
  // Main: which window it stores at WindowChanged and which return (0..4) it takes.
  void SetMainBehaviour(std::uint32_t window, std::uint32_t exitIndex);
  // Calls the window procedure the game registered (the pointer Main stored
  // from its window-procedure value place), stdcall, as the system would.
  std::uint32_t DispatchMessage(std::uint32_t window, std::uint32_t message, std::uint32_t wParam,
                                std::uint32_t lParam);
  // The procedure Main registered at its last run (0 before).
  std::uint32_t RegisteredWindowProcedure() const;

  // Stubs: recorded calls (oldest first), a routine's fixed result, and a
  // handler that runs inside the call and answers the result instead.
  const std::vector<StubCall>& Calls() const { return m_Calls; }
  std::vector<StubCall> CallsOf(Routine routine) const;
  void ClearCalls() { m_Calls.clear(); }
  void SetResult(Routine routine, std::uint32_t result);
  void OnCall(Routine routine, std::function<std::uint32_t(const StubCall&)> handler);

  // Game data at places written at the preferred base.
  template <typename T>
  T Read(std::uint32_t preferred) const {
    T value;
    std::memcpy(&value, reinterpret_cast<const void*>(std::uintptr_t(At(preferred))), sizeof value);
    return value;
  }
  template <typename T>
  void Write(std::uint32_t preferred, const T& value) {
    std::memcpy(reinterpret_cast<void*>(std::uintptr_t(At(preferred))), &value, sizeof value);
  }
  template <typename T>
  T Read(const Place& place) const { return Read<T>(place.In(m_Build)); }
  template <typename T>
  void Write(const Place& place, const T& value) { Write<T>(place.In(m_Build), value); }

  // Game state with meaning to the routines.
  void SetKeyboard(const std::uint8_t (&keys)[256]);                       // what GetKeyStates reads
  void SetJoypad(bool present, std::uint32_t a, std::uint32_t b, std::uint32_t value);  // GetJoypadStates
  void SetScreenSize(std::uint32_t width, std::uint32_t height);  // globals and frame buffer (cleared)
  std::uint32_t ScreenWidth() const;
  std::uint32_t ScreenHeight() const;
  // The item array (records of kItemSize bytes, on the heap as the game keeps
  // it); the player item pointer is set to record 0.
  static constexpr std::uint32_t kItemSize = 5622;
  static constexpr std::uint32_t kItemCount = 1024;  // as many as raised limits allow
  std::uint8_t* Item(std::uint32_t index);
  // DirectDraw object and device pointers at their odd places (0: the game
  // has not made its renderer yet); DirectSound pointer likewise.
  void SetRendererPresent(bool directDraw, bool device);
  void SetDirectSound(std::uint32_t pointer);

  // The game's sound as it makes it at start: a DirectSound device of the
  // platform stand-in (normal cooperative level) at the DirectSound place; an
  // ACM stream from kAdpcmSourceFormat to the game's wave format, its handle at
  // the ACM stream place; and its ACMSTREAMHEADER at the header place, prepared
  // over the sample read buffer and the conversion output buffer (whose
  // address is at the output pointer place). The game reads each sample file
  // into the read buffer whole and passes its start to the loader; the
  // header's source begins kAdpcmDataOffset bytes into it, where the data chunk
  // of a RIFF/WAVE MS-ADPCM file with the standard 32-byte format extension
  // and a fact chunk begins, and spans the rest of the buffer. False (and
  // nothing kept) when DirectSound or the ACM refused. StopSound (also run by
  // the destructor) unprepares, closes and releases them and clears the places.
  static constexpr std::uint32_t kSampleReadBufferBytes = 0x10000;
  static constexpr std::uint32_t kAdpcmDataOffset = 90;
  static constexpr std::uint32_t kAcmOutputBytes = 0x40000;
  static constexpr std::uint16_t kAdpcmBlockAlign = 512;
  bool StartSound();
  void StopSound();
  IDirectSound8* Sound() const { return m_Sound; }
  // Reads a sample file into the read buffer (at most its size) and runs the
  // game's loader call (LoadSampleCaller) on (buffer, size, third, index);
  // answers the call's result.
  std::uint32_t LoadSampleFile(const std::vector<std::uint8_t>& file, std::uint32_t third, std::uint32_t index);
  std::uint8_t* SampleReadBuffer() { return m_SampleReadBuffer.data(); }

  // Renderer and frame buffer. The frame buffer has the screen's size and is
  // cleared to opaque black at the start of every run of Routine::Frame (and
  // by SetScreenSize); it keeps what was drawn until then.
  CRendererDouble& Renderer() { return m_Renderer; }
  CPicture& Frame() { return m_Frame; }
  // The game's texture table (RendererDouble.h says where it lies): appends a
  // record for a surface that Renderer() made and answers its index; the
  // table holds kGameTextureSlots records (a fuller table ends the process).
  std::uint16_t AddGameTexture(std::uint32_t surface);
  std::uint32_t GameTextureCount() const;
  // The record the quad routine's flush would use for a texture index now;
  // false (record zeroed) when no game would find a texture there.
  bool LookUpTexture(std::uint16_t index, TextureRecord& record) const;

  // Where the game's matrix stack pointer starts (A-C, and V's first; second:
  // V's other pointer); the module's pops move it down by 48 bytes each.
  std::uint32_t MatrixStackStart(bool second = false) const;

  // The flush stubs' work (internal, called from the stub entry).
  void FlushQueue();
  std::uint32_t Dispatch(std::uint32_t tag, std::uint32_t* pushad);

 private:
  Build m_Build;
  std::unique_ptr<gameimage::CGameImage> m_Image;
  CRendererDouble m_Renderer;
  CPicture m_Frame;
  std::vector<std::uint8_t> m_Items;
  std::vector<std::uint8_t> m_SampleReadBuffer;
  std::vector<std::uint8_t> m_AcmOutput;
  IDirectSound8* m_Sound = nullptr;  // counted
  ACMSTREAM* m_AcmStream = nullptr;
  std::vector<StubCall> m_Calls;
  std::vector<std::uint32_t> m_Results;
  std::vector<std::function<std::uint32_t(const StubCall&)>> m_Handlers;
  std::vector<std::uint32_t> m_Entries;  // per Routine
  std::uint32_t m_RunDepth = 0;
};

}  // namespace gamedouble
