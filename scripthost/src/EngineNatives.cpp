// Debug.GetRegistryTable, Engine.GetRawValue and Engine.QVUtil.DrawRectangle.
#include <scripthost/EngineNatives.h>

#include <cstdint>

#include <hack/GameRoutines.h>
#include <hack/GameVersion.h>
#include <hack/RendererBridge.h>

#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/ScriptTexture.h>

#include "NativeSupport.h"

const SQChar kTextureIndexOutOfBoundsMessage[] = u"texture index out of bounds";

namespace {

// The game's count of its own textures (u32), by build column.
constexpr natives::GamePlace kTextureCount{0x7537C4, 0x7538F0, 0x753930, 0xD9A868};
constexpr std::uint32_t kTextureIndexMask = 0xFFFF;

// DrawRectangle's parameters by stack index (this is 1) and the defaults of the optional ones.
constexpr SQInteger kTextureArgument = 2;
constexpr SQInteger kPositionArgument = 3;
constexpr SQInteger kSizeArgument = 5;
constexpr SQInteger kUvOriginArgument = 7;
constexpr SQInteger kUvSizeArgument = 9;
constexpr SQInteger kColourArgument = 11;
constexpr SQInteger kPivotArgument = 15;
constexpr SQInteger kAngleArgument = 17;
constexpr SQInteger kScaleArgument = 18;
constexpr SQInteger kFlagArgument = 20;
constexpr std::uint32_t kCorners = 4;
constexpr std::uint32_t kDefaultColour = 0xFFFFFFFF;

SQInteger GetRegistryTable(HSQUIRRELVM v) {
  sq_pushregistrytable(v);
  return 1;
}

SQInteger GetRawValue(HSQUIRRELVM v) {
  constexpr SQInteger kValue = 2;
  HSQOBJECT object;
  sq_getstackobj(v, kValue, &object);
  sq_pushinteger(v, object._type == OT_NULL ? 0 : SQInteger(object._unVal.raw));
  return 1;
}

// An optional number: the default past the arguments given (top); integers become floats.
float NumberAt(HSQUIRRELVM v, SQInteger top, SQInteger index, float fallback) {
  if (index > top) return fallback;
  SQFloat value = fallback;
  sq_getfloat(v, index, &value);
  return value;
}

// An optional integer: floats truncated, bools 0 or 1.
std::uint32_t IntegerAt(HSQUIRRELVM v, SQInteger top, SQInteger index, std::uint32_t fallback) {
  if (index > top) return fallback;
  SQInteger value = SQInteger(fallback);
  sq_getinteger(v, index, &value);
  return std::uint32_t(value);
}

Game::FloatPair PairAt(HSQUIRRELVM v, SQInteger top, SQInteger index, float fallback) {
  return {NumberAt(v, top, index, fallback), NumberAt(v, top, index + 1, fallback)};
}

SQInteger DrawRectangle(HSQUIRRELVM v) {
  // Without the game's device nothing can be drawn; scripts drawing before the game's renderer exists are
  // not in error.
  if (Game::GetDirect3DDevice() == nullptr) return 0;
  const SQInteger top = sq_gettop(v);

  tScriptTexture* texture = nullptr;
  std::uint16_t index = 0;
  if (sq_gettype(v, kTextureArgument) == OT_INSTANCE) {
    if (SQ_FAILED(natives::Object(v, kTextureArgument, ScriptClass::Texture, &texture))) return SQ_ERROR;
  } else {
    const auto count = natives::ReadGame<std::uint32_t>(kTextureCount);
    index = std::uint16_t(IntegerAt(v, top, kTextureArgument, 0) & kTextureIndexMask);
    if (index >= count) return sq_throwerror(v, kTextureIndexOutOfBoundsMessage);
  }

  const Game::FloatPair position = PairAt(v, top, kPositionArgument, 0);
  const Game::FloatPair size = PairAt(v, top, kSizeArgument, 0);
  const Game::FloatPair uvOrigin = PairAt(v, top, kUvOriginArgument, 0);
  const Game::FloatPair uvSize = PairAt(v, top, kUvSizeArgument, 1);
  std::uint32_t colours[kCorners];
  for (std::uint32_t i = 0; i < kCorners; ++i)
    colours[i] = IntegerAt(v, top, kColourArgument + SQInteger(i), kDefaultColour);
  const Game::FloatPair pivot = PairAt(v, top, kPivotArgument, 0);
  const float angle = NumberAt(v, top, kAngleArgument, 0);
  const Game::FloatPair scale = PairAt(v, top, kScaleArgument, 1);
  SQBool flag = SQFalse;
  if (kFlagArgument <= top) sq_getbool(v, kFlagArgument, &flag);

  if (texture != nullptr) {
    CGameTextureRecord::Draw(&texture->GetRecord(), &position, &size, &uvOrigin, &uvSize, colours, &pivot, angle,
                             &scale, flag != SQFalse);
  } else {
    Game::DrawRotatedQuad(&position, &size, &uvOrigin, &uvSize, colours[0], colours[1], colours[2], colours[3], &pivot,
                          angle, &scale, flag != SQFalse, index);
  }
  return 0;
}

}  // namespace

void RegisterDebugNatives(HSQUIRRELVM v) { RegisterFunction(v, u"GetRegistryTable", GetRegistryTable, 0, nullptr); }

void RegisterEngineNatives(HSQUIRRELVM v) {
  RegisterFunctionTyped(v, u"GetRawValue", GetRawValue, u"..");
  RegisterPlayingAudioInstancesNative(v);
}

void RegisterQVUtilNatives(HSQUIRRELVM v) {
  constexpr SQInteger kAtLeastThisAndFive = -6;
  RegisterFunction(v, u"DrawRectangle", DrawRectangle, kAtLeastThisAndFive, u".x|innnnnnnniiiinnnnnb");
}
