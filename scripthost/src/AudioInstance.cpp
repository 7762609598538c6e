// The DirectSound instance: a looping buffer of two halves refilled by its streaming thread.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <scripthost/Audio.h>

namespace {

constexpr const char* kBufferFailed = "Failed to create sound buffer.";
constexpr std::uint32_t kMillisecondsPerSecond = 1000;
constexpr std::uint32_t kHalves = 2;
constexpr std::uint32_t kBitsPerByte = 8;
constexpr std::uint32_t kMaxContainerBits = 32;
constexpr double kVolumeStepsPerDecade = 2000.0;  // hundredths of a decibel per factor 10 of amplitude
constexpr DWORD kBufferFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY |
                               DSBCAPS_GLOBALFOCUS;
constexpr DWORD kWaitStop = WAIT_OBJECT_0;
constexpr DWORD kWaitHalf0 = WAIT_OBJECT_0 + 1;

// What DirectSound plays: 1 to 8 channels of 1 to 4 whole bytes, 100 to 200,000 frames a second.
bool Valid(std::uint32_t channels, std::uint32_t rate, std::uint32_t container, std::uint32_t bits) {
  const bool containerOk = container != 0 && container % kBitsPerByte == 0 && container <= kMaxContainerBits;
  return channels >= 1 && channels <= kDSoundMaxChannels && rate >= DSBFREQUENCY_MIN && rate <= DSBFREQUENCY_MAX &&
         containerOk && bits >= 1 && bits <= container;
}

}  // namespace

CDSoundAudioInstance::CThread::CThread(CDSoundAudioInstance* instance)
    : m_hStopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_pInstance(instance) {}

CDSoundAudioInstance::CThread::~CThread() {
  if (m_hStopEvent != nullptr) CloseHandle(m_hStopEvent);
}

void CDSoundAudioInstance::CThread::Join() {
  if (m_thread == nullptr) return;
  SetEvent(m_hStopEvent);
  WaitForSingleObject(m_thread, INFINITE);
  CloseHandle(m_thread);
  m_thread = nullptr;
}

std::uint32_t CDSoundAudioInstance::CThread::Run() {
  const HANDLE waits[] = {m_hStopEvent, m_pInstance->m_Halves[0].m_hEvent, m_pInstance->m_Halves[1].m_hEvent};
  for (;;) {
    const DWORD which = WaitForMultipleObjects(std::size(waits), waits, FALSE, INFINITE);
    if (which == kWaitStop || which > kWaitHalf0 + 1) return 0;  // stopped, or the wait failed
    if (!m_pInstance->OnHalfEntered(which - kWaitHalf0)) return 0;
  }
}

CDSoundAudioInstance::CDSoundAudioInstance(CDSoundAudio* device) : CAudioInstance(device), m_Thread(this) {
  for (tHalf& half : m_Halves) half.m_hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

CDSoundAudioInstance::~CDSoundAudioInstance() {
  m_Thread.Join();
  if (m_pBuffer != nullptr) m_pBuffer->Release();
  if (m_pNode != nullptr) ListNode::Remove(m_pNode);
  for (tHalf& half : m_Halves) {
    if (half.m_hEvent != nullptr) CloseHandle(half.m_hEvent);
  }
}

bool CDSoundAudioInstance::Initialise(tTaskContext* task) {
  auto* device = static_cast<CDSoundAudio*>(m_pDevice);
  CAudioSource* source = m_pQueueHead != nullptr ? m_pQueueHead->m_pSource : nullptr;
  if (device == nullptr || device->m_pDirectSound == nullptr || source == nullptr || m_Thread.m_hStopEvent == nullptr ||
      m_Halves[0].m_hEvent == nullptr || m_Halves[1].m_hEvent == nullptr) {
    task->AddError(kBufferFailed);
    return false;
  }
  const std::uint32_t channels = source->GetChannels();
  const std::uint32_t rate = source->GetSamplesPerSec();
  const std::uint32_t container = source->GetContainerBits();
  const std::uint32_t bits = source->GetBitsPerSample();
  const std::uint32_t blockAlign = source->GetBlockAlign();
  // Sizes in 64 bits: a source's answers are not trusted to stay small.
  const std::uint64_t halfFrames = std::uint64_t{rate} * kHalfMilliseconds / kMillisecondsPerSecond;
  const std::uint64_t halfBytes = halfFrames * blockAlign;
  if (!Valid(channels, rate, container, bits) || blockAlign != container / kBitsPerByte * channels ||
      halfBytes * kHalves > DSBSIZE_MAX) {
    task->AddError(kBufferFailed);
    return false;
  }

  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = static_cast<WORD>(channels);
  format.Format.nSamplesPerSec = rate;
  format.Format.wBitsPerSample = static_cast<WORD>(container);
  format.Format.nBlockAlign = static_cast<WORD>(blockAlign);
  format.Format.nAvgBytesPerSec = source->GetAvgBytesPerSec();
  format.Format.cbSize = kWaveFormatExtensibleExtra;
  format.Samples.wValidBitsPerSample = static_cast<WORD>(bits);
  format.dwChannelMask = source->GetChannelMask();
  format.SubFormat = source->IsFloat() ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), kBufferFlags, static_cast<DWORD>(halfBytes * kHalves), 0, &format.Format,
                    GUID_NULL};
  if (FAILED(device->m_pDirectSound->CreateSoundBuffer(&desc, &m_pBuffer, nullptr))) {
    m_pBuffer = nullptr;
    task->AddError(kBufferFailed);
    return false;
  }
  m_HalfFrames = static_cast<std::uint32_t>(halfFrames);
  m_HalfBytes = static_cast<std::uint32_t>(halfBytes);
  m_BlockAlign = blockAlign;

  IDirectSoundNotify* notify = nullptr;
  const DSBPOSITIONNOTIFY positions[] = {{0, m_Halves[0].m_hEvent}, {m_HalfBytes, m_Halves[1].m_hEvent}};
  const bool notified = SUCCEEDED(m_pBuffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify))) &&
                        SUCCEEDED(notify->SetNotificationPositions(std::size(positions), positions));
  if (notify != nullptr) notify->Release();
  if (!notified) {
    task->AddError(kBufferFailed);
    return false;
  }
  m_PausedFrame = 0;
  m_Volume = 1.0f;
  ApplyVolume();
  return true;
}

