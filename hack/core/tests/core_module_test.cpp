// The core's start on the game double: header and build refusals, the six mounts, module loading, the start
// routine's events, and every way out leaving the game image as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <base/FileSystem.h>
#include <base/ImageData.h>
#include <base/LoadedImageData.h>
#include <base/OggAudioSource.h>
#include <core/CoreModule.h>
#include <core/GameStartup.h>
#include <hack/GameHooks.h>
#include <hack/GameRoutines.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleOptions.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/Picture.h>
#include <platform/dsound.h>
#include <platform/files.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/testing/DSoundClock.h>

#include "HackTestSupport.h"
#include "OggFixture.h"

namespace {

using gamedouble::Build;
using gamedouble::CGameDouble;
using gamedouble::Routine;

// A built-in name with a scripted handler behind it, for the modules the start routine loads.
constexpr const char16_t* kScripted = u"CustomFiles";
std::function<std::uint32_t(std::uint32_t, ModuleEventData*)> g_script;
std::uint32_t ScriptedHandler(std::uint32_t event, ModuleEventData* data) { return g_script(event, data); }

// A sound-format module of the test's own: an Ogg Vorbis source for the stream of OpenAudioSource.
std::uint32_t OggSourceHandler(std::uint32_t event, ModuleEventData* data) {
  if (event == MODULEEVENT_INIT) return MODULEREPLY_HANDLED;
  if (event != MODULEEVENT_OPENAUDIOSOURCE) return 0;
  auto* block = static_cast<OpenAudioSourceEventData*>(data);
  auto* source = new COggAudioSource(block->stream);
  tTaskContext task;
  if (!source->Open(&task)) {
    source->Release();
    return MODULEREPLY_HANDLED;
  }
  block->result = source;
  return MODULEREPLY_VALUE;
}

// The modules this test's start routine can load by name.
const tBuiltInModule kTestModules[] = {{kScripted, ScriptedHandler}, {u"OggSource", OggSourceHandler}};

// The library's handle in this process, as DllMain would have stored it.
const HMODULE kCoreHandle = reinterpret_cast<HMODULE>(0x7000);

// A library every host has, standing for a module's file.
constexpr const char16_t* kAnyLibrary = u"libm.so.6";

std::vector<std::u16string> MountPaths() {
  std::vector<std::u16string> paths;
  if (g_FileSystem == nullptr) return paths;
  for (auto* m = g_FileSystem->GetOldestMountPoint(); m != nullptr; m = m->GetPrevious()) {
    paths.emplace_back(m->GetMountPath());
  }
  return paths;
}

ModuleDescriptor* Descriptor(ModuleKind kind, std::u16string_view name, std::u16string_view path) {
  auto* d = new ModuleDescriptor{};
  d->kind = kind;
  SetFieldText(d->name, name);
  SetFieldText(d->path, path);
  return d;
}

class CoreStart : public hacktest::HackRegistryTest {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    header = MakeInitialisationHeader();
    // Directories to mount; an empty one is refused (a test of its own).
    SetFieldText(header.cachesDirectory, std::filesystem::temp_directory_path().u16string());
    SetFieldText(header.debugDirectory, std::filesystem::temp_directory_path().u16string());
    DllMain(kCoreHandle, kDllProcessAttach, nullptr);
    SetBuiltInModules(kTestModules, std::size(kTestModules));
    g_script = [this](std::uint32_t event, ModuleEventData* data) { return Record(event, data); };
  }
  void TearDown() override {
    SetBuiltInModules(nullptr, 0);
    hack::testing::ResetHackRegistry();
    delete g_FileSystem;
    game.reset();
    FreeInitDataLists(&descriptors, &options);
    ResetEvent(g_StartEvent);
    SetUnhandledExceptionFilter(nullptr);
    g_pCoreModule = nullptr;
    HackHooksBack();
    HackRegistryTest::TearDown();
  }
  static void HackHooksBack() {
    g_GameStartRoutine = [] { ++GetHookStandInCalls().gameStart; };
    g_UnloadCoreModule = [] { ++GetHookStandInCalls().unloadCore; };
  }

