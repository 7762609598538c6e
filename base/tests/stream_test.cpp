// Streams: behaviour every kind shares, references, copies, each class's bounds and sharing between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <base/Stream.h>

#include "stream_test_support.h"

namespace {

constexpr char kData[] = "0123456789abcdef";  // 16 bytes
constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kUnknownOrigins[] = {3, 4, 9};  // 3 is SEEK_DATA on the host: never passed through

// Reads up to count bytes; what was read, as text.
std::string ReadText(CStream* stream, std::uint32_t count) {
  std::string out(count, '\0');
  out.resize(stream->Read(out.data(), 1, count));
  return out;
}

std::string Text(const unsigned char* bytes, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

class StreamTest : public ::testing::Test {
 protected:
  // A writable file stream over a new file holding contents, at its start.
  CStream* File(const char* name, std::string_view contents) {
    HANDLE file = temp_.CreateWith(name, contents);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    return new CWindowsFileStream(file, true);
  }
  TempDirectory temp_;
};

// ---------------------------------------------------------------------------
// Behaviour every stream kind shares, over the same 16 bytes.

enum class Kind { ByteArray, File, View, Range };

class AnyStream : public StreamTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Valid());
    std::memcpy(bytes_, kData, 16);
    std::memset(wide_, '.', sizeof(wide_));
    std::memcpy(wide_ + 8, kData, 16);
    switch (GetParam()) {
      case Kind::ByteArray:
        stream_.stream = new CByteArrayStream(bytes_, 16);
        break;
      case Kind::File:
        stream_.stream = File("data.bin", std::string_view(kData, 16));
        break;
      case Kind::View:
        stream_.stream = new CStreamStream(StreamRef(new CByteArrayStream(bytes_, 16)).get());
        break;
      case Kind::Range:
        stream_.stream = new CStreamRangeStream(StreamRef(new CByteArrayStream(wide_, sizeof(wide_))).get(), 8, 16);
        break;
    }
  }
  unsigned char bytes_[16];
  unsigned char wide_[32];
  StreamRef stream_;
};

