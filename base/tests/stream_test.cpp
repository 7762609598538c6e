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
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <base/Stream.h>

#include "stream_test_support.h"

namespace {

constexpr char kData[] = "0123456789abcdef";  // 16 bytes
constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();

// ---------------------------------------------------------------------------
// Behaviour every stream kind shares, over the same 16 bytes.

enum class Kind { ByteArray, File, View, Range };

class AnyStream : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Valid());
    std::memcpy(bytes_, kData, 16);
    std::memset(wide_, '.', sizeof(wide_));
    std::memcpy(wide_ + 8, kData, 16);
    switch (GetParam()) {
      case Kind::ByteArray:
        stream_ = new CByteArrayStream(bytes_, 16);
        break;
      case Kind::File: {
        HANDLE file = temp_.CreateWith("data.bin", std::string_view(kData, 16));
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        stream_ = new CWindowsFileStream(file, true);
        break;
      }
      case Kind::View: {
        auto* inner = new CByteArrayStream(bytes_, 16);
        stream_ = new CStreamStream(inner);
        inner->Release();
        break;
      }
      case Kind::Range: {
        auto* inner = new CByteArrayStream(wide_, sizeof(wide_));
        stream_ = new CStreamRangeStream(inner, 8, 16);
        inner->Release();
        break;
      }
    }
  }
  void TearDown() override {
    if (stream_ != nullptr) stream_->Release();
  }

  TempDirectory temp_;
  unsigned char bytes_[16];
  unsigned char wide_[32];
  CStream* stream_ = nullptr;
};

