// Stream forms written out by hand, byte by byte: every argument type's payload, arrays and maps
// around them, compact integers and strings, and what hostile or cut-short input does.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Arguments.h>
#include <engine/Stream.h>
#include <engine/VexilReference.h>

#include "AssertionCapture.h"

using namespace Vexil3D;

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class T>
Strong<T> Adopted(T* object) {
  Strong<T> held;
  held.Attach(object);
  return held;
}

// A stream over a copy of the bytes, kept alive by the stream itself.
class HeldBytes : public CRefCounted {
 public:
  explicit HeldBytes(Bytes b) : bytes(std::move(b)) {}
  Bytes bytes;
};

Strong<Stream> Source(const Bytes& bytes) {
  auto* held = new HeldBytes(bytes);
  auto stream = Adopted<Stream>(new CMemoryStream(held->bytes.data(), static_cast<std::uint32_t>(held->bytes.size()),
                                                  CMemoryStream::ACCESS_READ, held));
  held->Release();
  return stream;
}

struct Sink {
  Sink() : bytes(1 << 16, 0xCD) {
    stream = Adopted<Stream>(new CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                               CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE));
  }
  Bytes Written() { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(stream->Tell())); }
  Bytes bytes;
  Strong<Stream> stream;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// ---------------------------------------------------------------------------------------------
// Payload of each type: the value, the bytes a reader of the format expects, and what reads back.

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
    const Bytes one = {0x00, 0x00, 0x80, 0x3F};
    const Bytes zero = {0, 0, 0, 0};
    const Bytes& cell = (i % 5 == 0) ? one : zero;
    out.insert(out.end(), cell.begin(), cell.end());
  }
  return out;
}

