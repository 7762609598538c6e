// Audio instances without their streaming thread on the test clock, and one real-time play on SDL's dummy driver.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include <platform/sync.h>
#include <platform/testing/DSoundClock.h>
#include <scripthost/Audio.h>

#include "counting_source.h"

namespace {

using platform::DSoundCall;
using platform::testing::DSoundClock;

HWND const kWindow = reinterpret_cast<HWND>(0x1000);
constexpr std::uint32_t kRate = 44100;
const char* const kFailed = "Failed to create sound buffer.";

// An instance of a new counting source (the instance holds the only reference), or null.
std::unique_ptr<CDSoundAudioInstance> Create(CAudio& device, CountingSource* source, tTaskContext* task = nullptr) {
  auto* instance = static_cast<CDSoundAudioInstance*>(device.CreateInstance(task, source, false));
  source->Release();
  return std::unique_ptr<CDSoundAudioInstance>(instance);
}

LONG Level(CDSoundAudioInstance& instance) {
  LONG level = 1;
  EXPECT_EQ(instance.GetBuffer()->GetVolume(&level), DS_OK);
  return level;
}

struct Rig {
  DSoundClock clock{kRate};
  CDSoundAudio device{kWindow};
  Rig() { EXPECT_TRUE(device.Initialise()); }
};

TEST(AudioDevice, InitialiseNeedsAWindowAndADriver) {
  DSoundClock clock(kRate);
  CDSoundAudio noWindow(nullptr);
  EXPECT_FALSE(noWindow.Initialise());
  EXPECT_EQ(clock.OpenDevices(), 0u);
  clock.FailOpen(DSERR_NODRIVER);
  CDSoundAudio noDriver(kWindow);
  EXPECT_FALSE(noDriver.Initialise());
  clock.FailOpen(DS_OK);
  CDSoundAudio device(kWindow);
  ASSERT_TRUE(device.Initialise());
  EXPECT_EQ(device.GetMasterVolume(), 1.0f);
  EXPECT_EQ(clock.OpenDevices(), 1u);
  device.Shutdown();
  EXPECT_EQ(clock.OpenDevices(), 0u);
}

TEST(AudioInstance, BufferSizesAndFormatFollowTheFirstSource) {
  Rig rig;
  struct Case {
    std::uint32_t rate, channels, bits;
    DWORD bufferBytes, mask;
    bool isFloat;
  };
  const Case cases[] = {
      {44100, 2, 32, 2 * 11025 * 8, 0x3, true},  {11025, 1, 16, 2 * 2756 * 2, 0x4, false},
      {48000, 8, 24, 2 * 12000 * 24, 0x637, false}, {100, 1, 8, 2 * 25 * 1, 0x4, false},
      {22050, 6, 12, 2 * 5512 * 12, 0x3F, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " x " << c.bits);
    auto instance = Create(rig.device, new CountingSource(10, c.rate, c.channels, c.bits));
    ASSERT_NE(instance, nullptr);
    IDirectSoundBuffer* buffer = instance->GetBuffer();
    void* ring = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &ring, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    buffer->Unlock(ring, bytes, nullptr, 0);
    EXPECT_EQ(bytes, c.bufferBytes);
    WAVEFORMATEXTENSIBLE format{};
    ASSERT_EQ(buffer->GetFormat(&format.Format, sizeof format, nullptr), DS_OK);
    EXPECT_EQ(format.dwChannelMask, c.mask);
    EXPECT_EQ(format.Samples.wValidBitsPerSample, c.bits);
    EXPECT_EQ(format.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, c.isFloat);
    EXPECT_EQ(instance->GetSamplesPerSec(), c.rate);
  }
}

TEST(AudioInstance, CreationFailuresReachTheCallersTaskOnly) {
  Rig rig;
  struct Case {
    const char* name;
    std::uint32_t channels, rate, bits;
    DSoundCall failing;
  };
  const Case cases[] = {
      {"no channels", 0, kRate, 32, DSoundCall::Count},     {"9 channels", 9, kRate, 32, DSoundCall::Count},
      {"99 Hz", 2, 99, 32, DSoundCall::Count},              {"200001 Hz", 2, 200001, 32, DSoundCall::Count},
      {"40 bits", 2, kRate, 40, DSoundCall::Count},         {"0 bits", 2, kRate, 0, DSoundCall::Count},
      {"4 billion Hz", 2, 0xFFFFFFFF, 32, DSoundCall::Count},
      {"buffer refused", 2, kRate, 32, DSoundCall::CreateSoundBuffer},
      {"no notifications", 2, kRate, 32, DSoundCall::QueryInterface},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.failing != DSoundCall::Count) rig.clock.FailNext(c.failing, DSERR_OUTOFMEMORY);
    bool destroyed = false;
    auto* source = new CountingSource(10, c.rate, c.channels, c.bits);
    source->destroyed_ = &destroyed;
    tTaskContext task;
    EXPECT_EQ(rig.device.CreateInstance(&task, source, true), nullptr);
    EXPECT_EQ(task.GetErrors(), std::vector<std::string>{kFailed});
    EXPECT_EQ(source->GetRefCount(), 1u);
    source->Release();
    EXPECT_TRUE(destroyed);
  }
  CDSoundAudio uninitialised(kWindow);
  auto* source = new CountingSource(10, kRate);
  tTaskContext task;
  EXPECT_EQ(uninitialised.CreateInstance(&task, source, false), nullptr);
  EXPECT_EQ(rig.device.CreateInstance(&task, nullptr, false), nullptr);
  EXPECT_EQ(rig.device.CreateInstance(nullptr, nullptr, false), nullptr);
  EXPECT_EQ(task.GetErrorCount(), 2u);
  source->Release();
}