TEST_P(AnyStream, NegativeSeekFailsAndKeepsThePosition) {
  ASSERT_TRUE(stream_->Seek(5, CStream::kSeekBegin));
  EXPECT_FALSE(stream_->Seek(-1, CStream::kSeekBegin));
  EXPECT_FALSE(stream_->Seek(-6, CStream::kSeekCurrent));
  EXPECT_FALSE(stream_->Seek(-17, CStream::kSeekEnd));
  EXPECT_FALSE(stream_->Seek(kMinI64, CStream::kSeekCurrent));
  EXPECT_EQ(PositionOf(stream_), 5u);
  EXPECT_TRUE(stream_->Seek(-16, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(stream_), 0u);
}

TEST_P(AnyStream, GetSizeKeepsThePosition) {
  ASSERT_TRUE(stream_->Seek(3, CStream::kSeekBegin));
  EXPECT_EQ(stream_->GetSize(true), 16u);
  EXPECT_EQ(PositionOf(stream_), 3u);
  std::uint64_t saved = 0;
  EXPECT_TRUE(stream_->GetSavedSize(nullptr, nullptr, &saved));
  EXPECT_EQ(saved, 16u);
  EXPECT_EQ(PositionOf(stream_), 3u);
}

TEST_P(AnyStream, ReadsCountWholeElementsOnly) {
  ASSERT_TRUE(stream_->Seek(10, CStream::kSeekBegin));
  char buffer[20] = {};
  EXPECT_EQ(stream_->Read(buffer, 4, 5), 1u);  // 6 bytes left
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

TEST_P(AnyStream, ElementSizeZeroIsRejected) {
  ASSERT_TRUE(stream_->Seek(2, CStream::kSeekBegin));
  char buffer[16] = {};
  EXPECT_EQ(stream_->Read(buffer, 0, 8), 0u);
  EXPECT_EQ(stream_->Write(buffer, 0, 8), 0u);
  EXPECT_EQ(PositionOf(stream_), 2u);
  EXPECT_EQ(stream_->GetSize(true), 16u);
}

TEST_P(AnyStream, SeekingPastTheEndIsAllowedAndReadsNothing) {
  ASSERT_TRUE(stream_->Seek(100, CStream::kSeekBegin));
  char buffer[4];
  EXPECT_EQ(stream_->Read(buffer, 1, 4), 0u);
  EXPECT_EQ(PositionOf(stream_), 100u);
  ASSERT_TRUE(stream_->Skip(-90));
  EXPECT_EQ(stream_->Read(buffer, 1, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  ASSERT_TRUE(stream_->Rewind());
  EXPECT_EQ(PositionOf(stream_), 0u);
}

TEST_P(AnyStream, WriteThenReadBack) {
  ASSERT_TRUE(stream_->Seek(4, CStream::kSeekBegin));
  EXPECT_EQ(stream_->Write("WXYZ", 2, 2), 2u);
  EXPECT_EQ(PositionOf(stream_), 8u);
  ASSERT_TRUE(stream_->Rewind());
  char buffer[16];
  ASSERT_EQ(stream_->Read(buffer, 1, 16), 16u);
  EXPECT_EQ(std::string(buffer, 16), "0123WXYZ89abcdef");
  EXPECT_TRUE(stream_->Flush());
}

TEST_P(AnyStream, TruncateAtShortensAndKeepsThePositionWhenAsked) {
  ASSERT_TRUE(stream_->Seek(12, CStream::kSeekBegin));
  EXPECT_TRUE(stream_->TruncateAt(6, true));
  EXPECT_EQ(stream_->GetSize(true), 6u);
  EXPECT_EQ(PositionOf(stream_), 12u);
  ASSERT_TRUE(stream_->Seek(3, CStream::kSeekBegin));
  EXPECT_TRUE(stream_->Truncate());
  EXPECT_EQ(stream_->GetSize(true), 3u);
}

TEST_P(AnyStream, ReadableWritableAndOpenedViews) {
  EXPECT_TRUE(stream_->IsReadable());
  EXPECT_TRUE(stream_->IsWritable());
  tTaskContext task;
  CStream* view = stream_->OpenStream(&task, nullptr, true, true);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(task.GetErrorCount(), 0u);
  EXPECT_EQ(view->GetTarget(), stream_->GetTarget());
  ASSERT_TRUE(stream_->Seek(7, CStream::kSeekBegin));
  char buffer[3];
  EXPECT_EQ(view->Read(buffer, 1, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "012");
  EXPECT_EQ(PositionOf(stream_), 7u);  // the view never moves the stream it reads
  view->Release();
}

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  static const char* kNames[] = {"ByteArray", "File", "View", "Range"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Kinds, AnyStream, ::testing::Values(Kind::ByteArray, Kind::File, Kind::View, Kind::Range),
                         KindName);

// ---------------------------------------------------------------------------
// Reference counts and lifetimes

TEST(StreamReferences, ReleaseReturnsTheCountAndTheLastOneDeletes) {
  static int released = 0;
  released = 0;
  unsigned char buffer[4] = {};
  auto* stream = new CByteArrayStream(buffer, 4);
  stream->SetReleaseFunction([](void* b) {
    ++released;
    static_cast<unsigned char*>(b)[0] = 0xEE;
  });
  stream->AddRef();
  EXPECT_EQ(stream->Release(), 1);
  EXPECT_EQ(released, 0);
  EXPECT_EQ(stream->Release(), 0);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(buffer[0], 0xEE);  // called with the stream's own buffer
}

TEST(StreamReferences, WrapperKeepsItsInnerStreamAlive) {
  static int released = 0;
  released = 0;
  unsigned char buffer[16];
  std::memcpy(buffer, kData, 16);
  auto* inner = new CByteArrayStream(buffer, 16);
  inner->SetReleaseFunction([](void*) { ++released; });
  CStream* view = new CStreamStream(inner);
  CStream* range = new CStreamRangeStream(inner, 4, 8);
  inner->Release();  // the creator lets go
  EXPECT_EQ(released, 0);
  char out[8];
  ASSERT_EQ(view->Read(out, 1, 4), 4u);
  EXPECT_EQ(std::string(out, 4), "0123");
  ASSERT_EQ(range->Read(out, 1, 8), 8u);
  EXPECT_EQ(std::string(out, 8), "456789ab");
  view->Release();
  EXPECT_EQ(released, 0);
  range->Release();
  EXPECT_EQ(released, 1);
}

TEST(StreamReferences, OpenStreamRefusesWhatTheStreamCannotDo) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  HANDLE file = temp.CreateWith("ro.bin", "abc", false);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, false));
  EXPECT_TRUE(stream->IsReadable());
  EXPECT_FALSE(stream->IsWritable());
  tTaskContext task;
  EXPECT_EQ(stream->OpenStream(&task, nullptr, false, true), nullptr);
  EXPECT_EQ(task.GetErrors(),
            (std::vector<std::string>{"An attempt was made to open a nonwritable stream as writable."}));
  StreamRef view(stream->OpenStream(&task, nullptr, true, false));
  ASSERT_NE(view.get(), nullptr);
  EXPECT_FALSE(view->IsWritable());
  EXPECT_EQ(view->GetTarget(), stream.get());
  // A view of a view still names the file as the target.
  StreamRef nested(view->OpenStream(&task, nullptr, false, false));
  ASSERT_NE(nested.get(), nullptr);
  EXPECT_EQ(nested->GetTarget(), stream.get());
  EXPECT_EQ(task.GetErrorCount(), 1u);
}

// A stream that can neither be read nor written, to reach OpenStream's refusal of a readable view.
class ClosedStream : public CStream {
 public:
  bool Seek(std::int64_t, std::uint32_t) override { return true; }
  std::uint32_t Read(void*, std::uint32_t, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t, std::uint32_t) override { return 0; }
  bool GetPosition(std::uint64_t* position) override {
    *position = 0;
    return true;
  }
  bool Flush() override { return true; }
  bool Truncate() override { return false; }
  bool IsReadable() override { return false; }
  bool IsWritable() override { return false; }
  CStream* GetTarget() override { return this; }
};

TEST(StreamReferences, OpenStreamRefusesAReadableViewOfANonreadableStream) {
  StreamRef stream(new ClosedStream);
  tTaskContext task;
  EXPECT_EQ(stream->OpenStream(&task, nullptr, true, true), nullptr);
  EXPECT_EQ(task.GetErrors(),
            (std::vector<std::string>{"An attempt was made to open a nonreadable stream as readable."}));
  StreamRef neither(stream->OpenStream(&task, nullptr, false, false));
  ASSERT_NE(neither.get(), nullptr);
  EXPECT_EQ(neither->GetTarget(), stream.get());
}

// An object that is no stream but opens one over itself.
class Blob : public tStreamable {
 public:
  explicit Blob(bool refuse) : refuse_(refuse) { std::memcpy(data_, kData, 16); }
  CStream* OpenStream(tTaskContext* task, void*, bool, bool) override {
    if (refuse_) {
      if (task != nullptr) task->AddError("refused");
      return nullptr;
    }
    ++opened;
    return new CByteArrayStream(data_, 16);
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
  EXPECT_EQ(std::memcmp(target, kData, 16), 0);

  unsigned char source[16];
  std::memset(source, 'q', 16);
  StreamRef from(new CByteArrayStream(source, 16));
  EXPECT_TRUE(blob.LoadFrom(nullptr, nullptr, from.get()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(blob.data_), 16), std::string(16, 'q'));

  std::uint64_t size = 0;
  EXPECT_TRUE(blob.GetSavedSize(nullptr, nullptr, &size));
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(blob.opened, 3);
}

TEST(Streamable, NoStreamMeansFailure) {
  Blob blob(true);
  tTaskContext task;
  std::uint64_t size = 7;
  EXPECT_FALSE(blob.SaveTo(&task, nullptr, nullptr));
  EXPECT_FALSE(blob.LoadFrom(&task, nullptr, nullptr));
  EXPECT_FALSE(blob.GetSavedSize(&task, nullptr, &size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(task.GetErrorCount(), 3u);
}

// ---------------------------------------------------------------------------
// Copying between streams

TEST(StreamCopy, LoadFromCopiesEverythingAcrossChunks) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  std::vector<unsigned char> source(40000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31 + 7);
  StreamRef from(new CByteArrayStream(source.data(), std::uint32_t(source.size())));
  HANDLE file = temp.CreateWith("copy.bin", "");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef to(new CWindowsFileStream(file, true));
  EXPECT_TRUE(to->LoadFrom(nullptr, nullptr, from.get()));
  EXPECT_EQ(to->GetSize(true), 40000u);
  ASSERT_TRUE(to->Rewind());
  std::vector<unsigned char> back(40000);
  ASSERT_EQ(to->Read(back.data(), 1, 40000), 40000u);
  EXPECT_EQ(back, source);

  // SaveTo is the same copy seen from the source.
  std::vector<unsigned char> memory(40000, 0);
  StreamRef again(new CByteArrayStream(memory.data(), 40000));
  ASSERT_TRUE(to->Rewind());
  EXPECT_TRUE(to->SaveTo(nullptr, nullptr, again.get()));
  EXPECT_EQ(memory, source);
}

TEST(StreamCopy, LoadFromReportsAShortWrite) {
  unsigned char source[200];
  std::memset(source, 'x', sizeof(source));
  unsigned char small[100] = {};
  StreamRef from(new CByteArrayStream(source, sizeof(source)));
  StreamRef to(new CByteArrayStream(small, sizeof(small)));
  EXPECT_FALSE(to->LoadFrom(nullptr, nullptr, from.get()));
  EXPECT_EQ(to->GetSize(true), 100u);
  EXPECT_FALSE(to->LoadFrom(nullptr, nullptr, nullptr));
  EXPECT_FALSE(to->SaveTo(nullptr, nullptr, nullptr));
}

// ---------------------------------------------------------------------------
// CByteArrayStream

TEST(ByteArrayStream, WriteStopsAtTheCapacityAndGrowsTheSize) {
  unsigned char data[10] = {};
  StreamRef stream(new CByteArrayStream(data, 10));
  ASSERT_TRUE(stream->TruncateAt(2, false));
  EXPECT_EQ(stream->GetSize(true), 2u);
  ASSERT_TRUE(stream->Seek(6, CStream::kSeekBegin));
  EXPECT_EQ(stream->Write("ABCDEFG", 3, 2), 1u);  // 4 bytes of room: one 3-byte element
  EXPECT_EQ(stream->GetSize(true), 9u);
  EXPECT_EQ(stream->Write("ABCDEFG", 1, 7), 1u);
  EXPECT_EQ(stream->GetSize(true), 10u);
  EXPECT_EQ(stream->Write("A", 1, 1), 0u);  // at the capacity
  ASSERT_TRUE(stream->Seek(50, CStream::kSeekBegin));
  EXPECT_EQ(stream->Write("A", 1, 1), 0u);  // past it
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 6), 4), "ABCA");
}

TEST(ByteArrayStream, TruncateBeyondTheBufferFailsAndTheStreamStaysUsable) {
  unsigned char data[8];
  std::memcpy(data, kData, 8);
  StreamRef stream(new CByteArrayStream(data, 8));
  EXPECT_FALSE(stream->TruncateAt(9, true));
  EXPECT_FALSE(stream->TruncateAt(0x100000000ull, true));
  ASSERT_TRUE(stream->Seek(20, CStream::kSeekBegin));
  // The data would end outside the memory: refused.
  EXPECT_FALSE(stream->Truncate());
  EXPECT_EQ(stream->GetSize(true), 8u);
  ASSERT_TRUE(stream->Rewind());
  char out[8];
  EXPECT_EQ(stream->Read(out, 1, 8), 8u);
  EXPECT_TRUE(stream->TruncateAt(8, false));
  EXPECT_TRUE(stream->TruncateAt(5, false));
  EXPECT_EQ(stream->GetSize(false), 5u);
}

TEST(ByteArrayStream, PositionsNeverWrapAround32Bits) {
  unsigned char data[16];
  StreamRef stream(new CByteArrayStream(data, 16));
  EXPECT_TRUE(stream->Seek(0xFFFFFFFFll, CStream::kSeekBegin));
  EXPECT_FALSE(stream->Skip(1));
  EXPECT_EQ(PositionOf(stream.get()), 0xFFFFFFFFu);
  EXPECT_FALSE(stream->Seek(0x100000000ll, CStream::kSeekBegin));
  EXPECT_FALSE(stream->Seek(kMaxI64, CStream::kSeekCurrent));
  EXPECT_FALSE(stream->Seek(0xFFFFFFF0ll, CStream::kSeekEnd));  // 16 + that is 2^32
  EXPECT_FALSE(stream->Seek(kMaxI64, CStream::kSeekEnd));
  EXPECT_FALSE(stream->Seek(kMinI64, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(stream.get()), 0xFFFFFFFFu);
  char out[4];
  EXPECT_EQ(stream->Read(out, 1, 4), 0u);
  EXPECT_EQ(stream->Write("abcd", 1, 4), 0u);
  EXPECT_TRUE(stream->Seek(0xFFFFFFEFll, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(stream.get()), 0xFFFFFFFFu);
}

TEST(ByteArrayStream, ElementCountTimesSizeNeverWraps) {
  unsigned char data[10];
  std::memcpy(data, kData, 10);
  StreamRef stream(new CByteArrayStream(data, 10));
  char out[10] = {};
  // 3 * 0x55555556 wraps to 2 in 32 bits; three whole elements fit.
  EXPECT_EQ(stream->Read(out, 3, 0x55555556u), 3u);
  EXPECT_EQ(std::string(out, 9), "012345678");
  ASSERT_TRUE(stream->Rewind());
  EXPECT_EQ(stream->Write("ABCDEFGHIJ", 5, 0x33333334u), 2u);  // 5 * count wraps to 4
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 10), "ABCDEFGHIJ");
  EXPECT_EQ(stream->Read(out, 0x80000000u, 2), 0u);
}

TEST(ByteArrayStream, OtherOriginsChangeNothing) {
  unsigned char data[4];
  StreamRef stream(new CByteArrayStream(data, 4));
  ASSERT_TRUE(stream->Seek(2, CStream::kSeekBegin));
  EXPECT_TRUE(stream->Seek(1, 3));
  EXPECT_TRUE(stream->Seek(-100, 4));
  EXPECT_EQ(PositionOf(stream.get()), 2u);
}

// ---------------------------------------------------------------------------
// CStreamRangeStream

class RangeStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(data_, "................................", 32);
    std::memcpy(data_ + 4, "ABCDEFGHIJ", 10);
    inner_ = new CByteArrayStream(data_, 32);
    range_ = new CStreamRangeStream(inner_, 4, 10);
  }
  void TearDown() override {
    range_->Release();
    inner_->Release();
  }
  unsigned char data_[32];
  CStream* inner_ = nullptr;
  CStream* range_ = nullptr;
};