  // What the scripted module saw, one line per event; its replies come from `replies`.
  std::uint32_t Record(std::uint32_t event, ModuleEventData* data) {
    std::string line = std::to_string(event);
    if (event == MODULEEVENT_WINDOWCHANGED) {
      line += " window " + std::to_string(std::uintptr_t(static_cast<WindowChangedEventData*>(data)->window));
      line += WaitForSingleObject(g_StartEvent, 0) == WAIT_OBJECT_0 ? " started" : "";
    }
    if (event == MODULEEVENT_GAMESTART) {
      line += WaitForSingleObject(g_StartEvent, 0) == WAIT_OBJECT_0 ? " started" : "";
      static_cast<GameStartEventData*>(data)->exitCode = gameStartExitCode;
    }
    if (event == MODULEEVENT_INIT) {
      initAt = std::chrono::steady_clock::now();
      line += FindModuleOptionEntry(FindModuleOption(kScripted), u"mode") != nullptr ? " option" : "";
      mountsAtInit = MountPaths();
    }
    seen.push_back(line);
    return event < std::size(replies) ? replies[event] : 0;
  }

  std::uint32_t Start(Build build) {
    game = std::make_unique<CGameDouble>(build);
    if (!game->IsReady()) return 0;
    // Run writes its calling thunk into the code section: one plain run first, so the snapshot holds it.
    game->Run(Routine::Main, {0, 0, 0, 0});
    pristine = hacktest::ReadBytes(game->At(0x401000), game->CodeEnd() - game->At(0x401000));
    auto block = SerialiseInitialisationData(header, 1, descriptors, options);
    return StartCoreModule(block.data(), block.size());
  }
  bool ImagePristine() {
    return hacktest::ReadBytes(game->At(0x401000), game->CodeEnd() - game->At(0x401000)) == pristine;
  }
  tHackModule* Scripted() {
    tHackModule* records[16];
    const std::uint32_t n = std::min<std::uint32_t>(GetHackModules(records, 16), 16);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (std::u16string_view(records[i]->m_Name) == kScripted) return records[i];
    }
    return nullptr;
  }

  InitialisationData header{};
  tList descriptors, options;
  std::unique_ptr<platform::testing::DSoundClock> clock;  // outlives the game's sound
  std::unique_ptr<CGameDouble> game;
  hacktest::Bytes pristine;
  std::vector<std::string> seen;
  std::vector<std::u16string> mountsAtInit;
  std::uint32_t replies[MODULEEVENT_COUNT] = {1, 1, 1, 0, 0, 1};
  std::uint32_t gameStartExitCode = 255;
  std::chrono::steady_clock::time_point initAt;
};

struct Refusal {
  const char* what;
  std::function<void(InitialisationData*)> change;
  std::uint32_t marker, reply;  // marker 0: the build's own
};

TEST_F(CoreStart, InitRefusesOtherHeadersAndUnknownBuildsWithoutTouchingTheGame) {
  const Refusal cases[] = {
      {"magic", [](InitialisationData* h) { h->magic[3] = 'X'; }, 0, MODULEREPLY_NOTCOMPATIBLE},
      {"major", [](InitialisationData* h) { h->major = 2; }, 0, MODULEREPLY_NOTCOMPATIBLE},
      {"minor", [](InitialisationData* h) { h->minor = 1; }, 0, MODULEREPLY_NOTCOMPATIBLE},
      {"build", [](InitialisationData* h) { h->build = 11; }, 0, MODULEREPLY_NOTCOMPATIBLE},
      {"revision", [](InitialisationData* h) { h->revision = 1; }, 0, MODULEREPLY_NOTCOMPATIBLE},
      {"unknown game build", [](InitialisationData*) {}, 0x12345678, MODULEREPLY_SKIP},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.what);
    header = MakeInitialisationHeader();
    c.change(&header);
    game = std::make_unique<CGameDouble>(Build::IVReleasePatched);
    ASSERT_TRUE(game->IsReady());
    if (c.marker != 0) game->Image().WriteMarkerValue(c.marker);
    pristine = hacktest::ReadBytes(game->At(0x401000), game->CodeEnd() - game->At(0x401000));
    auto block = SerialiseInitialisationData(header, 1, descriptors, options);
    const std::uint32_t reply = StartCoreModule(block.data(), block.size());
    EXPECT_EQ((std::tuple{reply, CoreRefused(reply), ImagePristine(), g_FileSystem}),
              (std::tuple{c.reply, true, true, nullptr}));
    hack::testing::ResetHackRegistry();
    game.reset();
  }
}

