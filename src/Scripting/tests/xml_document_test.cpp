// XML documents: mirroring, attribute getters, clear with kept children, reloading, release order and deep
// trees (the ownership cases are meant for the sanitizer build).
#include <algorithm>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include <engine/Stream.h>
#include <scripting/XmlDocument.h>

#include "ScriptFixture.h"

using namespace Vexil3D;
using namespace scripting_testing;

namespace {

class XmlTest : public ::testing::Test {
 protected:
  bool Load(CXmlDocument* into, const std::string& text) {
    Strong<Stream> stream;
    stream.Attach(new CMemoryStream(text.data(), static_cast<std::uint32_t>(text.size())));
    return into->Load(stream.Get());
  }
  std::u16string Text(CBaseObject* object, const char16_t* member) {
    CArgumentArray out;
    EXPECT_TRUE(CallMember(object, member, nullptr, &out));
    return out.Get(0) ? out.Get(0)->ToString() : u"";
  }
  CXmlElement* Root() { return document->GetRootElement(); }

  CScripting scripting;
  CXmlClasses classes{nullptr, &scripting};
  Strong<CXmlDocument> document = [this] {
    Strong<CXmlDocument> made;
    made.Attach(new CXmlDocument(&classes));
    return made;
  }();
};

const char kThree[] =
    "<root a='12abc' b='abc' big='99999999999' small='-99999999999' t='1' y='yes' f='2.5'>"
    "<first/><second>text</second><third/></root>";

TEST_F(XmlTest, ChildrenInDocumentOrderWithTheirParent) {
  ASSERT_TRUE(Load(document, kThree));
  CArgumentArray out;
  ASSERT_TRUE(CallMember(Root(), u"childrenCount", nullptr, &out));
  int count = 0;
  ASSERT_TRUE(out.Get(0)->ToNumber(&count));
  EXPECT_EQ(count, 3);
  const char16_t* names[] = {u"first", u"second", u"third"};
  ASSERT_EQ(Root()->GetChildren().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    CXmlElement* child = Root()->GetChildren()[i].Get();
    EXPECT_TRUE(Text(child, u"name") == names[i]);
    EXPECT_EQ(child->GetParent(), Root());
  }
  EXPECT_TRUE(Text(Root()->GetChildren()[1], u"text") == u"text");
}

TEST_F(XmlTest, AttributeGetters) {
  ASSERT_TRUE(Load(document, kThree));
  const struct {
    const char16_t* method;
    const char16_t* name;
    bool ok;
    double value;
  } cases[] = {
      {u"getIntegerAttribute", u"a", true, 12},          {u"getIntegerAttribute", u"b", true, 0},
      {u"getIntegerAttribute", u"big", true, 2147483647}, {u"getIntegerAttribute", u"small", true, -2147483648.0},
      {u"getIntegerAttribute", u"none", false, 0},       {u"getBoolAttribute", u"t", true, 1},
      {u"getBoolAttribute", u"y", false, 0},             {u"getFloatAttribute", u"f", true, 2.5},
      {u"getStringAttribute", u"none", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    CArgumentArray arguments, out;
    arguments.AppendString(c.name, static_cast<std::uint32_t>(std::char_traits<char16_t>::length(c.name)));
    ASSERT_EQ(CallMember(Root(), c.method, &arguments, &out), c.ok);
    if (!c.ok) {
      EXPECT_TRUE(std::u16string(GetLastErrorText()) == u"attribute " + std::u16string(c.name) + u" doesn't exist");
      continue;
    }
    double value = 0;
    if (out.Get(0)->IsBoolean())
      value = out.Get(0)->ToBoolean();
    else
      out.Get(0)->ToNumber(&value);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(XmlTest, KeptChildrenOutliveClearReloadAndTheDocument) {
  ASSERT_TRUE(Load(document, kThree));
  Strong<CXmlElement> second = Root()->GetChildren()[1];
  ASSERT_TRUE(CallMember(Root(), u"clear", nullptr, nullptr));
  EXPECT_TRUE(Root()->GetChildren().empty());
  EXPECT_EQ(Root()->GetChunk()->GetChildCount(), 0u);
  EXPECT_EQ(second->GetParent(), nullptr);  // a detached root now
  EXPECT_TRUE(Text(second, u"text") == u"text");

  Strong<CXmlElement> third;
  ASSERT_TRUE(Load(document, kThree));
  third = Root()->GetChildren()[2];
  Strong<CXmlElement> oldRoot = Root();
  EXPECT_FALSE(Load(document, "not a tree"));
  EXPECT_EQ(Root(), oldRoot.Get());  // a failed load keeps the root
  ASSERT_TRUE(Load(document, "<other><x/></other>"));
  EXPECT_TRUE(Text(Root(), u"name") == u"other");
  oldRoot = nullptr;
  document = nullptr;
  EXPECT_TRUE(Text(third, u"name") == u"third");
  EXPECT_EQ(third->GetParent(), nullptr);
  EXPECT_TRUE(Text(second, u"name") == u"second");
}

TEST_F(XmlTest, DeepTreesMirrorAndGoWithinTheNestingCap) {
  const std::uint32_t levels = CChunk::kMaxDepth - 1;
  std::string text;
  for (std::uint32_t i = 0; i < levels; ++i) text += "<e>";
  for (std::uint32_t i = 0; i < levels; ++i) text += "</e>";
  ASSERT_TRUE(Load(document, text));
  std::uint32_t depth = 1;
  Strong<CXmlElement> deepest = Root();
  while (!deepest->GetChildren().empty()) {
    deepest = deepest->GetChildren()[0];
    ++depth;
  }
  EXPECT_EQ(depth, levels);
  document = nullptr;  // the chain above the kept deepest element goes
  EXPECT_EQ(deepest->GetParent(), nullptr);
}

// An element over `count` child chunks: every other one mirrored as an element, the rest data chunks,
// so that both kinds of child are cleared.
Strong<CXmlElement> Wide(CXmlClasses* classes, std::uint32_t count) {
  auto* top = new CElementChunk();
  for (std::uint32_t i = 0; i < count; ++i)
    top->AppendChild(i % 2 ? static_cast<CChunk*>(new CDataChunk) : new CElementChunk);
  Strong<CXmlElement> element;
  element.Attach(new CXmlElement(classes, top));
  element->Mirror(1);
  return element;
}

// Clearing an element and its end take time in proportion to its children, like building it: with the
// 200,000 children of a crafted file, each costs at most a few times the build (the best of three runs
// on each side), where erasing each child from the front of a list costs hundreds of times as much.
TEST_F(XmlTest, ClearAndTeardownAreLinearInTheChildCount) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); };
  constexpr std::uint32_t kChildren = 200000;
  constexpr double kMostRatio = 8.0;
  for (bool teardown : {false, true}) {
    double build = 1e9, clear = 1e9;
    for (int run = 0; run < 3; ++run) {
      auto start = Clock::now();
      Strong<CXmlElement> element = Wide(&classes, kChildren);
      build = std::min(build, seconds(start));
      ASSERT_EQ(element->GetChildren().size(), kChildren / 2);
      Strong<CXmlElement> kept = element->GetChildren()[kChildren / 4];
      start = Clock::now();
      if (teardown)
        element = nullptr;
      else
        element->Clear();
      clear = std::min(clear, seconds(start));
      if (!teardown) {
        EXPECT_TRUE(element->GetChildren().empty() && element->GetChunk()->GetChildCount() == 0);
      }
      EXPECT_EQ(kept->GetParent(), nullptr);  // a detached root that outlives the clear
      EXPECT_EQ(kept->GetChunk()->GetParent(), nullptr);
    }
    EXPECT_LT(clear, kMostRatio * build) << (teardown ? "teardown " : "clear ") << clear << " s, build " << build
                                         << " s";
  }
}

}  // namespace

namespace {

// The script-level load takes a script stream of the core library's "Stream" class, and refuses it closed.
TEST_F(XmlTest, ScriptLoadTakesAStream) {
  const std::string text = kThree;
  Strong<Stream> stream;
  stream.Attach(new CMemoryStream(text.data(), static_cast<std::uint32_t>(text.size())));
  Strong<CScriptStream> script;
  script.Attach(new CScriptStream(stream.Get(), scripting.m_Global.m_pStreamClass));
  const CallableRecord& load = classes.GetDocumentClass()->FindMethod(u"load")->callable;
  for (bool open : {true, false}) {
    SCOPED_TRACE(open);
    if (!open) script->Close();
    CArgumentArray arguments;
    arguments.AppendObject(script.Get());
    CNativeState state(&scripting, nullptr, &arguments);
    state.SetThis(document.Get());
    ASSERT_EQ(load.Call(&state, 1), open);
    if (open) EXPECT_TRUE(state.GetResults().Get(0)->ToBoolean() && Root()->GetChildren().size() == 3u);
    else EXPECT_TRUE(std::u16string(GetLastErrorText()) == u"Stream closed");
  }
}

}  // namespace
