// A test build's module: a handler put behind the built-in name "BugFixes" that answers as its options say
// ("Init", "GameStart": the reply; "ExitCode": GameStart's exit code; "EndMainThread": Init ends the game's main
// thread with this code) and prints every event it is asked.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <core/GameStartup.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleOptions.h>
#include <launcher/InitialisationData.h>
#include <platform/sync.h>
#include <platform/text.h>

#include "../BuiltInModules.h"

namespace {

constexpr const char16_t* kScriptedName = u"BugFixes";

std::uint32_t OptionValue(const char16_t* name, std::uint32_t otherwise) {
  const ModuleOption* option = FindModuleOptionEntry(FindModuleOption(kScriptedName), name);
  if (option == nullptr) return otherwise;
  const std::string value = text::Utf16ToUtf8(FieldText(option->value));
  return std::uint32_t(std::strtoul(value.c_str(), nullptr, 0));
}

std::uint32_t ScriptedHandler(std::uint32_t event, ModuleEventData* data) {
  std::string line = "SCRIPTED: " + std::to_string(event);
  std::uint32_t reply = MODULEREPLY_HANDLED;
  if (event == MODULEEVENT_INIT) {
    reply = OptionValue(u"Init", MODULEREPLY_HANDLED);
    constexpr std::uint32_t kKeepRunning = 0xFFFFFFFF;
    if (const std::uint32_t code = OptionValue(u"EndMainThread", kKeepRunning); code != kKeepRunning) {
      std::printf("%s ending the main thread\n", line.c_str());
      std::fflush(stdout);
      ExitThread(code);
    }
  }
  if (event == MODULEEVENT_WINDOWCHANGED)
    line += " window " + std::to_string(std::uintptr_t(static_cast<WindowChangedEventData*>(data)->window));
  if (event == MODULEEVENT_GAMESTART) {
    line += WaitForSingleObject(g_StartEvent, 0) == WAIT_OBJECT_0 ? " started" : " not started";
    static_cast<GameStartEventData*>(data)->exitCode = OptionValue(u"ExitCode", 0);
    reply = OptionValue(u"GameStart", MODULEREPLY_HANDLED);
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return reply;
}

__attribute__((constructor)) void PutScriptedHandler() {
  for (tBuiltInModule& module : g_BuiltInModules)
    if (std::u16string_view(module.name) == kScriptedName) module.handler = ScriptedHandler;
}

}  // namespace
