// Linear text readers over streams (UCS-2, ANSI, or chosen by byte order mark) and the UCS-2 writer.
#include <base/TextReader.h>

const char kUCS2ToANSIUnsupportedMessage[] =
    "An attempt was made to convert a UCS-2 character being read from a stream to ANSI which does not support it.";
const char kUTF32ToUCS2UnsupportedMessage[] =
    "An attempt was made to convert a UTF-32 character being written to a stream to UCS-2 which does not support "
    "the character.";
const char kUCS2WriteFailedMessage[] = "Failed to write a UCS-2 character to a stream.";

namespace {

void Report(tTaskContext* task, const char* message) {
  if (task != nullptr) task->AddError(message);
}

}  // namespace

CLinearTextReader::~CLinearTextReader() = default;
CLinearTextWriter::~CLinearTextWriter() = default;

// ---------------------------------------------------------------------------
// UCS-2

CUCS2LinearTextReader::CUCS2LinearTextReader(CStream* stream, bool swap)
    : m_stream(stream), m_swap(swap ? 1 : 0), m_length(0) {
  if (m_stream != nullptr) {
    m_stream->AddRef();
    m_length = m_stream->GetSize(true) / 2;
  }
}

CUCS2LinearTextReader::~CUCS2LinearTextReader() {
  if (m_stream != nullptr) m_stream->Release();
}

bool CUCS2LinearTextReader::ReadUnit(char16_t* unit) {
  if (m_stream == nullptr) return false;
  std::uint8_t bytes[2];
  // One whole element or nothing: a stray last byte of odd-sized text is not a character.
  if (m_stream->Read(bytes, 2, 1) != 1) return false;
  *unit = m_swap ? char16_t((bytes[0] << 8) | bytes[1]) : char16_t((bytes[1] << 8) | bytes[0]);
  return true;
}

bool CUCS2LinearTextReader::ReadANSI(tTaskContext* task, char* out, bool replaceUnsupported) {
  char16_t unit;
  if (!ReadUnit(&unit)) return false;
  if (unit <= 0xFF) {
    *out = static_cast<char>(unit);
    return true;
  }
  if (replaceUnsupported) {
    *out = '?';
    return true;
  }
  Report(task, kUCS2ToANSIUnsupportedMessage);
  return false;
}

bool CUCS2LinearTextReader::ReadUCS2(tTaskContext*, char16_t* out) { return ReadUnit(out); }

bool CUCS2LinearTextReader::ReadUTF32(tTaskContext*, char32_t* out) {
  char16_t unit;
  if (!ReadUnit(&unit)) return false;
  *out = unit;
  return true;
}

bool CUCS2LinearTextReader::Rewind() { return m_stream != nullptr && m_stream->Rewind(); }

std::uint64_t CUCS2LinearTextReader::GetLength() { return m_length; }

// ---------------------------------------------------------------------------
// 8-bit

CANSILinearTextReader::CANSILinearTextReader(CStream* stream) : m_stream(stream), m_length(0) {
  if (m_stream != nullptr) {
    m_stream->AddRef();
    m_length = m_stream->GetSize(true);
  }
}

CANSILinearTextReader::~CANSILinearTextReader() {
  if (m_stream != nullptr) m_stream->Release();
}

bool CANSILinearTextReader::ReadByte(std::uint8_t* byte) {
  return m_stream != nullptr && m_stream->Read(byte, 1, 1) == 1;
}

bool CANSILinearTextReader::ReadANSI(tTaskContext*, char* out, bool) {
  std::uint8_t byte;
  if (!ReadByte(&byte)) return false;
  *out = static_cast<char>(byte);
  return true;
}

bool CANSILinearTextReader::ReadUCS2(tTaskContext*, char16_t* out) {
  std::uint8_t byte;
  if (!ReadByte(&byte)) return false;
  *out = byte;
  return true;
}

bool CANSILinearTextReader::ReadUTF32(tTaskContext*, char32_t* out) {
  std::uint8_t byte;
  if (!ReadByte(&byte)) return false;
  *out = byte;
  return true;
}

bool CANSILinearTextReader::Rewind() { return m_stream != nullptr && m_stream->Rewind(); }

std::uint64_t CANSILinearTextReader::GetLength() { return m_length; }

