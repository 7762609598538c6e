// Stream behaviour per class, checked case by case against what each class
// promises: seek origins and their bounds, truncation, windows that never spill,
// the copy loop and the messages of OpenStream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <base/Stream.h>
#include <base/TaskContext.h>

#include "StreamTestSupport.h"

namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

// A stream that can neither be read nor written, to reach OpenStream's refusals.
class ClosedStream : public CStream {
 public:
  ClosedStream(bool readable, bool writable) : readable_(readable), writable_(writable) {}
  bool Seek(std::int64_t, std::uint32_t) override { return true; }
  std::uint32_t Read(void*, std::uint32_t, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t, std::uint32_t) override { return 0; }
  bool GetPosition(std::uint64_t* position) override {
    *position = 0;
    return true;
  }
  bool Flush() override { return true; }
  bool Truncate() override { return false; }
  bool IsReadable() override { return readable_; }
  bool IsWritable() override { return writable_; }
  CStream* GetTarget() override { return this; }

 private:
  bool readable_;
  bool writable_;
};

// ---------------------------------------------------------------------------
// Seek bounds of the byte-array stream: positions are 32-bit and never wrap.

struct ByteArraySeekCase {
  const char* name;
  std::uint32_t startPosition;
  std::int64_t offset;
  std::uint32_t origin;
  bool succeeds;
  std::uint64_t position;  // afterwards
};

class CrossCheckByteArraySeek : public ::testing::TestWithParam<ByteArraySeekCase> {};

TEST_P(CrossCheckByteArraySeek, StaysWithin32Bits) {
  const ByteArraySeekCase& c = GetParam();
  std::vector<std::uint8_t> buffer(6, 0);
  StreamRef stream(new CByteArrayStream(buffer.data(), 6));
  ASSERT_TRUE(stream->Seek(c.startPosition, CStream::kSeekBegin));
  EXPECT_EQ(stream->Seek(c.offset, c.origin), c.succeeds);
  EXPECT_EQ(PositionOf(stream.get()), c.position);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, CrossCheckByteArraySeek,
    ::testing::Values(ByteArraySeekCase{"BeginLargest", 0, 0xFFFFFFFFll, 0, true, 0xFFFFFFFFull},
                      ByteArraySeekCase{"BeginBeyond32Bits", 3, 0x100000000ll, 0, false, 3},
                      ByteArraySeekCase{"BeginNegative", 3, -1, 0, false, 3},
                      ByteArraySeekCase{"CurrentBack", 4, -4, 1, true, 0},
                      ByteArraySeekCase{"CurrentBeforeStart", 4, -5, 1, false, 4},
                      ByteArraySeekCase{"CurrentPastLargest", 0xFFFFFFFFu, 1, 1, false, 0xFFFFFFFFull},
                      ByteArraySeekCase{"EndBack", 0, -2, 2, true, 4},
                      ByteArraySeekCase{"EndPast", 0, 10, 2, true, 16},
                      ByteArraySeekCase{"EndBeforeStart", 2, -7, 2, false, 2},
                      ByteArraySeekCase{"OtherOriginChangesNothing", 2, 1, 3, true, 2},
                      ByteArraySeekCase{"FarOtherOriginChangesNothing", 2, -100, 77, true, 2}),
    [](const ::testing::TestParamInfo<ByteArraySeekCase>& info) { return std::string(info.param.name); });

TEST(CrossCheckByteArray, WriteGrowsTheSizeOnlyToTheNewPosition) {
  std::vector<std::uint8_t> buffer(10, 'x');
  StreamRef stream(new CByteArrayStream(buffer.data(), 10));
  // Size starts at the given size; a write inside the data never shrinks it.
  ASSERT_TRUE(stream->Seek(2, 0));
  EXPECT_EQ(stream->Write("ab", 1, 2), 2u);
  EXPECT_EQ(stream->GetSize(true), 10u);
  // Truncating at the position ends the data there; writing goes on from there.
  EXPECT_TRUE(stream->Truncate());
  EXPECT_EQ(stream->GetSize(true), 4u);
  EXPECT_EQ(stream->Write("cd", 1, 2), 2u);
  EXPECT_EQ(stream->GetSize(true), 6u);
  // Elements of 4 with 4 bytes of capacity left: one whole element, never a part.
  EXPECT_EQ(stream->Write("0123456789", 4, 2), 1u);
  EXPECT_EQ(stream->GetSize(true), 10u);
  EXPECT_EQ(PositionOf(stream.get()), 10u);
  // At the capacity nothing more goes in.
  EXPECT_EQ(stream->Write("z", 1, 1), 0u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "xxabcd0123");
}

