#pragma once
// Character-at-a-time text over a CStream: 8-bit text and UCS-2 in either byte
// order, handed out as an 8-bit character, a UCS-2 unit or a UTF-32 code point.
//
// Readers and writers keep one reference on their stream for their whole life.
// The end of the text is a plain false without a message; only conversions that
// lose a character and failed writes report to the task context.
#include <cstdint>

#include <base/Stream.h>
#include <base/TaskContext.h>

class CLinearTextReader {
 public:
  CLinearTextReader() = default;
  CLinearTextReader(const CLinearTextReader&) = delete;
  CLinearTextReader& operator=(const CLinearTextReader&) = delete;

  virtual ~CLinearTextReader();
  // A character that 8-bit text cannot hold becomes '?' when replaceUnsupported
  // is set; otherwise the read fails with a message.
  virtual bool ReadANSI(tTaskContext* task, char* out, bool replaceUnsupported) = 0;
  virtual bool ReadUCS2(tTaskContext* task, char16_t* out) = 0;
  virtual bool ReadUTF32(tTaskContext* task, char32_t* out) = 0;
  // Back to the start of the reader's text.
  virtual bool Rewind() = 0;
};

// UCS-2 text, two bytes a unit; swap set means big-endian. Surrogate pairs are
// handed out as two units, never combined.
class CUCS2LinearTextReader : public CLinearTextReader {
 public:
  CUCS2LinearTextReader(CStream* stream, bool swap);
  ~CUCS2LinearTextReader() override;

  bool ReadANSI(tTaskContext* task, char* out, bool replaceUnsupported) override;
  bool ReadUCS2(tTaskContext* task, char16_t* out) override;
  bool ReadUTF32(tTaskContext* task, char32_t* out) override;
  bool Rewind() override;
  // Characters in the stream when the reader was made.
  virtual std::uint64_t GetLength();

 private:
  bool ReadUnit(char16_t* unit);

  CStream* m_stream;
  std::uint8_t m_swap;
  std::uint64_t m_length;
};

// 8-bit text: each byte is the code point of the same value (no code page).
class CANSILinearTextReader : public CLinearTextReader {
 public:
  explicit CANSILinearTextReader(CStream* stream);
  ~CANSILinearTextReader() override;

  bool ReadANSI(tTaskContext* task, char* out, bool replaceUnsupported) override;
  bool ReadUCS2(tTaskContext* task, char16_t* out) override;
  bool ReadUTF32(tTaskContext* task, char32_t* out) override;
  bool Rewind() override;
  virtual std::uint64_t GetLength();

 private:
  bool ReadByte(std::uint8_t* byte);

  CStream* m_stream;
  std::uint64_t m_length;
};

// Recognises the encoding at the stream's current position (FF FE, FE FF, a
// second byte 0 for UCS-2 without a mark, else 8-bit) and reads the text that
// follows the mark through the matching reader.
class CFileLinearTextReader : public CLinearTextReader {
 public:
  explicit CFileLinearTextReader(CStream* stream);
  ~CFileLinearTextReader() override;

  bool ReadANSI(tTaskContext* task, char* out, bool replaceUnsupported) override;
  bool ReadUCS2(tTaskContext* task, char16_t* out) override;
  bool ReadUTF32(tTaskContext* task, char32_t* out) override;
  bool Rewind() override;

  // Stream position where the text begins (after any byte-order mark).
  std::uint64_t GetTextStart() const { return m_textStart; }
  // The reader chosen for the text.
  CLinearTextReader* GetInnerReader() const { return m_inner; }

 private:
  CStream* m_stream;
  std::uint64_t m_textStart = 0;
  CLinearTextReader* m_inner = nullptr;
};

class CLinearTextWriter {
 public:
  CLinearTextWriter() = default;
  CLinearTextWriter(const CLinearTextWriter&) = delete;
  CLinearTextWriter& operator=(const CLinearTextWriter&) = delete;

  virtual ~CLinearTextWriter();
  virtual bool WriteANSI(tTaskContext* task, char c) = 0;
  virtual bool WriteUCS2(tTaskContext* task, char16_t c) = 0;
  // A code point above U+FFFF becomes '?' when replaceUnsupported is set;
  // otherwise nothing is written and the write fails with a message.
  virtual bool WriteUTF32(tTaskContext* task, char32_t c, bool replaceUnsupported) = 0;
  virtual bool Rewind() = 0;
};

// Writes one UCS-2 unit per character, high byte first when swap is set. No
// byte-order mark is written.
class CUCS2LinearTextWriter : public CLinearTextWriter {
 public:
  CUCS2LinearTextWriter(CStream* stream, bool swap);
  ~CUCS2LinearTextWriter() override;

  bool WriteANSI(tTaskContext* task, char c) override;
  bool WriteUCS2(tTaskContext* task, char16_t c) override;
  bool WriteUTF32(tTaskContext* task, char32_t c, bool replaceUnsupported) override;
  bool Rewind() override;

 private:
  bool WriteUnit(tTaskContext* task, char16_t unit);

  CStream* m_stream;
  std::uint8_t m_swap;
};

extern const char kUCS2ToANSIUnsupportedMessage[];
extern const char kUTF32ToUCS2UnsupportedMessage[];
extern const char kUCS2WriteFailedMessage[];
