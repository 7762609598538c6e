// The SquirrelSupport module: module events turned into the game's script events, the key-event queue, the
// audio device and the tear-down.
#include <scripthost/SquirrelSupport.h>

#include <hack/GameRoutines.h>
#include <hack/ModuleEventData.h>

#include <scripthost/Audio.h>
#include <scripthost/Events.h>
#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupportTesting.h>
#include <scripthost/TaskQueue.h>

const char16_t* const kGameEventTypeNames[kGameEventTypeCount] = {
    u"OnLoadedScript",
    u"OnDefineAllObjects",
    u"OnSetUpItemLinkedLists",
    u"OnLoadItems",
    u"OnProcess",
    u"OnRender2D",
    u"OnFallDamage",
    u"OnRollingBallDeath",
    u"OnDivingRollLandDeath",
    u"OnFlipeffect",
    u"OnKeyDown",
    u"OnKeyUp",
    u"OnLoad",
    u"OnUnload",
    u"OnGetKeyStates",
    u"OnGetJoypadStates",
};
CEventType* g_GameEventTypes[kGameEventTypeCount] = {};
tHackModule* g_pSquirrelSupportModule = nullptr;
CAudio* g_pAudio = nullptr;

namespace {

// Window messages of keys: down and system key down, up and system key up.
constexpr std::uint32_t kKeyDownMessage = 0x100;
constexpr std::uint32_t kKeyUpMessage = 0x101;
constexpr std::uint32_t kSystemKeyDownMessage = 0x104;
constexpr std::uint32_t kSystemKeyUpMessage = 0x105;

scripthost::testing::tHostReadyHook g_hostReadyHook = nullptr;

// One per game event type: their instances live in the host's machine, so they go with the types.
CReusedEvent g_firedEvents[kGameEventTypeCount];

// Fires a game event with the arguments (cleared afterwards) and answers whether a handler prevented the default.
// Without the module's types (before Init, after the tear-down) nothing runs.
bool Fire(GameEventType which, CListScriptArguments* arguments = nullptr) {
  CEventType* type = g_GameEventTypes[which];
  if (type == nullptr) return false;
  const bool prevented = g_firedEvents[which].Fire(type, arguments);
  if (arguments != nullptr) arguments->Clear();
  return prevented;
}

// The reply of the events whose prevented default skips the game's own code.
std::uint32_t Reply(bool prevented) { return prevented ? MODULEREPLY_SKIP : MODULEREPLY_HANDLED; }

// An item's number in the game's item array, as a signed 32-bit integer.
std::int32_t ItemIndex(const void* item) {
  const auto offset = std::int32_t(std::uintptr_t(item) - std::uintptr_t(Game::GetItemArray()));
  return offset / std::int32_t(Game::kItemRecordSize);
}

bool FireWithItem(GameEventType which, const void* item) {
  if (g_ScriptHost == nullptr) return false;
  CListScriptArguments arguments(g_ScriptHost);
  arguments.AddInteger(ItemIndex(item));
  return Fire(which, &arguments);
}

bool FireFlipeffect(const FlipeffectEventData* data) {
  if (g_ScriptHost == nullptr) return false;
  CListScriptArguments arguments(g_ScriptHost);
  arguments.AddInteger(SQInteger(data->number));
  if (data->argument != 0) {
    arguments.AddInteger(ItemIndex(reinterpret_cast<const void*>(std::uintptr_t(data->argument))));
  } else {
    arguments.AddNull();
  }
  return Fire(kOnFlipeffect, &arguments);
}

void TearDown() {
  ReleaseGameEventTypes();
  if (g_ScriptHost != nullptr) {
    g_ScriptHost->GetEventTypes().RemoveOwnedBy(nullptr);
    CScriptHost::Delete(g_ScriptHost);
    g_ScriptHost = nullptr;
  }
  // The machine is closed: the list's references are the last ones left.
  StopEnvironmentAudio(nullptr);
  if (g_pAudio != nullptr) {
    g_pAudio->Shutdown();
    delete g_pAudio;
    g_pAudio = nullptr;
  }
}

std::uint32_t Init(ModuleInitData* data) {
  g_pSquirrelSupportModule = data != nullptr ? data->module : nullptr;
  // A second Init replaces what the first made.
  if (g_ScriptHost != nullptr) TearDown();
  g_ScriptHost = new CScriptHost();
  CreateGameEventTypes(g_ScriptHost);
  if (g_hostReadyHook != nullptr) g_hostReadyHook(g_ScriptHost);
  if (Fire(kOnLoad)) {
    TearDown();
    return MODULEREPLY_SKIP;
  }
  return MODULEREPLY_HANDLED;
}

void WindowChanged(const WindowChangedEventData* data) {
  if (g_pAudio != nullptr) return;
  auto* audio = new CDSoundAudio(data != nullptr ? data->window : nullptr);
  if (audio->Initialise()) {
    g_pAudio = audio;
  } else {
    delete audio;
  }
}

void WindowMessage(const WindowMessageEventData* data) {
  if (data == nullptr) return;
  if (data->message == kKeyDownMessage || data->message == kSystemKeyDownMessage) {
    QueueKeyEvent(kKeyEventDown, data->wParam);
  } else if (data->message == kKeyUpMessage || data->message == kSystemKeyUpMessage) {
    QueueKeyEvent(kKeyEventUp, data->wParam);
  }
}

}  // namespace

