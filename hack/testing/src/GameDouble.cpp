// The game double: image set-up, game data, running routines, and the stubs' entry.
#include <hack/testing/GameDouble.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <hack/GameVersion.h>
#include <platform/acm.h>
#include <platform/dsound.h>
#include <platform/memory.h>

#include "FeaturePlaces.h"

namespace gamedouble {

using namespace gameimage;
using namespace places;

namespace {

CGameDouble* g_Double = nullptr;

[[noreturn]] void Fatal(const char* what, std::uint32_t value) {
  std::fprintf(stderr, "game double: %s (0x%X)\n", what, value);
  std::abort();
}

// pushad leaves EDI lowest, then ESI, EBP, the ESP before it, EBX, EDX, ECX, EAX.
enum PushadSlot : std::uint32_t { kEdi, kEsi, kEbp, kEsp, kEbx, kEdx, kEcx, kEax };
constexpr std::uint8_t kPushadEaxOffset = 4 * kEax;

// Flags a run may load: CF, PF, AF, ZF, SF, OF, the fixed bit 1, IF and DF (the
// game may reach a hook with it set; the thunk and the stubs clear it before
// C++ runs). The trap flag stays clear.
constexpr std::uint32_t kLoadableFlags = 0x0001 | 0x0004 | 0x0010 | 0x0040 | 0x0080 | 0x0800 | 0x0002 | 0x0200 | 0x0400;
constexpr std::uint32_t kStackAlignment = 16;
constexpr std::uint32_t kWord = 4;

constexpr std::uint32_t kDefaultScreenWidth = 640, kDefaultScreenHeight = 480;
constexpr std::uint32_t kDefaultFontHeight = 16;
constexpr float kDefaultDepth = 0.25f;
constexpr std::uint32_t kFrameBackground = 0xFF000000;
constexpr std::uint32_t kFrameRoutine2DefaultValue = 0x11;
constexpr std::uint32_t kUncleared = 0xFFFFFFFF;
constexpr std::uint32_t kFlipeffectLimitV = 59, kFlipeffectLimitIV = 47;

// The game's sample format: 16-bit mono PCM at 22050 Hz (WAVEFORMATEX).
struct WaveFormat {
  std::uint16_t formatTag, channels;
  std::uint32_t samplesPerSecond, averageBytesPerSecond;
  std::uint16_t blockAlign, bitsPerSample, extraSize;
};
constexpr WaveFormat kGameWaveFormat{1, 1, 22050, 44100, 2, 16, 0};

std::uint32_t Arity(Routine routine) {
  switch (routine) {
    case Routine::CreateFileW32: return 7;
    case Routine::WriteFileW32:
    case Routine::ReadFileW32: return 5;
    case Routine::WindowProcedure:
    case Routine::FileRead:
    case Routine::FileWrite:
    case Routine::SampleLoader: return 4;
    case Routine::FileSeek: return 3;
    case Routine::FileOpen: return 2;
    case Routine::FileClose:
    case Routine::FileLength:
    case Routine::CloseHandleW32:
    case Routine::InstanceCheck:
    case Routine::InstanceRelease:
    case Routine::ObjectDefaultRoutine:
    case Routine::ItemRoutine: return 1;
    case Routine::ProgressBar:
    case Routine::ProgressBarV: return 7;
    case Routine::RenderString: return 5;
    case Routine::PlaySoundEffect: return 3;
    case Routine::FrameRoutine2:
    case Routine::MoveItemToRoom: return 2;
    case Routine::FrameRoutine4:
    case Routine::SetUpItem:
    case Routine::RemoveItem:
    case Routine::CallItemRoutineA:
    case Routine::CallItemRoutineB:
    case Routine::RemoveEffect:
    case Routine::RoutineDV:
    case Routine::Flipeffect:
    case Routine::FlipeffectOutOfRange:
    case Routine::QuadRoutine: return 1;
    default: return 0;
  }
}

}  // namespace

// The stubs' way into the double. Game code reaches it with the stack only
// 4-byte aligned.
extern "C" __attribute__((cdecl, force_align_arg_pointer)) std::uint32_t GameDoubleStubEntry(
    std::uint32_t tag, std::uint32_t* pushad) {
  if (g_Double == nullptr) Fatal("a stub ran without a double", tag);
  return g_Double->Dispatch(tag, pushad);
}

// A stub stands for a game routine, which gives its caller back every flag it
// arrived with (the direction flag above all), whatever the C++ behind it does.
void EmitStub(CEmitter& code, std::uint32_t tag, std::uint16_t argumentBytes) {
  code.Pushfd().Pushad().Mov(EAX, ESP).Cld().Push(EAX).PushImm(tag);
  code.Xor(EBP, EBP);  // ends the frame chain for unwinders in the C++ side
  code.Call(std::uint32_t(std::uintptr_t(&GameDoubleStubEntry))).AddEsp(2 * kWord);
  code.StoreStack(kPushadEaxOffset, EAX).Popad().Popfd();
  if (argumentBytes != 0) {
    code.RetN(argumentBytes);
  } else {
    code.Ret();
  }
}

void CCodeWriter::Put(const CEmitter& code) {
  const std::uint32_t begin = code.Origin(), end = begin + std::uint32_t(code.Code().size());
  for (const auto& [from, to] : m_Written)
    if (begin < to && from < end) Fatal("two places of the double overlap", begin);
  if (end > m_Game.CodeEnd()) Fatal("code beyond the code section", begin);
  m_Written.emplace_back(begin, end);
  m_Game.Image().Place(code);
}

std::uint32_t GameVersionOf(Build build) {
  switch (build) {
    case Build::IVEditor: return GAMEVERSION_IV_EDITOR;
    case Build::IVReleasePatched: return GAMEVERSION_IV_RELEASE_PATCHED;
    case Build::IVDemoCorvel: return GAMEVERSION_IV_DEMO_CORVEL;
    case Build::VReleasePatched: break;
  }
  return GAMEVERSION_V_RELEASE_PATCHED;
}

const char* NameOf(Build build) {
  switch (build) {
    case Build::IVEditor: return "IVEditor";
    case Build::IVReleasePatched: return "IVReleasePatched";
    case Build::IVDemoCorvel: return "IVDemoCorvel";
    case Build::VReleasePatched: break;
  }
  return "VReleasePatched";
}

const char* NameOf(Routine routine) {
  static const char* const kNames[] = {
      "Main", "DefineAllObjects", "SetUpItemLinkedLists", "Frame", "QueryFlagA", "GetKeyStates",
      "GetJoypadStates", "LoadSampleCaller", "ScriptLoaded", "QueryFlagB", "LoadItems", "LoadItemsSecond",
      "FallDamage", "RollingBallDeath", "DivingRollLandDeath", "FlipeffectCaller", "ReplacedCall",
      "WindowProcedure", "FrameRoutine1", "FrameRoutine2", "FrameRoutine3", "FrameRoutine4", "SampleLoader",
      "ProgressBar", "ProgressBarV", "AllocateItem", "SetUpItem", "RemoveItem", "CallItemRoutineA",
      "CallItemRoutineB", "MoveItemToRoom", "RemoveEffect", "PlaySoundEffect", "RenderString", "RoutineC",
      "RoutineD", "RoutineDV", "RoutineE", "Flipeffect", "FlipeffectOutOfRange", "QuadRoutine",
      "OpenGameData", "OpenSavedGame", "CreateGameFile", "CloseCaller1", "CloseCaller2", "CloseCaller3",
      "CloseCaller4", "CloseCallerV1", "CloseCallerV2", "CloseCallerV3", "ObjectTest", "SaveWriter", "SaveLoader",
      "LimitStore", "AspectRatio", "BugFixChecks", "DrawDistanceCheck1", "DrawDistanceCheck2",
      "DrawDistanceCheck3", "PlayerDrawCaller", "MirroredDrawCaller", "PlayerControlCaller", "ItemRoutineCaller",
      "ItemCreationCaller", "ObjectRoutineCaller", "FileOpen", "FileClose", "FileRead", "FileSeek", "FileWrite",
      "FileLength", "CreateFileW32", "WriteFileW32", "ReadFileW32", "CloseHandleW32", "InstanceCheck",
      "InstanceRelease", "PlayerControlRoutine", "PlayerControlRoutineV", "PlayerDrawRoutine", "RemoteDrawRoutine",
      "PlayerMeshRoutine", "MatrixRoutine", "PlayerExtraRoutine", "HeldObjectRoutine", "ObjectDefaultRoutine",
      "ItemRoutine"};
  static_assert(std::size(kNames) == std::size_t(Routine::Count));
  return std::uint32_t(routine) < std::size(kNames) ? kNames[std::size_t(routine)] : "?";
}

std::uint32_t FlipeffectLimit(Build build) {
  return build == Build::VReleasePatched ? kFlipeffectLimitV : kFlipeffectLimitIV;
}

CGameDouble::CGameDouble(Build build, std::uint32_t base)
    : m_Build(build),
      m_Image(std::make_unique<CGameImage>(base)),
      m_Results(std::size_t(Routine::Count), 0),
      m_Handlers(std::size_t(Routine::Count)),
      m_Entries(std::size_t(Routine::Count), 0) {
  if (g_Double != nullptr) Fatal("a second game double while one exists", base);
  if (!m_Image->IsMapped()) return;
  g_Double = this;
  m_Image->SetCodeSection(base + platform::PageSize(), CodeEnd());
  m_Image->WriteBuildMarker(GameVersionOf(build));
  CCodeWriter writer(*this);
  WriteGameRoutines(writer, m_Entries);

  // Game data.
  m_Items.assign(std::size_t(kItemSize) * kItemCount, 0);
  Write<std::uint32_t>(kItemArrayPointer, std::uint32_t(std::uintptr_t(m_Items.data())));
  Write<std::uint32_t>(kPlayerItemPointer, std::uint32_t(std::uintptr_t(m_Items.data())));
  SetScreenSize(kDefaultScreenWidth, kDefaultScreenHeight);
  Write<std::uint32_t>(chosen::kFontHeight, kDefaultFontHeight);
  Write<WaveFormat>(kWaveFormat, kGameWaveFormat);
  Write<std::uint32_t>(kKeyboardGlobal, At(kKeyboard));
  Write<std::uint32_t>(kQueryFlagBPointer, At(kQueryFlagBWord));
  Write<std::uint32_t>(kFrameRoutine2Value, kFrameRoutine2DefaultValue);
  Write<float>(kDepthValue, kDefaultDepth);
  Write<std::uint32_t>(kClearPairPointer, At(kClearPair));
  Write<std::uint32_t>(kClearPair, kUncleared);
  Write<std::uint32_t>(kClearPair + kWord, kUncleared);
  Write<std::uint32_t>(kQuadRoutinePointer, Address(Routine::QuadRoutine));
  if (build != Build::VReleasePatched) Write<std::uint32_t>(kTextureGlobal, At(kTextureTable));
  Write<std::uint32_t>(kTextureCount, 0);
  WriteFeatureData(*this, m_Entries);
  SetRendererPresent(true, true);
}

CGameDouble::~CGameDouble() {
  if (IsReady()) StopSound();
  if (g_Double == this) g_Double = nullptr;
}

bool CGameDouble::IsReady() const { return m_Image->IsMapped(); }

std::uint32_t CGameDouble::CodeEnd() const { return At(kCodeEnd); }

std::uint32_t CGameDouble::Address(Routine routine) const {
  return std::uint32_t(routine) < m_Entries.size() ? m_Entries[std::size_t(routine)] : 0;
}

RunResult CGameDouble::Run(Routine routine, std::initializer_list<std::uint32_t> arguments,
                           const RunOptions& options) {
  const std::uint32_t address = Address(routine);
  if (address == 0) Fatal(NameOf(routine), 0);
  return Run(address, arguments, options);
}

// Writes a thunk for this one call (arguments and registers as immediates)
// into the slot of the current depth, so that a stub's handler may run
// another routine, and runs it.
RunResult CGameDouble::Run(std::uint32_t address, std::initializer_list<std::uint32_t> arguments,
                           const RunOptions& options) {
  if (m_RunDepth >= kMaxRunDepth) Fatal("runs nested too deep", address);
  if (arguments.size() > kMaxRunArguments) Fatal("too many arguments", std::uint32_t(arguments.size()));
  const std::uint32_t block = At(kRunBlocks + m_RunDepth * kRunBlockSize);
  enum BlockField : std::uint32_t { kSavedEsp = 0, kCallEsp = 4, kOut = 8, kArguments = 0x40 };
  const auto out = [block](std::uint32_t field) { return block + kOut + field * kWord; };
  const auto count = std::uint32_t(arguments.size());

  RunResult result;
  result.before = options.registers;
  result.before.eflags = options.registers.eflags & kLoadableFlags;
  const Registers& in = result.before;
  // The thunk's bytes are freed before the game runs: game code may end this thread (the start routine's ways out
  // do), and nothing of this frame is unwound then.
  std::uint32_t thunk = 0;
  {
    CEmitter code(At(kOwnCode.In(m_Build) + kRunThunksOffset + m_RunDepth * kRunThunkSlot));
    code.Push(EBP).Push(EBX).Push(ESI).Push(EDI).Store(block + kSavedEsp, ESP);
    code.AndEsp16();
    // At the entry ESP + 4 would be 16-aligned with skew 0.
    const std::uint32_t pad = (options.stackSkew - kWord * count) % kStackAlignment;
    if (pad != 0) code.AddEsp(-std::int32_t(pad));
    for (auto it = std::rbegin(arguments); it != std::rend(arguments); ++it) code.PushImm(*it);
    code.Store(block + kCallEsp, ESP);
    code.PushImm(in.eflags).Popfd();
    code.MovImm(EAX, in.eax).MovImm(ECX, in.ecx).MovImm(EDX, in.edx).MovImm(EBX, in.ebx);
    code.MovImm(ESI, in.esi).MovImm(EDI, in.edi).MovImm(EBP, in.ebp);
    code.Call(address);
    code.Pushfd();
    code.Store(out(0), EAX).Store(out(1), ECX).Store(out(2), EDX).Store(out(3), EBX);
    code.Store(out(5), EBP).Store(out(6), ESI).Store(out(7), EDI);
    code.Pop(EAX).Store(out(8), EAX).Store(out(4), ESP);
    code.Load(ESI, block + kCallEsp).MovImm(EDI, block + kArguments).MovImm(ECX, count).Cld().RepMovsd();
    code.Load(ESP, block + kSavedEsp).Pop(EDI).Pop(ESI).Pop(EBX).Pop(EBP).Ret();
    if (code.Code().size() > kRunThunkSlot) Fatal("run thunk too long", address);
    m_Image->Place(code);
    thunk = code.Origin();
  }

  ++m_RunDepth;
  CallGame(thunk);
  --m_RunDepth;

  result.after = m_Image->Read<Registers>(block + kOut);
  result.before.esp = m_Image->Read<std::uint32_t>(block + kCallEsp);
  result.stackDelta = std::int32_t(result.after.esp - result.before.esp);
  for (std::uint32_t i = 0; i < count; ++i)
    result.arguments.push_back(m_Image->Read<std::uint32_t>(block + kArguments + i * kWord));
  return result;
}

std::uint32_t CGameDouble::Call(Routine routine, std::initializer_list<std::uint32_t> arguments) {
  return Run(routine, arguments).after.eax;
}

std::uint32_t CGameDouble::CallAddress(std::uint32_t address, std::initializer_list<std::uint32_t> arguments) {
  return Run(address, arguments).after.eax;
}

void CGameDouble::SetMainBehaviour(std::uint32_t window, std::uint32_t exitIndex) {
  Write<std::uint32_t>(kCreatedWindow, window);
  Write<std::uint32_t>(kExitChoice, exitIndex);
}

std::uint32_t CGameDouble::RegisteredWindowProcedure() const { return Read<std::uint32_t>(kClassProcedure); }

std::uint32_t CGameDouble::DispatchMessage(std::uint32_t window, std::uint32_t message, std::uint32_t wParam,
                                           std::uint32_t lParam) {
  const std::uint32_t procedure = RegisteredWindowProcedure();
  if (procedure == 0) Fatal("no window procedure registered", 0);
  return CallAddress(procedure, {window, message, wParam, lParam});
}

std::vector<StubCall> CGameDouble::CallsOf(Routine routine) const {
  std::vector<StubCall> calls;
  for (const StubCall& call : m_Calls)
    if (call.routine == routine) calls.push_back(call);
  return calls;
}

void CGameDouble::SetResult(Routine routine, std::uint32_t result) { m_Results[std::size_t(routine)] = result; }

void CGameDouble::OnCall(Routine routine, std::function<std::uint32_t(const StubCall&)> handler) {
  m_Handlers[std::size_t(routine)] = std::move(handler);
}

void CGameDouble::SetKeyboard(const std::uint8_t (&keys)[256]) { m_Image->Write(At(kKeyboard), keys, sizeof keys); }

void CGameDouble::SetJoypad(bool present, std::uint32_t a, std::uint32_t b, std::uint32_t value) {
  if (m_Build == Build::VReleasePatched) {
    Write<std::uint32_t>(kJoypadPresentV, present ? 1 : 0);
    Write<std::uint32_t>(kJoypadAV, a);
    Write<std::uint32_t>(kJoypadBV, b);
    Write<std::uint32_t>(kJoypadValueV, value);
    return;
  }
  Write<std::uint32_t>(kJoypadA, present ? a : 0);
  Write<std::uint32_t>(kJoypadB, present ? b : 0);
  Write<std::uint32_t>(kJoypadValue, present ? value : 0);
}

void CGameDouble::SetScreenSize(std::uint32_t width, std::uint32_t height) {
  Write<std::uint32_t>(kScreenWidth, width);
  Write<std::uint32_t>(kScreenHeight, height);
  m_Frame = CPicture(width, height, kFrameBackground);
}

std::uint32_t CGameDouble::ScreenWidth() const { return Read<std::uint32_t>(kScreenWidth); }
std::uint32_t CGameDouble::ScreenHeight() const { return Read<std::uint32_t>(kScreenHeight); }

std::uint8_t* CGameDouble::Item(std::uint32_t index) {
  return index < kItemCount ? m_Items.data() + std::size_t(index) * kItemSize : nullptr;
}

void CGameDouble::SetRendererPresent(bool directDraw, bool device) {
  Write<std::uint32_t>(kDirectDraw, directDraw ? m_Renderer.DirectDraw() : 0);
  Write<std::uint32_t>(kDevice, device ? m_Renderer.Device() : 0);
}

void CGameDouble::SetDirectSound(std::uint32_t pointer) { Write<std::uint32_t>(kDirectSound, pointer); }

namespace {
// Any non-null window: the stand-in only checks that there is one.
const HWND kSoundWindow = reinterpret_cast<HWND>(std::uintptr_t(0x1234));
constexpr WORD kAdpcmBitsPerSample = 4;
constexpr WORD kAdpcmBlockHeaderBytes = 7;
constexpr WORD kNibblesPerByte = 2;
constexpr WORD kHeaderSamples = 2;
}  // namespace

bool CGameDouble::StartSound() {
  StopSound();
  if (DirectSoundCreate8(nullptr, &m_Sound, nullptr) != DS_OK) {
    m_Sound = nullptr;
    return false;
  }
  if (m_Sound->SetCooperativeLevel(kSoundWindow, DSSCL_NORMAL) != DS_OK) {
    StopSound();
    return false;
  }
  WAVEFORMATEX pcm = Read<WAVEFORMATEX>(kWaveFormat);
  ADPCMWAVEFORMAT adpcm{};
  const WORD samplesPerBlock = WORD((kAdpcmBlockAlign - kAdpcmBlockHeaderBytes) * kNibblesPerByte + kHeaderSamples);
  adpcm.wfx = {WAVE_FORMAT_ADPCM, pcm.nChannels, pcm.nSamplesPerSec,
               pcm.nSamplesPerSec * kAdpcmBlockAlign / samplesPerBlock, kAdpcmBlockAlign, kAdpcmBitsPerSample,
               kAdpcmStandardExtra};
  adpcm.wSamplesPerBlock = samplesPerBlock;
  adpcm.wNumCoef = kAdpcmStandardCoefficients;
  std::memcpy(adpcm.aCoef, kAdpcmStandardCoefficientTable, sizeof(adpcm.aCoef));
  if (acmStreamOpen(&m_AcmStream, nullptr, &adpcm.wfx, &pcm, nullptr, 0, 0, 0) != MMSYSERR_NOERROR) {
    m_AcmStream = nullptr;
    StopSound();
    return false;
  }
  m_SampleReadBuffer.assign(kSampleReadBufferBytes, 0);
  m_AcmOutput.assign(kAcmOutputBytes, 0);
  auto* header = reinterpret_cast<ACMSTREAMHEADER*>(std::uintptr_t(At(kAcmHeader)));
  *header = {};
  header->cbStruct = sizeof(ACMSTREAMHEADER);
  header->pbSrc = m_SampleReadBuffer.data() + kAdpcmDataOffset;
  header->cbSrcLength = kSampleReadBufferBytes - kAdpcmDataOffset;
  header->pbDst = m_AcmOutput.data();
  header->cbDstLength = kAcmOutputBytes;
  if (acmStreamPrepareHeader(m_AcmStream, header, 0) != MMSYSERR_NOERROR) {
    StopSound();
    return false;
  }
  Write<std::uint32_t>(kAcmStream, std::uint32_t(std::uintptr_t(m_AcmStream)));
  Write<std::uint32_t>(kAcmOutputPointer, std::uint32_t(std::uintptr_t(m_AcmOutput.data())));
  SetDirectSound(std::uint32_t(std::uintptr_t(m_Sound)));
  return true;
}

void CGameDouble::StopSound() {
  if (m_AcmStream != nullptr) {
    auto* header = reinterpret_cast<ACMSTREAMHEADER*>(std::uintptr_t(At(kAcmHeader)));
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) {
      // The game may have shortened the lengths for a conversion; unprepare with the prepared ones.
      header->cbSrcLength = kSampleReadBufferBytes - kAdpcmDataOffset;
      header->cbDstLength = kAcmOutputBytes;
      acmStreamUnprepareHeader(m_AcmStream, header, 0);
    }
    acmStreamClose(m_AcmStream, 0);
    m_AcmStream = nullptr;
  }
  if (m_Sound != nullptr) {
    m_Sound->Release();
    m_Sound = nullptr;
  }
  Write<std::uint32_t>(kAcmStream, 0);
  Write<std::uint32_t>(kAcmOutputPointer, 0);
  SetDirectSound(0);
}

