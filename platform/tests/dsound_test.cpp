// The DirectSound stand-in: creation, buffers, locks, cursors, notifications, refusals and mixing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <platform/dsound.h>
#include <platform/sync.h>
#include <platform/testing/DSoundClock.h>

#include "temp_dir.h"

namespace {

using platform::DSoundCall;
using platform::testing::DSoundClock;

HWND const kWindow = reinterpret_cast<HWND>(0x1000);
constexpr DWORD kRate = 1000;
constexpr DWORD kControls = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY;

WAVEFORMATEXTENSIBLE Format(WORD channels, WORD bits, DWORD rate, bool isFloat = false, bool extensible = true) {
  WAVEFORMATEXTENSIBLE f{};
  f.Format = {extensible ? WAVE_FORMAT_EXTENSIBLE : (isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM), channels,
              rate, bits / 8u * channels * rate, static_cast<WORD>(bits / 8 * channels), bits,
              extensible ? kWaveFormatExtensibleExtra : WORD{0}};
  f.Samples.wValidBitsPerSample = bits;
  f.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  return f;
}

struct Device {
  IDirectSound8* ds = nullptr;
  Device() {
    EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    EXPECT_EQ(ds->SetCooperativeLevel(kWindow, DSSCL_NORMAL), DS_OK);
  }
  ~Device() { ds->Release(); }
  IDirectSoundBuffer* Make(DWORD bytes, WAVEFORMATEXTENSIBLE format, DWORD flags = kControls) {
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), flags, bytes, 0, &format.Format, GUID_NULL};
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    return buffer;
  }
};