class CoreStartOnEveryBuild : public CoreStart, public ::testing::WithParamInterface<Build> {};

TEST_P(CoreStartOnEveryBuild, StartsModulesRaisesStartEventsAndLeavesTheImageAsItWas) {
  const auto mods = std::filesystem::temp_directory_path();
  descriptors.Append(Descriptor(kModuleKindModDirectory, u"Levels", mods.u16string()));
  descriptors.Append(Descriptor(kModuleKindModDirectory, u"..", mods.u16string()));
  descriptors.Append(Descriptor(kModuleKindLibrary, u"NoSuchModule", kAnyLibrary));
  descriptors.Append(Descriptor(kModuleKindLibrary, kScripted, kAnyLibrary));
  auto* option = new ModuleOption{};
  SetFieldText(option->moduleName, kScripted);
  SetFieldText(option->optionName, u"mode");
  options.Append(option);

  ASSERT_EQ(Start(GetParam()), MODULEREPLY_HANDLED);
  EXPECT_FALSE(ImagePristine());  // hooks in
  EXPECT_EQ(g_GameStartRoutine, &GameStartRoutine);
  EXPECT_EQ(MountPaths(), (std::vector<std::u16string>{u"/GameDir", u"/UserData/Caches", u"/GameData",
                                                       u"/UserData/SavedGames", u"/UserData/Screenshots",
                                                       u"/UserData/Debug"}));
  EXPECT_EQ(SetUnhandledExceptionFilter(CrashFilter), &CrashFilter);
  EXPECT_EQ(g_BeforeMessageCallback, &ShowCursorForMessage);

  game->SetMainBehaviour(0x777, 0);
  game->Run(Routine::Main, {0, 0, 0, 0});
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 3),
            (std::vector<std::string>{"0 option", "2 window 0", "5 started"}));
  // The six and "/Mods/Levels", never "/Mods/..".
  EXPECT_EQ((std::tuple{seen.back(), mountsAtInit.size(), mountsAtInit.back(), ImagePristine(), g_FileSystem,
                        g_pCoreModule->m_hModule}),
            (std::tuple{"1", 7u, u"/Mods/Levels", true, nullptr, nullptr}));
}

INSTANTIATE_TEST_SUITE_P(Builds, CoreStartOnEveryBuild, ::testing::ValuesIn(gamedouble::kBuilds),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });

// A module whose library does not load is logged by its path and skipped; the next one still loads and starts.
TEST_F(CoreStart, AModuleThatCannotBeLoadedIsLoggedAndTheNextStillLoads) {
  descriptors.Append(Descriptor(kModuleKindLibrary, u"BugFixes", u"/no/such/directory/module.so"));
  descriptors.Append(Descriptor(kModuleKindLibrary, kScripted, kAnyLibrary));
  ASSERT_EQ(Start(Build::IVReleasePatched), MODULEREPLY_HANDLED);
  game->SetMainBehaviour(0x777, 0);
  ::testing::internal::CaptureStdout();
  game->Run(Routine::Main, {0, 0, 0, 0});
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::size_t at = out.find("BRINDLECORE: Hack module \"/no/such/directory/module.so\" could not be loaded\n");
  EXPECT_NE(at, std::string::npos) << out;
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 3),
            (std::vector<std::string>{"0", "2 window 0", "5 started"}));
  tHackModule* records[4];
  ASSERT_EQ(GetHackModules(records, 4), 3u);
  EXPECT_EQ((std::tuple{std::u16string(records[1]->m_Name), records[1]->m_hModule}),
            (std::tuple{std::u16string(u"BugFixes"), nullptr}));
}

