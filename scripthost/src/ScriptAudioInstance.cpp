// The script class AudioInstance, the playing list's natives and StopEnvironmentAudio.
#include <scripthost/ScriptAudioInstance.h>

#include <vector>

#include <base/Stream.h>
#include <base/TaskContext.h>
#include <hack/GameHooks.h>

#include <scripthost/ClassBinding.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

#include "NativeSupport.h"

const SQChar kAudioNotInitialisedMessage[] = u"audio is not initialised";
const SQChar kAudioOpenFailedMessage[] = u"failed to open audio file";
const SQChar kAudioLoadFailedMessage[] = u"failed to load audio file";
const SQChar kAudioCreateFailedMessage[] = u"failed to create audio instance";

namespace {

// Every live instance, so that a departing environment can be forgotten by the idle ones too.
tList g_LiveAudioInstances;

constexpr SQInteger kPathIndex = 2;
constexpr SQInteger kLoopIndex = 3;
constexpr SQInteger kValueIndex = 2;

SQRESULT GetThis(HSQUIRRELVM v, tScriptAudioInstance** out) {
  return natives::Object(v, natives::kThis, ScriptClass::AudioInstance, out);
}

SQInteger Constructor(HSQUIRRELVM v) {
  if (SQ_FAILED(natives::CheckUnbound(v))) return SQ_ERROR;
  CScriptHost* host = CScriptHost::FromVM(v);
  if (g_pAudio == nullptr) return sq_throwerror(v, kAudioNotInitialisedMessage);
  const SQChar* path = nullptr;
  SQBool loop = SQFalse;
  sq_getstring(v, kPathIndex, &path);
  sq_getbool(v, kLoopIndex, &loop);

  CScriptEnvironment* environment = host->GetRunningEnvironment();
  CStream* stream = environment != nullptr ? environment->OpenFile(path, true, false, false) : nullptr;
  if (stream == nullptr) return sq_throwerror(v, kAudioOpenFailedMessage);
  CAudioSource* source = OpenAudioSourceFromStream(stream);
  CAudioInstance* instance = nullptr;
  if (source != nullptr) {
    // A refused buffer (a server's file of a format DirectSound will not take) must not end the game.
    tTaskContext task;
    instance = g_pAudio->CreateInstance(&task, source, loop != SQFalse);
    source->Release();
  }
  stream->Release();
  if (source == nullptr) return sq_throwerror(v, kAudioLoadFailedMessage);
  if (instance == nullptr) return sq_throwerror(v, kAudioCreateFailedMessage);

  auto* object = new tScriptAudioInstance(host->GetBinding(ScriptClass::AudioInstance), instance, environment);
  return natives::BindNew(v, object, object);
}

SQInteger IsPlaying(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  sq_pushbool(v, self->GetAudioInstance()->IsPlaying() ? SQTrue : SQFalse);
  return 1;
}

SQInteger Stop(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  self->Stop();
  return 0;
}

SQInteger Play(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  self->Play();
  return 0;
}

SQInteger SetSample(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  SQInteger frame = 0;
  sq_getinteger(v, kValueIndex, &frame);
  CAudioInstance* instance = self->GetAudioInstance();
  const bool playing = instance->IsPlaying();
  if (playing) instance->Stop();
  instance->SetSample(instance->GetFirstEntry(), std::uint32_t(frame));
  if (playing) instance->Play();
  return 0;
}

SQInteger GetSample(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  sq_pushinteger(v, SQInteger(self->GetAudioInstance()->GetSample(nullptr, nullptr, nullptr)));
  return 1;
}

SQInteger SetSamplesPerSec(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  SQInteger rate = 0;
  sq_getinteger(v, kValueIndex, &rate);
  self->GetAudioInstance()->SetSamplesPerSec(std::uint32_t(rate));
  return 0;
}

SQInteger GetSamplesPerSec(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  sq_pushinteger(v, SQInteger(self->GetAudioInstance()->GetSamplesPerSec()));
  return 1;
}

SQInteger SetVolume(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  SQFloat volume = 0;
  sq_getfloat(v, kValueIndex, &volume);
  self->GetAudioInstance()->SetVolume(volume);
  return 0;
}

SQInteger TypeOf(HSQUIRRELVM v) {
  tScriptAudioInstance* self = nullptr;
  if (SQ_FAILED(GetThis(v, &self))) return SQ_ERROR;
  sq_pushstring(v, u"AudioInstance", -1);
  return 1;
}

SQInteger GetPlayingAudioInstances(HSQUIRRELVM v) {
  sq_newarray(v, SQInteger(g_PlayingAudioInstances.m_Count));
  SQInteger index = 0;
  for (ListNode* node = g_PlayingAudioInstances.m_pHead; node != nullptr; node = node->m_pNext, ++index) {
    sq_pushinteger(v, index);
    GetPlayingAudioInstance(node)->PushInstance(v);
    sq_set(v, -3);
  }
  return 1;
}

}  // namespace

