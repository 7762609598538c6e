// The launcher program: fills the initialisation block from its arguments, starts the game with this system
// injected, reports the start and waits for the game, ending with its exit code.
//
//   brindle_launch --game PATH [options] [-- game arguments]
//     --config FILE          more options, one per line ("#" starts a comment line)
//     --directory DIR        the game's working directory (default: the current one)
//     --sdl DIR              the directory that holds SDL2.dll (default: the host's library directory)
//     --module NAME          a built-in module, loaded from this system's own library
//     --all-modules          every built-in module, in the table's order
//     --mod NAME=DIR         a mod directory mounted as /Mods/NAME
//     --option MODULE.NAME=VALUE
//     --client-data DIR      the multiplayer client's data (fonts, GUI pages), mounted at "/" of its files
//     --caches DIR, --debug DIR   where /UserData/Caches and /UserData/Debug write (default: the folders
//                            "Brindlecore/Caches" and "Brindlecore/Debug" of the user's data folder, made when missing)
//     --start-delay MS, --disable-game, --close-only-messages
//     --magic TEXT, --header-build N   (for trying a launcher of another version)
// The first line says where the caches and the debug files go.
// Exit status: the game's exit code (its low 8 bits, as the host keeps them) once it reported its start; else the
// initialisation thread's code (2: the start was refused) or 1.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <base/TaskContext.h>
#include <hack/List.h>
#include <launcher/InitialisationData.h>
#include <launcher/StartGame.h>
#include <platform/console.h>
#include <platform/files.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>

#include "../BuiltInModules.h"

namespace {

constexpr int kDidNotStart = 1;
constexpr int kUsage = 64;
constexpr DWORD kPollMilliseconds = 50;
constexpr const char16_t* kHostLibraryDirectory = u"/usr/lib/i386-linux-gnu";

struct Settings {
  InitialisationData header = MakeInitialisationHeader();
  tList descriptors, options;
  std::u16string game, directory, arguments;
};

std::u16string Wide(const std::string& text) { return text::Utf8ToUtf16(text); }

std::u16string OwnLibraryPath() {
  HMODULE own = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&BeginStartingGame), &own);
  char16_t path[kInitPathLength + 1] = {};
  GetModuleFileNameW(own, reinterpret_cast<LPWSTR>(path), DWORD(kInitPathLength));
  return path;
}

void AddDescriptor(Settings* settings, ModuleKind kind, const std::u16string& name, const std::u16string& path) {
  auto* descriptor = new ModuleDescriptor{};
  descriptor->kind = kind;
  SetFieldText(descriptor->name, name);
  SetFieldText(descriptor->path, path);
  settings->descriptors.Append(descriptor);
}

bool AddOption(Settings* settings, const std::string& text) {
  const std::size_t dot = text.find('.'), equals = text.find('=');
  if (dot == std::string::npos || equals == std::string::npos || equals < dot) return false;
  auto* option = new ModuleOption{};
  SetFieldText(option->moduleName, Wide(text.substr(0, dot)));
  SetFieldText(option->optionName, Wide(text.substr(dot + 1, equals - dot - 1)));
  SetFieldText(option->value, Wide(text.substr(equals + 1)));
  settings->options.Append(option);
  return true;
}

bool Apply(Settings* settings, const std::vector<std::string>& words);

bool ReadConfig(Settings* settings, const std::string& file) {
  std::ifstream in(file);
  if (!in) return false;
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.find(' ');
    words.push_back(line.substr(0, blank));
    if (blank != std::string::npos) words.push_back(line.substr(blank + 1));
  }
  return Apply(settings, words);
}

bool Apply(Settings* settings, const std::vector<std::string>& words) {
  InitialisationData& header = settings->header;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool hasValue = i + 1 < words.size();
    const std::string value = hasValue ? words[i + 1] : std::string();
    if (word == "--") {
      for (std::size_t j = i + 1; j < words.size(); ++j)
        settings->arguments += (settings->arguments.empty() ? u"" : u" ") + Wide(words[j]);
      return true;
    }
    if (word == "--all-modules") {
      for (const tBuiltInModule& module : g_BuiltInModules)
        AddDescriptor(settings, kModuleKindLibrary, module.name, OwnLibraryPath());
      continue;
    }
    if (word == "--disable-game") { header.disableGame = 1; continue; }
    if (word == "--close-only-messages") { header.closeOnlyMessages = 1; continue; }
    if (!hasValue) return false;
    ++i;
    if (word == "--config") {
      if (!ReadConfig(settings, value)) return false;
    } else if (word == "--game") {
      settings->game = Wide(value);
    } else if (word == "--directory") {
      settings->directory = Wide(value);
    } else if (word == "--sdl") {
      SetFieldText(header.sdlDirectory, Wide(value));
    } else if (word == "--caches") {
      SetFieldText(header.cachesDirectory, Wide(value));
    } else if (word == "--client-data") {
      SetFieldText(header.clientDataDirectory, Wide(value));
    } else if (word == "--debug") {
      SetFieldText(header.debugDirectory, Wide(value));
    } else if (word == "--module") {
      AddDescriptor(settings, kModuleKindLibrary, Wide(value), OwnLibraryPath());
    } else if (word == "--mod") {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos) return false;
      AddDescriptor(settings, kModuleKindModDirectory, Wide(value.substr(0, equals)), Wide(value.substr(equals + 1)));
    } else if (word == "--option") {
      if (!AddOption(settings, value)) return false;
    } else if (word == "--start-delay") {
      header.startDelay = std::uint32_t(std::strtoul(value.c_str(), nullptr, 0));
    } else if (word == "--magic" && value.size() == sizeof header.magic) {
      std::memcpy(header.magic, value.data(), sizeof header.magic);
    } else if (word == "--header-build") {
      header.build = std::uint32_t(std::strtoul(value.c_str(), nullptr, 0));
    } else {
      return false;
    }
  }
  return true;
}

