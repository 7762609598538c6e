// The audio instance's source queue and the DirectSound device that makes instances.
#include <new>

#include <scripthost/Audio.h>

namespace {

constexpr const char* kBufferFailed = "Failed to create sound buffer.";

}  // namespace

bool CAudioInstance::Initialise(tTaskContext*) { return true; }

CAudioInstance::~CAudioInstance() {
  CAudioQueueEntry* entry = m_pQueueHead;
  while (entry != nullptr) {
    CAudioQueueEntry* next = entry->m_pNext;
    entry->m_pSource->Release();
    delete entry;
    entry = next;
  }
}

CAudioQueueEntry* CAudioInstance::AppendEntry(CAudioSource* source, bool loop) {
  auto* entry = new CAudioQueueEntry{nullptr, m_pQueueTail, source, static_cast<std::uint8_t>(loop ? 1 : 0)};
  source->AddRef();
  if (m_pQueueTail != nullptr) {
    m_pQueueTail->m_pNext = entry;
  } else {
    m_pQueueHead = entry;
  }
  m_pQueueTail = entry;
  ++m_QueueCount;
  return entry;
}

bool CAudioInstance::InQueue(const CAudioQueueEntry* entry) const {
  for (const CAudioQueueEntry* e = m_pQueueHead; e != nullptr; e = e->m_pNext) {
    if (e == entry) return true;
  }
  return false;
}

CAudioInstance* CDSoundAudio::CreateInstance(tTaskContext* task, CAudioSource* source, bool loop) {
  tTaskContext dropped;
  if (task == nullptr) task = &dropped;
  if (m_pDirectSound == nullptr || source == nullptr) {
    task->AddError(kBufferFailed);
    return nullptr;
  }
  auto* instance = new CDSoundAudioInstance(this);
  instance->QueueSource(source, loop);
  instance->m_pCurrent = instance->m_pQueueHead;
  instance->m_pNode = m_Instances.Append(instance);
  if (!instance->Initialise(task)) {
    delete instance;
    return nullptr;
  }
  return instance;
}

void CDSoundAudio::SetMasterVolume(float volume) {
  m_MasterVolume = volume;
  for (ListNode* node = m_Instances.m_pHead; node != nullptr; node = node->m_pNext) {
    static_cast<CDSoundAudioInstance*>(node->m_pRecord)->ApplyVolume();
  }
}

bool CDSoundAudio::Initialise() {
  if (m_pDirectSound != nullptr) return true;
  if (FAILED(DirectSoundCreate8(nullptr, &m_pDirectSound, nullptr))) {
    m_pDirectSound = nullptr;
    return false;
  }
  if (FAILED(m_pDirectSound->SetCooperativeLevel(m_hWindow, DSSCL_NORMAL))) {
    Shutdown();
    return false;
  }
  m_MasterVolume = 1.0f;
  return true;
}

void CDSoundAudio::Shutdown() {
  if (m_pDirectSound == nullptr) return;
  m_pDirectSound->Release();
  m_pDirectSound = nullptr;
}

CDSoundAudio::~CDSoundAudio() {
  // Instances may outlive the device: they keep their buffers (which keep the
  // DirectSound device) and stop touching this object.
  for (ListNode* node = m_Instances.m_pHead; node != nullptr; node = node->m_pNext) {
    auto* instance = static_cast<CDSoundAudioInstance*>(node->m_pRecord);
    instance->m_pDevice = nullptr;
    instance->m_pNode = nullptr;
    instance->m_DetachedMaster = m_MasterVolume;
  }
  m_Instances.Clear();
  Shutdown();
}
