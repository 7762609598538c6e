// The stream base: reference counting, the streamable save/load/size operations and stream opening.
#include <base/Stream.h>

#include "StreamPositions.h"

using stream_positions::kMaxPosition;

// ---------------------------------------------------------------------------
// tStreamable: saving, loading and sizing through a stream opened on itself.

tStreamable::~tStreamable() = default;

bool tStreamable::SaveTo(tTaskContext* task, void* context, CStream* destination) {
  CStream* stream = OpenStream(task, context, true, false);
  if (stream == nullptr) return false;
  const bool result = stream->SaveTo(task, context, destination);
  stream->Release();
  return result;
}

bool tStreamable::LoadFrom(tTaskContext* task, void* context, CStream* source) {
  CStream* stream = OpenStream(task, context, false, true);
  if (stream == nullptr) return false;
  const bool result = stream->LoadFrom(task, context, source);
  stream->Release();
  return result;
}

bool tStreamable::GetSavedSize(tTaskContext* task, void* context, std::uint64_t* size) {
  CStream* stream = OpenStream(task, context, false, false);
  if (stream == nullptr) return false;
  const bool result = stream->GetSavedSize(task, context, size);
  stream->Release();
  return result;
}

// ---------------------------------------------------------------------------
// CStream

CStream::CStream() : m_refCount(1) {}

CStream::~CStream() = default;

void CStream::AddRef() {
  tLockGuard guard(*this);
  ++m_refCount;
}

std::int32_t CStream::Release() {
  std::int32_t count;
  {
    tLockGuard guard(*this);
    count = --m_refCount;
  }
  // Deleted only after the lock has been left: the lock dies with the stream.
  if (count <= 0) delete this;
  return count;
}

bool CStream::SaveTo(tTaskContext* task, void* context, CStream* destination) {
  if (destination == nullptr) return false;
  return destination->LoadFrom(task, context, this);
}

bool CStream::LoadFrom(tTaskContext*, void*, CStream* source) {
  if (source == nullptr) return false;
  // One lock at a time: each Read and Write takes its own stream's lock. Holding this stream's lock
  // across the source's would invert the wrapper-first order whenever the source wraps this stream
  // (or two streams copy into each other at once).
  unsigned char buffer[kCopyChunk];
  for (;;) {
    const std::uint32_t got = source->Read(buffer, 1, kCopyChunk);
    if (got == 0) return true;
    // A short write means the copy is incomplete (full disk, full buffer).
    if (Write(buffer, 1, got) != got) return false;
  }
}

bool CStream::GetSavedSize(tTaskContext*, void*, std::uint64_t* size) {
  if (size == nullptr) return false;
  *size = GetSize(true);
  return true;
}

CStream* CStream::OpenStream(tTaskContext* task, void*, bool readable, bool writable) {
  if (readable && !IsReadable()) {
    if (task != nullptr) task->AddError("An attempt was made to open a nonreadable stream as readable.");
    return nullptr;
  }
  if (writable && !IsWritable()) {
    if (task != nullptr) task->AddError("An attempt was made to open a nonwritable stream as writable.");
    return nullptr;
  }
  return new CStreamStream(this);
}

bool CStream::Rewind() { return Seek(0, kSeekBegin); }

bool CStream::Skip(std::int64_t offset) { return Seek(offset, kSeekCurrent); }

std::uint64_t CStream::GetSize(bool keepPosition) {
  tLockGuard guard(*this);
  std::uint64_t saved = 0;
  if (keepPosition && !GetPosition(&saved)) return 0;
  if (!Seek(0, kSeekEnd)) return 0;
  std::uint64_t size = 0;
  const bool haveSize = GetPosition(&size);
  if (keepPosition && (saved > kMaxPosition || !Seek(static_cast<std::int64_t>(saved), kSeekBegin))) return 0;
  return haveSize ? size : 0;
}

bool CStream::TruncateAt(std::uint64_t position, bool keepPosition) {
  tLockGuard guard(*this);
  std::uint64_t saved = 0;
  if (keepPosition && !GetPosition(&saved)) return false;
  if (position > kMaxPosition || !Seek(static_cast<std::int64_t>(position), kSeekBegin)) return false;
  const bool result = Truncate();
  if (keepPosition && saved <= kMaxPosition) Seek(static_cast<std::int64_t>(saved), kSeekBegin);
  return result;
}
