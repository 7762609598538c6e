#pragma once
// Position arithmetic shared by the streams. Positions live in [0, 2^63 - 1] so
// that every one of them can be handed to Seek as an i64 offset from the start.
#include <cstdint>
#include <limits>

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

}  // namespace stream_positions
