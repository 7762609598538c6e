// links: brindle_platform
// Mixing 16 looping float stereo buffers at the output's own rate through the
// DirectSound stand-in's mixer, against a bare gain-and-sum loop over the same data.
//
// MixOverBare times both, pass by pass in the same iterations, checks that they
// produce the same samples and prints mixer time / bare time as "mix/bare" (aim:
// at most 2). Each pass renders one SDL-sized period of 1024 frames.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include <platform/dsound.h>
#include <platform/dsound_backend.h>

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBuffers = 16;
constexpr std::uint32_t kRingFrames = kRate;  // one second each
constexpr std::uint32_t kPeriod = 1024;
constexpr std::uint32_t kChannels = 2;
constexpr LONG kVolumeStep = -100;  // buffer b plays at b x -1 dB
constexpr float kVolumeStepsPerDecade = 2000.0f;

// Keeps the one device the benchmark makes; renders only when asked.
class CaptureBackend final : public platform::IDSoundBackend {
 public:
  HRESULT OpenDevice(platform::DSoundMixer& mixer) override {
    device = &mixer;
    return DS_OK;
  }
  void CloseDevice(platform::DSoundMixer&) override { device = nullptr; }
  platform::DSoundMixer* device = nullptr;
};

struct Scene {
  CaptureBackend backend;
  platform::IDSoundBackend* previous = nullptr;
  IDirectSound8* ds = nullptr;
  std::vector<IDirectSoundBuffer*> buffers;
  std::vector<std::vector<float>> data;
  std::vector<float> gains;
  bool ok = false;

  Scene() {
    previous = platform::SetDSoundBackend(&backend);
    if (FAILED(DirectSoundCreate8(nullptr, &ds, nullptr)) ||
        FAILED(ds->SetCooperativeLevel(reinterpret_cast<HWND>(1), DSSCL_NORMAL))) {
      return;
    }
    WAVEFORMATEXTENSIBLE format{};
    format.Format = {WAVE_FORMAT_IEEE_FLOAT, kChannels, kRate, kRate * kChannels * 4, kChannels * 4, 32, 0};
    const DWORD bytes = kRingFrames * kChannels * sizeof(float);
    for (std::uint32_t b = 0; b < kBuffers; ++b) {
      DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLVOLUME, bytes, 0, &format.Format, GUID_NULL};
      IDirectSoundBuffer* buffer = nullptr;
      if (FAILED(ds->CreateSoundBuffer(&desc, &buffer, nullptr))) return;
      buffers.push_back(buffer);
      std::vector<float>& samples = data.emplace_back(kRingFrames * kChannels);
      for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(static_cast<float>(i * (b + 1)) * 1e-3f);
      void* ring = nullptr;
      DWORD locked = 0;
      if (FAILED(buffer->Lock(0, bytes, &ring, &locked, nullptr, nullptr, 0))) return;
      std::memcpy(ring, samples.data(), locked);
      buffer->Unlock(ring, locked, nullptr, 0);
      const LONG volume = static_cast<LONG>(b) * kVolumeStep;
      buffer->SetVolume(volume);
      gains.push_back(std::pow(10.0f, static_cast<float>(volume) / kVolumeStepsPerDecade));
      if (FAILED(buffer->Play(0, 0, DSBPLAY_LOOPING))) return;
    }
    ok = backend.device != nullptr;
  }
  ~Scene() {
    for (IDirectSoundBuffer* buffer : buffers) buffer->Release();
    if (ds != nullptr) ds->Release();
    platform::SetDSoundBackend(previous);
  }
};

// The same mix written out: every buffer's samples times its gain, summed.
void BareMix(const Scene& scene, std::uint32_t& frame, float* out) {
  std::memset(out, 0, sizeof(float) * kPeriod * kChannels);
  for (std::uint32_t b = 0; b < kBuffers; ++b) {
    const float gain = scene.gains[b];
    std::uint32_t at = frame;
    for (std::uint32_t done = 0; done < kPeriod;) {
      const std::uint32_t chunk = std::min(kPeriod - done, kRingFrames - at);
      const float* in = scene.data[b].data() + std::size_t{at} * kChannels;
      float* o = out + std::size_t{done} * kChannels;
      for (std::uint32_t i = 0; i < chunk * kChannels; ++i) o[i] += gain * in[i];
      done += chunk;
      at = (at + chunk) % kRingFrames;
    }
  }
  frame = (frame + kPeriod) % kRingFrames;
}

void MixOverBare(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Scene scene;
  if (!scene.ok) {
    state.SkipWithError("cannot set up the buffers");
    return;
  }
  std::vector<float> mixed(kPeriod * kChannels);
  std::vector<float> bare(kPeriod * kChannels);
  std::uint32_t bareFrame = 0;
  Clock::duration mixTime{};
  Clock::duration bareTime{};
  for (auto _ : state) {
    auto start = Clock::now();
    platform::RenderDSoundDevice(*scene.backend.device, mixed.data(), kPeriod, kRate);
    mixTime += Clock::now() - start;
    start = Clock::now();
    BareMix(scene, bareFrame, bare.data());
    bareTime += Clock::now() - start;
    benchmark::DoNotOptimize(mixed.data());
    benchmark::DoNotOptimize(bare.data());
    if (mixed != bare) {
      state.SkipWithError("the mixer's samples differ from the bare sum");
      return;
    }
  }
  const double mixUs = std::chrono::duration<double, std::micro>(mixTime).count();
  const double bareUs = std::chrono::duration<double, std::micro>(bareTime).count();
  const double passes = static_cast<double>(state.iterations());
  if (passes > 0 && bareUs > 0) {
    state.counters["mix_us"] = mixUs / passes;
    state.counters["bare_us"] = bareUs / passes;
    state.counters["mix/bare"] = mixUs / bareUs;
  }
}

}  // namespace

BENCHMARK(MixOverBare)->Unit(benchmark::kMicrosecond);
