// Memory, window and host-file streams; compact integers and strings; text reader and writer.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Stream.h>
#include <engine/VexilReference.h>
#include <platform/text.h>

#include "AssertionCapture.h"
#include "ChunkFixtures.h"

using namespace Vexil3D;
using enginetest::Bytes;
using enginetest::Own;

namespace {

Strong<Stream> ReadStream(const Bytes& bytes) { return enginetest::Over(bytes); }

constexpr std::uint32_t kReadWrite = CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE;

// A writable stream over a fixed buffer.
struct WriteBuffer {
  explicit WriteBuffer(std::uint32_t size = 256) : bytes(size, 0xCC) {
    stream.Attach(new CMemoryStream(bytes.data(), size, kReadWrite));
  }
  Bytes Written() { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(stream->Tell())); }
  Bytes bytes;
  Strong<Stream> stream;
};

Bytes Utf16Bytes(std::u16string_view text) {
  Bytes bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes AsciiBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

// Compact integers

struct CompactCase { std::uint32_t value; Bytes bytes; };

void PrintTo(const CompactCase& c, std::ostream* os) { *os << c.value; }

class CompactIntegerVectors : public testing::TestWithParam<CompactCase> {};

TEST_P(CompactIntegerVectors, WriteGivesTheBytesAndReadGivesTheValueBack) {
  const CompactCase& c = GetParam();
  WriteBuffer out;
  ASSERT_TRUE(WriteCompactInteger(out.stream, c.value));
  EXPECT_EQ(out.Written(), c.bytes);
  EXPECT_EQ(GetCompactIntegerSize(c.value), c.bytes.size());

  Strong<Stream> in = ReadStream(Concat(c.bytes, {0x7E}));  // the read stops at the value's end
  std::uint32_t value = 0xDEADBEEF;
  ASSERT_TRUE(ReadCompactInteger(in, &value));
  EXPECT_EQ(value, c.value);
  EXPECT_EQ(in->Tell(), c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Stream, CompactIntegerVectors,
                         testing::Values(CompactCase{0, {0x00}}, CompactCase{1, {0x01}}, CompactCase{127, {0x7F}},
                                         CompactCase{128, {0x80, 0x01}}, CompactCase{300, {0xAC, 0x02}},
                                         CompactCase{16383, {0xFF, 0x7F}}, CompactCase{16384, {0x80, 0x80, 0x01}},
                                         CompactCase{0x1FFFFF, {0xFF, 0xFF, 0x7F}},
                                         CompactCase{0x200000, {0x80, 0x80, 0x80, 0x01}},
                                         CompactCase{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
                                         CompactCase{0x10000000, {0x80, 0x80, 0x80, 0x80, 0x01}},
                                         CompactCase{0x12345678, {0xF8, 0xAC, 0xD1, 0x91, 0x01}},
                                         CompactCase{0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}));

TEST(CompactInteger, HostileFormsFailAndANonMinimalFormStillReads) {
  const struct { const char* what; Bytes bytes; } cases[] = {
      {"empty", {}}, {"continuation then end", {0x80}}, {"four continuations then end", {0xFF, 0xFF, 0xFF, 0xFF}},
      {"fifth byte above 0x0F", {0xFF, 0xFF, 0xFF, 0xFF, 0x10}}, {"fifth byte 0x7F", {0x80, 0x80, 0x80, 0x80, 0x7F}},
      {"fifth byte continues", {0xFF, 0xFF, 0xFF, 0xFF, 0x8F, 0x00}},
      {"sixth continuation byte", {0x80, 0x80, 0x80, 0x80, 0x80, 0x00}}};
  std::uint32_t value = 1;
  for (const auto& c : cases) EXPECT_FALSE(ReadCompactInteger(ReadStream(c.bytes), &value)) << c.what;
  Strong<Stream> in = ReadStream({0x80, 0x80, 0x00, 0x7F});
  ASSERT_TRUE(ReadCompactInteger(in, &value));
  EXPECT_EQ((std::tuple{value, in->Tell()}), (std::tuple{0u, 3u}));
}

// Compact strings

struct StringCase { std::u16string text; Bytes bytes; };

void PrintTo(const StringCase& c, std::ostream* os) { *os << c.bytes.size() << " bytes"; }

class CompactStringVectors : public testing::TestWithParam<StringCase> {};

TEST_P(CompactStringVectors, RoundTrip) {
  const StringCase& c = GetParam();
  WriteBuffer out(512);
  ASSERT_TRUE(WriteString(out.stream, c.text.c_str(), static_cast<std::uint32_t>(c.text.size())));
  EXPECT_EQ(out.Written(), c.bytes);
  EXPECT_EQ(GetStringSize(c.text.c_str(), static_cast<std::uint32_t>(c.text.size())), c.bytes.size());

  Strong<Stream> in = ReadStream(c.bytes);
  std::uint32_t length = 99;
  std::uint32_t consumed = 0;
  std::unique_ptr<char16_t[]> text(ReadString(in, &length, &consumed));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text.get(), length), c.text);
  EXPECT_EQ(text[length], u'\0');
  EXPECT_EQ(consumed, c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Stream, CompactStringVectors,
                         testing::Values(StringCase{u"", {0x00}}, StringCase{u"a", {0x01, 0x61}},
                                         StringCase{u"\u00E9", {0x02, 0xC3, 0xA9}},
                                         StringCase{u"\U0001F600", {0x04, 0xF0, 0x9F, 0x98, 0x80}},
                                         StringCase{std::u16string(200, u'x'), Concat({0xC8, 0x01}, Bytes(200, 'x'))}));

TEST(CompactString, HostileCountsFailWithoutReadingPastTheStream) {
  const struct { const char* what; Bytes bytes; } cases[] = {
      {"count beyond the bytes left", {0x05, 'a', 'b'}}, {"huge count", {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 'a', 'b', 'c'}},
      {"count that would wrap with its terminator", {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}}, {"truncated count", {0x80}},
      {"overlong count", {0xFF, 0xFF, 0xFF, 0xFF, 0x1F, 'a'}}, {"empty stream", {}},
  };
  std::uint32_t length = 7;
  std::uint32_t consumed = 7;
  for (const auto& c : cases) {
    std::unique_ptr<char16_t[]> text(ReadString(ReadStream(c.bytes), &length, &consumed));
    EXPECT_EQ(text, nullptr) << c.what;
  }
  // The count is measured from where the string starts, not from the start of the stream.
  Strong<Stream> in = ReadStream({'x', 'x', 'x', 0x03, 'a', 'b'});
  ASSERT_TRUE(in->Seek(3, STREAM_SEEK_BEGIN));
  EXPECT_EQ(ReadString(in, nullptr, nullptr), nullptr);
  // The consumed count takes in a non-minimal count.
  std::unique_ptr<char16_t[]> text(ReadString(ReadStream({0x82, 0x00, 'h', 'i', 'z'}), &length, &consumed));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ((std::tuple{std::u16string(text.get(), length), consumed}), (std::tuple{u"hi", 4u}));
  // Writes to a full stream fail.
  WriteBuffer out(3), empty(0);
  EXPECT_FALSE(WriteString(out.stream, u"abcd", 4));
  EXPECT_FALSE(WriteString(empty.stream, u"", 0));
}

// Memory streams

TEST(MemoryStream, ReadsClampAtTheEndAndWritesAreAllOrNothing) {
  std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto stream = Own(new CMemoryStream(data, 8, kReadWrite));
  std::uint8_t buffer[16] = {};
  // The last read is at the end.
  EXPECT_EQ((std::tuple{stream->Read(buffer, 5), stream->Read(buffer, 16), buffer[2], stream->Read(buffer, 1)}),
            (std::tuple{5u, 3u, 8, 0u}));

  ASSERT_TRUE(stream->Seek(6, STREAM_SEEK_BEGIN));
  const std::uint8_t patch[3] = {0xA, 0xB, 0xC};
  // Would cross the end: nothing written.
  EXPECT_EQ((std::tuple{stream->Write(patch, 3), data[6], stream->Tell()}), (std::tuple{0u, 7, 6u}));
  EXPECT_EQ((std::tuple{stream->Write(patch, 2), data[7], stream->GetLength()}), (std::tuple{2u, 0xB, 8u}));

  // Access flags are honoured.
  auto readOnly = Own(new CMemoryStream(static_cast<const void*>(data), 4));
  EXPECT_EQ((std::tuple{readOnly->Write(buffer, 1), data[0]}), (std::tuple{0u, 1}));
  auto writeOnly = Own(new CMemoryStream(data, 4, CMemoryStream::ACCESS_WRITE));
  buffer[0] = 0;
  EXPECT_EQ((std::tuple{writeOnly->Read(buffer, 1), writeOnly->Write(buffer, 1), data[0]}), (std::tuple{0u, 1u, 0}));
}

TEST(MemoryStream, SeekOrigins) {
  std::uint8_t data[10] = {};
  auto stream = Own(new CMemoryStream(data, 10, kReadWrite));
  EXPECT_EQ((std::tuple{stream->Seek(4, STREAM_SEEK_BEGIN), stream->Seek(3, STREAM_SEEK_CURRENT), stream->Tell(),
                        stream->Seek(-2, STREAM_SEEK_END), stream->Tell()}),
            (std::tuple{true, true, 7u, true, 8u}));
  // An unknown origin, a seek before the start and one beyond a 32-bit position fail and leave the position.
  EXPECT_EQ((std::tuple{stream->Seek(0, 3), stream->Seek(-9, STREAM_SEEK_CURRENT),
                        stream->Seek(0x100000000ll, STREAM_SEEK_BEGIN), stream->Tell()}),
            (std::tuple{false, false, false, 8u}));
  std::uint8_t byte = 0;  // past the end is allowed, and reads and writes nothing
  EXPECT_EQ((std::tuple{stream->Seek(50, STREAM_SEEK_BEGIN), stream->Read(&byte, 1), stream->Write(&byte, 1)}),
            (std::tuple{true, 0u, 0u}));
}

TEST(MemoryStream, WriteNearTheTopOfThePositionRangeDoesNotWrap) {
  Bytes data(16, 0);
  auto stream = Own(new CMemoryStream(data.data(), 16, CMemoryStream::ACCESS_WRITE));
  ASSERT_TRUE(stream->Seek(0xFFFFFFF8ll, STREAM_SEEK_BEGIN));
  const Bytes payload(16, 0xEE);
  // position + size would wrap to 8 and pass a naive end check.
  EXPECT_EQ((std::tuple{stream->Write(payload.data(), 16), data}), (std::tuple{0u, Bytes(16, 0)}));
}

// A stream with no length of its own: the base measures by seeking to the end and back.
namespace {
class Unmeasured : public Stream {
 public:
  static constexpr std::uint64_t kLength = 77;
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  bool Seek(std::int64_t offset, std::uint32_t origin) override {
    seeks.push_back(origin);
    const std::uint64_t base = origin == STREAM_SEEK_BEGIN ? 0 : origin == STREAM_SEEK_END ? kLength : position;
    position = base + static_cast<std::uint64_t>(offset);
    return true;
  }
  std::uint64_t Tell() override { return position; }

  std::uint64_t position = 0;
  std::vector<std::uint32_t> seeks;
};
}  // namespace

TEST(StreamBase, LengthIsMeasuredAtTheEndAndThePositionPutBack) {
  auto stream = Own(new Unmeasured());
  stream->position = 12;
  EXPECT_EQ((std::tuple{stream->GetLength(), stream->position, stream->seeks, stream->SetFileTime(0)}),
            (std::tuple{77u, 12u, std::vector<std::uint32_t>{STREAM_SEEK_END, STREAM_SEEK_BEGIN}, false}));
}

// Window streams

TEST(RangeStream, ReadsAndWritesStayInsideTheWindow) {
  std::uint8_t data[32];
  for (int i = 0; i < 32; ++i) data[i] = static_cast<std::uint8_t>(i);
  auto source = Own<Stream>(new CMemoryStream(data, 32, kReadWrite));
  auto window = Own<Stream>(new CStreamRangeStream(source, 10, 10));
  EXPECT_EQ((std::tuple{source->GetRefCount(), window->GetLength()}), (std::tuple{2, 10u}));

  ASSERT_TRUE(window->Seek(4, STREAM_SEEK_BEGIN));
  std::uint8_t buffer[100] = {};
  EXPECT_EQ((std::tuple{window->Read(buffer, 100), buffer[0], buffer[5], window->Read(buffer, 1)}),
            (std::tuple{6u, 14, 19, 0u}));

  ASSERT_TRUE(window->Seek(-3, STREAM_SEEK_END));
  const std::uint8_t patch[4] = {0xA0, 0xA1, 0xA2, 0xA3};
  EXPECT_EQ((std::tuple{window->Write(patch, 4), data[17]}), (std::tuple{0u, 17}));  // one byte too many: nothing
  EXPECT_EQ((std::tuple{window->Write(patch, 3), data[17], data[19], data[20]}), (std::tuple{3u, 0xA0, 0xA2, 20}));
  EXPECT_FALSE(window->Seek(-1, STREAM_SEEK_BEGIN));

  window = nullptr;
  EXPECT_EQ(source->GetRefCount(), 1);
}

TEST(RangeStream, WindowsPastTheSourceEndGiveWhatTheSourceHasAndDoNotWrap) {
  std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto source = Own<Stream>(new CMemoryStream(data, 8, kReadWrite));
  auto window = Own<Stream>(new CStreamRangeStream(source, 6, 100));
  std::uint8_t buffer[16] = {};
  EXPECT_EQ((std::tuple{window->Read(buffer, 16), window->Tell(), window->Read(buffer, 16)}), (std::tuple{2u, 2u, 0u}));

  auto huge = Own<Stream>(new CStreamRangeStream(source, 4, ~0ull));
  EXPECT_EQ(huge->GetLength(), ~0ull - 4);
  EXPECT_FALSE(huge->Seek(-1, STREAM_SEEK_END));  // beyond what the source can be asked for
  EXPECT_TRUE(huge->Seek(2, STREAM_SEEK_BEGIN));
  std::uint8_t byte = 0x55;
  EXPECT_EQ((std::tuple{huge->Write(&byte, 1), data[6]}), (std::tuple{1u, 0x55}));
}

// Host files

class WindowsStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/engine-stream-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_Directory = pattern;
    m_File = m_Directory + "/data.bin";
    std::ofstream(m_File, std::ios::binary) << "0123456789";
  }
  void TearDown() override {
    std::remove(m_File.c_str());
    rmdir(m_Directory.c_str());
  }
  std::string m_Directory;
  std::string m_File;
};

