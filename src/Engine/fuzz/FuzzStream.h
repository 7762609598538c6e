#pragma once
// A read-only engine stream over the fuzzer's bytes.
#include <cstddef>
#include <cstdint>

#include <engine/Stream.h>

namespace enginefuzz {

inline Vexil3D::Strong<Vexil3D::Stream> Over(const std::uint8_t* data, std::size_t size) {
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(data, static_cast<std::uint32_t>(size)));
  return stream;
}

}  // namespace enginefuzz