tScriptAudioInstance::tScriptAudioInstance(CClassBinding* binding, CAudioInstance* instance,
                                           CScriptEnvironment* environment)
    : tSquirrelReferenceableReleasable(binding),
      m_pInstance(instance),
      m_pEnvironment(environment),
      m_pLiveNode(g_LiveAudioInstances.Append(this)) {}

tScriptAudioInstance::~tScriptAudioInstance() {
  delete m_pInstance;
  if (m_pPlayingNode != nullptr) ListNode::Remove(m_pPlayingNode);
  ListNode::Remove(m_pLiveNode);
}

void tScriptAudioInstance::Play() {
  if (IsListed()) return;
  m_pInstance->Play();
  AddRef();
  auto* node = new ListNode{&g_PlayingAudioInstances, nullptr, nullptr, this};
  AddPlayingAudioInstance(node, g_PlayingAudioInstances.m_pTail);
  m_pPlayingNode = node;
}

void tScriptAudioInstance::Stop() {
  if (!IsListed()) return;
  m_pInstance->Stop();
  Unlist();
}

void tScriptAudioInstance::Unlist() {
  if (!IsListed()) return;
  ListNode::Remove(m_pPlayingNode);
  m_pPlayingNode = nullptr;
  Release();
}

void UnlistStoppedAudioInstances() {
  std::vector<tScriptAudioInstance*> ended;
  for (ListNode* node = g_PlayingAudioInstances.m_pHead; node != nullptr; node = node->m_pNext) {
    tScriptAudioInstance* instance = GetPlayingAudioInstance(node);
    if (!instance->GetAudioInstance()->IsPlaying()) {
      instance->AddRef();
      ended.push_back(instance);
    }
  }
  for (tScriptAudioInstance* instance : ended) {
    instance->Unlist();
    instance->Release();
  }
}

void StopEnvironmentAudio(CScriptEnvironment* environment) {
  // Stopping may destroy the instance (the list's reference may be the last): the targets are gathered first,
  // each with a reference of this walk's so that none goes while another is handled.
  std::vector<tScriptAudioInstance*> stopping;
  for (ListNode* node = g_PlayingAudioInstances.m_pHead; node != nullptr; node = node->m_pNext) {
    tScriptAudioInstance* instance = GetPlayingAudioInstance(node);
    if (environment == nullptr || instance->m_pEnvironment == environment) {
      instance->AddRef();
      stopping.push_back(instance);
    }
  }
  for (tScriptAudioInstance* instance : stopping) {
    instance->Stop();
    instance->Release();
  }
  if (environment == nullptr) return;
  for (ListNode* node = g_LiveAudioInstances.m_pHead; node != nullptr; node = node->m_pNext) {
    auto* instance = static_cast<tScriptAudioInstance*>(node->m_pRecord);
    if (instance->m_pEnvironment == environment) instance->m_pEnvironment = nullptr;
  }
}

void RegisterAudioInstanceClass(CScriptHost* host, HSQUIRRELVM v) {
  const SQInteger top = sq_gettop(v);
  RegisterClassWithConstructor(v, u"AudioInstance", Constructor, u"xsb");
  host->BindClass(ScriptClass::AudioInstance, v, false);
  RegisterFunctionTyped(v, u"IsPlaying", IsPlaying, u"x");
  RegisterFunctionTyped(v, u"Stop", Stop, u"x");
  RegisterFunctionTyped(v, u"Play", Play, u"x");
  RegisterFunctionTyped(v, u"SetSample", SetSample, u"xi");
  RegisterFunctionTyped(v, u"GetSample", GetSample, u"x");
  RegisterFunctionTyped(v, u"SetSamplesPerSec", SetSamplesPerSec, u"xn");
  RegisterFunctionTyped(v, u"GetSamplesPerSec", GetSamplesPerSec, u"x");
  RegisterFunctionTyped(v, u"SetVolume", SetVolume, u"xf");
  RegisterFunctionTyped(v, u"_typeof", TypeOf, u"x");
  sq_settop(v, top);
}

void RegisterPlayingAudioInstancesNative(HSQUIRRELVM v) {
  RegisterFunction(v, u"GetPlayingAudioInstances", GetPlayingAudioInstances, 0, nullptr);
}