// Creation with a 20- or 36-byte description; a made buffer gives its format back as given.
TEST(DSound, BufferCreation) {
  DSoundClock clock(kRate);
  Device device;
  auto badAlign = Format(2, 16, kRate), badSub = Format(2, 16, kRate), shortExt = Format(2, 16, kRate);
  badAlign.Format.nBlockAlign = 3;
  badSub.SubFormat = GUID_NULL;
  shortExt.Format.cbSize = 4;
  struct Case {
    DWORD descSize, flags, bytes;
    WAVEFORMATEXTENSIBLE format;
    HRESULT expected;
  } const cases[] = {
      {36, 0, 64, Format(2, 16, kRate), DS_OK},          {20, DSBCAPS_STATIC, 64, Format(1, 8, kRate, 0, 0), DS_OK},
      {36, 0, 64, Format(2, 32, kRate, 1, 0), DS_OK},     {36, 0, 48, Format(8, 24, 200000), DS_OK},
      {36, 0, 4, Format(1, 32, 100, 1), DS_OK},           {36, 0, DSBSIZE_MAX, Format(1, 8, kRate), DS_OK},
      {24, 0, 64, Format(2, 16, kRate), DSERR_INVALIDPARAM}, {36, 0, 0, Format(2, 16, kRate), DSERR_INVALIDPARAM},
      {36, 0, DSBSIZE_MAX + 1, Format(1, 8, kRate), DSERR_INVALIDPARAM},
      {36, 0, 4, Format(8, 16, kRate), DSERR_INVALIDPARAM}, {36, 0, 64, Format(2, 16, 99), DSERR_BADFORMAT},
      {36, 0, 64, Format(2, 16, 200001), DSERR_BADFORMAT}, {36, 0, 64, Format(0, 16, kRate), DSERR_BADFORMAT},
      {36, 0, 64, Format(3, 16, kRate, 0, 0), DSERR_BADFORMAT}, {36, 0, 64, Format(9, 16, kRate), DSERR_BADFORMAT},
      {36, 0, 64, Format(2, 12, kRate), DSERR_BADFORMAT},  {36, 0, 64, Format(2, 16, kRate, 1), DSERR_BADFORMAT},
      {36, 0, 64, Format(1, 40, kRate), DSERR_BADFORMAT},  {36, 0, 64, badAlign, DSERR_INVALIDPARAM},
      {36, 0, 64, badSub, DSERR_BADFORMAT},                {36, 0, 64, shortExt, DSERR_INVALIDPARAM},
      {36, DSBCAPS_PRIMARYBUFFER, 64, Format(2, 16, kRate), DSERR_UNSUPPORTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    WAVEFORMATEXTENSIBLE format = c.format;
    DSBUFFERDESC desc{c.descSize, c.flags, c.bytes, 0, &format.Format, GUID_NULL};
    IDirectSoundBuffer* buffer = reinterpret_cast<IDirectSoundBuffer*>(1);
    ASSERT_EQ(device.ds->CreateSoundBuffer(&desc, &buffer, nullptr), c.expected);
    ASSERT_EQ(buffer == nullptr, c.expected != DS_OK);
    if (buffer == nullptr) continue;
    const DWORD size = format.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? 40 : 18;
    WAVEFORMATEXTENSIBLE back{};
    DWORD written = 0;
    EXPECT_EQ(buffer->GetFormat(&back.Format, sizeof back, &written), DS_OK);
    EXPECT_EQ(written, size);
    EXPECT_EQ(std::memcmp(&back, &format, size), 0);
    EXPECT_EQ(buffer->GetFormat(&back.Format, 4, &written), DS_OK);
    EXPECT_EQ(written, 4u);
    buffer->Release();
  }
  DSBUFFERDESC noFormat{sizeof(DSBUFFERDESC), 0, 64, 0, nullptr, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(device.ds->CreateSoundBuffer(&noFormat, &buffer, nullptr), DSERR_INVALIDPARAM);
}

TEST(DSound, DeviceRefusalsAndCounts) {
  DSoundClock clock(kRate);
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  auto format = Format(1, 16, kRate);
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLPOSITIONNOTIFY, 64, 0, &format.Format, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DSERR_PRIOLEVELNEEDED);
  EXPECT_EQ(ds->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds->SetCooperativeLevel(kWindow, 0), DSERR_INVALIDPARAM);
  ASSERT_EQ(ds->SetCooperativeLevel(kWindow, DSSCL_NORMAL), DS_OK);
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  EXPECT_EQ(ds->Release(), 1u);  // the buffer keeps its device
  EXPECT_EQ(buffer->Release(), 1u);  // the notify interface keeps the buffer
  EXPECT_EQ(clock.OpenDevices(), 1u);
  EXPECT_EQ(notify->Release(), 0u);
  EXPECT_EQ(clock.OpenDevices(), 0u);
  const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(DirectSoundCreate8(&other, &ds, nullptr), DSERR_NODRIVER);
  clock.FailOpen(DSERR_NODRIVER);
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(ds, nullptr);
}

TEST(DSound, LockGivesTwoRegionsAtTheWrap) {
  DSoundClock clock(kRate);
  Device device;
  IDirectSoundBuffer* buffer = device.Make(16, Format(1, 16, kRate));
  void* base = nullptr;
  DWORD whole = 0;
  ASSERT_EQ(buffer->Lock(0, 0, &base, &whole, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  EXPECT_EQ(whole, 16u);
  auto* ring = static_cast<std::uint8_t*>(base);
  struct Case {
    DWORD offset, bytes;
    HRESULT expected;
    DWORD firstBytes = 0, secondBytes = 0;
  } const cases[] = {{0, 16, DS_OK, 16, 0},  {4, 8, DS_OK, 8, 0},   {12, 8, DS_OK, 4, 4},
                     {15, 16, DS_OK, 1, 15}, {16, 1, DSERR_INVALIDPARAM}, {0, 0, DSERR_INVALIDPARAM},
                     {0, 17, DSERR_INVALIDPARAM}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << "+" << c.bytes);
    void *first = nullptr, *second = nullptr;
    DWORD firstBytes = 0, secondBytes = 0;
    ASSERT_EQ(buffer->Lock(c.offset, c.bytes, &first, &firstBytes, &second, &secondBytes, 0), c.expected);
    if (c.expected != DS_OK) continue;
    EXPECT_EQ(first, ring + c.offset);
    EXPECT_EQ(firstBytes, c.firstBytes);
    EXPECT_EQ(second, c.secondBytes != 0 ? ring : nullptr);
    EXPECT_EQ(secondBytes, c.secondBytes);
    EXPECT_EQ(buffer->Unlock(first, firstBytes, second, secondBytes), DS_OK);
  }
  std::uint8_t foreign[4];
  EXPECT_EQ(buffer->Unlock(foreign, 4, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->Unlock(ring + 12, 8, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->Unlock(ring + 12, 4, ring + 1, 4), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer->Unlock(ring + 12, 4, ring, 13), DSERR_INVALIDPARAM);
  buffer->Release();
}

TEST(DSound, ControlsRefuseWhatIsOutOfRange) {
  DSoundClock clock(kRate);
  Device device;
  IDirectSoundBuffer* buffer = device.Make(64, Format(1, 16, kRate));
  IDirectSoundBuffer* bare = device.Make(64, Format(1, 16, kRate), 0);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY past[] = {{64, event}}, noEvent[] = {{0, nullptr}};
  const DSBPOSITIONNOTIFY good[] = {{0, event}, {DSBPN_OFFSETSTOP, event}};
  void* unused = nullptr;
  const HRESULT results[][2] = {
      {buffer->SetVolume(DSBVOLUME_MIN - 1), DSERR_INVALIDPARAM}, {buffer->SetVolume(1), DSERR_INVALIDPARAM},
      {buffer->SetVolume(DSBVOLUME_MIN), DS_OK},                  {buffer->SetFrequency(99), DSERR_INVALIDPARAM},
      {buffer->SetFrequency(200001), DSERR_INVALIDPARAM},         {buffer->SetFrequency(0), DS_OK},
      {buffer->SetCurrentPosition(64), DSERR_INVALIDPARAM},       {buffer->Play(1, 0, 0), DSERR_INVALIDPARAM},
      {buffer->Play(0, 1, 0), DSERR_INVALIDPARAM},                {buffer->SetFormat(nullptr), DSERR_INVALIDCALL},
      {notify->SetNotificationPositions(1, past), DSERR_INVALIDPARAM},
      {notify->SetNotificationPositions(1, noEvent), DSERR_INVALIDPARAM},
      {notify->SetNotificationPositions(DSBNOTIFICATIONS_MAX + 1, good), DSERR_INVALIDPARAM},
      {notify->SetNotificationPositions(2, good), DS_OK},         {bare->SetVolume(0), DSERR_CONTROLUNAVAIL},
      {bare->SetFrequency(kRate), DSERR_CONTROLUNAVAIL},
      {bare->QueryInterface(IID_IDirectSoundNotify, &unused), DSERR_NOINTERFACE},
      {buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK},               {notify->SetNotificationPositions(2, good), DSERR_INVALIDCALL},
  };
  for (const auto& r : results) EXPECT_EQ(r[0], r[1]) << "call " << &r - results;
  notify->Release();
  bare->Release();
  buffer->Release();
  CloseHandle(event);
}

TEST(DSound, CursorAndNotificationsFollowTheClock) {
  DSoundClock clock(kRate);
  Device device;
  IDirectSoundBuffer* buffer = device.Make(200, Format(1, 16, kRate));  // 100 frames, halves of 100 bytes
  HANDLE events[3];
  for (HANDLE& e : events) e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY positions[] = {{0, events[0]}, {100, events[1]}, {DSBPN_OFFSETSTOP, events[2]}};
  ASSERT_EQ(notify->SetNotificationPositions(3, positions), DS_OK);
  notify->Release();
  auto signalled = [&] {
    std::string set;
    for (HANDLE e : events) set += WaitForSingleObject(e, 0) == WAIT_OBJECT_0 ? '1' : '0';
    return set;
  };
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(signalled(), "100");  // the offset where it starts
  // Frames of the clock, the buffer's rate, then the play cursor in bytes and the events set.
  struct Step {
    std::uint32_t frames;
    DWORD frequency, position;
    const char* set;
  } const steps[] = {{49, kRate, 98, "000"},  {1, kRate, 100, "010"},         {50, kRate, 0, "100"},
                     {20, 2 * kRate, 80, "000"}, {10, 2 * kRate, 120, "010"}, {5, kRate / 2, 124, "000"},
                     {300, kRate, 124, "110"}};
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.frames << " at " << s.frequency);
    ASSERT_EQ(buffer->SetFrequency(s.frequency), DS_OK);
    clock.Advance(s.frames);
    DWORD play = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(&play, nullptr), DS_OK);
    EXPECT_EQ(play, s.position);
    EXPECT_EQ(signalled(), s.set);
  }
  ASSERT_EQ(buffer->Stop(), DS_OK);
  EXPECT_EQ(signalled(), "001");
  ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);  // without looping it stops at the end
  clock.Advance(200);
  DWORD status = 0;
  ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(signalled()[2], '1');
  buffer->Release();
  for (HANDLE e : events) CloseHandle(e);
}

