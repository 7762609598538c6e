// libFuzzer target: arbitrary bytes through CPNGImageData's Load and Decode, then every pixel read.
#include <cstddef>
#include <cstdint>

#include <base/PNGImageData.h>
#include <base/Stream.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto* stream = new CByteArrayStream(const_cast<std::uint8_t*>(data), std::uint32_t(size));
  tTaskContext task;
  auto* image = new CPNGImageData;
  if (image->Load(&task, stream) && image->Decode(&task)) {
    std::uint32_t sum = 0;
    for (std::uint32_t y = 0; y < image->GetHeight(); ++y)
      for (std::uint32_t x = 0; x < image->GetWidth(); ++x) sum += image->GetPixel(x, y);
    if (sum == 1) image->HasAlpha();
  }
  image->Release();
  stream->Release();
  return 0;
}
