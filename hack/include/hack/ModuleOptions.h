#pragma once
// Options the launcher sends per module, and the name hash of every name table
// of the game side.
#include <cstddef>
#include <cstdint>

#include <hack/List.h>

// One option of the launcher's list (388 bytes as it crosses processes).
struct ModuleOption {
  char16_t optionName[64];
  char16_t moduleName[64];
  std::uint8_t unused[4];
  char16_t value[64];
};
static_assert(sizeof(ModuleOption) == 388);
static_assert(offsetof(ModuleOption, value) == 260);

// Reflected CRC-32 (0xEDB88320) over the low byte of each UTF-16 unit; with fold
// set, "A" to "Z" count as lower case. Empty (or null) text gives 0.
std::uint32_t HashName(const char16_t* text, bool fold);

constexpr std::uint32_t kOptionBuckets = 64;

struct tModuleOptionEntry {
  std::uint32_t m_Key;
  ModuleOption m_Option;
};

// One module's options: 64 buckets of tModuleOptionEntry by the option name's key.
struct tModuleOptionTable {
  std::uint32_t m_Key;
  tList m_Buckets[kOptionBuckets];
};

// Stores a copy of option under the module and option names (keys folded). A
// second option of the same key stays behind the first; lookups find the first.
void AddModuleOption(const char16_t* moduleName, const char16_t* optionName, const ModuleOption* option);
// The module's option table, null when it has none.
tModuleOptionTable* FindModuleOption(const char16_t* moduleName);
// The option, null for a null table or an absent option.
const ModuleOption* FindModuleOptionEntry(const tModuleOptionTable* table, const char16_t* optionName);

namespace hack::testing {
// Frees every option table (what process exit does).
void ClearModuleOptions();
}  // namespace hack::testing