TEST_F(WindowsStreamTest, ReadsWritesSeeksAndSetsTheTime) {
  const std::u16string path = text::Utf8ToUtf16(m_File);
  auto file = Own(CWindowsStream::Open(path.c_str(), true));
  ASSERT_NE(file.Get(), nullptr);
  char buffer[16] = {};
  EXPECT_EQ((std::tuple{file->GetLength(), file->Read(buffer, 4), std::string(buffer, 4), file->Tell()}),
            (std::tuple{10u, 4u, "0123", 4u}));
  ASSERT_TRUE(file->Seek(-2, STREAM_SEEK_END));
  EXPECT_EQ((std::tuple{file->Write("AB", 2), file->Write("CD", 2), file->GetLength()}), (std::tuple{2u, 2u, 12u}));
  EXPECT_FALSE(file->Seek(-100, STREAM_SEEK_CURRENT));
  ASSERT_TRUE(file->SetFileTime(1700000000ull));
  file = nullptr;

  struct stat info {};
  ASSERT_EQ(stat(m_File.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1700000000);
  std::ifstream in(m_File, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "01234567ABCD");
}

TEST_F(WindowsStreamTest, ReadOnlyOpenRefusesWritesAndMissingFilesGiveNull) {
  const std::u16string path = text::Utf8ToUtf16(m_File);
  auto file = Own(CWindowsStream::Open(path.c_str(), false));
  ASSERT_NE(file.Get(), nullptr);
  EXPECT_EQ(file->Write("x", 1), 0u);  // opened read-only
  const std::u16string missing = text::Utf8ToUtf16(m_Directory + "/missing.bin");
  EXPECT_EQ(CWindowsStream::Open(missing.c_str(), false), nullptr);
}

// Text reader

struct EncodingCase { const char* what; Bytes bytes; int encoding; bool bigEndian; bool loads; std::u16string text; };

void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.what; }

