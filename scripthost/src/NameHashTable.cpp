// NameHashTable: bucket and ordered-list bookkeeping of hash-keyed entries.
#include <scripthost/NameHashTable.h>

NameHashTable::~NameHashTable() { Clear(); }

NameHashTable::tNode* NameHashTable::Add(std::uint32_t hash, void* value) {
  tBucket& bucket = m_buckets[hash & kBucketMask];
  tNode* node = new tNode{&bucket, bucket.m_pTail, nullptr, nullptr, hash, value};
  if (bucket.m_pTail != nullptr) {
    bucket.m_pTail->m_pNext = node;
  } else {
    bucket.m_pHead = node;
  }
  bucket.m_pTail = node;
  ++bucket.m_Count;
  try {
    node->m_pOrdered = m_ordered.Append(node);
  } catch (...) {
    node->m_pOrdered = nullptr;
    RemoveNode(node);
    throw;
  }
  return node;
}

void NameHashTable::RemoveNode(tNode* node) {
  if (node == nullptr) return;
  tBucket* bucket = node->m_pList;
  if (node->m_pPrevious != nullptr) {
    node->m_pPrevious->m_pNext = node->m_pNext;
  } else {
    bucket->m_pHead = node->m_pNext;
  }
  if (node->m_pNext != nullptr) {
    node->m_pNext->m_pPrevious = node->m_pPrevious;
  } else {
    bucket->m_pTail = node->m_pPrevious;
  }
  --bucket->m_Count;
  ListNode::Remove(node->m_pOrdered);
  delete node;
}

void NameHashTable::Clear() {
  while (m_ordered.m_pHead != nullptr) RemoveNode(static_cast<tNode*>(m_ordered.m_pHead->m_pRecord));
}
