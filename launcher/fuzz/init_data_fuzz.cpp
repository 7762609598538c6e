// libFuzzer target: arbitrary bytes through the initialisation block's parser, then every record's text fields
// read, and a parsed block written back and compared.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <launcher/InitialisationData.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InitialisationData header;
  tList descriptors;
  tList options;
  if (!ParseInitialisationData(data, size, &header, &descriptors, &options)) return 0;
  std::size_t units = 0;
  for (ListNode* node = descriptors.m_pHead; node != nullptr; node = node->m_pNext) {
    const auto* d = static_cast<const ModuleDescriptor*>(node->m_pRecord);
    units += FieldText(d->name).size() + FieldText(d->path).size() + IsMountableModName(FieldText(d->name));
  }
  for (ListNode* node = options.m_pHead; node != nullptr; node = node->m_pNext) {
    const auto* o = static_cast<const ModuleOption*>(node->m_pRecord);
    units += FieldText(o->optionName).size() + FieldText(o->moduleName).size() + FieldText(o->value).size();
  }
  auto again = SerialiseInitialisationData(header, header.gameMainThreadId, descriptors, options);
  if (again.size() > size || std::memcmp(again.data(), data, again.size()) != 0 || units > size) std::abort();
  FreeInitDataLists(&descriptors, &options);
  return 0;
}