// The start routine sleeps for the header's delay before it loads any module.
TEST_F(CoreStart, TheStartDelayComesBeforeTheModulesLoad) {
  for (const std::uint32_t delay : {60u, 150u}) {
    SCOPED_TRACE(delay);
    header.startDelay = delay;
    descriptors.Append(Descriptor(kModuleKindLibrary, kScripted, kAnyLibrary));
    ASSERT_EQ(Start(Build::VReleasePatched), MODULEREPLY_HANDLED);
    game->SetMainBehaviour(0x777, 0);
    const auto before = std::chrono::steady_clock::now();
    game->Run(Routine::Main, {0, 0, 0, 0});
    EXPECT_GE(initAt - before, std::chrono::milliseconds(delay));
    hack::testing::ResetHackRegistry();
    hack::testing::ClearModuleOptions();
    FreeInitDataLists(&descriptors, &options);
    ResetEvent(g_StartEvent);
    game.reset();
  }
}

// Messages are owned by the header's window until WindowChanged names another: the start routine's (no window),
// then the game's.
TEST_F(CoreStart, TheOwnerWindowComesFromTheHeaderUntilWindowChanged) {
  constexpr std::uint32_t kLaunchersWindow = 0x4242, kGameWindow = 0x10010;
  header.ownerWindow = kLaunchersWindow;
  ASSERT_EQ(Start(Build::IVEditor), MODULEREPLY_HANDLED);
  EXPECT_EQ(g_AppContext.GetOwnerWindow(), reinterpret_cast<HWND>(std::uintptr_t(kLaunchersWindow)));
  for (const std::uint32_t window : {kGameWindow, 0u, kLaunchersWindow + 1}) {
    WindowChangedEventData changed{{sizeof(WindowChangedEventData)}, reinterpret_cast<HWND>(std::uintptr_t(window))};
    EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &changed) & MODULEREPLY_HANDLED, MODULEREPLY_HANDLED);
    EXPECT_EQ(g_AppContext.GetOwnerWindow(), reinterpret_cast<HWND>(std::uintptr_t(window)));
  }
  g_AppContext.SetOwnerWindow(nullptr);
}

// Ways the start routine ends the game's main thread or the process; the thread's exit code tells which.
struct Ending {
  const char* what;
  std::uint32_t initReply, gameStartReply, gameStartExitCode;
  bool disableGame;
  DWORD exitCode;  // the main thread's
};

void EndThreadInstead(UINT code) { ExitThread(code); }

TEST_F(CoreStart, EveryWayOutUnloadsEverythingAndRestoresTheImage) {
  const Ending cases[] = {
      {"module refuses with 7", MODULEREPLY_SKIP, 1, 0, false, kStartRefused},
      {"game disabled", 1, 1, 0, true, kStartRefused},
      {"GameStart 11 with its code", 1, MODULEREPLY_VALUE, 42, false, 42},
      {"GameStart 7", 1, MODULEREPLY_SKIP, 42, false, 0},
      {"game runs and returns", 1, 1, 0, false, gamedouble::kMainExitCode},
  };
  hacktest::ShowMessagesOnStderr();
  platform::ExitHook previous = platform::SetExitHook(EndThreadInstead);
  for (const Ending& c : cases) {
    SCOPED_TRACE(c.what);
    seen.clear();
    replies[MODULEEVENT_INIT] = c.initReply;
    replies[MODULEEVENT_GAMESTART] = c.gameStartReply;
    gameStartExitCode = c.gameStartExitCode;
    header.disableGame = c.disableGame;
    descriptors.Append(Descriptor(kModuleKindLibrary, kScripted, kAnyLibrary));
    ASSERT_EQ(Start(Build::VReleasePatched), MODULEREPLY_HANDLED);
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID g) -> DWORD { return static_cast<CGameDouble*>(g)->Run(Routine::Main, {0, 0, 0, 0}).after.eax; },
        game.get(), 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    // Unload last, when it was loaded.
    EXPECT_EQ((std::tuple{code, seen.back(), ImagePristine(), g_FileSystem, g_pCoreModule->m_hModule}),
              (std::tuple{c.exitCode, c.initReply == MODULEREPLY_HANDLED ? "1" : "0", true, nullptr, nullptr}));
    hack::testing::ResetHackRegistry();
    hack::testing::ClearModuleOptions();
    FreeInitDataLists(&descriptors, &options);
    ResetEvent(g_StartEvent);
    game.reset();
  }
  platform::SetExitHook(previous);
}

