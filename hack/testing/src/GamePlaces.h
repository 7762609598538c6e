#pragma once
// Places of the game double: the game's own (as its builds have them, written
// at the preferred base) and the double's internal data and code, which no
// accessor may use. Private to the double.
#include <cstdint>
#include <utility>
#include <vector>

#include <hack/testing/Emitter.h>
#include <hack/testing/GameDouble.h>

namespace gamedouble::places {

// Main: entry (start hook place), window-procedure value, WindowChanged store, five returns.
constexpr Place kMainEntry{0x48C720, 0x48E9C0, 0x48E830, 0x4D1C00};
constexpr Place kMainWindowProcedureValue{0x48C7C6, 0x48EA9E, 0x48E8E0, 0x4D1DE8};
constexpr Place kMainWindowChanged{0x48C874, 0x48EB50, 0x48E992, 0x4D1E99};
constexpr Place kMainExits[] = {
    {0x48C805, 0x48EADE, 0x48E920, 0x4D1E27}, {0x48C88F, 0x48EB6C, 0x48E9AE, 0x4D1EB4},
    {0x48C8E2, 0x48EBC3, 0x48EA05, 0x4D1F0A}, {0x48C9D6, 0x48ECC4, 0x48EB06, 0x4D200C},
    {0x48CB04, 0x48EE39, 0x48EC7B, 0x4D215B}};
constexpr Place kWindowGlobal{0x75385C, 0x753984, 0x7539C4, 0xD9AB3C};
constexpr Place kWindowProcedure{0x48D0D0, 0x48F430, 0x48F270, 0x401E8D};

constexpr Place kDefineAllObjects{0x45CEC5, 0x45DBFD, 0x45DAED, 0x4755B6};
constexpr Place kSetUpItemLinkedLists{0x4741AF, 0x475F42, 0x475DA2, 0x4A63E7};

constexpr Place kFrame{0x47DC93, 0x47FC92, 0x47FAE2, 0x4B7CB9};
constexpr Place kFrameRoutine1{0x47F6F0, 0x481860, 0x4816D0, 0x4BA100};
constexpr Place kFrameRoutine2{0x47F6B0, 0x481810, 0x481680, 0x4BA090};
constexpr Place kFrameRoutine2Value{0x660B50, 0x660C88, 0x660CC8, 0xBA4384};
constexpr Place kFrameRoutine2Address{0x660B60, 0x660C94, 0x660CD4, 0xBA4390};
constexpr Place kFrameRoutine3{0x47E950, 0x480A50, 0x4808C0, 0x4B8DB0};
constexpr Place kFrameRoutine4{0x48D5A0, 0x48F910, 0x48F750, 0x4D30E0};
constexpr Place kFrameRoutine4Address{0x5353E8, 0x53551C, 0x53555C, 0x878654};

constexpr Place kQueryFlagA{0x448B87, 0x449491, 0x449481, 0x414834};
constexpr Place kQueryFlagAGlobal{0x4BF5C0, 0x4BF6F0, 0x4BF730, 0x51D01C};

constexpr Place kGetKeyStates{0x492090, 0x4944D0, 0x494310, 0x4A2880};
constexpr Place kKeyboardGlobal{0x754468, 0x7544F4, 0x754534, 0x86BD94};

constexpr Place kGetJoypadStates{0x4759B0, 0x4777E0, 0x477640, 0x4A9280};
constexpr std::uint32_t kJoypadPresentV = 0x86BA34, kJoypadAV = 0x86BA3C, kJoypadBV = 0x86BA40,
                        kJoypadValueV = 0x86BA44;

constexpr Place kLoadSampleCall{0x474635, 0x4763D3, 0x476233, 0x4A6A0E};
constexpr Place kSampleLoader{0x471B30, 0x473710, 0x473670, 0x4A3510};

constexpr Place kScriptLoaded{0x450D70, 0x451718, 0x45170A, 0x434A21};
constexpr Place kQueryFlagB{0x450DEA, 0x4517AE, 0x451795, 0x4354E3};
constexpr Place kQueryFlagBBack{0x450DEF, 0x4517B3, 0x45179D, 0x4354EB};
constexpr Place kQueryFlagBPointer{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC};

constexpr Place kLoadItems{0x474445, 0x4761DA, 0x47603A, 0x4A667F};
constexpr Place kLoadItemsSecond{0, 0x475F12, 0x475D72, 0x4A63B2};

constexpr Place kFallDamage{0x422A00, 0x422BE0, 0x422BE0, 0x445A50};
constexpr Place kRollingBallDeath{0x415596, 0x4156E6, 0x415656, 0x48B736};
constexpr Place kRollingBallDeathSkip{0x4155E1, 0x415731, 0x4156A1, 0x48B781};
constexpr Place kPlayerItemPointer{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08};
constexpr Place kDivingRollLandDeath{0x4285BF, 0x42891F, 0x42891F, 0x44CECF};
constexpr Place kFlipeffect{0x436B7B, 0x43712B, 0x43711B, 0x4326CB};
constexpr Place kFlipeffectTable{0x4ABE80, 0x4ADE8C, 0x4ADE8C, 0x507964};
constexpr Place kReplacedCall{0x4721D6, 0x473F16, 0x473D76, 0x4A3F86};

// Game data of the accessors and the renderer bridge.
constexpr Place kItemArrayPointer{0x7FE16C, 0x7FE28C, 0x7FE2CC, 0xEEEFF0};
constexpr Place kPlayerRecord{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60};
constexpr Place kScreenWidth{0x753C60, 0x753CF8, 0x753D38, 0x55D29C};
constexpr Place kScreenHeight{0x753BB0, 0x753C48, 0x753C88, 0x55D164};
constexpr Place kStateByte{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0};
constexpr Place kDirectSound{0x7538D1, 0x7539F9, 0x753A39, 0xD9ABB1};
constexpr Place kWaveFormat{0x52A968, 0x52AA98, 0x52AAD8, 0x86BEC8};
constexpr Place kSampleTable{0x52A990, 0x52AAC0, 0x52AB00, 0x86BEF0};
constexpr Place kAcmStream{0x52A98C, 0x52AABC, 0x52AAFC, 0x86BEEC};        // u32 HACMSTREAM
constexpr Place kAcmHeader{0x52A910, 0x52AA40, 0x52AA80, 0x86BE70};        // ACMSTREAMHEADER
constexpr Place kAcmOutputPointer{0x52B718, 0x52B848, 0x52B888, 0x86CC78}; // u32, the header's pbDst
constexpr Place kDirectDraw{0x7538B1, 0x7539D9, 0x753A19, 0xD9AB91};
constexpr Place kDevice{0x7538B9, 0x7539E1, 0x753A21, 0xD9AB99};
constexpr Place kProgressBar{0x47AF60, 0x47CE10, 0x47CC60, 0};
constexpr Place kProgressBarV{0, 0, 0, 0x4B1250};
constexpr Place kTextureGlobal{0x7537C8, 0x7538F4, 0x753934, 0};
constexpr Place kTextureCount{0x7537C4, 0x7538F0, 0x753930, 0xD9A868};
constexpr Place kStateBlock{0, 0, 0, 0xD99DA8};
constexpr Place kDepthValue{0x753C28, 0x753CC0, 0x753D00, 0x55D25C};
constexpr Place kClearPairPointer{0x753854, 0x75397C, 0x7539BC, 0xD9AB34};
constexpr Place kPrimitiveCount{0x7E70D0, 0x7E71E0, 0x7E7220, 0xE4B100};
constexpr Place kQuadRoutinePointer{0x5339A4, 0x533AD4, 0x533B14, 0x876C04};

// The end of the code section per build family; game data lies above.
constexpr Place kCodeEnd{0x4A8000, 0x4A8000, 0x4A8000, 0x4E8000};

// The double's own code: the chosen stubs (GameDouble.h), then the quad
// routine, the flipeffect entries and the run thunks.
constexpr Place kOwnCode{0x498000, 0x498000, 0x498000, 0x4D8000};
constexpr std::uint32_t kStubSlot = 0x40;
constexpr std::uint32_t kQuadRoutineOffset = 0x340;
constexpr std::uint32_t kFrameStartOffset = 0x380;  // clears the frame buffer, records nothing
constexpr std::uint32_t kFlipeffectStubsOffset = 0x400;
constexpr std::uint32_t kFlipeffectStubSlot = 0x20;
constexpr std::uint32_t kFlipeffectTableEntries = 256;
constexpr std::uint32_t kRunThunksOffset = 0x2800;
constexpr std::uint32_t kRunThunkSlot = 0x200;
constexpr std::uint32_t kMaxRunDepth = 8;
constexpr std::uint32_t kMaxRunArguments = 16;

// The double's own data (above the chosen places of GameDouble.h).
constexpr std::uint32_t kOwnData = 0xF00000;
constexpr std::uint32_t kClassProcedure = kOwnData + 0x10;  // where Main registers the window procedure
constexpr std::uint32_t kCreatedWindow = kOwnData + 0x14;
constexpr std::uint32_t kExitChoice = kOwnData + 0x18;
constexpr std::uint32_t kJoypadA = kOwnData + 0x20, kJoypadB = kOwnData + 0x24, kJoypadValue = kOwnData + 0x28;
constexpr std::uint32_t kClearPair = kOwnData + 0x40;    // the two u32 the bridge clears
constexpr std::uint32_t kQueryFlagBWord = kOwnData + 0x50;  // the u32 the QueryFlagB pointer leads to
constexpr std::uint32_t kKeyboard = kOwnData + 0x100;       // 256 key bytes
constexpr std::uint32_t kRunBlocks = kOwnData + 0x1000;     // one per run depth
constexpr std::uint32_t kRunBlockSize = 0x100;
constexpr std::uint32_t kTextureTable = kOwnData + 0x2000;  // A-C: the game's texture records

}  // namespace gamedouble::places

