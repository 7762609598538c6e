// The engine's worker thread and the paged background file loader.
#include <engine/Thread.h>

#include <new>

namespace Vexil3D {

namespace {

enum WorkerWait : DWORD { WAIT_EXIT = WAIT_OBJECT_0, WAIT_WORK = WAIT_OBJECT_0 + 1 };
constexpr DWORD kWorkerHandles = 2;

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Thread

Thread::Thread() : m_hExit(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Thread::~Thread() {
  Stop();
  if (m_hExit) CloseHandle(m_hExit);
}

bool Thread::Start() {
  if (m_hThread || !m_hExit) return false;
  ResetEvent(m_hExit);
  m_hThread = CreateThread(nullptr, 0, Entry, this, 0, nullptr);
  return m_hThread != nullptr;
}

void Thread::Stop() {
  if (!m_hThread) return;
  SetEvent(m_hExit);
  WaitForSingleObject(m_hThread, INFINITE);
  CloseHandle(m_hThread);
  m_hThread = nullptr;
}

bool Thread::IsSignalled() const { return m_hThread && IsSet(m_hThread); }

DWORD Thread::Entry(LPVOID self) { return static_cast<Thread*>(self)->Run(); }

// ---------------------------------------------------------------------------------------------
// CAsyncFileLoader

CAsyncFileLoader::CAsyncFileLoader(Stream* source)
    : m_pSource(source), m_hWork(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  InitializeCriticalSection(&m_SourceLock);
}

CAsyncFileLoader::~CAsyncFileLoader() {
  // Joined before its destruction begins: the running thread still reaches the object through it.
  if (m_pWorker) m_pWorker->Stop();
  m_pWorker.reset();
  for (auto& slot : m_Slots) {
    slot->buffer = nullptr;
    CloseHandle(slot->requested);
    CloseHandle(slot->ready);
    CloseHandle(slot->busy);
    DeleteCriticalSection(&slot->lock);
  }
  if (m_hWork) CloseHandle(m_hWork);
  DeleteCriticalSection(&m_SourceLock);
}

std::uint32_t CAsyncFileLoader::FindSlot(std::u16string_view name) const {
  if (name.empty()) return UINT32_MAX;
  for (std::size_t i = 0; i < m_Slots.size(); ++i)
    if (m_Slots[i]->name == name) return static_cast<std::uint32_t>(i);
  return UINT32_MAX;
}

std::uint32_t CAsyncFileLoader::AddSlot(std::uint32_t firstPage, std::uint32_t pageCount, std::u16string_view name) {
  if (m_pWorker) return UINT32_MAX;
  auto slot = std::make_unique<Slot>();
  slot->requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  slot->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  slot->busy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!slot->requested || !slot->ready || !slot->busy) {
    if (slot->requested) CloseHandle(slot->requested);
    if (slot->ready) CloseHandle(slot->ready);
    if (slot->busy) CloseHandle(slot->busy);
    return UINT32_MAX;
  }
  InitializeCriticalSection(&slot->lock);
  slot->firstPage = firstPage;
  slot->pageCount = pageCount;
  slot->name = name;
  m_Slots.push_back(std::move(slot));
  return GetSlotCount() - 1;
}

bool CAsyncFileLoader::Start() {
  if (m_pWorker || !m_hWork) return false;
  m_pWorker.reset(new (std::nothrow) Worker(this));
  if (m_pWorker && m_pWorker->Start()) return true;
  m_pWorker.reset();
  return false;
}

bool CAsyncFileLoader::Request(std::uint32_t index) {
  Slot* slot = GetSlot(index);
  if (!slot) return false;
  SetEvent(slot->requested);
  SetEvent(m_hWork);
  return true;
}

bool CAsyncFileLoader::IsReady(std::uint32_t index) const {
  Slot* slot = GetSlot(index);
  return slot && IsSet(slot->ready);
}

Stream* CAsyncFileLoader::GetStream(std::uint32_t index) {
  Slot* slot = GetSlot(index);
  if (!slot || !LoadSlot(slot, false)) return nullptr;
  EnterCriticalSection(&slot->lock);
  Stream* stream = slot->buffer ? slot->buffer->CreateStream(slot->size) : nullptr;
  LeaveCriticalSection(&slot->lock);
  return stream;
}

bool CAsyncFileLoader::Reload(std::uint32_t index) {
  Slot* slot = GetSlot(index);
  return slot && LoadSlot(slot, true);
}

bool CAsyncFileLoader::LoadSlot(Slot* slot, bool force) {
  EnterCriticalSection(&slot->lock);
  // Another thread may have loaded the slot while this one waited for the lock.
  if (!force && IsSet(slot->ready)) {
    LeaveCriticalSection(&slot->lock);
    return true;
  }
  SetEvent(slot->busy);
  const std::uint64_t start = std::uint64_t(slot->firstPage) * kPageSize;
  const std::uint64_t length = std::uint64_t(slot->pageCount) * kPageSize;
  Strong<CMemoryBlock> block;
  if (length <= UINT32_MAX) block.Attach(CMemoryBlock::Create(static_cast<std::uint32_t>(length)));
  std::uint32_t size = 0;
  if (block && m_pSource) {
    EnterCriticalSection(&m_SourceLock);
    Strong<Stream> window;
    window.Attach(new (std::nothrow) CStreamRangeStream(m_pSource, start, length));
    if (window) {
      for (std::uint32_t got; size < length && (got = window->Read(block->GetData() + size,
                                                                  static_cast<std::uint32_t>(length) - size)) != 0;)
        size += got;
    }
    LeaveCriticalSection(&m_SourceLock);
    if (!window) block = nullptr;
  }
  if (!block) {
    ResetEvent(slot->busy);
    LeaveCriticalSection(&slot->lock);
    return false;
  }
  // Streams handed out before hold the old block; it goes with the last of them.
  slot->buffer = block;
  slot->size = size;
  SetEvent(slot->ready);
  ResetEvent(slot->busy);
  ResetEvent(slot->requested);
  LeaveCriticalSection(&slot->lock);
  return true;
}

DWORD CAsyncFileLoader::Worker::Run() {
  const HANDLE handles[kWorkerHandles] = {GetExitEvent(), m_pLoader->m_hWork};
  for (;;) {
    if (WaitForMultipleObjects(kWorkerHandles, handles, FALSE, INFINITE) != WAIT_WORK) return 0;
    for (auto& slot : m_pLoader->m_Slots) {
      if (IsSet(GetExitEvent())) return 0;
      if (IsSet(slot->requested) && !IsSet(slot->ready)) m_pLoader->LoadSlot(slot.get(), false);
      else if (IsSet(slot->requested)) ResetEvent(slot->requested);
    }
  }
}

}  // namespace Vexil3D
