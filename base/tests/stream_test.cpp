// Streams: behaviour every kind shares, references, copies, each class's bounds and sharing between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <base/Stream.h>
#include <platform/files.h>

#include "file_system_test_support.h"

namespace {

constexpr char kData[] = "0123456789abcdef";  // 16 bytes
constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kUnknownOrigins[] = {3, 4, 9};  // 3 is SEEK_DATA on the host: never passed through

struct Releaser {
  void operator()(CStream* stream) const { stream->Release(); }
};
using Ref = std::unique_ptr<CStream, Releaser>;  // one reference for the test's scope
using Bytes = CByteArrayStream;

std::uint64_t PositionOf(CStream* stream) {
  std::uint64_t position = ~0ull;
  EXPECT_TRUE(stream->GetPosition(&position));
  return position;
}

std::string ReadText(CStream* stream, std::uint32_t count) {
  std::string out(count, '\0');
  out.resize(stream->Read(out.data(), 1, count));
  return out;
}

std::string Text(const void* bytes, std::size_t size) { return std::string(static_cast<const char*>(bytes), size); }

class StreamTest : public ::testing::Test {
 protected:
  // A file stream over a new host file holding contents, opened with the access given, at `at`.
  CStream* File(const char* name, const std::string& contents, DWORD access = GENERIC_READ | GENERIC_WRITE,
                std::int64_t at = 0) {
    root_.Write(name, contents);
    HANDLE file = CreateFileW(root_.WideSub(name).c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER offset{};
    offset.QuadPart = at;
    EXPECT_TRUE(SetFilePointerEx(file, offset, nullptr, FILE_BEGIN));
    return new CWindowsFileStream(file, (access & GENERIC_WRITE) != 0);
  }
  fstest::TempDir root_;
};

// Behaviour every stream kind shares, over the same 16 bytes.
enum class Kind { ByteArray, File, View, Range };
const char* const kKindNames[] = {"ByteArray", "File", "View", "Range"};

class AnyStream : public StreamTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    std::memcpy(bytes_, kData, 16), std::memset(wide_, '.', sizeof(wide_)), std::memcpy(wide_ + 8, kData, 16);
    const Kind kind = GetParam();
    stream_.reset(kind == Kind::ByteArray ? new Bytes(bytes_, 16)
                  : kind == Kind::File    ? File("data.bin", kData)
                  : kind == Kind::View    ? static_cast<CStream*>(new CStreamStream(Ref(new Bytes(bytes_, 16)).get()))
                                          : new CStreamRangeStream(Ref(new Bytes(wide_, sizeof(wide_))).get(), 8, 16));
  }
  unsigned char bytes_[16], wide_[32];
  Ref stream_;
};

