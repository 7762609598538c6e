// The element nesting and the attributes per element of XML text as the element-file parser will reach
// them, measured without recursion so that text too deep for the parser's stack, or with more attributes on
// one element than the parser can check against each other in time, is refused before the parser runs.
// Errors: none. The measure fails closed: where the walk cannot follow the text, everything after the last
// point it followed is counted as the most it could hold (each '<' that may open an element one level
// deeper, each '=' one more attribute), so a text the walk misreads is over-counted, never waved through.
// Locking: none; the function keeps no state.
#pragma once

#include <cstdint>

namespace Vexil3D {

struct XmlMeasure {
  // The deepest element level (the first element is level 1), or the depth limit + 1 once passed.
  std::uint32_t depth = 0;
  // The most attributes on one element, or the attribute limit + 1 once passed.
  std::uint32_t attributes = 0;
};

// Measures the zero-terminated UTF-8 text. Every element counts, empty ones too: the parser enters a
// frame for each. Comments, CDATA sections, declarations with their quoted values, other markup up to its
// '>', attribute values, character references and the blanks the parser passes over (whitespace and the
// bytes of U+FEFF, U+FFFE and U+FFFF, also between '<' and a name) are skipped the way the parser skips
// them, so nothing they hide is counted. The walk reads the whole text; where it stops before the end
// (an error of the text, or anything it cannot follow) the rest is over-counted as the header says.
XmlMeasure MeasureXml(const char* text, std::uint32_t depthLimit, std::uint32_t attributeLimit);

}  // namespace Vexil3D
