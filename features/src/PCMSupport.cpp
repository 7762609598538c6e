// The PCMSupport module: loads canonical RIFF/WAVE PCM samples into the game's sample table.
#include <features/FeatureModules.h>
#include <hack/GameVersion.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>

#include "SampleBuffers.h"

namespace {

// The canonical layout: "RIFF" at 0, the format tag at 20, "data" at 36, its size at 40, the samples from 44.
constexpr std::uint32_t kFormatTagOffset = 20;
constexpr std::uint32_t kDataTagOffset = 36;
constexpr std::uint32_t kDataSizeOffset = 40;
constexpr std::uint32_t kCanonicalHeaderBytes = 44;

std::uint32_t LoadSample(LoadSampleEventData* block) {
  IDirectSound8* device = samples::GameDirectSound();
  const void* data = block->data;
  // Anything else is the game's to load.
  if (device == nullptr || data == nullptr || block->dataSize < kCanonicalHeaderBytes ||
      !samples::HasTag(data, 0, "RIFF") || samples::ReadU16(data, kFormatTagOffset) != WAVE_FORMAT_PCM ||
      !samples::HasTag(data, kDataTagOffset, "data")) {
    return MODULEREPLY_HANDLED;
  }
  const std::uint32_t bytes = samples::ReadU32(data, kDataSizeOffset);
  if (bytes == 0 || bytes > block->dataSize - kCanonicalHeaderBytes) return MODULEREPLY_HANDLED;
  IDirectSoundBuffer* buffer =
      samples::CreateSampleBuffer(device, static_cast<const std::uint8_t*>(data) + kCanonicalHeaderBytes, bytes);
  if (buffer == nullptr) return MODULEREPLY_HANDLED;
  samples::StoreSample(block->index, buffer);
  block->result = 1;
  return MODULEREPLY_VALUE;
}

}  // namespace

std::uint32_t PCMSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      if (GameVersion == GAMEVERSION_IV_EDITOR) {
        LogConsole("PCM SUPPORT: The editor of Quorvant: Ossmere already supports PCM\n");
        return MODULEREPLY_UNLOADNOW;
      }
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_LOADSAMPLE:
      return LoadSample(static_cast<LoadSampleEventData*>(data));
    default:
      return 0;
  }
}