TEST_P(AnyStream, SeeksSizesAndReadsWholeElements) {
  CStream* s = stream_.get();
  ASSERT_TRUE(s->Seek(5, CStream::kSeekBegin));
  EXPECT_FALSE(s->Seek(-1, CStream::kSeekBegin));
  EXPECT_FALSE(s->Seek(-6, CStream::kSeekCurrent));
  EXPECT_FALSE(s->Seek(-17, CStream::kSeekEnd));
  EXPECT_FALSE(s->Seek(kMinI64, CStream::kSeekCurrent));
  EXPECT_EQ(PositionOf(s), 5u) << "a failed seek keeps the position";
  EXPECT_EQ(s->GetSize(true), 16u);
  std::uint64_t saved = 0;
  EXPECT_TRUE(s->GetSavedSize(nullptr, nullptr, &saved));
  EXPECT_EQ(saved, 16u);
  EXPECT_EQ(PositionOf(s), 5u) << "sizes keep the position";
  EXPECT_TRUE(s->Seek(-16, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(s), 0u);

  char buffer[20] = {};
  ASSERT_TRUE(s->Seek(10, CStream::kSeekBegin));
  EXPECT_EQ(s->Read(buffer, 4, 5), 1u) << "6 bytes left: one whole element";
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  ASSERT_TRUE(s->Seek(2, CStream::kSeekBegin));
  EXPECT_EQ(s->Read(buffer, 0, 8), 0u);
  EXPECT_EQ(s->Write(buffer, 0, 8), 0u);
  EXPECT_EQ(PositionOf(s), 2u) << "element size zero is rejected";
  // Past the end reads nothing; from there a skip back reads again.
  ASSERT_TRUE(s->Seek(100, CStream::kSeekBegin));
  EXPECT_EQ(ReadText(s, 4), "");
  EXPECT_EQ(PositionOf(s), 100u);
  ASSERT_TRUE(s->Skip(-90));
  EXPECT_EQ(ReadText(s, 4), "abcd");
  ASSERT_TRUE(s->Rewind());
  EXPECT_EQ(PositionOf(s), 0u);
}

TEST_P(AnyStream, WritesTruncatesAndOpensViews) {
  CStream* s = stream_.get();
  EXPECT_TRUE(s->IsReadable());
  EXPECT_TRUE(s->IsWritable());
  tTaskContext task;
  StreamRef view(s->OpenStream(&task, nullptr, true, true));
  ASSERT_NE(view.get(), nullptr);
  EXPECT_EQ(view->GetTarget(), s->GetTarget());
  ASSERT_TRUE(s->Seek(7, CStream::kSeekBegin));
  EXPECT_EQ(ReadText(view.get(), 3), "012");
  EXPECT_EQ(PositionOf(s), 7u) << "the view never moves the stream it reads";

  ASSERT_TRUE(s->Seek(4, CStream::kSeekBegin));
  EXPECT_EQ(s->Write("WXYZ", 2, 2), 2u);
  EXPECT_EQ(PositionOf(s), 8u);
  ASSERT_TRUE(s->Rewind());
  EXPECT_EQ(ReadText(s, 16), "0123WXYZ89abcdef");
  EXPECT_TRUE(s->Flush());

  ASSERT_TRUE(s->Seek(12, CStream::kSeekBegin));
  EXPECT_TRUE(s->TruncateAt(6, true));
  EXPECT_EQ(s->GetSize(true), 6u);
  EXPECT_EQ(PositionOf(s), 12u);
  ASSERT_TRUE(s->Seek(3, CStream::kSeekBegin));
  EXPECT_TRUE(s->Truncate());
  EXPECT_EQ(s->GetSize(true), 3u);
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

const char* const kKindNames[] = {"ByteArray", "File", "View", "Range"};
INSTANTIATE_TEST_SUITE_P(Kinds, AnyStream, ::testing::Values(Kind::ByteArray, Kind::File, Kind::View, Kind::Range),
                         [](const auto& info) { return std::string(kKindNames[static_cast<int>(info.param)]); });

// ---------------------------------------------------------------------------
// Reference counts, lifetimes and opened views

TEST(StreamReferences, TheLastReleaseFreesAndWrappersKeepTheirInnerStreamAlive) {
  static int released;
  released = 0;
  unsigned char buffer[16];
  std::memcpy(buffer, kData, 16);
  auto* inner = new CByteArrayStream(buffer, 16);
  inner->SetReleaseFunction([](void* b) {
    ++released;
    static_cast<unsigned char*>(b)[15] = 0xEE;  // called with the stream's own buffer
  });
  inner->AddRef();
  EXPECT_EQ(inner->Release(), 1);
  CStream* view = new CStreamStream(inner);
  CStream* range = new CStreamRangeStream(inner, 4, 8);
  EXPECT_EQ(inner->Release(), 2);  // the creator lets go
  EXPECT_EQ(ReadText(view, 4), "0123");
  EXPECT_EQ(ReadText(range, 8), "456789ab");
  EXPECT_EQ(view->Release(), 0);
  EXPECT_EQ(released, 0);
  range->Release();
  EXPECT_EQ(released, 1);
  EXPECT_EQ(buffer[15], 0xEE);
}

// A stream that can neither be read nor written, to reach OpenStream's refusal of a readable view.
class ClosedStream : public CStream {
 public:
  bool Seek(std::int64_t, std::uint32_t) override { return true; }
  std::uint32_t Read(void*, std::uint32_t, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t, std::uint32_t) override { return 0; }
  bool GetPosition(std::uint64_t* position) override { return *position = 0, true; }
  bool Flush() override { return true; }
  bool Truncate() override { return false; }
  bool IsReadable() override { return false; }
  bool IsWritable() override { return false; }
  CStream* GetTarget() override { return this; }
};

TEST_F(StreamTest, OpenStreamRefusesWhatTheStreamCannotDo) {
  HANDLE file = temp_.CreateWith("ro.bin", "abc", false);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, false));
  EXPECT_FALSE(stream->IsWritable());
  tTaskContext task;
  EXPECT_EQ(stream->OpenStream(&task, nullptr, false, true), nullptr);
  StreamRef view(stream->OpenStream(&task, nullptr, true, false));
  ASSERT_NE(view.get(), nullptr);
  EXPECT_FALSE(view->IsWritable());
  // A view of a view still names the file as the target.
  StreamRef nested(view->OpenStream(&task, nullptr, false, false));
  ASSERT_NE(nested.get(), nullptr);
  EXPECT_EQ(nested->GetTarget(), stream.get());

  StreamRef closed(new ClosedStream);
  EXPECT_EQ(closed->OpenStream(&task, nullptr, true, true), nullptr);
  StreamRef neither(closed->OpenStream(&task, nullptr, false, false));
  ASSERT_NE(neither.get(), nullptr);
  EXPECT_EQ(neither->GetTarget(), closed.get());
  EXPECT_EQ(task.GetErrors(),
            (std::vector<std::string>{"An attempt was made to open a nonwritable stream as writable.",
                                      "An attempt was made to open a nonreadable stream as readable."}));
}