// A directory left empty would be mounted on the host's root, where a server's downloads would land: an empty one
// gets its folder under the user's data folder. False, having said why, when there is none to give.
bool GiveUserDirectories(InitialisationData* header) {
  char16_t* const fields[] = {header->cachesDirectory, header->debugDirectory};
  const char16_t* const names[] = {u"/Brindlecore/Caches", u"/Brindlecore/Debug"};
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    if (fields[i][0] != 0) continue;
    char16_t data[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, reinterpret_cast<LPWSTR>(data)) != S_OK) {
      std::fprintf(stderr,
                   "brindle_launch: the user has no data folder to keep the caches and debug files in; "
                   "give --caches DIR and --debug DIR\n");
      return false;
    }
    const std::u16string folder = std::u16string(data) + names[i];
    const bool fits = folder.size() < kInitPathLength;  // with its terminator
    const auto made = fits ? DWORD(SHCreateDirectoryExW(nullptr, reinterpret_cast<LPCWSTR>(folder.c_str()), nullptr))
                           : DWORD(ERROR_FILENAME_EXCED_RANGE);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) {
      std::fprintf(stderr, "brindle_launch: the folder \"%s\" cannot be made\n", text::Utf16ToUtf8(folder).c_str());
      return false;
    }
    std::copy(folder.c_str(), folder.c_str() + folder.size() + 1, fields[i]);
  }
  return true;
}

void PrintErrors(const tTaskContext& errors) {
  for (const std::string& error : errors.GetErrors()) std::fprintf(stderr, "brindle_launch: %s\n", error.c_str());
}

// Ctrl+C reaches the game too, which ends itself: the launcher waits for it rather than leave first. One that
// comes before the game exists reaches the launcher alone (or the game's process before it runs its own code, whose
// events the launcher receives): the game is ended as soon as it exists, before its start.
std::atomic<bool> g_GameExists{false};
std::atomic<bool> g_CtrlCBeforeTheGame{false};
BOOL KeepWaiting(DWORD) {
  if (!g_GameExists.load()) g_CtrlCBeforeTheGame.store(true);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  SetFieldText(settings.header.sdlDirectory, kHostLibraryDirectory);
  if (!Apply(&settings, std::vector<std::string>(argv + 1, argv + argc)) || settings.game.empty()) {
    std::fprintf(stderr, "usage: brindle_launch --game PATH [options] [-- game arguments] (see Launch.cpp)\n");
    return kUsage;
  }
  if (!GiveUserDirectories(&settings.header)) return kDidNotStart;
  std::fprintf(stderr, "brindle_launch: caches in \"%s\", debug files in \"%s\"\n",
               text::Utf16ToUtf8(FieldText(settings.header.cachesDirectory)).c_str(),
               text::Utf16ToUtf8(FieldText(settings.header.debugDirectory)).c_str());
  SetConsoleCtrlHandler(KeepWaiting, TRUE);
  tTaskContext errors;
  HANDLE initThread = nullptr;
  HANDLE process = BeginStartingGame(&errors, settings.directory.empty() ? nullptr : settings.directory.c_str(),
                                     settings.game.c_str(), settings.arguments.c_str(), &settings.header,
                                     &settings.descriptors, &settings.options, &initThread);
  g_GameExists.store(true);
  FreeInitDataLists(&settings.descriptors, &settings.options);
  if (process == nullptr) {
    PrintErrors(errors);
    return kDidNotStart;
  }
  // The initialisation thread already runs and may report the start before the game ends: the start is called off
  // all the same, whatever the game reached.
  const bool calledOff = g_CtrlCBeforeTheGame.load();
  if (calledOff) {
    std::fprintf(stderr, "brindle_launch: Ctrl+C came while the game was being made; it is stopped\n");
    TerminateProcess(process, STATUS_CONTROL_C_EXIT);
  }
  bool started = false;
  while (!WaitForGameToStart(&errors, initThread, process, &started))
    WaitForSingleObject(initThread, kPollMilliseconds);
  PrintErrors(errors);
  DWORD initCode = 0;
  GetExitCodeThread(initThread, &initCode);
  CloseHandle(initThread);
  if (calledOff) started = false;
  if (started) std::fprintf(stderr, "brindle_launch: the game has started\n");
  WaitForSingleObject(process, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  CloseHandle(process);
  std::fprintf(stderr, "brindle_launch: the game ended with exit code 0x%X\n", exitCode);
  if (!started) std::fprintf(stderr, "brindle_launch: the game did not start (initialisation ended with %u)\n", initCode);
  if (calledOff) return kDidNotStart;
  // A game that reported its start and ended before the poll saw it running still ends with its own code.
  if (initCode == 0) return int(exitCode & 0xFF);
  return initCode > 1 && initCode < 256 ? int(initCode) : kDidNotStart;
}