TEST_F(RangeStreamTest, WriteNeverSpillsOverTheWindowNorShortens) {
  ASSERT_TRUE(range_->Seek(8, CStream::kSeekBegin));
  EXPECT_EQ(range_->Write("xyz", 1, 3), 0u);
  EXPECT_EQ(data_[14], '.');
  EXPECT_EQ(PositionOf(range_), 8u);
  char out[3] = {};
  EXPECT_EQ(range_->Read(out, 1, 3), 2u);
  EXPECT_EQ(std::string(out, 2), "IJ");
  ASSERT_TRUE(range_->Seek(8, CStream::kSeekBegin));
  EXPECT_EQ(range_->Write("xy", 1, 2), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data_ + 12), 3), "xy.");
  EXPECT_EQ(range_->Write("z", 1, 1), 0u);  // at the end
}

TEST_F(RangeStreamTest, ReadAndWriteLeaveTheInnerPositionAlone) {
  ASSERT_TRUE(inner_->Seek(30, CStream::kSeekBegin));
  char out[4];
  EXPECT_EQ(range_->Read(out, 2, 2), 2u);
  EXPECT_EQ(std::string(out, 4), "ABCD");
  EXPECT_EQ(range_->Write("wxyz", 2, 2), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data_ + 4), 10), "ABCDwxyzIJ");
  EXPECT_EQ(PositionOf(inner_), 30u);
}

