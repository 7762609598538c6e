// Fuzzes loading an element tree from HBF or XML text, and the attribute getters of the result.
#include <engine/HBFChunk.h>

#include <memory>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<Vexil3D::CElementChunk> element(Vexil3D::CElementChunk::Load(enginefuzz::Over(data, size)));
  if (element) Visit(element.get());
  return 0;
}