void CDSoundAudioInstance::ApplyVolume() {
  if (m_pBuffer == nullptr) return;
  const auto* device = static_cast<const CDSoundAudio*>(m_pDevice);
  const double v = double{m_Volume} * (device != nullptr ? device->m_MasterVolume : m_DetachedMaster);
  LONG level = DSBVOLUME_MAX;
  // NaN counts as silence; below about 1e-5 the level would pass DirectSound's floor, which it refuses.
  if (std::isnan(v) || v <= 0.0) {
    level = DSBVOLUME_MIN;
  } else if (v < 1.0) {
    const double hundredths = -kVolumeStepsPerDecade * std::log10(1.0 / v);
    level = hundredths <= DSBVOLUME_MIN ? DSBVOLUME_MIN : static_cast<LONG>(hundredths);  // toward zero
  }
  m_pBuffer->SetVolume(level);
}

std::uint32_t CDSoundAudioInstance::FillHalf(std::uint32_t half) {
  void* region = nullptr;
  DWORD bytes = 0;
  if (FAILED(m_pBuffer->Lock(half * m_HalfBytes, m_HalfBytes, &region, &bytes, nullptr, nullptr, 0))) {
    return kHalfEmpty;
  }
  auto* out = static_cast<std::uint8_t*>(region);
  DWORD filled = 0;
  std::uint32_t flag = kHalfFull;
  // Where the current pass of a looping entry began: a pass that adds nothing ends the entry.
  DWORD passStart = 0;
  bool restarted = false;
  CAudioQueueEntry* entry = m_pCurrent;
  while (filled < bytes) {
    if (entry == nullptr) {
      flag = kHalfEnding;
      break;
    }
    const DWORD got = std::min<DWORD>(entry->m_pSource->Read(out + filled, bytes - filled), bytes - filled);
    filled += got;
    if (filled == bytes) break;
    if (entry->m_Loop && !(restarted && filled == passStart)) {
      entry->m_pSource->Seek(0);
      passStart = filled;
      restarted = true;
      continue;
    }
    if (entry->m_pNext == nullptr) {
      flag = kHalfEnding;
      break;
    }
    entry = entry->m_pNext;
    m_pCurrent = entry;
    entry->m_pSource->Seek(0);
    restarted = false;
  }
  if (filled < bytes) std::memset(out + filled, 0, bytes - filled);
  m_pBuffer->Unlock(region, bytes, nullptr, 0);
  return flag;
}

std::uint32_t CDSoundAudioInstance::TakeCursor(std::uint32_t* entered) {
  const auto cursorHalf = [this] {
    DWORD play = 0;
    if (FAILED(m_pBuffer->GetCurrentPosition(&play, nullptr))) play = 0;
    return std::min<std::uint32_t>(play / m_BlockAlign / m_HalfFrames, kHalves - 1);
  };
  for (;;) {
    const std::uint32_t before = cursorHalf();
    for (std::uint32_t half = 0; half < kHalves; ++half) {
      if (WaitForSingleObject(m_Halves[half].m_hEvent, 0) == WAIT_OBJECT_0) *entered |= 1u << half;
    }
    // A crossing between the reads may have set an event after it was looked at: look again.
    const std::uint32_t after = cursorHalf();
    if (after == before) return after;
  }
}

