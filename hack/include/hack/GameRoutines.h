#pragma once
// The game's routines and data, reached only through these accessors. Each
// translates its place (four build columns: IV Editor, IV Release Patched,
// IV Demo Corvel, V Release Patched) with TranslateGameAddress where it is
// used, then reads the value, returns the address or calls the routine there
// (the game's routines take the C calling convention).
//
// Errors: none are reported. A read or call of a place the running build lacks
// is a caller's mistake: such accessors say which builds have them, and the
// caller tests GameVersion first. TranslateGameAddress must have been chosen
// (SelectGameBuild) before any accessor runs. No locks: the game's main thread
// is the only one that touches the game.
#include <platform/win32types.h>

#include <cstdint>

struct IDirectDraw7;
struct IDirect3DDevice3;
struct IDirectSound;

namespace Game {

// ---- Reads -----------------------------------------------------------------

// The game's main window (0 until the game made it).
HWND GetWindow();
// The address of the game's window global (the WindowChanged hook writes it).
std::uint32_t GetWindowAddress();
// The screen's size in pixels and the height of the game's font.
std::uint32_t GetScreenWidth();
std::uint32_t GetScreenHeight();
std::uint32_t GetFontHeight();
// The game's current level byte (compared with 1, 4, 8 and 11 by callers).
std::uint8_t GetStateByte();

// Base of the item array (records of kItemRecordSize bytes), and the player
// character's item record.
constexpr std::uint32_t kItemRecordSize = 5622;
std::uint8_t* GetItemArray();
std::uint8_t* GetPlayerItem();
// The address of the player item pointer itself (RollingBallDeath loads it).
std::uint32_t GetPlayerItemAddress();

// The player record: u16 item number at byte 0, i16 words at bytes 2, 4 and 6,
// an i32 at byte 68 (the record lies elsewhere on game V).
std::uint8_t* GetPlayerRecord();
std::uint16_t GetPlayerItemNumber();
std::int16_t GetPlayerRecordWord(std::uint32_t offset);  // offset 2, 4 or 6
std::int32_t GetPlayerRecordLong();                      // the i32 at byte 68

// The two u32 the multiplayer client reads and sets: the player state word and
// the word it sets to -8 when a server update moves the local player.
std::uint32_t* GetPlayerStateWord();
std::uint32_t* GetPlayerUpdateWord();

// Sound: the game's IDirectSound (null while sound is off), its WAVEFORMATEX and
// its sample table (entries of kSampleEntrySize bytes: buffer, frequency, one
// more word).
constexpr std::uint32_t kSampleEntrySize = 12;
IDirectSound* GetDirectSound();
void* GetWaveFormat();
std::uint8_t* GetSampleTable();

// The renderer's IDirectDraw7 and Direct3D device (null before the game made
// them). Both pointers lie at odd addresses.
IDirectDraw7* GetDirectDraw();
IDirect3DDevice3* GetDirect3DDevice();

// ---- Calls -----------------------------------------------------------------

// A free item number, 0xFFFF when none is left.
std::uint16_t AllocateItem();
void SetUpItem(std::uint16_t item);
void RemoveItem(std::uint16_t item);
void CallItemRoutineA(std::uint16_t item);
void CallItemRoutineB(std::uint16_t item);
void MoveItemToRoom(std::uint16_t item, std::uint16_t room);
void RemoveEffect(std::uint16_t effect);
// Plays a sample at a position (three i32, or null for no position); true when played.
bool PlaySoundEffect(std::uint32_t sample, const void* position, std::uint32_t flags);
// The game's text routine: (x, y, style, text, colour) as the game takes them.
void RenderString(std::uint32_t x, std::uint32_t y, std::uint32_t style, const char* text, std::uint32_t colour);
// The download bar: game IV builds only (RenderProgressBar) or game V only (RenderProgressBarV).
void RenderProgressBar(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height, std::uint32_t value,
                       std::uint32_t colour1, std::uint32_t colour2);
void RenderProgressBarV(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                        std::uint32_t value, std::uint32_t colour1, std::uint32_t colour2);
// Routines the multiplayer client calls after switching players. CallRoutineDV
// exists on game V only.
void CallRoutineC();
void CallRoutineD();
void CallRoutineDV(std::uint8_t argument);
void CallRoutineE();

// The sample loaders (RIFF data, size, third argument, sample index) -> loaded:
// the IV Editor's own, and the one of the other three builds.
std::uint32_t LoadSampleEditor(const void* data, std::uint32_t size, std::uint32_t third, std::uint32_t index);
std::uint32_t LoadSample(const void* data, std::uint32_t size, std::uint32_t third, std::uint32_t index);

// The routines of the game's frame tail, in the order the frame hook runs them
// (Game::FlushGameDrawing runs 2, 3, then 1).
std::uint32_t RunFrameRoutine1();
std::uint32_t RunFrameRoutine2();  // with the game's own two arguments
std::uint32_t RunFrameRoutine3();
std::uint32_t RunFrameRoutine4();  // with the game's own argument

// The game's window procedure (stdcall).
std::uint32_t CallWindowProcedure(HWND window, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
// Entry `number` of the flipeffect table, called with argument. The caller
// checks the number against FlipeffectCount() first.
std::uint32_t CallFlipeffect(std::uint32_t number, std::uint32_t argument);
// Flipeffects the running build's table holds.
std::uint32_t FlipeffectCount();

}  // namespace Game
