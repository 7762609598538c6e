// The CustomFiles module: the game's file accesses go through the game-side file system, with mods over the game data.
#include <features/CustomFiles.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include <base/AppContext.h>
#include <base/FileSystem.h>
#include <core/GameStartup.h>
#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>
#include <platform/text.h>

#include "GamePlace.h"
#include "HookTrampolines.h"

namespace {

// ---- Mapping a game path -------------------------------------------------------------------------------------------

CFileSystem::tMountPoint* g_CdMount = nullptr;

constexpr std::size_t kDriveRootLength = 3;  // "D:\"
constexpr char16_t kTooShort[] = u"An attempt was made to copy a string into a buffer too short to hold the string.";

bool HasCd() {
  switch (GameVersion) {
    case GAMEVERSION_II_RELEASE:
    case GAMEVERSION_III_RELEASE:
    case GAMEVERSION_IV_RELEASE_PATCHED:
    case GAMEVERSION_IV_RELEASE:
    case GAMEVERSION_V_RELEASE_PATCHED:
    case GAMEVERSION_V_RELEASE:
      return true;
    default:
      return false;
  }
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether name is exactly prefix, one or more digits and suffix; the digits' value (saturated) in number.
bool MatchNumberedName(const char* name, const char* prefix, const char* suffix, unsigned* number) {
  const std::size_t prefixLength = std::strlen(prefix);
  if (std::strncmp(name, prefix, prefixLength) != 0) return false;
  const char* p = name + prefixLength;
  unsigned value = 0;
  const char* digits = p;
  constexpr unsigned kLargest = 999999999, kBase = 10;  // saturates below overflow
  for (; IsDigit(*p); ++p) value = value > kLargest / kBase ? kLargest : value * kBase + unsigned(*p - '0');
  if (p == digits || std::strcmp(p, suffix) != 0) return false;
  *number = value;
  return true;
}

// The game's narrow path widened unit by unit, "\" turned into "/", after prefix; false when it does not fit.
bool WidenGamePath(const char16_t* prefix, const char* path, char16_t (&out)[CFileSystem::kMaxPath]) {
  std::size_t length = 0;
  for (const char16_t* p = prefix; *p != 0; ++p) out[length++] = *p;
  for (const char* p = path; *p != 0; ++p) {
    if (length + 1 >= std::size(out)) return false;
    const char16_t unit = char16_t(static_cast<unsigned char>(*p));
    out[length++] = unit == u'\\' ? u'/' : unit;
  }
  out[length] = 0;
  return true;
}

void MountCdOnce(const char* path) {
  if (g_CdMount != nullptr) return;
  const char root[] = {path[0], ':', '\\', 0};
  LogConsole(
      "CUSTOM FILES: Game attempting to access file from CD for the first time; mounting \"%s\" over "
      "\"/GameDir\"\n",
      root);
  const char16_t wideRoot[] = {char16_t(path[0]), u':', u'\\', 0};
  // Not exclusive: what the CD lacks is still found in the install directory, which also keeps taking writes.
  g_CdMount = MountSharedPhysicalDirectory(u"/GameDir", false, wideRoot);
}

// ---- Replacements of the game's C runtime and Win32 file calls --------------------------------------------------

CStream* StreamOf(void* stream) { return static_cast<CStream*>(stream); }

__attribute__((force_align_arg_pointer)) std::uint32_t ReadReplacement(void* buffer, std::uint32_t elementSize,
                                                                       std::uint32_t count, void* stream) {
  return stream != nullptr ? StreamOf(stream)->Read(buffer, elementSize, count) : 0;
}

// As the C runtime's seek: 0 on success, non-zero on failure.
constexpr std::int32_t kSeekFailed = -1;
__attribute__((force_align_arg_pointer)) std::int32_t SeekReplacement(void* stream, std::int32_t offset,
                                                                      std::uint32_t origin) {
  return stream != nullptr && StreamOf(stream)->Seek(offset, origin) ? 0 : kSeekFailed;
}

__attribute__((force_align_arg_pointer)) std::uint32_t WriteReplacement(const void* buffer, std::uint32_t elementSize,
                                                                        std::uint32_t count, void* stream) {
  return stream != nullptr ? StreamOf(stream)->Write(buffer, elementSize, count) : 0;
}

// The stream's size; its position stays where it was.
__attribute__((force_align_arg_pointer)) std::uint32_t LengthReplacement(void* stream) {
  return stream != nullptr ? std::uint32_t(StreamOf(stream)->GetSize(true)) : 0;
}

__attribute__((force_align_arg_pointer)) std::uint32_t CloseReplacement(void* stream) {
  if (stream != nullptr) StreamOf(stream)->Release();
  return 0;
}

__attribute__((stdcall, force_align_arg_pointer)) std::uint32_t Win32WriteReplacement(void* stream, const void* buffer,
                                                                                      std::uint32_t size,
                                                                                      std::uint32_t* count, void*) {
  const std::uint32_t written = stream != nullptr ? StreamOf(stream)->Write(buffer, 1, size) : 0;
  if (count != nullptr) *count = written;
  return written;
}

__attribute__((stdcall, force_align_arg_pointer)) std::uint32_t Win32ReadReplacement(void* stream, void* buffer,
                                                                                     std::uint32_t size,
                                                                                     std::uint32_t* count, void*) {
  const std::uint32_t read = stream != nullptr ? StreamOf(stream)->Read(buffer, 1, size) : 0;
  if (count != nullptr) *count = read;
  return read;
}

__attribute__((stdcall, force_align_arg_pointer)) std::uint32_t Win32CloseReplacement(void* stream) {
  if (stream != nullptr) StreamOf(stream)->Release();
  return 1;
}

}  // namespace

// The slots the game's indirect calls of its Win32 write and read go through once patched.
std::uint32_t g_CustomFilesWin32Write = 0;
std::uint32_t g_CustomFilesWin32Read = 0;

CStream* MapGameFile(const char* path, std::uint32_t mode) {
  if (path == nullptr || g_FileSystem == nullptr) return nullptr;
  if (mode == kMapOpenData && HasCd() && IsLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
    MountCdOnce(path);
    path += kDriveRootLength;
  }
  char16_t target[CFileSystem::kMaxPath];
  const char16_t* directory = nullptr;
  unsigned number = 0;
  if (mode != kMapOpenData && MatchNumberedName(path, "savegame.", "", &number)) {
    text::Format(target, std::size(target), u"/UserData/SavedGames/savegame.%u", number);
    directory = u"/UserData/SavedGames";
  } else if (mode != kMapOpenData && MatchNumberedName(path, "Vesk", ".tga", &number)) {
    text::Format(target, std::size(target), u"/UserData/Screenshots/Vesk%04u.tga", number);
    directory = u"/UserData/Screenshots";
  } else if (!WidenGamePath(u"/GameData/", path, target)) {
    g_AppContext.AddError(text::Utf16ToUtf8(kTooShort).c_str());
    return nullptr;
  }
  const std::string shown = text::Utf16ToUtf8(target);
  CStream* stream = nullptr;
  if (mode == kMapCreate) {
    LogConsole("CUSTOM FILES: Creating file \"%s\"\n", shown.c_str());
    if (directory != nullptr) g_FileSystem->CreateDirectory(directory);
    stream = g_FileSystem->CreateFile(target, false, false);
  } else {
    LogConsole("CUSTOM FILES: Opening file \"%s\"\n", shown.c_str());
    g_FileSystem->FindAndOpenFile(target, true, false, &stream);
  }
  return stream;
}

// ---- The trampolines ------------------------------------------------------------------------------------------------

#define BRINDLE_CUSTOM_FILES_TRAMPOLINES(X) \
  X(FilesOpenData)                          \
  X(FilesOpenSaved)                         \
  X(FilesCreate)                            \
  X(FilesObjectTest)                        \
  X(FilesSaveWriter)                        \
  X(FilesSaveLoader)
BRINDLE_CUSTOM_FILES_TRAMPOLINES(BRINDLE_DECLARE_TRAMPOLINE)
BRINDLE_CUSTOM_FILES_TRAMPOLINES(BRINDLE_EMIT_TRAMPOLINE)

namespace {

struct Places {
  GamePlace openData{0x472003, 0x473D48, 0x473BAF, 0x4A3D38};
  GamePlace openSaved{0x4788E7, 0x47A727, 0x47A587, 0x4AD2C0};
  GamePlace openSavedBackV{0, 0, 0, 0x4AD2CB};
  GamePlace create{0x491CDD, 0x4940FF, 0x493F3F, 0x4A241F};
  GamePlace read{0x49E05D, 0x4A0831, 0x4A02E1, 0x4E1D20};
  GamePlace seek{0x49E174, 0x4A0948, 0x4A03F8, 0x4E1F30};
  GamePlace write{0x49F052, 0x4A158B, 0x4A103B, 0x4E4380};
  GamePlace closeCalls[3] = {{0x46BE43, 0x46D73F, 0x46D69F, 0x492A33},
                             {0x478992, 0x47A7D2, 0x47A632, 0x4AD35F},
                             {0x491DD7, 0x49421D, 0x49405D, 0x4A253D}};
  GamePlace closeJumpEditor{0x47204F, 0, 0, 0};
  GamePlace closeCallOthers{0, 0x473D91, 0x473BF1, 0x4A3DB1};
  GamePlace closeCallsV[3] = {{0, 0, 0, 0x491E4B}, {0, 0, 0, 0x491FA0}, {0, 0, 0, 0x4AC91A}};
  GamePlace length{0x472060, 0x473DA0, 0x473C00, 0x4A3DD0};
  GamePlace objectTest{0x46C6CF, 0x46DFEF, 0x46DF4F, 0x49352F};
  GamePlace objectTestZero{0x46C6EC, 0x46E00C, 0x46DF6C, 0x49354C};
  GamePlace objectTestSet{0x46C6D5, 0x46DFF5, 0x46DF55, 0x493535};
  GamePlace saveWriter{0x475664, 0x477464, 0x4772C4, 0x4A8BF4};
  GamePlace saveWriterBackEditor{0x47568A, 0, 0, 0};
  GamePlace saveWriterSlot{0x4756C4, 0x4774C5, 0x477325, 0x4A8C55};
  GamePlace saveWriterClose{0x475799, 0x4775BD, 0x47741D, 0x4A8D4D};
  GamePlace saveLoader{0x4757F0, 0x477620, 0x477480, 0x4A8E30};
  GamePlace saveLoaderBack{0x475810, 0x477640, 0x4774A0, 0x4A8E50};
  GamePlace saveLoaderSlot{0x475813, 0x477643, 0x4774A3, 0x4A8E53};
  GamePlace saveLoaderClose{0x475870, 0x4776A0, 0x477500, 0x4A8EB0};
};
constexpr Places kPlaces{};

constexpr std::uint32_t kJumpSize = 5;
constexpr std::uint32_t kRoutineJumpSize = 7;
constexpr std::uint32_t kObjectTestSize = 6;
constexpr std::uint32_t kIndirectCallSize = 6;
constexpr std::uint32_t kOpenDataResume = 13;
constexpr std::uint32_t kOpenDataFrame = 8;
constexpr std::uint32_t kOpenSavedResume = 16;
constexpr std::uint32_t kOpenSavedReleased = 12;
constexpr std::uint32_t kOpenSavedFrameV = 8;
constexpr std::uint32_t kCreateResume = 16;
constexpr std::uint32_t kCreateReleased = 20;
constexpr std::uint32_t kObjectFlagOffset = 32;
constexpr std::uint32_t kSaveWriterResume = 36;
constexpr std::uint32_t kSaveWriterFrame = 116;
constexpr std::uint32_t kSaveLoaderFrame = 92;

// Translated once at Init.
struct Translated {
  std::uint32_t openDataBack, openSavedBack, createBack, objectTestZero, objectTestSet, saveWriterBack, saveLoaderBack;
};
Translated g_At{};

std::uint32_t Address(const void* p) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(p)); }
template <typename F>
std::uint32_t EntryOf(F* function) {
  return std::uint32_t(reinterpret_cast<std::uintptr_t>(function));
}
const char* PathIn(std::uint32_t reg) { return static_cast<const char*>(GamePointer(reg)); }

}  // namespace

