// The small-block pool: blocks of every size are aligned, disjoint and writable whole; freed blocks
// come back first; blocks freed on another thread serve that thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "pool.h"

namespace {

struct Block {
  unsigned char* p;
  size_t n;
};

void Fill(const Block& b, unsigned char tag) { std::memset(b.p, tag, b.n); }

bool Holds(const Block& b, unsigned char tag) {
  for (size_t i = 0; i < b.n; ++i)
    if (b.p[i] != tag) return false;
  return true;
}

// No two live blocks overlap, and every one still holds what was written into it.
void ExpectDisjoint(std::vector<Block> blocks) {
  std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.p < b.p; });
  for (size_t i = 1; i < blocks.size(); ++i)
    ASSERT_LE(blocks[i - 1].p + blocks[i - 1].n, blocks[i].p) << "sizes " << blocks[i - 1].n << ", " << blocks[i].n;
}

TEST(Pool, EverySizeIsAlignedDisjointAndKeepsItsContents) {
  std::vector<Block> live;
  // Every size up to past the largest class, several of each, interleaved so that classes share chunks.
  for (int round = 0; round < 3; ++round)
    for (size_t n = 1; n <= bsq::kPoolLargest + 40; ++n) {
      Block b{static_cast<unsigned char*>(bsq::PoolAlloc(n)), n};
      ASSERT_EQ(reinterpret_cast<uintptr_t>(b.p) % alignof(std::max_align_t), 0u) << n;
      Fill(b, static_cast<unsigned char>(live.size()));
      live.push_back(b);
    }
  ExpectDisjoint(live);
  for (size_t i = 0; i < live.size(); ++i) ASSERT_TRUE(Holds(live[i], static_cast<unsigned char>(i))) << live[i].n;
  // Free every other block, allocate the same sizes again, and check all of them once more.
  std::vector<Block> kept;
  for (size_t i = 0; i < live.size(); ++i) {
    if (i % 2)
      bsq::PoolFree(live[i].p, live[i].n);
    else
      kept.push_back(live[i]);
  }
  for (size_t i = 1; i < live.size(); i += 2) {
    Block b{static_cast<unsigned char*>(bsq::PoolAlloc(live[i].n)), live[i].n};
    Fill(b, 0xA5);
    kept.push_back(b);
  }
  ExpectDisjoint(kept);
  for (const Block& b : kept) bsq::PoolFree(b.p, b.n);
}

TEST(Pool, ManyChunksOfOneClassStayDisjoint) {
  // Well past one chunk's worth for a small and a large class, with the chunk tails handed on.
  for (size_t n : {size_t(24), size_t(250), size_t(16), size_t(129)}) {
    std::vector<Block> live;
    for (int i = 0; i < 3000; ++i) {
      Block b{static_cast<unsigned char*>(bsq::PoolAlloc(n)), n};
      Fill(b, static_cast<unsigned char>(i));
      live.push_back(b);
    }
    ExpectDisjoint(live);
    for (size_t i = 0; i < live.size(); ++i) ASSERT_TRUE(Holds(live[i], static_cast<unsigned char>(i))) << n;
    for (const Block& b : live) bsq::PoolFree(b.p, b.n);
  }
}

TEST(Pool, AFreedBlockIsTheNextOfItsClass) {
#ifdef BSQ_POOL_BYPASS
  GTEST_SKIP() << "sanitizer builds give blocks to the global allocator";
#else
  for (size_t n : {size_t(1), size_t(16), size_t(17), size_t(100), bsq::kPoolLargest}) {
    void* a = bsq::PoolAlloc(n);
    void* b = bsq::PoolAlloc(n);
    bsq::PoolFree(a, n);
    bsq::PoolFree(b, n);
    EXPECT_EQ(bsq::PoolAlloc(n), b) << n;
    EXPECT_EQ(bsq::PoolAlloc(n), a) << n;
    // A size of the same class takes it too; one of another class does not.
    bsq::PoolFree(a, n);
    size_t sameClass = (n - 1) / bsq::kPoolGranule * bsq::kPoolGranule + 1;
    EXPECT_EQ(bsq::PoolAlloc(sameClass), a) << n;
    bsq::PoolFree(a, sameClass);
    void* other = bsq::PoolAlloc(n + bsq::kPoolGranule);
    EXPECT_NE(other, a) << n;
    bsq::PoolFree(other, n + bsq::kPoolGranule);
    bsq::PoolFree(b, n);
  }
#endif
}

TEST(Pool, BlocksFreedOnAnotherThreadServeIt) {
  constexpr int kCount = 5000;
  std::vector<Block> made;
  std::thread maker([&] {
    for (int i = 0; i < kCount; ++i) {
      size_t n = size_t(1 + (i * 37) % 300);
      Block b{static_cast<unsigned char*>(bsq::PoolAlloc(n)), n};
      Fill(b, static_cast<unsigned char>(i));
      made.push_back(b);
    }
  });
  maker.join();  // the maker's thread is gone; its blocks stay valid
  for (size_t i = 0; i < made.size(); ++i) ASSERT_TRUE(Holds(made[i], static_cast<unsigned char>(i)));
  std::vector<Block> again;
  std::thread user([&] {
    for (const Block& b : made) bsq::PoolFree(b.p, b.n);
    for (int i = 0; i < kCount; ++i) {
      size_t n = size_t(1 + (i * 53) % 300);
      Block b{static_cast<unsigned char*>(bsq::PoolAlloc(n)), n};
      Fill(b, static_cast<unsigned char>(i * 3));
      again.push_back(b);
    }
  });
  user.join();
  ExpectDisjoint(again);
  for (size_t i = 0; i < again.size(); ++i) ASSERT_TRUE(Holds(again[i], static_cast<unsigned char>(i * 3)));
  for (const Block& b : again) bsq::PoolFree(b.p, b.n);
}

}  // namespace