std::uint32_t CGameDouble::LoadSampleFile(const std::vector<std::uint8_t>& file, std::uint32_t third,
                                          std::uint32_t index) {
  if (m_SampleReadBuffer.size() < kSampleReadBufferBytes) m_SampleReadBuffer.assign(kSampleReadBufferBytes, 0);
  const std::size_t bytes = std::min<std::size_t>(file.size(), m_SampleReadBuffer.size());
  std::memcpy(m_SampleReadBuffer.data(), file.data(), bytes);
  return Call(Routine::LoadSampleCaller, {std::uint32_t(std::uintptr_t(m_SampleReadBuffer.data())),
                                          std::uint32_t(file.size()), third, index});
}

namespace {
std::uint32_t TextureRecordStride(Build build) {
  return build == Build::VReleasePatched ? kStateBlockSize : kTextureRecordStrideIV;
}
}  // namespace

std::uint16_t CGameDouble::AddGameTexture(std::uint32_t surface) {
  const std::uint32_t count = GameTextureCount();
  if (count >= kGameTextureSlots) Fatal("the game's texture table is full", count);
  const std::uint32_t table = m_Build == Build::VReleasePatched ? At(kStateBlock) : At(kTextureTable);
  const TextureRecord record{surface, m_Renderer.TextureOf(surface)};
  m_Image->Write(table + count * TextureRecordStride(m_Build), &record, sizeof record);
  Write<std::uint32_t>(kTextureCount, count + 1);
  return std::uint16_t(count);
}