class TextReaderEncodings : public testing::TestWithParam<EncodingCase> {};

TEST_P(TextReaderEncodings, DetectsTheByteOrderMark) {
  const EncodingCase& c = GetParam();
  CTextReader reader(ReadStream(c.bytes));
  std::uint32_t length = 0;
  const char16_t* text = reader.GetText(&length);
  EXPECT_EQ((std::tuple{reader.GetEncoding(), reader.IsBigEndian(), text != nullptr}),
            (std::tuple{c.encoding, c.bigEndian, c.loads}));
  char16_t line[16];
  unsigned int lineLength = 5;
  if (!c.loads) EXPECT_FALSE(reader.ReadLine(line, 16, &lineLength));
  else EXPECT_EQ(std::u16string(text, length), c.text);
}

namespace {
constexpr int kUtf8 = CTextReader::ENCODING_UTF8, kUtf16 = CTextReader::ENCODING_UTF16;
}  // namespace

// clang-format off
INSTANTIATE_TEST_SUITE_P(Stream, TextReaderEncodings, testing::Values(
    EncodingCase{"no mark", AsciiBytes("abc"), kUtf8, false, true, u"abc"},
    EncodingCase{"empty", {}, kUtf8, false, true, u""},
    EncodingCase{"UTF-8 mark", Concat({0xEF, 0xBB, 0xBF}, AsciiBytes("h\xC3\xA9")), kUtf8, false, true, u"h\u00E9"},
    EncodingCase{"UTF-16 LE", Concat({0xFF, 0xFE}, Utf16Bytes(u"ab\u20AC")), kUtf16, false, true, u"ab\u20AC"},
    EncodingCase{"UTF-16 LE odd byte", {0xFF, 0xFE, 0x61, 0x00, 0x62}, kUtf16, false, true, u"a"},
    EncodingCase{"FF FE 00 00 read as UTF-16 LE", {0xFF, 0xFE, 0, 0, 0x61, 0}, kUtf16, false, true, {u'\0', u'a'}},
    EncodingCase{"UTF-16 BE", {0xFE, 0xFF, 0x00, 0x61}, kUtf16, true, false, u""},
    EncodingCase{"UTF-32 BE", {0, 0, 0xFE, 0xFF, 0, 0, 0, 0x61}, CTextReader::ENCODING_UTF32, true, false, u""},
    EncodingCase{"two bytes only", AsciiBytes("hi"), kUtf8, false, true, u"hi"}));
