// The core module's handler: the header and build checks, the game-side file system, hooks and its own events.
#include <core/CoreModule.h>

#include <core/CrashDump.h>
#include <core/GameStartup.h>
#include <core/SampleConversion.h>

#include <base/AudioSource.h>
#include <base/FileSystem.h>
#include <base/PNGImageData.h>
#include <base/Stream.h>
#include <base/TaskContext.h>
#include <hack/GameHooks.h>
#include <hack/GameRoutines.h>
#include <hack/GameVersion.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>
#include <launcher/InitialisationData.h>
#include <platform/files.h>
#include <platform/process.h>
#include <platform/text.h>
#include <platform/ui.h>

#include <cstring>
#include <vector>

#include "SampleBuffers.h"

tHackModule* g_pCoreModule = nullptr;

namespace {

bool HeaderIsOurs(const InitialisationData& header) {
  return std::memcmp(header.magic, kInitMagic, sizeof kInitMagic) == 0 && header.major == kInitMajor &&
         header.minor == kInitMinor && header.build == kInitBuild && header.revision == kInitRevision;
}

// An empty host directory names the root of the host's file system: mounted writable, whatever a server sends
// to that virtual path would land there. Such a mount is refused, and said so; the path stays unmounted.
void MountWritableHostDirectory(const char16_t* virtualPath, const std::u16string& hostDirectory) {
  if (hostDirectory.empty()) {
    LogConsole("BRINDLECORE: No host directory was given for \"%s\"; it is not mounted\n",
               text::Utf16ToUtf8(virtualPath).c_str());
    return;
  }
  MountPhysicalDirectory(virtualPath, true, hostDirectory.c_str());
}

// The six fixed mounts, in the order later mounts rely on (a virtual mount names one made before it).
void MountFixedDirectories(const InitialisationData& header) {
  char16_t current[kInitPathLength + 1] = {};
  GetCurrentDirectoryW(DWORD(kInitPathLength), reinterpret_cast<LPWSTR>(current));
  constexpr bool kWritable = true;
  constexpr bool kExclusive = true;
  MountWritableHostDirectory(u"/GameDir", current);
  MountWritableHostDirectory(u"/UserData/Caches", FieldText(header.cachesDirectory));
  MountVirtualDirectory(u"/GameData", kExclusive, kWritable, u"/GameDir");
  MountVirtualDirectory(u"/UserData/SavedGames", kExclusive, kWritable, u"/GameData");
  MountVirtualDirectory(u"/UserData/Screenshots", kExclusive, kWritable, u"/GameData");
  MountWritableHostDirectory(u"/UserData/Debug", FieldText(header.debugDirectory));
}

std::uint32_t Init(ModuleInitData* data) {
  if (!HeaderIsOurs(g_InitialisationData)) return MODULEREPLY_NOTCOMPATIBLE;
  DetectGameVersion();
  if (!SelectGameBuild()) return MODULEREPLY_SKIP;
  g_BeforeMessageCallback = ShowCursorForMessage;
  g_AfterMessageCallback = HideCursorAfterMessage;
  std::memset(g_ModuleEventBlocks, 0, sizeof g_ModuleEventBlocks);
  delete g_FileSystem;  // a file system left by an earlier start in this process
  new CFileSystem(&g_AppContext);  // becomes g_FileSystem
  MountFixedDirectories(g_InitialisationData);
  SetUnhandledExceptionFilter(CrashFilter);
  g_pCoreModule = data->module;
  g_GameStartRoutine = GameStartRoutine;
  g_UnloadCoreModule = UnloadCoreModule;
  InstallCoreHooks(data->module);
  return MODULEREPLY_HANDLED;
}

std::uint32_t Unload() {
  LogConsole("BRINDLECORE: Unloading...\n");
  UnloadAllHackModules();
  delete g_FileSystem;  // its destructor destroys every mount point
  DeactivateStartContext();
  return MODULEREPLY_HANDLED;
}

std::uint32_t Flipeffect(const FlipeffectEventData* data) {
  if (data->number < Game::FlipeffectCount()) return MODULEREPLY_HANDLED;
  LogConsole("BRINDLECORE: An attempt was made to trigger an invalid flipeffect (%d)\n", int(data->number));
  return MODULEREPLY_SKIP;
}

// Any source a module decodes becomes a static buffer in the game's own format in the sample table entry.
std::uint32_t LoadSample(LoadSampleEventData* data) {
  IDirectSound8* device = samples::GameDirectSound();
  if (device == nullptr) return MODULEREPLY_HANDLED;
  auto* stream = new CByteArrayStream(const_cast<void*>(data->data), data->dataSize);
  CAudioSource* source = OpenAudioSourceFromStream(stream);
  stream->Release();  // a source keeps its own reference
  if (source == nullptr) return MODULEREPLY_HANDLED;
  const auto* format = static_cast<const WAVEFORMATEX*>(Game::GetWaveFormat());
  std::vector<std::int16_t> samples;
  const bool read = ReadSourceInGameFormat(source, format->nChannels, DSBSIZE_MAX, &samples);
  source->Release();
  if (!read) return MODULEREPLY_HANDLED;
  IDirectSoundBuffer* buffer =
      samples::CreateSampleBuffer(device, samples.data(), std::uint32_t(samples.size() * sizeof(std::int16_t)));
  if (buffer == nullptr) return MODULEREPLY_HANDLED;
  samples::StoreSample(data->index, buffer);
  data->result = 1;
  return MODULEREPLY_VALUE;
}

// Decodes PNG only; another decoder may still try a stream that is not PNG, so it is put back where it was.
std::uint32_t LoadImage(LoadImageEventData* data) {
  std::uint64_t position = 0;
  const bool positionKnown = data->stream->GetPosition(&position);
  tTaskContext task;
  auto* image = new CPNGImageData;
  if (image->Load(&task, data->stream)) {
    data->result = image;
    return MODULEREPLY_VALUE;
  }
  image->Release();
  if (positionKnown) data->stream->Seek(std::int64_t(position), CStream::kSeekBegin);
  return MODULEREPLY_HANDLED;
}

}  // namespace

void ShowCursorForMessage(tAppContext*) { ShowCursor(TRUE); }
void HideCursorAfterMessage(tAppContext*) { ShowCursor(FALSE); }

std::u16string CoreModuleName(std::u16string_view path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  name = name.substr(0, kInitNameLength);
  const std::size_t dot = name.find_last_of(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  return std::u16string(name);
}

std::uint32_t CoreModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return Init(static_cast<ModuleInitData*>(data));
    case MODULEEVENT_UNLOAD:
      return Unload();
    case MODULEEVENT_WINDOWCHANGED:
      g_AppContext.SetOwnerWindow(static_cast<WindowChangedEventData*>(data)->window);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_LOADSAMPLE:
      return LoadSample(static_cast<LoadSampleEventData*>(data));
    case MODULEEVENT_FLIPEFFECT:
      return Flipeffect(static_cast<FlipeffectEventData*>(data));
    case MODULEEVENT_UNHANDLEDEXCEPTION:
      return WriteCrashDump(static_cast<UnhandledExceptionEventData*>(data));
    case MODULEEVENT_LOADIMAGE:
      return LoadImage(static_cast<LoadImageEventData*>(data));
    default:
      return 0;
  }
}
