#pragma once
// Places of the game that the feature modules patch or read (file access,
// limits, aspect ratio, single instance, window checks, draw distance, several
// players, script natives), as the builds have them at the preferred base,
// and the double's own places that serve them. Private to the double.
#include <cstdint>

#include "GamePlaces.h"

namespace gamedouble::places {

// ---- File access: C runtime calls, their replacements' places, Win32-style saving ----
constexpr Place kOpenGameData{0x472003, 0x473D48, 0x473BAF, 0x4A3D38};  // 13 bytes: push mode; push path; call; mov esi, eax
constexpr std::uint32_t kOpenGameDataStretch = 13;
constexpr Place kOpenSavedGame{0x4788E7, 0x47A727, 0x47A587, 0x4AD2C0};
constexpr std::uint32_t kOpenSavedGameStretchIV = 16, kOpenSavedGameStretchV = 11;
constexpr Place kCreateGameFile{0x491CDD, 0x4940FF, 0x493F3F, 0x4A241F};  // 16 bytes
constexpr std::uint32_t kCreateGameFileStretch = 16;
constexpr Place kFileRead{0x49E05D, 0x4A0831, 0x4A02E1, 0x4E1D20};
constexpr Place kFileSeek{0x49E174, 0x4A0948, 0x4A03F8, 0x4E1F30};
constexpr Place kFileWrite{0x49F052, 0x4A158B, 0x4A103B, 0x4E4380};
constexpr Place kFileLength{0x472060, 0x473DA0, 0x473C00, 0x4A3DD0};
// The close calls, one routine each: the first three and the fourth (a tail
// jump on A) exist on every build, the last three on game V only.
constexpr Place kCloseCalls[] = {{0x46BE43, 0x46D73F, 0x46D69F, 0x492A33}, {0x478992, 0x47A7D2, 0x47A632, 0x4AD35F},
                                 {0x491DD7, 0x49421D, 0x49405D, 0x4A253D}, {0x47204F, 0x473D91, 0x473BF1, 0x4A3DB1},
                                 {0, 0, 0, 0x491E4B},                      {0, 0, 0, 0x491FA0},
                                 {0, 0, 0, 0x4AC91A}};
constexpr Place kObjectTest{0x46C6CF, 0x46DFEF, 0x46DF4F, 0x49352F};
constexpr Place kObjectTestFlagSet{0x46C6D5, 0x46DFF5, 0x46DF55, 0x493535};
constexpr Place kObjectTestFlagClear{0x46C6EC, 0x46E00C, 0x46DF6C, 0x49354C};
constexpr std::int8_t kObjectTestFlagOffset = 32;
constexpr Place kSaveWriter{0x475664, 0x477464, 0x4772C4, 0x4A8BF4};
constexpr Place kSaveWriterBack{0x47568A, 0x477488, 0x4772E8, 0x4A8C18};
constexpr Place kSaveWriterWriteSlot{0x4756C4, 0x4774C5, 0x477325, 0x4A8C55};  // operand of call [slot]
constexpr Place kSaveWriterClose{0x475799, 0x4775BD, 0x47741D, 0x4A8D4D};       // call [slot], 6 bytes
constexpr std::int32_t kSaveWriterFrame = 116;
constexpr Place kSaveLoader{0x4757F0, 0x477620, 0x477480, 0x4A8E30};
constexpr Place kSaveLoaderBack{0x475810, 0x477640, 0x4774A0, 0x4A8E50};
constexpr Place kSaveLoaderReadSlot{0x475813, 0x477643, 0x4774A3, 0x4A8E53};
constexpr Place kSaveLoaderClose{0x475870, 0x4776A0, 0x477500, 0x4A8EB0};
constexpr std::int32_t kSaveLoaderLocals = 76, kSaveLoaderFrame = 92;  // locals + the read call's four pushed words

// ---- IncreasedLimits (IV Editor only) ----
struct ValuePlace {
  std::uint32_t place;
  std::uint8_t width;
  std::uint32_t original;
};
constexpr std::uint32_t kOriginalItemLimit = 256;
constexpr std::uint32_t kItemRecordBytes = 5622;
constexpr ValuePlace kLimitValues[] = {
    {0x42DD19, 4, 4},         {0x4546EC, 4, 0xDE2C},    {0x454703, 4, 4},
    {0x4547D2, 1, 4},         {0x4547EC, 1, 4},         {0x4548C8, 1, 4},
    {0x45A04E, 4, kOriginalItemLimit}, {0x45A074, 4, kOriginalItemLimit}, {0x45A0B6, 4, kOriginalItemLimit},
    {0x45A0D9, 4, kOriginalItemLimit}, {0x45A291, 4, kOriginalItemLimit}, {0x45A2CD, 4, kOriginalItemLimit},
    {0x474188, 4, kOriginalItemLimit * kItemRecordBytes}, {0x47419C, 4, kOriginalItemLimit},
    {0x4746EC, 4, 1000000},   {0x48EBB1, 4, 5000000},   {0x48EBC8, 4, 5000000},
    {0x48EBD7, 4, 5000000},   {0x46FBD9, 1, 1},         {0x470BC0, 1, 64},
    {0x470C48, 1, 64}};
constexpr Place kLimitStore{0x46F5CF, 0, 0, 0};  // 8 bytes: and ax, 0xFF; mov [ebp + 10], ax
constexpr std::uint32_t kLimitStoreStretch = 8;

// ---- AspectRatioSupport: 18 bytes computing width / height × 3/4 ----
constexpr Place kAspectRatio{0x48D6DB, 0x48FA4B, 0x48F88B, 0};
constexpr std::uint32_t kAspectRatioStretch = 18;

// ---- MultipleInstanceSupport: the single-instance check and release in Main ----
constexpr Place kInstanceCheck1{0x48C735, 0x48E9D9, 0x48E849, 0x4D1D37};  // 10 bytes (V: 31, +60)
constexpr Place kInstanceCheck2{0x48C742, 0x48E9E6, 0x48E856, 0};         // 5 bytes
constexpr Place kInstanceCheck3{0x48C758, 0x48E9FC, 0x48E86C, 0};         // 16 bytes
constexpr Place kInstanceRelease{0x48CBF4, 0x48EF34, 0x48ED74, 0x4D23F4};  // 12 bytes
constexpr std::uint32_t kInstanceCheckPushedWordsV = 15;  // released by the 31 bytes' add esp
constexpr std::uint32_t kInstanceCheckStretchV = 31, kInstanceCheckStretch3 = 16, kInstanceReleaseStretch = 12;

// ---- BugFixes: two checks that jump away from the common target ----
constexpr Place kBugFixCheck1{0x48D168, 0x48F4CB, 0x48F30B, 0x4D2B4B};  // 6 bytes: jnz rel32
constexpr Place kBugFixCheck2{0x48D1B1, 0x48F514, 0x48F354, 0x4D2B9E};  // 2 bytes: jnz rel8
constexpr Place kBugFixTarget{0x48D1FA, 0x48F56F, 0x48F3AF, 0x4D2C00};

// ---- NoDrawDistance (IV Editor): three distance checks and where they lead when passed ----
constexpr std::uint32_t kDrawDistanceChecks[] = {0x4702A6, 0x470492, 0x4706A8};
constexpr std::uint32_t kDrawDistancePassed[] = {0x4702B6, 0x4704A1, 0x4706B7};

// ---- MultiplePlayerSupport ----
constexpr Place kPlayerDraw{0x44E60F, 0x44EF5F, 0x44EF4F, 0x42A91C};
constexpr Place kPlayerDrawBack{0x44E619, 0x44EF69, 0x44EF59, 0x42A923};
constexpr std::uint32_t kPlayerDrawCleanupV = 0x42A928;  // add esp, 4 (3 bytes) that V's hook removes
constexpr Place kMirroredDraw{0x454D45, 0x455895, 0x455785, 0x45DCE5};
constexpr Place kMirroredDrawBack{0x454D50, 0x4558A0, 0x455790, 0x45DCF0};
constexpr Place kPlayerControl{0x449045, 0x44994F, 0x44993F, 0x414E0A};
constexpr Place kPlayerControlBack{0x44904E, 0x449958, 0x449948, 0x414E21};
constexpr Place kItemRoutineCall{0x448EFE, 0x449809, 0x4497F9, 0x414C81};  // 6 bytes: push ecx; call eax; add esp, 4
constexpr Place kItemCreation{0x453E36, 0x454966, 0x454856, 0x441158};     // 6 bytes: mov word [ecx + 34], 0x4210
constexpr std::uint16_t kCreatedItemMark = 0x4210;
constexpr std::int8_t kCreatedItemMarkOffset = 34;
// Game routines the module runs.
constexpr Place kPlayerControlRoutine{0x42FDD0, 0x430250, 0x430250, 0x40266C};
constexpr Place kPlayerControlRoutineV{0, 0, 0, 0x47C950};
constexpr Place kPlayerDrawRoutine{0x41D030, 0x41D140, 0x41D140, 0x401F14};
constexpr Place kRemoteDrawRoutine{0x41FCA0, 0x41FE50, 0x41FE50, 0x403102};
constexpr Place kPlayerMeshRoutine{0x41CF00, 0x41D010, 0x41D010, 0x402220};
constexpr Place kMatrixRoutine{0x48DF90, 0x490310, 0x490150, 0x48FA90};
constexpr Place kPlayerExtraRoutine{0x48DF30, 0x4902B0, 0x4900F0, 0x401951};
constexpr Place kHeldObjectRoutine{0x439510, 0x439B80, 0x439B70, 0x4023DD};
constexpr Place kObjectDefaultRoutine{0x446D60, 0x4475F0, 0x4475E0, 0x401785};
// Game data.
constexpr Place kObjectRecord{0x52B720, 0x52B850, 0x52B890, 0x86CF50};
constexpr std::uint32_t kObjectRoutineOffset = 32, kObjectValueOffset = 40;
constexpr std::uint16_t kObjectOriginalValue = 3;
constexpr Place kVStateByte{0, 0, 0, 0xEEEAD0};
constexpr Place kMatrixStackPointer{0x7E70C8, 0x7E71D8, 0x7E7218, 0x55DA2C};
constexpr Place kMatrixStackPointerV2{0, 0, 0, 0xE4B0F8};

// ---- Script natives: level change, flip effect, frame timing ----
constexpr Place kLevelToChange{0x7FD190, 0x7FD2B0, 0x7FD2F0, 0xE5C2F0};
constexpr Place kLevelSecond{0x7FD150, 0x7FD270, 0x7FD2B0, 0xE5C2B4};
constexpr Place kFlipeffectNumber{0x4ACBFC, 0x4AEBFC, 0x4AEBFC, 0x506C60};
constexpr Place kFlipeffectSecond{0x4BF2D4, 0x4BF3FC, 0x4BF43C, 0x51CA5A};
constexpr Place kFrameTime{0x7537D8, 0x753900, 0x753940, 0xD9AAB0};  // u64 ticks the frame limiter waits
constexpr std::uint32_t kGameFramesPerSecond = 30;

// ---- The double's own code and data for these ----
constexpr std::uint32_t kFeatureStubsOffset = 0x4000;  // from kOwnCode, kStubSlot each
constexpr std::uint32_t kFeatureData = kOwnData + 0x3000;
constexpr std::uint32_t kImportSlots = kFeatureData;         // u32 each, by Import
constexpr std::uint32_t kModeStrings = kFeatureData + 0x40;  // "rb", "wb"
constexpr std::uint32_t kInstanceName = kFeatureData + 0x50;
constexpr std::uint32_t kInstanceHandle = kFeatureData + 0x60;
constexpr std::uint32_t kAspectConstant = kFeatureData + 0x64;  // float 0.75
constexpr std::uint32_t kDrawDistanceLimit = kFeatureData + 0x68;
constexpr std::uint32_t kMatrixStacks = kFeatureData + 0x100;  // two stacks
constexpr std::uint32_t kMatrixBytes = 48;
constexpr std::uint32_t kMatrixStackDepth = 512;  // matrices; the pointers start in the middle
enum class Import : std::uint32_t { CreateFile, WriteFile, ReadFile, CloseHandle, InstanceRelease, Count };

}  // namespace gamedouble::places

namespace gamedouble {

// The stubs the feature places call (written before any routine).
void WriteFeatureStubs(CCodeWriter& writer, std::vector<std::uint32_t>& entries);
// The routines at the feature places.
void WriteFeatureRoutines(CCodeWriter& writer, std::vector<std::uint32_t>& entries);
// Main's single-instance check: answers where Main's entry goes on; the check
// goes on at `resume`, or leaves Main by `refusedExit` with
// kMainAnotherInstanceCode.
std::uint32_t WriteInstanceCheck(CCodeWriter& writer, std::vector<std::uint32_t>& entries, std::uint32_t resume,
                                 std::uint32_t refusedExit);
// Main's release of its instance on the way out: answers its start; goes on at `resume`.
std::uint32_t WriteInstanceRelease(CCodeWriter& writer, std::vector<std::uint32_t>& entries, std::uint32_t resume);
// The data the feature places read (import slots, strings, constants, matrix
// stacks, the object record, the frame time).
void WriteFeatureData(CGameDouble& game, const std::vector<std::uint32_t>& entries);

}  // namespace gamedouble
