// The launcher's exports: the suspended start, the injections, the block's crossing and the start poll.
#include <launcher/StartGame.h>

#include <launcher/CommandLine.h>
#include <launcher/InitialisationData.h>

#include <base/TaskContext.h>
#include <platform/memory.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Libraries the game needs before this one, loaded from the settings' SDL directory.
constexpr const char16_t* kPreloadedLibraries[] = {u"SDL2.dll"};
constexpr DWORD kStartupInfoSize = 68;

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&BeginStartingGame), &module);
  return module;
}

void AddFormatted(tTaskContext* errors, const char* format, const std::u16string& name) {
  char text[1024];
  std::snprintf(text, sizeof text, format, text::Utf16ToUtf8(name).c_str());
  errors->AddError(text);
}

bool HasEnded(HANDLE handle) { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

// What a start that went wrong after the process was made leaves behind: nothing.
struct StartedProcess {
  PROCESS_INFORMATION info{};
  tList descriptors, options;
  bool listsMade = false;
  HANDLE Fail() {
    TerminateProcess(info.hProcess, 0);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (listsMade) FreeInitDataLists(&descriptors, &options);
    return nullptr;
  }
};

}  // namespace

std::uint32_t InjectLibrary(tTaskContext* errors, HANDLE process, LPCWSTR path) {
  const SIZE_T bytes = (std::char_traits<char16_t>::length(path) + 1) * sizeof(char16_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  if (remote == nullptr) {
    errors->AddError(kFailedToAllocatePath);
    return 0;
  }
  SIZE_T written = 0;
  if (!WriteProcessMemory(process, remote, path, bytes, &written) || written != bytes) {
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    errors->AddError(kFailedToWritePath);
    return 0;
  }
  // The system library lies at one address in every process, so the launcher's own entry is the game's.
  const auto loadLibrary =
      reinterpret_cast<LPTHREAD_START_ROUTINE>(GetProcAddress(LoadLibraryW(u"kernel32.dll"), "LoadLibraryW"));
  HANDLE thread = loadLibrary != nullptr ? CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr)
                                         : nullptr;
  if (thread == nullptr) {
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    errors->AddError(kFailedToStartLoader);
    return 0;
  }
  // A game that dies while loading never ends the thread by itself.
  const HANDLE either[] = {thread, process};
  WaitForMultipleObjects(DWORD(std::size(either)), either, FALSE, INFINITE);
  DWORD module = 0;
  const bool loaded = !HasEnded(process) && GetExitCodeThread(thread, &module) && module != STILL_ACTIVE;
  CloseHandle(thread);
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return loaded ? module : 0;
}

HANDLE BeginStartingGame(tTaskContext* errors, LPCWSTR workingDirectory, LPCWSTR executablePath, LPCWSTR arguments,
                         const InitialisationData* settings, const tList* descriptors, const tList* options,
                         HANDLE* initThread) {
  std::u16string commandLine;
  if (!BuildGameCommandLine(errors, executablePath, arguments != nullptr ? arguments : u"", &commandLine))
    return nullptr;
  std::vector<char16_t> line(commandLine.begin(), commandLine.end());
  line.push_back(u'\0');
  STARTUPINFOW startup{};
  startup.cb = kStartupInfoSize;
  StartedProcess game;
  if (!CreateProcessW(executablePath, reinterpret_cast<LPWSTR>(line.data()), nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED, nullptr, workingDirectory, &startup, &game.info)) {
    errors->AddError(kFailedToStartGame);
    return nullptr;
  }
  const HANDLE process = game.info.hProcess;

  for (const char16_t* library : kPreloadedLibraries) {
    const std::u16string path = FieldText(settings->sdlDirectory) + u"\\" + library;
    if (path.size() >= kInitPathLength || InjectLibrary(errors, process, path.c_str()) == 0) {
      AddFormatted(errors, kFailedToInject, library);
      return game.Fail();
    }
  }
  const HMODULE ownModule = OwnModule();
  char16_t ownPath[kInitPathLength + 1] = {};
  GetModuleFileNameW(ownModule, reinterpret_cast<LPWSTR>(ownPath), DWORD(kInitPathLength));
  const std::uint32_t remoteBase = InjectLibrary(errors, process, ownPath);
  if (remoteBase == 0) {
    errors->AddError(kFailedToInjectSelf);
    return game.Fail();
  }

  CopyDescriptorList(*descriptors, &game.descriptors);
  CopyOptionList(*options, &game.options);
  game.listsMade = true;
  const std::vector<std::uint8_t> block =
      SerialiseInitialisationData(*settings, game.info.dwThreadId, game.descriptors, game.options);
  void* remoteBlock = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
  if (remoteBlock == nullptr) {
    errors->AddError(kFailedToAllocateBlock);
    return game.Fail();
  }
  SIZE_T written = 0;
  if (!WriteProcessMemory(process, remoteBlock, block.data(), block.size(), &written) || written != block.size()) {
    VirtualFreeEx(process, remoteBlock, 0, MEM_RELEASE);
    errors->AddError(kFailedToWriteBlock);
    return game.Fail();
  }
  // The entry lies at the same offset from the library's base in both processes.
  const std::uintptr_t entry = reinterpret_cast<std::uintptr_t>(&InitThreadMain) -
                               reinterpret_cast<std::uintptr_t>(ownModule) + remoteBase;
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(entry),
                                     remoteBlock, 0, nullptr);
  if (thread == nullptr) {
    VirtualFreeEx(process, remoteBlock, 0, MEM_RELEASE);
    errors->AddError(kFailedToStartInitThread);
    return game.Fail();
  }
  *initThread = thread;
  CloseHandle(game.info.hThread);
  FreeInitDataLists(&game.descriptors, &game.options);
  return process;
}

bool WaitForGameToStart(tTaskContext* errors, HANDLE initThread, HANDLE process, bool* started) {
  if (WaitForSingleObject(initThread, 0) != WAIT_OBJECT_0) return false;
  DWORD code = 1;
  GetExitCodeThread(initThread, &code);
  // 0 is the start event's own answer: the game started, whenever it ended after.
  if (code == 0) {
    *started = true;
    return true;
  }
  if (code == 1) errors->AddError(kTerminatedWhileInitialising);
  TerminateProcess(process, 0);
  *started = false;
  return true;
}