TEST(CrossCheckByteArray, TruncateAtIsBoundedByTheCapacity) {
  std::vector<std::uint8_t> buffer(8, 0);
  StreamRef stream(new CByteArrayStream(buffer.data(), 8));
  ASSERT_TRUE(stream->Seek(5, 0));
  EXPECT_TRUE(stream->TruncateAt(8, false));
  EXPECT_EQ(stream->GetSize(true), 8u);
  EXPECT_FALSE(stream->TruncateAt(9, false));
  EXPECT_FALSE(stream->TruncateAt(0x100000000ull, true));
  EXPECT_EQ(stream->GetSize(true), 8u);
  EXPECT_TRUE(stream->TruncateAt(3, true));
  EXPECT_EQ(stream->GetSize(true), 3u);
  // The stream stays usable: reading from position 5 of 3 bytes gives nothing.
  std::uint8_t byte = 0;
  EXPECT_EQ(stream->Read(&byte, 1, 1), 0u);
  // A position past the memory cannot become the end of the data.
  ASSERT_TRUE(stream->Seek(100, 0));
  EXPECT_FALSE(stream->Truncate());
  EXPECT_EQ(stream->GetSize(true), 3u);
}

// ---------------------------------------------------------------------------
// The window of a range stream.

TEST(CrossCheckRangeStream, SeekFromTheEndUsesTheLengthAndOtherOriginsChangeNothing) {
  std::vector<std::uint8_t> data = Bytes("0123456789abcdef");
  StreamRef inner(new CByteArrayStream(data.data(), std::uint32_t(data.size())));
  StreamRef range(new CStreamRangeStream(inner.get(), 4, 10));
  EXPECT_EQ(range->GetSize(false), 10u);
  ASSERT_TRUE(range->Seek(-3, 2));
  EXPECT_EQ(PositionOf(range.get()), 7u);
  char c = 0;
  ASSERT_EQ(range->Read(&c, 1, 1), 1u);
  EXPECT_EQ(c, 'b');  // inner byte 4 + 7
  EXPECT_FALSE(range->Seek(-12, 2));
  EXPECT_EQ(PositionOf(range.get()), 8u);
  EXPECT_TRUE(range->Seek(5, 3));
  EXPECT_EQ(PositionOf(range.get()), 8u);
  // The window's own position is no business of the inner stream.
  EXPECT_EQ(PositionOf(inner.get()), 0u);
}

TEST(CrossCheckRangeStream, WriteIsAllOrNothingWithinTheWindow) {
  std::vector<std::uint8_t> data = Bytes("..........");
  StreamRef inner(new CByteArrayStream(data.data(), 10));
  StreamRef range(new CStreamRangeStream(inner.get(), 2, 6));
  ASSERT_TRUE(range->Seek(2, 0));
  // Four bytes are left: two elements of 2 fit exactly, three do not fit at all.
  EXPECT_EQ(range->Write("ABCDEF", 2, 3), 0u);
  EXPECT_EQ(std::string(data.begin(), data.end()), "..........");
  EXPECT_EQ(PositionOf(range.get()), 2u);
  EXPECT_EQ(range->Write("ABCD", 2, 2), 2u);
  EXPECT_EQ(std::string(data.begin(), data.end()), "....ABCD..");
  EXPECT_EQ(PositionOf(range.get()), 6u);
  EXPECT_EQ(range->Write("Z", 1, 1), 0u);
  EXPECT_EQ(std::string(data.begin(), data.end()), "....ABCD..");
}

TEST(CrossCheckRangeStream, TruncationShrinksTheWindowOnly) {
  std::vector<std::uint8_t> data = Bytes("0123456789");
  StreamRef inner(new CByteArrayStream(data.data(), 10));
  StreamRef range(new CStreamRangeStream(inner.get(), 1, 8));
  EXPECT_FALSE(range->TruncateAt(9, true));
  EXPECT_EQ(range->GetSize(true), 8u);
  EXPECT_TRUE(range->TruncateAt(8, true));
  ASSERT_TRUE(range->Seek(5, 0));
  EXPECT_TRUE(range->Truncate());
  EXPECT_EQ(range->GetSize(true), 5u);
  // The bytes stay in the inner stream; only the window got shorter.
  EXPECT_EQ(inner->GetSize(true), 10u);
  ASSERT_TRUE(range->Seek(6, 0));
  EXPECT_FALSE(range->Truncate());
  EXPECT_EQ(range->GetSize(true), 5u);
}

// ---------------------------------------------------------------------------
// Views (CStreamStream).

TEST(CrossCheckStreamStream, EndIsTheInnerSizeAndTruncateKeepsTheInnerPosition) {
  std::vector<std::uint8_t> data = Bytes("0123456789");
  StreamRef inner(new CByteArrayStream(data.data(), 10));
  ASSERT_TRUE(inner->Seek(7, 0));
  StreamRef view(new CStreamStream(inner.get()));
  EXPECT_EQ(PositionOf(view.get()), 0u);
  ASSERT_TRUE(view->Seek(-4, 2));
  EXPECT_EQ(PositionOf(view.get()), 6u);
  EXPECT_EQ(view->GetSize(true), 10u);
  EXPECT_EQ(PositionOf(view.get()), 6u);
  EXPECT_TRUE(view->Seek(3, 5));
  EXPECT_EQ(PositionOf(view.get()), 6u);
  EXPECT_TRUE(view->Truncate());
  EXPECT_EQ(inner->GetSize(true), 6u);
  EXPECT_EQ(PositionOf(inner.get()), 7u);
  EXPECT_TRUE(view->TruncateAt(4, false));
  EXPECT_EQ(inner->GetSize(true), 4u);
  EXPECT_EQ(PositionOf(inner.get()), 7u);
  EXPECT_EQ(PositionOf(view.get()), 6u);
  EXPECT_EQ(view->GetTarget(), inner.get());
}

