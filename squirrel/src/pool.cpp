// Chunks for the small-block free lists (pool.h).
#include "pool.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace bsq {

namespace pool_detail {
thread_local constinit FreeBlock* t_heads[kPoolLargest / kPoolGranule] = {};
}  // namespace pool_detail

namespace {
constexpr size_t kChunkBytes = 16384;

// Each thread carves blocks of any class from its current chunk, so a class used a little costs
// little. The chunks stay listed for the process's lifetime: blocks of a thread that ended may still
// be in use elsewhere, and a listed chunk is not a leak.
thread_local constinit char* t_carve = nullptr;
thread_local constinit char* t_carveEnd = nullptr;

std::mutex& ChunksLock() {
  static std::mutex m;
  return m;
}
std::vector<void*>& Chunks() {
  static std::vector<void*>* chunks = new std::vector<void*>();
  return *chunks;
}
}  // namespace

void* PoolRefill(size_t sizeClass) {
  size_t size = (sizeClass + 1) * kPoolGranule;
  if (size_t(t_carveEnd - t_carve) < size) {
    // The rest of the old chunk goes to the free lists it fits, largest first, so nothing is lost.
    while (size_t(t_carveEnd - t_carve) >= kPoolGranule) {
      size_t c = std::min(size_t(t_carveEnd - t_carve), kPoolLargest) / kPoolGranule - 1;
      auto* b = reinterpret_cast<pool_detail::FreeBlock*>(t_carve);
      b->next = pool_detail::t_heads[c];
      pool_detail::t_heads[c] = b;
      t_carve += (c + 1) * kPoolGranule;
    }
    char* chunk = static_cast<char*>(::operator new(kChunkBytes));
    {
      std::lock_guard<std::mutex> hold(ChunksLock());
      try {
        Chunks().push_back(chunk);
      } catch (...) {
        ::operator delete(chunk);
        throw;
      }
    }
    t_carve = chunk;
    t_carveEnd = chunk + kChunkBytes;
  }
  void* block = t_carve;
  t_carve += size;
  return block;
}

}  // namespace bsq
