// Text readers and writers: the encoding chosen from the mark, where the text starts, the units each encoding
// holds, both byte orders, full streams and the round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <base/Stream.h>
#include <base/TaskContext.h>
#include <base/TextReader.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A byte-array stream over its own copy of the bytes (with room to write).
class OwnedBytes {
 public:
  explicit OwnedBytes(const Bytes& bytes, std::uint32_t capacity = 0) : storage_(bytes) {
    if (storage_.size() < capacity) storage_.resize(capacity);
    stream_ = new CByteArrayStream(storage_.empty() ? nullptr : storage_.data(),
                                   static_cast<std::uint32_t>(storage_.size()));
    if (capacity != 0) stream_->TruncateAt(bytes.size(), false);
  }
  ~OwnedBytes() { stream_->Release(); }
  CByteArrayStream* Stream() const { return stream_; }
  Bytes Written() const {
    const std::uint64_t size = stream_->GetSize(true);
    return Bytes(storage_.begin(), storage_.begin() + static_cast<std::ptrdiff_t>(size));
  }

 private:
  Bytes storage_;
  CByteArrayStream* stream_;
};

enum class Kind { UCS2, ANSI };

struct DetectionCase {
  const char* name;
  Bytes bytes;
  Kind kind;
  std::uint64_t length;
  std::uint64_t textStart;
  std::u32string characters;
};

void PrintTo(const DetectionCase& c, std::ostream* out) { *out << c.name; }

class TextDetection : public testing::TestWithParam<DetectionCase> {};

