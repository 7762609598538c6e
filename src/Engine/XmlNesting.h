// The element nesting of XML text as the element-file parser will reach it, measured without recursion so
// that text too deep for the parser's stack can be refused before the parser runs.
// Errors: none; text the parser gives up on is measured up to the point where it gives up.
// Locking: none; the function keeps no state.
#pragma once

#include <cstdint>

namespace Vexil3D {

// The deepest element level (the first element is level 1) that parsing the zero-terminated UTF-8 text
// enters, or limit + 1 as soon as that is passed. Every element counts, empty ones too: the parser
// enters a frame for each. Comments, CDATA sections, declarations with their quoted values, other
// markup up to its '>', attribute values and character references are skipped the way the parser skips
// them, and measuring stops where the parser stops at an error, so nothing they hide is counted and
// nothing the parser will read is missed.
std::uint32_t MeasureXmlNesting(const char* text, std::uint32_t limit);

}  // namespace Vexil3D
