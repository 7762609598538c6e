#pragma once
// Byte streams of the engine (64-bit positions), compact integers and strings, and the text reader
// and writer.
#include <cstdint>
#include <string>

#include <engine/VexilBase.h>
#include <engine/VexilReference.h>
#include <platform/win32types.h>

namespace Vexil3D {

constexpr std::uint32_t STREAM_SEEK_BEGIN = 0;
constexpr std::uint32_t STREAM_SEEK_CURRENT = 1;
constexpr std::uint32_t STREAM_SEEK_END = 2;

class Stream : public CBaseObject {
 public:
  virtual std::uint32_t Read(void* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t Write(const void* data, std::uint32_t size) = 0;
  virtual bool Seek(std::int64_t offset, std::uint32_t origin) = 0;
  virtual std::uint64_t Tell() = 0;
  virtual std::uint64_t GetLength();
  // Seconds since 1970-01-01 UTC; false where the stream has no time.
  virtual bool SetFileTime(std::uint64_t seconds);

  // Bytes between the position and the end (0 when the position lies past the end).
  std::uint64_t GetRemaining();
};

// A stream over a memory block that it does not free; an owner object, when given, is kept alive
// for as long as the stream.
class CMemoryStream : public Stream {
 public:
  static constexpr std::uint32_t ACCESS_READ = 1;
  static constexpr std::uint32_t ACCESS_WRITE = 2;

  CMemoryStream(const void* data, std::uint32_t size);
  CMemoryStream(void* data, std::uint32_t size, std::uint32_t access, CRefCounted* owner = nullptr);

  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  // Positions past the end are allowed (reads there give 0); positions below 0 or beyond what a
  // 32-bit position holds are refused.
  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint64_t Tell() override { return m_uPosition; }
  std::uint64_t GetLength() override { return m_uSize; }

  const void* GetData() const { return m_pData; }

 private:
  Strong<CRefCounted> m_pOwner;
  unsigned char* m_pData;
  std::uint32_t m_uSize;
  std::uint32_t m_uPosition = 0;
  std::uint32_t m_uAccess;
};

// A window [start, start + length) on another stream. Every access moves the source's position.
class CStreamRangeStream : public Stream {
 public:
  CStreamRangeStream(Stream* source, std::uint64_t start, std::uint64_t length);

  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint64_t Tell() override { return m_uPosition; }
  std::uint64_t GetLength() override { return m_uLength; }

 private:
  Strong<Stream> m_pSource;
  std::uint64_t m_uStart;
  std::uint64_t m_uLength;
  std::uint64_t m_uPosition = 0;
};

// A host file; the stream owns the handle.
class CWindowsStream : public Stream {
 public:
  explicit CWindowsStream(HANDLE file);
  ~CWindowsStream() override;

  // Opens an existing host file for reading (and writing when asked); null when it cannot.
  static CWindowsStream* Open(const char16_t* hostPath, bool write);

  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint64_t Tell() override;
  std::uint64_t GetLength() override;
  bool SetFileTime(std::uint64_t seconds) override;

  HANDLE GetHandle() const { return m_hFile; }

 private:
  HANDLE m_hFile;
};

// Compact integers: 7-bit groups, low group first, 0x80 on every byte but the last, 5 bytes at most.
bool WriteCompactInteger(Stream* stream, std::uint32_t value);
bool ReadCompactInteger(Stream* stream, std::uint32_t* value);
std::uint32_t GetCompactIntegerSize(std::uint32_t value);

// Compact strings: the compact UTF-8 byte count, then the bytes.
bool WriteString(Stream* stream, const char16_t* text, std::uint32_t length);
// A new zero-terminated text (free with delete[]), or null. `consumed` gets the bytes taken from
// the stream. The count is never believed beyond the bytes the stream still holds.
char16_t* ReadString(Stream* stream, std::uint32_t* length, std::uint32_t* consumed);
// The serialised size of a text as a compact string.
std::uint32_t GetStringSize(const char16_t* text, std::uint32_t length);

class CTextReader {
 public:
  static constexpr int ENCODING_UNKNOWN = -1;
  static constexpr int ENCODING_UTF8 = 1;
  static constexpr int ENCODING_UTF16 = 2;
  static constexpr int ENCODING_UTF32 = 3;
  static constexpr unsigned int kLineCapacity = 1024;

  explicit CTextReader(Stream* stream);
  ~CTextReader();
  CTextReader(const CTextReader&) = delete;
  CTextReader& operator=(const CTextReader&) = delete;

  // Frees the text and lets go of the stream.
  void Close();
  // The whole decoded text (from the byte-order mark on), or null when it cannot be loaded.
  const char16_t* GetText(std::uint32_t* length);
  // Up to count units from the read position; the number given.
  std::uint32_t Read(char16_t* buffer, std::uint32_t count);
  // One code point (a surrogate pair combined); false at the end.
  bool ReadCodePoint(std::uint32_t* codePoint);
  // The next line without its CR LF or LF into buffer (capacity units with the terminator, at
  // most kLineCapacity). A line longer than the buffer comes back in pieces, never splitting a
  // surrogate pair. False at the end of the text or when it cannot be loaded.
  bool ReadLine(char16_t* buffer, unsigned int capacity, unsigned int* length);
  // The whole next line however long, its pieces joined up to the line feed or the end of the text.
  // False as ReadLine.
  bool ReadLine(std::u16string* line);

  int GetEncoding();
  bool IsBigEndian();

 private:
  void DetectEncoding();
  bool Load();

  int m_iEncoding = ENCODING_UNKNOWN;
  bool m_bBigEndian = false;
  Strong<Stream> m_pStream;
  std::uint32_t m_uLength = 0;
  std::uint32_t m_uPosition = 0;
  char16_t* m_pText = nullptr;
  bool m_bLoadFailed = false;
};

class CTextWriter {
 public:
  static constexpr int ENCODING_NONE = 0;
  static constexpr int ENCODING_UTF8 = 1;
  static constexpr int ENCODING_UTF16 = 2;
  static constexpr int ENCODING_UTF32 = 3;
  static constexpr std::size_t kPrintfCapacity = 4096;

  explicit CTextWriter(Stream* stream);

  void SetEncoding(int encoding, bool bigEndian = false) {
    m_iEncoding = encoding;
    m_bBigEndian = bigEndian;
  }
  int GetEncoding() const { return m_iEncoding; }

  // Only at position 0.
  bool WriteBOM();
  // The byte-order mark first when the stream is at position 0.
  bool Write(const char16_t* text, std::uint32_t length);
  bool Printf(const char16_t* format, ...);

 private:
  int m_iEncoding = ENCODING_UTF8;
  bool m_bBigEndian = false;
  Strong<Stream> m_pStream;
};

}  // namespace Vexil3D
