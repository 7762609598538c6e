// Stream semantics read off the stream contracts: windows clamp and move their source, memory
// blocks refuse writes that cross their end, the base length query puts the position back, and the
// text writer's byte-order mark goes only at position 0.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Stream.h>
#include <engine/VexilReference.h>

using namespace Vexil3D;

namespace {

template <class T>
Strong<T> Adopted(T* object) {
  Strong<T> held;
  held.Attach(object);
  return held;
}

TEST(CrossCheckRangeStream, ReadClampsToTheWindowAndMovesTheSource) {
  char source[32];
  for (int i = 0; i < 32; ++i) source[i] = static_cast<char>('A' + i);
  Strong<Stream> base = Adopted<Stream>(new CMemoryStream(source, sizeof(source)));
  Strong<Stream> window = Adopted<Stream>(new CStreamRangeStream(base, 5, 10));
  EXPECT_EQ(window->GetLength(), 10u);
  ASSERT_TRUE(window->Seek(4, STREAM_SEEK_BEGIN));
  char out[100] = {};
  EXPECT_EQ(window->Read(out, 100), 6u);
  EXPECT_EQ(std::string(out, 6), std::string(source + 9, 6));
  EXPECT_EQ(window->Tell(), 10u);
  EXPECT_EQ(base->Tell(), 15u);  // the source was sought to start + position and read there
  EXPECT_EQ(window->Read(out, 1), 0u);

  ASSERT_TRUE(window->Seek(-3, STREAM_SEEK_END));
  EXPECT_EQ(window->Tell(), 7u);
  ASSERT_TRUE(window->Seek(1, STREAM_SEEK_CURRENT));
  EXPECT_EQ(window->Tell(), 8u);
  EXPECT_FALSE(window->Seek(0, 3));
}

TEST(CrossCheckRangeStream, WriteThatWouldPassTheWindowWritesNothing) {
  char source[16];
  std::memset(source, '.', sizeof(source));
  Strong<Stream> base = Adopted<Stream>(
      new CMemoryStream(source, sizeof(source), CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE));
  Strong<Stream> window = Adopted<Stream>(new CStreamRangeStream(base, 2, 10));
  ASSERT_TRUE(window->Seek(8, STREAM_SEEK_BEGIN));
  EXPECT_EQ(window->Write("xyz", 3), 0u);
  EXPECT_EQ(std::string(source, 16), std::string(16, '.'));
  EXPECT_EQ(window->Write("xy", 2), 2u);
  EXPECT_EQ(std::string(source, 16), std::string(10, '.') + "xy" + std::string(4, '.'));
  EXPECT_EQ(window->Tell(), 10u);
}

TEST(CrossCheckMemoryStream, WritesAreAllOrNothingAndReadOnlyBlocksRefuseThem) {
  char block[8];
  std::memset(block, '-', sizeof(block));
  Strong<Stream> rw =
      Adopted<Stream>(new CMemoryStream(block, sizeof(block), CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE));
  ASSERT_TRUE(rw->Seek(5, STREAM_SEEK_BEGIN));
  EXPECT_EQ(rw->Write("abcd", 4), 0u);
  EXPECT_EQ(std::string(block, 8), "--------");
  EXPECT_EQ(rw->Tell(), 5u);
  EXPECT_EQ(rw->Write("abc", 3), 3u);
  EXPECT_EQ(std::string(block, 8), "-----abc");
  char out[4];
  EXPECT_EQ(rw->Read(out, 4), 0u);  // at the end
  ASSERT_TRUE(rw->Seek(-2, STREAM_SEEK_END));
  EXPECT_EQ(rw->Read(out, 4), 2u);
  EXPECT_EQ(std::string(out, 2), "bc");

  Strong<Stream> ro = Adopted<Stream>(new CMemoryStream(static_cast<const void*>(block), sizeof(block)));
  EXPECT_EQ(ro->Write("z", 1), 0u);
  EXPECT_EQ(block[0], '-');
  EXPECT_EQ(ro->Read(out, 1), 1u);
}

// A stream with no length of its own: the base measures by seeking to the end and back.
class Unmeasured : public Stream {
 public:
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  bool Seek(std::int64_t offset, std::uint32_t origin) override {
    seeks.push_back(origin);
    if (origin == STREAM_SEEK_BEGIN) position = static_cast<std::uint64_t>(offset);
    else if (origin == STREAM_SEEK_END) position = 77 + static_cast<std::uint64_t>(offset);
    else position += static_cast<std::uint64_t>(offset);
    return true;
  }
  std::uint64_t Tell() override { return position; }