// clang-format on

namespace {

std::vector<std::u16string> ReadAllLines(CTextReader& reader, unsigned int capacity = CTextReader::kLineCapacity) {
  std::vector<std::u16string> lines;
  std::vector<char16_t> buffer(capacity + 1, u'#');
  unsigned int length = 0;
  while (reader.ReadLine(buffer.data(), capacity, &length)) {
    EXPECT_LT(length, capacity);
    EXPECT_EQ(buffer[length], u'\0');
    lines.emplace_back(buffer.data(), length);
    if (lines.size() > 10000) break;
  }
  EXPECT_EQ(buffer[capacity], u'#');  // nothing written past the room given
  return lines;
}

}  // namespace

TEST(TextReader, CrLfAndLfEndLinesAlikeAndAFinalLineFeedAddsNoLine) {
  CTextReader reader(ReadStream(AsciiBytes("one\r\ntwo\n\nthree\r\n\r\nlast")));
  EXPECT_EQ(ReadAllLines(reader), (std::vector<std::u16string>{u"one", u"two", u"", u"three", u"", u"last"}));
  CTextReader ended(ReadStream(AsciiBytes("a\nb\n")));
  EXPECT_EQ(ReadAllLines(ended), (std::vector<std::u16string>{u"a", u"b"}));
}