void CDSoundAudioInstance::EndPlayback() {
  m_pBuffer->Stop();
  m_pBuffer->SetCurrentPosition(0);
  if (m_pCurrent != nullptr) m_pCurrent->m_pSource->Seek(0);
  m_Halves[0].m_StartFrame = 0;
  m_Halves[0].m_pEntry = m_pCurrent;
  m_Halves[0].m_Holding = false;
  m_PausedFrame = 0;
}

void CDSoundAudioInstance::Hold(std::uint32_t half, CAudioQueueEntry* entry, std::uint32_t frame) {
  void* region = nullptr;
  DWORD bytes = 0;
  if (SUCCEEDED(m_pBuffer->Lock(half * m_HalfBytes, m_HalfBytes, &region, &bytes, nullptr, nullptr, 0))) {
    std::memset(region, 0, bytes);
    m_pBuffer->Unlock(region, bytes, nullptr, 0);
  }
  tHalf& record = m_Halves[half];
  record.m_Flag = kHalfEmpty;
  record.m_StartFrame = frame;
  record.m_pEntry = entry;
  record.m_Holding = true;
}

bool CDSoundAudioInstance::Refill(std::uint32_t half) {
  for (;;) {
    tHalf& record = m_Halves[half];
    const std::int32_t position = m_pCurrent != nullptr ? m_pCurrent->m_pSource->GetPosition() : 0;
    record.m_StartFrame = static_cast<std::uint32_t>(std::max<std::int32_t>(position, 0));
    record.m_pEntry = m_pCurrent;
    record.m_Holding = false;
    record.m_Flag = FillHalf(half);
    m_Ahead = half;
    // Entries during the fill were of the half's old sound.
    std::uint32_t entered = 0;
    const std::uint32_t cursor = TakeCursor(&entered);
    if ((entered & (1u << half)) == 0) return true;
    if (cursor != half) {
      // The cursor crossed all of the half before its sound was there and plays the other half again.
      Hold(cursor, record.m_pEntry, record.m_StartFrame);
      return true;
    }
    // The cursor overtook the fill inside the half: it plays on from there, and the other half is due now.
    if (record.m_Flag == kHalfEmpty) {
      EndPlayback();
      return false;
    }
    half = 1 - half;
  }
}

bool CDSoundAudioInstance::OnHalfEntered(std::uint32_t half) {
  tLockGuard guard(*this);
  std::uint32_t entered = 1u << half;
  const std::uint32_t cursor = TakeCursor(&entered);
  // The cursor has not reached the next sound yet (an event already taken with the position it showed).
  if ((entered & (1u << m_Ahead)) == 0) return true;
  if (m_Halves[m_Ahead].m_Flag == kHalfEmpty) {
    // The cursor entered a half with nothing new: playback ends here, ready to start over.
    EndPlayback();
    return false;
  }
  // The cursor left the next sound behind, or came round to it again: it plays what it played before.
  if (cursor != m_Ahead || (entered & (1u << (1 - m_Ahead))) != 0) {
    const std::int32_t position = m_pCurrent != nullptr ? m_pCurrent->m_pSource->GetPosition() : 0;
    Hold(cursor, m_pCurrent, static_cast<std::uint32_t>(std::max<std::int32_t>(position, 0)));
  }
  return Refill(1 - cursor);
}

bool CDSoundAudioInstance::BufferPlaying() {
  DWORD status = 0;
  if (m_pBuffer == nullptr || FAILED(m_pBuffer->GetStatus(&status))) return false;
  return (status & DSBSTATUS_PLAYING) && !(status & DSBSTATUS_BUFFERLOST);
}

bool CDSoundAudioInstance::Locate(CAudioQueueEntry** entry, std::uint32_t* frame, bool* advanced) {
  DWORD play = 0;
  if (FAILED(m_pBuffer->GetCurrentPosition(&play, nullptr))) play = 0;
  const std::uint32_t frames = play / m_BlockAlign;
  const std::uint32_t half = std::min<std::uint32_t>(frames / m_HalfFrames, kHalves - 1);
  const tHalf& record = m_Halves[half];
  CAudioQueueEntry* at = record.m_pEntry;
  if (at == nullptr) {
    // No Play has set the halves yet.
    *entry = m_pCurrent;
    *frame = m_PausedFrame;
    return false;
  }
  std::uint64_t position = std::uint64_t{record.m_StartFrame} + (record.m_Holding ? 0 : frames - half * m_HalfFrames);
  std::uint32_t length = 0;
  while (at->m_pSource->GetLength(&length) && position >= length) {
    *advanced = true;
    if (at->m_Loop && length != 0) {
      position %= length;
      break;
    }
    if (at->m_pNext == nullptr) {
      *entry = m_pQueueHead;
      *frame = 0;
      return true;
    }
    position -= length;
    at = at->m_pNext;
  }
  *entry = at;
  *frame = static_cast<std::uint32_t>(position);
  return false;
}