TEST_F(CoreStart, FlipeffectsPastTheTableAreRefused) {
  const std::tuple<Build, std::uint32_t, std::uint32_t> cases[] = {
      {Build::IVEditor, 46, 1}, {Build::IVEditor, 47, 7}, {Build::IVReleasePatched, 47, 7},
      {Build::VReleasePatched, 58, 1}, {Build::VReleasePatched, 59, 7}};
  for (const auto& [build, number, reply] : cases) {
    SCOPED_TRACE(number);
    ASSERT_EQ(Start(build), MODULEREPLY_HANDLED);
    FlipeffectEventData flip{{sizeof(FlipeffectEventData)}, number, 0};
    EXPECT_EQ(CoreModuleHandler(MODULEEVENT_FLIPEFFECT, &flip), reply);
    UnloadCoreModule();
    hack::testing::ResetHackRegistry();
    game.reset();
  }
}

TEST_F(CoreStart, TheSixMountsResolveToTheirHostDirectories) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("brindle-mounts-" + std::to_string(::getpid()));
  const fs::path gameDir = root / "game", caches = root / "caches", debug = root / "debug";
  for (const fs::path& dir : {gameDir, caches, debug}) fs::create_directories(dir);
  SetFieldText(header.cachesDirectory, caches.u16string());
  SetFieldText(header.debugDirectory, debug.u16string());
  const fs::path previous = fs::current_path();
  fs::current_path(gameDir);
  const std::uint32_t reply = Start(Build::IVReleasePatched);
  fs::current_path(previous);
  ASSERT_EQ(reply, MODULEREPLY_HANDLED);
  const std::pair<std::u16string, fs::path> cases[] = {
      {u"/GameDir/level.dat", gameDir},           {u"/GameData/level.dat", gameDir},
      {u"/UserData/SavedGames/level.dat", gameDir}, {u"/UserData/Screenshots/level.dat", gameDir},
      {u"/UserData/Caches/level.dat", caches},      {u"/UserData/Debug/level.dat", debug},
  };
  for (const auto& [path, host] : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(path));
    std::ofstream(host / "level.dat") << "x";
    char16_t translated[CFileSystem::kMaxPath] = {};
    bool exists = false;
    ASSERT_TRUE(g_FileSystem->TranslatePath(path.c_str(), true, false, &exists, translated, CFileSystem::kMaxPath));
    EXPECT_TRUE(exists && fs::equivalent(platform::ToHostPath(translated), host / "level.dat"));
    fs::remove(host / "level.dat");
  }
  fs::remove_all(root);
}

// A header that names no caches or debug directory would mount the host's root writable under that path: each
// empty one is refused with its line and left unmounted, so nothing below it reaches the host; the other stays.
TEST_F(CoreStart, AnEmptyHostDirectoryIsNeverMounted) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("brindle-empty-mounts-" + std::to_string(::getpid()));
  fs::create_directories(root / "etc");
  std::ofstream(root / "etc/passwd") << "x";
  const struct {
    bool caches, debug;  // given
  } rows[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  const auto refusal = [](const char* path) {
    return "BRINDLECORE: No host directory was given for \"" + std::string(path) + "\"; it is not mounted\n";
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.caches) + std::to_string(row.debug));
    SetFieldText(header.cachesDirectory, row.caches ? root.u16string() : u"");
    SetFieldText(header.debugDirectory, row.debug ? root.u16string() : u"");
    ::testing::internal::CaptureStdout();
    const std::uint32_t reply = Start(Build::VReleasePatched);
    const std::string said = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(reply, MODULEREPLY_HANDLED);
    const std::pair<const char*, bool> paths[] = {{"/UserData/Caches", row.caches}, {"/UserData/Debug", row.debug}};
    for (const auto& [path, given] : paths) {
      SCOPED_TRACE(path);
      EXPECT_EQ(said.find(refusal(path)) == std::string::npos, given) << said;
      const std::u16string wide = text::Utf8ToUtf16(std::string(path) + "/etc/passwd");
      char16_t translated[CFileSystem::kMaxPath] = {};
      bool exists = false;
      const bool mounted =
          g_FileSystem->TranslatePath(wide.c_str(), true, false, &exists, translated, CFileSystem::kMaxPath);
      EXPECT_EQ(mounted, given);
      if (mounted) {
        EXPECT_EQ(fs::path(platform::ToHostPath(translated)), root / "etc/passwd");
      }
      const std::vector<std::u16string> mounts = MountPaths();
      EXPECT_EQ(std::count(mounts.begin(), mounts.end(), text::Utf8ToUtf16(path)), given ? 1 : 0);
    }
    UnloadCoreModule();
    hack::testing::ResetHackRegistry();
    game.reset();
  }
  fs::remove_all(root);
}

