// HBF chunk trees: the record reader, the file reader, the chunk registry and the data chunks.
#include <engine/HBFChunk.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include <engine/MemoryBlock.h>
#include <engine/Stream.h>
#include <engine/VexilArray.h>

namespace Vexil3D {

namespace {

constexpr std::uint32_t kMagicBytes = 3;
constexpr char kMagic[kMagicBytes + 1] = "HBF";
constexpr std::uint32_t kFirstSizedVersion = 8;  // from this version on a u32 follows the version
constexpr std::uint32_t kLastHeaderSizeVersion = 6;  // up to this version records carry header and record sizes
constexpr std::uint32_t kPayloadSizeBytes = 4;
// The fewest bytes one child record takes: type id, a one-byte empty name, payload size and child
// count, plus the header size and record size of the older records.
constexpr std::uint64_t kMinChildBytes = 4 + 1 + 4 + 4;
constexpr std::uint64_t kMinOldChildBytes = 4 + 2 + 1 + 4 + 4 + 2;
constexpr std::uint32_t kMaxCompactBytes = 5;
constexpr std::uint32_t kOverflowBuckets = 8;
// Deflate never expands its input by more than this (plus a few bytes of stream framing): a stated
// size beyond it cannot come out of the compressed bytes, and is refused before allocating.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kDeflateSlack = 64;

template <class T>
bool ReadValue(Stream* stream, T* value) {
  return stream->Read(value, sizeof(T)) == sizeof(T);
}

bool SkipForward(Stream* stream, std::uint64_t count) {
  return count == 0 || stream->Seek(static_cast<std::int64_t>(count), STREAM_SEEK_CURRENT);
}

// The byte count of a compact string whose prefix and bytes together took `taken` bytes.
std::uint64_t NameByteCount(std::uint64_t taken) {
  for (std::uint32_t prefix = 1; prefix <= kMaxCompactBytes && prefix <= taken; ++prefix) {
    const std::uint64_t bytes = taken - prefix;
    if (bytes <= UINT32_MAX && GetCompactIntegerSize(static_cast<std::uint32_t>(bytes)) == prefix) return bytes;
  }
  return taken > 0 ? taken - 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// The registry

struct Registry {
  Array<CChunk::Creator> table;
  std::unique_ptr<std::uint8_t[]> present;
  std::uint32_t count = 0;
  std::unordered_map<std::uint32_t, CChunk::Creator>* overflow = nullptr;
};

Registry g_Registry;

template <class T>
CChunk* MakeChunk() {
  return new (std::nothrow) T;
}

CChunk* MakeDataChunk() { return new (std::nothrow) CDataChunk(CHUNK_DATA); }

// Fills the registry before any chunk is read and frees it at exit.
struct RegistryLifetime {
  RegistryLifetime() { CChunk::RegisterTypes(); }
  ~RegistryLifetime() { CChunk::UnregisterTypes(); }
};
RegistryLifetime g_RegistryLifetime;

}  // namespace

void CChunk::RegisterTypes() {
  UnregisterTypes();
  g_Registry.table.SetSize(kTableSize);
  g_Registry.present.reset(new std::uint8_t[kTableSize]());
  g_Registry.count = 0;
  g_Registry.overflow = new std::unordered_map<std::uint32_t, Creator>;
  g_Registry.overflow->max_load_factor(1.0f);
  g_Registry.overflow->rehash(kOverflowBuckets);
  Register(CHUNK_DATA, MakeDataChunk);
  Register(CHUNK_IMAGEDATA, MakeChunk<CImageDataChunk>);
  Register(CHUNK_HISTORY, MakeChunk<CHistoryChunk>);
  Register(CHUNK_TEXTURE, MakeChunk<CTextureChunk>);
  Register(CHUNK_ELEMENT, MakeChunk<CElementChunk>);
}

void CChunk::UnregisterTypes() {
  g_Registry.table.Free();
  g_Registry.present.reset();
  g_Registry.count = 0;
  delete g_Registry.overflow;
  g_Registry.overflow = nullptr;
}

void CChunk::Register(std::uint32_t type, Creator creator) {
  if (type >= kTableSize) {
    if (g_Registry.overflow) (*g_Registry.overflow)[type] = creator;
    return;
  }
  g_Registry.table.SetAt(type, creator);
  if (!g_Registry.present || type >= g_Registry.table.GetSize()) return;
  if (!g_Registry.present[type]) ++g_Registry.count;
  g_Registry.present[type] = 1;
}

CChunk* CChunk::Create(std::uint32_t type) {
  Creator creator = nullptr;
  if (type >= kTableSize) {
    if (g_Registry.overflow) {
      auto found = g_Registry.overflow->find(type);
      if (found != g_Registry.overflow->end()) creator = found->second;
    }
  } else if (g_Registry.present && g_Registry.present[type]) {
    creator = g_Registry.table.GetAt(type);
  }
  if (creator) {
    if (CChunk* chunk = creator()) return chunk;
  }
  return new CDataChunk(type);
}

// ---------------------------------------------------------------------------------------------
// CChunk

CChunk::~CChunk() {
  Detach();
  DropChildren();
}

bool CChunk::ReadData(Stream*) { return true; }

bool CChunk::WriteData(Stream*) { return true; }

CChunk* CChunk::GetChild(std::uint32_t index) const { return index < m_Children.size() ? m_Children[index] : nullptr; }

void CChunk::Detach() {
  if (m_pParent) {
    // By identity: stored indexes go stale once an earlier sibling leaves, and a child whose read
    // failed is not in the list at all.
    std::vector<CChunk*>& siblings = m_pParent->m_Children;
    auto found = std::find(siblings.begin(), siblings.end(), this);
    if (found != siblings.end()) siblings.erase(found);
  }
  m_uIndex = 0;
  m_pParent = nullptr;
}

void CChunk::AppendChild(CChunk* child) {
  if (!child || child == this) return;
  child->Detach();
  child->m_pParent = this;
  child->m_uIndex = GetChildCount();
  m_Children.push_back(child);
}

std::vector<CChunk*> CChunk::ReleaseChildren() {
  std::vector<CChunk*> children;
  children.swap(m_Children);
  for (CChunk* child : children) {
    child->m_pParent = nullptr;
    child->m_uIndex = 0;
  }
  return children;
}

// How one pass reads a tree: where its bytes end, how a version 6 header counts a long name, and whether
// a long name was met that the other count would have read differently.
struct CChunk::Reading {
  std::uint64_t end;
  bool oneByteNames;
  bool eitherCount = false;
};

bool CChunk::Read(Stream* stream) {
  if (!stream) return false;
  return ReadTree(stream, stream->GetLength());
}

void CChunk::DropChildren() {
  for (CChunk* child : m_Children) {
    child->m_pParent = nullptr;
    delete child;
  }
  m_Children.clear();
}

bool CChunk::ReadTree(Stream* stream, std::uint64_t end) {
  const std::uint64_t start = stream->Tell();
  const bool fresh = m_Children.empty();  // a chunk that has children fails (and asserts) once
  Reading whole{end, false};
  if (ReadRecord(stream, &whole, 0)) return true;
  if (!whole.eitherCount || !fresh) return false;
  // The one-byte writer's file: what the first pass stored goes, and the tree is read again.
  DropChildren();
  if (!stream->Seek(static_cast<std::int64_t>(start), STREAM_SEEK_BEGIN)) return false;
  Reading oneByte{end, true};
  return ReadRecord(stream, &oneByte, 0);
}

bool CChunk::ReadRecord(Stream* stream, Reading* reading, std::uint32_t depth) {
  const std::uint64_t end = reading->end;
  if (depth > kMaxDepth) return false;
  const bool old = m_uVersion <= kLastHeaderSizeVersion;

  // Header size and name.
  std::uint16_t headerSize = 0;
  if (old && !ReadValue(stream, &headerSize)) return false;
  const std::uint64_t nameStart = stream->Tell();
  std::uint32_t nameLength = 0;
  std::uint32_t consumed = 0;
  char16_t* name = ReadString(stream, &nameLength, &consumed);
  if (name) {
    m_Name.assign(name, nameLength);
    delete[] name;
  } else {
    m_Name.clear();
  }
  if (old) {
    const std::uint64_t taken = stream->Tell() - nameStart;
    // Writers disagree on the name's share of the header: the whole compact prefix, or one byte. Where
    // the whole prefix does not fit the header only the one byte can be meant.
    const std::int64_t wholeRest = std::int64_t(headerSize) - std::int64_t(taken);
    const std::int64_t oneByteRest = std::int64_t(headerSize) - std::int64_t(NameByteCount(taken) + 1);
    if (wholeRest >= 0 && oneByteRest != wholeRest) reading->eitherCount = true;
    const std::int64_t rest = wholeRest < 0 || reading->oneByteNames ? oneByteRest : wholeRest;
    if (rest < 0) return false;
    if (!SkipForward(stream, static_cast<std::uint64_t>(rest))) return false;
  }

  // Record size and payload.
  std::uint32_t recordSize = 0;
  if (old && !ReadValue(stream, &recordSize)) return false;
  std::uint32_t payloadSize = 0;
  if (!ReadValue(stream, &payloadSize)) return false;
  if (old && std::uint64_t(recordSize) < std::uint64_t(kPayloadSizeBytes) + payloadSize) return false;
  const std::uint64_t payloadStart = stream->Tell();
  if (payloadStart > end || payloadSize > end - payloadStart) return false;
  {
    Strong<Stream> window;
    window.Attach(new (std::nothrow) CStreamRangeStream(stream, payloadStart, payloadSize));
    if (!window || !ReadData(window)) return false;
  }
  if (!stream->Seek(static_cast<std::int64_t>(payloadStart + payloadSize), STREAM_SEEK_BEGIN)) return false;
  if (old && !SkipForward(stream, std::uint64_t(recordSize) - kPayloadSizeBytes - payloadSize)) return false;

  // Children.
  std::uint32_t childCount = 0;
  if (old) {
    std::uint16_t count16 = 0;
    if (!ReadValue(stream, &count16)) return false;
    childCount = count16;
  } else if (!ReadValue(stream, &childCount)) {
    return false;
  }
  const std::uint64_t position = stream->Tell();
  const std::uint64_t left = position < end ? end - position : 0;
  if (std::uint64_t(childCount) * (old ? kMinOldChildBytes : kMinChildBytes) > left) return false;
  VEXIL_ASSERT(m_Children.size() == 0);
  if (m_Children.size() != 0) return false;
  m_Children.reserve(childCount);
  for (std::uint32_t i = 0; i < childCount; ++i) {
    std::uint32_t type = 0;
    if (!ReadValue(stream, &type)) return false;
    CChunk* child = Create(type);
    child->m_uVersion = m_uVersion;
    child->m_pParent = this;
    child->m_uIndex = i;
    if (!child->ReadRecord(stream, reading, depth + 1)) {
      delete child;
      return false;
    }
    child->OnLoaded();
    m_Children.push_back(child);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// CRootChunk

bool CRootChunk::Read(Stream* source) {
  if (!source) return false;
  Strong<Stream> hold(source);
  char magic[kMagicBytes + 1];
  if (source->Read(magic, sizeof(magic)) != sizeof(magic) || std::memcmp(magic, kMagic, kMagicBytes) != 0)
    return false;
  const auto flag = static_cast<std::uint8_t>(magic[kMagicBytes]);
  if (!ReadValue(source, &m_uVersion)) return false;
  std::uint32_t skipped = 0;
  if (m_uVersion >= kFirstSizedVersion && !ReadValue(source, &skipped)) return false;
  if (m_uVersion < kMinVersion || m_uVersion > kMaxVersion) return false;

  Strong<Stream> body;
  std::uint64_t end = 0;
  if (flag == kFlagCompressed) {
    m_bCompressed = true;
    std::uint32_t inflatedSize = 0;
    std::uint32_t compressedSize = 0;
    if (!ReadValue(source, &inflatedSize) || !ReadValue(source, &compressedSize) || !ReadValue(source, &m_uKept))
      return false;
    if (inflatedSize > kMaxInflatedSize || compressedSize > source->GetRemaining()) return false;
    if (inflatedSize > std::uint64_t(compressedSize) * kMaxDeflateRatio + kDeflateSlack) return false;
    std::unique_ptr<std::uint8_t[]> compressed(new (std::nothrow) std::uint8_t[compressedSize == 0 ? 1 : compressedSize]);
    if (!compressed || source->Read(compressed.get(), compressedSize) != compressedSize) return false;
    Strong<CMemoryBlock> block;
    block.Attach(CMemoryBlock::Create(inflatedSize));
    if (!block) return false;
    uLongf inflated = inflatedSize;
    uLong taken = compressedSize;
    if (uncompress2(block->GetData(), &inflated, compressed.get(), &taken) != Z_OK || inflated != inflatedSize)
      return false;
    compressed.reset();
    body.Attach(block->CreateStream(inflatedSize));
    if (!body) return false;
    end = inflatedSize;
  } else if (flag == kFlagPlain) {
    body = source;
    end = source->GetLength();
  } else {
    return false;
  }
  if (!ReadValue(body.Get(), &skipped)) return false;
  return ReadTree(body, end);
}

// ---------------------------------------------------------------------------------------------
// CDataChunk and CHistoryChunk

void CDataChunk::SetData(const void* data, std::uint32_t size) {
  m_pData.reset(size ? new std::uint8_t[size] : nullptr);
  m_uSize = size;
  if (size) std::memcpy(m_pData.get(), data, size);
}

bool CDataChunk::ReadData(Stream* payload) {
  m_pData.reset();
  m_uSize = 0;
  const std::uint64_t length = payload->GetLength();
  if (length == 0) return true;
  if (length > UINT32_MAX) return false;
  const auto size = static_cast<std::uint32_t>(length);
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]);
  if (!data || payload->Read(data.get(), size) != size) return false;
  m_pData = std::move(data);
  m_uSize = size;
  return true;
}

bool CDataChunk::WriteData(Stream* stream) {
  return m_uSize == 0 || stream->Write(m_pData.get(), m_uSize) == m_uSize;
}

bool CHistoryChunk::ReadData(Stream* payload) {
  m_pText.reset();
  m_uSize = 0;
  const std::uint64_t length = payload->GetLength();
  if (length >= UINT32_MAX) return false;
  const auto size = static_cast<std::uint32_t>(length);
  std::unique_ptr<char[]> text(new (std::nothrow) char[std::size_t(size) + 1]);
  if (!text) return false;
  text[size] = '\0';
  if (size != 0 && payload->Read(text.get(), size) != size) return false;
  m_pText = std::move(text);
  m_uSize = size;
  return true;
}

bool CHistoryChunk::WriteData(Stream* stream) {
  return m_uSize == 0 || stream->Write(m_pText.get(), m_uSize) == m_uSize;
}

}  // namespace Vexil3D
