#include <hack/testing/GameImage.h>

#include <algorithm>

#include <platform/memory.h>
#include <platform/modules.h>
#include <platform/process.h>

#include <hack/GameVersion.h>

namespace gameimage {

CGameImage::CGameImage(std::uint32_t base, std::uint32_t size, const char16_t* path, bool registerAsGame)
    : m_Base(base), m_Size(size) {
  void* wanted = reinterpret_cast<void*>(std::uintptr_t(base));
  m_pMemory = VirtualAlloc(wanted, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (m_pMemory == nullptr) return;
  DWORD old = 0;
  if (size > kDataAreaSize) {
    VirtualProtect(m_pMemory, size - kDataAreaSize, PAGE_EXECUTE_READ, &old);
  } else {
    VirtualProtect(m_pMemory, size, PAGE_EXECUTE_READ, &old);
  }
  if (registerAsGame) {
    platform::RegisterGameImage(m_pMemory, size, path);
    m_Registered = true;
  }
}

CGameImage::~CGameImage() {
  if (m_Registered) platform::UnregisterGameImage();
  if (m_pMemory != nullptr) VirtualFree(m_pMemory, 0, MEM_RELEASE);
}

std::uint32_t CGameImage::MarkerOf(std::uint32_t build) {
  switch (build) {
    case GAMEVERSION_II_RELEASE: return 0x00000000;
    case GAMEVERSION_III_RELEASE: return 0x0146820F;
    case GAMEVERSION_IV_RELEASE_PATCHED: return 0x24247C89;
    case GAMEVERSION_IV_EDITOR: return 0x1589108B;
    case GAMEVERSION_IV_DEMO_CORVEL: return 0x24448B00;
    case GAMEVERSION_IV_RELEASE: return 0x1CC48300;
    case GAMEVERSION_IV_DEMO_BRENNIC: return 0x0C8D0051;
    case GAMEVERSION_V_RELEASE_PATCHED: return 0x12E82C46;
    case GAMEVERSION_V_RELEASE: return 0xEAE82C46;
    default: return 0xC3C3C3C3;
  }
}

void CGameImage::WriteMarkerValue(std::uint32_t value) { Poke(m_Base + kGameBuildMarkerOffset, value); }

void CGameImage::Write(std::uint32_t address, const void* bytes, std::size_t size) {
  if (size == 0) return;
  void* target = reinterpret_cast<void*>(std::uintptr_t(address));
  // Page by page, so that a write from code into the data area gives each
  // page its own protection back.
  const std::size_t pageSize = platform::PageSize();
  std::size_t done = 0;
  while (done < size) {
    const std::uintptr_t at = std::uintptr_t(address) + done;
    const std::size_t piece = std::min(size - done, pageSize - at % pageSize);
    void* where = reinterpret_cast<void*>(at);
    DWORD old = 0;
    VirtualProtect(where, piece, PAGE_EXECUTE_READWRITE, &old);
    std::memcpy(where, static_cast<const std::uint8_t*>(bytes) + done, piece);
    DWORD unused = 0;
    VirtualProtect(where, piece, old, &unused);
    done += piece;
  }
  FlushInstructionCache(GetCurrentProcess(), target, size);
}

void CGameImage::Place(const CEmitter& emitter) {
  Write(emitter.Origin(), emitter.Code().data(), emitter.Code().size());
}

}  // namespace gameimage