const PayloadCase kPayloads[] = {
    {"Nil", [] { return CArgument::Create(ARGUMENT_NIL); }, {}},
    {"Undefined", [] { return CArgument::Create(ARGUMENT_UNDEFINED); }, {}},
    {"BooleanTrue", []() -> CArgument* { return new CArgumentBoolean(true); }, {0x01}},
    {"BooleanFalse", []() -> CArgument* { return new CArgumentBoolean(false); }, {0x00}},
    {"StringEmpty", []() -> CArgument* { return new CArgumentString(u""); }, {0x00}},
    {"StringAscii", []() -> CArgument* { return new CArgumentString(u"abc"); }, {0x03, 'a', 'b', 'c'}},
    {"StringTwoByteUtf8", []() -> CArgument* { return new CArgumentString(u"\u00E9"); }, {0x02, 0xC3, 0xA9}},
    {"StringThreeByteUtf8", []() -> CArgument* { return new CArgumentString(u"\u20AC"); }, {0x03, 0xE2, 0x82, 0xAC}},
    {"StringSurrogatePair", []() -> CArgument* { return new CArgumentString(u"\U0001F600"); },
     {0x04, 0xF0, 0x9F, 0x98, 0x80}},
    {"IntegerFive", []() -> CArgument* { return new CArgumentInteger(5); }, {0x05, 0x00, 0x00, 0x00}},
    {"IntegerMinusTwo", []() -> CArgument* { return new CArgumentInteger(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
    {"IntegerOrder", []() -> CArgument* { return new CArgumentInteger(0x01020304); }, {0x04, 0x03, 0x02, 0x01}},
    {"FloatOne", []() -> CArgument* { return new CArgumentFloat(1.0f); }, {0x00, 0x00, 0x80, 0x3F}},
    {"FloatMinusTwo", []() -> CArgument* { return new CArgumentFloat(-2.0f); }, {0x00, 0x00, 0x00, 0xC0}},
    {"LongInteger", []() -> CArgument* { return new CArgumentLongInteger(0x0102030405060708ll); },
     {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
    {"LongIntegerMinusOne", []() -> CArgument* { return new CArgumentLongInteger(-1); },
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"DoubleOne", []() -> CArgument* { return new CArgumentDouble(1.0); },
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}},
    {"Vector2D", []() -> CArgument* { return new CArgumentVector2D({1.0f, -2.0f}); },
     {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0}},
    {"Vector3D", []() -> CArgument* { return new CArgumentVector3D({1.0f, 2.0f, 3.0f}); },
     {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40}},
    {"Matrix4x4Identity", []() -> CArgument* { return new CArgumentMatrix4x4(Identity()); }, IdentityBytes()},
    {"Function", []() -> CArgument* { return new CArgumentFunction(); }, {}},
    {"BytesEmpty", []() -> CArgument* { return new CArgumentBytes(nullptr, 0); }, {0x00}},
    {"BytesTwo", []() -> CArgument* {
       const std::uint8_t b[] = {0xAA, 0xBB};
       return new CArgumentBytes(b, 2);
     },
     {0x02, 0xAA, 0xBB}},
    {"ArrayOfOneTrue", []() -> CArgument* {
       auto* a = new CArgumentArray();
       a->AppendBoolean(true);
       return a;
     },
     {0x01, 0x01, 0x01}},
    {"ArrayEmpty", []() -> CArgument* { return new CArgumentArray(); }, {0x00}},
    {"ArrayMixed", []() -> CArgument* {
       auto* a = new CArgumentArray();
       a->AppendNil();
       a->AppendInteger(7);
       a->AppendString(u"hi", 2);
       a->Adopt(new CArgumentArray());
       a->Adopt(new CArgumentMap());
       a->Adopt(new CArgumentFunction());
       a->Adopt(CArgument::Create(ARGUMENT_UNDEFINED));
       return a;
     },
     // count, then per element its type byte and its payload
     {0x07, 0x00, 0x04, 0x07, 0x00, 0x00, 0x00, 0x02, 0x02, 'h', 'i', 0x11, 0x00, 0x12, 0x00, 0x13, 0x0C}},
    {"MapOneInteger", []() -> CArgument* {
       auto* m = new CArgumentMap();
       m->Set(u"a", new CArgumentInteger(5));
       return m;
     },
     {0x01, 0x04, 0x01, 0x61, 0x05, 0x00, 0x00, 0x00}},
    {"MapEmpty", []() -> CArgument* { return new CArgumentMap(); }, {0x00}},
    {"MapEmptyKeyAndNestedArray", []() -> CArgument* {
       auto* m = new CArgumentMap();
       auto* a = new CArgumentArray();
       a->AppendBoolean(false);
       m->Set(u"", a);
       return m;
     },
     // count, type, key "" (one zero byte), then the array payload
     {0x01, 0x11, 0x00, 0x01, 0x01, 0x00}},
};

class CrossCheckPayload : public testing::TestWithParam<PayloadCase> {};

TEST_P(CrossCheckPayload, WritesExactlyTheHandWrittenBytes) {
  const PayloadCase& c = GetParam();
  Strong<CArgument> argument = Adopted(c.make());
  ASSERT_NE(argument.Get(), nullptr);
  Sink sink;
  ASSERT_TRUE(argument->Write(sink.stream));
  EXPECT_EQ(sink.Written(), c.payload);
  std::uint32_t size = 0xDEADBEEF;
  ASSERT_TRUE(argument->GetSerialisedSize(&size));
  EXPECT_EQ(size, c.payload.size());
}

TEST_P(CrossCheckPayload, ReadsTheHandWrittenBytesBackAndStopsAtTheirEnd) {
  const PayloadCase& c = GetParam();
  Strong<CArgument> original = Adopted(c.make());
  Strong<CArgument> back = Adopted(CArgument::Create(original->GetType()));
  ASSERT_NE(back.Get(), nullptr);
  // A trailing byte that belongs to whatever follows must stay unread.
  Strong<Stream> in = Source(Concat({c.payload, {0x5A}}));
  ASSERT_TRUE(back->Read(in));
  EXPECT_EQ(in->Tell(), c.payload.size());
  Sink sink;
  ASSERT_TRUE(back->Write(sink.stream));
  EXPECT_EQ(sink.Written(), c.payload);
}

INSTANTIATE_TEST_SUITE_P(Arguments, CrossCheckPayload, testing::ValuesIn(kPayloads),
                         [](const testing::TestParamInfo<PayloadCase>& info) { return std::string(info.param.name); });

TEST(CrossCheckArguments, LongStringAndBytesCountsTakeTwoAndThreeBytes) {
  // 128 bytes of text: the count 128 is 80 01.
  Strong<CArgument> text = Adopted<CArgument>(new CArgumentString(std::u16string(128, u'x')));
  Sink a;
  ASSERT_TRUE(text->Write(a.stream));
  const Bytes written = a.Written();
  ASSERT_EQ(written.size(), 130u);
  EXPECT_EQ(written[0], 0x80);
  EXPECT_EQ(written[1], 0x01);
  std::uint32_t size = 0;
  ASSERT_TRUE(text->GetSerialisedSize(&size));
  EXPECT_EQ(size, 130u);

  // 16384 bytes: the count is 80 80 01.
  const Bytes block(16384, 0x11);
  Strong<CArgument> bytes = Adopted<CArgument>(new CArgumentBytes(block.data(), 16384));
  Sink b;
  ASSERT_TRUE(bytes->Write(b.stream));
  const Bytes out = b.Written();
  ASSERT_EQ(out.size(), 16387u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0x80, 0x80, 0x01}));
  ASSERT_TRUE(bytes->GetSerialisedSize(&size));
  EXPECT_EQ(size, 16387u);
}

TEST(CrossCheckArguments, ArrayOf255WritesTheCountFFAnd256WritesNothing) {
  Strong<CArgumentArray> array = Adopted(new CArgumentArray());
  for (int i = 0; i < 255; ++i) array->AppendNil();
  Sink full;
  ASSERT_TRUE(array->Write(full.stream));
  Bytes expected{0xFF};
  expected.insert(expected.end(), 255, 0x00);
  EXPECT_EQ(full.Written(), expected);

  array->AppendNil();
  Sink over;
  std::uint32_t size = 0;
  EXPECT_FALSE(array->GetSerialisedSize(&size));
  EXPECT_FALSE(array->Write(over.stream));
  // A count of 0 (256 modulo 256) followed by 256 elements would read back as an empty array.
  EXPECT_EQ(over.stream->Tell(), 0u);
}

TEST(CrossCheckArguments, BooleanPayloadOtherThanOneReadsTrueAndWritesOne) {
  Strong<CArgument> value = Adopted(CArgument::Create(ARGUMENT_BOOLEAN));
  ASSERT_TRUE(value->Read(Source({0x80})));
  EXPECT_TRUE(value->ToBoolean());
  Sink sink;
  ASSERT_TRUE(value->Write(sink.stream));
  EXPECT_EQ(sink.Written(), (Bytes{0x01}));
}

TEST(CrossCheckArguments, MapReadFromTheStreamKeepsTheLaterOfTwoEqualKeys) {
  Strong<CArgumentMap> map = Adopted(new CArgumentMap());
  ASSERT_TRUE(map->Read(Source({0x02, 0x04, 0x01, 'k', 0x01, 0, 0, 0, 0x01, 0x01, 'k', 0x00})));
  ASSERT_EQ(map->GetCount(), 1u);
  CArgument* value = map->Find(u"k");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->GetType(), ARGUMENT_BOOLEAN);
}

TEST(CrossCheckArguments, MapWithACountBeyondTheStreamFails) {
  enginetest::AssertionCapture asserts;
  Strong<CArgumentMap> map = Adopted(new CArgumentMap());
  // 0x0FFFFFFF entries announced, one present.
  EXPECT_FALSE(map->Read(Source({0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00})));
  EXPECT_EQ(asserts.Count(), 0u);
}

TEST(CrossCheckArguments, ObjectAndUnknownTypeBytesFailTheRead) {
  for (std::uint8_t type : {std::uint8_t(ARGUMENT_OBJECT), std::uint8_t(ARGUMENT_VECTOR4D), std::uint8_t(22),
                            std::uint8_t(0xFF)}) {
    Strong<CArgumentArray> array = Adopted(new CArgumentArray());
    EXPECT_FALSE(array->Read(Source({0x01, type}))) << int(type);
    Strong<CArgumentMap> map = Adopted(new CArgumentMap());
    EXPECT_FALSE(map->Read(Source({0x01, type, 0x00}))) << int(type);
  }
}

// ---------------------------------------------------------------------------------------------
// Compact integers

struct CompactCase {
  std::uint32_t value;
  Bytes bytes;
};

class CrossCheckCompactInteger : public testing::TestWithParam<CompactCase> {};

TEST_P(CrossCheckCompactInteger, EncodesLowGroupFirstAndDecodes) {
  const CompactCase& c = GetParam();
  Sink sink;
  ASSERT_TRUE(WriteCompactInteger(sink.stream, c.value));
  EXPECT_EQ(sink.Written(), c.bytes);
  EXPECT_EQ(GetCompactIntegerSize(c.value), c.bytes.size());
  std::uint32_t back = 0xA5A5A5A5;
  Strong<Stream> in = Source(Concat({c.bytes, {0x7E}}));
  ASSERT_TRUE(ReadCompactInteger(in, &back));
  EXPECT_EQ(back, c.value);
  EXPECT_EQ(in->Tell(), c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Vectors, CrossCheckCompactInteger,
                         testing::Values(CompactCase{0, {0x00}}, CompactCase{1, {0x01}}, CompactCase{127, {0x7F}},
                                         CompactCase{128, {0x80, 0x01}}, CompactCase{300, {0xAC, 0x02}},
                                         CompactCase{16383, {0xFF, 0x7F}}, CompactCase{16384, {0x80, 0x80, 0x01}},
                                         CompactCase{0x1FFFFF, {0xFF, 0xFF, 0x7F}},
                                         CompactCase{0x200000, {0x80, 0x80, 0x80, 0x01}},
                                         CompactCase{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
                                         CompactCase{0x10000000, {0x80, 0x80, 0x80, 0x80, 0x01}},
                                         CompactCase{0x12345678, {0xF8, 0xAC, 0xD1, 0x91, 0x01}},
                                         CompactCase{0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}));

class CrossCheckCompactRefused : public testing::TestWithParam<Bytes> {};

TEST_P(CrossCheckCompactRefused, ReadFails) {
  std::uint32_t value = 0;
  EXPECT_FALSE(ReadCompactInteger(Source(GetParam()), &value));
  EXPECT_EQ(ReadString(Source(GetParam()), nullptr, nullptr), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Hostile, CrossCheckCompactRefused,
                         testing::Values(Bytes{}, Bytes{0x80}, Bytes{0xFF, 0xFF, 0xFF, 0xFF},
                                         Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x10},  // a fifth byte above 0x0F
                                         Bytes{0x80, 0x80, 0x80, 0x80, 0x8F, 0x00},
                                         Bytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}));

// ---------------------------------------------------------------------------------------------
// Compact strings

TEST(CrossCheckCompactString, ConsumedCountsTheCountBytesAndTheText) {
  Bytes in{0x80, 0x01};
  in.insert(in.end(), 128, 'q');
  std::uint32_t length = 0;
  std::uint32_t consumed = 0;
  char16_t* text = ReadString(Source(in), &length, &consumed);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(length, 128u);
  EXPECT_EQ(consumed, 130u);
  EXPECT_EQ(text[128], u'\0');
  delete[] text;

  // Two bytes of UTF-8 make one unit; four make a surrogate pair.
  text = ReadString(Source({0x06, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}), &length, &consumed);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text, length), u"\u00E9\U0001F600");
  EXPECT_EQ(consumed, 7u);
  delete[] text;
}