TEST(TextReader, LongLinesComeInPiecesAndNothingIsLost) {
  enginetest::AssertionCapture asserts;
  const std::string longLine(3000, 'x');
  CTextReader reader(ReadStream(AsciiBytes(longLine + "\nafter\n")));
  EXPECT_EQ(ReadAllLines(reader), (std::vector<std::u16string>{std::u16string(1023, 'x'), std::u16string(1023, 'x'),
                                                               std::u16string(954, 'x'), u"after"}));
  EXPECT_EQ(asserts.Count(), 0u);  // file data never raises an assertion
}

TEST(TextReader, LineBoundariesAroundTheBufferSize) {
  const struct { const char* what; std::string text; std::vector<std::size_t> lengths; } cases[] = {
      {"exactly full with LF", std::string(1023, 'a') + "\nz", {1023, 1}},
      {"exactly full with CR LF", std::string(1023, 'a') + "\r\nz", {1023, 1}},
      {"one over with CR LF", std::string(1024, 'a') + "\r\nz", {1023, 1, 1}},
      {"full without end", std::string(1023, 'a'), {1023}}, {"one over without end", std::string(1024, 'a'), {1023, 1}},
  };
  for (const auto& c : cases) {
    CTextReader reader(ReadStream(AsciiBytes(c.text)));
    std::vector<std::size_t> lengths;
    for (const auto& line : ReadAllLines(reader)) lengths.push_back(line.size());
    EXPECT_EQ(lengths, c.lengths) << c.what;
  }
}