// An object that is no stream but opens one over itself, or refuses to.
class Blob : public tStreamable {
 public:
  explicit Blob(bool refuse) : refuse_(refuse) { std::memcpy(data_, kData, 16); }
  CStream* OpenStream(tTaskContext* task, void*, bool, bool) override {
    if (refuse_) task->AddError("refused");
    return refuse_ ? nullptr : (++opened, new CByteArrayStream(data_, 16));
  }
  unsigned char data_[16];
  int opened = 0;

 private:
  bool refuse_;
};

TEST(Streamable, SavesLoadsAndSizesThroughItsOwnStream) {
  Blob blob(false);
  unsigned char target[32] = {};
  StreamRef destination(new CByteArrayStream(target, 32));
  ASSERT_TRUE(destination->TruncateAt(0, false));
  EXPECT_TRUE(blob.SaveTo(nullptr, nullptr, destination.get()));
  EXPECT_EQ(destination->GetSize(true), 16u);
  EXPECT_EQ(Text(target, 16), kData);
  unsigned char source[16];
  std::memset(source, 'q', 16);
  EXPECT_TRUE(blob.LoadFrom(nullptr, nullptr, StreamRef(new CByteArrayStream(source, 16)).get()));
  EXPECT_EQ(Text(blob.data_, 16), std::string(16, 'q'));
  std::uint64_t size = 0;
  EXPECT_TRUE(blob.GetSavedSize(nullptr, nullptr, &size));
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(blob.opened, 3);

  Blob refusing(true);
  tTaskContext task;
  size = 7;
  EXPECT_FALSE(refusing.SaveTo(&task, nullptr, nullptr));
  EXPECT_FALSE(refusing.LoadFrom(&task, nullptr, nullptr));
  EXPECT_FALSE(refusing.GetSavedSize(&task, nullptr, &size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(task.GetErrorCount(), 3u);
}

// ---------------------------------------------------------------------------
// Copying between streams

TEST_F(StreamTest, CopiesCarryEverythingAcrossChunksAndReportAShortWrite) {
  std::vector<unsigned char> source(40000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31 + 7);
  StreamRef to(File("copy.bin", ""));
  EXPECT_TRUE(to->LoadFrom(nullptr, nullptr, StreamRef(new CByteArrayStream(source.data(), 40000)).get()));
  EXPECT_EQ(to->GetSize(true), 40000u);
  // SaveTo is the same copy seen from the source.
  std::vector<unsigned char> memory(40000, 0);
  ASSERT_TRUE(to->Rewind());
  EXPECT_TRUE(to->SaveTo(nullptr, nullptr, StreamRef(new CByteArrayStream(memory.data(), 40000)).get()));
  EXPECT_EQ(memory, source);

  unsigned char small[100] = {};
  StreamRef shortTarget(new CByteArrayStream(small, sizeof(small)));
  EXPECT_FALSE(shortTarget->LoadFrom(nullptr, nullptr, StreamRef(new CByteArrayStream(source.data(), 200)).get()));
  EXPECT_EQ(shortTarget->GetSize(true), 100u);
  EXPECT_FALSE(shortTarget->LoadFrom(nullptr, nullptr, nullptr));
  EXPECT_FALSE(shortTarget->SaveTo(nullptr, nullptr, nullptr));
}

// ---------------------------------------------------------------------------
// CByteArrayStream

TEST(ByteArrayStream, WritesStopAtTheCapacityAndTruncateStaysInsideIt) {
  unsigned char data[10] = {};
  StreamRef stream(new CByteArrayStream(data, 10));
  ASSERT_TRUE(stream->TruncateAt(2, false));
  EXPECT_EQ(stream->GetSize(true), 2u);
  ASSERT_TRUE(stream->Seek(6, CStream::kSeekBegin));
  EXPECT_EQ(stream->Write("ABCDEFG", 3, 2), 1u);  // 4 bytes of room: one 3-byte element
  EXPECT_EQ(stream->GetSize(true), 9u);
  EXPECT_EQ(stream->Write("ABCDEFG", 1, 7), 1u);
  EXPECT_EQ(stream->Write("A", 1, 1), 0u);  // at the capacity
  ASSERT_TRUE(stream->Seek(50, CStream::kSeekBegin));
  EXPECT_EQ(stream->Write("A", 1, 1), 0u);  // past it
  EXPECT_EQ(Text(data + 6, 4), "ABCA");
  EXPECT_FALSE(stream->Truncate()) << "the data would end outside the memory";
  EXPECT_FALSE(stream->TruncateAt(11, true));
  EXPECT_FALSE(stream->TruncateAt(0x100000000ull, true));
  EXPECT_EQ(stream->GetSize(true), 10u);
  EXPECT_TRUE(stream->TruncateAt(10, false));
  EXPECT_TRUE(stream->TruncateAt(5, false));
  EXPECT_EQ(stream->GetSize(false), 5u);
}

TEST(ByteArrayStream, PositionsAndSizesNeverWrapAround32Bits) {
  unsigned char data[10];
  std::memcpy(data, kData, 10);
  StreamRef stream(new CByteArrayStream(data, 10));
  // 3 * 0x55555556 wraps to 2 in 32 bits: three whole elements fit.
  char out[10] = {};
  EXPECT_EQ(stream->Read(out, 3, 0x55555556u), 3u);
  EXPECT_EQ(std::string(out, 9), "012345678");
  ASSERT_TRUE(stream->Rewind());
  EXPECT_EQ(stream->Write("ABCDEFGHIJ", 5, 0x33333334u), 2u);  // 5 * count wraps to 4
  EXPECT_EQ(Text(data, 10), "ABCDEFGHIJ");
  EXPECT_EQ(stream->Read(out, 0x80000000u, 2), 0u);

  EXPECT_TRUE(stream->Seek(0xFFFFFFFFll, CStream::kSeekBegin));
  EXPECT_FALSE(stream->Skip(1));
  EXPECT_FALSE(stream->Seek(0x100000000ll, CStream::kSeekBegin));
  EXPECT_FALSE(stream->Seek(kMaxI64, CStream::kSeekCurrent));
  EXPECT_FALSE(stream->Seek(0xFFFFFFF6ll, CStream::kSeekEnd));  // 10 + that is 2^32
  EXPECT_FALSE(stream->Seek(kMaxI64, CStream::kSeekEnd));
  EXPECT_FALSE(stream->Seek(kMinI64, CStream::kSeekEnd));
  for (std::uint32_t origin : kUnknownOrigins) EXPECT_TRUE(stream->Seek(-100, origin)) << "changes nothing";
  EXPECT_EQ(PositionOf(stream.get()), 0xFFFFFFFFu);
  EXPECT_EQ(ReadText(stream.get(), 4), "");
  EXPECT_EQ(stream->Write("abcd", 1, 4), 0u);
  EXPECT_TRUE(stream->Seek(0xFFFFFFF5ll, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(stream.get()), 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------
// CStreamRangeStream and CStreamStream

TEST(RangeStream, StaysInsideItsWindowAndLeavesTheInnerPositionAlone) {
  unsigned char data[32];
  std::memcpy(data, "....ABCDEFGHIJ..................", 32);
  StreamRef inner(new CByteArrayStream(data, 32));
  StreamRef range(new CStreamRangeStream(inner.get(), 4, 10));
  ASSERT_TRUE(inner->Seek(30, CStream::kSeekBegin));
  char out[4];
  EXPECT_EQ(range->Read(out, 2, 2), 2u);
  EXPECT_EQ(std::string(out, 4), "ABCD");
  EXPECT_EQ(range->Write("wxyz", 2, 2), 2u);
  ASSERT_TRUE(range->Seek(8, CStream::kSeekBegin));
  EXPECT_EQ(range->Write("xyz", 1, 3), 0u) << "never spills over the window";
  EXPECT_EQ(PositionOf(range.get()), 8u);
  EXPECT_EQ(ReadText(range.get(), 3), "IJ");
  ASSERT_TRUE(range->Seek(8, CStream::kSeekBegin));
  EXPECT_EQ(range->Write("xy", 1, 2), 2u);
  EXPECT_EQ(range->Write("z", 1, 1), 0u);  // at the end
  EXPECT_EQ(Text(data + 4, 11), "ABCDwxyzxy.");
  EXPECT_EQ(PositionOf(inner.get()), 30u);

  ASSERT_TRUE(range->Seek(15, CStream::kSeekBegin));
  EXPECT_FALSE(range->Truncate()) << "past the length";
  EXPECT_FALSE(range->TruncateAt(11, false));
  EXPECT_TRUE(range->TruncateAt(10, false));
  EXPECT_EQ(range->GetSize(true), 10u);
  ASSERT_TRUE(range->Seek(4, CStream::kSeekBegin));
  EXPECT_TRUE(range->Truncate());
  EXPECT_EQ(range->GetSize(false), 4u);
  EXPECT_EQ(inner->GetSize(true), 32u) << "the inner stream keeps its bytes";
}

// Window positions the inner stream cannot reach read nothing; the end of a huge window lies beyond any position.
TEST(RangeStream, PositionsNeverWrap) {
  unsigned char data[8] = {};
  StreamRef inner(new CByteArrayStream(data, 8));
  StreamRef range(new CStreamRangeStream(inner.get(), ~0ull - 4, 100));
  EXPECT_EQ(ReadText(range.get(), 4), "");
  EXPECT_EQ(range->Write("abcd", 1, 4), 0u);
  EXPECT_EQ(PositionOf(range.get()), 0u);
  StreamRef huge(new CStreamRangeStream(inner.get(), 0, ~0ull));
  EXPECT_TRUE(huge->Seek(kMaxI64, CStream::kSeekBegin));
  EXPECT_FALSE(huge->Skip(1));
  EXPECT_FALSE(huge->Seek(0, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(huge.get()), std::uint64_t(kMaxI64));
}

TEST(StreamStream, SeekFromTheEndUsesTheInnerSizeAndPositionsNeverWrap) {
  unsigned char data[16];
  StreamRef inner(new CByteArrayStream(data, 16));
  StreamRef view(new CStreamStream(inner.get()));
  ASSERT_TRUE(view->Seek(-4, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(view.get()), 12u);
  EXPECT_TRUE(view->Seek(kMaxI64, CStream::kSeekBegin));
  EXPECT_FALSE(view->Skip(1));
  EXPECT_FALSE(view->Seek(kMaxI64, CStream::kSeekEnd));
  EXPECT_EQ(ReadText(view.get(), 2), "") << "the inner stream cannot go there";
  EXPECT_TRUE(view->Seek(1, 9));
  EXPECT_EQ(PositionOf(view.get()), std::uint64_t(kMaxI64));
}

TEST_F(StreamTest, ViewTruncatesTheInnerStreamAtItsOwnPosition) {
  StreamRef stream(File("t.bin", kData));
  ASSERT_TRUE(stream->Seek(2, CStream::kSeekBegin));
  StreamRef view(new CStreamStream(stream.get()));
  ASSERT_TRUE(view->Seek(10, CStream::kSeekBegin));
  EXPECT_TRUE(view->Truncate());
  EXPECT_EQ(stream->GetSize(true), 10u);
  EXPECT_TRUE(view->TruncateAt(7, false));
  EXPECT_EQ(stream->GetSize(true), 7u);
  EXPECT_EQ(PositionOf(view.get()), 10u);
  EXPECT_EQ(PositionOf(stream.get()), 2u);
}

// ---------------------------------------------------------------------------
// CWindowsFileStream

TEST_F(StreamTest, FileStreamReachesBeyondFourGiBSparsely) {
  StreamRef stream(File("sparse.bin", "head"));
  constexpr std::uint64_t kFiveGiB = 5ull << 30;
  ASSERT_TRUE(stream->Seek(kFiveGiB, CStream::kSeekBegin));
  ASSERT_EQ(stream->Write("tail", 4, 1), 1u);
  EXPECT_EQ(stream->GetSize(true), kFiveGiB + 4);
  EXPECT_EQ(PositionOf(stream.get()), kFiveGiB + 4);
  // A window over the far end reads it back; a view seeks from the end.
  EXPECT_EQ(ReadText(StreamRef(new CStreamRangeStream(stream.get(), kFiveGiB - 2, 6)).get(), 6),
            std::string("\0\0tail", 6));
  StreamRef view(new CStreamStream(stream.get()));
  ASSERT_TRUE(view->Seek(-4, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(view.get()), kFiveGiB);
  EXPECT_TRUE(stream->TruncateAt(kFiveGiB + 2, true));
  EXPECT_EQ(stream->GetSize(false), kFiveGiB + 2);
}

TEST_F(StreamTest, FileStreamStartsWhereTheHandleStandsAndRefusesUnknownOrigins) {
  HANDLE file = temp_.CreateWith("at.bin", kData);
  LARGE_INTEGER three;
  three.QuadPart = 3;
  ASSERT_TRUE(SetFilePointerEx(file, three, nullptr, FILE_BEGIN));
  StreamRef stream(new CWindowsFileStream(file, true));
  EXPECT_EQ(PositionOf(stream.get()), 3u);
  for (std::uint32_t origin : kUnknownOrigins) EXPECT_FALSE(stream->Seek(0, origin));
  EXPECT_EQ(ReadText(stream.get(), 2), "34");
  EXPECT_EQ(stream->GetTarget(), stream.get());
}

TEST_F(StreamTest, FailedFileReadKeepsThePositionForTheNextWrite) {
  CloseHandle(temp_.CreateWith("wo.bin", kData));
  const std::u16string path = temp_.WidePath("wo.bin");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  {
    StreamRef stream(new CWindowsFileStream(file, true));
    ASSERT_TRUE(stream->Seek(4, CStream::kSeekBegin));
    EXPECT_EQ(ReadText(stream.get(), 4), "");  // the handle cannot read
    EXPECT_EQ(PositionOf(stream.get()), 4u);
    EXPECT_EQ(stream->Write("WXYZ", 1, 4), 4u);
    EXPECT_EQ(PositionOf(stream.get()), 8u);
  }
  HANDLE check =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(check, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadText(StreamRef(new CWindowsFileStream(check, false)).get(), 20), "0123WXYZ89abcdef");
}

// ---------------------------------------------------------------------------
// Streams shared between threads: one deletion, views at their own positions, copies that never deadlock

std::atomic<int> g_destroyed{0};

struct CountedStream : CByteArrayStream {
  using CByteArrayStream::CByteArrayStream;
  ~CountedStream() override { ++g_destroyed; }
};

TEST(StreamThreads, ConcurrentReferencesEndInOneDeletion) {
  g_destroyed = 0;
  std::uint8_t buffer[4] = {};
  CStream* stream = new CountedStream(buffer, sizeof buffer);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([stream] {
      for (int i = 0; i < 5000; ++i) {
        stream->AddRef();
        (new CStreamStream(stream))->Release();  // a view takes and drops its own reference as well
        EXPECT_GE(stream->Release(), 1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_destroyed.load(), 0);
  EXPECT_EQ(stream->Release(), 0);
  EXPECT_EQ(g_destroyed.load(), 1);
}

TEST_F(StreamTest, OneViewWritesWhileAnotherReadsTheSameFile) {
  constexpr std::uint32_t kBlock = 512, kHalf = kBlock * 64;
  // The second half holds a known pattern for the reader; the writer fills the first half.
  std::string initial(kHalf * 2, '\0');
  for (std::size_t i = kHalf; i < initial.size(); ++i) initial[i] = static_cast<char>('a' + i % 26);
  StreamRef file(File("shared.bin", initial));
  StreamRef writerView(new CStreamStream(file.get())), readerView(new CStreamStream(file.get()));
  ASSERT_TRUE(readerView->Seek(kHalf, CStream::kSeekBegin));
  auto blockOf = [](std::uint32_t at) { return std::string(kBlock, static_cast<char>('A' + at / kBlock % 26)); };

  std::thread writer([&] {
    for (std::uint32_t at = 0; at < kHalf; at += kBlock)
      EXPECT_EQ(writerView->Write(blockOf(at).data(), kBlock, 1), 1u);
  });
  std::string seen;
  for (std::uint32_t at = 0; at < kHalf; at += kBlock) seen += ReadText(readerView.get(), kBlock);
  writer.join();

  EXPECT_EQ(seen, initial.substr(kHalf));
  EXPECT_EQ(PositionOf(writerView.get()), kHalf);
  EXPECT_EQ(PositionOf(file.get()), 0u) << "the views never move the file's own position";
  for (std::uint32_t at = 0; at < kHalf; at += kBlock) EXPECT_EQ(ReadText(file.get(), kBlock), blockOf(at));
}

// Runs both loops at once. Deadlocked threads cannot be joined: past a deadline that only a hang reaches, the test
// process ends.
void RunTogether(const std::function<void()>& first, const std::function<void()>& second) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread runner([&] {
    std::thread other(second);
    first();
    other.join();
    done.set_value();
  });
  if (finished.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    std::fprintf(stderr, "the two copies deadlocked\n");
    std::_Exit(EXIT_FAILURE);
  }
  runner.join();
}

TEST(StreamThreads, CopiesBetweenAWrapperAndItsStreamNeverDeadlock) {
  constexpr int kRounds = 2000;
  std::uint8_t innerBytes[64] = {}, otherBytes[64] = {};
  StreamRef inner(new CByteArrayStream(innerBytes, sizeof innerBytes));
  StreamRef other(new CByteArrayStream(otherBytes, sizeof otherBytes));
  StreamRef view(new CStreamStream(inner.get()));
  // The stream loads from its own wrapper while the wrapper reads on another thread.
  RunTogether(
      [&] {
        for (int i = 0; i < kRounds; ++i) inner->LoadFrom(nullptr, nullptr, view.get());
      },
      [&] {
        for (int i = 0; i < kRounds; ++i) {
          ReadText(view.get(), 1);
          view->Rewind();
        }
      });
  // Two streams copy into each other.
  auto copier = [](CStream* to, CStream* from) {
    return [to, from] {
      for (int i = 0; i < kRounds; ++i) {
        from->Rewind();
        to->LoadFrom(nullptr, nullptr, from);
      }
    };
  };
  RunTogether(copier(inner.get(), other.get()), copier(other.get(), inner.get()));
}

}  // namespace
