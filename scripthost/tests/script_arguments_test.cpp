// The network form of argument lists: exact bytes, round trips through the machine, limits and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <base/Stream.h>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ScriptArguments : public HostTest {
 protected:
  HSQUIRRELVM vm() const { return host->GetVM(); }

  // Writes the values pushed by `push` (index 1 is a stand-in for the event name) and returns the bytes.
  bool Write(const std::function<void(HSQUIRRELVM)>& push, Bytes* out, std::uint32_t capacity = 1 << 18) {
    const SQInteger top = sq_gettop(vm());
    sq_pushstring(vm(), u"EventName", -1);
    push(vm());
    out->assign(capacity, 0);
    auto* stream = new CByteArrayStream(out->data(), capacity);
    const bool ok = WriteStackArguments(vm(), top + 2, stream);
    std::uint64_t written = 0;
    stream->GetPosition(&written);
    stream->Release();
    out->resize(std::size_t(written));
    sq_settop(vm(), top);
    return ok;
  }
  bool Read(Bytes bytes, CListScriptArguments* list) {
    auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
    const bool ok = CListScriptArguments::Read(stream, list);
    stream->Release();
    return ok;
  }
  // The list's values as the machine sees them.
  std::vector<HSQOBJECT> Values(CListScriptArguments& list) {
    const SQInteger top = sq_gettop(vm());
    list.Push(vm());
    std::vector<HSQOBJECT> values(std::size_t(list.GetCount()));
    for (std::size_t i = 0; i < values.size(); ++i) sq_getstackobj(vm(), top + 1 + SQInteger(i), &values[i]);
    sq_settop(vm(), top);  // the list still holds them
    return values;
  }
  std::u16string StringOf(const HSQOBJECT& o) {
    sq_pushobject(vm(), o);
    const SQChar* s = nullptr;
    SQInteger n = 0;
    sq_getstringandsize(vm(), -1, &s, &n);
    std::u16string result(s, std::size_t(n));
    sq_poptop(vm());
    return result;
  }
};

TEST_F(ScriptArguments, WritesTheDocumentedBytes) {
  Bytes bytes;
  ASSERT_TRUE(Write(
      [](HSQUIRRELVM v) {
        sq_pushinteger(v, 5);
        sq_pushfloat(v, 2.5f);
        sq_pushbool(v, SQTrue);
        sq_pushstring(v, u"abc", -1);
        sq_pushnull(v);
      },
      &bytes));
  EXPECT_EQ(bytes, (Bytes{5, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 0x61, 0x62, 0x63, 0}));
  ASSERT_TRUE(Write([](HSQUIRRELVM) {}, &bytes));
  EXPECT_EQ(bytes, (Bytes{0, 0, 0, 0}));
  ASSERT_TRUE(Write([](HSQUIRRELVM v) { sq_newtable(v); }, &bytes));
  EXPECT_EQ(bytes, (Bytes{1, 0, 0, 0, 0}));
}

TEST_F(ScriptArguments, StringsRoundTripAsUtf8) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"", u""},
      {u"plain", u"plain"},
      {u"\u00e9t\u00e9 \u20ac \U0001F600", u"\u00e9t\u00e9 \u20ac \U0001F600"},
      {std::u16string(u"a\0b", 3), std::u16string(u"a\0b", 3)},
      {std::u16string(1, char16_t(0xD800)) + u"x", u"\uFFFDx"},
  };
  for (const auto& [sent, arrives] : cases) {
    SCOPED_TRACE(Narrow(arrives));
    Bytes bytes;
    ASSERT_TRUE(Write([&](HSQUIRRELVM v) { sq_pushstring(v, sent.data(), SQInteger(sent.size())); }, &bytes));
    const std::string utf8 = text::Utf16ToUtf8(arrives);
    ASSERT_EQ(bytes.size(), 4 + 1 + 2 + utf8.size());
    EXPECT_EQ(bytes[5] | (bytes[6] << 8), int(utf8.size()));
    CListScriptArguments list(host.get());
    ASSERT_TRUE(Read(bytes, &list));
    const auto values = Values(list);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(StringOf(values[0]), arrives);
  }
}

// What was read goes back out through the machine's stack byte for byte (a signalling NaN included).
TEST_F(ScriptArguments, ReadValuesWriteBackUnchanged) {
  const std::vector<Bytes> lists = {
      {5, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 0x61, 0x62, 0x63, 0},
      {2, 0, 0, 0, 2, 0, 0, 0x9F, 0xFF, 1, 0, 0, 0, 0x80},
      {1, 0, 0, 0, 4, 2, 0, 0xC3, 0xA9},
  };
  for (const Bytes& list : lists) {
    CListScriptArguments arguments(host.get());
    ASSERT_TRUE(Read(list, &arguments));
    Bytes written;
    ASSERT_TRUE(Write([&](HSQUIRRELVM v) { arguments.Push(v); }, &written));
    EXPECT_EQ(written, list);
  }
}

