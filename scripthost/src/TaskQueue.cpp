// CTaskQueue: a locked entry list whose event follows whether entries remain.
#include <scripthost/TaskQueue.h>

CTaskQueue::CTaskQueue() {
  m_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

CTaskQueue::~CTaskQueue() {
  while (m_entries.m_pHead != nullptr) RemoveEntry(m_entries.m_pHead);
  while (m_pSpare != nullptr) {
    tEntry* next = m_pSpare->m_pNext;
    delete m_pSpare;
    m_pSpare = next;
  }
  if (m_event != nullptr) CloseHandle(m_event);
}

void CTaskQueue::Push(std::uint32_t kind, std::uint32_t value) {
  Lock();
  tEntry* entry = m_pSpare;
  if (entry != nullptr) {
    m_pSpare = entry->m_pNext;
    --m_spareCount;
  } else {
    entry = new tEntry;
  }
  *entry = tEntry{&m_entries, m_entries.m_pTail, nullptr, kind, value};
  if (m_entries.m_pTail != nullptr) {
    m_entries.m_pTail->m_pNext = entry;
  } else {
    m_entries.m_pHead = entry;
  }
  m_entries.m_pTail = entry;
  ++m_entries.m_Count;
  if (!m_signalled) {
    SetEvent(m_event);
    m_signalled = true;
  }
  Unlock();
}

void CTaskQueue::RemoveEntry(tEntry* entry) {
  if (entry->m_pPrevious != nullptr) {
    entry->m_pPrevious->m_pNext = entry->m_pNext;
  } else {
    m_entries.m_pHead = entry->m_pNext;
  }
  if (entry->m_pNext != nullptr) {
    entry->m_pNext->m_pPrevious = entry->m_pPrevious;
  } else {
    m_entries.m_pTail = entry->m_pPrevious;
  }
  --m_entries.m_Count;
  Recycle(entry);
}

void CTaskQueue::Recycle(tEntry* entry) {
  if (m_spareCount < kSpareLimit) {
    entry->m_pNext = m_pSpare;
    m_pSpare = entry;
    ++m_spareCount;
  } else {
    delete entry;
  }
  if (m_entries.m_Count == 0 && m_signalled) {
    ResetEvent(m_event);
    m_signalled = false;
  }
}

bool CTaskQueue::Pop(std::uint32_t* kind, std::uint32_t* value) {
  Lock();
  tEntry* head = m_entries.m_pHead;
  if (head == nullptr) {
    // A waiter may have taken the signal of entries that are gone by now: the event must follow the list.
    if (m_signalled) {
      ResetEvent(m_event);
      m_signalled = false;
    }
    Unlock();
    return false;
  }
  *kind = head->m_Kind;
  *value = head->m_Value;
  // The head alone: no previous node to mend.
  m_entries.m_pHead = head->m_pNext;
  if (m_entries.m_pHead != nullptr) {
    m_entries.m_pHead->m_pPrevious = nullptr;
  } else {
    m_entries.m_pTail = nullptr;
  }
  --m_entries.m_Count;
  Recycle(head);
  Unlock();
  return true;
}
