#pragma once
// Small blocks for the VM's objects: tables, closures, arrays and cells come and go by the million in
// scripts that make garbage, and a free list per size class hands them out and takes them back in a
// few instructions. A freed block stays with the thread that frees it, for any later allocation of its
// size class on that thread; the chunks it was carved from are never returned.
#include <cstddef>

namespace bsq {

constexpr size_t kPoolGranule = 16;
constexpr size_t kPoolLargest = 256;  // larger blocks come from the global allocator

void* PoolRefill(size_t sizeClass);

namespace pool_detail {
struct FreeBlock {
  FreeBlock* next;
};
extern thread_local constinit FreeBlock* t_heads[kPoolLargest / kPoolGranule];
}  // namespace pool_detail

// Sanitizer builds give every block to the global allocator, so that a use after free or a leaked
// object is still reported where it happens.
#if defined(__SANITIZE_ADDRESS__)
#define BSQ_POOL_BYPASS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BSQ_POOL_BYPASS 1
#endif
#endif

inline void* PoolAlloc(size_t n) {
#ifndef BSQ_POOL_BYPASS
  if (n - 1 < kPoolLargest) {
    size_t c = (n - 1) / kPoolGranule;
    pool_detail::FreeBlock* b = pool_detail::t_heads[c];
    if (b) [[likely]] {
      pool_detail::t_heads[c] = b->next;
      return b;
    }
    return PoolRefill(c);
  }
#endif
  return ::operator new(n);
}

// `n` is the size the block was allocated with.
inline void PoolFree(void* p, size_t n) {
#ifndef BSQ_POOL_BYPASS
  if (n - 1 < kPoolLargest) {
    size_t c = (n - 1) / kPoolGranule;
    auto* b = static_cast<pool_detail::FreeBlock*>(p);
    b->next = pool_detail::t_heads[c];
    pool_detail::t_heads[c] = b;
    return;
  }
#else
  (void)n;
#endif
  ::operator delete(p);
}

}  // namespace bsq
