// Element trees from XML (UTF-8 and UTF-16, character references, nesting limits) and from HBF, and
// the attribute getters.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <tuple>

#include <platform/text.h>

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

XmlMeasure Measure(const std::string& text) {
  return MeasureXml(text.c_str(), CChunk::kMaxDepth, CElementChunk::kMaxXmlAttributes);
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
      EXPECT_EQ(Measure(text).depth, std::min(depth, CChunk::kMaxDepth + 1));
    }
  }
}

// What the parser does not nest is not counted against the limit: each text loads, and the measure
// agrees with the tree the parser built.
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Measure(c.text).depth, c.depth);
    auto loaded = LoadText(c.text);
    EXPECT_EQ(loaded ? TreeDepth(loaded.get()) : 0u, c.depth);
  }
}

// Every byte sequence the parser passes over as a blank: whitespace, and the bytes of U+FEFF, U+FFFE and
// U+FFFF, which it also skips between '<' and the element's name.
struct Blank {
  const char* name;
  std::string bytes;
  bool afterOpener;  // the parser takes '<' and this for an element (a plain blank there is no element)
};
const Blank kBlanks[] = {
    {"space", " ", false},
    {"tab", "\t", false},
    {"line feed", "\n", false},
    {"vertical tab", "\v", false},
    {"form feed", "\f", false},
    {"carriage return", "\r", false},
    {"U+FEFF", "\xEF\xBB\xBF", true},
    {"U+FFFE", "\xEF\xBF\xBE", true},
    {"U+FFFF", "\xEF\xBF\xBF", true},
};

// Blanks in every place the parser skips them, around the limit and far past it: the measure sees each
// level the parser would enter, so the deep texts are refused before the parser's recursion runs out of
// stack, and the texts within the limit load whole.
TEST(ElementXml, BlanksWhereverTheParserSkipsThemHideNoLevel) {
  for (const Blank& b : kBlanks) {
    // Bytes of 128 or more after a name belong to it: a plain blank ends each name first. After '<' the
    // marks are followed by a blank, so that a walk reading them as the name would stop at what follows.
    const std::string lead = b.afterOpener ? b.bytes + "\t" + b.bytes + " " : "";
    const std::string open =
        "<" + lead + "e " + b.bytes + "a " + b.bytes + "=" + b.bytes + "'1' " + b.bytes + ">" + b.bytes;
    const std::string close = "</e " + b.bytes + ">" + b.bytes;
    for (std::uint32_t depth : {CChunk::kMaxDepth, CChunk::kMaxDepth + 1, 300u, 5000u, 50000u}) {
      SCOPED_TRACE(testing::Message() << b.name << " at " << depth);
      const std::string text = b.bytes + Repeat(open, depth) + Repeat(close, depth);
      EXPECT_EQ(Measure(text).depth, std::min(depth, CChunk::kMaxDepth + 1));
      auto loaded = LoadText(text);
      ASSERT_EQ(loaded != nullptr, depth <= CChunk::kMaxDepth);
      if (loaded) {
        EXPECT_EQ(TreeDepth(loaded.get()), depth);
        EXPECT_NE(loaded->GetStringAttribute(u"a"), nullptr);
      }
      // As UTF-16 after its mark, the text reaches the measure as the same UTF-8.
      const std::u16string wide = u"\uFEFF" + text::Utf8ToUtf16(text);
      const auto* units = reinterpret_cast<const std::uint8_t*>(wide.data());
      std::unique_ptr<CElementChunk> fromWide(
          CElementChunk::Load(enginetest::Over(Bytes(units, units + wide.size() * 2))));
      EXPECT_EQ(fromWide ? TreeDepth(fromWide.get()) : 0u, depth <= CChunk::kMaxDepth ? depth : 0u);
    }
    // As many siblings do not nest: the walk follows each of them, so nothing is over-counted.
    const std::string siblings =
        "<r>" + Repeat("<" + lead + "e " + b.bytes + "a" + b.bytes + "='1'/>" + b.bytes, 5000) + "</r" + b.bytes + ">";
    SCOPED_TRACE(testing::Message() << b.name << " in 5000 siblings");
    EXPECT_EQ(Measure(siblings).depth, 2u);
    auto loaded = LoadText(siblings);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->GetChildCount(), 5000u);
  }
}

