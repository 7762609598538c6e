#pragma once
// Matcher entry points for the string library beyond the zero-terminated public ones.
#include <sqstdstring.h>

namespace sqstd {

// True when all of [begin, end) matches; sub-expressions are then available as after a search.
SQBool RexMatchRange(SQRex* exp, const SQChar* begin, const SQChar* end);

}  // namespace sqstd
