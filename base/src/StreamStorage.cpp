// Streams that hold the bytes themselves: a host file and a memory buffer.
#include <cstring>

#include <base/Stream.h>
#include <platform/errors.h>
#include <platform/files.h>
#include <platform/sync.h>

#include "StreamPositions.h"

namespace {

// Element count that keeps elementSize * count within one 32-bit transfer.
std::uint32_t TransferableCount(std::uint32_t elementSize, std::uint32_t count) {
  const std::uint32_t most = 0xFFFFFFFFu / elementSize;
  return count < most ? count : most;
}

}  // namespace

// ---------------------------------------------------------------------------
// CWindowsFileStream

CWindowsFileStream::CWindowsFileStream(HANDLE file, bool writable) : m_file(file), m_writable(writable ? 1 : 0) {
  // Start where the handle stands (a file opened for appending may not be at 0).
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER now;
  if (SetFilePointerEx(m_file, zero, &now, FILE_CURRENT) && now.QuadPart >= 0) {
    m_position = m_hostPosition = static_cast<std::uint64_t>(now.QuadPart);
    m_hostPositionKnown = true;
  }
}

CWindowsFileStream::~CWindowsFileStream() {
  if (m_ownsHandle && m_file != nullptr && m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
}

bool CWindowsFileStream::PlaceHostPointer() {
  if (m_hostPositionKnown && m_hostPosition == m_position) return true;
  if (m_position > stream_positions::kMaxPosition) return false;
  LARGE_INTEGER target;
  target.QuadPart = static_cast<std::int64_t>(m_position);
  if (!SetFilePointerEx(m_file, target, nullptr, FILE_BEGIN)) {
    m_hostPositionKnown = false;
    return false;
  }
  m_hostPosition = m_position;
  m_hostPositionKnown = true;
  return true;
}

bool CWindowsFileStream::Seek(std::int64_t offset, std::uint32_t origin) {
  tLockGuard guard(*this);
  std::uint64_t base;
  switch (origin) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = m_position;
      break;
    case FILE_END: {
      LARGE_INTEGER size;
      if (!GetFileSizeEx(m_file, &size) || size.QuadPart < 0) return false;
      base = static_cast<std::uint64_t>(size.QuadPart);
      break;
    }
    default: {
      // Whatever the host makes of other origins, the position follows it.
      LARGE_INTEGER distance;
      distance.QuadPart = offset;
      LARGE_INTEGER now;
      if (!SetFilePointerEx(m_file, distance, &now, origin)) return false;
      m_position = m_hostPosition = static_cast<std::uint64_t>(now.QuadPart);
      m_hostPositionKnown = true;
      return true;
    }
  }
  std::uint64_t next = 0;
  if (!stream_positions::Offset(base, offset, &next)) {
    SetLastError(offset < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    return false;
  }
  m_position = next;
  return true;
}

template <typename HostCall>
std::uint32_t CWindowsFileStream::TransferElements(std::uint32_t elementSize, std::uint32_t count,
                                                   HostCall hostCall) {
  if (elementSize == 0 || count == 0) return 0;
  count = TransferableCount(elementSize, count);
  tLockGuard guard(*this);
  if (!PlaceHostPointer()) return 0;
  DWORD done = 0;
  const BOOL ok = hostCall(elementSize * count, &done);
  m_position += done;
  m_hostPosition = m_position;
  // After a failure the host pointer may stand anywhere.
  m_hostPositionKnown = ok != FALSE;
  return ok ? done / elementSize : 0;
}

std::uint32_t CWindowsFileStream::Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  return TransferElements(elementSize, count,
                          [&](DWORD bytes, DWORD* done) { return ReadFile(m_file, buffer, bytes, done, nullptr); });
}

std::uint32_t CWindowsFileStream::Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  return TransferElements(elementSize, count,
                          [&](DWORD bytes, DWORD* done) { return WriteFile(m_file, buffer, bytes, done, nullptr); });
}