// The frames as vorbisfile decodes them, mixed to one channel as the game's mono format asks.
std::vector<float> DecodeToMono(const std::vector<std::uint8_t>& ogg) {
  std::pair<const std::vector<std::uint8_t>*, std::size_t> source{&ogg, 0};  // the bytes and how far read
  ov_callbacks callbacks{};
  callbacks.read_func = [](void* out, std::size_t size, std::size_t count, void* raw) -> std::size_t {
    auto& [bytes, at] = *static_cast<std::pair<const std::vector<std::uint8_t>*, std::size_t>*>(raw);
    const std::size_t n = std::min(size * count, bytes->size() - at);
    std::memcpy(out, bytes->data() + at, n);
    at += n;
    return size == 0 ? 0 : n / size;
  };
  OggVorbis_File file;
  std::vector<float> mono;
  if (ov_open_callbacks(&source, &file, nullptr, 0, callbacks) != 0) return mono;
  float** channels = nullptr;
  int section = 0;
  constexpr int kChunk = 1024;
  for (long n; (n = ov_read_float(&file, &channels, kChunk, &section)) > 0;) {
    for (long i = 0; i < n; ++i) mono.push_back((channels[0][i] + channels[1][i]) / 2);
  }
  ov_clear(&file);
  return mono;
}

