// Per-module launcher options and the game side's name hash.
#include <hack/ModuleOptions.h>

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Outer table: modules by the key of their name. The list of all module
// entries owns them.
struct OptionStore {
  tList buckets[kOptionBuckets];
  tList modules;

  ~OptionStore() { Clear(); }
  void Clear() {
    for (tList& bucket : buckets) bucket.Clear();
    while (modules.m_pHead != nullptr) {
      auto* table = static_cast<tModuleOptionTable*>(modules.m_pHead->m_pRecord);
      for (tList& bucket : table->m_Buckets) {
        for (ListNode* node = bucket.m_pHead; node != nullptr; node = node->m_pNext) {
          delete static_cast<tModuleOptionEntry*>(node->m_pRecord);
        }
        bucket.Clear();
      }
      delete table;
      ListNode::Remove(modules.m_pHead);
    }
  }
};

OptionStore& Store() {
  static OptionStore store;
  return store;
}

tModuleOptionTable* FindTable(std::uint32_t key) {
  for (ListNode* node = Store().buckets[key % kOptionBuckets].m_pHead; node != nullptr; node = node->m_pNext) {
    auto* table = static_cast<tModuleOptionTable*>(node->m_pRecord);
    if (table->m_Key == key) return table;
  }
  return nullptr;
}

}  // namespace

std::uint32_t HashName(const char16_t* text, bool fold) {
  if (text == nullptr || *text == 0) return 0;
  std::uint32_t crc = 0xFFFFFFFFu;
  for (; *text != 0; ++text) {
    char16_t unit = *text;
    if (fold && unit >= u'A' && unit <= u'Z') unit = char16_t(unit + 32);
    crc = kCrcTable[(crc ^ std::uint8_t(unit)) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

void AddModuleOption(const char16_t* moduleName, const char16_t* optionName, const ModuleOption* option) {
  if (option == nullptr) return;
  const std::uint32_t moduleKey = HashName(moduleName, true);
  tModuleOptionTable* table = FindTable(moduleKey);
  if (table == nullptr) {
    table = new tModuleOptionTable;
    table->m_Key = moduleKey;
    Store().buckets[moduleKey % kOptionBuckets].Append(table);
    Store().modules.Append(table);
  }
  const std::uint32_t optionKey = HashName(optionName, true);
  auto* entry = new tModuleOptionEntry{optionKey, *option};
  table->m_Buckets[optionKey % kOptionBuckets].Append(entry);
}

tModuleOptionTable* FindModuleOption(const char16_t* moduleName) { return FindTable(HashName(moduleName, true)); }

const ModuleOption* FindModuleOptionEntry(const tModuleOptionTable* table, const char16_t* optionName) {
  if (table == nullptr) return nullptr;
  const std::uint32_t key = HashName(optionName, true);
  for (ListNode* node = table->m_Buckets[key % kOptionBuckets].m_pHead; node != nullptr; node = node->m_pNext) {
    const auto* entry = static_cast<const tModuleOptionEntry*>(node->m_pRecord);
    if (entry->m_Key == key) return &entry->m_Option;
  }
  return nullptr;
}

namespace hack::testing {
void ClearModuleOptions() { Store().Clear(); }
}  // namespace hack::testing