  std::uint64_t position = 0;
  std::vector<std::uint32_t> seeks;
};

TEST(CrossCheckStreamBase, LengthIsMeasuredAtTheEndAndThePositionPutBack) {
  Strong<Unmeasured> stream = Adopted(new Unmeasured());
  stream->position = 12;
  EXPECT_EQ(stream->GetLength(), 77u);
  EXPECT_EQ(stream->position, 12u);
  EXPECT_EQ(stream->seeks, (std::vector<std::uint32_t>{STREAM_SEEK_END, STREAM_SEEK_BEGIN}));
  EXPECT_FALSE(stream->SetFileTime(0));
}

TEST(CrossCheckTextWriter, MarkOnlyAtPositionZero) {
  char block[32] = {};
  Strong<Stream> fresh =
      Adopted<Stream>(new CMemoryStream(block, 16, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE));
  CTextWriter writer(fresh);
  ASSERT_TRUE(writer.Write(u"\u00E9", 1));
  EXPECT_EQ(std::string(block), "\xEF\xBB\xBF\xC3\xA9");
  EXPECT_FALSE(writer.WriteBOM());  // no longer at the start

  char other[32] = {};
  other[0] = 'x';
  Strong<Stream> used =
      Adopted<Stream>(new CMemoryStream(other, 16, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE));
  ASSERT_TRUE(used->Seek(1, STREAM_SEEK_BEGIN));
  CTextWriter second(used);
  second.SetEncoding(CTextWriter::ENCODING_UTF16);
  ASSERT_TRUE(second.Write(u"ab", 2));
  EXPECT_EQ(std::string(other, 5), std::string("xa\0b\0", 5));
}

TEST(CrossCheckTextReader, StartsWhereTheStreamStandsAndSkipsOnlyTheMark) {
  const char bytes[] = "junk\xEF\xBB\xBFline one\r\nline two";
  Strong<Stream> in = Adopted<Stream>(new CMemoryStream(bytes, sizeof(bytes) - 1));
  ASSERT_TRUE(in->Seek(4, STREAM_SEEK_BEGIN));
  CTextReader reader(in);
  char16_t line[CTextReader::kLineCapacity];
  unsigned int length = 0;
  ASSERT_TRUE(reader.ReadLine(line, CTextReader::kLineCapacity, &length));
  EXPECT_EQ(std::u16string(line, length), u"line one");
  ASSERT_TRUE(reader.ReadLine(line, CTextReader::kLineCapacity, &length));
  EXPECT_EQ(std::u16string(line, length), u"line two");
  EXPECT_FALSE(reader.ReadLine(line, CTextReader::kLineCapacity, &length));
}

TEST(CrossCheckTextReader, CodePointsCombineRealPairsOnly) {
  const char16_t units[] = {0xFEFF, 0xD83D, 0xDE00, 0xD800, u'a', 0xDC00, 0xDBFF};
  std::vector<unsigned char> bytes;
  for (char16_t u : units) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  }
  Strong<Stream> in = Adopted<Stream>(new CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  CTextReader reader(in);
  EXPECT_EQ(reader.GetEncoding(), CTextReader::ENCODING_UTF16);
  std::vector<std::uint32_t> points;
  std::uint32_t cp = 0;
  while (reader.ReadCodePoint(&cp)) points.push_back(cp);
  EXPECT_EQ(points, (std::vector<std::uint32_t>{0x1F600, 0xD800, 'a', 0xDC00, 0xDBFF}));
}

}  // namespace
