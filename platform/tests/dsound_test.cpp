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
constexpr DWORD kAllControls = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY;

WAVEFORMATEXTENSIBLE Format(WORD channels, WORD bits, DWORD rate, bool isFloat = false, bool extensible = true) {
  WAVEFORMATEXTENSIBLE f{};
  f.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : (isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
  f.Format.nChannels = channels;
  f.Format.nSamplesPerSec = rate;
  f.Format.wBitsPerSample = bits;
  f.Format.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
  f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * rate;
  f.Format.cbSize = extensible ? kWaveFormatExtensibleExtra : 0;
  f.Samples.wValidBitsPerSample = bits;
  f.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  return f;
}

struct Device {
  IDirectSound8* ds = nullptr;
  Device() {
    EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    if (ds != nullptr) {
      EXPECT_EQ(ds->SetCooperativeLevel(kWindow, DSSCL_NORMAL), DS_OK);
    }
  }
  ~Device() {
    if (ds != nullptr) ds->Release();
  }
  IDirectSoundBuffer* Make(DWORD bytes, WAVEFORMATEXTENSIBLE format, DWORD flags = kAllControls) {
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), flags, bytes, 0, &format.Format, GUID_NULL};
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    return buffer;
  }
};

TEST(DSound, BufferCreationRefusals) {
  DSoundClock clock(kRate);
  Device device;
  struct Case {
    const char* name;
    DWORD descSize, flags, bytes;
    WAVEFORMATEXTENSIBLE format;
    HRESULT expected;
  };
  auto badAlign = Format(2, 16, kRate);
  badAlign.Format.nBlockAlign = 3;
  auto badSub = Format(2, 16, kRate);
  badSub.SubFormat = GUID_NULL;
  auto shortExtension = Format(2, 16, kRate);
  shortExtension.Format.cbSize = 4;
  const Case cases[] = {
      {"36-byte desc", 36, 0, 64, Format(2, 16, kRate), DS_OK},
      {"20-byte desc, plain PCM", 20, DSBCAPS_STATIC, 64, Format(1, 8, kRate, false, false), DS_OK},
      {"plain float", 36, 0, 64, Format(2, 32, kRate, true, false), DS_OK},
      {"8 channels of 24 bits", 36, 0, 48, Format(8, 24, 200000), DS_OK},
      {"smallest rate", 36, 0, 4, Format(1, 32, 100), DS_OK},
      {"largest size", 36, 0, DSBSIZE_MAX - 1, Format(2, 16, kRate), DS_OK},
      {"desc of 24 bytes", 24, 0, 64, Format(2, 16, kRate), DSERR_INVALIDPARAM},
      {"size 0", 36, 0, 0, Format(2, 16, kRate), DSERR_INVALIDPARAM},
      {"size above the maximum", 36, 0, DSBSIZE_MAX + 1, Format(2, 16, kRate), DSERR_INVALIDPARAM},
      {"smaller than a frame", 36, 0, 4, Format(8, 16, kRate), DSERR_INVALIDPARAM},
      {"rate 99", 36, 0, 64, Format(2, 16, 99), DSERR_BADFORMAT},
      {"rate 200001", 36, 0, 64, Format(2, 16, 200001), DSERR_BADFORMAT},
      {"no channels", 36, 0, 64, Format(0, 16, kRate), DSERR_BADFORMAT},
      {"3 plain channels", 36, 0, 64, Format(3, 16, kRate, false, false), DSERR_BADFORMAT},
      {"9 channels", 36, 0, 64, Format(9, 16, kRate), DSERR_BADFORMAT},
      {"12 bits", 36, 0, 64, Format(2, 12, kRate), DSERR_BADFORMAT},
      {"16-bit float", 36, 0, 64, Format(2, 16, kRate, true), DSERR_BADFORMAT},
      {"40 bits", 36, 0, 64, Format(1, 40, kRate), DSERR_BADFORMAT},
      {"block align disagrees", 36, 0, 64, badAlign, DSERR_INVALIDPARAM},
      {"unknown sub-format", 36, 0, 64, badSub, DSERR_BADFORMAT},
      {"extension too short", 36, 0, 64, shortExtension, DSERR_INVALIDPARAM},
      {"primary buffer", 36, DSBCAPS_PRIMARYBUFFER, 64, Format(2, 16, kRate), DSERR_UNSUPPORTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WAVEFORMATEXTENSIBLE format = c.format;
    DSBUFFERDESC desc{c.descSize, c.flags, c.bytes, 0, &format.Format, GUID_NULL};
    IDirectSoundBuffer* buffer = reinterpret_cast<IDirectSoundBuffer*>(1);
    EXPECT_EQ(device.ds->CreateSoundBuffer(&desc, &buffer, nullptr), c.expected);
    EXPECT_EQ(buffer == nullptr, c.expected != DS_OK);
    if (buffer != nullptr) buffer->Release();
  }
  DSBUFFERDESC noFormat{sizeof(DSBUFFERDESC), 0, 64, 0, nullptr, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(device.ds->CreateSoundBuffer(&noFormat, &buffer, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(device.ds->CreateSoundBuffer(nullptr, &buffer, nullptr), DSERR_INVALIDPARAM);
}

TEST(DSound, DeviceRefusals) {
  DSoundClock clock(kRate);
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  auto format = Format(2, 16, kRate);
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), 0, 64, 0, &format.Format, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DSERR_PRIOLEVELNEEDED);
  EXPECT_EQ(ds->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds->SetCooperativeLevel(kWindow, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds->Release(), 0u);
  const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(DirectSoundCreate8(&other, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(ds, nullptr);
  clock.FailOpen(DSERR_NODRIVER);
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(clock.OpenDevices(), 0u);
}

TEST(DSound, LockGivesTwoRegionsAtTheWrap) {
  DSoundClock clock(kRate);
  Device device;
  IDirectSoundBuffer* buffer = device.Make(16, Format(1, 16, kRate));
  ASSERT_NE(buffer, nullptr);
  void* base = nullptr;
  DWORD whole = 0;
  ASSERT_EQ(buffer->Lock(0, 0, &base, &whole, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  EXPECT_EQ(whole, 16u);
  EXPECT_EQ(buffer->Unlock(base, whole, nullptr, 0), DS_OK);
  auto* ring = static_cast<std::uint8_t*>(base);
  struct Case {
    DWORD offset, bytes;
    HRESULT expected;
    DWORD firstOffset, firstBytes, secondBytes;
  };
  const Case cases[] = {
      {0, 16, DS_OK, 0, 16, 0},           {4, 8, DS_OK, 4, 8, 0},
      {12, 8, DS_OK, 12, 4, 4},           {15, 16, DS_OK, 15, 1, 15},
      {16, 1, DSERR_INVALIDPARAM, 0, 0, 0}, {0, 0, DSERR_INVALIDPARAM, 0, 0, 0},
      {0, 17, DSERR_INVALIDPARAM, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << "+" << c.bytes);
    void* first = nullptr;
    void* second = nullptr;
    DWORD firstBytes = 0, secondBytes = 0;
    ASSERT_EQ(buffer->Lock(c.offset, c.bytes, &first, &firstBytes, &second, &secondBytes, 0), c.expected);
    if (c.expected != DS_OK) continue;
    EXPECT_EQ(first, ring + c.firstOffset);
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

TEST(DSound, ControlRangesAreRefused) {
  DSoundClock clock(kRate);
  Device device;
  IDirectSoundBuffer* buffer = device.Make(64, Format(1, 16, kRate));
  IDirectSoundBuffer* bare = device.Make(64, Format(1, 16, kRate), 0);
  ASSERT_TRUE(buffer != nullptr && bare != nullptr);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY past[] = {{64, event}};
  const DSBPOSITIONNOTIFY noEvent[] = {{0, nullptr}};
  const DSBPOSITIONNOTIFY good[] = {{0, event}, {DSBPN_OFFSETSTOP, event}};
  void* unused = nullptr;
  struct Case {
    const char* name;
    HRESULT result, expected;
  };
  const Case cases[] = {
      {"volume below the minimum", buffer->SetVolume(DSBVOLUME_MIN - 1), DSERR_INVALIDPARAM},
      {"volume above 0", buffer->SetVolume(1), DSERR_INVALIDPARAM},
      {"volume -10000", buffer->SetVolume(DSBVOLUME_MIN), DS_OK},
      {"frequency 99", buffer->SetFrequency(99), DSERR_INVALIDPARAM},
      {"frequency 200001", buffer->SetFrequency(200001), DSERR_INVALIDPARAM},
      {"frequency original", buffer->SetFrequency(DSBFREQUENCY_ORIGINAL), DS_OK},
      {"position at the size", buffer->SetCurrentPosition(64), DSERR_INVALIDPARAM},
      {"play with reserved", buffer->Play(1, 0, 0), DSERR_INVALIDPARAM},
      {"play with priority", buffer->Play(0, 1, 0), DSERR_INVALIDPARAM},
      {"notify past the end", notify->SetNotificationPositions(1, past), DSERR_INVALIDPARAM},
      {"notify without event", notify->SetNotificationPositions(1, noEvent), DSERR_INVALIDPARAM},
      {"notify too many", notify->SetNotificationPositions(DSBNOTIFICATIONS_MAX + 1, good), DSERR_INVALIDPARAM},
      {"notify", notify->SetNotificationPositions(2, good), DS_OK},
      {"no volume control", bare->SetVolume(0), DSERR_CONTROLUNAVAIL},
      {"no frequency control", bare->SetFrequency(kRate), DSERR_CONTROLUNAVAIL},
      {"no notify control", bare->QueryInterface(IID_IDirectSoundNotify, &unused), DSERR_NOINTERFACE},
      {"format of a secondary buffer", buffer->SetFormat(nullptr), DSERR_INVALIDCALL},
      {"play", buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK},
      {"notify while playing", notify->SetNotificationPositions(2, good), DSERR_INVALIDCALL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result, c.expected);
  }
  notify->Release();
  bare->Release();
  buffer->Release();
  CloseHandle(event);
}

TEST(DSound, CursorAndNotificationsFollowTheClock) {
  DSoundClock clock(kRate);
  Device device;
  // 100 frames of 16-bit mono: halves of 100 bytes.
  IDirectSoundBuffer* buffer = device.Make(200, Format(1, 16, kRate));
  ASSERT_NE(buffer, nullptr);
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
  EXPECT_EQ(signalled(), "100");  // the start offset
  struct Step {
    std::uint32_t frames;
    DWORD frequency, position;
    const char* set;
  };
  const Step steps[] = {
      {49, kRate, 98, "000"},  {1, kRate, 100, "010"},    {50, kRate, 0, "100"},  {0, kRate, 0, "000"},
      {20, 2 * kRate, 80, "000"}, {10, 2 * kRate, 120, "010"}, {5, kRate / 2, 124, "000"}, {300, kRate, 124, "110"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "advance " << s.frames << " at " << s.frequency);
    ASSERT_EQ(buffer->SetFrequency(s.frequency), DS_OK);
    clock.Advance(s.frames);
    DWORD play = 0, write = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, s.position);
    EXPECT_EQ(signalled(), s.set);
  }
  // Without looping the buffer stops at its end.
  ASSERT_EQ(buffer->Stop(), DS_OK);
  EXPECT_EQ(signalled(), "001");
  ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
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
  struct Case {
    const char* name;
    WAVEFORMATEXTENSIBLE format;
    std::vector<std::uint8_t> frame;
    LONG volume;
    float left, right;
  };
  const float half = 0.5f;
  std::vector<std::uint8_t> floats(8);
  const float pair[] = {half, -half};
  std::memcpy(floats.data(), pair, sizeof pair);
  const Case cases[] = {
      {"8-bit mono", Format(1, 8, kRate), {0xC0}, 0, half, half},
      {"16-bit stereo", Format(2, 16, kRate), {0x00, 0x40, 0x00, 0xC0}, 0, half, -half},
      {"24-bit stereo", Format(2, 24, kRate), {0, 0, 0x40, 0, 0, 0xC0}, 0, half, -half},
      {"32-bit mono", Format(1, 32, kRate), {0, 0, 0, 0xC0}, 0, -half, -half},
      {"float stereo, -20 dB", Format(2, 32, kRate, true), floats, -2000, 0.05f, -0.05f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DWORD frameBytes = static_cast<DWORD>(c.frame.size());
    IDirectSoundBuffer* buffer = device.Make(frameBytes * 4, c.format);
    ASSERT_NE(buffer, nullptr);
    void* ring = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(buffer->Lock(0, 0, &ring, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    for (DWORD at = 0; at < bytes; at += frameBytes) std::memcpy(static_cast<char*>(ring) + at, c.frame.data(), frameBytes);
    ASSERT_EQ(buffer->Unlock(ring, bytes, nullptr, 0), DS_OK);
    ASSERT_EQ(buffer->SetVolume(c.volume), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    clock.Advance(6);
    const std::vector<float> out = clock.Output();
    ASSERT_EQ(out.size(), 12u);
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
  ASSERT_NE(buffer, nullptr);
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  platform::MarkDSoundBufferLost(buffer);
  DWORD status = 0;
  ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_BUFFERLOST);
  void* first = nullptr;
  DWORD bytes = 0;
  EXPECT_EQ(buffer->Play(0, 0, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Lock(0, 4, &first, &bytes, nullptr, nullptr, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(buffer->Restore(), DS_OK);
  EXPECT_EQ(buffer->Lock(0, 4, &first, &bytes, nullptr, nullptr, 0), DS_OK);

  clock.FailNext(DSoundCall::Unlock, DSERR_INVALIDCALL);
  clock.FailNext(DSoundCall::GetFormat, DSERR_GENERIC, 2);
  EXPECT_EQ(buffer->Unlock(first, bytes, nullptr, 0), DSERR_INVALIDCALL);
  EXPECT_EQ(buffer->Unlock(first, bytes, nullptr, 0), DS_OK);
  DWORD written = 0;
  EXPECT_EQ(buffer->GetFormat(nullptr, 0, &written), DSERR_GENERIC);
  EXPECT_EQ(buffer->GetFormat(nullptr, 0, &written), DSERR_GENERIC);
  EXPECT_EQ(buffer->GetFormat(nullptr, 0, &written), DS_OK);
  EXPECT_EQ(written, sizeof(WAVEFORMATEXTENSIBLE));
  EXPECT_EQ(clock.Calls(DSoundCall::Unlock), 2u);  // the failed one counts
  buffer->Release();
}

TEST(DSound, FormatComesBackAsGiven) {
  DSoundClock clock(kRate);
  Device device;
  const WAVEFORMATEXTENSIBLE formats[] = {Format(2, 16, 22050, false, false), Format(6, 32, 48000, true)};
  for (const WAVEFORMATEXTENSIBLE& format : formats) {
    IDirectSoundBuffer* buffer = device.Make(960, format);
    ASSERT_NE(buffer, nullptr);
    const DWORD size = format.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? 40 : 18;
    WAVEFORMATEXTENSIBLE back{};
    DWORD written = 0;
    ASSERT_EQ(buffer->GetFormat(&back.Format, sizeof back, &written), DS_OK);
    EXPECT_EQ(written, size);
    EXPECT_EQ(std::memcmp(&back, &format, size), 0);
    WAVEFORMATEXTENSIBLE cut{};
    ASSERT_EQ(buffer->GetFormat(&cut.Format, 4, &written), DS_OK);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(cut.Format.nSamplesPerSec, 0u);
    buffer->Release();
  }
}

TEST(DSound, CountsGoBackToZeroAndBuffersKeepTheirDevice) {
  DSoundClock clock(kRate);
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  ASSERT_EQ(ds->SetCooperativeLevel(kWindow, DSSCL_NORMAL), DS_OK);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(ds->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), DS_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  auto format = Format(1, 16, kRate);
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLPOSITIONNOTIFY, 64, 0, &format.Format, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  EXPECT_EQ(ds->Release(), 1u);  // the buffer's
  EXPECT_EQ(clock.OpenDevices(), 1u);
  EXPECT_EQ(buffer->Release(), 1u);  // the notify interface's
  EXPECT_EQ(notify->Release(), 0u);
  EXPECT_EQ(clock.OpenDevices(), 0u);
}

// SDL2 audio, real time: a fifth of a second ends well within the bound.
struct SdlDriver {
  explicit SdlDriver(const char* driver) { ::setenv("SDL_AUDIODRIVER", driver, 1); }
  ~SdlDriver() { ::unsetenv("SDL_AUDIODRIVER"); }
};

constexpr DWORD kSdlRate = 44100;
constexpr DWORD kSdlFrames = kSdlRate / 5;
constexpr DWORD kDeadlineMs = 20000;

// Plays frames of float stereo once and waits for the stop notification.
void PlayOnce(IDirectSound8* ds, const std::vector<float>& samples) {
  ASSERT_EQ(ds->SetCooperativeLevel(kWindow, DSSCL_NORMAL), DS_OK);
  auto format = Format(2, 32, kSdlRate, true);
  const auto bytes = static_cast<DWORD>(samples.size() * sizeof(float));
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), kAllControls, bytes, 0, &format.Format, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  void* ring = nullptr;
  DWORD locked = 0;
  ASSERT_EQ(buffer->Lock(0, bytes, &ring, &locked, nullptr, nullptr, 0), DS_OK);
  std::memcpy(ring, samples.data(), bytes);
  ASSERT_EQ(buffer->Unlock(ring, locked, nullptr, 0), DS_OK);
  HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY stop[] = {{DSBPN_OFFSETSTOP, stopped}};
  ASSERT_EQ(notify->SetNotificationPositions(1, stop), DS_OK);
  notify->Release();
  ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
  EXPECT_EQ(WaitForSingleObject(stopped, kDeadlineMs), WAIT_OBJECT_0);
  DWORD status = DSBSTATUS_PLAYING;
  EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, 0u);
  buffer->Release();
  CloseHandle(stopped);
}

std::vector<float> Counting(DWORD frames) {
  std::vector<float> samples(frames * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i + 1) / samples.size();
  return samples;
}

TEST(DSoundSdl, DummyDriverPlaysInRealTime) {
  SdlDriver driver("dummy");
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  PlayOnce(ds, Counting(kSdlFrames));
  EXPECT_EQ(ds->Release(), 0u);
}

TEST(DSoundSdl, DiskDriverWritesTheSource) {
  TempDir dir;
  const std::string file = dir.Host("out.raw");
  ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  SdlDriver driver("disk");
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  const std::vector<float> samples = Counting(kSdlFrames);
  PlayOnce(ds, samples);
  EXPECT_EQ(ds->Release(), 0u);  // closes the SDL device: the file is complete
  ::unsetenv("SDL_DISKAUDIOFILE");
  std::ifstream in(file, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> written(raw.size() / sizeof(float));
  std::memcpy(written.data(), raw.data(), written.size() * sizeof(float));
  // Silence until Play, then the source sample for sample.
  std::size_t start = 0;
  while (start < written.size() && written[start] == 0.0f) ++start;
  ASSERT_GE(written.size() - start, samples.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), written.begin() + start));
}

TEST(DSoundSdl, NoAudioDeviceIsNoDriver) {
  SdlDriver driver("no-such-driver");
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(ds, nullptr);
}

}  // namespace