// ---------------------------------------------------------------------------
// Encoding detection

CFileLinearTextReader::CFileLinearTextReader(CStream* stream) : m_stream(stream) {
  if (m_stream == nullptr) return;
  m_stream->AddRef();

  std::uint8_t mark[2] = {0, 0};
  const std::uint32_t got = m_stream->Read(mark, 1, 2);
  bool ucs2 = false;
  bool swap = false;
  if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
    ucs2 = true;
  } else if (got == 2 && mark[0] == 0xFE && mark[1] == 0xFF) {
    ucs2 = true;
    swap = true;
  } else if (got == 2 && mark[0] != 0 && mark[1] == 0) {
    // Little-endian UCS-2 without a mark: the two bytes are text.
    ucs2 = true;
    m_stream->Seek(-2, CStream::kSeekCurrent);
  } else if (got != 0) {
    m_stream->Seek(-static_cast<std::int64_t>(got), CStream::kSeekCurrent);
  }

  std::uint64_t start = 0;
  if (!m_stream->GetPosition(&start)) start = 0;
  const std::uint64_t size = m_stream->GetSize(true);
  const std::uint64_t length = size > start ? size - start : 0;

  CStream* text = new CStreamRangeStream(m_stream, start, length);
  if (ucs2) {
    m_inner = new CUCS2LinearTextReader(text, swap);
  } else {
    m_inner = new CANSILinearTextReader(text);
  }
  text->Release();  // the inner reader holds its own reference

  if (!m_stream->GetPosition(&m_textStart)) m_textStart = start;
}

CFileLinearTextReader::~CFileLinearTextReader() {
  delete m_inner;
  if (m_stream != nullptr) m_stream->Release();
}

bool CFileLinearTextReader::ReadANSI(tTaskContext* task, char* out, bool replaceUnsupported) {
  return m_inner != nullptr && m_inner->ReadANSI(task, out, replaceUnsupported);
}

bool CFileLinearTextReader::ReadUCS2(tTaskContext* task, char16_t* out) {
  return m_inner != nullptr && m_inner->ReadUCS2(task, out);
}

bool CFileLinearTextReader::ReadUTF32(tTaskContext* task, char32_t* out) {
  return m_inner != nullptr && m_inner->ReadUTF32(task, out);
}

bool CFileLinearTextReader::Rewind() { return m_inner != nullptr && m_inner->Rewind(); }

// ---------------------------------------------------------------------------
// Writer

CUCS2LinearTextWriter::CUCS2LinearTextWriter(CStream* stream, bool swap) : m_stream(stream), m_swap(swap ? 1 : 0) {
  if (m_stream != nullptr) m_stream->AddRef();
}

CUCS2LinearTextWriter::~CUCS2LinearTextWriter() {
  if (m_stream != nullptr) m_stream->Release();
}

bool CUCS2LinearTextWriter::WriteUnit(tTaskContext* task, char16_t unit) {
  std::uint8_t bytes[2];
  if (m_swap) {
    bytes[0] = static_cast<std::uint8_t>(unit >> 8);
    bytes[1] = static_cast<std::uint8_t>(unit & 0xFF);
  } else {
    bytes[0] = static_cast<std::uint8_t>(unit & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(unit >> 8);
  }
  if (m_stream == nullptr || m_stream->Write(bytes, 2, 1) != 1) {
    Report(task, kUCS2WriteFailedMessage);
    return false;
  }
  return true;
}

bool CUCS2LinearTextWriter::WriteANSI(tTaskContext* task, char c) {
  return WriteUnit(task, static_cast<char16_t>(static_cast<unsigned char>(c)));
}

bool CUCS2LinearTextWriter::WriteUCS2(tTaskContext* task, char16_t c) { return WriteUnit(task, c); }

bool CUCS2LinearTextWriter::WriteUTF32(tTaskContext* task, char32_t c, bool replaceUnsupported) {
  if (c <= 0xFFFF) return WriteUnit(task, static_cast<char16_t>(c));
  if (replaceUnsupported) return WriteUnit(task, u'?');
  Report(task, kUTF32ToUCS2UnsupportedMessage);
  return false;
}

bool CUCS2LinearTextWriter::Rewind() { return m_stream != nullptr && m_stream->Rewind(); }