TEST_F(RangeStreamTest, TruncatePastTheLengthFails) {
  ASSERT_TRUE(range_->Seek(15, CStream::kSeekBegin));
  EXPECT_FALSE(range_->Truncate());
  EXPECT_EQ(range_->GetSize(true), 10u);
  char out[10];
  ASSERT_TRUE(range_->Seek(-2, CStream::kSeekEnd));
  EXPECT_EQ(range_->Read(out, 1, 10), 2u);  // window unchanged
  EXPECT_FALSE(range_->TruncateAt(11, false));
  EXPECT_TRUE(range_->TruncateAt(10, false));
  ASSERT_TRUE(range_->Seek(4, CStream::kSeekBegin));
  EXPECT_TRUE(range_->Truncate());
  EXPECT_EQ(range_->GetSize(false), 4u);
  EXPECT_EQ(inner_->GetSize(true), 32u);  // the inner stream keeps its bytes
}

TEST(RangeStream, WindowPositionsThatCannotBeReachedReadNothing) {
  unsigned char data[8] = {};
  StreamRef inner(new CByteArrayStream(data, 8));
  StreamRef range(new CStreamRangeStream(inner.get(), ~0ull - 4, 100));
  char out[4];
  EXPECT_EQ(range->Read(out, 1, 4), 0u);
  EXPECT_EQ(range->Write("abcd", 1, 4), 0u);
  EXPECT_EQ(PositionOf(range.get()), 0u);
  StreamRef huge(new CStreamRangeStream(inner.get(), 0, ~0ull));
  EXPECT_TRUE(huge->Seek(kMaxI64, CStream::kSeekBegin));
  EXPECT_FALSE(huge->Skip(1));
  EXPECT_FALSE(huge->Seek(0, CStream::kSeekEnd));  // the end lies beyond any position
  EXPECT_EQ(PositionOf(huge.get()), std::uint64_t(kMaxI64));
}

