// Measuring element nesting the way the element-file parser walks the text. Each reader below takes the
// position of a construct and answers the position just past it, or null where the parser reports an
// error and stops; the parser's own whitespace, name, entity and multi-byte rules are followed. A null
// is not believed, though: the rest of the text is then over-counted, since a reader that disagrees with
// the parser would otherwise hide from the measure whatever the parser goes on to descend into.
#include "XmlNesting.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

namespace Vexil3D {

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Bytes of 127 and above count as letters, so that names may hold any UTF-8.
bool IsNameStart(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 127 ? true : std::isalpha(byte) != 0 || c == '_';
}

bool IsNameChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 127 ? true : std::isalnum(byte) != 0 || c == '_' || c == '-' || c == '.' || c == ':';
}

bool StartsWith(const char* p, std::string_view prefix) {
  for (char c : prefix)
    if (*p++ != c) return false;
  return true;
}

bool StartsWithFolded(const char* p, std::string_view prefix) {
  for (char c : prefix) {
    const auto byte = static_cast<unsigned char>(*p++);
    if (byte == 0 || (byte < 128 ? std::tolower(byte) : byte) != c) return false;
  }
  return true;
}

// Whitespace and the three byte sequences of U+FEFF, U+FFFE and U+FFFF, which the parser passes over
// wherever it skips whitespace.
const char* SkipBlanks(const char* p) {
  for (;;) {
    if (StartsWith(p, "\xEF\xBB\xBF") || StartsWith(p, "\xEF\xBF\xBE") || StartsWith(p, "\xEF\xBF\xBF")) {
      p += 3;
    } else if (*p && IsSpace(*p)) {
      ++p;
    } else {
      return p;
    }
  }
}

// The bytes of the sequence a UTF-8 lead byte opens; the parser takes them without looking at them, so a
// markup byte can never hide inside one of the well-formed text the loader hands over.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// &#x...; and &#...; run to the first ';' after them and are taken whole when everything back from the
// ';' to the nearest 'x' (or '#') is a digit of the base, even when that spans markup; a reference that
// is not complete stops the parser. Named references and a lone '&' leave the next byte to be read.
const char* SkipReference(const char* p) {
  if (p[1] != '#' || !p[2]) return p + 1;
  const bool hex = p[2] == 'x';
  if (hex && !p[3]) return nullptr;
  const char* semicolon = std::strchr(p + (hex ? 3 : 2), ';');
  if (!semicolon) return nullptr;
  const char stop = hex ? 'x' : '#';
  for (const char* q = semicolon - 1; *q != stop; --q)
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(*q)) : std::isdigit(static_cast<unsigned char>(*q))))
      return nullptr;
  return semicolon + 1;
}

// One character of text or of an attribute value.
const char* SkipCharacter(const char* p) {
  if (*p == '&') return SkipReference(p);
  const std::size_t length = SequenceLength(static_cast<unsigned char>(*p));
  for (std::size_t i = 1; i < length; ++i)
    if (!p[i]) return nullptr;
  return p + length;
}

// Characters up to the terminator, then past it; null when the text ends first or right after it.
const char* SkipText(const char* p, std::string_view terminator) {
  while (p && *p && !StartsWith(p, terminator)) p = SkipCharacter(p);
  if (!p || !*p) return nullptr;
  p += terminator.size();
  return *p ? p : nullptr;
}

const char* SkipName(const char* p) {
  if (!IsNameStart(*p)) return nullptr;
  while (*p && IsNameChar(*p)) ++p;
  return p;
}

// attribute := name S? '=' S? ( '"' text '"' | "'" text "'" | bare )
// A bare value ends at whitespace, '/' or '>'; a quote inside it is an error.
const char* SkipAttribute(const char* p) {
  p = SkipBlanks(p);
  if (!*p) return nullptr;
  p = SkipName(p);
  if (!p || !*p) return nullptr;
  p = SkipBlanks(p);
  if (*p != '=') return nullptr;
  p = SkipBlanks(p + 1);
  if (!*p) return nullptr;
  if (*p == '"' || *p == '\'') return SkipText(p + 1, std::string_view(p, 1));
  for (; *p && !IsSpace(*p) && *p != '/' && *p != '>'; ++p)
    if (*p == '"' || *p == '\'') return nullptr;
  return p;
}

