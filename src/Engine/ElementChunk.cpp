// Element chunks: their payload, the attribute getters, and loading an element tree from HBF or XML.
#include <engine/HBFChunk.h>
#include <engine/OS.h>
#include <engine/Stream.h>

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include <platform/text.h>

#include "XmlNesting.h"

namespace Vexil3D {

namespace {

// Names and values are nearly always ASCII: those widen unit by unit.
std::u16string FromUtf8(const char* text) {
  if (!text) return std::u16string();
  std::u16string wide;
  for (const char* p = text; *p; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return text::Utf8ToUtf16(std::string_view(text));
    wide.push_back(static_cast<char16_t>(*p));
  }
  return wide;
}

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    std::uint32_t follow = 0;
    std::uint32_t value = 0;
    std::uint32_t least = 0;
    if ((*p & 0xE0) == 0xC0) follow = 1, value = *p & 0x1F, least = 0x80;
    else if ((*p & 0xF0) == 0xE0) follow = 2, value = *p & 0x0F, least = 0x800;
    else if ((*p & 0xF8) == 0xF0) follow = 3, value = *p & 0x07, least = 0x10000;
    else return false;
    if (static_cast<std::size_t>(end - p) <= follow) return false;
    for (std::uint32_t i = 1; i <= follow; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      value = value << 6 | (p[i] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    p += follow + 1;
  }
  return true;
}

// The text of the stream from its start as UTF-8 (a byte-order mark dropped), or null. Well-formed
// UTF-8 is taken as it stands; anything else goes through the text reader, which decodes UTF-16 and
// mends damaged UTF-8.
std::unique_ptr<char[]> ReadUtf8Text(Stream* stream, std::uint32_t* length) {
  static constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
  static constexpr std::uint64_t kLargestText = 0x7FFFFFFF;
  if (!stream->Seek(0, STREAM_SEEK_BEGIN)) return nullptr;
  const std::uint64_t size = stream->GetRemaining();
  if (size < kLargestText) {
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[std::size_t(size) + 1]);
    if (!bytes) return nullptr;
    const auto got = static_cast<std::uint32_t>(size ? stream->Read(bytes.get(), static_cast<std::uint32_t>(size)) : 0);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.get());
    const bool wide = got >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF) || p[0] == 0);
    const std::uint32_t mark =
        got >= sizeof(kUtf8Mark) && std::memcmp(p, kUtf8Mark, sizeof(kUtf8Mark)) == 0 ? sizeof(kUtf8Mark) : 0;
    if (!wide && got == size && IsUtf8(p + mark, p + got)) {
      std::memmove(bytes.get(), bytes.get() + mark, got - mark);
      bytes[got - mark] = '\0';
      *length = got - mark;
      return bytes;
    }
  }
  if (!stream->Seek(0, STREAM_SEEK_BEGIN)) return nullptr;
  CTextReader reader(stream);
  std::uint32_t units = 0;
  const char16_t* text = reader.GetText(&units);
  if (!text) return nullptr;
  return std::unique_ptr<char[]>(WideToUtf8(text, units, length));
}

}  // namespace

bool CElementChunk::ReadData(Stream* payload) { return m_Text.Read(payload) && m_Attributes.Read(payload); }

bool CElementChunk::WriteData(Stream* stream) { return m_Text.Write(stream) && m_Attributes.Write(stream); }

CElementChunk* CElementChunk::Load(Stream* stream) {
  if (!stream) return nullptr;
  Strong<Stream> hold(stream);
  {
    CRootChunk root;
    if (root.Read(stream)) {
      auto* element = dynamic_cast<CElementChunk*>(root.GetChild(0));
      if (!element || element->GetType() != CHUNK_ELEMENT) return nullptr;
      element->Detach();
      return element;
    }
  }
  std::uint32_t utf8Length = 0;
  std::unique_ptr<char[]> utf8 = ReadUtf8Text(stream, &utf8Length);
  // The parser recurses once per element level and checks each attribute against the others: text nested
  // deeper than a chunk tree may be, or with too many attributes on one element, is refused before it
  // runs, whatever the text hides its elements in.
  if (!utf8) return nullptr;
  const XmlMeasure measure = MeasureXml(utf8.get(), kMaxDepth, kMaxXmlAttributes);
  if (measure.depth > kMaxDepth || measure.attributes > kMaxXmlAttributes) return nullptr;

  // The text is UTF-8 whatever the file was: character references must come out as UTF-8 too.
  TiXmlDocument document;
  document.Parse(utf8.get(), nullptr, TIXML_ENCODING_UTF8);
  utf8.reset();
  const TiXmlElement* xmlRoot = document.FirstChildElement();
  if (!xmlRoot) return nullptr;
  CChunk* chunk = Create(CHUNK_ELEMENT);
  auto* element = dynamic_cast<CElementChunk*>(chunk);
  if (!element) {
    delete chunk;
    return nullptr;
  }
  element->FromXml(xmlRoot);
  return element;
}

void CElementChunk::FromXml(const TiXmlElement* element) {
  if (element) FromXmlAt(element, 0);
}

bool CElementChunk::FromXmlAt(const TiXmlElement* element, std::uint32_t depth) {
  std::uint32_t count = 0;
  for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) ++count;
  m_Children.reserve(m_Children.size() + count);
  m_Name = FromUtf8(element->Value());

  const TiXmlNode* first = element->FirstChild();
  if (first && first->ToText()) m_Text.SetValue(FromUtf8(first->Value()));

  m_Attributes.Clear();
  for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute; attribute = attribute->Next())
    m_Attributes.Set(FromUtf8(attribute->Name()), new CArgumentString(FromUtf8(attribute->Value())));

  if (depth >= kMaxDepth) return count == 0;
  for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
    CChunk* chunk = Create(CHUNK_ELEMENT);
    auto* childElement = dynamic_cast<CElementChunk*>(chunk);
    if (!childElement) {
      delete chunk;
      continue;
    }
    childElement->FromXmlAt(child, depth + 1);
    AppendChild(childElement);
  }
  return true;
}

const char16_t* CElementChunk::GetStringAttribute(const char16_t* name) const {
  if (!name) return nullptr;
  CArgument* argument = m_Attributes.Find(name);
  return argument && argument->IsString() ? argument->ToString(nullptr) : nullptr;
}

bool CElementChunk::GetBoolAttribute(const char16_t* name, bool* out) const {
  const char16_t* text = GetStringAttribute(name);
  return text && ParseBool(text, out);
}

bool CElementChunk::GetFloatAttribute(const char16_t* name, float* out) const {
  const char16_t* text = GetStringAttribute(name);
  if (!text) return false;
  const std::string utf8 = text::Utf16ToUtf8(text);
  *out = static_cast<float>(std::strtod(utf8.c_str(), nullptr));
  return true;
}

}  // namespace Vexil3D
