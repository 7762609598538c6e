#pragma once
// Modules, their records and the event bus that the game's hooks raise.
#include <cstddef>
#include <cstdint>

#include <hack/List.h>
#include <platform/sync.h>
#include <platform/win32types.h>

enum ModuleEvent : std::uint32_t {
  MODULEEVENT_INIT = 0,
  MODULEEVENT_UNLOAD = 1,
  MODULEEVENT_WINDOWCHANGED = 2,
  MODULEEVENT_WINDOWMESSAGE = 3,
  MODULEEVENT_SCRIPTLOADED = 4,
  MODULEEVENT_GAMESTART = 5,
  MODULEEVENT_DEFINEALLOBJECTS = 6,
  MODULEEVENT_SETUPITEMLINKEDLISTS = 7,
  MODULEEVENT_LOADSAMPLE = 8,
  MODULEEVENT_LOADITEMS = 9,
  MODULEEVENT_PROCESS = 10,
  MODULEEVENT_RENDER2D = 11,
  MODULEEVENT_QUERYFLAGA = 12,
  MODULEEVENT_GETKEYSTATES = 13,
  MODULEEVENT_GETJOYPADSTATES = 14,
  MODULEEVENT_QUERYFLAGB = 15,
  MODULEEVENT_FALLDAMAGE = 16,
  MODULEEVENT_ROLLINGBALLDEATH = 17,
  MODULEEVENT_DIVINGROLLLANDDEATH = 18,
  MODULEEVENT_FLIPEFFECT = 19,
  MODULEEVENT_UNHANDLEDEXCEPTION = 20,
  MODULEEVENT_OPENAUDIOSOURCE = 21,
  MODULEEVENT_LOADIMAGE = 22,
  MODULEEVENT_REPLACEDCALL = 23,
};
constexpr std::uint32_t MODULEEVENT_COUNT = 24;

// Bits of a module's reply and of the combined result.
enum ModuleReply : std::uint32_t {
  MODULEREPLY_HANDLED = 1,
  MODULEREPLY_STOP = 2,
  MODULEREPLY_SKIPORIGINAL = 4,
  MODULEREPLY_VALUESUPPLIED = 8,
  MODULEREPLY_UNLOAD = 16,
  MODULEREPLY_BLOCKED = 32,
  MODULEREPLY_INCOMPATIBLE = 64,
};
// The replies hooks and the registry test, each "as a whole".
// At Init/Unload: refuse.
constexpr std::uint32_t MODULEREPLY_SKIP = MODULEREPLY_HANDLED | MODULEREPLY_STOP | MODULEREPLY_SKIPORIGINAL;
constexpr std::uint32_t MODULEREPLY_VALUE = MODULEREPLY_HANDLED | MODULEREPLY_STOP | MODULEREPLY_VALUESUPPLIED;
// At Init: refuse quietly.
constexpr std::uint32_t MODULEREPLY_UNLOADNOW = MODULEREPLY_HANDLED | MODULEREPLY_UNLOAD;
constexpr std::uint32_t MODULEREPLY_NOTCOMPATIBLE = MODULEREPLY_SKIP | MODULEREPLY_INCOMPATIBLE;

constexpr bool ReplyHolds(std::uint32_t reply, std::uint32_t bits) { return (reply & bits) == bits; }

// The block handed with an event; its first field is its size in bytes. The hook
// owns it on its stack.
struct ModuleEventData {
  std::uint32_t size;
};

struct tHackModule;

// Init block: {28, module, "KAVO", 1, 0, 12, 0}.
struct ModuleInitData : ModuleEventData {
  tHackModule* module;
  char magic[4];
  std::uint32_t major;
  std::uint32_t minor;
  std::uint32_t build;
  std::uint8_t revision;
};
static_assert(sizeof(ModuleInitData) == 28);

using ModuleHandler = std::uint32_t (*)(std::uint32_t event, ModuleEventData* data);