TEST(CrossCheckCompactString, EmptyWritesOneZeroByteAndReadsBackEmpty) {
  Sink sink;
  ASSERT_TRUE(WriteString(sink.stream, u"ignored", 0));
  EXPECT_EQ(sink.Written(), (Bytes{0x00}));
  std::uint32_t length = 99;
  std::uint32_t consumed = 99;
  char16_t* text = ReadString(Source({0x00}), &length, &consumed);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(consumed, 1u);
  EXPECT_EQ(text[0], u'\0');
  delete[] text;
}

TEST(CrossCheckCompactString, CountsBeyondTheStreamAreRefused) {
  // One byte short, and the largest count with nothing after it.
  EXPECT_EQ(ReadString(Source({0x03, 'a', 'b'}), nullptr, nullptr), nullptr);
  EXPECT_EQ(ReadString(Source({0xFF, 0xFF, 0xFF, 0xFF, 0x0F}), nullptr, nullptr), nullptr);
  // The count is measured from where the string starts, not from the start of the stream.
  Strong<Stream> in = Source({'x', 'x', 'x', 0x03, 'a', 'b'});
  ASSERT_TRUE(in->Seek(3, STREAM_SEEK_BEGIN));
  EXPECT_EQ(ReadString(in, nullptr, nullptr), nullptr);
}

}  // namespace
