// Fuzzes the HBF file reader: any bytes must read or fail without a fault.
#include <engine/HBFChunk.h>

#include "FuzzStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Vexil3D::CRootChunk root;
  root.Read(enginefuzz::Over(data, size));
  return 0;
}
