// Text readers and writers at their boundaries: the last unit that 8-bit text
// holds, the last code point UCS-2 holds, both byte orders, lengths, rewinding
// to the text after a mark, and the exact messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <base/Stream.h>
#include <base/TaskContext.h>
#include <base/TextReader.h>

namespace {

constexpr const char* kToANSI =
    "An attempt was made to convert a UCS-2 character being read from a stream to ANSI which does not support it.";
constexpr const char* kToUCS2 =
    "An attempt was made to convert a UTF-32 character being written to a stream to UCS-2 which does not support "
    "the character.";
constexpr const char* kWriteFailed = "Failed to write a UCS-2 character to a stream.";

struct Memory {
  explicit Memory(std::vector<std::uint8_t> bytes) : data(std::move(bytes)) {
    stream = new CByteArrayStream(data.data(), static_cast<std::uint32_t>(data.size()));
  }
  ~Memory() { stream->Release(); }
  std::vector<std::uint8_t> data;
  CStream* stream;
};

struct AnsiCase {
  const char* name;
  char16_t unit;
  bool replace;
  bool succeeds;
  unsigned char character;
  const char* message;
};

class CrossCheckReadANSI : public ::testing::TestWithParam<AnsiCase> {};

TEST_P(CrossCheckReadANSI, UnitsUpTo255AreCharacters) {
  const AnsiCase& c = GetParam();
  Memory memory({0xFF, 0xFE, static_cast<std::uint8_t>(c.unit & 0xFF), static_cast<std::uint8_t>(c.unit >> 8)});
  CFileLinearTextReader reader(memory.stream);
  tTaskContext task;
  char out = 0;
  EXPECT_EQ(reader.ReadANSI(&task, &out, c.replace), c.succeeds);
  if (c.succeeds) {
    EXPECT_EQ(static_cast<unsigned char>(out), c.character);
  }
  if (c.message != nullptr)
    EXPECT_EQ(task.GetErrors(), std::vector<std::string>{c.message});
  else
    EXPECT_EQ(task.GetErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Units, CrossCheckReadANSI,
                         ::testing::Values(AnsiCase{"Ascii", u'A', false, true, 'A', nullptr},
                                           AnsiCase{"Last8Bit", 0x00FF, false, true, 0xFF, nullptr},
                                           AnsiCase{"First16BitRefused", 0x0100, false, false, 0, kToANSI},
                                           AnsiCase{"First16BitReplaced", 0x0100, true, true, '?', nullptr},
                                           AnsiCase{"HighestReplaced", 0xFFFF, true, true, '?', nullptr},
                                           AnsiCase{"SurrogateRefused", 0xD83D, false, false, 0, kToANSI}),
                         [](const ::testing::TestParamInfo<AnsiCase>& info) { return std::string(info.param.name); });

struct Utf32Case {
  const char* name;
  char32_t codePoint;
  bool replace;
  bool swap;
  std::vector<std::uint8_t> written;
  const char* message;
};

class CrossCheckWriteUTF32 : public ::testing::TestWithParam<Utf32Case> {};

TEST_P(CrossCheckWriteUTF32, OneUnitUpToFFFF) {
  const Utf32Case& c = GetParam();
  Memory memory(std::vector<std::uint8_t>(4, 0xAA));
  ASSERT_TRUE(memory.stream->TruncateAt(0, false));
  CUCS2LinearTextWriter writer(memory.stream, c.swap);
  tTaskContext task;
  EXPECT_EQ(writer.WriteUTF32(&task, c.codePoint, c.replace), c.message == nullptr);
  EXPECT_EQ(memory.stream->GetSize(true), c.written.size());
  EXPECT_EQ(std::vector<std::uint8_t>(memory.data.begin(), memory.data.begin() + c.written.size()), c.written);
  if (c.message != nullptr)
    EXPECT_EQ(task.GetErrors(), std::vector<std::string>{c.message});
  else
    EXPECT_EQ(task.GetErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    CodePoints, CrossCheckWriteUTF32,
    ::testing::Values(Utf32Case{"LastUnitLittleEndian", 0xFFFF, false, false, {0xFF, 0xFF}, nullptr},
                      Utf32Case{"E9BigEndian", 0xE9, false, true, {0x00, 0xE9}, nullptr},
                      Utf32Case{"E9LittleEndian", 0xE9, false, false, {0xE9, 0x00}, nullptr},
                      Utf32Case{"FirstBeyondRefused", 0x10000, false, false, {}, kToUCS2},
                      Utf32Case{"FirstBeyondReplacedBigEndian", 0x10000, true, true, {0x00, 0x3F}, nullptr},
                      Utf32Case{"EmojiReplaced", 0x1F600, true, false, {0x3F, 0x00}, nullptr}),
    [](const ::testing::TestParamInfo<Utf32Case>& info) { return std::string(info.param.name); });

TEST(CrossCheckTextWriter, AFullStreamFailsEachKindOfWrite) {
  Memory memory(std::vector<std::uint8_t>(3, 0));
  ASSERT_TRUE(memory.stream->TruncateAt(0, false));
  CUCS2LinearTextWriter writer(memory.stream, false);
  tTaskContext task;
  EXPECT_TRUE(writer.WriteANSI(&task, '\xE9'));
  // One byte of room is not a unit: nothing goes in.
  EXPECT_FALSE(writer.WriteANSI(&task, 'a'));
  EXPECT_FALSE(writer.WriteUCS2(&task, u'b'));
  EXPECT_FALSE(writer.WriteUTF32(&task, U'c', false));
  EXPECT_EQ(task.GetErrors(), (std::vector<std::string>{kWriteFailed, kWriteFailed, kWriteFailed}));
  EXPECT_EQ(memory.stream->GetSize(true), 2u);
  EXPECT_EQ(memory.data[0], 0xE9);
  EXPECT_EQ(memory.data[1], 0x00);
  // Rewinding starts over at the beginning of the stream.
  EXPECT_TRUE(writer.Rewind());
  EXPECT_TRUE(writer.WriteUCS2(&task, 0x4241));
  EXPECT_EQ(memory.data[0], 0x41);
  EXPECT_EQ(memory.data[1], 0x42);
}

struct DetectCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  bool ucs2;
  std::uint64_t textStart;
  std::uint64_t length;
  std::u32string text;
};

class CrossCheckDetection : public ::testing::TestWithParam<DetectCase> {};

TEST_P(CrossCheckDetection, ReaderLengthStartAndRewind) {
  const DetectCase& c = GetParam();
  Memory memory(c.bytes);
  CFileLinearTextReader reader(memory.stream);
  EXPECT_EQ(reader.GetTextStart(), c.textStart);
  std::uint64_t length = ~0ull;
  if (auto* ucs2 = dynamic_cast<CUCS2LinearTextReader*>(reader.GetInnerReader())) {
    EXPECT_TRUE(c.ucs2);
    length = ucs2->GetLength();
  } else if (auto* ansi = dynamic_cast<CANSILinearTextReader*>(reader.GetInnerReader())) {
    EXPECT_FALSE(c.ucs2);
    length = ansi->GetLength();
  } else {
    FAIL() << "no inner reader";
  }
  EXPECT_EQ(length, c.length);
  tTaskContext task;
  for (int pass = 0; pass < 2; ++pass) {
    std::u32string text;
    char32_t cp = 0;
    while (reader.ReadUTF32(&task, &cp)) text.push_back(cp);
    EXPECT_EQ(text, c.text) << "pass " << pass;
    ASSERT_TRUE(reader.Rewind());
  }
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, CrossCheckDetection,
    ::testing::Values(
        DetectCase{"LittleEndianMarkOddTail", {0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00, 0x43}, true, 2, 2, U"AB"},
        DetectCase{"BigEndianMark", {0xFE, 0xFF, 0x00, 0x41, 0x01, 0x00}, true, 2, 2, U"A\u0100"},
        DetectCase{"UnmarkedStartsAtTheFirstByte", {0x41, 0x00, 0x42, 0x00}, true, 0, 2, U"AB"},
        DetectCase{"ZeroThenNonZeroIs8Bit", {0x00, 0x41}, false, 0, 2, std::u32string{0, 0x41}},
        DetectCase{"BothZeroIs8Bit", {0x00, 0x00, 0x41}, false, 0, 3, std::u32string{0, 0, 0x41}},
        DetectCase{"MarkInReverseHalfIs8Bit", {0xFE, 0x41}, false, 0, 2, U"\u00FEA"},
        DetectCase{"Utf8MarkIs8Bit", {0xEF, 0xBB, 0xBF, 0x41}, false, 0, 4, U"\u00EF\u00BB\u00BFA"},
        DetectCase{"EmptyIs8Bit", {}, false, 0, 0, U""}),
    [](const ::testing::TestParamInfo<DetectCase>& info) { return std::string(info.param.name); });

TEST(CrossCheckDetection, TextThatStartsInsideTheStream) {
  Memory memory({'h', 'd', 'r', 0xFE, 0xFF, 0x00, 0x5A});
  ASSERT_TRUE(memory.stream->Seek(3, 0));
  CFileLinearTextReader reader(memory.stream);
  EXPECT_EQ(reader.GetTextStart(), 5u);
  tTaskContext task;
  char16_t unit = 0;
  ASSERT_TRUE(reader.ReadUCS2(&task, &unit));
  EXPECT_EQ(unit, u'Z');
  EXPECT_FALSE(reader.ReadUCS2(&task, &unit));
  EXPECT_TRUE(reader.Rewind());
  char c = 0;
  ASSERT_TRUE(reader.ReadANSI(&task, &c, false));
  EXPECT_EQ(c, 'Z');
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

}  // namespace
