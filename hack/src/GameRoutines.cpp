// The Game:: accessors: the game's data and routines, each place named where it is used.
#include <hack/GameRoutines.h>

#include "GamePlace.h"

namespace {

template <typename Routine>
Routine RoutineAt(const GamePlace& place) {
  return reinterpret_cast<Routine>(std::uintptr_t(place.At()));
}

constexpr GamePlace kPlayerRecord{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60};
constexpr std::uint32_t kPlayerRecordLongOffset = 68;

}  // namespace

// The item, effect, sound and text routines, the post-switch routines C to E
// and the font height are places no description of the game gives: they lie in
// free space of the game double that tests run on, which reserves them there.
namespace Game {

HWND GetWindow() { return reinterpret_cast<HWND>(std::uintptr_t(ReadGame<std::uint32_t>(GetWindowAddress()))); }
std::uint32_t GetWindowAddress() { return GamePlace{0x75385C, 0x753984, 0x7539C4, 0xD9AB3C}.At(); }

std::uint32_t GetScreenWidth() { return ReadAt<std::uint32_t>({0x753C60, 0x753CF8, 0x753D38, 0x55D29C}); }
std::uint32_t GetScreenHeight() { return ReadAt<std::uint32_t>({0x753BB0, 0x753C48, 0x753C88, 0x55D164}); }
std::uint32_t GetFontHeight() { return ReadAt<std::uint32_t>({0xF00000, 0xF00000, 0xF00000, 0xF00000}); }
std::uint8_t GetStateByte() { return ReadAt<std::uint8_t>({0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0}); }

std::uint8_t* GetItemArray() {
  return static_cast<std::uint8_t*>(GamePointer(ReadAt<std::uint32_t>({0x7FE16C, 0x7FE28C, 0x7FE2CC, 0xEEEFF0})));
}
std::uint32_t GetPlayerItemAddress() { return GamePlace{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08}.At(); }
std::uint8_t* GetPlayerItem() {
  return static_cast<std::uint8_t*>(GamePointer(ReadGame<std::uint32_t>(GetPlayerItemAddress())));
}

std::uint8_t* GetPlayerRecord() { return static_cast<std::uint8_t*>(GamePointer(kPlayerRecord.At())); }
std::uint16_t GetPlayerItemNumber() { return ReadAt<std::uint16_t>(kPlayerRecord); }
std::int16_t GetPlayerRecordWord(std::uint32_t offset) { return ReadGame<std::int16_t>(kPlayerRecord.At() + offset); }
std::int32_t GetPlayerRecordLong() { return ReadGame<std::int32_t>(kPlayerRecord.At() + kPlayerRecordLongOffset); }

std::uint32_t* GetPlayerStateWord() {
  return static_cast<std::uint32_t*>(GamePointer(GamePlace{0x5355D8, 0x535704, 0x535744, 0x878D98}.At()));
}
std::uint32_t* GetPlayerUpdateWord() {
  return static_cast<std::uint32_t*>(GamePointer(GamePlace{0x4BF2C0, 0x4BF3E8, 0x4BF428, 0x51CA34}.At()));
}

IDirectSound* GetDirectSound() {
  return static_cast<IDirectSound*>(GamePointer(ReadAt<std::uint32_t>({0x7538D1, 0x7539F9, 0x753A39, 0xD9ABB1})));
}
void* GetWaveFormat() { return GamePointer(GamePlace{0x52A968, 0x52AA98, 0x52AAD8, 0x86BEC8}.At()); }
std::uint8_t* GetSampleTable() {
  return static_cast<std::uint8_t*>(GamePointer(GamePlace{0x52A990, 0x52AAC0, 0x52AB00, 0x86BEF0}.At()));
}

IDirectDraw7* GetDirectDraw() {
  return static_cast<IDirectDraw7*>(GamePointer(ReadAt<std::uint32_t>({0x7538B1, 0x7539D9, 0x753A19, 0xD9AB91})));
}
IDirect3DDevice3* GetDirect3DDevice() {
  return static_cast<IDirect3DDevice3*>(GamePointer(ReadAt<std::uint32_t>({0x7538B9, 0x7539E1, 0x753A21, 0xD9AB99})));
}

std::uint16_t AllocateItem() {
  return std::uint16_t(RoutineAt<std::uint32_t (*)()>({0x498000, 0x498000, 0x498000, 0x4D8000})());
}
void SetUpItem(std::uint16_t item) {
  RoutineAt<void (*)(std::uint32_t)>({0x498040, 0x498040, 0x498040, 0x4D8040})(item);
}
void RemoveItem(std::uint16_t item) {
  RoutineAt<void (*)(std::uint32_t)>({0x498080, 0x498080, 0x498080, 0x4D8080})(item);
}
void CallItemRoutineA(std::uint16_t item) {
  RoutineAt<void (*)(std::uint32_t)>({0x4980C0, 0x4980C0, 0x4980C0, 0x4D80C0})(item);
}
void CallItemRoutineB(std::uint16_t item) {
  RoutineAt<void (*)(std::uint32_t)>({0x498100, 0x498100, 0x498100, 0x4D8100})(item);
}
void MoveItemToRoom(std::uint16_t item, std::uint16_t room) {
  RoutineAt<void (*)(std::uint32_t, std::uint32_t)>({0x498140, 0x498140, 0x498140, 0x4D8140})(item, room);
}
void RemoveEffect(std::uint16_t effect) {
  RoutineAt<void (*)(std::uint32_t)>({0x498180, 0x498180, 0x498180, 0x4D8180})(effect);
}
bool PlaySoundEffect(std::uint32_t sample, const void* position, std::uint32_t flags) {
  return std::uint8_t(RoutineAt<std::uint32_t (*)(std::uint32_t, const void*, std::uint32_t)>(
             {0x4981C0, 0x4981C0, 0x4981C0, 0x4D81C0})(sample, position, flags)) != 0;
}
void RenderString(std::uint32_t x, std::uint32_t y, std::uint32_t style, const char* text, std::uint32_t colour) {
  RoutineAt<void (*)(std::uint32_t, std::uint32_t, std::uint32_t, const char*, std::uint32_t)>(
      {0x498200, 0x498200, 0x498200, 0x4D8200})(x, y, style, text, colour);
}

using ProgressBarRoutine = void (*)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                    std::uint32_t, std::uint32_t);
void RenderProgressBar(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height, std::uint32_t value,
                       std::uint32_t colour1, std::uint32_t colour2) {
  RoutineAt<ProgressBarRoutine>({0x47AF60, 0x47CE10, 0x47CC60, 0})(x, y, width, height, value, colour1, colour2);
}
void RenderProgressBarV(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                        std::uint32_t value, std::uint32_t colour1, std::uint32_t colour2) {
  RoutineAt<ProgressBarRoutine>({0, 0, 0, 0x4B1250})(x, y, width, height, value, colour1, colour2);
}

