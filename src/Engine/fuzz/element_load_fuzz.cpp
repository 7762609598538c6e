// Fuzzes loading an element tree from HBF or XML text, and the attribute getters of the result. For
// ASCII text the nesting measure is checked against the parser itself: the parser must never reach a
// level the measure did not count, or deep text could pass the guard.
#include <engine/HBFChunk.h>

#include <tinyxml.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

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

std::uint32_t ParsedDepth(const TiXmlNode* node) {
  std::uint32_t deepest = 0;
  for (const TiXmlElement* child = node->FirstChildElement(); child; child = child->NextSiblingElement())
    deepest = std::max(deepest, ParsedDepth(child) + 1);
  return deepest;
}

void CheckMeasure(const std::uint8_t* data, std::size_t size) {
  if (std::any_of(data, data + size, [](std::uint8_t byte) { return byte == 0 || byte >= 0x80; })) return;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::uint32_t measured = Vexil3D::MeasureXmlNesting(text.c_str(), Vexil3D::CChunk::kMaxDepth);
  if (measured > Vexil3D::CChunk::kMaxDepth) return;
  TiXmlDocument document;
  document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (ParsedDepth(&document) > measured) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<Vexil3D::CElementChunk> element(Vexil3D::CElementChunk::Load(enginefuzz::Over(data, size)));
  if (element) Visit(element.get());
  CheckMeasure(data, size);
  return 0;
}