// declaration := '<?xml' ( S | version | encoding | standalone | other )* '>'
// The three known attributes take quoted values, which may hold '>'; anything else is passed over up to
// whitespace or '>'. The declaration is an error when the text ends inside it.
const char* SkipDeclaration(const char* p) {
  p += std::strlen("<?xml");
  while (p && *p) {
    if (*p == '>') return p + 1;
    p = SkipBlanks(p);
    if (StartsWithFolded(p, "version") || StartsWithFolded(p, "encoding") || StartsWithFolded(p, "standalone")) {
      p = SkipAttribute(p);
    } else {
      while (*p && *p != '>' && !IsSpace(*p)) ++p;
    }
  }
  return nullptr;
}

// Past the terminator, or at the end of the text when it is missing.
const char* SkipRaw(const char* p, std::string_view terminator) {
  while (*p && !StartsWith(p, terminator)) ++p;
  return *p ? p + terminator.size() : p;
}

enum class Markup { Declaration, Comment, Data, Other, Element };

// What a '<' opens, tested in the parser's order.
Markup Classify(const char* p) {
  if (StartsWithFolded(p, "<?xml")) return Markup::Declaration;
  if (StartsWith(p, "<!--")) return Markup::Comment;
  if (StartsWith(p, "<![CDATA[")) return Markup::Data;
  if (StartsWith(p, "<!")) return Markup::Other;
  return p[1] && IsNameStart(p[1]) ? Markup::Element : Markup::Other;
}

// Anything a '<' opens but an element.
const char* SkipMarkup(Markup kind, const char* p) {
  switch (kind) {
    case Markup::Declaration:
      return SkipDeclaration(p);
    case Markup::Comment:
      return SkipRaw(p + std::strlen("<!--"), "-->");
    case Markup::Data: {
      // The section's bytes are taken raw; the parser then wants something after its "]]>".
      const char* q = SkipRaw(p + std::strlen("<![CDATA["), "]]>");
      return *q ? q : nullptr;
    }
    default:
      return SkipRaw(p + 1, ">");
  }
}

// Whether the parser could take this '<' for the start of an element: end tags, comments, declarations
// and other "<!" and "<?" markup never open one.
bool MayOpenElement(const char* p) { return p[1] != '\0' && p[1] != '/' && p[1] != '!' && p[1] != '?'; }

// Element nesting and attributes per element over one walk of the text; the open elements' names are kept
// for matching end tags.
class Gauge {
 public:
  Gauge(std::uint32_t depthLimit, std::uint32_t attributeLimit)
      : m_DepthLimit(depthLimit), m_AttributeLimit(attributeLimit) {}

  // document := S? ( markup S? )*   -- text outside every element ends the parse
  XmlMeasure Measure(const char* p) {
    p = SkipBlanks(p);
    Mark(p);
    while (p && *p == '<' && !Passed()) {
      const Markup kind = Classify(p);
      p = kind == Markup::Element ? SkipElement(p) : SkipMarkup(kind, p);
      if (p) {
        p = SkipBlanks(p);
        Mark(p);
      }
    }
    if (!Passed() && (!p || *p)) CountTheRest();
    return m_Measure;
  }

 private:
  bool Passed() const { return m_Measure.depth > m_DepthLimit || m_Measure.attributes > m_AttributeLimit; }

  // A point where the walk and the parser agree: the parser has m_Open.size() elements open here.
  void Mark(const char* p) {
    m_pMark = p;
    m_uMarkOpen = static_cast<std::uint32_t>(m_Open.size());
  }

  // The walk stopped before the end of the text. The parser may have read on from the last mark, so the
  // rest is taken at its worst: every '<' that may open an element opens one more level, and every '='
  // is one more attribute of a single element (the parser wants an '=' for each attribute).
  void CountTheRest() {
    std::uint64_t depth = m_uMarkOpen;
    std::uint64_t attributes = 0;
    for (const char* p = m_pMark; *p; ++p) {
      if (*p == '<' && MayOpenElement(p)) ++depth;
      if (*p == '=') ++attributes;
    }
    Raise(&m_Measure.depth, depth, m_DepthLimit);
    Raise(&m_Measure.attributes, attributes, m_AttributeLimit);
  }

