#pragma once
// The longest prefix of UTF-8 text that fits a byte limit without ending inside a character: cut messages and
// joined texts stay valid text. No errors, no locking.
#include <cstddef>

namespace base_detail {

// A UTF-8 sequence has at most this many bytes after its lead byte.
constexpr std::size_t kMaxContinuationBytes = 3;

inline bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the longest prefix of text (at most limit bytes) that does not end inside a UTF-8 sequence.
inline std::size_t Utf8PrefixLength(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) return length;
  // Step back to the lead byte of the sequence that the limit splits. A longer run of continuation bytes belongs to
  // no sequence: the cut stays at the limit.
  std::size_t back = 0;
  while (back < kMaxContinuationBytes && back < limit && IsContinuationByte(text[limit - back])) ++back;
  return IsContinuationByte(text[limit - back]) ? limit : limit - back;
}

}  // namespace base_detail
