// libFuzzer target: arbitrary bytes through COggAudioSource's Open, Read to the end, a seek and a second read.
#include <cstddef>
#include <cstdint>

#include <base/OggAudioSource.h>
#include <base/Stream.h>

namespace {
constexpr std::uint32_t kReadBytes = 4096;
constexpr int kMaxReads = 4096;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto* stream = new CByteArrayStream(const_cast<std::uint8_t*>(data), std::uint32_t(size));
  auto* source = new COggAudioSource(stream);
  stream->Release();
  tTaskContext task;
  if (source->Open(&task) && source->GetChannels() != 0) {
    static float buffer[kReadBytes / sizeof(float)];
    for (int i = 0; i < kMaxReads && source->Read(buffer, kReadBytes) != 0; ++i) {
    }
    std::uint32_t length = 0;
    if (source->GetLength(&length) && source->Seek(length / 2) == 0) source->Read(buffer, kReadBytes);
    source->GetPosition();
  }
  source->Release();
  return 0;
}