TEST_P(AnyStream, SeeksReadsWritesTruncatesAndOpensViews) {
  CStream* s = stream_.get();
  ASSERT_TRUE(s->Seek(5, CStream::kSeekBegin));
  for (const auto& [offset, origin] : {std::pair{-1ll, CStream::kSeekBegin}, std::pair{-6ll, CStream::kSeekCurrent},
                                       std::pair{-17ll, CStream::kSeekEnd}, std::pair{kMinI64, CStream::kSeekCurrent}})
    EXPECT_FALSE(s->Seek(offset, origin)) << offset;
  std::uint64_t saved = 0;
  EXPECT_TRUE(s->GetSavedSize(nullptr, nullptr, &saved));
  EXPECT_EQ((std::tuple{s->GetSize(true), saved, PositionOf(s)}), (std::tuple{16u, 16u, 5u}))
      << "failed seeks and sizes keep the position";
  char buffer[20] = {};
  ASSERT_TRUE(s->Seek(-6, CStream::kSeekEnd));
  EXPECT_EQ(s->Read(buffer, 4, 5), 1u) << "6 bytes left: one whole element";
  ASSERT_TRUE(s->Seek(2, CStream::kSeekBegin));
  EXPECT_EQ((std::tuple{s->Read(buffer, 0, 8), s->Write(buffer, 0, 8), PositionOf(s)}), (std::tuple{0u, 0u, 2u}))
      << "element size zero is rejected";
  ASSERT_TRUE(s->Seek(100, CStream::kSeekBegin));  // past the end reads nothing; from there a skip back reads again
  EXPECT_EQ((std::tuple{ReadText(s, 4), s->Skip(-90), ReadText(s, 4)}), (std::tuple{"", true, "abcd"}));

  EXPECT_TRUE(s->IsReadable() && s->IsWritable());
  tTaskContext task;
  Ref view(s->OpenStream(&task, nullptr, true, true));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ((std::tuple{view->GetTarget(), ReadText(view.get(), 3), PositionOf(s)}),
            (std::tuple{s->GetTarget(), "012", 14u}))
      << "the view never moves the stream it reads";
  ASSERT_TRUE(s->Seek(4, CStream::kSeekBegin));
  EXPECT_EQ((std::tuple{s->Write("WXYZ", 2, 2), PositionOf(s)}), (std::tuple{2u, 8u}));
  EXPECT_EQ((std::tuple{s->Rewind(), ReadText(s, 16)}), (std::tuple{true, "0123WXYZ89abcdef"}));
  EXPECT_TRUE(s->Flush() && s->TruncateAt(6, true));
  EXPECT_EQ((std::tuple{s->GetSize(true), PositionOf(s)}), (std::tuple{6u, 16u}));
  EXPECT_TRUE(s->Seek(3, CStream::kSeekBegin) && s->Truncate() && s->GetSize(true) == 3);
  EXPECT_EQ(task.GetErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AnyStream, ::testing::Values(Kind::ByteArray, Kind::File, Kind::View, Kind::Range),
                         [](const auto& info) { return std::string(kKindNames[static_cast<int>(info.param)]); });

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

// A view of a view still names the file as the target.
TEST_F(StreamTest, OpenStreamRefusesWhatTheStreamCannotDo) {
  Ref stream(File("ro.bin", "abc", GENERIC_READ)), closed(new ClosedStream);
  tTaskContext task;
  EXPECT_EQ(stream->OpenStream(&task, nullptr, false, true), nullptr);
  Ref view(stream->OpenStream(&task, nullptr, true, false));
  ASSERT_NE(view, nullptr);
  Ref nested(view->OpenStream(&task, nullptr, false, false));
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ((std::tuple{view->IsWritable(), nested->GetTarget()}), (std::tuple{false, stream.get()}));
  EXPECT_EQ(closed->OpenStream(&task, nullptr, true, true), nullptr);
  Ref neither(closed->OpenStream(&task, nullptr, false, false));
  EXPECT_EQ(neither != nullptr ? neither->GetTarget() : nullptr, closed.get());
  EXPECT_EQ(task.GetErrors(),
            (std::vector<std::string>{"An attempt was made to open a nonwritable stream as writable.",
                                      "An attempt was made to open a nonreadable stream as readable."}));
}

// An object that is no stream but opens one over itself, or refuses to.
struct Blob : tStreamable {
  explicit Blob(bool refuse) : refuse(refuse) { std::memcpy(data, kData, 16); }
  CStream* OpenStream(tTaskContext* task, void*, bool, bool) override {
    if (refuse) task->AddError("refused");
    return refuse ? nullptr : (++opened, new Bytes(data, 16));
  }
  bool refuse;
  unsigned char data[16];
  int opened = 0;
};

TEST(Streamable, SavesLoadsAndSizesThroughItsOwnStream) {
  Blob blob(false), refusing(true);
  unsigned char target[32] = {}, source[16];
  Ref destination(new Bytes(target, 32));
  ASSERT_TRUE(destination->TruncateAt(0, false));
  EXPECT_TRUE(blob.SaveTo(nullptr, nullptr, destination.get()));
  EXPECT_EQ((std::tuple{destination->GetSize(true), Text(target, 16)}), (std::tuple{16u, kData}));
  std::memset(source, 'q', 16);
  std::uint64_t size = 0;
  EXPECT_TRUE(blob.LoadFrom(nullptr, nullptr, Ref(new Bytes(source, 16)).get()) &&
              blob.GetSavedSize(nullptr, nullptr, &size));
  EXPECT_EQ((std::tuple{Text(blob.data, 16), size, blob.opened}), (std::tuple{std::string(16, 'q'), 16u, 3}));
  tTaskContext task;
  EXPECT_FALSE(refusing.SaveTo(&task, nullptr, nullptr) || refusing.LoadFrom(&task, nullptr, nullptr) ||
               refusing.GetSavedSize(&task, nullptr, &size));
  EXPECT_EQ(std::pair(size, task.GetErrorCount()), std::pair(std::uint64_t{16}, 3u));
}

// SaveTo is LoadFrom seen from the source; a short write fails the copy.
TEST_F(StreamTest, CopiesCarryEverythingAcrossChunksAndReportAShortWrite) {
  std::vector<unsigned char> source(40000), memory(40000, 0);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31 + 7);
  Ref to(File("copy.bin", ""));
  EXPECT_TRUE(to->LoadFrom(nullptr, nullptr, Ref(new Bytes(source.data(), 40000)).get()) &&
              to->GetSize(true) == 40000u && to->Rewind() &&
              to->SaveTo(nullptr, nullptr, Ref(new Bytes(memory.data(), 40000)).get()));
  EXPECT_EQ(memory, source);
  Ref small(new Bytes(memory.data(), 100));
  EXPECT_FALSE(small->LoadFrom(nullptr, nullptr, Ref(new Bytes(source.data(), 200)).get()) ||
               small->GetSize(true) != 100 || small->LoadFrom(nullptr, nullptr, nullptr) ||
               small->SaveTo(nullptr, nullptr, nullptr));
}