// Where the walk cannot follow the text (an error of the text, or a reading of it that may differ from
// the parser's), everything after the last point it followed is counted at its worst: each '<' that may
// open an element one level more, each '=' one more attribute. A text with little after such a point
// still loads what the parser built; one with enough to pass a limit is refused.
TEST(ElementXml, WhereTheWalkStopsTheRestIsCountedAtItsWorst) {
  const std::uint32_t limit = CChunk::kMaxDepth;
  struct Stop {
    const char* name;
    const char* before;   // up to and including where the walk stops
    std::uint32_t base;   // the measure with nothing after the stop
    std::uint32_t built;  // levels the parser builds
  };
  const Stop stops[] = {
      {"stray quote in a bare value", "<r><e a=b'c>", 2, 2},
      {"incomplete reference", "<r>&#1x;", 1, 1},
      {"text before the root", "text", 0, 0},
      {"wrong end tag", "<r><e></f>", 2, 2},
      {"attribute without a value", "<r a>", 1, 1},
      {"the same attribute twice", "<r a='1' a='2'>", 1, 1},
      {"mark then a character no name starts with", "<r><\xEF\xBB\xBF-x>", 2, 2},
  };
  for (const Stop& s : stops) {
    for (std::uint32_t after : {0u, 3u, limit - s.base, limit + 1 - s.base, 5000u}) {
      SCOPED_TRACE(testing::Message() << s.name << " with " << after << " tags after it");
      const std::string text = s.before + Repeat("<e>", after);
      const bool refused = s.base + after > limit;
      EXPECT_EQ(Measure(text).depth, refused ? limit + 1 : s.base + after);
      auto loaded = LoadText(text);
      ASSERT_EQ(loaded != nullptr, !refused && s.built > 0);
      if (loaded) {
        EXPECT_EQ(TreeDepth(loaded.get()), s.built);
      }
    }
    // Attributes behind the stop are counted by their '=' signs.
    for (std::uint32_t attributes : {CElementChunk::kMaxXmlAttributes - 8, CElementChunk::kMaxXmlAttributes + 1}) {
      std::string text = std::string(s.before) + "<w";
      for (std::uint32_t i = 0; i < attributes; ++i) text += " a" + std::to_string(i) + "='1'";
      text += "/>";
      EXPECT_EQ(Measure(text).attributes > CElementChunk::kMaxXmlAttributes,
                attributes > CElementChunk::kMaxXmlAttributes)
          << s.name << " with " << attributes << " attributes after it";
    }
  }
}

// The parser checks each attribute of an element against the ones before it: one element may carry
// kMaxXmlAttributes of them, one more refuses the text before the parser runs, wherever the element
// stands and however its attributes are spaced.
TEST(ElementXml, AttributesPerElementAreBounded) {
  const std::uint32_t limit = CElementChunk::kMaxXmlAttributes;
  for (const Blank& b : {kBlanks[0], kBlanks[2], kBlanks[6], kBlanks[8]}) {
    for (std::uint32_t count : {limit - 1, limit, limit + 1, 60000u}) {
      for (bool nested : {false, true}) {
        SCOPED_TRACE(testing::Message() << b.name << ", " << count << " attributes, nested " << nested);
        std::string tag = "<w";
        for (std::uint32_t i = 0; i < count; ++i)
          tag += " " + b.bytes + "a" + std::to_string(i) + "=" + b.bytes + "'1'";
        tag += "/>";
        const std::string text = nested ? "<r><s x='1' y='2'/>" + tag + "<s/></r>" : tag;
        const XmlMeasure measure = Measure(text);
        EXPECT_EQ(measure.attributes, std::min(count, limit + 1));
        auto loaded = LoadText(text);
        ASSERT_EQ(loaded != nullptr, count <= limit);
        if (loaded) {
          const CChunk* w = nested ? loaded->GetChild(1) : loaded.get();
          ASSERT_NE(w, nullptr);
          const std::string last = "a" + std::to_string(count - 1);
          const char16_t* value = static_cast<const CElementChunk*>(w)->GetStringAttribute(
              std::u16string(last.begin(), last.end()).c_str());
          EXPECT_EQ(value ? std::u16string(value) : u"(none)", u"1");
        }
      }
    }
  }
}

// What the element loader reads as text: UTF-8 with or without a mark, little-endian UTF-16 after its mark;
// the other encodings give no tree.
TEST(ElementXml, TextEncodings) {
  const std::u16string text = u"<r v=\"\u00E9\"/>";
  // Each unit of the text (after a mark when asked) in `width` bytes, low byte first or last.
  auto encode = [&](bool mark, std::uint32_t width, bool bigEndian) {
    Bytes bytes;
    for (char16_t unit : (mark ? u"\uFEFF" : u"") + text)
      for (std::uint32_t i = 0; i < width; ++i)
        bytes.push_back(static_cast<std::uint8_t>(std::uint32_t(unit) >> 8 * (bigEndian ? width - 1 - i : i)));
    return bytes;
  };
  const std::string utf8 = "<r v=\"\xC3\xA9\"/>";
  const std::string marked = "\xEF\xBB\xBF" + utf8;
  const struct {
    const char* name;
    Bytes bytes;
    bool loads;
  } cases[] = {
      {"UTF-8", Bytes(utf8.begin(), utf8.end()), true},
      {"UTF-8 with a mark", Bytes(marked.begin(), marked.end()), true},
      {"UTF-16 LE with a mark", encode(true, 2, false), true},
      {"UTF-16 LE without a mark", encode(false, 2, false), false},
      {"UTF-16 BE with a mark", encode(true, 2, true), false},
      {"UTF-32 LE with a mark", encode(true, 4, false), false},
      {"UTF-32 BE with a mark", encode(true, 4, true), false},
  };
  for (const auto& c : cases) {
    std::unique_ptr<CElementChunk> loaded(CElementChunk::Load(enginetest::Over(c.bytes)));
    ASSERT_EQ(loaded != nullptr, c.loads) << c.name;
    if (loaded) {
      EXPECT_EQ(std::u16string(loaded->GetStringAttribute(u"v")), u"\u00E9") << c.name;
    }
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
