// Engine.QV natives, Engine.SetFPSLimit and Engine.Sleep.
#include <scripthost/GameNatives.h>

#include <cmath>
#include <memory>

#include <hack/GameRoutines.h>
#include <hack/GameVersion.h>
#include <hack/Hacks.h>
#include <platform/sync.h>

#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

#include "NativeSupport.h"

CHackValueHack* g_FPSLimitPatch = nullptr;

const SQChar kUnrepresentableCharacterMessage[] =
    u"An attempt was made to copy a string into a buffer of a type that does not support a character in the "
    u"string.";
const SQChar kFrameRateNotPositiveMessage[] = u"the frame rate limit must be above 0";
const SQChar kNegativeSleepMessage[] = u"the sleep time must not be negative";
const SQChar kNoModuleRecordMessage[] = u"SquirrelSupport is not loaded";

namespace {

constexpr natives::GamePlace kLevel{0x7FD190, 0x7FD2B0, 0x7FD2F0, 0xE5C2F0};             // u8
constexpr natives::GamePlace kLevelSecond{0x7FD150, 0x7FD270, 0x7FD2B0, 0xE5C2B4};       // u8
constexpr natives::GamePlace kFlipeffect{0x4ACBFC, 0x4AEBFC, 0x4AEBFC, 0x506C60};        // u32
constexpr natives::GamePlace kFlipeffectSecond{0x4BF2D4, 0x4BF3FC, 0x4BF43C, 0x51CA5A};  // u8
constexpr natives::GamePlace kFrameTime{0x7537D8, 0x753900, 0x753940, 0xD9AAB0};         // u64
constexpr std::uint32_t kFrameTimeBytes = sizeof(std::uint64_t);
constexpr std::uint32_t kByteLimit = 0xFF;
constexpr SQInteger kFirstArgument = 2;  // after this
constexpr SQInteger kProgressBarArguments = 7;

// The limit's patch clears the global when it goes, whoever removes it.
class CFPSLimitPatch : public CHackValueHack {
 public:
  CFPSLimitPatch(tHackModule* module, std::uint32_t address, std::uint64_t value)
      : CHackValueHack(module, address, value) {}
  ~CFPSLimitPatch() override {
    if (g_FPSLimitPatch == this) g_FPSLimitPatch = nullptr;
  }
};

std::uint32_t IntegerAt(HSQUIRRELVM v, SQInteger index) {
  SQInteger value = 0;
  if (index <= sq_gettop(v)) sq_getinteger(v, index, &value);
  return std::uint32_t(value);
}

SQInteger GetScreenWidth(HSQUIRRELVM v) {
  sq_pushinteger(v, SQInteger(Game::GetScreenWidth()));
  return 1;
}

SQInteger GetScreenHeight(HSQUIRRELVM v) {
  sq_pushinteger(v, SQInteger(Game::GetScreenHeight()));
  return 1;
}

SQInteger GetFontHeight(HSQUIRRELVM v) {
  sq_pushinteger(v, SQInteger(Game::GetFontHeight()));
  return 1;
}

SQInteger RenderProgressBar(HSQUIRRELVM v) {
  std::uint32_t a[kProgressBarArguments];
  for (SQInteger i = 0; i < kProgressBarArguments; ++i) a[i] = IntegerAt(v, kFirstArgument + i);
  if (GameVersion >= GAMEVERSION_IV_RELEASE_PATCHED && GameVersion <= GAMEVERSION_IV_DEMO_BRENNIC) {
    Game::RenderProgressBar(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
  } else if (GameVersion == GAMEVERSION_V_RELEASE_PATCHED || GameVersion == GAMEVERSION_V_RELEASE) {
    Game::RenderProgressBarV(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
  }
  return 0;
}

SQInteger RenderString(HSQUIRRELVM v) {
  constexpr SQInteger kText = 5;
  const SQChar* text = nullptr;
  SQInteger length = 0;
  sq_getstringandsize(v, kText, &text, &length);
  // The game takes 8-bit text: a character it cannot hold is the script's error, and nothing is drawn.
  std::unique_ptr<char[]> buffer(new char[std::size_t(length) + 1]);
  for (SQInteger i = 0; i < length; ++i) {
    if (text[i] > kByteLimit) return sq_throwerror(v, kUnrepresentableCharacterMessage);
    buffer[std::size_t(i)] = char(text[i]);
  }
  buffer[std::size_t(length)] = '\0';
  Game::RenderString(IntegerAt(v, 2), IntegerAt(v, 3), IntegerAt(v, 4), buffer.get(), IntegerAt(v, 6));
  return 0;
}

SQInteger ChangeLevel(HSQUIRRELVM v) {
  natives::WriteGame(kLevel, std::uint8_t(IntegerAt(v, 2)));
  natives::WriteGame(kLevelSecond, std::uint8_t(IntegerAt(v, 3)));
  return 0;
}

SQInteger SetFlipeffect(HSQUIRRELVM v) {
  natives::WriteGame(kFlipeffect, IntegerAt(v, 2));
  natives::WriteGame(kFlipeffectSecond, std::uint8_t(IntegerAt(v, 3)));
  return 0;
}

SQInteger PlaySoundEffect(HSQUIRRELVM v) {
  sq_pushbool(v, Game::PlaySoundEffect(IntegerAt(v, 2), nullptr, IntegerAt(v, 3)) ? SQTrue : SQFalse);
  return 1;
}

SQInteger PlaySoundEffect3D(HSQUIRRELVM v) {
  const std::int32_t position[3] = {std::int32_t(IntegerAt(v, 3)), std::int32_t(IntegerAt(v, 4)),
                                    std::int32_t(IntegerAt(v, 5))};
  sq_pushbool(v, Game::PlaySoundEffect(IntegerAt(v, 2), position, IntegerAt(v, 6)) ? SQTrue : SQFalse);
  return 1;
}

SQInteger SetFPSLimit(HSQUIRRELVM v) {
  const auto rate = std::int32_t(IntegerAt(v, 2));
  // A rate of 0 would divide by zero and a negative one make a negative wait: refused, the limit kept.
  if (rate <= 0) return sq_throwerror(v, kFrameRateNotPositiveMessage);
  if (g_pSquirrelSupportModule == nullptr) return sq_throwerror(v, kNoModuleRecordMessage);
  delete g_FPSLimitPatch;  // its destructor clears the global
  if (rate == kGameFrameRate) return 0;
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  g_FPSLimitPatch = new CFPSLimitPatch(g_pSquirrelSupportModule, kFrameTime.At(kFrameTimeBytes),
                                       FrameTicks(frequency.QuadPart, rate));
  return 0;
}

SQInteger Sleep(HSQUIRRELVM v) {
  const auto milliseconds = std::int32_t(IntegerAt(v, 2));
  // -1 would be INFINITE: the game would never wake.
  if (milliseconds < 0) return sq_throwerror(v, kNegativeSleepMessage);
  ::Sleep(DWORD(milliseconds));
  return 0;
}

}  // namespace

std::uint64_t FrameTicks(std::int64_t frequency, std::int32_t rate) {
  const float value = float(double(frequency)) / float(2 * std::int64_t(rate));
  // Values of 2^63 and above convert through the unsigned range; no finite float reaches 2^64 here.
  constexpr float kTwoTo63 = 9223372036854775808.0f;
  if (!(value >= 0)) return 0;
  if (value >= kTwoTo63) return std::uint64_t(value - kTwoTo63) + (std::uint64_t(1) << 63);
  return std::uint64_t(value);
}

void RegisterFrameNatives(HSQUIRRELVM v) {
  RegisterFunctionTyped(v, u"SetFPSLimit", SetFPSLimit, u".i");
  RegisterFunctionTyped(v, u"Sleep", Sleep, u".i");
}

void RegisterQVNatives(HSQUIRRELVM v) {
  constexpr SQInteger kAtLeastThisAndOne = -2;
  RegisterFunctionTyped(v, u"GetScreenWidth", GetScreenWidth, u".");
  RegisterFunctionTyped(v, u"GetScreenHeight", GetScreenHeight, u".");
  RegisterFunctionTyped(v, u"GetFontHeight", GetFontHeight, u".");
  RegisterFunctionTyped(v, u"RenderProgressBar", RenderProgressBar, u".iiiiiii");
  RegisterFunctionTyped(v, u"RenderString", RenderString, u".iiisi");
  RegisterFunction(v, u"ChangeLevel", ChangeLevel, kAtLeastThisAndOne, u".ii");
  RegisterFunction(v, u"SetFlipeffect", SetFlipeffect, kAtLeastThisAndOne, u".ii");
  RegisterFunctionTyped(v, u"PlaySoundEffect", PlaySoundEffect, u".ii");
  RegisterFunctionTyped(v, u"PlaySoundEffect3D", PlaySoundEffect3D, u".iiiii");
}