// ---------------------------------------------------------------------------
// CStreamStream

TEST(StreamStream, SeekFromTheEndUsesTheInnerSizeAndPositionsNeverWrap) {
  unsigned char data[16];
  StreamRef inner(new CByteArrayStream(data, 16));
  StreamRef view(new CStreamStream(inner.get()));
  ASSERT_TRUE(view->Seek(-4, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(view.get()), 12u);
  EXPECT_TRUE(view->Seek(kMaxI64, CStream::kSeekBegin));
  EXPECT_FALSE(view->Skip(1));
  EXPECT_FALSE(view->Seek(kMaxI64, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(view.get()), std::uint64_t(kMaxI64));
  char out[2];
  EXPECT_EQ(view->Read(out, 1, 2), 0u);  // the inner stream cannot go there
  EXPECT_EQ(PositionOf(view.get()), std::uint64_t(kMaxI64));
  EXPECT_TRUE(view->Seek(1, 9));
  EXPECT_EQ(PositionOf(view.get()), std::uint64_t(kMaxI64));
}

TEST(StreamStream, TruncateEndsTheInnerStreamAtTheViewsPosition) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  HANDLE file = temp.CreateWith("t.bin", kData);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, true));
  ASSERT_TRUE(stream->Seek(2, CStream::kSeekBegin));
  StreamRef view(new CStreamStream(stream.get()));
  ASSERT_TRUE(view->Seek(10, CStream::kSeekBegin));
  EXPECT_TRUE(view->Truncate());
  EXPECT_EQ(stream->GetSize(true), 10u);
  EXPECT_EQ(PositionOf(stream.get()), 2u);
  EXPECT_TRUE(view->TruncateAt(7, false));
  EXPECT_EQ(stream->GetSize(true), 7u);
  EXPECT_EQ(PositionOf(view.get()), 10u);
  EXPECT_EQ(PositionOf(stream.get()), 2u);
}

