// The background loader: its job lists, its loading threads and the game thread's delivery of finished jobs.
#include <multiplayer/Downloads.h>

#include <algorithm>

#include <platform/os.h>
#include <platform/sync.h>

namespace {

// Processor bits of an affinity mask.
constexpr std::uint32_t kAffinityBits = 32;

void ReleaseAll(std::list<tLoadable*>* jobs, bool finished) {
  while (!jobs->empty()) {
    tLoadable* job = jobs->front();
    jobs->pop_front();
    job->Cancel(finished);
    job->Release();
  }
}

}  // namespace

bool tLoadable::Prepare() { return true; }

// ---- CBackgroundLoadingThread ---------------------------------------------------------------------------------------

std::uint32_t CBackgroundLoadingThread::Run() {
  SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
  if (m_Pinned) SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR(1) << (m_Processor % kAffinityBits));
  CBackgroundLoader* loader = m_pLoader;
  for (;;) {
    tLoadable* job = loader->TakeQueued(this);
    if (job != nullptr) {
      job->Load();
      loader->MoveToFinished(job);
      continue;
    }
    // Nothing queued: sleep until work comes or the loader stops (no time-out: both are events).
    const HANDLE events[] = {loader->m_StopEvent, loader->m_WorkEvent};
    if (WaitForMultipleObjects(DWORD(std::size(events)), events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
  }
  return 0;
}

// ---- CBackgroundLoader ----------------------------------------------------------------------------------------------

CBackgroundLoader::CBackgroundLoader()
    : m_StopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_WorkEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CBackgroundLoader::~CBackgroundLoader() {
  CancelAll();
  WaitForThreads();
  CloseHandle(m_StopEvent);
  CloseHandle(m_WorkEvent);
}

bool CBackgroundLoader::Queue(tLoadable* job) {
  if (job == nullptr || !job->Prepare()) return false;
  job->AddRef();
  tLockGuard guard(*this);
  m_Queued.push_back(job);
  SetEvent(m_WorkEvent);
  return true;
}

void CBackgroundLoader::Start() {
  if (m_Started) return;
  ResetEvent(m_StopEvent);
  std::uint32_t count = m_ThreadsPerUnit;
  if (m_PerProcessor) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    count = std::max<std::uint32_t>(1, info.dwNumberOfProcessors) * m_ThreadsPerUnit;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t processor = m_ThreadsPerUnit != 0 ? i / m_ThreadsPerUnit : 0;
    auto thread = std::make_unique<CBackgroundLoadingThread>(this, m_PerProcessor, processor);
    if (thread->Start()) m_Threads.push_back(std::move(thread));
  }
  // Without a thread nothing would ever finish: the next frame tries again.
  m_Started = !m_Threads.empty();
}

void CBackgroundLoader::ProcessFinished() {
  if (!m_Started) {
    if (GetJobCount() != 0) Start();
    return;
  }
  for (;;) {
    tLoadable* job = nullptr;
    {
      tLockGuard guard(*this);
      if (m_Finished.empty()) break;
      job = m_Finished.front();
      m_Finished.pop_front();
    }
    job->OnLoaded();
    job->Release();
  }
  if (GetJobCount() == 0) WaitForThreads();
}

void CBackgroundLoader::CancelAll() {
  std::list<tLoadable*> queued, finished, running;
  {
    tLockGuard guard(*this);
    queued.swap(m_Queued);
    finished.swap(m_Finished);
    ResetEvent(m_WorkEvent);
    // Running jobs stay in their list: their threads finish them early and move them on. They are told after the
    // lock is let go (a cancel takes locks of its own), kept meanwhile by a reference of this call's.
    for (tLoadable* job : m_Running) {
      job->AddRef();
      running.push_back(job);
    }
  }
  for (tLoadable* job : running) {
    job->Cancel(false);
    job->Release();
  }
  ReleaseAll(&finished, true);
  ReleaseAll(&queued, false);
}

void CBackgroundLoader::WaitForThreads() {
  if (m_Started) {
    SetEvent(m_StopEvent);
    std::vector<HANDLE> handles;
    for (const auto& thread : m_Threads) handles.push_back(thread->GetHandle());
    for (std::size_t first = 0; first < handles.size(); first += MAXIMUM_WAIT_OBJECTS) {
      const DWORD count = DWORD(std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, handles.size() - first));
      WaitForMultipleObjects(count, handles.data() + first, TRUE, INFINITE);
    }
    m_Threads.clear();
    m_Started = false;
  }
  CancelFinished();
}

bool CBackgroundLoader::IsStarted() const { return m_Started; }

std::size_t CBackgroundLoader::GetJobCount() const {
  tLockGuard guard(*this);
  return m_Queued.size() + m_Running.size() + m_Finished.size();
}

tLoadable* CBackgroundLoader::TakeQueued(CBackgroundLoadingThread* thread) {
  tLockGuard guard(*this);
  if (m_Queued.empty()) {
    ResetEvent(m_WorkEvent);
    return nullptr;
  }
  tLoadable* job = m_Queued.front();
  m_Queued.pop_front();
  m_Running.push_back(job);
  job->m_pThread = thread;
  return job;
}

void CBackgroundLoader::MoveToFinished(tLoadable* job) {
  tLockGuard guard(*this);
  m_Running.remove(job);
  m_Finished.push_back(job);
  job->m_pThread = nullptr;
}

void CBackgroundLoader::CancelFinished() {
  std::list<tLoadable*> finished;
  {
    tLockGuard guard(*this);
    finished.swap(m_Finished);
  }
  ReleaseAll(&finished, true);
}