// Mode 1, path in ECX (EDX on the Corvel demo); the stream to ESI and EAX, then the 8-byte frame the overwritten
// code reserved.
extern "C" void HookFilesOpenData(HookContext* context) {
  const bool demo = GameVersion == GAMEVERSION_IV_DEMO_CORVEL;
  const std::uint32_t stream = Address(MapGameFile(PathIn(demo ? context->edx : context->ecx), kMapOpenData));
  context->eax = context->esi = stream;
  const std::uint32_t esp = context->GameEsp();
  context->SetFlagsOfSub(esp, kOpenDataFrame);
  context->Resume(g_At.openDataBack, esp - kOpenDataFrame);
}

// Mode 2: game IV path in EDX, the stream to EAX and ESI, 12 bytes released; game V path in ECX, the stream to EAX,
// 8 bytes reserved.
extern "C" void HookFilesOpenSaved(HookContext* context) {
  const std::uint32_t esp = context->GameEsp();
  if (IsGameV()) {
    context->eax = Address(MapGameFile(PathIn(context->ecx), kMapOpenSaved));
    context->SetFlagsOfSub(esp, kOpenSavedFrameV);
    context->Resume(g_At.openSavedBack, esp - kOpenSavedFrameV);
    return;
  }
  context->eax = context->esi = Address(MapGameFile(PathIn(context->edx), kMapOpenSaved));
  context->SetFlagsOfAdd(esp, kOpenSavedReleased);
  context->Resume(g_At.openSavedBack, esp + kOpenSavedReleased);
}

