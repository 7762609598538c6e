// Element chunks: their payload, the attribute getters, and loading an element tree from HBF or XML.
#include <engine/HBFChunk.h>
#include <engine/OS.h>
#include <engine/Stream.h>

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <platform/text.h>

namespace Vexil3D {

namespace {

// Skips to just past the terminator; the end of the text when it is missing.
const char* SkipPast(const char* p, const char* end, const char* terminator) {
  const std::size_t length = std::strlen(terminator);
  for (; p + length <= end; ++p)
    if (std::memcmp(p, terminator, length) == 0) return p + length;
  return end;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The deepest element nesting in the text, counted the way the parser will nest (comments, CDATA,
// declarations and quoted attribute values hold no tags), or kMaxDepth + 1 as soon as it is passed.
// The parser recurses once per level, so deep text must be refused before it runs.
std::uint32_t MeasureXmlDepth(const char* p, const char* end) {
  std::uint32_t depth = 0;
  while (p < end) {
    if (*p != '<') {
      ++p;
      continue;
    }
    const std::size_t left = static_cast<std::size_t>(end - p);
    if (left >= 4 && std::memcmp(p, "<!--", 4) == 0) {
      p = SkipPast(p + 4, end, "-->");
    } else if (left >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
      p = SkipPast(p + 9, end, "]]>");
    } else if (left >= 2 && (p[1] == '?' || p[1] == '!')) {
      p = SkipPast(p + 2, end, ">");
    } else if (left >= 2 && p[1] == '/') {
      if (depth > 0) --depth;
      p = SkipPast(p + 2, end, ">");
    } else {
      // An opening tag: attributes up to '>', quoted values taken whole.
      ++p;
      bool selfClosing = false;
      while (p < end && *p != '>') {
        if (*p == '=') {
          ++p;
          while (p < end && IsBlank(*p)) ++p;
          if (p < end && (*p == '"' || *p == '\'')) {
            const char quote[2] = {*p, '\0'};
            p = SkipPast(p + 1, end, quote);
          }
          continue;
        }
        selfClosing = *p == '/';
        ++p;
      }
      if (p < end) ++p;
      if (!selfClosing && ++depth > CChunk::kMaxDepth) return depth;
    }
  }
  return depth;
}

std::u16string FromUtf8(const char* text) { return text ? text::Utf8ToUtf16(std::string_view(text)) : std::u16string(); }

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
  if (!stream->Seek(0, STREAM_SEEK_BEGIN)) return nullptr;
  CTextReader reader(stream);
  std::uint32_t length = 0;
  const char16_t* text = reader.GetText(&length);
  if (!text) return nullptr;
  std::uint32_t utf8Length = 0;
  std::unique_ptr<char[]> utf8(WideToUtf8(text, length, &utf8Length));
  reader.Close();
  if (!utf8 || MeasureXmlDepth(utf8.get(), utf8.get() + utf8Length) > kMaxDepth) return nullptr;

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
