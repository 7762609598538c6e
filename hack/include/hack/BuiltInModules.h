#pragma once
// Handlers of the built-in modules, found by the module's name.
#include <hack/ModuleRegistry.h>

std::uint32_t ADPCMSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t AspectRatioSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t MultipleInstanceSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t BugFixesModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t CustomFilesModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t IncreasedLimitsModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t MultiplayerModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t MultiplePlayerSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t NoDrawDistanceModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t OggVorbisSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t PCMSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t SquirrelSupportModuleHandler(std::uint32_t event, ModuleEventData* data);

struct tBuiltInModule {
  const char16_t* name;
  ModuleHandler handler;
};
// The twelve names in the order they are compared (writable so that tests can
// put a handler of their own behind a name).
extern tBuiltInModule g_BuiltInModules[12];