std::uint32_t SquirrelSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return Init(static_cast<ModuleInitData*>(data));
    case MODULEEVENT_UNLOAD:
      Fire(kOnUnload);
      TearDown();
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_WINDOWCHANGED:
      WindowChanged(static_cast<WindowChangedEventData*>(data));
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_WINDOWMESSAGE:
      WindowMessage(static_cast<WindowMessageEventData*>(data));
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_SCRIPTLOADED:
      Fire(kOnLoadedScript);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_DEFINEALLOBJECTS:
      Fire(kOnDefineAllObjects);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_SETUPITEMLINKEDLISTS:
      Fire(kOnSetUpItemLinkedLists);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_LOADITEMS:
      Fire(kOnLoadItems);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_RENDER2D:
      Fire(kOnRender2D);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_PROCESS:
      DispatchKeyEvents();
      UnlistStoppedAudioInstances();
      Fire(kOnProcess);
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_GETKEYSTATES:
      return Reply(Fire(kOnGetKeyStates));
    case MODULEEVENT_GETJOYPADSTATES:
      return Reply(Fire(kOnGetJoypadStates));
    case MODULEEVENT_ROLLINGBALLDEATH:
      return Reply(Fire(kOnRollingBallDeath));
    // The hooks always hand these blocks; without one there is nothing to fire with.
    case MODULEEVENT_FALLDAMAGE:
      if (data == nullptr) return MODULEREPLY_HANDLED;
      return Reply(FireWithItem(kOnFallDamage, static_cast<FallDamageEventData*>(data)->item));
    case MODULEEVENT_DIVINGROLLLANDDEATH:
      if (data == nullptr) return MODULEREPLY_HANDLED;
      return Reply(FireWithItem(kOnDivingRollLandDeath, static_cast<DivingRollLandDeathEventData*>(data)->item));
    case MODULEEVENT_FLIPEFFECT:
      if (data == nullptr) return MODULEREPLY_HANDLED;
      return Reply(FireFlipeffect(static_cast<FlipeffectEventData*>(data)));
    default:
      // GameStart, LoadSample, QueryFlagA, QueryFlagB and everything from UnhandledException on: not ours, and
      // answering without Handled leaves those events for good.
      return 0;
  }
}

CTaskQueue& GetKeyEventQueue() {
  static CTaskQueue queue;
  return queue;
}

void QueueKeyEvent(std::uint32_t kind, std::uint32_t code) { GetKeyEventQueue().Push(kind, code); }

void DispatchKeyEvents() {
  CTaskQueue& queue = GetKeyEventQueue();
  std::uint32_t kind = 0, code = 0;
  // Pop answers an empty queue as a wait of 0 on its event would, without the event's own lock each frame, and
  // leaves the event as the entries say. The firing happens outside the queue's lock, so a handler (or the window
  // procedure meanwhile) may queue more, which this same drain delivers.
  while (queue.Pop(&kind, &code)) {
    if (kind != kKeyEventDown && kind != kKeyEventUp) continue;
    if (g_ScriptHost == nullptr) continue;
    CListScriptArguments arguments(g_ScriptHost);
    arguments.AddInteger(SQInteger(code));
    Fire(kind == kKeyEventDown ? kOnKeyDown : kOnKeyUp, &arguments);
  }
}

void CreateGameEventTypes(CScriptHost* host) {
  for (std::uint32_t i = 0; i < kGameEventTypeCount; ++i) {
    auto* type = new CEventType(&host->GetEventTypes(), nullptr, kGameEventTypeNames[i]);
    host->GetEventTypes().Add(type);
    g_GameEventTypes[i] = type;
  }
}

void ReleaseGameEventTypes() {
  for (CReusedEvent& fired : g_firedEvents) fired.Drop();
  for (CEventType*& type : g_GameEventTypes) {
    if (type != nullptr) type->Release();
    type = nullptr;
  }
}

namespace scripthost::testing {
void SetHostReadyHook(tHostReadyHook hook) { g_hostReadyHook = hook; }
}  // namespace scripthost::testing
