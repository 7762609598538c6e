// Movable global memory blocks: the clipboard's and the OLE media's storage. Kept apart from the clipboard so
// that a program freeing a medium does not take the display layer with it.
#include <platform/ui.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The handle points at this header, the bytes follow it.
struct GlobalBlock {
  std::uint32_t magic;
  std::uint32_t locks;
  SIZE_T size;
  alignas(8) unsigned char bytes[1];
};
constexpr std::uint32_t kGlobalMagic = 0x474C4F42u;  // "GLOB"

GlobalBlock* BlockOf(HGLOBAL memory) {
  auto* block = static_cast<GlobalBlock*>(memory);
  if (block == nullptr || block->magic != kGlobalMagic) return nullptr;
  return block;
}

}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  const SIZE_T header = offsetof(GlobalBlock, bytes);
  if (bytes > SIZE_MAX - header - 8) return nullptr;
  void* raw = std::malloc(header + (bytes == 0 ? 1 : bytes));
  if (raw == nullptr) return nullptr;
  auto* block = static_cast<GlobalBlock*>(raw);
  block->magic = kGlobalMagic;
  block->locks = 0;
  block->size = bytes;
  if (flags & GMEM_ZEROINIT) std::memset(block->bytes, 0, bytes);
  return block;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr) return nullptr;
  ++block->locks;
  return block->bytes;
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr || block->locks == 0) return FALSE;
  --block->locks;
  return block->locks != 0 ? TRUE : FALSE;
}

SIZE_T WINAPI GlobalSize(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  return block == nullptr ? 0 : block->size;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
  if (memory == nullptr) return nullptr;
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr) return memory;
  block->magic = 0;
  std::free(block);
  return nullptr;
}