namespace gamedouble {

// Writes the double's code, refusing (fatally) any stretch that overlaps one
// written before: two places of the double must never share bytes.
class CCodeWriter {
 public:
  explicit CCodeWriter(CGameDouble& game) : m_Game(game) {}
  CGameDouble& Game() { return m_Game; }
  // An emitter for code at a place written at the preferred base.
  gameimage::CEmitter At(std::uint32_t preferred) const { return gameimage::CEmitter(m_Game.At(preferred)); }
  void Put(const gameimage::CEmitter& code);
  // Emits code that ends exactly at the preferred place and answers its start.
  template <typename Body>
  std::uint32_t PutBefore(std::uint32_t preferred, Body body) {
    gameimage::CEmitter measure(0);
    body(measure);
    gameimage::CEmitter code(m_Game.At(preferred) - std::uint32_t(measure.Code().size()));
    body(code);
    Put(code);
    return code.Origin();
  }

 private:
  CGameDouble& m_Game;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_Written;
};

// The tag a stub hands its entry: the routine, and an index above it. Tags
// with kInternalTag set are the double's own work and are not recorded.
constexpr std::uint32_t kTagIndexShift = 16;
constexpr std::uint32_t kInternalTag = 0x8000;
enum class InternalWork : std::uint32_t { FrameStart = kInternalTag };
constexpr std::uint32_t StubTag(Routine routine, std::uint32_t index = 0) {
  return std::uint32_t(routine) | (index << kTagIndexShift);
}
// A stub: records through the double's entry and returns its answer in EAX,
// removing argumentBytes (stdcall) or none (cdecl).
void EmitStub(gameimage::CEmitter& code, std::uint32_t tag, std::uint16_t argumentBytes = 0);
// Writes every routine of the game and stores the entries by Routine.
void WriteGameRoutines(CCodeWriter& writer, std::vector<std::uint32_t>& entries);

}  // namespace gamedouble
