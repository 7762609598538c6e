// Typed arguments: exact stream bytes, serialised sizes of every type, hostile streams, nesting,
// number conversions, getters, clones, arrays and maps.
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <engine/Arguments.h>
#include <engine/Context.h>
#include <engine/VexilReference.h>
#include <platform/text.h>

#include "AssertionCapture.h"
#include "ChunkFixtures.h"

using namespace Vexil3D;
using enginetest::Bytes;
using enginetest::Own;

namespace {

Strong<Stream> Read(const Bytes& bytes) { return enginetest::Over(bytes); }

Bytes Serialise(CArgument* argument, bool* ok = nullptr) {
  enginetest::GrowingStream out;
  const bool written = argument->Write(&out);
  if (ok) *ok = written;
  return out.bytes;
}

std::uint32_t SizeOf(CArgument* argument, bool expectKnown = true) {
  std::uint32_t size = 0xFFFFFFFF;
  EXPECT_EQ(argument->GetSerialisedSize(&size), expectKnown);
  return size;
}

class Thing : public CBaseObject {};

// A sample value of every type with a class; null for the ids that have none.
CArgument* MakeSample(std::uint8_t type) {
  switch (type) {
    case ARGUMENT_NIL:
    case ARGUMENT_UNDEFINED: return CArgument::Create(type);
    case ARGUMENT_BOOLEAN: return new CArgumentBoolean(true);
    case ARGUMENT_STRING: return new CArgumentString(u"h\u00E9llo \U0001F600");
    case ARGUMENT_INTEGER: return new CArgumentInteger(-123456);
    case ARGUMENT_FLOAT: return new CArgumentFloat(2.5f);
    case ARGUMENT_VECTOR2D: return new CArgumentVector2D({1.0f, -2.0f});
    case ARGUMENT_VECTOR3D: return new CArgumentVector3D({1.0f, 2.0f, 3.0f});
    case ARGUMENT_MATRIX4X4: {
      CMatrix4x4 m;
      for (int i = 0; i < 16; ++i) m.m[i] = static_cast<float>(i) * 0.5f;
      return new CArgumentMatrix4x4(m);
    }
    case ARGUMENT_LONGINTEGER: return new CArgumentLongInteger(-0x123456789ABCll);
    case ARGUMENT_DOUBLE: return new CArgumentDouble(-1.0e100);
    case ARGUMENT_ARRAY: {
      auto* array = new CArgumentArray();
      array->AppendBoolean(false);
      array->AppendString(u"x", 1);
      auto* inner = new CArgumentArray();
      inner->AppendInteger(1);
      array->Adopt(inner);
      array->AppendNil();
      return array;
    }
    case ARGUMENT_MAP: {
      auto* map = new CArgumentMap();
      map->Set(u"first", new CArgumentInteger(1));
      map->Set(u"\u00FCber", new CArgumentString(u"value"));
      auto* inner = new CArgumentMap();
      inner->Set(u"", new CArgumentDouble(0.25));
      map->Set(u"nested", inner);
      return map;
    }
    case ARGUMENT_FUNCTION: return new CArgumentFunction();
    case ARGUMENT_BYTES: {
      const std::uint8_t bytes[300] = {1, 2, 3};
      return new CArgumentBytes(bytes, sizeof(bytes));
    }
    default: return nullptr;
  }
}

bool HasClass(std::uint8_t type) {
  for (std::uint8_t none : {ARGUMENT_TABLE, ARGUMENT_NETOBJECT, ARGUMENT_OBJECT, ARGUMENT_VECTOR4D, ARGUMENT_LUAREF,
                            ARGUMENT_JSVALUE, ARGUMENT_SQREF})
    if (type == none) return false;
  return true;
}

}  // namespace

// Every type id

class EveryArgumentType : public testing::TestWithParam<int> {};

