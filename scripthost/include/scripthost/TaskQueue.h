#pragma once
// CTaskQueue: (kind, value) entries carried from any thread to the game's main thread, which drains them once
// a frame.
//
// Errors: none reported; a failed allocation throws std::bad_alloc like any `new`.
// Locking: one lock guards the entry list. It is not recursive (a push costs one uncontended lock, a third of a
// recursive critical section's): never Push while holding Lock(). The queue's auto-reset event is set exactly
// while entries remain, so a consumer may block on it; whoever takes its signal with a wait then calls Pop
// until Pop answers false (the drain loop below), which leaves the event as the entries say.
#include <cstdint>
#include <mutex>

#include <platform/sync.h>
#include <platform/win32types.h>

class CTaskQueue {
 public:
  struct tEntryList;
  // One queued entry; nodes know their list so a node alone can be unlinked.
  struct tEntry {
    tEntryList* m_pList;
    tEntry* m_pPrevious;
    tEntry* m_pNext;
    std::uint32_t m_Kind;
    std::uint32_t m_Value;
  };
  struct tEntryList {
    tEntry* m_pHead = nullptr;
    tEntry* m_pTail = nullptr;
    std::uint32_t m_Count = 0;
  };

  CTaskQueue();
  // Frees the entries still queued and closes the event.
  ~CTaskQueue();
  CTaskQueue(const CTaskQueue&) = delete;
  CTaskQueue& operator=(const CTaskQueue&) = delete;

  // Appends an entry at the tail and signals the event. Safe from any thread.
  void Push(std::uint32_t kind, std::uint32_t value);

  // One step of the drain loop: the head entry's kind and value, removed under the lock. False when the queue
  // is empty; the event is then not signalled (until the next Push).
  bool Pop(std::uint32_t* kind, std::uint32_t* value);

  // The list itself, for callers that walk it: Lock, read GetHead, RemoveEntry, Unlock.
  void Lock() { m_lock.lock(); }
  void Unlock() { m_lock.unlock(); }
  tEntry* GetHead() const { return m_entries.m_pHead; }
  std::uint32_t GetCount() const { return m_entries.m_Count; }
  // Unlinks the entry and frees it; the caller holds the lock. Resets the event when the queue became empty.
  void RemoveEntry(tEntry* entry);

  // Auto-reset; signalled while entries remain.
  HANDLE GetEvent() const { return m_event; }

 private:
  // Removed nodes are kept for reuse up to this many, so a steady stream of entries allocates nothing.
  static constexpr std::uint32_t kSpareLimit = 256;

  // Keeps a removed node for reuse (or frees it) and resets the event when the queue became empty.
  void Recycle(tEntry* entry);

  std::mutex m_lock;
  tEntryList m_entries;
  HANDLE m_event;
  // Mirrors the event under the lock, so only the empty/non-empty changes touch the kernel object.
  bool m_signalled = false;
  tEntry* m_pSpare = nullptr;
  std::uint32_t m_spareCount = 0;
};
