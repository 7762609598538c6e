#pragma once
// Position arithmetic shared by the streams. Positions live in [0, 2^63 - 1] so
// that every one of them can be handed to Seek as an i64 offset from the start.
#include <cstdint>
#include <limits>

#include <base/Stream.h>

namespace stream_positions {

constexpr std::uint64_t kMaxPosition = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// base + offset, false when the result is negative or beyond kMaxPosition.
inline bool Offset(std::uint64_t base, std::int64_t offset, std::uint64_t* result) {
  if (offset >= 0) {
    const auto forward = static_cast<std::uint64_t>(offset);
    if (base > kMaxPosition || forward > kMaxPosition - base) return false;
    *result = base + forward;
    return true;
  }
  // Magnitude without negating INT64_MIN in signed arithmetic.
  const std::uint64_t backward = 0 - static_cast<std::uint64_t>(offset);
  if (backward > base) return false;
  const std::uint64_t value = base - backward;
  if (value > kMaxPosition) return false;
  *result = value;
  return true;
}

// base + bytes without leaving the representable positions.
inline bool Advance(std::uint64_t base, std::uint64_t bytes, std::uint64_t* result) {
  if (base > kMaxPosition || bytes > kMaxPosition - base) return false;
  *result = base + bytes;
  return true;
}

// Seek for the streams that keep their own position: where `offset` from
// `origin` leads from `current`, with `end()` asked only for kSeekEnd. An origin
// outside the three leaves the position where it is and still succeeds, as the
// stream family has always answered it.
template <typename End>
bool SeekTarget(std::uint64_t current, std::int64_t offset, std::uint32_t origin, End end, std::uint64_t* result) {
  std::uint64_t base;
  switch (origin) {
    case CStream::kSeekBegin:
      base = 0;
      break;
    case CStream::kSeekCurrent:
      base = current;
      break;
    case CStream::kSeekEnd:
      base = end();
      break;
    default:
      *result = current;
      return true;
  }
  return Offset(base, offset, result);
}

}  // namespace stream_positions