// ---------------------------------------------------------------------------
// CWindowsFileStream

TEST(WindowsFileStream, SparseFileBeyondFourGiB) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  HANDLE file = temp.CreateWith("sparse.bin", "head");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, true));
  constexpr std::int64_t kFiveGiB = 5ll << 30;
  ASSERT_TRUE(stream->Seek(kFiveGiB, CStream::kSeekBegin));
  EXPECT_EQ(PositionOf(stream.get()), std::uint64_t(kFiveGiB));
  ASSERT_EQ(stream->Write("tail", 4, 1), 1u);
  EXPECT_EQ(stream->GetSize(true), std::uint64_t(kFiveGiB) + 4);
  EXPECT_EQ(PositionOf(stream.get()), std::uint64_t(kFiveGiB) + 4);
  // A window over the far end reads it back; a view seeks from the end.
  StreamRef range(new CStreamRangeStream(stream.get(), kFiveGiB - 2, 6));
  char out[6];
  ASSERT_EQ(range->Read(out, 1, 6), 6u);
  EXPECT_EQ(std::string(out, 6), std::string("\0\0tail", 6));
  StreamRef view(new CStreamStream(stream.get()));
  ASSERT_TRUE(view->Seek(-4, CStream::kSeekEnd));
  EXPECT_EQ(PositionOf(view.get()), std::uint64_t(kFiveGiB));
  EXPECT_TRUE(stream->TruncateAt(std::uint64_t(kFiveGiB) + 2, true));
  EXPECT_EQ(stream->GetSize(false), std::uint64_t(kFiveGiB) + 2);
}

