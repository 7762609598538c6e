// Fuzzes loading an element tree from HBF or XML text, and the attribute getters of the result. For
// well-formed UTF-8 text (what the loader hands the parser) the measure is checked against the parser
// itself: the parser must never reach a level, or put more attributes on one element, than the measure
// counted, or deep or wide text could pass the guard.
#include <engine/HBFChunk.h>

#include <tinyxml.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include <platform/text.h>

#include "../XmlNesting.h"
#include "FuzzStream.h"

namespace {

void Visit(const Vexil3D::CElementChunk* element) {
  bool flag = false;
  float number = 0.0f;
  for (const auto& entry : const_cast<Vexil3D::CElementChunk*>(element)->GetAttributes().GetEntries()) {
    element->GetStringAttribute(entry.first.c_str());
    element->GetBoolAttribute(entry.first.c_str(), &flag);
    element->GetFloatAttribute(entry.first.c_str(), &number);
  }
  for (std::uint32_t i = 0; i < element->GetChildCount(); ++i)
    if (auto* child = dynamic_cast<const Vexil3D::CElementChunk*>(element->GetChild(i))) Visit(child);
}

// The deepest level below the node and the most attributes on one element there.
Vexil3D::XmlMeasure Parsed(const TiXmlNode* node) {
  Vexil3D::XmlMeasure most;
  for (const TiXmlElement* child = node->FirstChildElement(); child; child = child->NextSiblingElement()) {
    const Vexil3D::XmlMeasure below = Parsed(child);
    std::uint32_t attributes = 0;
    for (const TiXmlAttribute* a = child->FirstAttribute(); a; a = a->Next()) ++attributes;
    most.depth = std::max(most.depth, below.depth + 1);
    most.attributes = std::max({most.attributes, below.attributes, attributes});
  }
  return most;
}

void CheckMeasure(const std::uint8_t* data, std::size_t size) {
  if (std::any_of(data, data + size, [](std::uint8_t byte) { return byte == 0; })) return;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text::Utf16ToUtf8(text::Utf8ToUtf16(text)) != text) return;  // not well-formed UTF-8
  const Vexil3D::XmlMeasure measured =
      Vexil3D::MeasureXml(text.c_str(), Vexil3D::CChunk::kMaxDepth, Vexil3D::CElementChunk::kMaxXmlAttributes);
  if (measured.depth > Vexil3D::CChunk::kMaxDepth || measured.attributes > Vexil3D::CElementChunk::kMaxXmlAttributes)
    return;
  TiXmlDocument document;
  document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  const Vexil3D::XmlMeasure parsed = Parsed(&document);
  if (parsed.depth > measured.depth || parsed.attributes > measured.attributes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<Vexil3D::CElementChunk> element(Vexil3D::CElementChunk::Load(enginefuzz::Over(data, size)));
  if (element) Visit(element.get());
  CheckMeasure(data, size);
  return 0;
}
