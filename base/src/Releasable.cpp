// Reference-counted releasables and the thread object that runs a task on its own thread.
#include <base/Releasable.h>

#include <platform/sync.h>

std::uint32_t tReleasable::Release() {
  if (m_refCount > 1) return --m_refCount;
  delete this;
  return 0;
}

tThread::~tThread() {
  // Never waits: the owner has stopped and joined the thread already.
  if (m_thread != nullptr) ::CloseHandle(m_thread);
}

DWORD WINAPI tThread::ThreadProc(void* parameter) { return static_cast<tThread*>(parameter)->Run(); }

bool tThread::Start() {
  if (m_thread != nullptr) {
    ::CloseHandle(m_thread);
    m_thread = nullptr;
  }
  m_thread = CreateThread(nullptr, 0, &tThread::ThreadProc, this, 0, nullptr);
  return m_thread != nullptr;
}