TEST(TextReader, SmallBuffersAndSurrogatePairsAtTheCut) {
  CTextReader reader(ReadStream(Concat({0xFF, 0xFE}, Utf16Bytes(u"ab\U0001F600c\nabcdefgh"))));
  // Room for three units: the pair is not split, so the first piece is "ab".
  EXPECT_EQ(ReadAllLines(reader, 4), (std::vector<std::u16string>{u"ab", u"\U0001F600c", u"abc", u"def", u"gh"}));
}

TEST(TextReader, ReadLineRefusesUselessBuffersAndDoesNotTrustCapacitiesAboveItsOwn) {
  CTextReader reader(ReadStream(AsciiBytes("abc\n")));
  char16_t small[2] = {u'#', u'#'};
  unsigned int length = 9;
  EXPECT_FALSE(reader.ReadLine(small, 1, &length));
  EXPECT_EQ((std::tuple{small[0], length}), (std::tuple{u'\0', 0u}));
  EXPECT_FALSE(reader.ReadLine(nullptr, 10, &length));
  EXPECT_EQ(ReadAllLines(reader), (std::vector<std::u16string>{u"abc"}));

  CTextReader big(ReadStream(AsciiBytes(std::string(1500, 'q'))));
  std::vector<char16_t> buffer(CTextReader::kLineCapacity + 1, u'#');
  ASSERT_TRUE(big.ReadLine(buffer.data(), 2 * CTextReader::kLineCapacity, &length));
  EXPECT_EQ((std::tuple{length, buffer[CTextReader::kLineCapacity]}),
            (std::tuple{CTextReader::kLineCapacity - 1, u'#'}));
}

TEST(TextReader, ReadCodePointCombinesOnlyRealPairs) {
  const std::u16string text = u"\U0001F600x\xD800y\xDC00";
  CTextReader reader(ReadStream(Concat({0xFF, 0xFE}, Utf16Bytes(text))));
  std::vector<std::uint32_t> points;
  std::uint32_t point = 0;
  while (reader.ReadCodePoint(&point)) points.push_back(point);
  EXPECT_EQ(points, (std::vector<std::uint32_t>{0x1F600, 'x', 0xD800, 'y', 0xDC00}));
}

