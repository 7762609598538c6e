#pragma once
// CMemoryBlock: a counted byte buffer that memory streams over it keep alive, so that a stream
// handed out stays readable after its maker dropped or replaced the buffer. Allocation failures give
// null; the count is atomic, the bytes are not locked.
#include <cstdint>
#include <memory>
#include <new>

#include <engine/Stream.h>
#include <engine/VexilBase.h>

namespace Vexil3D {

class CMemoryBlock : public CRefCounted {
 public:
  // A new block of unset bytes (one reference for the caller), or null when allocation fails.
  static CMemoryBlock* Create(std::uint32_t size) {
    auto* block = new (std::nothrow) CMemoryBlock;
    if (!block) return nullptr;
    block->m_pData.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!block->m_pData) {
      block->Release();
      return nullptr;
    }
    block->m_uSize = size;
    return block;
  }

  std::uint8_t* GetData() const { return m_pData.get(); }
  std::uint32_t GetSize() const { return m_uSize; }
  // A new read-only stream over the first size bytes that holds a reference to the block (one
  // reference for the caller), or null.
  Stream* CreateStream(std::uint32_t size) {
    if (size > m_uSize) size = m_uSize;
    return new (std::nothrow) CMemoryStream(m_pData.get(), size, CMemoryStream::ACCESS_READ, this);
  }

 private:
  CMemoryBlock() = default;

  std::unique_ptr<std::uint8_t[]> m_pData;
  std::uint32_t m_uSize = 0;
};

}  // namespace Vexil3D
