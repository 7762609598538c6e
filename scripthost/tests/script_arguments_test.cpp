// The network form of argument lists: exact bytes, round trips through the machine, limits and damaged input.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <base/Stream.h>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Pusher = std::function<void(HSQUIRRELVM)>;

class ScriptArguments : public HostTest {
 protected:
  // Writes what `push` pushes after a stand-in for the event name; `out` gets the bytes written.
  bool Write(const Pusher& push, Bytes* out, std::uint32_t capacity = 1 << 18) {
    const HSQUIRRELVM vm = host->GetVM();
    sq_pushstring(vm, u"EventName", -1);
    push(vm);
    out->assign(capacity, 0);
    auto* stream = new CByteArrayStream(out->data(), capacity);
    const bool ok = WriteStackArguments(vm, 2, stream);
    std::uint64_t written = 0;
    stream->GetPosition(&written);
    stream->Release();
    out->resize(std::size_t(written));
    sq_settop(vm, 0);
    return ok;
  }
  bool Read(Bytes bytes, CListScriptArguments* list) {
    auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
    const bool ok = CListScriptArguments::Read(stream, list);
    stream->Release();
    return ok;
  }
};

TEST_F(ScriptArguments, WritesTheDocumentedBytes) {
  const std::vector<std::pair<Pusher, Bytes>> cases = {
      {[](HSQUIRRELVM v) {
         sq_pushinteger(v, 5);
         sq_pushfloat(v, 2.5f);
         sq_pushbool(v, SQTrue);
         sq_pushstring(v, u"abc", -1);
         sq_pushnull(v);
       },
       {5, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 0x61, 0x62, 0x63, 0}},
      {[](HSQUIRRELVM) {}, {0, 0, 0, 0}},
      {[](HSQUIRRELVM v) { sq_newtable(v); }, {1, 0, 0, 0, 0}},
      {[](HSQUIRRELVM v) { sq_pushstring(v, u"\u00e9\0x", 3); }, {1, 0, 0, 0, 4, 4, 0, 0xC3, 0xA9, 0, 0x78}},
      {[](HSQUIRRELVM v) { sq_pushstring(v, u"\xD800", 1); }, {1, 0, 0, 0, 4, 3, 0, 0xEF, 0xBF, 0xBD}},
  };
  for (const auto& [push, expected] : cases) {
    Bytes bytes;
    EXPECT_TRUE(Write(push, &bytes));
    EXPECT_EQ(bytes, expected);
  }
}

// What was read goes back out through the machine's stack byte for byte: empty, non-ASCII and NUL-holding
// strings, a signalling NaN, and the list appended to values already there.
TEST_F(ScriptArguments, ReadValuesWriteBackUnchanged) {
  const std::vector<Bytes> lists = {
      {5, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 0x61, 0x62, 0x63, 0},
      {2, 0, 0, 0, 2, 0, 0, 0x9F, 0xFF, 1, 0, 0, 0, 0x80},
      {3, 0, 0, 0, 4, 0, 0, 4, 2, 0, 0xC3, 0xA9, 4, 8, 0, 0xF0, 0x9F, 0x98, 0x80, 0, 0x61, 0, 0x62},
  };
  for (const Bytes& list : lists) {
    CListScriptArguments arguments(host.get());
    arguments.AddBool(true);
    ASSERT_TRUE(Read(list, &arguments));
    Bytes written;
    ASSERT_TRUE(Write([&](HSQUIRRELVM v) { arguments.Push(v); }, &written));
    Bytes expected = list;
    expected[0] += 1;
    expected.insert(expected.begin() + 4, {3, 1});
    EXPECT_EQ(written, expected);
  }
  // Tags other than 1 to 4 arrive as null; any non-zero bool byte is true.
  CListScriptArguments arguments(host.get());
  ASSERT_TRUE(Read({2, 0, 0, 0, 9, 3, 7}, &arguments));
  Bytes written;
  ASSERT_TRUE(Write([&](HSQUIRRELVM v) { arguments.Push(v); }, &written));
  EXPECT_EQ(written, (Bytes{2, 0, 0, 0, 0, 3, 1}));
}

TEST_F(ScriptArguments, DamagedListsFailKeepingWhatWasRead) {
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
    CListScriptArguments list(host.get());
    EXPECT_FALSE(Read(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)), &list)) << cut;
    EXPECT_LT(list.GetCount(), 4) << cut;
  }
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
  const std::u16string longest(CListScriptArguments::kMaxStringBytes, u'a');
  const std::u16string wide(CListScriptArguments::kMaxStringBytes / 3 + 1, u'\u20ac');  // 65538 bytes of UTF-8
  const auto values = [](int count) {
    return [count](HSQUIRRELVM v) {
      for (int i = 0; i < count; ++i) sq_pushnull(v);
    };
  };
  const std::vector<std::pair<Pusher, bool>> cases = {
      {values(1024), true},
      {values(1025), false},
      {[&](HSQUIRRELVM v) { sq_pushstring(v, longest.data(), SQInteger(longest.size())); }, true},
      {[&](HSQUIRRELVM v) {
         sq_pushinteger(v, 1);
         sq_pushstring(v, wide.data(), SQInteger(wide.size()));
       },
       false},
  };
  for (const auto& [push, ok] : cases) {
    Bytes bytes;
    EXPECT_EQ(Write(push, &bytes), ok);
    EXPECT_EQ(bytes.empty(), !ok);
  }
  Bytes small;  // a stream that takes less than it is given fails the write
  EXPECT_FALSE(Write([](HSQUIRRELVM v) { sq_pushinteger(v, 1); }, &small, 6));
  Bytes buffer(8, 0xEE);
  auto* stream = new CByteArrayStream(buffer.data(), std::uint32_t(buffer.size()));
  EXPECT_FALSE(WriteStackArguments(host->GetVM(), 0, stream));
  EXPECT_TRUE(WriteStackArguments(host->GetVM(), 5, stream));  // above the top: no values
  stream->Release();
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
}

}  // namespace
}  // namespace hosttest
