// Streams over another stream: a view with its own position and a window.
#include <base/Stream.h>

#include "StreamPositions.h"

using stream_positions::kMaxPosition;

namespace {

// Runs a transfer of elements on the inner stream at `at`, puts the inner
// stream's own position back afterwards (so the inner stream and other views
// over it are undisturbed) and moves the view's `position` past the elements
// moved. The caller holds its own lock; the inner lock is taken after it.
template <typename Transfer>
std::uint32_t TransferAt(CStream* inner, std::uint64_t at, std::uint64_t* position, std::uint32_t elementSize,
                         Transfer transfer) {
  std::uint32_t moved = 0;
  {
    tLockGuard innerLock(*inner);
    std::uint64_t saved = 0;
    if (!inner->GetPosition(&saved)) return 0;
    if (at > kMaxPosition || !inner->Seek(static_cast<std::int64_t>(at), CStream::kSeekBegin)) return 0;
    moved = transfer();
    if (saved <= kMaxPosition) inner->Seek(static_cast<std::int64_t>(saved), CStream::kSeekBegin);
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(elementSize) * moved;
  std::uint64_t next = 0;
  *position = stream_positions::Advance(*position, bytes, &next) ? next : kMaxPosition;
  return moved;
}

}  // namespace

// ---------------------------------------------------------------------------
// CStreamStream

CStreamStream::CStreamStream(CStream* inner) : m_inner(inner) { m_inner->AddRef(); }

CStreamStream::~CStreamStream() { m_inner->Release(); }

bool CStreamStream::Seek(std::int64_t offset, std::uint32_t origin) {
  tLockGuard guard(*this);
  return stream_positions::SeekTarget(m_position, offset, origin, [this] { return m_inner->GetSize(true); },
                                      &m_position);
}

std::uint32_t CStreamStream::Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  tLockGuard guard(*this);
  return TransferAt(m_inner, m_position, &m_position, elementSize,
                    [&] { return m_inner->Read(buffer, elementSize, count); });
}

std::uint32_t CStreamStream::Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  tLockGuard guard(*this);
  return TransferAt(m_inner, m_position, &m_position, elementSize,
                    [&] { return m_inner->Write(buffer, elementSize, count); });
}

bool CStreamStream::GetPosition(std::uint64_t* position) {
  if (position == nullptr) return false;
  tLockGuard guard(*this);
  *position = m_position;
  return true;
}

bool CStreamStream::Flush() {
  tLockGuard guard(*this);
  return m_inner->Flush();
}

bool CStreamStream::Truncate() {
  tLockGuard guard(*this);
  return m_inner->TruncateAt(m_position, true);
}

bool CStreamStream::TruncateAt(std::uint64_t position, bool) {
  tLockGuard guard(*this);
  return m_inner->TruncateAt(position, true);
}

bool CStreamStream::IsReadable() { return m_inner->IsReadable(); }

bool CStreamStream::IsWritable() { return m_inner->IsWritable(); }

CStream* CStreamStream::GetTarget() { return m_inner->GetTarget(); }

// ---------------------------------------------------------------------------
// CStreamRangeStream

CStreamRangeStream::CStreamRangeStream(CStream* inner, std::uint64_t start, std::uint64_t length)
    : m_inner(inner), m_start(start), m_length(length) {
  m_inner->AddRef();
}

CStreamRangeStream::~CStreamRangeStream() { m_inner->Release(); }

bool CStreamRangeStream::Seek(std::int64_t offset, std::uint32_t origin) {
  tLockGuard guard(*this);
  return stream_positions::SeekTarget(m_position, offset, origin, [this] { return m_length; }, &m_position);
}

std::uint32_t CStreamRangeStream::Read(void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  tLockGuard guard(*this);
  if (m_position >= m_length) return 0;
  const std::uint64_t fitting = (m_length - m_position) / elementSize;
  if (fitting < count) count = static_cast<std::uint32_t>(fitting);
  if (count == 0) return 0;
  std::uint64_t at = 0;
  if (!stream_positions::Advance(m_start, m_position, &at)) return 0;
  return TransferAt(m_inner, at, &m_position, elementSize, [&] { return m_inner->Read(buffer, elementSize, count); });
}

std::uint32_t CStreamRangeStream::Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  if (elementSize == 0 || count == 0) return 0;
  tLockGuard guard(*this);
  if (m_position >= m_length) return 0;
  if (count > (m_length - m_position) / elementSize) return 0;
  std::uint64_t at = 0;
  if (!stream_positions::Advance(m_start, m_position, &at)) return 0;
  return TransferAt(m_inner, at, &m_position, elementSize, [&] { return m_inner->Write(buffer, elementSize, count); });
}

bool CStreamRangeStream::GetPosition(std::uint64_t* position) {
  if (position == nullptr) return false;
  tLockGuard guard(*this);
  *position = m_position;
  return true;
}

bool CStreamRangeStream::Flush() {
  tLockGuard guard(*this);
  return m_inner->Flush();
}

std::uint64_t CStreamRangeStream::GetSize(bool) {
  tLockGuard guard(*this);
  return m_length;
}

bool CStreamRangeStream::Truncate() {
  tLockGuard guard(*this);
  // The window can shrink but never grow over bytes it was not given.
  if (m_position > m_length) return false;
  m_length = m_position;
  return true;
}

bool CStreamRangeStream::TruncateAt(std::uint64_t position, bool) {
  tLockGuard guard(*this);
  if (position > m_length) return false;
  m_length = position;
  return true;
}

bool CStreamRangeStream::IsReadable() { return m_inner->IsReadable(); }

bool CStreamRangeStream::IsWritable() { return m_inner->IsWritable(); }

CStream* CStreamRangeStream::GetTarget() { return m_inner->GetTarget(); }