  static void Raise(std::uint32_t* value, std::uint64_t count, std::uint32_t limit) {
    const std::uint64_t capped = count > limit ? std::uint64_t(limit) + 1 : count;
    if (capped > *value) *value = static_cast<std::uint32_t>(capped);
  }

  // element := '<' S? name attribute* S? ( '/>' | '>' content '</' name S? '>' )
  // content := S? ( ( text | markup | element ) S? )*
  // Walked with a stack of open names instead of the parser's recursion.
  const char* SkipElement(const char* p) {
    for (;;) {
      // p is at the '<' of an element: the parser has entered one more level.
      Mark(p);
      Raise(&m_Measure.depth, m_Open.size() + 1, m_DepthLimit);
      if (Passed()) return nullptr;
      // The parser passes over blanks between '<' and the name; U+FEFF and its kin get here.
      const char* name = SkipBlanks(p + 1);
      p = SkipName(name);
      if (!p || !*p) return nullptr;
      const std::string_view opened(name, static_cast<std::size_t>(p - name));
      bool empty = false;
      p = SkipOpenTagRest(p, &empty);
      if (!p) return nullptr;
      if (!empty) m_Open.push_back(opened);
      // Content of the innermost open element, closing elements until a new one opens or all are closed.
      for (;;) {
        if (empty) {
          empty = false;
        } else {
          p = SkipContent(p);
          if (!p) return nullptr;
          if (*p == '<' && !StartsWith(p, "</")) break;  // a child element
          p = SkipEndTag(p);
          if (!p) return nullptr;
        }
        if (m_Open.empty()) return p;
        p = SkipBlanks(p);
        Mark(p);
      }
    }
  }

  // Attributes up to '>' or "/>" (which sets empty); the element's name is behind p.
  const char* SkipOpenTagRest(const char* p, bool* empty) {
    std::uint32_t attributes = 0;
    for (;;) {
      p = SkipBlanks(p);
      if (!*p) return nullptr;
      if (*p == '/') {
        if (p[1] != '>') return nullptr;
        *empty = true;
        return p + 2;
      }
      if (*p == '>') return p + 1;
      // Each attribute is checked against those before it: a long list costs the parser its square.
      Raise(&m_Measure.attributes, ++attributes, m_AttributeLimit);
      if (Passed()) return nullptr;
      p = SkipAttribute(p);
      if (!p || !*p) return nullptr;
    }
  }

  // Text and non-element markup; stops at the '<' of an element or of an end tag. Null where the
  // parser gives up, including text that runs to the end without an end tag.
  const char* SkipContent(const char* p) {
    p = SkipBlanks(p);
    while (*p) {
      Mark(p);
      if (*p != '<') {
        p = SkipText(p, "<");
        if (!p) return nullptr;
        --p;  // the '<' belongs to what follows
      } else if (StartsWith(p, "</")) {
        return p;
      } else {
        const Markup kind = Classify(p);
        if (kind == Markup::Element) return p;
        p = SkipMarkup(kind, p);
        if (!p) return nullptr;
      }
      p = SkipBlanks(p);
    }
    return nullptr;
  }

  // '</' name S? '>' of the innermost open element; a different name stops the parser.
  const char* SkipEndTag(const char* p) {
    const std::string_view name = m_Open.back();
    m_Open.pop_back();
    p += 2;
    if (!StartsWith(p, name)) return nullptr;
    p = SkipBlanks(p + name.size());
    return *p == '>' ? p + 1 : nullptr;
  }

  std::uint32_t m_DepthLimit;
  std::uint32_t m_AttributeLimit;
  XmlMeasure m_Measure;
  std::vector<std::string_view> m_Open;
  const char* m_pMark = "";
  std::uint32_t m_uMarkOpen = 0;
};

}  // namespace

XmlMeasure MeasureXml(const char* text, std::uint32_t depthLimit, std::uint32_t attributeLimit) {
  if (!text) return XmlMeasure{};
  return Gauge(depthLimit, attributeLimit).Measure(text);
}

}  // namespace Vexil3D
