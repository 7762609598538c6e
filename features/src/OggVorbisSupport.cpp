// The OggVorbisSupport module: answers OpenAudioSource with an Ogg Vorbis source over the event's stream.
#include <base/OggAudioSource.h>
#include <base/Stream.h>
#include <features/FeatureModules.h>
#include <hack/ModuleEventData.h>

namespace {

// A source that decodes the stream, or null with the stream back where it stood.
CAudioSource* OpenOggSource(CStream* stream) {
  std::uint64_t position = 0;
  const bool known = stream->GetPosition(&position);
  auto* source = new COggAudioSource(stream);
  tTaskContext task;  // the decoder's messages are of no use to the caller
  if (source->Open(&task)) return source;
  source->Release();
  if (known) stream->Seek(std::int64_t(position), CStream::kSeekBegin);
  return nullptr;
}

}  // namespace

std::uint32_t OggVorbisSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_OPENAUDIOSOURCE: {
      auto* block = static_cast<OpenAudioSourceEventData*>(data);
      CAudioSource* source = OpenOggSource(block->stream);
      if (source == nullptr) return MODULEREPLY_HANDLED;  // another module may try the stream
      block->result = source;                             // the caller receives our one reference
      return MODULEREPLY_VALUE;
    }
    default:
      return 0;
  }
}