bool CWindowsFileStream::GetPosition(std::uint64_t* position) {
  if (position == nullptr) return false;
  tLockGuard guard(*this);
  *position = m_position;
  return true;
}

bool CWindowsFileStream::Flush() {
  tLockGuard guard(*this);
  return FlushFileBuffers(m_file) != FALSE;
}

std::uint64_t CWindowsFileStream::GetSize(bool) {
  tLockGuard guard(*this);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(m_file, &size) || size.QuadPart < 0) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool CWindowsFileStream::Truncate() {
  tLockGuard guard(*this);
  return PlaceHostPointer() && SetEndOfFile(m_file) != FALSE;
}

bool CWindowsFileStream::IsReadable() { return m_readable != 0; }

bool CWindowsFileStream::IsWritable() { return m_writable != 0; }

CStream* CWindowsFileStream::GetTarget() { return this; }

// ---------------------------------------------------------------------------
// CByteArrayStream

CByteArrayStream::CByteArrayStream(void* buffer, std::uint32_t size)
    : m_buffer(static_cast<std::uint8_t*>(buffer)), m_size(size), m_capacity(size) {}

CByteArrayStream::~CByteArrayStream() {
  if (m_release != nullptr) m_release(m_buffer);
}

void CByteArrayStream::SetReleaseFunction(ReleaseFunction release) {
  tLockGuard guard(*this);
  m_release = release;
}

bool CByteArrayStream::Seek(std::int64_t offset, std::uint32_t origin) {
  tLockGuard guard(*this);
  // Positions are 32-bit here: a target outside 0..2^32-1 is refused, never wrapped.
  std::uint64_t next = 0;
  if (!stream_positions::SeekTarget(m_position, offset, origin, [this] { return std::uint64_t{m_size}; }, &next) ||
      next > 0xFFFFFFFFu) {
    return false;
  }
  m_position = static_cast<std::uint32_t>(next);
  return true;
}

std::uint32_t CByteArrayStream::Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  tLockGuard guard(*this);
  if (m_position >= m_size) return 0;
  const std::uint32_t fitting = (m_size - m_position) / elementSize;
  if (fitting < count) count = fitting;
  const std::uint32_t bytes = count * elementSize;  // <= m_size - m_position
  if (bytes != 0) std::memcpy(buffer, m_buffer + m_position, bytes);
  m_position += bytes;
  return count;
}

std::uint32_t CByteArrayStream::Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  tLockGuard guard(*this);
  if (!m_writable || m_position >= m_capacity) return 0;
  const std::uint32_t fitting = (m_capacity - m_position) / elementSize;
  if (fitting < count) count = fitting;
  const std::uint32_t bytes = count * elementSize;  // <= m_capacity - m_position
  if (bytes != 0) std::memcpy(m_buffer + m_position, buffer, bytes);
  m_position += bytes;
  if (m_position > m_size) m_size = m_position;
  return count;
}

bool CByteArrayStream::GetPosition(std::uint64_t* position) {
  if (position == nullptr) return false;
  tLockGuard guard(*this);
  *position = m_position;
  return true;
}

bool CByteArrayStream::Flush() { return true; }

std::uint64_t CByteArrayStream::GetSize(bool) {
  tLockGuard guard(*this);
  return m_size;
}

bool CByteArrayStream::Truncate() {
  tLockGuard guard(*this);
  // A position past the buffer would make the data end outside the memory.
  if (m_position > m_capacity) return false;
  m_size = m_position;
  return true;
}

bool CByteArrayStream::TruncateAt(std::uint64_t position, bool) {
  tLockGuard guard(*this);
  if (position > m_capacity) return false;
  m_size = static_cast<std::uint32_t>(position);
  return true;
}

bool CByteArrayStream::IsReadable() { return true; }

bool CByteArrayStream::IsWritable() {
  tLockGuard guard(*this);
  return m_writable != 0;
}

CStream* CByteArrayStream::GetTarget() { return this; }