// Mode 0, path in EAX; the stream to EBP on the IV Editor, EBX elsewhere, and EAX; 20 bytes released.
extern "C" void HookFilesCreate(HookContext* context) {
  const std::uint32_t stream = Address(MapGameFile(PathIn(context->eax), kMapCreate));
  // The replaced `mov ebp / ebx, eax` left the stream in both.
  (GameVersion == GAMEVERSION_IV_EDITOR ? context->ebp : context->ebx) = context->eax = stream;
  const std::uint32_t esp = context->GameEsp();
  context->SetFlagsOfAdd(esp, kCreateReleased);
  context->Resume(g_At.createBack, esp + kCreateReleased);
}

extern "C" void HookFilesObjectTest(HookContext* context) {
  const bool zero = ReadGame<std::uint8_t>(context->eax + kObjectFlagOffset) == 0;
  context->ResumeAt(zero ? g_At.objectTestZero : g_At.objectTestSet);
}

// Creates the save file (mode 0, path in EDX); without one the game's routine returns 0.
extern "C" void HookFilesSaveWriter(HookContext* context) {
  const std::uint32_t stream = Address(MapGameFile(PathIn(context->edx), kMapCreate));
  const std::uint32_t esp = context->GameEsp();
  if (stream == 0) {
    context->eax = 0;
    context->SetFlagsOfAdd(esp, kSaveWriterFrame);
    context->ReturnFrom(esp + kSaveWriterFrame);
    return;
  }
  context->esi = stream;
  context->eax = GameVersion == GAMEVERSION_IV_EDITOR ? 0 : stream;
  context->ResumeAt(g_At.saveWriterBack);
}