TEST_P(EveryArgumentType, SerialisedSizeMatchesTheBytesWrittenAndReadsBack) {
  const auto type = static_cast<std::uint8_t>(GetParam());
  SCOPED_TRACE(GetArgumentTypeName(type));
  Strong<CArgument> created = Own(CArgument::Create(type));
  if (!HasClass(type)) {
    EXPECT_EQ(created.Get(), nullptr);
    if (type != ARGUMENT_OBJECT) return;
    // Objects come from their owner only and never travel in streams.
    Strong<Thing> thing = Own(new Thing());
    Strong<CArgument> object = Own(thing->CreateArgument());
    SizeOf(object, false);
    bool ok = true;
    const Bytes written = Serialise(object, &ok);
    EXPECT_EQ((std::tuple{written.size(), ok, object->Read(Read({0, 0, 0, 0}))}), (std::tuple{0u, false, false}));
    return;
  }
  ASSERT_NE(created.Get(), nullptr);
  EXPECT_EQ((std::tuple{created->GetType(), created->GetRefCount()}), (std::tuple{type, 1}));

  for (Strong<CArgument> argument : {created, Own(MakeSample(type))}) {
    const std::uint32_t size = SizeOf(argument);
    bool ok = false;
    const Bytes bytes = Serialise(argument, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(size, bytes.size());

    Strong<CArgument> back = Own(CArgument::Create(type));
    Strong<Stream> in = Read(bytes);
    ASSERT_TRUE(back->Read(in));
    EXPECT_EQ(in->Tell(), bytes.size());
    EXPECT_EQ(Serialise(back), bytes);

    Strong<CArgument> clone = Own(argument->Clone());
    ASSERT_NE(clone.Get(), nullptr);
    EXPECT_EQ((std::tuple{clone->GetType(), Serialise(clone)}), (std::tuple{type, bytes}));

    // Every prefix of the stream form is a short read (types without payload have none).
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 64)
      EXPECT_FALSE(Own(CArgument::Create(type))->Read(Read(Bytes(bytes.begin(), bytes.begin() + cut)))) << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Arguments, EveryArgumentType, testing::Range(0, static_cast<int>(ARGUMENT_TYPE_COUNT)),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(GetArgumentTypeName(static_cast<std::uint8_t>(info.param)));
                         });

TEST(ArgumentTypes, NamesAndFactoryOutsideTheTable) {
  EXPECT_EQ((std::tuple{std::string(GetArgumentTypeName(ARGUMENT_TABLE)),
                        std::string(GetArgumentTypeName(ARGUMENT_BYTES)), std::string(GetArgumentTypeName(22))}),
            (std::tuple{"ARGUMENT_TABLE", "ARGUMENT_BYTES", "ARGUMENT_UNKNOWN"}));
  for (int type = 22; type < 256; ++type) EXPECT_EQ(CArgument::Create(static_cast<std::uint8_t>(type)), nullptr);
}

// Exact bytes