TEST_F(ScriptArguments, ReadingAppendsAndTakesUnknownTagsAsNull) {
  CListScriptArguments list(host.get());
  list.AddInteger(7);
  ASSERT_TRUE(Read({3, 0, 0, 0, 9, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF}, &list));
  const auto values = Values(list);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(sq_objtointeger(&values[0]), 7);
  EXPECT_EQ(values[1]._type, OT_NULL);
  EXPECT_EQ(values[2]._type, OT_BOOL);
  EXPECT_TRUE(sq_objtobool(&values[2]));
  EXPECT_EQ(sq_objtointeger(&values[3]), -1);
}

TEST_F(ScriptArguments, EveryTruncationFailsAndKeepsWhatWasRead) {
  Bytes whole;
  ASSERT_TRUE(Write(
      [](HSQUIRRELVM v) {
        sq_pushinteger(v, -3);
        sq_pushstring(v, u"xyz", -1);
        sq_pushfloat(v, 1.0f);
        sq_pushbool(v, SQFalse);
      },
      &whole));
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    CListScriptArguments list(host.get());
    EXPECT_FALSE(Read(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)), &list));
    EXPECT_LT(list.GetCount(), 4);
  }
  CListScriptArguments list(host.get());
  EXPECT_TRUE(Read(whole, &list));
  EXPECT_EQ(list.GetCount(), 4);
}

TEST_F(ScriptArguments, CountsBeyondTheLimitOrTheBytesLeftAreRefused) {
  const std::vector<Bytes> refused = {
      {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0},  // 4 billion values in 3 bytes
      {2, 0, 0, 0, 0},                    // two values, one byte
      {1, 4, 0, 0},                       // 1025 values
  };
  for (const Bytes& bytes : refused) {
    CListScriptArguments list(host.get());
    EXPECT_FALSE(Read(bytes, &list));
    EXPECT_EQ(list.GetCount(), 0);
  }
  Bytes full(4 + CListScriptArguments::kMaxValues, 0);
  full[1] = 4;  // exactly 1024 nulls
  CListScriptArguments list(host.get());
  EXPECT_TRUE(Read(full, &list));
  EXPECT_EQ(list.GetCount(), SQInteger(CListScriptArguments::kMaxValues));
}

TEST_F(ScriptArguments, WriterRefusesOversizedListsWithoutWriting) {
  struct Case {
    const char* name;
    std::function<void(HSQUIRRELVM)> push;
    bool ok;
  };
  const std::u16string longest(CListScriptArguments::kMaxStringBytes, u'a');
  const std::u16string wide(CListScriptArguments::kMaxStringBytes / 3 + 1, u'\u20ac');  // 3 bytes each
  const std::vector<Case> cases = {
      {"1024 values", [](HSQUIRRELVM v) { for (int i = 0; i < 1024; ++i) sq_pushnull(v); }, true},
      {"1025 values", [](HSQUIRRELVM v) { for (int i = 0; i < 1025; ++i) sq_pushnull(v); }, false},
      {"65535 bytes", [&](HSQUIRRELVM v) { sq_pushstring(v, longest.data(), SQInteger(longest.size())); }, true},
      {"65538 bytes of UTF-8 from 21846 units",
       [&](HSQUIRRELVM v) {
         sq_pushinteger(v, 1);
         sq_pushstring(v, wide.data(), SQInteger(wide.size()));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes;
    EXPECT_EQ(Write(c.push, &bytes), c.ok);
    if (!c.ok) {
      EXPECT_TRUE(bytes.empty());
    }
  }
  // A stream that takes less than it is given fails the write.
  Bytes small;
  EXPECT_FALSE(Write([](HSQUIRRELVM v) { sq_pushinteger(v, 1); }, &small, 6));
}

TEST_F(ScriptArguments, FirstIndexBelowOneOrAboveTheTop) {
  Bytes buffer(16, 0xEE);
  auto* stream = new CByteArrayStream(buffer.data(), std::uint32_t(buffer.size()));
  EXPECT_FALSE(WriteStackArguments(vm(), 0, stream));
  EXPECT_TRUE(WriteStackArguments(vm(), sq_gettop(vm()) + 5, stream));
  std::uint64_t written = 0;
  stream->GetPosition(&written);
  stream->Release();
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{0, 0, 0, 0}));
}

}  // namespace
}  // namespace hosttest