// Writes stop at the capacity and truncation stays inside it; sizes and positions never wrap around 32 bits.
TEST(ByteArrayStream, WritesTruncatesAndPositionsStayInsideTheBuffer) {
  unsigned char data[10];
  std::memcpy(data, kData, 10);
  Ref stream(new Bytes(data, 10));
  char out[10] = {};
  EXPECT_EQ(stream->Read(out, 3, 0x55555556u), 3u) << "3 * count wraps to 2 in 32 bits";
  ASSERT_TRUE(stream->Rewind());
  EXPECT_EQ(stream->Write("ABCDEFGHIJ", 5, 0x33333334u), 2u) << "5 * count wraps to 4";
  EXPECT_EQ(stream->Read(out, 0x80000000u, 2), 0u);
  ASSERT_TRUE(stream->TruncateAt(2, false) && stream->Seek(6, CStream::kSeekBegin));
  // 4 bytes of room: one 3-byte element.
  EXPECT_EQ((std::tuple{stream->Write("abcdefg", 3, 2), stream->GetSize(true)}), (std::tuple{1u, 9u}));
  EXPECT_EQ(stream->Write("abcdefg", 1, 7) + stream->Write("a", 1, 1), 1u);  // then at the capacity
  EXPECT_EQ(Text(data, 10), "ABCDEFabca");
  EXPECT_FALSE(stream->TruncateAt(11, true) || stream->TruncateAt(0x100000000ull, true) ||
               !stream->TruncateAt(5, false));

  EXPECT_TRUE(stream->Seek(0xFFFFFFFFll, CStream::kSeekBegin));
  EXPECT_FALSE(stream->Truncate() || stream->Write("a", 1, 1) != 0) << "the data would end outside the memory";
  for (const auto& [offset, origin] :
       {std::pair{1ll, CStream::kSeekCurrent}, std::pair{0x100000000ll, CStream::kSeekBegin},
        std::pair{kMaxI64, CStream::kSeekCurrent}, std::pair{0xFFFFFFFBll, CStream::kSeekEnd},
        std::pair{kMaxI64, CStream::kSeekEnd}, std::pair{kMinI64, CStream::kSeekEnd}})
    EXPECT_FALSE(stream->Seek(offset, origin)) << offset;
  for (std::uint32_t origin : kUnknownOrigins) EXPECT_TRUE(stream->Seek(-100, origin)) << "changes nothing";
  EXPECT_TRUE(stream->Seek(0xFFFFFFFAll, CStream::kSeekEnd));
  EXPECT_EQ((std::tuple{PositionOf(stream.get()), stream->GetSize(false)}), (std::tuple{0xFFFFFFFFu, 5u}));
}