TEST(WindowsFileStream, UnknownOriginsAreRefused) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  HANDLE file = temp.CreateWith("o.bin", "abcdefg");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, true));
  ASSERT_TRUE(stream->Seek(3, CStream::kSeekBegin));
  EXPECT_FALSE(stream->Seek(0, 3));  // SEEK_DATA on the host: never passed through
  EXPECT_FALSE(stream->Seek(0, 4));
  EXPECT_EQ(PositionOf(stream.get()), 3u);
  EXPECT_EQ(stream->GetTarget(), stream.get());
}

TEST(WindowsFileStream, StartsWhereTheHandleStands) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  HANDLE file = temp.CreateWith("at.bin", kData);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER three;
  three.QuadPart = 3;
  ASSERT_TRUE(SetFilePointerEx(file, three, nullptr, FILE_BEGIN));
  StreamRef stream(new CWindowsFileStream(file, true));
  EXPECT_EQ(PositionOf(stream.get()), 3u);
  char out[2];
  ASSERT_EQ(stream->Read(out, 1, 2), 2u);
  EXPECT_EQ(std::string(out, 2), "34");
}

TEST(WindowsFileStream, FailedReadKeepsThePositionForTheNextWrite) {
  TempDirectory temp;
  ASSERT_TRUE(temp.Valid());
  HANDLE made = temp.CreateWith("wo.bin", kData);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  const std::u16string path = temp.WidePath("wo.bin");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  {
    StreamRef stream(new CWindowsFileStream(file, true));
    ASSERT_TRUE(stream->Seek(4, CStream::kSeekBegin));
    char out[4];
    EXPECT_EQ(stream->Read(out, 1, 4), 0u);  // the handle cannot read
    EXPECT_EQ(PositionOf(stream.get()), 4u);
    EXPECT_EQ(stream->Write("WXYZ", 1, 4), 4u);
    EXPECT_EQ(PositionOf(stream.get()), 8u);
    EXPECT_EQ(stream->GetSize(true), 16u);
  }
  HANDLE check = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(check, INVALID_HANDLE_VALUE);
  StreamRef readBack(new CWindowsFileStream(check, false));
  char all[16];
  ASSERT_EQ(readBack->Read(all, 1, 16), 16u);
  EXPECT_EQ(std::string(all, 16), "0123WXYZ89abcdef");
}

