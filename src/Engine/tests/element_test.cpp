// Element trees from XML (UTF-8 and UTF-16, character references, nesting limits) and from HBF, and
// the attribute getters.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <tuple>

#include "ChunkFixtures.h"
#include "XmlNesting.h"

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

// Element levels of a loaded tree, the root counted as 1.
std::uint32_t TreeDepth(const CChunk* chunk) {
  std::uint32_t deepest = 0;
  for (std::uint32_t i = 0; i < chunk->GetChildCount(); ++i) deepest = std::max(deepest, TreeDepth(chunk->GetChild(i)));
  return deepest + 1;
}

std::string Repeat(std::string_view piece, std::uint32_t count) {
  std::string text;
  for (std::uint32_t i = 0; i < count; ++i) text += piece;
  return text;
}

// Nesting as deep as the limit loads whole, one level more is refused, whatever the text wraps around the
// nest or puts into its tags: the parser reads through each of these wrappings into the elements.
TEST(ElementXml, NestingBeyondTheLimitIsRefusedBeforeParsing) {
  struct Wrap {
    const char* name;
    const char* before;
    const char* open;
    const char* after;
    std::uint32_t levels;
  };
  const Wrap wraps[] = {
      {"plain", "", "<e>", "", 0},
      {"quoted '>' in tags", "", "<e a='>'>", "", 0},
      {"tags end past a quote after odd blanks", "", "<e a=\f'/>' b=\v\"<!--\">", "", 0},
      {"declaration value holding '>'", "<?xml version='>' <!-- '?>", "<e>", " -->", 0},
      {"declaration in capitals", "<?XML encoding=\">\" <![CDATA[ \"?>", "<e>", "]]>", 0},
      {"declaration inside an element", "<r><?xml standalone='>' <!-- '?>", "<e>", "--></r>", 1},
      {"attribute value opening a comment", "<r a=\v'><!--'>", "<e>", "--></r>", 1},
      {"hex reference over a CDATA opener", "<r>&#x<![CDATA[x1;", "<e>", "]]></r>", 1},
      {"decimal reference over a comment opener", "<r>&#<!--#1;", "<e>", "--></r>", 1},
      {"reference in a value over its quote", "<r a='&#x'><!--x1;'>", "<e>", "--></r>", 1},
      {"empty innermost element", "", "<e>", "", 0},
  };
  for (const Wrap& w : wraps) {
    for (std::uint32_t depth : {CChunk::kMaxDepth, CChunk::kMaxDepth + 1, 3 * CChunk::kMaxDepth}) {
      SCOPED_TRACE(testing::Message() << w.name << " at " << depth);
      const bool empty = std::string_view(w.name) == "empty innermost element";
      const std::uint32_t nest = depth - w.levels - (empty ? 1 : 0);
      std::string text = w.before + Repeat(w.open, nest) + (empty ? "<e/>" : "") + Repeat("</e>", nest) + w.after;
      auto loaded = LoadText(text);
      ASSERT_EQ(loaded != nullptr, depth <= CChunk::kMaxDepth);
      if (loaded) {
        EXPECT_EQ(TreeDepth(loaded.get()), depth);  // whole, never cut
      }
      EXPECT_EQ(MeasureXmlNesting(text.c_str(), CChunk::kMaxDepth), std::min(depth, CChunk::kMaxDepth + 1));
    }
  }
}

// What the parser does not nest is not counted against the limit, and where it stops at an error the
// measure stops too: each text loads, and the measure agrees with the tree the parser built.
TEST(ElementXml, MarkupThatDoesNotNestLoads) {
  const std::uint32_t many = 2 * CChunk::kMaxDepth;
  struct Case {
    const char* name;
    std::string text;
    std::uint32_t depth;
  };
  const Case cases[] = {
      {"siblings", "<r>" + Repeat("<s/><t></t>", many) + "</r>", 2},
      {"not a tag", "<r>" + Repeat("< e>", many) + "</r>", 1},
      {"comments", "<r>" + Repeat("<!-- <e> -->", many) + "</r>", 1},
      {"CDATA", "<r>" + Repeat("<![CDATA[<e>]]>", many) + "</r>", 1},
      {"instructions", "<r>" + Repeat("<?pi <e> ?>", many) + "</r>", 1},
      {"quoted tags", "<r>" + Repeat("<e a='<e>'/>", many) + "</r>", 2},
      {"references", "<r>" + Repeat("&#x3C;e&#62;", many) + "</r>", 1},
      {"stray quote stops the parser", "<r><e a=b'c>" + Repeat("<e>", many), 2},
      {"bad reference stops the parser", "<r>&#1x;" + Repeat("<e>", many), 1},
      {"text before the root", "text" + Repeat("<e>", many), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MeasureXmlNesting(c.text.c_str(), CChunk::kMaxDepth), c.depth);
    auto loaded = LoadText(c.text);
    EXPECT_EQ(loaded ? TreeDepth(loaded.get()) : 0u, c.depth);
  }
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