std::uint32_t CGameDouble::GameTextureCount() const { return Read<std::uint32_t>(kTextureCount); }

bool CGameDouble::LookUpTexture(std::uint16_t index, TextureRecord& record) const {
  record = {};
  std::uint32_t table = 0;
  bool ownTable = true;
  if (m_Build == Build::VReleasePatched) {
    table = At(kStateBlock);
  } else {
    table = Read<std::uint32_t>(kTextureGlobal);
    ownTable = table == At(kTextureTable);
    if (table == 0) return index == 0;  // no table: untextured
  }
  // Index 0 is where the DLL's own record stands while it draws; beyond it
  // only the game's own table holds records.
  if (index != 0 && (!ownTable || index >= GameTextureCount() || index >= kGameTextureSlots)) return false;
  std::memcpy(&record, reinterpret_cast<const void*>(std::uintptr_t(table + index * TextureRecordStride(m_Build))),
              sizeof record);
  return true;
}

void CGameDouble::FlushQueue() {
  TextureRecord scratch{};
  m_Renderer.Flush(
      [this, &scratch](const QuadRecord& quad, bool& valid) -> const TextureRecord* {
        valid = LookUpTexture(quad.textureIndex, scratch);
        return valid ? &scratch : nullptr;
      },
      m_Frame);
}

