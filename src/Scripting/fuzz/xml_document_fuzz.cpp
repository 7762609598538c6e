// Fuzzes XML documents for scripts: the first byte picks a seed for the walk, the rest is loaded; then
// elements are kept, random nodes cleared and everything released in a scrambled order.
#include <algorithm>
#include <random>
#include <vector>

#include <engine/Stream.h>
#include <scripting/XmlDocument.h>

namespace {

using namespace Vexil3D;

void Collect(CXmlElement* element, std::vector<Strong<CXmlElement>>& all) {
  all.emplace_back(element);
  for (const auto& child : element->GetChildren()) Collect(child.Get(), all);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::mt19937 random(data[0]);
  Strong<Stream> stream;
  stream.Attach(new CMemoryStream(data + 1, static_cast<std::uint32_t>(size - 1)));
  Strong<CXmlDocument> document;
  document.Attach(new CXmlDocument(nullptr));
  if (!document->Load(stream.Get())) return 0;
  std::vector<Strong<CXmlElement>> all;
  Collect(document->GetRootElement(), all);
  for (auto& element : all) {
    std::int32_t value = 0;
    for (const auto& entry : element->GetChunk()->GetAttributes().GetEntries())
      element->GetIntegerAttribute(entry.first.c_str(), &value);
    if (random() % 4 == 0) element->Clear();
  }
  std::shuffle(all.begin(), all.end(), random);
  if (random() % 2) document = nullptr;
  all.clear();
  return 0;
}
