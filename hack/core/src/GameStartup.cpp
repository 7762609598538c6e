// Start-up and shutdown of the game side: the core's start, the start routine's module loading and events.
#include <core/GameStartup.h>

#include <core/CoreModule.h>

#include <base/FileSystem.h>
#include <base/TaskContext.h>
#include <hack/GameHooks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleOptions.h>
#include <hack/ModuleRegistry.h>
#include <platform/actctx.h>
#include <platform/crash.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>

#include <memory>
#include <string>
#include <vector>

InitialisationData g_InitialisationData{};
tList g_InitDescriptors;
tList g_InitOptions;
HMODULE g_hModule = nullptr;
HANDLE g_StartEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE g_InitThread = nullptr;

namespace {

constexpr std::uint32_t kGameStartExitCode = 255;
constexpr std::uintptr_t kManifestResource = 2;

// The start routine's activation context, kept active on the game's main thread until the core unloads.
HANDLE g_StartContext = INVALID_HANDLE_VALUE;
ULONG_PTR g_StartContextCookie = 0;
bool g_StartContextActive = false;
constexpr std::size_t kModulePathLength = 260;

// The lists live until process exit, with their records.
struct InitListsFreer {
  ~InitListsFreer() { FreeInitDataLists(&g_InitDescriptors, &g_InitOptions); }
} g_initListsFreer;

std::string Utf8(const std::u16string& text) { return text::Utf16ToUtf8(text); }

// The launcher learns "started" from the initialisation thread's own end; it must come before the process's.
void LetInitThreadFinish() {
  if (g_InitThread == nullptr) return;
  WaitForSingleObject(g_InitThread, INFINITE);
  CloseHandle(g_InitThread);
  g_InitThread = nullptr;
}

// Ends the start: everything the start routine loaded and the core itself are unloaded, then the main thread.
[[noreturn]] void EndMainThread() {
  UnloadHackModule(g_pCoreModule);
  ExitThread(kStartRefused);
}

void MakeRecordsAndMounts() {
  for (const ListNode* node = g_InitDescriptors.m_pHead; node != nullptr; node = node->m_pNext) {
    const auto* descriptor = static_cast<const ModuleDescriptor*>(node->m_pRecord);
    const std::u16string name = FieldText(descriptor->name);
    const std::u16string path = FieldText(descriptor->path);
    if (descriptor->kind == kModuleKindLibrary) {
      CreateHackModule(path.c_str(), name.c_str());
    } else if (descriptor->kind == kModuleKindModDirectory) {
      // A name that is empty or holds a separator would mount outside "/Mods/" or over it.
      if (!IsMountableModName(name)) {
        LogConsole("BRINDLECORE: Mod directory \"%s\" has an unusable name and is not mounted\n", Utf8(name).c_str());
        continue;
      }
      MountPhysicalDirectory((u"/Mods/" + name).c_str(), false, path.c_str());
    }
  }
}

void AddOptions() {
  for (const ListNode* node = g_InitOptions.m_pHead; node != nullptr; node = node->m_pNext) {
    const auto* option = static_cast<const ModuleOption*>(node->m_pRecord);
    AddModuleOption(FieldText(option->moduleName).c_str(), FieldText(option->optionName).c_str(), option);
  }
}

// Loads and registers every record not loaded yet, oldest first. A refusal with 7 unloads every module and answers
// false: the caller ends the start, once this frame's own memory is gone (ending the thread unwinds nothing).
bool LoadModules() {
  LockHackRegistry();
  std::vector<tHackModule*> records(GetHackModules(nullptr, 0));
  records.resize(GetHackModules(records.data(), std::uint32_t(records.size())));
  for (tHackModule* record : records) {
    if (record == g_pCoreModule || record->m_hModule != nullptr) continue;
    const HMODULE handle = LoadLibraryW(reinterpret_cast<LPCWSTR>(record->m_Path));
    if (handle == nullptr) {
      LogConsole("BRINDLECORE: Hack module \"%s\" could not be loaded\n", Utf8(record->m_Path).c_str());
      continue;
    }
    const std::uint32_t reply = RegisterBuiltInModule(record, handle);
    if (ReplyHolds(reply, MODULEREPLY_UNLOADNOW) || ReplyHolds(reply, MODULEREPLY_SKIP)) FreeLibrary(handle);
    if (ReplyHolds(reply, MODULEREPLY_SKIP)) {
      UnloadAllHackModules();
      UnlockHackRegistry();
      return false;
    }
  }
  UnlockHackRegistry();
  return true;
}

}  // namespace