TEST(TextReader, ReadGivesUnitsAndCloseLetsTheStreamGo) {
  Strong<Stream> stream = ReadStream(AsciiBytes("hello"));
  auto* reader = new CTextReader(stream);
  EXPECT_EQ(stream->GetRefCount(), 2);
  char16_t buffer[8] = {};
  EXPECT_EQ((std::tuple{reader->Read(buffer, 3), std::u16string(buffer, 3)}), (std::tuple{3u, u"hel"}));
  EXPECT_EQ((std::tuple{reader->Read(buffer, 8), reader->Read(buffer, 8)}), (std::tuple{2u, 0u}));
  reader->Close();
  EXPECT_EQ((std::tuple{stream->GetRefCount(), reader->GetText(nullptr)}), (std::tuple{1, nullptr}));
  delete reader;

  // A reader starts at the stream's position.
  Strong<Stream> later = ReadStream(Concat(AsciiBytes("skip"), Concat({0xEF, 0xBB, 0xBF}, AsciiBytes("rest"))));
  ASSERT_TRUE(later->Seek(4, STREAM_SEEK_BEGIN));
  CTextReader rest(later);
  std::uint32_t length = 0;
  const char16_t* text = rest.GetText(&length);
  EXPECT_EQ(text ? std::u16string(text, length) : u"(none)", u"rest");
}

// Text writer

TEST(TextWriter, WritesTheMarkOnlyAtTheStart) {
  WriteBuffer fresh;
  CTextWriter writer(fresh.stream);
  ASSERT_TRUE(writer.Write(u"h\u00E9", 2));
  ASSERT_TRUE(writer.Printf(u"%s=%d %hs\r\n", u"x", 42, "ok"));
  EXPECT_EQ(fresh.Written(), Concat({0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9}, AsciiBytes("x=42 ok\r\n")));

  WriteBuffer used;
  const std::uint8_t existing = 'x';
  used.stream->Write(&existing, 1);
  CTextWriter second(used.stream);
  EXPECT_FALSE(second.WriteBOM());
  ASSERT_TRUE(second.Write(u"y", 1));
  EXPECT_EQ(used.Written(), (Bytes{'x', 'y'}));
}

TEST(TextWriter, MarksOfEveryEncoding) {
  const struct { int encoding; bool bigEndian; Bytes mark; } cases[] = {
      {CTextWriter::ENCODING_NONE, false, {}}, {CTextWriter::ENCODING_UTF8, false, {0xEF, 0xBB, 0xBF}},
      {CTextWriter::ENCODING_UTF16, false, {0xFF, 0xFE}}, {CTextWriter::ENCODING_UTF16, true, {0xFE, 0xFF}},
      {CTextWriter::ENCODING_UTF32, false, {0xFF, 0xFE, 0x00, 0x00}},
      {CTextWriter::ENCODING_UTF32, true, {0x00, 0x00, 0xFE, 0xFF}},
  };
  for (const auto& c : cases) {
    WriteBuffer out;
    CTextWriter writer(out.stream);
    writer.SetEncoding(c.encoding, c.bigEndian);
    EXPECT_EQ((std::tuple{writer.WriteBOM(), out.Written()}), (std::tuple{true, c.mark})) << c.encoding << c.bigEndian;
  }
  WriteBuffer tooSmall(1);
  EXPECT_FALSE(CTextWriter(tooSmall.stream).WriteBOM());
}

TEST(TextWriter, Utf16LittleEndianAndRefusedEncodings) {
  WriteBuffer out;
  CTextWriter writer(out.stream);
  writer.SetEncoding(CTextWriter::ENCODING_UTF16);
  ASSERT_TRUE(writer.Write(u"A\u20AC", 2));
  EXPECT_EQ(out.Written(), (Bytes{0xFF, 0xFE, 0x41, 0x00, 0xAC, 0x20}));

  for (auto [encoding, bigEndian] :
       {std::pair{CTextWriter::ENCODING_UTF16, true}, std::pair{CTextWriter::ENCODING_UTF32, false},
        std::pair{CTextWriter::ENCODING_NONE, false}}) {
    WriteBuffer refused;
    CTextWriter other(refused.stream);
    other.SetEncoding(encoding, bigEndian);
    EXPECT_EQ((std::tuple{other.Write(u"A", 1), refused.stream->Tell()}), (std::tuple{false, 0u}));  // nor the mark
  }
}