// Each type's payload: the value, the bytes a reader of the format expects, and what reads back.
namespace {

struct PayloadCase {
  const char* name;
  CArgument* (*make)();
  Bytes payload;
};

CMatrix4x4 Identity() {
  CMatrix4x4 m;
  for (int i = 0; i < 4; ++i) m.m[i * 5] = 1.0f;
  return m;
}

Bytes IdentityBytes() {
  Bytes out;
  for (int i = 0; i < 16; ++i) {
    const bool one = i % 5 == 0;
    out.insert(out.end(), {0, 0, std::uint8_t(one ? 0x80 : 0), std::uint8_t(one ? 0x3F : 0)});
  }
  return out;
}

// Builders that fit a table row: each element is a callback that appends to the array.
template <class... Appends>
CArgumentArray* ArrayOf(Appends... appends) {
  auto* array = new CArgumentArray();
  (appends(array), ...);
  return array;
}

CArgumentMap* MapOf(const char16_t* key, CArgument* value) {
  auto* map = new CArgumentMap();
  map->Set(key, value);
  return map;
}

template <std::size_t N>
CArgument* BytesOf(const std::uint8_t (&bytes)[N]) { return new CArgumentBytes(bytes, N); }

#define MAKE(expr) []() -> CArgument* { return expr; }
const std::uint8_t kTwoBytes[] = {0xAA, 0xBB};
const PayloadCase kPayloads[] = {
    {"Nil", MAKE(CArgument::Create(ARGUMENT_NIL)), {}}, {"Undefined", MAKE(CArgument::Create(ARGUMENT_UNDEFINED)), {}},
    {"BooleanTrue", MAKE(new CArgumentBoolean(true)), {0x01}},
    {"BooleanFalse", MAKE(new CArgumentBoolean(false)), {0x00}},
    {"StringEmpty", MAKE(new CArgumentString(u"")), {0x00}},
    {"StringAscii", MAKE(new CArgumentString(u"abc")), {0x03, 'a', 'b', 'c'}},
    {"StringTwoByteUtf8", MAKE(new CArgumentString(u"\u00E9")), {0x02, 0xC3, 0xA9}},
    {"StringThreeByteUtf8", MAKE(new CArgumentString(u"\u20AC")), {0x03, 0xE2, 0x82, 0xAC}},
    {"StringSurrogatePair", MAKE(new CArgumentString(u"\U0001F600")), {0x04, 0xF0, 0x9F, 0x98, 0x80}},
    {"IntegerFive", MAKE(new CArgumentInteger(5)), {0x05, 0x00, 0x00, 0x00}},
    {"IntegerMinusTwo", MAKE(new CArgumentInteger(-2)), {0xFE, 0xFF, 0xFF, 0xFF}},
    {"IntegerOrder", MAKE(new CArgumentInteger(0x01020304)), {0x04, 0x03, 0x02, 0x01}},
    {"FloatOne", MAKE(new CArgumentFloat(1.0f)), {0x00, 0x00, 0x80, 0x3F}},
    {"FloatMinusTwo", MAKE(new CArgumentFloat(-2.0f)), {0x00, 0x00, 0x00, 0xC0}},
    {"LongInteger", MAKE(new CArgumentLongInteger(0x0102030405060708ll)), {8, 7, 6, 5, 4, 3, 2, 1}},
    {"LongIntegerMinusOne", MAKE(new CArgumentLongInteger(-1)), Bytes(8, 0xFF)},
    {"DoubleOne", MAKE(new CArgumentDouble(1.0)), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    {"Vector2D", MAKE(new CArgumentVector2D({1.0f, -2.0f})), {0, 0, 0x80, 0x3F, 0, 0, 0, 0xC0}},
    {"Vector3D", MAKE(new CArgumentVector3D({1.0f, 2.0f, 3.0f})), {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40, 0, 0, 0x40, 0x40}},
    {"Matrix4x4Identity", MAKE(new CArgumentMatrix4x4(Identity())), IdentityBytes()},
    {"Function", MAKE(new CArgumentFunction()), {}}, {"BytesEmpty", MAKE(new CArgumentBytes(nullptr, 0)), {0x00}},
    {"BytesTwo", MAKE(BytesOf(kTwoBytes)), {0x02, 0xAA, 0xBB}},
    {"ArrayOfOneTrue", MAKE(ArrayOf([](auto* a) { a->AppendBoolean(true); })), {0x01, 0x01, 0x01}},
    {"ArrayEmpty", MAKE(new CArgumentArray()), {0x00}},
    // count, then per element its type byte and its payload
    {"ArrayMixed",
     MAKE(ArrayOf([](auto* a) { a->AppendNil(); }, [](auto* a) { a->AppendInteger(7); },
                  [](auto* a) { a->AppendString(u"hi", 2); }, [](auto* a) { a->Adopt(new CArgumentArray()); },
                  [](auto* a) { a->Adopt(new CArgumentMap()); }, [](auto* a) { a->Adopt(new CArgumentFunction()); },
                  [](auto* a) { a->Adopt(CArgument::Create(ARGUMENT_UNDEFINED)); })),
     {0x07, 0x00, 0x04, 0x07, 0x00, 0x00, 0x00, 0x02, 0x02, 'h', 'i', 0x11, 0x00, 0x12, 0x00, 0x13, 0x0C}},
    {"MapOneInteger", MAKE(MapOf(u"a", new CArgumentInteger(5))), {0x01, 0x04, 0x01, 0x61, 0x05, 0x00, 0x00, 0x00}},
    {"MapEmpty", MAKE(new CArgumentMap()), {0x00}},
    // count, type, key "" (one zero byte), then the array payload
    {"MapEmptyKeyAndNestedArray", MAKE(MapOf(u"", ArrayOf([](auto* a) { a->AppendBoolean(false); }))),
     {0x01, 0x11, 0x00, 0x01, 0x01, 0x00}},
};
#undef MAKE

class ArgumentPayload : public testing::TestWithParam<PayloadCase> {};

}  // namespace

TEST_P(ArgumentPayload, WritesTheHandWrittenBytesAndReadsThemBackStoppingAtTheirEnd) {
  const PayloadCase& c = GetParam();
  Strong<CArgument> argument = Own(c.make());
  ASSERT_NE(argument.Get(), nullptr);
  EXPECT_EQ((std::tuple{Serialise(argument), SizeOf(argument)}), (std::tuple{c.payload, c.payload.size()}));
  Strong<CArgument> back = Own(CArgument::Create(argument->GetType()));
  ASSERT_NE(back.Get(), nullptr);
  // A trailing byte that belongs to whatever follows must stay unread.
  Bytes followed = c.payload;
  followed.push_back(0x5A);
  Strong<Stream> in = Read(followed);
  ASSERT_TRUE(back->Read(in));
  EXPECT_EQ((std::tuple{in->Tell(), Serialise(back)}), (std::tuple{c.payload.size(), c.payload}));
}

INSTANTIATE_TEST_SUITE_P(Arguments, ArgumentPayload, testing::ValuesIn(kPayloads),
                         [](const testing::TestParamInfo<PayloadCase>& info) { return std::string(info.param.name); });

TEST(ArgumentBytes, LongCountsBooleansAndEmptyBytes) {
  // 128 bytes of text: the count 128 is 80 01; 16384 bytes: 80 80 01.
  Strong<CArgument> text = Own<CArgument>(new CArgumentString(std::u16string(128, u'x')));
  const Bytes written = Serialise(text);
  EXPECT_EQ((std::tuple{written.size(), written[0], written[1], SizeOf(text)}),
            (std::tuple{130u, 0x80, 0x01, 130u}));
  const Bytes block(16384, 0x11);
  Strong<CArgument> bytes = Own<CArgument>(new CArgumentBytes(block.data(), 16384));
  const Bytes out = Serialise(bytes);
  ASSERT_EQ(out.size(), 16387u);
  EXPECT_EQ((std::tuple{Bytes(out.begin(), out.begin() + 3), SizeOf(bytes)}),
            (std::tuple{Bytes{0x80, 0x80, 0x01}, 16387u}));

  // Any non-zero byte reads as true.
  auto boolean = Own(new CArgumentBoolean());
  ASSERT_TRUE(boolean->Read(Read({0x7E})));
  EXPECT_EQ((std::tuple{boolean->ToBoolean(), Serialise(boolean)}), (std::tuple{true, Bytes{0x01}}));

  auto value = Own(new CArgumentBytes());
  std::uint8_t junk = 9;
  value->SetBytes(&junk, 1);
  ASSERT_TRUE(value->Read(Read({0x00})));
  std::uint32_t size = 5;
  value->GetBytes(&size);
  auto array = Own(new CArgumentArray());
  ASSERT_TRUE(array->Read(Read({0x01, ARGUMENT_BYTES, 0x00})));
  EXPECT_EQ((std::tuple{size, array->GetCount(), array->Get(0) && array->Get(0)->IsBytes()}),
            (std::tuple{0u, 1u, true}));
}

// Arrays past the one-byte count, unserialisable elements, hostile streams

TEST(ArgumentArrayLimits, MoreThan255ElementsOrAnObjectFailToWriteAndWriteNothing) {
  auto array = Own(new CArgumentArray());
  for (int i = 0; i < 255; ++i) array->AppendInteger(i);
  bool ok = false;
  EXPECT_EQ((std::tuple{SizeOf(array), Serialise(array, &ok).size(), ok}),
            (std::tuple{1u + 255u * 5u, 1u + 255u * 5u, true}));
  array->AppendInteger(255);
  SizeOf(array, false);
  EXPECT_EQ((std::tuple{Serialise(array, &ok).size(), ok}), (std::tuple{0u, false}));

  // An element that cannot be written, first, last or alone, at any depth, in arrays and maps: the
  // container reports no size, and writing it fails before a byte is written.
  Strong<Thing> thing = Own(new Thing());
  auto objectAt = [&](int position, int count) {
    auto array = Own(new CArgumentArray());
    for (int i = 0; i < count; ++i) {
      if (i == position)
        array->AppendObject(thing);
      else
        array->AppendInteger(i);
    }
    return Strong<CArgument>(array);
  };
  // Containers that hold the value itself (a clone of an object could come out as another type).
  auto held = [](const Strong<CArgument>& value) {
    value->AddRef();
    return value.Get();
  };
  auto inArray = [&](Strong<CArgument> inner) {
    auto outer = Own(new CArgumentArray());
    outer->AppendInteger(7);
    outer->Adopt(held(inner));
    return Strong<CArgument>(outer);
  };
  auto inMap = [&](Strong<CArgument> inner) {
    auto map = Own(new CArgumentMap());
    map->Set(u"first", new CArgumentString(u"kept"));
    map->Set(u"z", held(inner));
    return Strong<CArgument>(map);
  };
  auto tooLong = Own(new CArgumentArray());
  for (int i = 0; i < 256; ++i) tooLong->AppendInteger(i);
  const struct {
    const char* name;
    Strong<CArgument> value;
  } unwritable[] = {
      {"object alone", objectAt(0, 1)},
      {"object first", objectAt(0, 3)},
      {"object last", objectAt(2, 3)},
      {"object two arrays deep", inArray(inArray(objectAt(1, 2)))},
      {"object in a map", inMap(objectAt(1, 2))},
      {"object in a map in an array", inArray(inMap(objectAt(0, 1)))},
      {"256 elements in a map", inMap(tooLong)},
      {"256 elements in an array", inArray(tooLong)},
  };
  for (const auto& c : unwritable) {
    SCOPED_TRACE(c.name);
    SizeOf(c.value, false);
    EXPECT_EQ((std::tuple{Serialise(c.value, &ok).size(), ok}), (std::tuple{0u, false}));
  }
}

TEST(ArgumentHostile, CountsBeyondTheStreamFailWithoutAllocating) {
  const struct { const char* what; std::uint8_t type; Bytes bytes; } cases[] = {
      {"array count beyond the bytes", ARGUMENT_ARRAY, {200, ARGUMENT_NIL, ARGUMENT_NIL}},
      {"map count near 2^32", ARGUMENT_MAP, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0x00, 0x00}},
      {"map count beyond half the bytes", ARGUMENT_MAP, {0x03, 0x00, 0x00, 0x00, 0x00}},
      {"bytes count near 2^32", ARGUMENT_BYTES, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x01}},
      {"bytes count one too many", ARGUMENT_BYTES, {0x03, 0x01, 0x02}},
      {"string count near 2^32", ARGUMENT_STRING, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 'a'}},
      {"map key count beyond the bytes", ARGUMENT_MAP, {0x01, ARGUMENT_NIL, 0x7F, 'k'}},
      {"array element of an unknown type", ARGUMENT_ARRAY, {0x01, 0xEE}},
      {"array element of an object", ARGUMENT_ARRAY, {0x01, ARGUMENT_OBJECT}},
      {"array element truncated", ARGUMENT_ARRAY, {0x02, ARGUMENT_INTEGER, 1, 2, 3, 4, ARGUMENT_INTEGER, 1}},
  };
  for (const auto& c : cases) EXPECT_FALSE(Own(CArgument::Create(c.type))->Read(Read(c.bytes))) << c.what;

  // A partly read array keeps its good elements.
  auto array = Own(new CArgumentArray());
  EXPECT_FALSE(array->Read(Read({0x03, ARGUMENT_BOOLEAN, 0x01, ARGUMENT_INTEGER, 7, 0, 0, 0, ARGUMENT_TABLE})));
  ASSERT_EQ(array->GetCount(), 2u);
  int value = 0;
  EXPECT_EQ((std::tuple{array->Get(0)->ToBoolean(), array->Get(1)->ToNumber(&value), value}),
            (std::tuple{true, true, 7}));
}

