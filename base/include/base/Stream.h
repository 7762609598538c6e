#pragma once
// The game side's byte streams: reference-counted, each with its own lock,
// 64-bit positions and element-wise reads and writes.
//
// Whoever creates a stream holds its first reference; every wrapper or reader
// that keeps a stream takes its own reference and releases it when destroyed.
// Nested locking always runs from a wrapper to the stream it wraps.
#include <cstdint>

#include <platform/win32types.h>

#include <base/TaskContext.h>

class CStream;

// Something that can be saved to and loaded from a stream. The `context`
// argument is passed along by the stream family and never used by it.
class tSavable {
 public:
  virtual bool SaveTo(tTaskContext* task, void* context, CStream* destination) = 0;
  virtual bool LoadFrom(tTaskContext* task, void* context, CStream* source) = 0;
  virtual bool GetSavedSize(tTaskContext* task, void* context, std::uint64_t* size) = 0;

 protected:
  ~tSavable() = default;
};

// An object that can open a stream over itself; saving, loading and sizing go
// through such a stream.
class tStreamable : public tSavable, public tLockable {
 public:
  bool SaveTo(tTaskContext* task, void* context, CStream* destination) override;
  bool LoadFrom(tTaskContext* task, void* context, CStream* source) override;
  bool GetSavedSize(tTaskContext* task, void* context, std::uint64_t* size) override;
  virtual CStream* OpenStream(tTaskContext* task, void* context, bool readable, bool writable) = 0;
  virtual ~tStreamable();
};

class CStream : public tStreamable {
 public:
  static constexpr std::uint32_t kSeekBegin = 0;
  static constexpr std::uint32_t kSeekCurrent = 1;
  static constexpr std::uint32_t kSeekEnd = 2;
  // Bytes moved per step by LoadFrom.
  static constexpr std::uint32_t kCopyChunk = 16384;

  CStream();

  // slots 0-3
  // Both copy through a kCopyChunk buffer holding one stream's lock at a time, so other threads'
  // operations on either stream may fall between two chunks.
  bool SaveTo(tTaskContext* task, void* context, CStream* destination) override;
  bool LoadFrom(tTaskContext* task, void* context, CStream* source) override;
  bool GetSavedSize(tTaskContext* task, void* context, std::uint64_t* size) override;
  CStream* OpenStream(tTaskContext* task, void* context, bool readable, bool writable) override;
  // slot 4
  ~CStream() override;
  // slots 5-17
  virtual bool Seek(std::int64_t offset, std::uint32_t origin) = 0;
  virtual bool Rewind();
  // Whole elements read or written; elementSize 0 moves nothing.
  virtual std::uint32_t Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) = 0;
  virtual std::uint32_t Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) = 0;
  virtual bool GetPosition(std::uint64_t* position) = 0;
  virtual bool Flush() = 0;
  // 0 on any failure.
  virtual std::uint64_t GetSize(bool keepPosition);
  // Ends the stream at the current position.
  virtual bool Truncate() = 0;
  virtual bool TruncateAt(std::uint64_t position, bool keepPosition);
  virtual bool Skip(std::int64_t offset);
  virtual bool IsReadable() = 0;
  virtual bool IsWritable() = 0;
  // The stream that finally holds the bytes.
  virtual CStream* GetTarget() = 0;

  void AddRef();
  // Drops one reference; the last one deletes the stream. Returns the new count.
  std::int32_t Release();

 protected:
  std::int32_t m_refCount;
};

// A view of another stream with its own position: several views read one
// stream independently without moving its position.
class CStreamStream : public CStream {
 public:
  explicit CStreamStream(CStream* inner);
  ~CStreamStream() override;

  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint32_t Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  bool GetPosition(std::uint64_t* position) override;
  bool Flush() override;
  bool Truncate() override;
  bool TruncateAt(std::uint64_t position, bool keepPosition) override;
  bool IsReadable() override;
  bool IsWritable() override;
  CStream* GetTarget() override;

 private:
  CStream* m_inner;
  std::uint64_t m_position = 0;
};

// A window [start, start + length) of another stream.
class CStreamRangeStream : public CStream {
 public:
  CStreamRangeStream(CStream* inner, std::uint64_t start, std::uint64_t length);
  ~CStreamRangeStream() override;

  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint32_t Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  // Never spills over the window and is never shortened: all or nothing.
  std::uint32_t Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  bool GetPosition(std::uint64_t* position) override;
  bool Flush() override;
  std::uint64_t GetSize(bool keepPosition) override;
  bool Truncate() override;
  bool TruncateAt(std::uint64_t position, bool keepPosition) override;
  bool IsReadable() override;
  bool IsWritable() override;
  CStream* GetTarget() override;

 private:
  CStream* m_inner;
  std::uint64_t m_start;
  std::uint64_t m_length;
  std::uint64_t m_position = 0;
};

// A host file; always readable, owns (closes) its handle.
//
// The stream is the only user of its handle, so it keeps the position itself
// and moves the host file pointer only when a transfer needs it there: views
// that save, seek, read and restore cost one host read, not four calls.
class CWindowsFileStream : public CStream {
 public:
  CWindowsFileStream(HANDLE file, bool writable);
  ~CWindowsFileStream() override;

  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint32_t Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  bool GetPosition(std::uint64_t* position) override;
  bool Flush() override;
  std::uint64_t GetSize(bool keepPosition) override;
  bool Truncate() override;
  bool IsReadable() override;
  bool IsWritable() override;
  CStream* GetTarget() override;
  // The host file, still the stream's own (for writers that take a file handle, such as the crash dump's).
  HANDLE GetHandle() const { return m_file; }

 private:
  // Puts the host file pointer at m_position.
  bool PlaceHostPointer();
  // One host read or write of whole elements at m_position: `hostCall(bytes,
  // &done)` moves the bytes, and both positions follow what the host moved.
  template <typename HostCall>
  std::uint32_t TransferElements(std::uint32_t elementSize, std::uint32_t count, HostCall hostCall);

  HANDLE m_file;
  std::uint8_t m_readable = 1;
  std::uint8_t m_writable;
  std::uint8_t m_ownsHandle = 1;
  std::uint64_t m_position = 0;
  std::uint64_t m_hostPosition = 0;
  bool m_hostPositionKnown = false;
};

// A fixed memory buffer: size is the end of the data, capacity the bytes
// available. Positions stay within 32 bits.
class CByteArrayStream : public CStream {
 public:
  using ReleaseFunction = void (*)(void* buffer);

  CByteArrayStream(void* buffer, std::uint32_t size);
  ~CByteArrayStream() override;

  bool Seek(std::int64_t offset, std::uint32_t origin) override;
  std::uint32_t Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) override;
  bool GetPosition(std::uint64_t* position) override;
  bool Flush() override;
  std::uint64_t GetSize(bool keepPosition) override;
  bool Truncate() override;
  bool TruncateAt(std::uint64_t position, bool keepPosition) override;
  bool IsReadable() override;
  bool IsWritable() override;
  CStream* GetTarget() override;

  // Called with the buffer by the destructor.
  void SetReleaseFunction(ReleaseFunction release);
  void* GetBuffer() const { return m_buffer; }

 private:
  std::uint8_t* m_buffer;
  std::uint32_t m_size;
  std::uint32_t m_capacity;
  std::uint32_t m_position = 0;
  std::uint8_t m_writable = 1;
  ReleaseFunction m_release = nullptr;
};
