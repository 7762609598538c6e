// Element trees from XML (UTF-8 and UTF-16, character references, nesting limits) and from HBF, and
// the attribute getters.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "ChunkFixtures.h"

using namespace Vexil3D;
using enginetest::Bytes;

namespace {

std::unique_ptr<CElementChunk> LoadText(const std::string& text) {
  return std::unique_ptr<CElementChunk>(CElementChunk::Load(enginetest::Over(Bytes(text.begin(), text.end()))));
}

TEST(ElementXml, ElementsTextAndAttributes) {
  auto a = LoadText("<a x=\"1\"><b/>some text<c/></a>");
  ASSERT_TRUE(a);
  // The text is empty: the first node is an element.
  EXPECT_EQ((std::tuple{a->GetName(), a->GetParent(), std::u16string(a->GetStringAttribute(u"x")),
                        a->GetText().GetValue()}),
            (std::tuple{u"a", nullptr, u"1", u""}));
  ASSERT_EQ(a->GetChildCount(), 2u);
  EXPECT_EQ((std::tuple{a->GetChild(0)->GetName(), a->GetChild(1)->GetName(), a->GetChild(1)->GetIndex(),
                        a->GetChild(1)->GetParent()}),
            (std::tuple{u"b", u"c", 1u, a.get()}));
}

TEST(ElementXml, TextIsUtf8WhateverTheFileWas) {
  const std::u16string expected = u"\u00E9\u4E2D";
  auto utf8 = LoadText("<r>&#233;&#x4E2D;</r>");
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->GetText().GetValue(), expected);
  const std::u16string wide = u"\uFEFF<r v=\"\u00E9\u4E2D\"/>";
  const auto* p = reinterpret_cast<const std::uint8_t*>(wide.data());
  std::unique_ptr<CElementChunk> utf16(CElementChunk::Load(enginetest::Over(Bytes(p, p + wide.size() * 2))));
  ASSERT_TRUE(utf16);
  EXPECT_EQ(std::u16string(utf16->GetStringAttribute(u"v")), expected);
}

TEST(ElementXml, NestingBeyondTheLimitIsRefusedBeforeParsing) {
  struct Case { std::uint32_t depth; bool loads; };
  for (const Case& c : {Case{CChunk::kMaxDepth, true}, Case{CChunk::kMaxDepth + 1, false}, Case{100000, false}}) {
    SCOPED_TRACE(c.depth);
    std::string text;
    for (std::uint32_t i = 0; i < c.depth; ++i) text += "<e a='>'>";
    for (std::uint32_t i = 0; i < c.depth; ++i) text += "</e>";
    EXPECT_EQ(LoadText(text) != nullptr, c.loads);
  }
  // Siblings and self-closed elements do not nest.
  std::string wide = "<r>";
  for (int i = 0; i < 5000; ++i) wide += "<s/><t></t>";
  EXPECT_TRUE(LoadText(wide + "</r>"));
}

TEST(ElementHbf, FirstChunkDecides) {
  CRootChunk root;
  auto* element = new CElementChunk;
  element->SetName(u"page");
  root.AppendChild(element);
  std::unique_ptr<CElementChunk> loaded(CElementChunk::Load(enginetest::Over(enginetest::WriteFile(&root, 8, true))));
  ASSERT_TRUE(loaded);
  EXPECT_EQ((std::tuple{loaded->GetName(), loaded->GetParent()}), (std::tuple{u"page", nullptr}));

  // A data chunk first: null, and the bytes are not tried as XML.
  CRootChunk data;
  data.SetName(u"<x/>");
  data.AppendChild(new CDataChunk);
  EXPECT_FALSE(CElementChunk::Load(enginetest::Over(enginetest::WriteFile(&data, 8, false))));
  // An unreadable version goes to the XML path, which finds no element in it.
  Bytes v9 = enginetest::WriteFile(&root, 8, false);
  v9[4] = 9;
  EXPECT_FALSE(CElementChunk::Load(enginetest::Over(v9)));
}

TEST(ElementAttributes, Getters) {
  auto e = LoadText("<e t=\"True\" z=\"0\" o=\"1\" f=\"1.5\" w=\"x\"/>");
  ASSERT_TRUE(e);
  e->GetAttributes().Set(u"n", new CArgumentFixed<std::int32_t, ARGUMENT_INTEGER>);
  struct Case { const char16_t* name; bool boolFound; bool boolValue; bool floatFound; float floatValue; };
  const Case cases[] = {
      {u"t", false, true, true, 0.0f}, {u"z", true, false, true, 0.0f},  {u"o", true, true, true, 1.0f},
      {u"f", false, true, true, 1.5f}, {u"w", false, true, true, 0.0f},  {u"n", false, true, false, -1.0f},
      {u"absent", false, true, false, -1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.name));
    bool flag = true;
    float number = -1.0f;
    EXPECT_EQ((std::tuple{e->GetBoolAttribute(c.name, &flag), flag, e->GetFloatAttribute(c.name, &number), number}),
              (std::tuple{c.boolFound, c.boolValue, c.floatFound, c.floatValue}));
  }
  EXPECT_EQ(e->GetStringAttribute(u"n"), nullptr);
}

}  // namespace