TEST(AudioInstance, VolumeBecomesHundredthsOfADecibel) {
  Rig rig;
  auto instance = Create(rig.device, new CountingSource(10, kRate));
  ASSERT_NE(instance, nullptr);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float volume, master;
    LONG level;
  };
  const Case cases[] = {{1.0f, 1.0f, 0},        {0.5f, 1.0f, -602},     {1.0f, 0.5f, -602},      {0.25f, 1.0f, -1204},
                        {0.0f, 1.0f, -10000},   {1e-6f, 1.0f, -10000},  {1e-5f, 0.5f, -10000},   {nan, 1.0f, -10000},
                        {1.0f, nan, -10000},    {2.0f, 1.0f, 0},        {inf, 1.0f, 0},          {-1.0f, 1.0f, -10000},
                        {0.9f, 1.0f, -91}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.volume << " x " << c.master);
    instance->GetBuffer()->SetVolume(-1);  // a marker the instance must replace
    rig.device.SetMasterVolume(c.master);
    instance->SetVolume(c.volume);
    EXPECT_EQ(Level(*instance), c.level);
  }
}

TEST(AudioInstance, OutlivesItsDevice) {
  DSoundClock clock(kRate);
  auto device = std::make_unique<CDSoundAudio>(kWindow);
  ASSERT_TRUE(device->Initialise());
  device->SetMasterVolume(0.5f);
  auto instance = Create(*device, new CountingSource(10, kRate));
  ASSERT_NE(instance, nullptr);
  device->Shutdown();
  device.reset();
  EXPECT_EQ(clock.OpenDevices(), 1u);  // the buffer keeps it
  instance->SetVolume(1.0f);
  EXPECT_EQ(Level(*instance), -602);
  instance->Play();
  EXPECT_TRUE(instance->IsPlaying());
  instance.reset();
  EXPECT_EQ(clock.OpenDevices(), 0u);
}

// SDL2's dummy driver plays at real pace: a tenth of a second ends well within the bound.
TEST(AudioInstanceRealTime, DummyDriverSoundEnds) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  CDSoundAudio device(kWindow);
  ASSERT_TRUE(device.Initialise());
  constexpr std::uint32_t kSlowRate = 8000;
  auto instance = Create(device, new CountingSource(kSlowRate / 10, kSlowRate));
  ASSERT_NE(instance, nullptr);
  instance->Play();
  constexpr DWORD kDeadlineMs = 20000;
  constexpr DWORD kPollMs = 10;
  const DWORD start = GetTickCount();
  while (instance->IsPlaying() && GetTickCount() - start < kDeadlineMs) Sleep(kPollMs);
  EXPECT_FALSE(instance->IsPlaying());
  CAudioQueueEntry* entry = nullptr;
  bool ended = false;
  EXPECT_EQ(instance->GetSample(&entry, nullptr, &ended), 0u);
  EXPECT_TRUE(ended);
  EXPECT_EQ(entry, instance->GetFirstEntry());
  instance.reset();
  ::unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
