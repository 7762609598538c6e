#pragma once
// NameHashTable: values keyed by the 32-bit HashName of a name, in 64 buckets, with an ordered list of every
// entry in order of addition. Lookups compare hashes only; entries of equal hash stand one behind the other.
//
// Errors: none; a failed allocation throws std::bad_alloc. The table never releases or frees its values:
// whoever put a value in drops its own reference when the entry goes.
// Locking: none; the game's main thread alone uses a table.
#include <cstdint>

#include <hack/List.h>

class NameHashTable {
 public:
  static constexpr std::uint32_t kBucketCount = 64;
  static constexpr std::uint32_t kBucketMask = kBucketCount - 1;

  struct tBucket;
  // One entry's node in its bucket; the entry's node in the ordered list holds this node as its record.
  struct tNode {
    tBucket* m_pList;
    tNode* m_pPrevious;
    tNode* m_pNext;
    ListNode* m_pOrdered;
    std::uint32_t m_Hash;
    void* m_pValue;
  };
  struct tBucket {
    tNode* m_pHead = nullptr;
    tNode* m_pTail = nullptr;
    std::uint32_t m_Count = 0;
  };

  NameHashTable() = default;
  // Removes every entry (values untouched).
  ~NameHashTable();
  NameHashTable(const NameHashTable&) = delete;
  NameHashTable& operator=(const NameHashTable&) = delete;

  // Appends an entry behind any of equal hash, and at the end of the ordered list.
  tNode* Add(std::uint32_t hash, void* value);
  // The first entry added with this hash, or null.
  tNode* Find(std::uint32_t hash) const {
    for (tNode* node = m_buckets[hash & kBucketMask].m_pHead; node != nullptr; node = node->m_pNext) {
      if (node->m_Hash == hash) return node;
    }
    return nullptr;
  }
  // Unlinks both nodes of the entry and frees them; the value is not released.
  static void RemoveNode(tNode* node);
  // Removes every entry, leaving an empty table.
  void Clear();

  // Entries in order of addition: each ListNode's record is its tNode.
  const tList& GetOrdered() const { return m_ordered; }
  const tBucket& GetBucket(std::uint32_t hash) const { return m_buckets[hash & kBucketMask]; }
  std::uint32_t GetCount() const { return m_ordered.m_Count; }

 private:
  tBucket m_buckets[kBucketCount];
  tList m_ordered;
};