TEST(DSound, MixesEveryFormatWithGain) {
  DSoundClock clock(kRate);
  Device device;
  std::vector<std::uint8_t> floats(8);
  const float pair[] = {0.5f, -0.5f};
  std::memcpy(floats.data(), pair, sizeof pair);
  struct Case {
    WAVEFORMATEXTENSIBLE format;
    std::vector<std::uint8_t> frame;
    LONG volume;
    float left, right;
  } const cases[] = {
      {Format(1, 8, kRate), {0xC0}, 0, 0.5f, 0.5f},
      {Format(2, 16, kRate), {0x00, 0x40, 0x00, 0xC0}, 0, 0.5f, -0.5f},
      {Format(2, 24, kRate), {0, 0, 0x40, 0, 0, 0xC0}, 0, 0.5f, -0.5f},
      {Format(1, 32, kRate), {0, 0, 0, 0xC0}, 0, -0.5f, -0.5f},
      {Format(2, 32, kRate, true), floats, -2000, 0.05f, -0.05f},  // -20 dB
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    const auto frameBytes = static_cast<DWORD>(c.frame.size());
    IDirectSoundBuffer* buffer = device.Make(frameBytes * 4, c.format);
    void* ring = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &ring, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    for (DWORD at = 0; at < bytes; at += frameBytes) std::memcpy(static_cast<char*>(ring) + at, c.frame.data(), frameBytes);
    ASSERT_EQ(buffer->Unlock(ring, bytes, nullptr, 0), DS_OK);
    ASSERT_EQ(buffer->SetVolume(c.volume), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    clock.Advance(6);
    const std::vector<float> out = clock.Output();
    for (std::size_t i = 0; i < out.size(); i += 2) {
      EXPECT_NEAR(out[i], c.left, 1e-6);
      EXPECT_NEAR(out[i + 1], c.right, 1e-6);
    }
    buffer->Release();
  }
}

TEST(DSound, LostBufferAndInjectedFailures) {
  DSoundClock clock(kRate);
  Device device;
  IDirectSoundBuffer* buffer = device.Make(64, Format(1, 16, kRate));
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  platform::MarkDSoundBufferLost(buffer);
  DWORD status = 0, bytes = 0;
  void* first = nullptr;
  ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
  EXPECT_EQ(buffer->Play(0, 0, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Lock(0, 4, &first, &bytes, nullptr, nullptr, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Restore(), DS_OK);
  EXPECT_EQ(buffer->Lock(0, 4, &first, &bytes, nullptr, nullptr, 0), DS_OK);
  clock.FailNext(DSoundCall::Unlock, DSERR_INVALIDCALL);
  clock.FailNext(DSoundCall::GetFormat, DSERR_GENERIC, 2);
  EXPECT_EQ(buffer->Unlock(first, bytes, nullptr, 0), DSERR_INVALIDCALL);
  EXPECT_EQ(buffer->Unlock(first, bytes, nullptr, 0), DS_OK);
  for (HRESULT expected : {DSERR_GENERIC, DSERR_GENERIC, DS_OK}) EXPECT_EQ(buffer->GetFormat(nullptr, 0, &bytes), expected);
  EXPECT_EQ(clock.Calls(DSoundCall::Unlock), 2u);  // the failed one counts
  buffer->Release();
}

// SDL2 audio at real pace: a fifth of a second plays once, well within the bound.
constexpr DWORD kSdlRate = 44100;
constexpr DWORD kDeadlineMs = 20000;

std::vector<float> PlayOnSdl(const char* driver) {
  ::setenv("SDL_AUDIODRIVER", driver, 1);
  std::vector<float> samples(kSdlRate / 5 * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i + 1) / samples.size();
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  if (ds == nullptr) return samples;
  EXPECT_EQ(ds->SetCooperativeLevel(kWindow, DSSCL_NORMAL), DS_OK);
  IDirectSoundBuffer* buffer = nullptr;
  auto format = Format(2, 32, kSdlRate, true);
  const auto bytes = static_cast<DWORD>(samples.size() * sizeof(float));
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), kControls, bytes, 0, &format.Format, GUID_NULL};
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  void* ring = nullptr;
  DWORD locked = 0;
  EXPECT_EQ(buffer->Lock(0, bytes, &ring, &locked, nullptr, nullptr, 0), DS_OK);
  std::memcpy(ring, samples.data(), bytes);
  buffer->Unlock(ring, locked, nullptr, 0);
  HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  EXPECT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY stop[] = {{DSBPN_OFFSETSTOP, stopped}};
  EXPECT_EQ(notify->SetNotificationPositions(1, stop), DS_OK);
  notify->Release();
  EXPECT_EQ(buffer->Play(0, 0, 0), DS_OK);
  EXPECT_EQ(WaitForSingleObject(stopped, kDeadlineMs), WAIT_OBJECT_0);
  buffer->Release();
  EXPECT_EQ(ds->Release(), 0u);  // closes the SDL device: output is complete
  CloseHandle(stopped);
  ::unsetenv("SDL_AUDIODRIVER");
  return samples;
}

TEST(DSoundSdl, DummyDriverPlaysInRealTime) { PlayOnSdl("dummy"); }

TEST(DSoundSdl, DiskDriverWritesTheSource) {
  TempDir dir;
  ::setenv("SDL_DISKAUDIOFILE", dir.Host("out.raw").c_str(), 1);
  const std::vector<float> samples = PlayOnSdl("disk");
  ::unsetenv("SDL_DISKAUDIOFILE");
  std::ifstream in(dir.Host("out.raw"), std::ios::binary);
  const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> written(raw.size() / sizeof(float));
  std::memcpy(written.data(), raw.data(), written.size() * sizeof(float));
  // Silence until Play, then the source sample for sample.
  const auto start = std::find_if(written.begin(), written.end(), [](float s) { return s != 0.0f; });
  ASSERT_GE(written.end() - start, static_cast<std::ptrdiff_t>(samples.size()));
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), start));
}

TEST(DSoundSdl, NoAudioDeviceIsNoDriver) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
  ::unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