// Opens the save file (mode 2, path in EDX); without one the game's routine returns 0.
extern "C" void HookFilesSaveLoader(HookContext* context) {
  const std::uint32_t stream = Address(MapGameFile(PathIn(context->edx), kMapOpenSaved));
  const std::uint32_t esp = context->GameEsp();
  if (stream == 0) {
    context->eax = 0;
    context->SetFlagsOfAdd(esp, kSaveLoaderFrame);
    context->ReturnFrom(esp + kSaveLoaderFrame);
    return;
  }
  context->eax = context->esi = stream;
  context->ResumeAt(g_At.saveLoaderBack);
}

namespace {

bool MountModFiles(const char16_t* name, bool isDirectory, void*) {
  if (!isDirectory) return true;
  const std::u16string target = std::u16string(u"/Mods/") + name + u"/CustomFiles";
  MountVirtualDirectory(u"/GameData", false, false, target.c_str());
  return true;
}

void Jump(tHackModule* module, const GamePlace& place, std::uint32_t target, std::uint32_t size) {
  new CHackJumpHack(module, place.At(size), target, size);
}
void Call(tHackModule* module, const GamePlace& place, std::uint32_t target, std::uint32_t size) {
  new CHackCallHack(module, place.At(size), target, size);
}

std::uint32_t Init(tHackModule* module) {
  const Places& p = kPlaces;
  // A CD mount of an earlier load went with its file system, or with that load's Unload.
  g_CdMount = nullptr;
  g_At.openDataBack = p.openData.At() + kOpenDataResume;
  g_At.openSavedBack = IsGameV() ? p.openSavedBackV.At() : p.openSaved.At() + kOpenSavedResume;
  g_At.createBack = p.create.At() + kCreateResume;
  g_At.objectTestZero = p.objectTestZero.At();
  g_At.objectTestSet = p.objectTestSet.At();
  g_At.saveWriterBack =
      GameVersion == GAMEVERSION_IV_EDITOR ? p.saveWriterBackEditor.At() : p.saveWriter.At() + kSaveWriterResume;
  g_At.saveLoaderBack = p.saveLoaderBack.At();
  g_CustomFilesWin32Write = EntryOf(&Win32WriteReplacement);
  g_CustomFilesWin32Read = EntryOf(&Win32ReadReplacement);

  Jump(module, p.openData, CodeAddress(HookTrampolineFilesOpenData), kJumpSize);
  Jump(module, p.openSaved, CodeAddress(HookTrampolineFilesOpenSaved), kJumpSize);
  Jump(module, p.create, CodeAddress(HookTrampolineFilesCreate), kJumpSize);
  Jump(module, p.read, EntryOf(&ReadReplacement), kRoutineJumpSize);
  Jump(module, p.seek, EntryOf(&SeekReplacement), kRoutineJumpSize);
  Jump(module, p.write, EntryOf(&WriteReplacement), kRoutineJumpSize);
  for (const GamePlace& place : p.closeCalls) Call(module, place, EntryOf(&CloseReplacement), kJumpSize);
  if (GameVersion == GAMEVERSION_IV_EDITOR) {
    Jump(module, p.closeJumpEditor, EntryOf(&CloseReplacement), kJumpSize);
  } else {
    Call(module, p.closeCallOthers, EntryOf(&CloseReplacement), kJumpSize);
  }
  if (IsGameV()) {
    for (const GamePlace& place : p.closeCallsV) Call(module, place, EntryOf(&CloseReplacement), kJumpSize);
  }
  Jump(module, p.length, EntryOf(&LengthReplacement), kJumpSize);
  Jump(module, p.objectTest, CodeAddress(HookTrampolineFilesObjectTest), kObjectTestSize);
  Jump(module, p.saveWriter, CodeAddress(HookTrampolineFilesSaveWriter), kRoutineJumpSize);
  new CHackValueHack(module, p.saveWriterSlot.At(kStackWord), Address(&g_CustomFilesWin32Write));
  Call(module, p.saveWriterClose, EntryOf(&Win32CloseReplacement), kIndirectCallSize);
  Jump(module, p.saveLoader, CodeAddress(HookTrampolineFilesSaveLoader), kRoutineJumpSize);
  new CHackValueHack(module, p.saveLoaderSlot.At(kStackWord), Address(&g_CustomFilesWin32Read));
  Call(module, p.saveLoaderClose, EntryOf(&Win32CloseReplacement), kIndirectCallSize);

  const InitialisationData& header = g_InitialisationData;
  if (header.useSavedGamesDirectory != 0)
    MountPhysicalDirectory(u"/UserData/SavedGames", true, FieldText(header.savedGamesDirectory).c_str());
  if (header.useScreenshotsDirectory != 0)
    MountPhysicalDirectory(u"/UserData/Screenshots", true, FieldText(header.screenshotsDirectory).c_str());
  if (g_FileSystem != nullptr) g_FileSystem->Enumerate(u"/Mods", MountModFiles, nullptr, false);
  return MODULEREPLY_HANDLED;
}

// Whether the file system still holds the mount point (deleting the file system deletes its mount points).
bool IsMounted(const CFileSystem::tMountPoint* mount) {
  if (g_FileSystem == nullptr) return false;
  for (const CFileSystem::tMountPoint* m = g_FileSystem->GetNewestMountPoint(); m != nullptr; m = m->GetNext())
    if (m == mount) return true;
  return false;
}

void Unload() {
  if (g_CdMount != nullptr && IsMounted(g_CdMount)) delete g_CdMount;
  g_CdMount = nullptr;
}

}  // namespace

std::uint32_t CustomFilesModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return Init(static_cast<ModuleInitData*>(data)->module);
    case MODULEEVENT_UNLOAD:
      Unload();
      return MODULEREPLY_HANDLED;
    default:
      return 0;
  }
}
