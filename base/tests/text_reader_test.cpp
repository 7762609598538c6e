// Text readers and writers: the encoding chosen from the mark, where the text starts, the units each encoding
// holds, both byte orders, full streams and the round trip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <base/Stream.h>
#include <base/TaskContext.h>
#include <base/TextReader.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A byte-array stream over its own copy of the bytes, with room to write up to capacity.
struct OwnedBytes {
  explicit OwnedBytes(const Bytes& bytes, std::uint32_t capacity = 0) : storage(bytes) {
    storage.resize(std::max<std::size_t>(bytes.size(), capacity));
    stream = new CByteArrayStream(storage.data(), static_cast<std::uint32_t>(storage.size()));
    stream->TruncateAt(bytes.size(), false);
  }
  ~OwnedBytes() { stream->Release(); }
  Bytes Written() const { return Bytes(storage.begin(), storage.begin() + std::ptrdiff_t(stream->GetSize(true))); }
  Bytes storage;
  CByteArrayStream* stream;
};

// Every character up to the end, read as UTF-32 or as UCS-2 units.
template <typename Unit>
std::u32string ReadAll(CLinearTextReader& reader, tTaskContext* task) {
  std::u32string read;
  Unit unit;
  if constexpr (sizeof(Unit) == 4)
    while (reader.ReadUTF32(task, &unit)) read.push_back(unit);
  else
    while (reader.ReadUCS2(task, &unit)) read.push_back(unit);
  return read;
}

