#pragma once
// The blocks that hooks hand with their events. "value" marks the field a
// module fills when it replies ValueSupplied. Events without fields (Unload,
// ScriptLoaded, DefineAllObjects, SetUpItemLinkedLists, LoadItems, Process,
// Render2D, RollingBallDeath) pass no block.
#include <cstdint>

#include <hack/ModuleRegistry.h>

class CStream;
class CAudioSource;
class CImageData;

struct WindowChangedEventData : ModuleEventData {  // {8, window}; 0 from the start routine
  HWND window;
};
struct WindowMessageEventData : ModuleEventData {  // 24
  HWND window;
  std::uint32_t result;  // value
  std::uint32_t message;
  std::uint32_t wParam;
  std::uint32_t lParam;
};
struct GameStartEventData : ModuleEventData {  // 8
  std::uint32_t exitCode;  // value; starts at 255
};
struct LoadSampleEventData : ModuleEventData {  // 24
  std::uint8_t result;  // value
  const void* data;     // RIFF data
  std::uint32_t dataSize;
  std::uint32_t third;
  std::uint32_t index;
};
struct QueryFlagEventData : ModuleEventData {  // 8, QueryFlagA and QueryFlagB
  std::uint8_t flag;  // value
};
struct GetKeyStatesEventData : ModuleEventData {  // 8
  std::uint8_t* keys;  // the game's 256-byte key table
};
struct GetJoypadStatesEventData : ModuleEventData {  // 16
  std::uint32_t* first;
  std::uint32_t* second;
  std::uint32_t result;  // value
};
struct FallDamageEventData : ModuleEventData {  // 12
  void* item;
  std::uint8_t result;  // value
};
struct DivingRollLandDeathEventData : ModuleEventData {  // 8
  void* item;
};
struct FlipeffectEventData : ModuleEventData {  // 12
  std::uint32_t number;
  std::uint32_t argument;
};
struct UnhandledExceptionEventData : ModuleEventData {  // 8
  void* exceptionPointers;  // EXCEPTION_POINTERS*
};
struct OpenAudioSourceEventData : ModuleEventData {  // 12
  CAudioSource* result;  // value
  CStream* stream;
};
struct LoadImageEventData : ModuleEventData {  // 12
  CImageData* result;  // value
  CStream* stream;
};
struct ReplacedCallEventData : ModuleEventData {  // 20
  std::uint32_t arguments[4];
};

static_assert(sizeof(WindowChangedEventData) == 8);
static_assert(sizeof(WindowMessageEventData) == 24);
static_assert(sizeof(GameStartEventData) == 8);
static_assert(sizeof(LoadSampleEventData) == 24);
static_assert(sizeof(QueryFlagEventData) == 8);
static_assert(sizeof(GetKeyStatesEventData) == 8);
static_assert(sizeof(GetJoypadStatesEventData) == 16);
static_assert(sizeof(FallDamageEventData) == 12);
static_assert(sizeof(DivingRollLandDeathEventData) == 8);
static_assert(sizeof(FlipeffectEventData) == 12);
static_assert(sizeof(UnhandledExceptionEventData) == 8);
static_assert(sizeof(OpenAudioSourceEventData) == 12);
static_assert(sizeof(LoadImageEventData) == 12);
static_assert(sizeof(ReplacedCallEventData) == 20);
