// hostrun: runs a script on the script host inside the game double, as a game with the SquirrelSupport module
// would: the double of one build is mapped, the core (with every hook, and caches and debug folders of the run's
// own), OggVorbisSupport and SquirrelSupport are registered, WindowChanged comes without and then with a window,
// the file runs in a script environment, and the game's frame routine runs N times (Process, then Render2D, then
// the game's drawing). print() goes to standard output, errors to standard error; the last frame the double drew
// is written as a PNG when asked.
//
//   hostrun [--build editor|release|demo|v] [--frames N] [--png file.png] script.nut
//
// Exit code: 0 when the script compiled and ran, 1 when it did not, 2 for a bad command line or a double that
// could not be mapped.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <core/CoreModule.h>
#include <core/GameStartup.h>
#include <features/FeatureModules.h>
#include <hack/GameVersion.h>
#include <hack/ModuleEventData.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>
#include <launcher/InitialisationData.h>
#include <platform/text.h>

#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::uint32_t kDefaultFrames = 1;
// The library handle DllMain would have been given, and the window the game would have made.
const HMODULE kLibraryHandle = reinterpret_cast<HMODULE>(0x7000);
const HWND kGameWindow = reinterpret_cast<HWND>(0x777);
constexpr std::uint32_t kMainThreadId = 1;

struct tOptions {
  gamedouble::Build build = gamedouble::Build::IVReleasePatched;
  std::uint32_t frames = kDefaultFrames;
  std::string png;
  std::string script;
};

int Usage() {
  std::fputs("usage: hostrun [--build editor|release|demo|v] [--frames N] [--png file.png] script.nut\n", stderr);
  return kExitUsage;
}

bool ParseBuild(const std::string& name, gamedouble::Build* build) {
  static const struct {
    const char* name;
    gamedouble::Build build;
  } kBuildNames[] = {{"editor", gamedouble::Build::IVEditor},
                     {"release", gamedouble::Build::IVReleasePatched},
                     {"demo", gamedouble::Build::IVDemoCorvel},
                     {"v", gamedouble::Build::VReleasePatched}};
  for (const auto& entry : kBuildNames) {
    if (name == entry.name) {
      *build = entry.build;
      return true;
    }
  }
  return false;
}

bool ParseOptions(int argc, char** argv, tOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--build" && hasValue) {
      if (!ParseBuild(argv[++i], &options->build)) return false;
    } else if (argument == "--frames" && hasValue) {
      char* end = nullptr;
      const unsigned long frames = std::strtoul(argv[++i], &end, 10);
      if (end == nullptr || *end != '\0') return false;
      options->frames = std::uint32_t(frames);
    } else if (argument == "--png" && hasValue) {
      options->png = argv[++i];
    } else if (options->script.empty() && argument.rfind("--", 0) != 0) {
      options->script = argument;
    } else {
      return false;
    }
  }
  return !options->script.empty();
}

void RegisterBuiltIn(const char16_t* name, ModuleHandler handler) {
  tHackModule* module = CreateHackModule(name, name);
  RegisterHackModule(module, kLibraryHandle, true, handler);
}

// The machine's constant table as an identity.
SQRawObjectVal MachineConstants(HSQUIRRELVM v) {
  sq_pushconsttable(v);
  HSQOBJECT table;
  sq_getstackobj(v, -1, &table);
  sq_poptop(v);
  return table._unVal.raw;
}

// Compiles and runs the file in the environment as a resource start does; true when both succeeded and the
// machine has its own constant table back, as every later environment's copy is taken from it.
bool RunScript(CScriptEnvironment* environment, const std::string& path, std::vector<char>& source) {
  CScriptHost* host = environment->GetHost();
  const HSQUIRRELVM t = environment->GetThread();
  const SQRawObjectVal machineConstants = MachineConstants(host->GetVM());
  const SQInteger top = sq_gettop(t);
  auto* stream = new CByteArrayStream(source.data(), std::uint32_t(source.size()));
  const std::u16string name = text::Utf8ToUtf16(std::string_view(path));
  host->PushRunningEnvironment(environment);
  environment->Enter();
  bool ran = false;
  if (SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, name.c_str()))) {
    sq_pushroottable(t);
    ran = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue));
  }
  // Down to the table Enter kept, which Leave restores.
  sq_settop(t, top + 1);
  environment->Leave();
  host->PopRunningEnvironment();
  sq_settop(t, top);
  stream->Release();
  if (MachineConstants(host->GetVM()) != machineConstants) {
    std::fputs("hostrun: the machine kept the environment's constant table\n", stderr);
    return false;
  }
  return ran;
}

}  // namespace

int main(int argc, char** argv) {
  tOptions options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  std::ifstream file(options.script, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "hostrun: cannot open %s\n", options.script.c_str());
    return kExitUsage;
  }
  std::vector<char> source{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

  gamedouble::CGameDouble game(options.build);
  if (!game.IsReady()) {
    std::fputs("hostrun: the game double could not be mapped\n", stderr);
    return kExitUsage;
  }
  DllMain(kLibraryHandle, kDllProcessAttach, nullptr);
  tList descriptors, moduleOptions;
  // The caches and debug folders a launcher gives, of this run alone.
  const std::filesystem::path user = std::filesystem::temp_directory_path() / ("hostrun-" + std::to_string(::getpid()));
  std::error_code ignored;
  std::filesystem::create_directories(user / "Caches", ignored);
  std::filesystem::create_directories(user / "Debug", ignored);
  InitialisationData header = MakeInitialisationHeader();
  SetFieldText(header.cachesDirectory, (user / "Caches").u16string());
  SetFieldText(header.debugDirectory, (user / "Debug").u16string());
  const auto block = SerialiseInitialisationData(header, kMainThreadId, descriptors, moduleOptions);
  if (CoreRefused(StartCoreModule(block.data(), block.size()))) {
    std::fputs("hostrun: the core refused the game double\n", stderr);
    return kExitUsage;
  }
  RegisterBuiltIn(u"OggVorbisSupport", OggVorbisSupportModuleHandler);
  RegisterBuiltIn(u"SquirrelSupport", SquirrelSupportModuleHandler);
  WindowChangedEventData noWindow{{sizeof(WindowChangedEventData)}, nullptr};
  RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &noWindow);
  WindowChangedEventData window{{sizeof(WindowChangedEventData)}, kGameWindow};
  RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &window);

  int exitCode = kExitFailed;
  CScriptEnvironment* environment = nullptr;
  if (g_ScriptHost != nullptr) {
    environment = new CScriptEnvironment(g_ScriptHost, u"main");
    if (RunScript(environment, options.script, source)) exitCode = 0;
    for (std::uint32_t frame = 0; frame < options.frames; ++frame) game.Run(gamedouble::Routine::Frame);
  } else {
    std::fputs("hostrun: SquirrelSupport did not start\n", stderr);
  }
  if (!options.png.empty()) {
    std::string error;
    if (!gamedouble::SavePng(game.Frame(), options.png, &error)) {
      std::fprintf(stderr, "hostrun: %s\n", error.c_str());
      exitCode = kExitFailed;
    }
  }
  // The game's exit: OnUnload still reaches the environment's handlers; the host then detaches the environment,
  // which goes last.
  UnloadCoreModule();
  delete environment;
  std::fflush(stdout);
  hack::testing::ResetHackRegistry();
  delete g_FileSystem;
  g_FileSystem = nullptr;
  std::filesystem::remove_all(user, ignored);
  return exitCode;
}
