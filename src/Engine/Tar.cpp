// Read-only TAR archives: headers are read once, files are windows on the archive stream.
#include <engine/Tar.h>

#include <engine/Context.h>
#include <engine/Stream.h>
#include <engine/VexilBase.h>

#include <platform/text.h>

#include <cstring>

namespace Vexil3D {

namespace {

constexpr std::uint32_t kBlock = 512;

// Octal number of a header field: leading blanks are skipped, then the octal digits up to the first
// character that is not one (NUL and blank end the usual fields).
std::uint64_t ReadOctal(const unsigned char* field, std::size_t width) {
  std::size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  std::uint64_t value = 0;
  for (; i < width; ++i) {
    const unsigned char c = field[i];
    if (c < '0' || c > '7') break;
    if (value > (UINT64_MAX >> 3)) return UINT64_MAX;  // cannot come from a 12-byte field
    value = (value << 3) | static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::string FieldText(const unsigned char* field, std::size_t width) {
  std::size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

bool IsZeroBlock(const unsigned char* block) {
  for (std::uint32_t i = 0; i < kBlock; ++i)
    if (block[i] != 0) return false;
  return true;
}

bool ChecksumMatches(const unsigned char* block) {
  const std::uint64_t stored = ReadOctal(block + 148, 8);
  std::uint64_t unsignedSum = 0;
  std::int64_t signedSum = 0;
  for (std::uint32_t i = 0; i < kBlock; ++i) {
    const unsigned char byte = (i >= 148 && i < 156) ? static_cast<unsigned char>(' ') : block[i];
    unsignedSum += byte;
    signedSum += static_cast<signed char>(byte);
  }
  return stored == unsignedSum || (signedSum >= 0 && stored == static_cast<std::uint64_t>(signedSum));
}

}  // namespace

CTARArchive::CTARArchive() { m_Root.m_bDirectory = true; }

CTARArchive::~CTARArchive() { Clear(); }

void CTARArchive::Clear() {
  m_Root.m_Children.clear();
  m_Records.clear();
  if (m_pStream != nullptr) {
    m_pStream->Release();
    m_pStream = nullptr;
  }
}

bool CTARArchive::Open(Stream* stream) {
  // The new reference comes first: the stream may be the one the archive already holds.
  if (stream != nullptr) stream->AddRef();
  Clear();
  if (stream == nullptr) return false;
  m_pStream = stream;

  const std::uint64_t streamLength = stream->GetLength();
  unsigned char block[kBlock];
  for (;;) {
    if (stream->Read(block, kBlock) != kBlock || IsZeroBlock(block)) break;
    if (!ChecksumMatches(block)) {
      Clear();
      return false;
    }
    const std::uint64_t size = ReadOctal(block + 124, 12);
    char type = static_cast<char>(block[156]);
    if (type == '\0') type = '0';
    const std::uint64_t dataOffset = stream->Tell();
    // Data that runs past the end of the stream: the archive was cut off inside this entry. The
    // entry is kept with what there is of it, and nothing can follow it.
    const bool cutOff = dataOffset > streamLength || size > streamLength - dataOffset;
    const std::uint64_t kept = !cutOff ? size : dataOffset > streamLength ? 0 : streamLength - dataOffset;

    if (type == '0' || type == '5') {
      std::string name = FieldText(block, 100);
      if (std::memcmp(block + 257, "ustar", 5) == 0) {
        const std::string prefix = FieldText(block + 345, 155);
        if (!prefix.empty()) name = prefix + "/" + name;
      }
      std::u16string wide = text::Utf8ToUtf16(name);
      if (wide.size() >= kNameCapacity) wide.resize(kNameCapacity - 1);
      Record record;
      std::memset(&record, 0, sizeof(record));
      std::memcpy(record.m_Name, wide.data(), wide.size() * sizeof(char16_t));
      record.m_Type = static_cast<char16_t>(type);
      record.m_uOffset = dataOffset;
      record.m_uSize = kept;
      record.m_uModified = ReadOctal(block + 136, 12);
      if (m_Records.size() == m_Records.capacity()) m_Records.reserve(m_Records.empty() ? 2 : m_Records.size() * 2);
      m_Records.push_back(record);
      if (cutOff)
        LogF(LOG_WARN, u"TAR: \"%s\" runs past the end of the archive; %llu of its %llu bytes are kept.",
             record.m_Name, static_cast<unsigned long long>(kept), static_cast<unsigned long long>(size));
    }
    if (cutOff) break;

    const std::uint64_t padded = size + (kBlock - size % kBlock) % kBlock;
    if (padded > static_cast<std::uint64_t>(INT64_MAX) ||
        !stream->Seek(static_cast<std::int64_t>(padded), STREAM_SEEK_CURRENT))
      break;
  }
  BuildTree();
  return true;
}

std::uint32_t CTARArchive::HashOf(const Node& directory, std::u16string_view name) const {
  return GetNameHash(name, !directory.m_bCaseSensitive);
}

void CTARArchive::BuildTree() {
  m_Root.m_Children.clear();
  m_Root.m_bDirectory = true;
  m_Root.m_bCaseSensitive = true;
  for (std::uint32_t index = 0; index < m_Records.size(); ++index) {
    const Record& record = m_Records[index];
    if (record.m_Type != u'0') continue;
    // Older writers give a directory the file type and mark it by a trailing "/" alone: it is a
    // directory, which (as a type '5' record) exists through the files below it. A last component of "."
    // names the directory before it in the same way; dropped like the other "." components, it would
    // leave that directory as a file and refuse everything below it.
    const std::u16string_view whole(record.m_Name);
    const std::u16string_view last = whole.substr(whole.rfind(u'/') + 1);
    if (last.empty() || last == u".") continue;

    // Empty and "." components (from "a//b" or "./a") name no directory of their own.
    std::vector<std::u16string_view> parts;
    std::u16string_view rest(record.m_Name);
    while (!rest.empty()) {
      const std::size_t slash = rest.find(u'/');
      const std::u16string_view part = rest.substr(0, slash);
      if (!part.empty() && part != u".") parts.push_back(part);
      if (slash == std::u16string_view::npos) break;
      rest.remove_prefix(slash + 1);
    }
    if (parts.empty()) continue;

    Node* directory = &m_Root;
    bool placed = true;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      const std::uint32_t hash = HashOf(*directory, parts[i]);
      auto it = directory->m_Children.find(hash);
      if (it == directory->m_Children.end()) {
        auto child = std::make_unique<Node>();
        child->m_bDirectory = true;
        child->m_Name = std::u16string(parts[i]);
        child->m_bCaseSensitive = directory->m_bCaseSensitive;
        it = directory->m_Children.emplace(hash, std::move(child)).first;
      } else if (!it->second->m_bDirectory) {
        LogF(LOG_WARN, u"TAR: \"%s\" lies below the file \"%s\"; the entry is ignored.", record.m_Name,
             it->second->m_Name.c_str());
        placed = false;
        break;
      }
      directory = it->second.get();
    }
    if (!placed) continue;

    const std::uint32_t hash = HashOf(*directory, parts.back());
    auto it = directory->m_Children.find(hash);
    if (it != directory->m_Children.end()) {
      LogF(LOG_WARN, u"TAR: \"%s\" is already in the archive as a %s; the later entry is ignored.",
           record.m_Name, it->second->m_bDirectory ? u"directory" : u"file");
      continue;
    }
    auto file = std::make_unique<Node>();
    file->m_bDirectory = false;
    file->m_Name = std::u16string(parts.back());
    file->m_uRecord = index;
    directory->m_Children.emplace(hash, std::move(file));
  }
}

const CTARArchive::Node* CTARArchive::Find(const char16_t* path) const {
  if (path == nullptr) return nullptr;
  std::u16string_view rest(path);
  if (!rest.empty() && rest.front() == u'/') rest.remove_prefix(1);
  const Node* node = &m_Root;
  while (!rest.empty()) {
    const std::size_t slash = rest.find(u'/');
    const std::u16string_view part = rest.substr(0, slash);
    if (slash == std::u16string_view::npos)
      rest = {};
    else
      rest.remove_prefix(slash + 1);
    if (part.empty() || part == u".") continue;
    if (!node->m_bDirectory) return nullptr;
    auto it = node->m_Children.find(HashOf(*node, part));
    if (it == node->m_Children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

Stream* CTARArchive::Open(const char16_t* path, bool write) {
  if (write || m_pStream == nullptr) return nullptr;
  const Node* node = Find(path);
  if (node == nullptr || node->m_bDirectory) return nullptr;
  const Record& record = m_Records[node->m_uRecord];
  return new CStreamRangeStream(m_pStream, record.m_uOffset, record.m_uSize);
}

Stream* CTARArchive::Create(const char16_t*) { return nullptr; }

bool CTARArchive::Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) {
  const Node* node = Find(path);
  if (node == nullptr) return false;
  return node->m_bDirectory ? acceptDirectory : acceptFile;
}

bool CTARArchive::Enumerate(const char16_t* path, EnumerateCallback callback, void* context) {
  const Node* node = Find(path);
  if (node == nullptr || !node->m_bDirectory || callback == nullptr) return true;
  for (const auto& [hash, child] : node->m_Children) {
    (void)hash;
    EnumerateEntry entry;
    entry.m_bFile = child->m_bDirectory ? 0 : 1;
    entry.m_bDirectory = child->m_bDirectory ? 1 : 0;
    entry.m_pName = child->m_Name.c_str();
    entry.m_pPath = path;
    if (!callback(entry, context)) return false;
  }
  return true;
}

}  // namespace Vexil3D
