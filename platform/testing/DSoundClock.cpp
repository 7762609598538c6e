// The test clock of the DirectSound stand-in: cursors move when a test says.
#include <platform/testing/DSoundClock.h>

#include <algorithm>
#include <chrono>

namespace platform::testing {

DSoundClock::DSoundClock(std::uint32_t rate) : m_rate(rate), m_previous(SetDSoundBackend(this)) {}

DSoundClock::~DSoundClock() { SetDSoundBackend(m_previous); }

void DSoundClock::Advance(std::uint32_t frames) {
  std::vector<DSoundMixer*> devices;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    devices = m_devices;
  }
  // Rendered outside the clock's lock: the mixers set events that wake threads which call back in.
  std::vector<float> mix(std::size_t{frames} * kDSoundMixChannels);
  std::vector<float> one(mix.size());
  for (DSoundMixer* device : devices) {
    RenderDSoundDevice(*device, one.data(), frames, m_rate);
    for (std::size_t i = 0; i < mix.size(); ++i) mix[i] += one[i];
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  m_output = std::move(mix);
}

std::vector<float> DSoundClock::Output() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_output;
}

void DSoundClock::FailNext(DSoundCall call, HRESULT result, std::uint32_t count) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_failures.push_back({call, result, count});
}

void DSoundClock::FailOpen(HRESULT result) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_openResult = result;
}

std::uint32_t DSoundClock::Calls(DSoundCall call) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_calls[static_cast<std::size_t>(call)];
}

bool DSoundClock::WaitForCalls(DSoundCall call, std::uint32_t count, std::uint32_t milliseconds) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_called.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [&] { return m_calls[static_cast<std::size_t>(call)] >= count; });
}

std::uint32_t DSoundClock::OpenDevices() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return static_cast<std::uint32_t>(m_devices.size());
}

HRESULT DSoundClock::OpenDevice(DSoundMixer& mixer) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (FAILED(m_openResult)) return m_openResult;
  m_devices.push_back(&mixer);
  return DS_OK;
}

void DSoundClock::CloseDevice(DSoundMixer& mixer) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), &mixer), m_devices.end());
}

HRESULT DSoundClock::BeforeCall(DSoundCall call) {
  std::lock_guard<std::mutex> guard(m_mutex);
  for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
    if (it->call != call) continue;
    const HRESULT result = it->result;
    if (--it->count == 0) m_failures.erase(it);
    return result;
  }
  return DS_OK;
}

void DSoundClock::AfterCall(DSoundCall call, HRESULT) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_calls[static_cast<std::size_t>(call)];
  }
  m_called.notify_all();
}

}  // namespace platform::testing