TEST(TextReader, ChoosesTheReaderFromTheMarkAndReadsTheText) {
  const struct {
    const char* name;
    Bytes bytes;
    bool ucs2;
    std::uint64_t length, textStart;
    std::u32string characters;
  } cases[] = {
      {"little-endian mark", {0xFF, 0xFE, 0x41, 0x00}, true, 1, 2, U"A"},
      {"big-endian mark", {0xFE, 0xFF, 0x00, 0x41}, true, 1, 2, U"A"},
      {"unmarked UCS-2", {0x41, 0x00, 0x42, 0x00}, true, 2, 0, U"AB"},
      {"eight-bit", {0x41, 0x42}, false, 2, 0, U"AB"},
      {"one byte", {0x41}, false, 1, 0, U"A"},
      {"empty", {}, false, 0, 0, U""},
      {"mark only", {0xFF, 0xFE}, true, 0, 2, U""},
      {"odd trailing byte", {0xFF, 0xFE, 0x41, 0x00, 0x42}, true, 1, 2, U"A"},
      {"leading zero is eight-bit", {0x00, 0x41}, false, 2, 0, std::u32string(U"\0A", 2)},
      {"both zero is eight-bit", {0x00, 0x00, 0x41}, false, 3, 0, std::u32string{0, 0, 0x41}},
      {"mark in reverse half is eight-bit", {0xFE, 0x41}, false, 2, 0, U"\u00FEA"},
      {"UTF-8 mark is three characters", {0xEF, 0xBB, 0xBF, 0x41}, false, 4, 0, U"\u00EF\u00BB\u00BFA"},
      {"high bytes are not sign-extended", {0xE9, 0xFF}, false, 2, 0, U"\u00E9\u00FF"},
      {"surrogates stay separate", {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, true, 2, 2, std::u32string{0xD83D, 0xDE00}},
      {"big-endian units", {0xFE, 0xFF, 0x01, 0x00, 0x00, 0xE9}, true, 2, 2, std::u32string{0x0100, 0x00E9}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u32string expected = c.characters;
    OwnedBytes bytes(c.bytes);
    tTaskContext task;
    CFileLinearTextReader reader(bytes.stream);
    auto* ucs2 = dynamic_cast<CUCS2LinearTextReader*>(reader.GetInnerReader());
    auto* ansi = dynamic_cast<CANSILinearTextReader*>(reader.GetInnerReader());
    ASSERT_NE(c.ucs2 ? static_cast<void*>(ucs2) : static_cast<void*>(ansi), nullptr) << "the wrong reader";
    EXPECT_EQ(c.ucs2 ? ucs2->GetLength() : ansi->GetLength(), c.length);
    EXPECT_EQ(reader.GetTextStart(), c.textStart);
    EXPECT_EQ(ReadAll<char32_t>(reader, &task), c.characters);
    // Rewind goes back to the text after the mark, and UCS-2 reads agree, as do 8-bit reads where they can.
    EXPECT_EQ((std::tuple{reader.Rewind(), ReadAll<char16_t>(reader, &task), reader.Rewind()}),
              (std::tuple{true, c.characters, true}));
    std::u32string eightBit;
    for (char byte; reader.ReadANSI(&task, &byte, true);) eightBit.push_back(static_cast<unsigned char>(byte));
    for (char32_t& character : expected) character = character > 0xFF ? U'?' : character;
    EXPECT_EQ(eightBit, expected);
    EXPECT_EQ(task.GetErrorCount(), 0u);
  }
}

// The text starts where the stream stood, past the mark; the reader holds the stream until it goes.
TEST(TextReader, TextStartsWhereTheStreamStoodAndTheReaderKeepsItsStream) {
  static int released;
  released = 0;
  auto* stream = new CByteArrayStream(new std::uint8_t[8]{'x', 'y', 0xFF, 0xFE, 'h', 0, 'i', 0}, 8);
  stream->SetReleaseFunction([](void* buffer) { ++released, delete[] static_cast<std::uint8_t*>(buffer); });
  ASSERT_TRUE(stream->Seek(2, CStream::kSeekBegin));
  auto* reader = new CFileLinearTextReader(stream);
  stream->Release();
  EXPECT_EQ(reader->GetTextStart(), 4u);
  tTaskContext task;
  char c = 0;
  ASSERT_TRUE(reader->ReadANSI(&task, &c, false) && reader->Rewind());
  std::string read;
  while (reader->ReadANSI(&task, &c, false)) read += c;
  EXPECT_EQ(read, "hi") << "Rewind goes back to the text after the mark, not to the stream's start";
  EXPECT_EQ((std::tuple{task.GetErrorCount(), released}), (std::tuple{0u, 0})) << "the end of the text is no error";
  delete reader;
  EXPECT_EQ(released, 1) << "the last reference went with the reader";
}

TEST(TextReader, UnitsAboveByteRangeAreRefusedOrReplacedAsANSI) {
  OwnedBytes bytes({0x00, 0x01, 0x00, 0x01, 0xFF, 0x00});  // 0x0100 twice, then 0x00FF
  CUCS2LinearTextReader reader(bytes.stream, false);
  tTaskContext task;
  char c = 'x', replaced = 'x', kept = 'x';
  EXPECT_EQ((std::tuple{reader.ReadANSI(&task, &c, false), reader.ReadANSI(&task, &replaced, true), replaced,
                        reader.ReadANSI(&task, &kept, false), kept}),
            (std::tuple{false, true, '?', true, '\xFF'}));
  EXPECT_EQ(task.GetErrors(), std::vector<std::string>{"An attempt was made to convert a UCS-2 character being read "
                                                       "from a stream to ANSI which does not support it."});
}

// One unit per character without a mark, in either byte order; what the writer writes the detecting reader reads.
TEST(TextWriter, WritesUnitsInEitherByteOrderAndRoundTrips) {
  for (const bool swap : {false, true}) {
    SCOPED_TRACE(swap);
    OwnedBytes bytes({}, 64);
    tTaskContext task;
    {
      CUCS2LinearTextWriter writer(bytes.stream, swap);
      EXPECT_TRUE(writer.WriteUCS2(&task, u'\uFEFF') &&  // the mark is the caller's business
                  writer.WriteANSI(&task, static_cast<char>(0xE9)) && writer.WriteUCS2(&task, u'\u20AC') &&
                  writer.WriteUTF32(&task, U'\uFFFF', false) && writer.WriteUTF32(&task, 0x1F600, true) &&
                  writer.Rewind());
    }
    Bytes expected = {0xFF, 0xFE, 0xE9, 0x00, 0xAC, 0x20, 0xFF, 0xFF, 0x3F, 0x00};
    for (std::size_t i = 0; swap && i < expected.size(); i += 2) std::swap(expected[i], expected[i + 1]);
    EXPECT_EQ(bytes.Written(), expected);
    ASSERT_TRUE(bytes.stream->Rewind());
    CFileLinearTextReader reader(bytes.stream);
    EXPECT_EQ(ReadAll<char16_t>(reader, &task), U"\u00E9\u20AC\uFFFF?");
    EXPECT_EQ(task.GetErrorCount(), 0u);
  }
}

// Nothing goes in when a character has no unit or the stream has no room for a whole unit.
TEST(TextWriter, RefusedCharactersAndAFullStreamWriteNothing) {
  OwnedBytes bytes({}, 3);  // room for one unit and one stray byte
  CUCS2LinearTextWriter writer(bytes.stream, false);
  tTaskContext task;
  EXPECT_EQ(
      (std::tuple{writer.WriteUTF32(&task, 0x1F600, false), writer.WriteANSI(&task, '\xE9'),
                  writer.WriteANSI(&task, 'a'), writer.WriteUCS2(&task, u'b'), writer.WriteUTF32(&task, U'c', false)}),
      (std::tuple{false, true, false, false, false}));
  EXPECT_EQ(bytes.Written(), (Bytes{0xE9, 0}));
  const std::string failed = "Failed to write a UCS-2 character to a stream.";
  EXPECT_EQ(task.GetErrors(), (std::vector<std::string>{"An attempt was made to convert a UTF-32 character being "
                                                        "written to a stream to UCS-2 which does not support the "
                                                        "character.",
                                                        failed, failed, failed}));
}

}  // namespace
