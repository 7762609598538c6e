// Streams shared between threads: references taken and dropped concurrently end
// in exactly one deletion, and views that write and read one file at the same
// time each see whole operations at their own positions, and copies between a
// wrapper and what it wraps never deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <base/Stream.h>

#include "StreamTestSupport.h"

namespace {

std::atomic<int> g_destroyed{0};

class CountedStream : public CByteArrayStream {
 public:
  CountedStream(void* buffer, std::uint32_t size) : CByteArrayStream(buffer, size) {}
  ~CountedStream() override { ++g_destroyed; }
};

TEST(CrossCheckStreamThreads, ConcurrentReferencesEndInOneDeletion) {
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

TEST(CrossCheckStreamThreads, OneViewWritesWhileAnotherReadsTheSameFile) {
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

TEST(CrossCheckStreamThreads, CopiesBetweenAWrapperAndItsStreamNeverDeadlock) {
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