TEST(ArgumentHostile, UnknownTypeIsLoggedWithItsName) {
  char log[4096] = {};
  {
    Context context;
    auto* stream = new CMemoryStream(log, sizeof(log) - 1, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
    context.GetLogWriter().SetStream(stream);
    stream->Release();
    context.GetLogWriter().SetTimeFormat(u"");
    context.Initialise();
    EXPECT_FALSE(Own(new CArgumentArray())->Read(Read({0x02, ARGUMENT_NIL, ARGUMENT_TABLE})));
    EXPECT_FALSE(Own(new CArgumentMap())->Read(Read({0x01, ARGUMENT_JSVALUE, 0x01, 'k'})));
  }
  const std::string text(log);
  EXPECT_NE(text.find("[WARN]    CArgument::Create(ARGUMENT_TABLE) - Failed. (Argument 2 of 2)\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[WARN]    CArgument::Create(ARGUMENT_JSVALUE) - Failed\r\n"), std::string::npos) << text;
}

// Nesting

namespace {

// depth arrays, each holding the next; the innermost holds one integer.
CArgumentArray* NestedArrays(unsigned depth) {
  auto* outer = new CArgumentArray();
  CArgumentArray* current = outer;
  for (unsigned level = 1; level < depth; ++level) {
    auto* inner = new CArgumentArray();
    current->Adopt(inner);
    current = inner;
  }
  current->AppendInteger(42);
  return outer;
}

Bytes NestedArrayBytes(unsigned depth) {
  Bytes bytes;
  for (unsigned level = 1; level < depth; ++level) bytes.insert(bytes.end(), {0x01, ARGUMENT_ARRAY});
  bytes.insert(bytes.end(), {0x01, ARGUMENT_INTEGER, 42, 0, 0, 0});
  return bytes;
}

}  // namespace

TEST(ArgumentNesting, SixtyFourLevelsPassAndSixtyFiveFail) {
  auto deepest = Own(NestedArrays(CArgument::kMaxNesting));
  bool ok = false;
  const Bytes bytes = Serialise(deepest, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ((std::tuple{bytes, SizeOf(deepest), Own(new CArgumentArray())->Read(Read(bytes)), !!Own(deepest->Clone())}),
            (std::tuple{NestedArrayBytes(CArgument::kMaxNesting), bytes.size(), true, true}));

  auto tooDeep = Own(NestedArrays(CArgument::kMaxNesting + 1));
  SizeOf(tooDeep, false);
  Serialise(tooDeep, &ok);
  EXPECT_EQ((std::tuple{ok, Own(new CArgumentArray())->Read(Read(NestedArrayBytes(CArgument::kMaxNesting + 1)))}),
            (std::tuple{false, false}));

  // Maps and arrays count together: 65 levels.
  auto outer = Own(new CArgumentMap());
  CArgument* current = outer;
  for (unsigned level = 1; level <= CArgument::kMaxNesting; ++level) {
    CArgument* next = (level % 2) ? static_cast<CArgument*>(new CArgumentArray()) : new CArgumentMap();
    if (current->IsMap()) static_cast<CArgumentMap*>(current)->Set(u"k", next);
    else static_cast<CArgumentArray*>(current)->Adopt(next);
    current = next;
  }
  SizeOf(outer, false);
}

TEST(ArgumentNesting, HostileDepthFailsWithoutExhaustingTheStack) {
  EXPECT_FALSE(Own(new CArgumentArray())->Read(Read(NestedArrayBytes(200000))));
  // Maps nest the same way: count 1, type map, key "".
  Bytes maps;
  for (int i = 0; i < 100000; ++i) maps.insert(maps.end(), {0x01, ARGUMENT_MAP, 0x00});
  EXPECT_FALSE(Own(new CArgumentMap())->Read(Read(maps)));
  // The depth is counted per call: a later shallow read still works.
  EXPECT_TRUE(Own(new CArgumentArray())->Read(Read({0x01, ARGUMENT_NIL})));
}

// Numbers

// A number of the given type and value, and what it converts to for every target.
struct NumberCase {
  std::uint8_t type;
  double value;
  int asInt;
  unsigned int asUnsigned;
  std::int64_t asInt64;
  std::uint64_t asUint64;
  float asFloat;  // NaN: expect NaN
  double asDouble;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << GetArgumentTypeName(c.type) << ' ' << c.value; }

CArgument* MakeNumber(const NumberCase& c) {
  switch (c.type) {
    case ARGUMENT_INTEGER: return new CArgumentInteger(static_cast<int>(c.value));
    case ARGUMENT_LONGINTEGER: return new CArgumentLongInteger(static_cast<std::int64_t>(c.value));
    case ARGUMENT_FLOAT: return new CArgumentFloat(static_cast<float>(c.value));
    default: return new CArgumentDouble(c.value);
  }
}

class ArgumentNumbers : public testing::TestWithParam<NumberCase> {};

TEST_P(ArgumentNumbers, ConvertToEveryTarget) {
  const NumberCase& c = GetParam();
  auto argument = Own(MakeNumber(c));
  ASSERT_TRUE(argument->IsNumber());
  int i = 1;
  unsigned int u = 1;
  std::int64_t l = 1;
  std::uint64_t ul = 1;
  float f = 1;
  double d = 1;
  EXPECT_TRUE(argument->ToNumber(&i) && argument->ToNumber(&u) && argument->ToNumber(&l) && argument->ToNumber(&ul) &&
              argument->ToNumber(&f) && argument->ToNumber(&d));
  EXPECT_EQ((std::tuple{i, u, l, ul}), (std::tuple{c.asInt, c.asUnsigned, c.asInt64, c.asUint64}));
  if (std::isnan(c.asFloat)) EXPECT_TRUE(std::isnan(f));
  else EXPECT_EQ(f, c.asFloat);
  if (std::isnan(c.asDouble)) EXPECT_TRUE(std::isnan(d));
  else EXPECT_EQ(d, c.asDouble);
}

namespace {
constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr float kInff = std::numeric_limits<float>::infinity();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kU32Max = 0xFFFFFFFFu;
constexpr double k2p63 = 9223372036854775808.0;
constexpr std::int64_t kLong = 0x100000005ll;
constexpr double kF27 = static_cast<double>(-2.7f), kF1e20 = static_cast<double>(1e20f);
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentNumbers,
    testing::Values(
        NumberCase{ARGUMENT_INTEGER, 7, 7, 7u, 7, 7u, 7.0f, 7.0},
        NumberCase{ARGUMENT_INTEGER, -1, -1, kU32Max, -1, kU64Max, -1.0f, -1.0},
        NumberCase{ARGUMENT_LONGINTEGER, 4294967301.0, 5, 5u, kLong, kLong, 4294967301.0f, 4294967301.0},
        NumberCase{ARGUMENT_FLOAT, -2.7, -2, 0u, -2, 0u, -2.7f, kF27},
        NumberCase{ARGUMENT_DOUBLE, 3.99, 3, 3u, 3, 3u, 3.99f, 3.99},
        NumberCase{ARGUMENT_FLOAT, kNaN, 0, 0u, 0, 0u, kNaNf, kNaN},
        NumberCase{ARGUMENT_DOUBLE, kNaN, 0, 0u, 0, 0u, kNaNf, kNaN},
        NumberCase{ARGUMENT_FLOAT, 1e20, kIntMax, kU32Max, kI64Max, kU64Max, 1e20f, kF1e20},
        NumberCase{ARGUMENT_FLOAT, -1e20, kIntMin, 0u, kI64Min, 0u, -1e20f, -kF1e20},
        NumberCase{ARGUMENT_DOUBLE, 3e9, kIntMax, 3000000000u, 3000000000ll, 3000000000ull, 3e9f, 3e9},
        NumberCase{ARGUMENT_DOUBLE, 1e300, kIntMax, kU32Max, kI64Max, kU64Max, kInff, 1e300},
        NumberCase{ARGUMENT_DOUBLE, -1e300, kIntMin, 0u, kI64Min, 0u, -kInff, -1e300},
        NumberCase{ARGUMENT_FLOAT, kInf, kIntMax, kU32Max, kI64Max, kU64Max, kInff, kInf},
        NumberCase{ARGUMENT_DOUBLE, k2p63, kIntMax, kU32Max, kI64Max, 9223372036854775808ull, float(k2p63), k2p63},
        NumberCase{ARGUMENT_DOUBLE, -2147483648.0, kIntMin, 0u, -2147483648ll, 0u, -2147483648.0f, -2147483648.0}));

// Getters

TEST(ArgumentGetters, RightTypeGivesTheValue) {
  std::uint32_t length = 0;
  CMatrix4x4 m;
  m.m[15] = 4;
  EXPECT_EQ(
      (std::tuple{std::u16string(Own(new CArgumentString(u"abc"))->ToString(&length)), length,
                  Own(new CArgumentBoolean(true))->ToBoolean(), Own(new CArgumentVector2D({1, 2}))->ToVector2D().y,
                  Own(new CArgumentVector3D({1, 2, 3}))->ToVector3D().z,
                  Own(new CArgumentMatrix4x4(m))->ToMatrix4x4().m[15]}),
      (std::tuple{u"abc", 3u, true, 2.0f, 3.0f, 4.0f}));
  Strong<Thing> function = Own(new Thing());
  auto holder = Own(new CArgumentFunction(function.Get()));
  EXPECT_EQ((std::tuple{holder->ToFunction<Thing>(), function->GetRefCount()}), (std::tuple{function.Get(), 2}));
  ASSERT_TRUE(holder->Read(Read({})));  // the stream form carries no function
  EXPECT_EQ((std::tuple{holder->ToFunction<Thing>(), function->GetRefCount()}), (std::tuple{nullptr, 1}));
}

TEST(ArgumentGetters, WrongTypeIsReportedWithItsTestAndGivesAnEmptyValue) {
  enginetest::AssertionCapture asserts;
  auto nil = Own(CArgument::Create(ARGUMENT_NIL));
  const struct {
    const char16_t* expression;
    bool (*call)(CArgument*);
  } cases[] = {
      {u"IsBoolean()", [](CArgument* a) { return a->ToBoolean() == false; }},
      {u"IsString()", [](CArgument* a) {
         std::uint32_t length = 9;
         return a->ToString(&length) == nullptr && length == 0;
       }},
      {u"IsObject()", [](CArgument* a) { return a->ToObject() == nullptr; }},
      {u"IsVector2D()", [](CArgument* a) { return a->ToVector2D().x == 0.0f; }},
      {u"IsVector3D()", [](CArgument* a) { return a->ToVector3D().x == 0.0f; }},
      {u"IsMatrix4x4()", [](CArgument* a) { return a->ToMatrix4x4().m[0] == 0.0f; }},
      {u"IsFunction()", [](CArgument* a) { return a->ToFunction<CBaseObject>() == nullptr; }},
      {u"IsNumber()", [](CArgument*) {
         auto text = Own(new CArgumentString(u"5"));
         int i = 9;
         double d = 9;
         return !text->ToNumber(&i) && i == 0 && !text->ToNumber(&d) && d == 0.0;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.expression));
    asserts.Clear();
    EXPECT_EQ((std::tuple{c.call(nil), asserts.Count(), asserts.LastNames(c.expression)}),
              (std::tuple{true, c.expression == std::u16string(u"IsNumber()") ? 2u : 1u, true}));
  }
  EXPECT_NE(asserts.Texts().back().find(u"File: src/Engine/Arguments\n"), std::u16string::npos);
}

// No argument holds a four-component vector: the getter reports its test and cannot go on, even when
// the user continues past the assertion.
TEST(ArgumentGettersDeathTest, Vector4DAssertsAndEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Continues past every assertion, after showing its text where the death test can see it.
  struct ContinueAndShow : platform::testing::ScriptedDialogs {
    HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
      std::fprintf(stderr, "%s\n", text::Utf16ToUtf8(config.pszContent).c_str());
      *pressed = IDOK;
      return S_OK;
    }
  };
  EXPECT_EXIT(
      {
        ContinueAndShow dialogs;
        Own(CArgument::Create(ARGUMENT_NIL))->ToVector4D();
      },
      ::testing::ExitedWithCode(1), "Expression: IsVector4D\\(\\)");
}

// Clones, arrays and maps

TEST(ArgumentClone, DeepCopiesWithTheContext) {
  int context = 0;
  auto array = Own(static_cast<CArgumentArray*>(MakeSample(ARGUMENT_ARRAY)));
  array->SetContext(&context);
  auto clone = Own(static_cast<CArgumentArray*>(array->Clone()));
  ASSERT_NE(clone.Get(), nullptr);
  EXPECT_EQ(clone->GetContext(), &context);
  ASSERT_EQ(clone->GetCount(), array->GetCount());
  for (std::uint32_t i = 0; i < clone->GetCount(); ++i)
    EXPECT_EQ((std::tuple{clone->Get(i) != array->Get(i), clone->Get(i)->GetContext()}), (std::tuple{true, &context}));
  static_cast<CArgumentArray*>(clone->Get(2))->AppendInteger(5);
  EXPECT_EQ(static_cast<CArgumentArray*>(array->Get(2))->GetCount(), 1u);

  auto map = Own(static_cast<CArgumentMap*>(MakeSample(ARGUMENT_MAP)));
  map->SetContext(&context);
  auto mapClone = Own(static_cast<CArgumentMap*>(map->Clone()));
  EXPECT_EQ((std::tuple{mapClone->GetContext(), mapClone->Find(u"nested") != map->Find(u"nested"),
                        mapClone->Find(u"nested")->GetContext(), Serialise(mapClone)}),
            (std::tuple{&context, true, &context, Serialise(map)}));

  auto returned = Own(new CReturnValue());
  returned->AppendInteger(3);
  EXPECT_NE(dynamic_cast<CReturnValue*>(Own(returned->Clone()).Get()), nullptr);
}

TEST(ArgumentClone, ObjectsAndPlainArguments) {
  Strong<Thing> thing = Own(new Thing());
  auto object = Own(thing->CreateArgument());
  auto copy = Own(object->Clone());
  EXPECT_EQ((std::tuple{copy->ToObject(), thing->GetRefCount()}), (std::tuple{thing.Get(), 3}));
  auto odd = Own(new CArgument(ARGUMENT_INTEGER));  // no payload class: cannot be cloned
  auto array = Own(new CArgumentArray());
  EXPECT_EQ((std::tuple{Own(Own(new CArgument(ARGUMENT_UNDEFINED))->Clone())->IsUndefined(), odd->Clone(),
                        array->Append(odd), array->Get(0)->IsUndefined()}),
            (std::tuple{true, nullptr, true, true}));
}

TEST(ArgumentArrayOps, AppendClonesAndMoveTransfers) {
  Strong<Thing> thing = Own(new Thing());
  auto array = Own(new CArgumentArray());
  auto value = Own(new CArgumentInteger(4));
  array->Append(value);
  EXPECT_EQ((std::tuple{value->GetRefCount(), array->Get(0) != value.Get()}), (std::tuple{1, true}));
  array->AppendObject(thing);
  array->AppendObject(nullptr);
  array->AppendString(u"s", 1);
  array->AppendLongInteger(5);
  array->AppendFloat(1.5f);
  array->AppendDouble(2.5);
  array->AppendVector2D({1, 2});
  array->AppendVector3D({1, 2, 3});
  EXPECT_EQ((std::tuple{array->GetCount(), array->Get(2)->IsNil(), array->Get(9), thing->GetRefCount()}),
            (std::tuple{9u, true, nullptr, 2}));

  auto other = Own(new CArgumentArray());
  other->AppendBoolean(true);
  ASSERT_TRUE(array->AppendTo(other));
  EXPECT_EQ((std::tuple{other->GetCount(), thing->GetRefCount()}), (std::tuple{10u, 3}));
  array->MoveTo(other);
  EXPECT_EQ((std::tuple{array->GetCount(), other->GetCount(), thing->GetRefCount()}), (std::tuple{0u, 19u, 3}));
  other->Clear();
  EXPECT_EQ(thing->GetRefCount(), 1);
}

TEST(ArgumentMapOps, SetReplacesAndReleases) {
  auto map = Own(new CArgumentMap());
  auto* first = new CArgumentInteger(1);
  first->AddRef();  // watched by the test
  map->Set(u"k", first);
  EXPECT_EQ((std::tuple{map->Find(u"k"), map->Find(u"K")}), (std::tuple{first, nullptr}));
  map->Set(u"k", first);  // the value the key already holds: nothing happens
  const int unchanged = first->GetRefCount();
  map->Set(u"k", new CArgumentInteger(2));
  EXPECT_EQ((std::tuple{unchanged, first->GetRefCount()}), (std::tuple{2, 1}));
  first->Release();
  int value = 0;
  map->Find(u"k")->ToNumber(&value);
  map->Set(u"k", nullptr);
  EXPECT_EQ((std::tuple{value, map->GetCount()}), (std::tuple{2, 0u}));
}

TEST(ArgumentMapOps, ReadCopiesTheContextAndLaterKeysWin) {
  int context = 0;
  auto map = Own(new CArgumentMap());
  map->SetContext(&context);
  ASSERT_TRUE(map->Read(Read({0x02, ARGUMENT_BOOLEAN, 0x01, 'a', 0x00, ARGUMENT_BOOLEAN, 0x01, 'a', 0x01})));
  ASSERT_EQ(map->GetCount(), 1u);
  EXPECT_EQ((std::tuple{map->Find(u"a")->ToBoolean(), map->Find(u"a")->GetContext()}), (std::tuple{true, &context}));
}
