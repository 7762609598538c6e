// The initialisation block's serialisation and its bounded parser, over the lists of descriptors and options.
#include <launcher/InitialisationData.h>

#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kCountSize = sizeof(std::uint32_t);

template <typename Record>
void CopyList(const tList& source, tList* target) {
  for (const ListNode* node = source.m_pHead; node != nullptr; node = node->m_pNext) {
    target->Append(new Record(*static_cast<const Record*>(node->m_pRecord)));
  }
}

template <typename Record>
void FreeList(tList* list) {
  if (list == nullptr) return;
  while (list->m_pHead != nullptr) {
    delete static_cast<Record*>(list->m_pHead->m_pRecord);
    ListNode::Remove(list->m_pHead);
  }
}

template <typename Record>
std::uint8_t* WriteList(std::uint8_t* out, const tList& list) {
  std::uint32_t count = list.m_Count;
  std::memcpy(out, &count, kCountSize);
  out += kCountSize;
  for (const ListNode* node = list.m_pHead; node != nullptr; node = node->m_pNext) {
    std::memcpy(out, node->m_pRecord, sizeof(Record));
    out += sizeof(Record);
  }
  return out;
}

// Reads a count and that many records from [*cursor, end); the block may sit at any alignment, hence memcpy.
template <typename Record>
bool ReadList(const std::uint8_t** cursor, const std::uint8_t* end, std::vector<std::unique_ptr<Record>>* records) {
  if (std::size_t(end - *cursor) < kCountSize) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, *cursor, kCountSize);
  *cursor += kCountSize;
  if (std::uint64_t(count) * sizeof(Record) > std::uint64_t(end - *cursor)) return false;
  records->reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    auto record = std::make_unique<Record>();
    std::memcpy(record.get(), *cursor, sizeof(Record));
    *cursor += sizeof(Record);
    records->push_back(std::move(record));
  }
  return true;
}

}  // namespace

InitialisationData MakeInitialisationHeader() {
  InitialisationData header;
  std::memset(&header, 0, sizeof header);
  std::memcpy(header.magic, kInitMagic, sizeof header.magic);
  header.major = kInitMajor;
  header.minor = kInitMinor;
  header.build = kInitBuild;
  header.revision = kInitRevision;
  return header;
}

std::uint64_t InitialisationBlockSize(const tList& descriptors, const tList& options) {
  return kInitEmptyBlockSize + std::uint64_t(descriptors.m_Count) * sizeof(ModuleDescriptor) +
         std::uint64_t(options.m_Count) * sizeof(ModuleOption);
}

std::vector<std::uint8_t> SerialiseInitialisationData(const InitialisationData& settings, std::uint32_t mainThreadId,
                                                      const tList& descriptors, const tList& options) {
  std::vector<std::uint8_t> block(std::size_t(InitialisationBlockSize(descriptors, options)), 0);
  std::uint8_t* out = block.data();
  std::memcpy(out, &settings, kInitLauncherBytes);
  std::memcpy(out + kInitLauncherBytes, &mainThreadId, sizeof mainThreadId);
  out = WriteList<ModuleDescriptor>(out + kInitHeaderSize, descriptors);
  WriteList<ModuleOption>(out, options);
  return block;
}

bool ParseInitialisationData(const void* block, std::size_t size, InitialisationData* header, tList* descriptors,
                             tList* options) {
  if (block == nullptr || size < kInitHeaderSize) return false;
  const auto* cursor = static_cast<const std::uint8_t*>(block);
  const std::uint8_t* end = cursor + size;
  const std::uint8_t* headerBytes = cursor;
  cursor += kInitHeaderSize;
  std::vector<std::unique_ptr<ModuleDescriptor>> readDescriptors;
  std::vector<std::unique_ptr<ModuleOption>> readOptions;
  if (!ReadList(&cursor, end, &readDescriptors) || !ReadList(&cursor, end, &readOptions)) return false;
  std::memcpy(header, headerBytes, kInitHeaderSize);
  for (auto& record : readDescriptors) descriptors->Append(record.release());
  for (auto& record : readOptions) options->Append(record.release());
  return true;
}

void CopyDescriptorList(const tList& source, tList* target) { CopyList<ModuleDescriptor>(source, target); }
void CopyOptionList(const tList& source, tList* target) { CopyList<ModuleOption>(source, target); }

void FreeInitDataLists(tList* descriptors, tList* options) {
  FreeList<ModuleDescriptor>(descriptors);
  FreeList<ModuleOption>(options);
}

bool IsMountableModName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  return name.find_first_of(u"/\\") == std::u16string_view::npos;
}