std::uint32_t CGameDouble::Dispatch(std::uint32_t tag, std::uint32_t* pushad) {
  if (tag == std::uint32_t(InternalWork::FrameStart)) {
    m_Frame.Fill(kFrameBackground);
    return pushad[kEax];
  }
  const auto routine = Routine(tag & ((1u << kTagIndexShift) - 1));
  StubCall call{};
  call.routine = routine;
  call.index = tag >> kTagIndexShift;
  call.eax = pushad[kEax], call.ecx = pushad[kEcx], call.edx = pushad[kEdx], call.ebx = pushad[kEbx];
  call.ebp = pushad[kEbp], call.esi = pushad[kEsi], call.edi = pushad[kEdi];
  call.stackPointer = pushad[kEsp] + kWord;  // past the caller's flags, which the stub keeps
  const auto* stack = reinterpret_cast<const std::uint32_t*>(std::uintptr_t(call.stackPointer));
  call.returnAddress = stack[0];
  call.arguments.assign(stack + 1, stack + 1 + Arity(routine));
  m_Calls.push_back(call);

  switch (routine) {
    case Routine::QuadRoutine: {
      QuadRecord record;
      std::memcpy(&record, reinterpret_cast<const void*>(std::uintptr_t(call.arguments[0])), sizeof record);
      m_Renderer.Queue(record);
      break;
    }
    case Routine::FrameRoutine1:
    case Routine::FrameRoutine2:
    case Routine::FrameRoutine3: FlushQueue(); break;
    default: break;
  }
  // A copy: the handler may replace itself while it runs.
  const auto handler = m_Handlers[std::size_t(routine)];
  return handler ? handler(call) : m_Results[std::size_t(routine)];
}

}  // namespace gamedouble
