// The ADPCMSupport module: loads MS-ADPCM RIFF/WAVE samples on the IV Editor through the game's own ACM stream.
#include <algorithm>

#include <platform/acm.h>

#include <features/FeatureModules.h>
#include <hack/GameVersion.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>

#include "SampleBuffers.h"

namespace {

constexpr std::uint32_t kFormatTagOffset = 20;
constexpr std::uint32_t kExtraSizeOffset = 36;
constexpr std::uint32_t kHeaderFieldsBytes = kExtraSizeOffset + sizeof(std::uint16_t);
// RIFF/WAVE with a fact chunk: the data begins 58 bytes plus the format's extension into the file.
constexpr std::uint32_t kDataOffsetBeforeExtra = 58;
// The loader's third argument is the decoded size plus this.
constexpr std::uint32_t kThirdArgumentBias = 32;
constexpr DWORD kConvertFlags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN;

// The game's ACM stream handle, its prepared header and the pointer to the header's output buffer.
std::uint32_t GameAddress(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return TranslateGameAddress(0, a, b, c, d);
}
HACMSTREAM GameAcmStream() {
  return *reinterpret_cast<HACMSTREAM*>(std::uintptr_t(GameAddress(0x52A98C, 0x52AABC, 0x52AAFC, 0x86BEEC)));
}
ACMSTREAMHEADER* GameAcmHeader() {
  return reinterpret_cast<ACMSTREAMHEADER*>(std::uintptr_t(GameAddress(0x52A910, 0x52AA40, 0x52AA80, 0x86BE70)));
}
const std::uint8_t* GameAcmOutput() {
  return *reinterpret_cast<std::uint8_t**>(std::uintptr_t(GameAddress(0x52B718, 0x52B848, 0x52B888, 0x86CC78)));
}

std::uint32_t LoadSample(LoadSampleEventData* block) {
  IDirectSound8* device = samples::GameDirectSound();
  const void* data = block->data;
  if (device == nullptr || data == nullptr || block->dataSize < kHeaderFieldsBytes ||
      !samples::HasTag(data, 0, "RIFF") || samples::ReadU16(data, kFormatTagOffset) != WAVE_FORMAT_ADPCM) {
    return MODULEREPLY_HANDLED;
  }
  const std::uint32_t dataOffset = kDataOffsetBeforeExtra + samples::ReadU16(data, kExtraSizeOffset);
  if (block->dataSize < dataOffset || block->third < kThirdArgumentBias) return MODULEREPLY_HANDLED;
  ACMSTREAMHEADER* header = GameAcmHeader();
  header->cbSrcLength = block->dataSize - dataOffset;
  if (acmStreamConvert(GameAcmStream(), header, kConvertFlags) != MMSYSERR_NOERROR) return MODULEREPLY_HANDLED;
  // Never more than the conversion produced.
  const std::uint32_t bytes = std::min(block->third - kThirdArgumentBias, header->cbDstLengthUsed);
  IDirectSoundBuffer* buffer = samples::CreateSampleBuffer(device, GameAcmOutput(), bytes);
  if (buffer == nullptr) return MODULEREPLY_HANDLED;
  samples::StoreSample(block->index, buffer);
  block->result = 1;
  return MODULEREPLY_VALUE;
}

}  // namespace

std::uint32_t ADPCMSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      switch (GameVersion) {
        case GAMEVERSION_IV_RELEASE_PATCHED:
          LogConsole("ADPCM SUPPORT: The patched release of Quorvant: Ossmere already supports ADPCM\n");
          return MODULEREPLY_UNLOADNOW;
        case GAMEVERSION_IV_DEMO_CORVEL:
          LogConsole("ADPCM SUPPORT: The Corvel Demo of Quorvant: Ossmere already supports ADPCM\n");
          return MODULEREPLY_UNLOADNOW;
        case GAMEVERSION_V_RELEASE_PATCHED:
          LogConsole("ADPCM SUPPORT: The patched release of Quorvant Thalwick already supports ADPCM\n");
          return MODULEREPLY_UNLOADNOW;
        default:
          return MODULEREPLY_HANDLED;
      }
    case MODULEEVENT_LOADSAMPLE:
      return LoadSample(static_cast<LoadSampleEventData*>(data));
    default:
      return 0;
  }
}