std::uint32_t CDSoundAudioInstance::GetSample(CAudioQueueEntry** entry, bool* advanced, bool* ended) {
  tLockGuard guard(*this);
  CAudioQueueEntry* at = m_pCurrent;
  std::uint32_t frame = m_PausedFrame;
  bool moved = false;
  bool past = false;
  if (BufferPlaying()) past = Locate(&at, &frame, &moved);
  if (entry != nullptr) *entry = at;
  if (advanced != nullptr) *advanced = moved;
  if (ended != nullptr) *ended = past;
  return frame;
}

bool CDSoundAudioInstance::IsPlaying() {
  if (!BufferPlaying()) return false;
  bool ended = false;
  GetSample(nullptr, nullptr, &ended);
  return !ended;
}

void CDSoundAudioInstance::Play() {
  if (m_pBuffer == nullptr || IsPlaying()) return;
  // An earlier streaming thread may still be running (the sound ended while the
  // buffer ran on): it is stopped and joined before anything it reads changes.
  m_Thread.Join();
  {
    tLockGuard guard(*this);
    DWORD status = 0;
    const bool statusKnown = SUCCEEDED(m_pBuffer->GetStatus(&status));
    if (statusKnown && (status & DSBSTATUS_BUFFERLOST)) m_pBuffer->Restore();
    CAudioQueueEntry* start = m_pCurrent;
    std::uint32_t frame = m_PausedFrame;
    if (statusKnown && (status & DSBSTATUS_PLAYING) && !(status & DSBSTATUS_BUFFERLOST)) {
      m_pBuffer->Stop();
      start = m_pCurrent = m_pQueueHead;
      frame = 0;
    }
    if (start == nullptr) return;
    start->m_pSource->Seek(frame);
    m_pBuffer->SetCurrentPosition(0);
    m_Halves[0].m_StartFrame = frame;
    m_Halves[0].m_pEntry = start;
    m_Halves[0].m_Holding = false;
    m_Halves[0].m_Flag = FillHalf(0);
    m_Ahead = 0;
    ResetEvent(m_Halves[0].m_hEvent);
    // Until the thread fills it, half 1 holds old sound: should the cursor reach it first, the position waits
    // where half 0's sound ends (in the entry current after the fill, not the paused frame's).
    const std::int32_t next = m_pCurrent->m_pSource->GetPosition();
    m_Halves[1] = {kHalfEmpty, static_cast<std::uint32_t>(std::max<std::int32_t>(next, 0)), m_Halves[1].m_hEvent,
                   m_pCurrent, true};
    ResetEvent(m_Halves[1].m_hEvent);
    if (FAILED(m_pBuffer->Play(0, 0, DSBPLAY_LOOPING))) return;
    ResetEvent(m_Thread.m_hStopEvent);
  }
  m_Thread.Start();
}

void CDSoundAudioInstance::Stop() {
  if (m_pBuffer == nullptr || !IsPlaying()) return;
  m_Thread.Join();
  tLockGuard guard(*this);
  m_pBuffer->Stop();
  CAudioQueueEntry* at = m_pCurrent;
  std::uint32_t frame = m_PausedFrame;
  bool moved = false;
  if (Locate(&at, &frame, &moved)) {
    at = m_pQueueHead;
    frame = 0;
  }
  m_pCurrent = at;
  m_PausedFrame = frame;
}

void CDSoundAudioInstance::SetSample(CAudioQueueEntry* entry, std::uint32_t frame) {
  if (m_pBuffer == nullptr || IsPlaying() || !InQueue(entry)) return;
  m_Thread.Join();
  tLockGuard guard(*this);
  m_pBuffer->Stop();
  m_pCurrent = entry;
  m_PausedFrame = frame;
}

void CDSoundAudioInstance::SetSamplesPerSec(std::uint32_t rate) {
  if (m_pBuffer != nullptr) m_pBuffer->SetFrequency(rate);
}

std::uint32_t CDSoundAudioInstance::GetSamplesPerSec() {
  DWORD rate = 0;
  if (m_pBuffer == nullptr || FAILED(m_pBuffer->GetFrequency(&rate))) return 0;
  return rate;
}

void CDSoundAudioInstance::SetVolume(float volume) {
  m_Volume = volume;
  ApplyVolume();
}

void CDSoundAudioInstance::QueueSource(CAudioSource* source, bool loop) {
  if (source == nullptr) return;
  tLockGuard guard(*this);
  AppendEntry(source, loop);
}
