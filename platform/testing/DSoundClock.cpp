// The test clock of the DirectSound stand-in: cursors move when a test says.

// DRD, which runs the concurrency suites, follows the timed condition wait of
// 32-bit time only; the deadlines here are seconds from now.
#undef _TIME_BITS
#include <platform/testing/DSoundClock.h>

#include <time.h>

#include <algorithm>

namespace platform::testing {

namespace {

constexpr long kNanosecondsPerMillisecond = 1000000;
constexpr long kNanosecondsPerSecond = 1000000000;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

class Guard {
 public:
  explicit Guard(pthread_mutex_t& mutex) : m_mutex(mutex) { pthread_mutex_lock(&m_mutex); }
  ~Guard() { pthread_mutex_unlock(&m_mutex); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  pthread_mutex_t& m_mutex;
};

// The real-time clock's reading milliseconds from now.
timespec Deadline(std::uint32_t milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += milliseconds / kMillisecondsPerSecond;
  deadline.tv_nsec += static_cast<long>(milliseconds % kMillisecondsPerSecond) * kNanosecondsPerMillisecond;
  if (deadline.tv_nsec >= kNanosecondsPerSecond) {
    deadline.tv_nsec -= kNanosecondsPerSecond;
    ++deadline.tv_sec;
  }
  return deadline;
}

}  // namespace

DSoundClock::DSoundClock(std::uint32_t rate) : m_rate(rate), m_previous(SetDSoundBackend(this)) {}

DSoundClock::~DSoundClock() {
  SetDSoundBackend(m_previous);
  pthread_cond_destroy(&m_called);
  pthread_mutex_destroy(&m_mutex);
}

void DSoundClock::Advance(std::uint32_t frames) {
  std::vector<DSoundMixer*> devices;
  {
    Guard guard(m_mutex);
    devices = m_devices;
  }
  // Rendered outside the clock's lock: the mixers set events that wake threads which call back in.
  std::vector<float> mix(std::size_t{frames} * kDSoundMixChannels);
  std::vector<float> one(mix.size());
  for (DSoundMixer* device : devices) {
    RenderDSoundDevice(*device, one.data(), frames, m_rate);
    for (std::size_t i = 0; i < mix.size(); ++i) mix[i] += one[i];
  }
  Guard guard(m_mutex);
  m_output = std::move(mix);
}

std::vector<float> DSoundClock::Output() const {
  Guard guard(m_mutex);
  return m_output;
}

void DSoundClock::FailNext(DSoundCall call, HRESULT result, std::uint32_t count) {
  Guard guard(m_mutex);
  m_failures.push_back({call, result, count});
}

void DSoundClock::FailOpen(HRESULT result) {
  Guard guard(m_mutex);
  m_openResult = result;
}

std::uint32_t DSoundClock::Calls(DSoundCall call) const {
  Guard guard(m_mutex);
  return m_calls[static_cast<std::size_t>(call)];
}

void DSoundClock::HoldNext(DSoundCall call) {
  Guard guard(m_mutex);
  m_hold = call;
}

bool DSoundClock::WaitUntilHeld(std::uint32_t milliseconds) const {
  const timespec deadline = Deadline(milliseconds);
  Guard guard(m_mutex);
  while (!m_holding) {
    if (pthread_cond_timedwait(&m_called, &m_mutex, &deadline) != 0) return m_holding;
  }
  return true;
}

void DSoundClock::Resume() {
  Guard guard(m_mutex);
  m_hold = DSoundCall::Count;
  m_holding = false;
  pthread_cond_broadcast(&m_called);
}

bool DSoundClock::WaitForCalls(DSoundCall call, std::uint32_t count, std::uint32_t milliseconds) const {
  const timespec deadline = Deadline(milliseconds);
  Guard guard(m_mutex);
  while (m_calls[static_cast<std::size_t>(call)] < count) {
    if (pthread_cond_timedwait(&m_called, &m_mutex, &deadline) != 0) return m_calls[static_cast<std::size_t>(call)] >= count;
  }
  return true;
}

std::uint32_t DSoundClock::OpenDevices() const {
  Guard guard(m_mutex);
  return static_cast<std::uint32_t>(m_devices.size());
}

HRESULT DSoundClock::OpenDevice(DSoundMixer& mixer) {
  Guard guard(m_mutex);
  if (FAILED(m_openResult)) return m_openResult;
  m_devices.push_back(&mixer);
  return DS_OK;
}

void DSoundClock::CloseDevice(DSoundMixer& mixer) {
  Guard guard(m_mutex);
  m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), &mixer), m_devices.end());
}

HRESULT DSoundClock::BeforeCall(DSoundCall call) {
  Guard guard(m_mutex);
  if (call == m_hold && !m_holding) {
    m_hold = DSoundCall::Count;
    m_holding = true;
    pthread_cond_broadcast(&m_called);
    while (m_holding) pthread_cond_wait(&m_called, &m_mutex);
  }
  for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
    if (it->call != call) continue;
    const HRESULT result = it->result;
    if (--it->count == 0) m_failures.erase(it);
    return result;
  }
  return DS_OK;
}

void DSoundClock::AfterCall(DSoundCall call, HRESULT) {
  Guard guard(m_mutex);
  ++m_calls[static_cast<std::size_t>(call)];
  pthread_cond_broadcast(&m_called);
}

}  // namespace platform::testing