// ---------------------------------------------------------------------------
// Operations shared by every stream.

TEST(CrossCheckStreamShared, SaveLoadAndSavedSize) {
  std::vector<std::uint8_t> source = Bytes("payload");
  std::vector<std::uint8_t> target(16, 0);
  StreamRef from(new CByteArrayStream(source.data(), 7));
  StreamRef to(new CByteArrayStream(target.data(), 16));
  ASSERT_TRUE(to->TruncateAt(0, false));
  tTaskContext task;
  EXPECT_TRUE(from->SaveTo(&task, nullptr, to.get()));
  EXPECT_EQ(to->GetSize(true), 7u);
  EXPECT_EQ(std::string(target.begin(), target.begin() + 7), "payload");
  std::uint64_t size = 0;
  EXPECT_TRUE(from->GetSavedSize(&task, nullptr, &size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

struct OpenCase {
  const char* name;
  bool streamReadable, streamWritable;
  bool wantReadable, wantWritable;
  const char* message;  // null: a view is opened
};

class CrossCheckOpenStream : public ::testing::TestWithParam<OpenCase> {};

TEST_P(CrossCheckOpenStream, RefusesWithTheExactMessage) {
  const OpenCase& c = GetParam();
  StreamRef stream(new ClosedStream(c.streamReadable, c.streamWritable));
  tTaskContext task;
  CStream* opened = stream->OpenStream(&task, nullptr, c.wantReadable, c.wantWritable);
  if (c.message == nullptr) {
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->GetTarget(), stream.get());
    opened->Release();
    EXPECT_EQ(task.GetErrorCount(), 0u);
  } else {
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(task.GetErrors(), std::vector<std::string>{c.message});
  }
}

constexpr const char* kNotReadable = "An attempt was made to open a nonreadable stream as readable.";
constexpr const char* kNotWritable = "An attempt was made to open a nonwritable stream as writable.";

INSTANTIATE_TEST_SUITE_P(
    Requests, CrossCheckOpenStream,
    ::testing::Values(OpenCase{"ReadableOfNonreadable", false, true, true, false, kNotReadable},
                      OpenCase{"BothOfNeither", false, false, true, true, kNotReadable},
                      OpenCase{"WritableOfNonwritable", true, false, false, true, kNotWritable},
                      OpenCase{"NeitherOfNeither", false, false, false, false, nullptr},
                      OpenCase{"ReadableOfReadable", true, false, true, false, nullptr}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST(CrossCheckStreamShared, ReadOnlyFileStreamRefusesAWritableView) {
  TempDirectory directory;
  ASSERT_TRUE(directory.Valid());
  HANDLE file = directory.CreateWith("ro.bin", "abc", false);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, false));
  EXPECT_TRUE(stream->IsReadable());
  EXPECT_FALSE(stream->IsWritable());
  tTaskContext task;
  EXPECT_EQ(stream->OpenStream(&task, nullptr, true, true), nullptr);
  EXPECT_EQ(task.GetErrors(), std::vector<std::string>{kNotWritable});
  EXPECT_EQ(stream->Write("x", 1, 1), 0u);
}

TEST(CrossCheckStreamShared, FileStreamSeeksLikeTheHostPointer) {
  TempDirectory directory;
  ASSERT_TRUE(directory.Valid());
  HANDLE file = directory.CreateWith("seek.bin", "0123456789");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  StreamRef stream(new CWindowsFileStream(file, true));
  ASSERT_TRUE(stream->Seek(-3, 2));
  EXPECT_EQ(PositionOf(stream.get()), 7u);
  EXPECT_FALSE(stream->Seek(-8, 1));
  EXPECT_EQ(PositionOf(stream.get()), 7u);
  EXPECT_FALSE(stream->Seek(-11, 2));
  EXPECT_EQ(PositionOf(stream.get()), 7u);
  // Truncating at the position ends the file there, and the position stays.
  EXPECT_TRUE(stream->Truncate());
  EXPECT_EQ(stream->GetSize(true), 7u);
  EXPECT_EQ(PositionOf(stream.get()), 7u);
  EXPECT_TRUE(stream->TruncateAt(2, true));
  EXPECT_EQ(stream->GetSize(false), 2u);
  EXPECT_EQ(PositionOf(stream.get()), 7u);
  EXPECT_TRUE(stream->TruncateAt(1, false));
  EXPECT_EQ(PositionOf(stream.get()), 1u);
  EXPECT_TRUE(stream->Flush());
  EXPECT_EQ(stream->GetTarget(), stream.get());
}

}  // namespace
