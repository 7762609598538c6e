// Two-thread cases of the paged loader and the resource table (this executable also runs under DRD).
#include <gtest/gtest.h>

#include <thread>

#include <engine/Texture.h>
#include <engine/Thread.h>

#include "ChunkFixtures.h"

using namespace Vexil3D;
using enginetest::Bytes;

namespace {

constexpr std::uint32_t kPage = CAsyncFileLoader::kPageSize;
constexpr std::uint32_t kTail = 100;

Bytes SourceBytes() {
  Bytes bytes(3 * kPage + kTail);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / kPage + i);
  return bytes;
}

Bytes Contents(Stream* stream) {
  Bytes bytes(static_cast<std::size_t>(stream->GetLength()));
  stream->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

TEST(Loader, SlotsHoldTheBytesReadAndStreamsOutliveReloadsAndTheLoader) {
  const Bytes source = SourceBytes();
  Strong<Stream> first, tail;
  {
    CAsyncFileLoader loader(enginetest::Over(source));
    ASSERT_EQ(loader.AddSlot(1, 1), 0u);
    ASSERT_EQ(loader.AddSlot(2, 5), 1u);  // runs past the end: only the bytes read count
    EXPECT_EQ(loader.AddSlot(0xFFFFFFFF, 0xFFFFFFFF), 2u);
    EXPECT_EQ(loader.GetStream(3), nullptr);
    EXPECT_FALSE(loader.Request(3));
    first.Attach(loader.GetStream(0));
    tail.Attach(loader.GetStream(1));
    ASSERT_TRUE(first && tail);
    EXPECT_TRUE(loader.Reload(0));
    Strong<Stream> huge;
    huge.Attach(loader.GetStream(2));
    EXPECT_EQ(huge, nullptr);
  }
  EXPECT_EQ(Contents(first), Bytes(source.begin() + kPage, source.begin() + 2 * kPage));
  EXPECT_EQ(Contents(tail), Bytes(source.begin() + 2 * kPage, source.end()));
}

TEST(Loader, TwoThreadsOnOneSlotAndTheWorker) {
  const Bytes source = SourceBytes();
  CAsyncFileLoader loader(enginetest::Over(source));
  for (std::uint32_t page = 0; page < 3; ++page) loader.AddSlot(page, 1);
  ASSERT_TRUE(loader.Start());
  EXPECT_TRUE(loader.Request(2));
  Strong<Stream> streams[2];
  std::thread other([&] { streams[1].Attach(loader.GetStream(1)); });
  streams[0].Attach(loader.GetStream(1));
  other.join();
  for (Strong<Stream>& stream : streams) {
    ASSERT_TRUE(stream);
    EXPECT_EQ(Contents(stream), Bytes(source.begin() + kPage, source.begin() + 2 * kPage));
  }
  Strong<Stream> requested;
  requested.Attach(loader.GetStream(2));  // loaded by the worker or now, whichever came first
  EXPECT_EQ(Contents(requested), Bytes(source.begin() + 2 * kPage, source.begin() + 3 * kPage));
}

TEST(Loader, DestructionJoinsAWaitingWorker) {
  const Bytes source = SourceBytes();
  auto loader = std::make_unique<CAsyncFileLoader>(enginetest::Over(source));
  loader->AddSlot(0, 1);
  ASSERT_TRUE(loader->Start());
  EXPECT_EQ(loader->AddSlot(1, 1), UINT32_MAX);  // the table is fixed once the worker runs
  loader.reset();
}

TEST(ResourceTableThreads, AddingAndFindingAtOnce) {
  constexpr int kEach = 200;
  CLockedResourceList list;
  auto add = [&](const char16_t* prefix) {
    for (int i = 0; i < kEach; ++i) {
      Strong<Texture> texture;
      texture.Attach(new Texture(0));
      texture->SetName(prefix + std::u16string(1, char16_t(u'a' + i % 26)));
      list.Add(texture);
      EXPECT_TRUE(list.Find(texture->GetName().c_str()));
    }
  };
  std::thread other(add, u"x");
  add(u"y");
  other.join();
  EXPECT_EQ(list.GetCount(), 2u * kEach);
  EXPECT_EQ(list.Clear(), 2u * kEach);
}

// A thread that waits on a gate, then on its exit event when told to, and ends.
struct GatedThread : Thread {
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool waitForExit = false;
  ~GatedThread() override {
    Stop();
    CloseHandle(gate);
  }
  DWORD Run() override {
    WaitForSingleObject(gate, INFINITE);
    if (waitForExit) WaitForSingleObject(GetExitEvent(), INFINITE);
    return 0;
  }
};

// Signalled exactly from the thread's end until the handle goes: not before Start, not while it runs (held
// at its gate, or waiting for its exit event), yes once it has returned, and no longer after Stop.
TEST(ThreadState, IsSignalledOnlyOnceTheThreadHasEnded) {
  for (const bool waitForExit : {false, true}) {
    SCOPED_TRACE(waitForExit ? "ended by Stop" : "ends by itself");
    GatedThread thread;
    thread.waitForExit = waitForExit;
    EXPECT_FALSE(thread.IsSignalled());
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());  // one thread at a time
    EXPECT_FALSE(thread.IsSignalled());
    SetEvent(thread.gate);
    if (waitForExit) {
      // Past its gate it waits for the exit event, so it still runs however long we look.
      for (int i = 0; i < 50; ++i) EXPECT_FALSE(thread.IsSignalled());
      thread.Stop();
    } else {
      bool ended = false;
      for (int i = 0; i < 10000 && !ended; ++i) {
        ended = thread.IsSignalled();
        if (!ended) Sleep(1);
      }
      EXPECT_TRUE(ended);
      EXPECT_TRUE(thread.IsSignalled());  // it stays signalled
      thread.Stop();
    }
    EXPECT_FALSE(thread.IsSignalled());
  }
}

}  // namespace