TEST_F(CoreStart, AFloatOggSampleBecomesTheGamesSixteenBitSamplesInItsTableEntry) {
  constexpr std::uint32_t kClockRate = 44100;
  clock = std::make_unique<platform::testing::DSoundClock>(kClockRate);
  ASSERT_EQ(Start(Build::IVReleasePatched), MODULEREPLY_HANDLED);
  ASSERT_TRUE(game->StartSound());
  ASSERT_EQ(RegisterBuiltInModule(CreateHackModule(u"module.dll", u"OggSource"), HMODULE(0x2000)), MODULEREPLY_HANDLED);
  constexpr long kFrames = 3000;
  const std::vector<std::uint8_t> ogg = oggfixture::Encode(2, 22050, kFrames);
  ASSERT_LE(ogg.size(), gamedouble::CGameDouble::kSampleReadBufferBytes);
  std::memcpy(game->SampleReadBuffer(), ogg.data(), ogg.size());
  struct Entry {
    std::uint32_t buffer, rate, third;
  };
  constexpr std::uint32_t kIndex = 5, kUntouched = 0xDEADBEEF;
  auto* entry = reinterpret_cast<Entry*>(Game::GetSampleTable() + kIndex * Game::kSampleEntrySize);
  *entry = {kUntouched, kUntouched, kUntouched};

  EXPECT_EQ(game->Call(Routine::LoadSampleCaller, {std::uint32_t(std::uintptr_t(game->SampleReadBuffer())),
                                                   std::uint32_t(ogg.size()), 0, kIndex}),
            1u);
  // The game's own loader never ran.
  EXPECT_EQ((std::tuple{game->CallsOf(Routine::SampleLoader).size(), entry->rate, entry->third}),
            (std::tuple{0u, 22050u, kUntouched}));
  auto* buffer = reinterpret_cast<IDirectSoundBuffer*>(std::uintptr_t(entry->buffer));
  ASSERT_NE(buffer, nullptr);
  void* bytes = nullptr;
  DWORD size = 0;
  ASSERT_EQ(buffer->Lock(0, 0, &bytes, &size, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  const std::vector<std::int16_t> samples(static_cast<std::int16_t*>(bytes),
                                          static_cast<std::int16_t*>(bytes) + size / sizeof(std::int16_t));
  buffer->Unlock(bytes, size, nullptr, 0);
  buffer->Release();
  const std::vector<float> expected = DecodeToMono(ogg);
  ASSERT_TRUE(samples.size() == std::size_t(kFrames) && expected.size() == samples.size());
  int off = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    off += std::abs(samples[i] - int(std::lround(expected[i] * 32767))) > 1;
  }
  EXPECT_EQ(off, 0);
}

TEST(CoreModule, NameIsTheFileNameCutAtItsLastDot) {
  const std::pair<std::u16string_view, std::u16string_view> cases[] = {
      {u"C:\\Games\\Brindlecore.dll", u"Brindlecore"}, {u"/opt/b/Brindlecore.so", u"Brindlecore"},
      {u"a.b.c", u"a.b"}, {u"noext", u"noext"}, {u"dir.d/plain", u"plain"}, {u"", u""},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(CoreModuleName(path), name);
  EXPECT_EQ(CoreModuleName(std::u16string(70, u'x') + u".dll"), std::u16string(64, u'x'));
}

// A PNG image, whole, is handed out decoded with one reference for the caller (reply 11); cut short it is not, and
// the stream goes back to where it stood.
TEST(CoreModule, APngImageIsHandedOutWithOneReference) {
  gamedouble::CPicture picture(3, 2);
  const std::uint32_t pixels[] = {0xFF102030, 0x80FFFFFF, 0x00000000, 0xFFFF0000, 0xFF00FF00, 0x7F0000FF};
  picture.Pixels().assign(std::begin(pixels), std::end(pixels));
  const std::string path =
      (std::filesystem::temp_directory_path() / ("brindle-core-image-" + std::to_string(::getpid()) + ".png")).string();
  ASSERT_TRUE(gamedouble::SavePng(picture, path));
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  ASSERT_GT(png.size(), 8u);
  struct Row {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::uint32_t at;  // where the stream stands when asked
    std::uint32_t reply;
  };
  std::vector<std::uint8_t> behindJunk(5 + png.size(), 0xAB);
  std::copy(png.begin(), png.end(), behindJunk.begin() + 5);
  const Row rows[] = {
      {"whole", png, 0, MODULEREPLY_VALUE},
      {"behind five bytes", behindJunk, 5, MODULEREPLY_VALUE},
      {"cut in half", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2), 0, MODULEREPLY_HANDLED},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::uint8_t> bytes = row.bytes;
    auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
    ASSERT_TRUE(stream->Seek(row.at, CStream::kSeekBegin));
    LoadImageEventData load{{sizeof(LoadImageEventData)}, nullptr, stream};
    EXPECT_EQ(CoreModuleHandler(MODULEEVENT_LOADIMAGE, &load), row.reply);
    if (row.reply == MODULEREPLY_VALUE) {
      ASSERT_NE(load.result, nullptr);
      EXPECT_EQ((std::tuple{load.result->GetWidth(), load.result->GetHeight(), load.result->GetRefCount()}),
                (std::tuple{3u, 2u, 1u}));
      // Loaded, the rows come when the caller decodes them.
      auto* loaded = dynamic_cast<CLoadedImageData*>(load.result);
      tTaskContext task;
      ASSERT_TRUE(loaded != nullptr && loaded->Decode(&task));
      for (std::uint32_t i = 0; i < std::size(pixels); ++i)
        EXPECT_EQ(load.result->GetPixel(i % 3, i / 3), pixels[i]) << i;
      EXPECT_EQ(load.result->Release(), 0u);
    } else {
      std::uint64_t position = 0;
      EXPECT_EQ((std::tuple{load.result, stream->GetPosition(&position), position}),
                (std::tuple{nullptr, true, std::uint64_t(row.at)}));
    }
    stream->Release();
  }
}

TEST(CoreModule, ANonPngImageLeavesTheStreamWhereItWas) {
  std::uint8_t bytes[] = "not a PNG image at all";
  auto* stream = new CByteArrayStream(bytes, sizeof bytes);
  ASSERT_TRUE(stream->Seek(4, CStream::kSeekBegin));
  LoadImageEventData load{{sizeof(LoadImageEventData)}, nullptr, stream};
  std::uint64_t position = 0;
  EXPECT_EQ((std::tuple{CoreModuleHandler(MODULEEVENT_LOADIMAGE, &load), load.result, stream->GetPosition(&position)}),
            (std::tuple{std::uint32_t(MODULEREPLY_HANDLED), nullptr, true}));
  EXPECT_EQ(position, 4u);
  stream->Release();
}

}  // namespace