// A module record. Made once, kept in the registry until the process ends; a
// record with a null module handle is not loaded (never was, was refused or
// was unloaded) and is passed over by the bus.
struct tHackModule {
  CRITICAL_SECTION m_Lock;
  tList m_Hacks;  // CHackHack*, oldest first
  char16_t m_Path[MAX_PATH];
  HMODULE m_hModule;
  std::uint8_t m_FreeLibraryOnUnload;
  char16_t m_Name[65];
  ModuleHandler m_pHandler;
  std::uint32_t m_Busy[MODULEEVENT_COUNT];
  ListNode* m_pSubscription[MODULEEVENT_COUNT];

  tHackModule();
  ~tHackModule();
  tHackModule(const tHackModule&) = delete;
  tHackModule& operator=(const tHackModule&) = delete;
};

// The registry lock; taken before any record's lock.
void LockHackRegistry();
void UnlockHackRegistry();

// Creates a record with path and name (cut to 259 and 64 characters), no
// module handle and no handler, and appends it to the registry. The first record
// made is the core module's.
tHackModule* CreateHackModule(const char16_t* path, const char16_t* name);
// The registry's records, oldest first (a snapshot taken under the lock).
// Returns how many there are; fills at most capacity of them.
std::uint32_t GetHackModules(tHackModule** records, std::uint32_t capacity);

// Per-event block counters: while one is positive the event answers Blocked.
extern std::uint32_t g_ModuleEventBlocks[MODULEEVENT_COUNT];

// Hands an event to its subscribers, newest subscriber first, and returns their replies ORed together
// (0 when none handled it, or for an event out of range; MODULEREPLY_BLOCKED while the event is blocked).
// A subscriber whose reply lacks Handled is unsubscribed from that event; one that adds Unload is unloaded
// after its reply; Stop ends the walk. A module already inside a handler for this event is passed over.
// No lock is taken, so a handler may register, unload or patch; subscriptions dropped during a walk are
// unlinked when the outermost walk of that event ends.
std::uint32_t RaiseModuleEvent(std::uint32_t event, ModuleEventData* data);
// Registers the module and runs its Init handler (a null handler refuses quietly); unless Init replies
// UnloadNow or Skip, the module is subscribed to every event and Init's reply returned. A refused Init has
// its patches removed and the record left unloaded; NotCompatible also shows the user a message. A record
// registered again keeps one subscription per event.
// UnloadHackModule runs its Unload handler: Skip refuses (logged, the module stays); otherwise the module's
// patches go back, its library is freed if so registered, and the record is left unloaded. A record that is
// not loaded returns 0. Both hold the registry lock, then the module's lock, for the whole call,
// handler included: module loading holds the registry lock across the load, and a
// patch made inside Init takes the registry lock, so letting it go around the
// handler would invert the lock order. So an Init or Unload handler runs under the
// registry lock and must not wait for another thread that takes it (one that
// registers, unloads, makes or removes a patch, or lists the modules).
std::uint32_t RegisterHackModule(tHackModule* module, HMODULE handle, bool freeLibraryOnUnload, ModuleHandler handler);
std::uint32_t RegisterBuiltInModule(tHackModule* module, HMODULE handle);

// A built-in module: a name the launcher's module list may give, and the handler behind it.
struct tBuiltInModule {
  const char16_t* name;
  ModuleHandler handler;
};
// Hands the registry the table of built-in modules that the names are looked up in, first match first. The
// modules live in the libraries above this one: whoever links them (the product library, at load; a test, with
// the modules it needs) hands their table down. The table is not copied and must outlive its use; entries may be
// changed in place. Before a table is handed, and after a null one, no name is known. Set it before the game runs.
void SetBuiltInModules(const tBuiltInModule* modules, std::size_t count);
// The built-in handler of that name (ASCII case folded) in the table handed down, or null.
ModuleHandler FindBuiltInHandler(const char16_t* name);
// See RegisterHackModule.
std::uint32_t UnloadHackModule(tHackModule* module);
void UnloadAllHackModules();

// Number of modules subscribed to an event right now (for diagnostics and tests).
std::uint32_t CountModuleSubscribers(std::uint32_t event);