// ---------------------------------------------------------------------------
// Streams shared between threads: one deletion, views at their own positions, copies that never deadlock

std::atomic<int> g_destroyed{0};

class CountedStream : public CByteArrayStream {
 public:
  CountedStream(void* buffer, std::uint32_t size) : CByteArrayStream(buffer, size) {}
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
        // A view takes and drops its own reference as well.
        CStream* view = new CStreamStream(stream);
        view->Release();
        EXPECT_GE(stream->Release(), 1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_destroyed.load(), 0);
  EXPECT_EQ(stream->Release(), 0);
  EXPECT_EQ(g_destroyed.load(), 1);
}

TEST(StreamThreads, OneViewWritesWhileAnotherReadsTheSameFile) {
  TempDirectory directory;
  ASSERT_TRUE(directory.Valid());
  constexpr std::uint32_t kBlock = 512;
  constexpr int kBlocks = 64;
  // The second half holds a known pattern for the reader; the writer fills the first half.
  std::string initial(kBlock * kBlocks * 2, '\0');
  for (std::size_t i = kBlock * kBlocks; i < initial.size(); ++i) initial[i] = static_cast<char>('a' + i % 26);
  HANDLE handle = directory.CreateWith("shared.bin", initial);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  StreamRef file(new CWindowsFileStream(handle, true));
  StreamRef writerView(new CStreamStream(file.get()));
  StreamRef readerView(new CStreamStream(file.get()));
  ASSERT_TRUE(readerView->Seek(kBlock * kBlocks, 0));

  std::thread writer([&] {
    std::string block(kBlock, '\0');
    for (int b = 0; b < kBlocks; ++b) {
      block.assign(kBlock, static_cast<char>('A' + b % 26));
      EXPECT_EQ(writerView->Write(block.data(), kBlock, 1), 1u);
    }
  });
  std::string seen;
  std::vector<char> block(kBlock);
  for (int b = 0; b < kBlocks; ++b) {
    ASSERT_EQ(readerView->Read(block.data(), 1, kBlock), kBlock);
    seen.append(block.data(), kBlock);
  }
  writer.join();

  EXPECT_EQ(seen, initial.substr(kBlock * kBlocks));
  EXPECT_EQ(PositionOf(writerView.get()), std::uint64_t{kBlock} * kBlocks);
  EXPECT_EQ(PositionOf(file.get()), 0u) << "the views never move the file's own position";
  ASSERT_TRUE(file->Rewind());
  std::vector<char> written(kBlock * kBlocks);
  ASSERT_EQ(file->Read(written.data(), 1, std::uint32_t(written.size())), written.size());
  for (int b = 0; b < kBlocks; ++b)
    EXPECT_EQ(std::string(written.data() + b * kBlock, kBlock), std::string(kBlock, static_cast<char>('A' + b % 26)));
}

// Runs both loops at once. Deadlocked threads cannot be joined: past a deadline that only a hang
// reaches, the test process ends.
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
        std::uint8_t byte;
        for (int i = 0; i < kRounds; ++i) {
          view->Read(&byte, 1, 1);
          view->Rewind();
        }
      });
  // Two streams copy into each other.
  RunTogether(
      [&] {
        for (int i = 0; i < kRounds; ++i) {
          other->Rewind();
          inner->LoadFrom(nullptr, nullptr, other.get());
        }
      },
      [&] {
        for (int i = 0; i < kRounds; ++i) {
          inner->Rewind();
          other->LoadFrom(nullptr, nullptr, inner.get());
        }
      });
}

}  // namespace