// A window never spills over, never shortens its inner stream and leaves the inner position alone; positions
// the inner stream cannot reach read nothing, and the end of a huge window lies beyond any position.
TEST(RangeStream, WindowsAndViewsStayInsideAndNeverWrap) {
  unsigned char data[32];
  std::memcpy(data, "....ABCDEFGHIJ..................", 32);
  Ref inner(new Bytes(data, 32)), range(new CStreamRangeStream(inner.get(), 4, 10));
  ASSERT_TRUE(inner->Seek(30, CStream::kSeekBegin));
  char out[4];
  EXPECT_EQ((std::tuple{range->Read(out, 2, 2), range->Write("wxyz", 2, 2)}), (std::tuple{2u, 2u}));
  ASSERT_TRUE(range->Seek(8, CStream::kSeekBegin));
  EXPECT_EQ((std::tuple{range->Write("xyz", 1, 3), ReadText(range.get(), 3)}), (std::tuple{0u, "IJ"}));
  ASSERT_TRUE(range->Seek(8, CStream::kSeekBegin));
  EXPECT_EQ(range->Write("xy", 1, 2) + range->Write("z", 1, 1), 2u);
  EXPECT_EQ((std::tuple{Text(data, 15), PositionOf(inner.get())}), (std::tuple{"....ABCDwxyzxy.", 30u}));
  ASSERT_TRUE(range->Seek(15, CStream::kSeekBegin));
  EXPECT_FALSE(range->Truncate() || range->TruncateAt(11, false)) << "past the length";
  EXPECT_TRUE(range->Seek(4, CStream::kSeekBegin) && range->TruncateAt(10, false) && range->Truncate());
  EXPECT_EQ((std::tuple{range->GetSize(false), inner->GetSize(true)}), (std::tuple{4u, 32u}));

  Ref unreachable(new CStreamRangeStream(inner.get(), ~0ull - 4, 100)),
      huge(new CStreamRangeStream(inner.get(), 0, ~0ull));
  EXPECT_EQ(
      (std::tuple{ReadText(unreachable.get(), 4), unreachable->Write("abcd", 1, 4), PositionOf(unreachable.get())}),
      (std::tuple{"", 0u, 0u}));
  EXPECT_TRUE(huge->Seek(kMaxI64, CStream::kSeekBegin));
  EXPECT_FALSE(huge->Skip(1) || huge->Seek(0, CStream::kSeekEnd) || PositionOf(huge.get()) != std::uint64_t(kMaxI64));
  // A view seeks from the end by the inner size; its positions never wrap.
  Ref view(new CStreamStream(inner.get()));
  EXPECT_TRUE(view->Seek(-4, CStream::kSeekEnd) && PositionOf(view.get()) == 28u);
  EXPECT_TRUE(view->Seek(kMaxI64, CStream::kSeekBegin));
  EXPECT_FALSE(view->Skip(1) || view->Seek(kMaxI64, CStream::kSeekEnd));
  EXPECT_EQ(ReadText(view.get(), 2), "") << "the inner stream cannot go there";
  EXPECT_TRUE(view->Seek(1, 9) && PositionOf(view.get()) == std::uint64_t(kMaxI64));
}

// Positions beyond 4 GiB in a sparse file, through a window and a view too.
TEST_F(StreamTest, FileStreamReachesBeyondFourGiB) {
  Ref stream(File("sparse.bin", "head")), view(new CStreamStream(stream.get()));
  constexpr std::uint64_t kFiveGiB = 5ull << 30;
  ASSERT_TRUE(stream->Seek(kFiveGiB, CStream::kSeekBegin));
  ASSERT_EQ(stream->Write("tail", 4, 1), 1u);
  EXPECT_EQ((std::tuple{stream->GetSize(true), PositionOf(stream.get())}), (std::tuple{kFiveGiB + 4, kFiveGiB + 4}));
  EXPECT_EQ(ReadText(Ref(new CStreamRangeStream(stream.get(), kFiveGiB - 2, 6)).get(), 6), std::string("\0\0tail", 6));
  EXPECT_TRUE(view->Seek(-4, CStream::kSeekEnd) && PositionOf(view.get()) == kFiveGiB &&
              stream->TruncateAt(kFiveGiB + 2, true) && stream->GetSize(false) == kFiveGiB + 2);
}