TEST_P(TextDetection, ChoosesTheReaderAndReadsTheText) {
  const DetectionCase& c = GetParam();
  OwnedBytes bytes(c.bytes);
  tTaskContext task;
  CFileLinearTextReader reader(bytes.Stream());

  CLinearTextReader* inner = reader.GetInnerReader();
  ASSERT_NE(inner, nullptr);
  if (c.kind == Kind::UCS2) {
    auto* ucs2 = dynamic_cast<CUCS2LinearTextReader*>(inner);
    ASSERT_NE(ucs2, nullptr) << "expected a UCS-2 reader";
    EXPECT_EQ(ucs2->GetLength(), c.length);
  } else {
    auto* ansi = dynamic_cast<CANSILinearTextReader*>(inner);
    ASSERT_NE(ansi, nullptr) << "expected an 8-bit reader";
    EXPECT_EQ(ansi->GetLength(), c.length);
  }
  EXPECT_EQ(reader.GetTextStart(), c.textStart);

  std::u32string read;
  char32_t code;
  while (reader.ReadUTF32(&task, &code)) read.push_back(code);
  EXPECT_EQ(read, c.characters);

  // Rewind goes back to the text after the mark, and UCS-2 reads agree.
  ASSERT_TRUE(reader.Rewind());
  std::u32string again;
  char16_t unit;
  while (reader.ReadUCS2(&task, &unit)) again.push_back(unit);
  EXPECT_EQ(again, c.characters);
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, TextDetection,
    testing::Values(
        DetectionCase{"LittleEndianMark", {0xFF, 0xFE, 0x41, 0x00}, Kind::UCS2, 1, 2, U"A"},
        DetectionCase{"BigEndianMark", {0xFE, 0xFF, 0x00, 0x41}, Kind::UCS2, 1, 2, U"A"},
        DetectionCase{"UnmarkedUCS2", {0x41, 0x00, 0x42, 0x00}, Kind::UCS2, 2, 0, U"AB"},
        DetectionCase{"EightBit", {0x41, 0x42}, Kind::ANSI, 2, 0, U"AB"},
        DetectionCase{"OneByte", {0x41}, Kind::ANSI, 1, 0, U"A"},
        DetectionCase{"Empty", {}, Kind::ANSI, 0, 0, U""},
        DetectionCase{"MarkOnly", {0xFF, 0xFE}, Kind::UCS2, 0, 2, U""},
        DetectionCase{"OddTrailingByte", {0xFF, 0xFE, 0x41, 0x00, 0x42}, Kind::UCS2, 1, 2, U"A"},
        DetectionCase{"LeadingZeroIsEightBit", {0x00, 0x41}, Kind::ANSI, 2, 0, std::u32string(U"\0A", 2)},
        DetectionCase{"BothZeroIsEightBit", {0x00, 0x00, 0x41}, Kind::ANSI, 3, 0, std::u32string{0, 0, 0x41}},
        DetectionCase{"MarkInReverseHalfIsEightBit", {0xFE, 0x41}, Kind::ANSI, 2, 0, U"\u00FEA"},
        DetectionCase{"Utf8MarkIsThreeCharacters", {0xEF, 0xBB, 0xBF, 0x41}, Kind::ANSI, 4, 0,
                      U"\u00EF\u00BB\u00BFA"},
        DetectionCase{"HighBytesAreNotSignExtended", {0xE9, 0xFF}, Kind::ANSI, 2, 0, U"\u00E9\u00FF"},
        DetectionCase{"SurrogatesStaySeparate", {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, Kind::UCS2, 2, 2,
                      std::u32string{0xD83D, 0xDE00}},
        DetectionCase{"BigEndianUnits", {0xFE, 0xFF, 0x01, 0x00, 0x00, 0xE9}, Kind::UCS2, 2, 2,
                      std::u32string{0x0100, 0x00E9}}),
    [](const testing::TestParamInfo<DetectionCase>& info) { return std::string(info.param.name); });

TEST(TextReader, TextStartsWhereTheStreamStood) {
  OwnedBytes bytes({'x', 'y', 0xFF, 0xFE, 'h', 0, 'i', 0});
  ASSERT_TRUE(bytes.Stream()->Seek(2, CStream::kSeekBegin));
  tTaskContext task;
  CFileLinearTextReader reader(bytes.Stream());
  EXPECT_EQ(reader.GetTextStart(), 4u);
  char c = 0;
  ASSERT_TRUE(reader.ReadANSI(&task, &c, false));
  EXPECT_EQ(c, 'h');
  ASSERT_TRUE(reader.Rewind());
  ASSERT_TRUE(reader.ReadANSI(&task, &c, false));
  EXPECT_EQ(c, 'h') << "Rewind must go back to the text after the mark, not to the stream's start";
  ASSERT_TRUE(reader.ReadANSI(&task, &c, false));
  EXPECT_EQ(c, 'i');
  EXPECT_FALSE(reader.ReadANSI(&task, &c, false));
  EXPECT_EQ(task.GetErrorCount(), 0u) << "the end of the text is not an error";
}

TEST(TextReader, UnitsAboveByteRangeAreRefusedOrReplacedAsANSI) {
  // 0x0100 twice, then 0x00FF.
  OwnedBytes bytes({0x00, 0x01, 0x00, 0x01, 0xFF, 0x00});
  CUCS2LinearTextReader reader(bytes.Stream(), false);
  tTaskContext task;
  char c = 'x';
  EXPECT_FALSE(reader.ReadANSI(&task, &c, false));
  ASSERT_EQ(task.GetErrorCount(), 1u);
  EXPECT_EQ(task.GetErrors()[0],
            "An attempt was made to convert a UCS-2 character being read from a stream to ANSI which does not "
            "support it.");
  ASSERT_TRUE(reader.ReadANSI(&task, &c, true));
  EXPECT_EQ(c, '?');
  ASSERT_TRUE(reader.ReadANSI(&task, &c, false));
  EXPECT_EQ(static_cast<unsigned char>(c), 0xFFu);
  EXPECT_EQ(task.GetErrorCount(), 1u);
}

TEST(TextReader, ReaderKeepsItsStreamAlive) {
  static int released = 0;
  released = 0;
  auto* storage = new std::uint8_t[2]{'o', 'k'};
  auto* stream = new CByteArrayStream(storage, 2);
  stream->SetReleaseFunction([](void* buffer) {
    ++released;
    delete[] static_cast<std::uint8_t*>(buffer);
  });
  auto* reader = new CFileLinearTextReader(stream);
  stream->Release();  // the reader's reference keeps it
  EXPECT_EQ(released, 0);
  tTaskContext task;
  char c = 0;
  ASSERT_TRUE(reader->ReadANSI(&task, &c, false));
  EXPECT_EQ(c, 'o');
  delete reader;
  EXPECT_EQ(released, 1) << "the last reference went with the reader";
}

struct WriteCase {
  const char* name;
  bool swap;
  Bytes expected;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

class TextWriterByteOrder : public testing::TestWithParam<WriteCase> {};

TEST_P(TextWriterByteOrder, WritesOneUnitPerCharacterWithoutAMark) {
  OwnedBytes bytes({}, 64);
  tTaskContext task;
  {
    CUCS2LinearTextWriter writer(bytes.Stream(), GetParam().swap);
    EXPECT_TRUE(writer.WriteANSI(&task, static_cast<char>(0xE9)));
    EXPECT_TRUE(writer.WriteUCS2(&task, u'\u20AC'));
    EXPECT_TRUE(writer.WriteUTF32(&task, U'\uFFFF', false));
    EXPECT_TRUE(writer.WriteUTF32(&task, 0x1F600, true));
  }
  EXPECT_EQ(bytes.Written(), GetParam().expected);
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Units, TextWriterByteOrder,
    testing::Values(WriteCase{"LittleEndian", false, {0xE9, 0x00, 0xAC, 0x20, 0xFF, 0xFF, 0x3F, 0x00}},
                    WriteCase{"BigEndian", true, {0x00, 0xE9, 0x20, 0xAC, 0xFF, 0xFF, 0x00, 0x3F}}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

TEST(TextWriter, CodePointBeyondUCS2FailsAndWritesNothing) {
  OwnedBytes bytes({}, 8);
  CUCS2LinearTextWriter writer(bytes.Stream(), false);
  tTaskContext task;
  EXPECT_FALSE(writer.WriteUTF32(&task, 0x1F600, false));
  EXPECT_TRUE(bytes.Written().empty());
  ASSERT_EQ(task.GetErrorCount(), 1u);
  EXPECT_EQ(task.GetErrors()[0],
            "An attempt was made to convert a UTF-32 character being written to a stream to UCS-2 which does not "
            "support the character.");
}

TEST(TextWriter, AFullStreamFailsEachKindOfWrite) {
  OwnedBytes bytes({}, 3);  // room for one unit and one stray byte
  CUCS2LinearTextWriter writer(bytes.Stream(), false);
  tTaskContext task;
  EXPECT_TRUE(writer.WriteANSI(&task, '\xE9'));
  // One byte of room is not a unit: nothing goes in.
  EXPECT_FALSE(writer.WriteANSI(&task, 'a'));
  EXPECT_FALSE(writer.WriteUCS2(&task, u'b'));
  EXPECT_FALSE(writer.WriteUTF32(&task, U'c', false));
  const std::string failed = "Failed to write a UCS-2 character to a stream.";
  EXPECT_EQ(task.GetErrors(), (std::vector<std::string>{failed, failed, failed}));
  EXPECT_EQ(bytes.Written(), (Bytes{0xE9, 0}));
}

TEST(TextWriter, RoundTripsThroughTheDetectingReader) {
  for (const bool swap : {false, true}) {
    OwnedBytes bytes({}, 64);
    tTaskContext task;
    const std::u16string text = u"Gr\u00FC\u00DFe \u4E16";
    {
      CUCS2LinearTextWriter writer(bytes.Stream(), swap);
      ASSERT_TRUE(writer.WriteUCS2(&task, u'\uFEFF'));  // the mark is the caller's business
      for (char16_t unit : text) ASSERT_TRUE(writer.WriteUCS2(&task, unit));
      ASSERT_TRUE(writer.Rewind());
    }
    ASSERT_TRUE(bytes.Stream()->Rewind());
    CFileLinearTextReader reader(bytes.Stream());
    std::u16string read;
    char16_t unit;
    while (reader.ReadUCS2(&task, &unit)) read.push_back(unit);
    EXPECT_EQ(read, text) << (swap ? "big-endian" : "little-endian");
    EXPECT_EQ(task.GetErrorCount(), 0u);
  }
}

}  // namespace
