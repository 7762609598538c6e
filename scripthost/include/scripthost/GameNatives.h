#pragma once
// Natives that read and drive the running game: the table Engine.QV (screen and font sizes, the game's
// progress bar and text, level changes, flip effects, sound effects), and Engine.SetFPSLimit and
// Engine.Sleep. The frame-rate limit is a patch of the SquirrelSupport module's record.
//
// Errors: script errors with the texts below (a text the game cannot take, a limit that is not positive, a
// negative sleep, no module record to own the limit); nothing here ends the process. The masks refuse other
// parameter counts and types. Locking: none; the game's main thread (patches take the registry's locks).
#include <cstdint>

#include <squirrel.h>

struct tHackModule;
class CHackValueHack;

// The patch of the latest SetFPSLimit, or null; it clears itself whenever it is removed, also when the
// module's record removes its patches.
extern CHackValueHack* g_FPSLimitPatch;

// The game keeps its own timing at this rate.
constexpr std::int32_t kGameFrameRate = 30;

extern const SQChar kUnrepresentableCharacterMessage[];
extern const SQChar kFrameRateNotPositiveMessage[];
extern const SQChar kNegativeSleepMessage[];
extern const SQChar kNoModuleRecordMessage[];

// The frame-time value the game waits for a frame at rate frames per second: frequency / (2 rate) in float,
// truncated. rate must be positive.
std::uint64_t FrameTicks(std::int64_t frequency, std::int32_t rate);

// With its table on the stack top; the stack is as before.
void RegisterFrameNatives(HSQUIRRELVM v);  // Engine.SetFPSLimit, Engine.Sleep
void RegisterQVNatives(HSQUIRRELVM v);     // Engine.QV.*