// A file stream starts where the handle stands; a failed read keeps the position for the next write.
TEST_F(StreamTest, FileStreamStartsWhereTheHandleStandsAndRefusesUnknownOrigins) {
  Ref at(File("at.bin", kData, GENERIC_READ, 3));
  EXPECT_EQ(PositionOf(at.get()), 3u);
  for (std::uint32_t origin : kUnknownOrigins) EXPECT_FALSE(at->Seek(0, origin));
  EXPECT_EQ((std::tuple{ReadText(at.get(), 2), at->GetTarget()}), (std::tuple{"34", at.get()}));
  Ref stream(File("wo.bin", kData, GENERIC_WRITE, 4));
  EXPECT_EQ(ReadText(stream.get(), 4), "");  // the handle cannot read
  EXPECT_EQ((std::tuple{PositionOf(stream.get()), stream->Write("WXYZ", 1, 4), PositionOf(stream.get())}),
            (std::tuple{4u, 4u, 8u}));
  stream.reset();
  EXPECT_EQ(root_.Read("wo.bin"), "0123WXYZ89abcdef");
}

// Runs both at once. Deadlocked threads cannot be joined: past a deadline only a hang reaches, the process ends.
void RunTogether(const std::function<void()>& first, const std::function<void()>& second) {
  auto both = std::async(std::launch::async, [&] { std::thread other(second); first(), other.join(); });
  if (both.wait_for(std::chrono::seconds(60)) != std::future_status::ready)
    std::fprintf(stderr, "the two loops deadlocked\n"), std::_Exit(EXIT_FAILURE);
}

std::atomic<int> g_destroyed{0};
struct CountedStream : Bytes {
  using Bytes::Bytes;
  ~CountedStream() override { ++g_destroyed; }
};

// References taken and dropped on four threads, a view's own included, end in one deletion.
TEST(StreamThreads, ConcurrentReferencesEndInOneDeletion) {
  std::uint8_t buffer[4] = {};
  CStream* stream = new CountedStream(buffer, sizeof buffer);
  auto churn = [stream] {
    for (int i = 0; i < 5000; ++i) {
      stream->AddRef(), (new CStreamStream(stream))->Release();
      EXPECT_GE(stream->Release(), 1);
    }
  };
  RunTogether([&] { RunTogether(churn, churn); }, [&] { RunTogether(churn, churn); });
  EXPECT_EQ((std::tuple{g_destroyed.load(), stream->Release(), g_destroyed.load()}), (std::tuple{0, 0, 1}));
}

// One view writes the first half of a file while another reads the second; neither moves the file's own position.
TEST_F(StreamTest, OneViewWritesWhileAnotherReadsTheSameFile) {
  constexpr std::uint32_t kBlock = 512, kHalf = kBlock * 64;
  std::string initial(kHalf * 2, '\0'), seen;
  for (std::size_t i = kHalf; i < initial.size(); ++i) initial[i] = static_cast<char>('a' + i % 26);
  Ref file(File("shared.bin", initial)), writer(new CStreamStream(file.get())), reader(new CStreamStream(file.get()));
  ASSERT_TRUE(reader->Seek(kHalf, CStream::kSeekBegin));
  auto blockOf = [](std::uint32_t at) { return std::string(kBlock, static_cast<char>('A' + at / kBlock % 26)); };
  RunTogether(
      [&] {
        for (std::uint32_t at = 0; at < kHalf; at += kBlock)
          EXPECT_EQ(writer->Write(blockOf(at).data(), kBlock, 1), 1u);
      },
      [&] {
        for (std::uint32_t at = 0; at < kHalf; at += kBlock) seen += ReadText(reader.get(), kBlock);
      });
  EXPECT_EQ((std::tuple{seen == initial.substr(kHalf), PositionOf(writer.get()), PositionOf(file.get())}),
            (std::tuple{true, kHalf, 0u}));
  for (std::uint32_t at = 0; at < kHalf; at += kBlock) EXPECT_EQ(ReadText(file.get(), kBlock), blockOf(at));
}

// The stream loads from its own wrapper while the wrapper reads on another thread; two streams copy into each other.
TEST(StreamThreads, CopiesBetweenAWrapperAndItsStreamNeverDeadlock) {
  std::uint8_t innerBytes[64] = {}, otherBytes[64] = {};
  Ref inner(new Bytes(innerBytes, 64)), other(new Bytes(otherBytes, 64)), view(new CStreamStream(inner.get()));
  auto copier = [](CStream* to, CStream* from) {
    return [to, from] {
      for (int i = 0; i < 2000; ++i) from->Rewind(), to->LoadFrom(nullptr, nullptr, from);
    };
  };
  RunTogether(copier(inner.get(), view.get()), copier(other.get(), view.get()));
  RunTogether(copier(inner.get(), other.get()), copier(other.get(), inner.get()));
}

}  // namespace