void CallRoutineC() { RoutineAt<void (*)()>({0x498240, 0x498240, 0x498240, 0x4D8240})(); }
void CallRoutineD() { RoutineAt<void (*)()>({0x498280, 0x498280, 0x498280, 0x4D8280})(); }
void CallRoutineDV(std::uint8_t argument) { RoutineAt<void (*)(std::uint32_t)>({0, 0, 0, 0x4D82C0})(argument); }
void CallRoutineE() { RoutineAt<void (*)()>({0x498300, 0x498300, 0x498300, 0x4D8300})(); }

using SampleLoader = std::uint32_t (*)(const void*, std::uint32_t, std::uint32_t, std::uint32_t);
std::uint32_t LoadSampleEditor(const void* data, std::uint32_t size, std::uint32_t third, std::uint32_t index) {
  return RoutineAt<SampleLoader>({0x471B30, 0, 0, 0})(data, size, third, index);
}
std::uint32_t LoadSample(const void* data, std::uint32_t size, std::uint32_t third, std::uint32_t index) {
  return RoutineAt<SampleLoader>({0, 0x473710, 0x473670, 0x4A3510})(data, size, third, index);
}

std::uint32_t RunFrameRoutine1() { return RoutineAt<std::uint32_t (*)()>({0x47F6F0, 0x481860, 0x4816D0, 0x4BA100})(); }
std::uint32_t RunFrameRoutine2() {
  const std::uint32_t first = ReadAt<std::uint32_t>({0x660B50, 0x660C88, 0x660CC8, 0xBA4384});
  const std::uint32_t second = GamePlace{0x660B60, 0x660C94, 0x660CD4, 0xBA4390}.At();
  return RoutineAt<std::uint32_t (*)(std::uint32_t, std::uint32_t)>({0x47F6B0, 0x481810, 0x481680, 0x4BA090})(first,
                                                                                                              second);
}
std::uint32_t RunFrameRoutine3() { return RoutineAt<std::uint32_t (*)()>({0x47E950, 0x480A50, 0x4808C0, 0x4B8DB0})(); }
std::uint32_t RunFrameRoutine4() {
  const std::uint32_t argument = GamePlace{0x5353E8, 0x53551C, 0x53555C, 0x878654}.At();
  return RoutineAt<std::uint32_t (*)(std::uint32_t)>({0x48D5A0, 0x48F910, 0x48F750, 0x4D30E0})(argument);
}

std::uint32_t CallWindowProcedure(HWND window, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
  using Procedure = __attribute__((stdcall)) std::uint32_t (*)(HWND, std::uint32_t, std::uint32_t, std::uint32_t);
  return RoutineAt<Procedure>({0x48D0D0, 0x48F430, 0x48F270, 0x401E8D})(window, message, wParam, lParam);
}

std::uint32_t CallFlipeffect(std::uint32_t number, std::uint32_t argument) {
  const std::uint32_t table = GamePlace{0x4ABE80, 0x4ADE8C, 0x4ADE8C, 0x507964}.At();
  const auto entry = ReadGame<std::uint32_t>(table + sizeof(std::uint32_t) * number);
  return reinterpret_cast<std::uint32_t (*)(std::uint32_t)>(std::uintptr_t(entry))(argument);
}

std::uint32_t FlipeffectCount() {
  constexpr std::uint32_t kFlipeffectsIV = 47;
  constexpr std::uint32_t kFlipeffectsV = 59;
  return IsGameV() ? kFlipeffectsV : kFlipeffectsIV;
}

}  // namespace Game
