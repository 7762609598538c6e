// Memory, window and host-file streams, compact integers and strings, text reader and writer.
#include <engine/Stream.h>

#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include <platform/files.h>
#include <platform/sync.h>
#include <platform/text.h>

namespace Vexil3D {

// ---------------------------------------------------------------------------------------------
// Stream

std::uint64_t Stream::GetLength() {
  const std::uint64_t position = Tell();
  Seek(0, STREAM_SEEK_END);
  const std::uint64_t length = Tell();
  Seek(static_cast<std::int64_t>(position), STREAM_SEEK_BEGIN);
  return length;
}

bool Stream::SetFileTime(std::uint64_t) { return false; }

std::uint64_t Stream::GetRemaining() {
  const std::uint64_t position = Tell();
  const std::uint64_t length = GetLength();
  return position < length ? length - position : 0;
}

namespace {

// The position that a seek asks for, or false when it lies below 0 or cannot be computed.
bool SeekTarget(std::int64_t offset, std::uint32_t origin, std::uint64_t position, std::uint64_t length,
                std::uint64_t* target) {
  std::uint64_t base;
  switch (origin) {
    case STREAM_SEEK_BEGIN: base = 0; break;
    case STREAM_SEEK_CURRENT: base = position; break;
    case STREAM_SEEK_END: base = length; break;
    default: return false;
  }
  if (offset < 0) {
    const std::uint64_t back = static_cast<std::uint64_t>(-(offset + 1)) + 1;
    if (back > base) return false;
    *target = base - back;
  } else {
    const std::uint64_t forward = static_cast<std::uint64_t>(offset);
    if (forward > std::numeric_limits<std::uint64_t>::max() - base) return false;
    *target = base + forward;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CMemoryStream

CMemoryStream::CMemoryStream(const void* data, std::uint32_t size)
    : m_pData(static_cast<unsigned char*>(const_cast<void*>(data))), m_uSize(data ? size : 0), m_uAccess(ACCESS_READ) {}

CMemoryStream::CMemoryStream(void* data, std::uint32_t size, std::uint32_t access, CRefCounted* owner)
    : m_pOwner(owner), m_pData(static_cast<unsigned char*>(data)), m_uSize(data ? size : 0), m_uAccess(access) {}

std::uint32_t CMemoryStream::Read(void* buffer, std::uint32_t size) {
  if (!(m_uAccess & ACCESS_READ) || !buffer || m_uPosition >= m_uSize) return 0;
  const std::uint32_t count = size < m_uSize - m_uPosition ? size : m_uSize - m_uPosition;
  std::memcpy(buffer, m_pData + m_uPosition, count);
  m_uPosition += count;
  return count;
}

std::uint32_t CMemoryStream::Write(const void* data, std::uint32_t size) {
  if (!(m_uAccess & ACCESS_WRITE) || !data || size == 0) return 0;
  // All or nothing; compared without forming position + size, which could wrap.
  if (m_uPosition > m_uSize || size > m_uSize - m_uPosition) return 0;
  std::memcpy(m_pData + m_uPosition, data, size);
  m_uPosition += size;
  return size;
}

bool CMemoryStream::Seek(std::int64_t offset, std::uint32_t origin) {
  std::uint64_t target;
  if (!SeekTarget(offset, origin, m_uPosition, m_uSize, &target)) return false;
  if (target > std::numeric_limits<std::uint32_t>::max()) return false;
  m_uPosition = static_cast<std::uint32_t>(target);
  return true;
}

// ---------------------------------------------------------------------------------------------
// CStreamRangeStream

CStreamRangeStream::CStreamRangeStream(Stream* source, std::uint64_t start, std::uint64_t length)
    : m_pSource(source), m_uStart(start), m_uLength(length) {
  // A window that would reach past what a position can hold is cut there.
  if (m_uLength > std::numeric_limits<std::uint64_t>::max() - m_uStart)
    m_uLength = std::numeric_limits<std::uint64_t>::max() - m_uStart;
}

std::uint32_t CStreamRangeStream::Read(void* buffer, std::uint32_t size) {
  if (!m_pSource || !buffer || m_uPosition >= m_uLength) return 0;
  const std::uint64_t left = m_uLength - m_uPosition;
  const std::uint32_t count = size < left ? size : static_cast<std::uint32_t>(left);
  if (count == 0) return 0;
  if (!m_pSource->Seek(static_cast<std::int64_t>(m_uStart + m_uPosition), STREAM_SEEK_BEGIN)) return 0;
  const std::uint32_t read = m_pSource->Read(buffer, count);
  m_uPosition += read;
  return read;
}

std::uint32_t CStreamRangeStream::Write(const void* data, std::uint32_t size) {
  if (!m_pSource || !data || size == 0) return 0;
  if (m_uPosition > m_uLength || size > m_uLength - m_uPosition) return 0;
  if (!m_pSource->Seek(static_cast<std::int64_t>(m_uStart + m_uPosition), STREAM_SEEK_BEGIN)) return 0;
  const std::uint32_t written = m_pSource->Write(data, size);
  m_uPosition += written;
  return written;
}

bool CStreamRangeStream::Seek(std::int64_t offset, std::uint32_t origin) {
  std::uint64_t target;
  if (!SeekTarget(offset, origin, m_uPosition, m_uLength, &target)) return false;
  // Keeps start + position within what a signed 64-bit seek of the source can express.
  if (target > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - m_uStart) return false;
  m_uPosition = target;
  return true;
}

// ---------------------------------------------------------------------------------------------
// CWindowsStream

CWindowsStream::CWindowsStream(HANDLE file) : m_hFile(file) {}

CWindowsStream::~CWindowsStream() {
  if (m_hFile && m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
}

CWindowsStream* CWindowsStream::Open(const char16_t* hostPath, bool write) {
  if (!hostPath) return nullptr;
  std::u16string path(hostPath);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  const DWORD access = write ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  auto* stream = new (std::nothrow) CWindowsStream(file);
  if (!stream) CloseHandle(file);
  return stream;
}

std::uint32_t CWindowsStream::Read(void* buffer, std::uint32_t size) {
  DWORD read = 0;
  if (!ReadFile(m_hFile, buffer, size, &read, nullptr)) return 0;
  return read;
}

std::uint32_t CWindowsStream::Write(const void* data, std::uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(m_hFile, data, size, &written, nullptr)) return 0;
  return written;
}

bool CWindowsStream::Seek(std::int64_t offset, std::uint32_t origin) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(m_hFile, distance, nullptr, origin) != FALSE;
}

std::uint64_t CWindowsStream::Tell() {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER position;
  position.QuadPart = 0;
  if (!SetFilePointerEx(m_hFile, zero, &position, FILE_CURRENT)) return 0;
  return static_cast<std::uint64_t>(position.QuadPart);
}

std::uint64_t CWindowsStream::GetLength() {
  LARGE_INTEGER size;
  size.QuadPart = 0;
  if (!GetFileSizeEx(m_hFile, &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool CWindowsStream::SetFileTime(std::uint64_t seconds) {
  constexpr std::uint64_t kEpochDifference = 116444736000000000ull;  // 1601 to 1970 in 100 ns
  constexpr std::uint64_t kUnitsPerSecond = 10000000ull;
  if (seconds > (std::numeric_limits<std::uint64_t>::max() - kEpochDifference) / kUnitsPerSecond) return false;
  const std::uint64_t units = seconds * kUnitsPerSecond + kEpochDifference;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(units);
  time.dwHighDateTime = static_cast<DWORD>(units >> 32);
  return ::SetFileTime(m_hFile, nullptr, nullptr, &time) != FALSE;
}

// ---------------------------------------------------------------------------------------------
// Compact integers and strings

namespace {

bool ReadCompact(Stream* stream, std::uint32_t* value, std::uint32_t* bytes) {
  std::uint32_t result = 0;
  std::uint32_t shift = 0;
  std::uint32_t count = 0;
  for (;;) {
    if (shift >= 35) return false;
    std::uint8_t byte;
    if (stream->Read(&byte, 1) != 1) return false;
    ++count;
    // The fifth byte carries the top 4 bits only; anything more would be silently lost.
    if (shift == 28 && byte > 0x0F) return false;
    result |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
    shift += 7;
    if (!(byte & 0x80)) break;
  }
  if (value) *value = result;
  if (bytes) *bytes = count;
  return true;
}

}  // namespace

bool WriteCompactInteger(Stream* stream, std::uint32_t value) {
  if (!stream) return false;
  std::uint8_t bytes[5];
  std::uint32_t count = 0;
  while (value >= 0x80) {
    bytes[count++] = static_cast<std::uint8_t>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  bytes[count++] = static_cast<std::uint8_t>(value);
  // One byte at a time, as the format was always written; any failed byte fails.
  for (std::uint32_t i = 0; i < count; ++i)
    if (stream->Write(&bytes[i], 1) != 1) return false;
  return true;
}

bool ReadCompactInteger(Stream* stream, std::uint32_t* value) {
  if (!stream) return false;
  return ReadCompact(stream, value, nullptr);
}

std::uint32_t GetCompactIntegerSize(std::uint32_t value) {
  std::uint32_t size = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++size;
  }
  return size;
}

bool WriteString(Stream* stream, const char16_t* text, std::uint32_t length) {
  if (!stream) return false;
  if (length == 0) {
    const std::uint8_t zero = 0;
    return stream->Write(&zero, 1) == 1;
  }
  if (!text) return false;
  const std::string utf8 = text::Utf16ToUtf8(std::u16string_view(text, length));
  if (utf8.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  const auto count = static_cast<std::uint32_t>(utf8.size());
  if (!WriteCompactInteger(stream, count)) return false;
  return count == 0 || stream->Write(utf8.data(), count) == count;
}

char16_t* ReadString(Stream* stream, std::uint32_t* length, std::uint32_t* consumed) {
  if (!stream) return nullptr;
  std::uint32_t count = 0;
  std::uint32_t countBytes = 0;
  if (!ReadCompact(stream, &count, &countBytes)) return nullptr;
  // A count beyond what the stream still holds cannot be met: refuse it before allocating.
  if (count > stream->GetRemaining()) return nullptr;
  if (count > std::numeric_limits<std::uint32_t>::max() - countBytes) return nullptr;
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[std::size_t(count) + 1]);
  if (!bytes) return nullptr;
  if (count != 0 && stream->Read(bytes.get(), count) != count) return nullptr;
  bytes[count] = '\0';
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(bytes.get(), count));
  char16_t* result = new (std::nothrow) char16_t[wide.size() + 1];
  if (!result) return nullptr;
  std::memcpy(result, wide.data(), wide.size() * sizeof(char16_t));
  result[wide.size()] = u'\0';
  if (length) *length = static_cast<std::uint32_t>(wide.size());
  if (consumed) *consumed = countBytes + count;
  return result;
}

std::uint32_t GetStringSize(const char16_t* text, std::uint32_t length) {
  if (length == 0 || !text) return 1;
  const std::string utf8 = text::Utf16ToUtf8(std::u16string_view(text, length));
  const auto count = static_cast<std::uint32_t>(utf8.size());
  return GetCompactIntegerSize(count) + count;
}

// ---------------------------------------------------------------------------------------------
// CTextReader

CTextReader::CTextReader(Stream* stream) : m_pStream(stream) {}

CTextReader::~CTextReader() { Close(); }

void CTextReader::Close() {
  delete[] m_pText;
  m_pText = nullptr;
  m_uLength = 0;
  m_uPosition = 0;
  m_pStream = nullptr;
}

void CTextReader::DetectEncoding() {
  if (m_iEncoding != ENCODING_UNKNOWN || !m_pStream) return;
  const std::uint64_t start = m_pStream->Tell();
  std::uint8_t bom[4] = {};
  const std::uint32_t got = m_pStream->Read(bom, 4);
  std::uint32_t skip = 0;
  if (got >= 3 && bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF) {
    m_iEncoding = ENCODING_UTF8;
    skip = 3;
  } else if (got >= 2 && bom[0] == 0xFF && bom[1] == 0xFE) {
    m_iEncoding = ENCODING_UTF16;  // FF FE 00 00 as well
    skip = 2;
  } else if (got >= 2 && bom[0] == 0xFE && bom[1] == 0xFF) {
    m_iEncoding = ENCODING_UTF16;
    m_bBigEndian = true;
    skip = 2;
  } else if (got >= 4 && bom[0] == 0x00 && bom[1] == 0x00 && bom[2] == 0xFE && bom[3] == 0xFF) {
    m_iEncoding = ENCODING_UTF32;
    m_bBigEndian = true;
    skip = 4;
  } else {
    m_iEncoding = ENCODING_UTF8;
  }
  m_pStream->Seek(static_cast<std::int64_t>(start + skip), STREAM_SEEK_BEGIN);
}

bool CTextReader::Load() {
  if (m_pText) return true;
  if (m_bLoadFailed || !m_pStream) return false;
  DetectEncoding();
  m_bLoadFailed = true;
  // Big-endian UTF-16 and UTF-32 are recognised but not read.
  if (m_iEncoding != ENCODING_UTF8 && !(m_iEncoding == ENCODING_UTF16 && !m_bBigEndian)) return false;
  const std::uint64_t remaining = m_pStream->GetRemaining();
  if (remaining > 0x7FFFFFFFu) return false;
  const auto size = static_cast<std::uint32_t>(remaining);
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[std::size_t(size) + 1]);
  if (!bytes) return false;
  const std::uint32_t got = size ? m_pStream->Read(bytes.get(), size) : 0;
  std::u16string decoded;
  if (m_iEncoding == ENCODING_UTF8) {
    decoded = text::Utf8ToUtf16(std::string_view(bytes.get(), got));
  } else {
    decoded.resize(got / 2);
    std::memcpy(decoded.data(), bytes.get(), (got / 2) * 2);
  }
  m_pText = new (std::nothrow) char16_t[decoded.size() + 1];
  if (!m_pText) return false;
  std::memcpy(m_pText, decoded.data(), decoded.size() * sizeof(char16_t));
  m_pText[decoded.size()] = u'\0';
  m_uLength = static_cast<std::uint32_t>(decoded.size());
  m_uPosition = 0;
  m_bLoadFailed = false;
  return true;
}

int CTextReader::GetEncoding() {
  DetectEncoding();
  return m_iEncoding;
}

bool CTextReader::IsBigEndian() {
  DetectEncoding();
  return m_bBigEndian;
}

const char16_t* CTextReader::GetText(std::uint32_t* length) {
  if (!Load()) {
    if (length) *length = 0;
    return nullptr;
  }
  if (length) *length = m_uLength;
  return m_pText;
}

std::uint32_t CTextReader::Read(char16_t* buffer, std::uint32_t count) {
  if (!buffer || !Load() || m_uPosition >= m_uLength) return 0;
  const std::uint32_t left = m_uLength - m_uPosition;
  if (count > left) count = left;
  std::memcpy(buffer, m_pText + m_uPosition, count * sizeof(char16_t));
  m_uPosition += count;
  return count;
}

bool CTextReader::ReadCodePoint(std::uint32_t* codePoint) {
  char16_t unit;
  if (Read(&unit, 1) != 1) return false;
  std::uint32_t value = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF && m_uPosition < m_uLength) {
    const char16_t low = m_pText[m_uPosition];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      value = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
      ++m_uPosition;
    }
  }
  if (codePoint) *codePoint = value;
  return true;
}

bool CTextReader::ReadLine(char16_t* buffer, unsigned int capacity, unsigned int* length) {
  if (length) *length = 0;
  if (!buffer || capacity == 0) return false;
  // Line buffers hold kLineCapacity units; a larger figure (a size in bytes, say) is not trusted.
  if (capacity > kLineCapacity) capacity = kLineCapacity;
  buffer[0] = u'\0';
  if (capacity < 2 || !Load() || m_uPosition >= m_uLength) return false;

  const std::uint32_t limit = capacity - 1;  // units that fit before the terminator
  const char16_t* start = m_pText + m_uPosition;
  const std::uint32_t remaining = m_uLength - m_uPosition;
  // A line of exactly `limit` units still fits when its CR LF lies just past the room.
  const std::uint32_t window = remaining < limit + 2u ? remaining : limit + 2u;

  std::uint32_t take = 0;
  std::uint32_t advance = 0;
  bool foundLine = false;
  for (std::uint32_t i = 0; i < window; ++i) {
    if (start[i] != u'\n') continue;
    const std::uint32_t lineLength = (i > 0 && start[i - 1] == u'\r') ? i - 1 : i;
    if (lineLength <= limit) {
      take = lineLength;
      advance = i + 1;
      foundLine = true;
    }
    break;
  }
  if (!foundLine) {
    if (remaining <= limit) {
      // The text ends without a line feed.
      take = advance = remaining;
    } else {
      // Longer than the buffer: hand out one piece, the rest follows on the next call.
      take = limit;
      if (take > 1 && start[take - 1] >= 0xD800 && start[take - 1] <= 0xDBFF && start[take] >= 0xDC00 &&
          start[take] <= 0xDFFF)
        --take;
      advance = take;
    }
  }
  std::memcpy(buffer, start, take * sizeof(char16_t));
  buffer[take] = u'\0';
  m_uPosition += advance;
  if (length) *length = take;
  return true;
}

bool CTextReader::ReadLine(std::u16string* line) {
  line->clear();
  char16_t piece[kLineCapacity];
  unsigned int length = 0;
  if (!ReadLine(piece, kLineCapacity, &length)) return false;
  line->append(piece, length);
  // A piece that ran out of room stops short of its line feed, which is still ahead; a finished line
  // has stepped over it, or ended with the text.
  while (m_uPosition < m_uLength && m_pText[m_uPosition - 1] != u'\n' && ReadLine(piece, kLineCapacity, &length))
    line->append(piece, length);
  return true;
}

// ---------------------------------------------------------------------------------------------
// CTextWriter

CTextWriter::CTextWriter(Stream* stream) : m_pStream(stream) {}

bool CTextWriter::WriteBOM() {
  if (!m_pStream || m_pStream->Tell() != 0) return false;
  std::uint8_t bom[4];
  std::uint32_t size = 0;
  switch (m_iEncoding) {
    case ENCODING_NONE: return true;
    case ENCODING_UTF8:
      bom[0] = 0xEF, bom[1] = 0xBB, bom[2] = 0xBF;
      size = 3;
      break;
    case ENCODING_UTF16:
      if (m_bBigEndian) bom[0] = 0xFE, bom[1] = 0xFF;
      else bom[0] = 0xFF, bom[1] = 0xFE;
      size = 2;
      break;
    case ENCODING_UTF32:
      if (m_bBigEndian) bom[0] = 0x00, bom[1] = 0x00, bom[2] = 0xFE, bom[3] = 0xFF;
      else bom[0] = 0xFF, bom[1] = 0xFE, bom[2] = 0x00, bom[3] = 0x00;
      size = 4;
      break;
    default: return false;
  }
  for (std::uint32_t i = 0; i < size; ++i)
    if (m_pStream->Write(&bom[i], 1) != 1) return false;
  return true;
}

bool CTextWriter::Write(const char16_t* text, std::uint32_t length) {
  if (!m_pStream || (length != 0 && !text)) return false;
  const bool utf8 = m_iEncoding == ENCODING_UTF8;
  const bool utf16 = m_iEncoding == ENCODING_UTF16 && !m_bBigEndian;
  // Checked before the byte-order mark, so a refused write leaves the stream untouched.
  if (!utf8 && !utf16) return false;
  if (m_pStream->Tell() == 0 && !WriteBOM()) return false;
  if (length == 0) return true;
  if (utf8) {
    const std::string bytes = text::Utf16ToUtf8(std::u16string_view(text, length));
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    return size == 0 || m_pStream->Write(bytes.data(), size) == size;
  }
  if (length > std::numeric_limits<std::uint32_t>::max() / 2) return false;
  return m_pStream->Write(text, length * 2) == length * 2;
}

bool CTextWriter::Printf(const char16_t* format, ...) {
  if (!format) return false;
  char16_t buffer[kPrintfCapacity];
  va_list args;
  va_start(args, format);
  text::FormatV(buffer, kPrintfCapacity, format, args);
  va_end(args);
  return Write(buffer, static_cast<std::uint32_t>(text::Length(buffer)));
}

}  // namespace Vexil3D
