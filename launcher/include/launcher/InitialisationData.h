#pragma once
// The initialisation block that crosses from the launcher into the game process: the header of settings, the
// module descriptors and the module options, as one little-endian byte layout
//
//   header (3696 bytes) | u32 descriptorCount | ModuleDescriptor[n] | u32 optionCount | ModuleOption[m]
//
// and, on both sides, the header held with two tLists whose records are heap copies of the descriptors and options.
//
// Errors: serialisation cannot fail (sizes are computed in 64 bits first); parsing refuses a block that is cut short
// or whose counts run past its end, returning false with the caller's header and lists untouched. Fixed-size text
// fields need not be terminated: read them with FieldText, never as plain C strings.
// Locks: none; the lists belong to one thread at a time (the launcher's caller, then the initialisation thread).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <hack/List.h>
#include <hack/ModuleOptions.h>

constexpr std::size_t kInitPathLength = 260;
constexpr std::size_t kInitNameLength = 64;

// The header. The natural layout of these members is the byte layout (static_asserts below guard each offset).
struct InitialisationData {
  char magic[4];  // "KAVO"
  std::uint32_t major;
  std::uint32_t minor;
  std::uint32_t build;
  std::uint8_t revision;
  std::uint8_t unread[3];
  std::uint8_t useSavedGamesDirectory;
  char16_t savedGamesDirectory[kInitPathLength];
  std::uint8_t useScreenshotsDirectory;
  char16_t screenshotsDirectory[kInitPathLength];
  std::uint8_t writeCrashDumps;
  char16_t crashDumpDirectory[kInitPathLength];
  char16_t cachesDirectory[kInitPathLength];
  char16_t debugDirectory[kInitPathLength];
  char16_t sdlDirectory[kInitPathLength];  // read by the launcher side only
  char16_t clientDataDirectory[kInitPathLength];
  std::uint32_t ownerWindow;
  std::uint8_t closeOnlyMessages;
  std::uint8_t disableGame;
  std::uint32_t startDelay;  // milliseconds, 0 = none
  std::uint32_t clientValue;
  std::uint32_t reserved;
  std::uint8_t terminateAfterDump;
  std::uint32_t gameMainThreadId;  // written by BeginStartingGame; the launcher's value is ignored
};

// What the launcher fills: every byte before gameMainThreadId.
constexpr std::size_t kInitLauncherBytes = 3692;
constexpr std::size_t kInitHeaderSize = 3696;
constexpr char kInitMagic[4] = {'K', 'A', 'V', 'O'};
constexpr std::uint32_t kInitMajor = 1;
constexpr std::uint32_t kInitMinor = 0;
constexpr std::uint32_t kInitBuild = 12;
constexpr std::uint8_t kInitRevision = 0;

static_assert(sizeof(InitialisationData) == kInitHeaderSize);
static_assert(offsetof(InitialisationData, useSavedGamesDirectory) == 20);
static_assert(offsetof(InitialisationData, savedGamesDirectory) == 22);
static_assert(offsetof(InitialisationData, useScreenshotsDirectory) == 542);
static_assert(offsetof(InitialisationData, writeCrashDumps) == 1064);
static_assert(offsetof(InitialisationData, crashDumpDirectory) == 1066);
static_assert(offsetof(InitialisationData, sdlDirectory) == 2626);
static_assert(offsetof(InitialisationData, clientDataDirectory) == 3146);
static_assert(offsetof(InitialisationData, ownerWindow) == 3668);
static_assert(offsetof(InitialisationData, disableGame) == 3673);
static_assert(offsetof(InitialisationData, startDelay) == 3676);
static_assert(offsetof(InitialisationData, terminateAfterDump) == 3688);
static_assert(offsetof(InitialisationData, gameMainThreadId) == kInitLauncherBytes);

// What a descriptor asks of the start routine; other kinds are ignored.
enum ModuleKind : std::uint32_t {
  kModuleKindLibrary = 0,       // a DLL to load and register under name
  kModuleKindModDirectory = 1,  // a host directory mounted as "/Mods/" + name
};

struct ModuleDescriptor {
  std::uint32_t kind;
  char16_t name[kInitNameLength];
  char16_t path[kInitPathLength];
};
static_assert(sizeof(ModuleDescriptor) == 652);
static_assert(offsetof(ModuleDescriptor, path) == 132);

// A block with no descriptors and no options.
constexpr std::size_t kInitEmptyBlockSize = kInitHeaderSize + 2 * sizeof(std::uint32_t);

// The text of a fixed field: up to its first zero unit, or all of it when it holds none.
template <std::size_t N>
std::u16string FieldText(const char16_t (&field)[N]) {
  std::size_t length = 0;
  while (length < N && field[length] != 0) ++length;
  return std::u16string(field, length);
}

// Copies text into a fixed field, cut to fit and zero-padded; false when it was cut (the field then holds the
// first N units, unterminated, as the layout allows).
template <std::size_t N>
bool SetFieldText(char16_t (&field)[N], std::u16string_view text) {
  std::size_t length = text.size() < N ? text.size() : N;
  for (std::size_t i = 0; i < N; ++i) field[i] = i < length ? text[i] : u'\0';
  return text.size() <= N;
}

// A header with the magic, version and build filled in and every other byte zero.
InitialisationData MakeInitialisationHeader();

// The block's size: 3704 + 652 n + 388 m, in 64 bits so that no count wraps it.
std::uint64_t InitialisationBlockSize(const tList& descriptors, const tList& options);

// The block of settings' first 3692 bytes with gameMainThreadId set to mainThreadId, then the records of
// descriptors (ModuleDescriptor) and options (ModuleOption) in list order.
std::vector<std::uint8_t> SerialiseInitialisationData(const InitialisationData& settings, std::uint32_t mainThreadId,
                                                      const tList& descriptors, const tList& options);

// Reads a block of at most size bytes (bytes after the option list are ignored: the game's block fills whole
// pages). On success copies the header and appends heap copies of the records to descriptors and options (free
// them with FreeInitDataLists); false, with nothing changed, when the block is shorter than its counts say.
bool ParseInitialisationData(const void* block, std::size_t size, InitialisationData* header, tList* descriptors,
                             tList* options);

// Appends heap copies of source's records (ModuleDescriptor or ModuleOption, by which list it is) to target.
void CopyDescriptorList(const tList& source, tList* target);
void CopyOptionList(const tList& source, tList* target);

// Removes every node of both lists and frees its record (either list may be null).
void FreeInitDataLists(tList* descriptors, tList* options);

// Whether a mod directory name may be mounted under "/Mods/": not empty, "." or "..", and free of "/" and "\".
bool IsMountableModName(std::u16string_view name);
