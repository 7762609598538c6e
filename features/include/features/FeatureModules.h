#pragma once
// The handlers of the feature modules, each the built-in module of its name (ADPCMSupport answers to
// "ADPCMSupport"). The product library puts them into the table of built-in modules it hands the registry.
// Errors and locking: those of every module handler (hack/ModuleRegistry.h); each runs on the thread that raised
// its event.
#include <cstdint>

#include <hack/ModuleRegistry.h>

std::uint32_t ADPCMSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t AspectRatioSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t MultipleInstanceSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t BugFixesModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t CustomFilesModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t IncreasedLimitsModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t MultiplePlayerSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t NoDrawDistanceModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t OggVorbisSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
std::uint32_t PCMSupportModuleHandler(std::uint32_t event, ModuleEventData* data);