bool ActivateOwnManifest(HANDLE* context, ULONG_PTR* cookie) {
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
  request.lpResourceName = reinterpret_cast<LPCWSTR>(kManifestResource);
  request.hModule = g_hModule;
  *context = CreateActCtxW(&request);
  if (*context == INVALID_HANDLE_VALUE) return false;
  if (ActivateActCtx(*context, cookie)) return true;
  ReleaseActCtx(*context);
  *context = INVALID_HANDLE_VALUE;
  return false;
}

void DeactivateOwnManifest(HANDLE context, ULONG_PTR cookie) {
  DeactivateActCtx(0, cookie);
  ReleaseActCtx(context);
}

void DeactivateStartContext() {
  if (!g_StartContextActive) return;
  DeactivateOwnManifest(g_StartContext, g_StartContextCookie);
  g_StartContextActive = false;
}

BOOL DllMain(HMODULE module, DWORD reason, void*) {
  if (reason == kDllProcessAttach) g_hModule = module;
  return TRUE;
}

bool CoreRefused(std::uint32_t reply) {
  return ReplyHolds(reply, MODULEREPLY_UNLOADNOW) || ReplyHolds(reply, MODULEREPLY_SKIP);
}

std::uint32_t StartCoreModule(const void* block, std::size_t size) {
  g_AppContext.SetDisplayMode(MessageDisplayMode::InGame);
  FreeInitDataLists(&g_InitDescriptors, &g_InitOptions);
  if (!ParseInitialisationData(block, size, &g_InitialisationData, &g_InitDescriptors, &g_InitOptions)) return 0;
  SetCloseOnlyMessages(g_InitialisationData.closeOnlyMessages != 0);
  char16_t path[kModulePathLength + 1] = {};
  GetModuleFileNameW(g_hModule, reinterpret_cast<LPWSTR>(path), DWORD(kModulePathLength));
  tHackModule* core = CreateHackModule(path, CoreModuleName(path).c_str());
  // Without a context the core's Init runs all the same.
  HANDLE context = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie = 0;
  const bool active = ActivateOwnManifest(&context, &cookie);
  g_AppContext.SetOwnerWindow(reinterpret_cast<HWND>(std::uintptr_t(g_InitialisationData.ownerWindow)));
  const std::uint32_t reply = RegisterHackModule(core, g_hModule, false, CoreModuleHandler);
  if (active) DeactivateOwnManifest(context, cookie);
  return reply;
}

void GameStartRoutine() {
  g_StartContextActive = ActivateOwnManifest(&g_StartContext, &g_StartContextCookie);
  if (g_InitialisationData.startDelay != 0) Sleep(g_InitialisationData.startDelay);
  // The crash filter was set on the initialisation thread; the game's own thread needs its own reserve of stack
  // for the filter to run when that thread's stack runs out.
  ULONG crashStack = 0;
  SetThreadStackGuarantee(&crashStack);
  MakeRecordsAndMounts();
  AddOptions();
  if (!LoadModules()) EndMainThread();
  if (g_InitialisationData.disableGame != 0) {
    ShowMessage(&g_AppContext, MessageIcon::Information, FatalMessageButtons(),
                u"Game disabled for debugging purposes.", nullptr, false);
    EndMainThread();
  }
  WindowChangedEventData window{{sizeof(WindowChangedEventData)}, nullptr};
  RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &window);
  SetEvent(g_StartEvent);
  LetInitThreadFinish();
  GameStartEventData start{{sizeof(GameStartEventData)}, kGameStartExitCode};
  const std::uint32_t reply = RaiseModuleEvent(MODULEEVENT_GAMESTART, &start);
  if (ReplyHolds(reply, MODULEREPLY_VALUE)) {
    UnloadHackModule(g_pCoreModule);
    ExitProcess(start.exitCode);
  }
  if (ReplyHolds(reply, MODULEREPLY_SKIP)) {
    UnloadHackModule(g_pCoreModule);
    ExitProcess(0);
  }
}

void UnloadCoreModule() { UnloadHackModule(g_pCoreModule); }

BOOL ConsoleCtrlHandler(DWORD type) {
  if (type != kCtrlCEvent && type != kCtrlCloseEvent) return FALSE;
  // Until the start event is set the initialisation thread still waits, and a thread the process takes with it
  // ends with the process's code: 0 would tell the launcher the game had started.
  const bool started = WaitForSingleObject(g_StartEvent, 0) == WAIT_OBJECT_0;
  TerminateProcess(GetCurrentProcess(), started ? kEndedByConsole : kEndedByConsoleBeforeStart);
  return TRUE;
}
