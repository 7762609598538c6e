// The synthetic game image: mapping, sections, registration and writes.
#include <hack/testing/GameImage.h>

#include <algorithm>
#include <cstdio>

#include <platform/memory.h>
#include <platform/modules.h>
#include <platform/process.h>

#include <hack/GameVersion.h>

namespace gameimage {

namespace {
// The image registered as the game executable, if any: the platform knows one
// main module, so a second registration would silently take its place.
CGameImage* g_RegisteredImage = nullptr;

std::uint32_t PageFloor(std::uint32_t offset) {
  const auto page = std::uint32_t(platform::PageSize());
  return offset - offset % page;
}
}  // namespace

CGameImage::CGameImage(std::uint32_t base, std::uint32_t size, const char16_t* path, bool registerAsGame)
    : m_Base(base), m_Size(size) {
  if (registerAsGame && g_RegisteredImage != nullptr) {
    std::fprintf(stderr,
                 "gameimage: refused a second game image at 0x%X while the one at 0x%X is registered; "
                 "destroy that one first\n",
                 base, g_RegisteredImage->Base());
    return;
  }
  void* wanted = reinterpret_cast<void*>(std::uintptr_t(base));
  m_pMemory = VirtualAlloc(wanted, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (m_pMemory == nullptr) return;
  // Code ends at the page that holds the data area's first byte, so the whole
  // data area stays writable whatever the size.
  SetCodeSection(m_Base, m_Base + PageFloor(Data() - m_Base));
  if (registerAsGame) {
    platform::RegisterGameImage(m_pMemory, size, path);
    m_Registered = true;
    g_RegisteredImage = this;
  }
}

CGameImage::~CGameImage() {
  if (m_Registered) {
    platform::UnregisterGameImage();
    g_RegisteredImage = nullptr;
  }
  if (m_pMemory != nullptr) VirtualFree(m_pMemory, 0, MEM_RELEASE);
}

std::uint32_t CGameImage::Data() const { return m_Base + m_Size - std::min(m_Size, kDataAreaSize); }

void CGameImage::SetCodeSection(std::uint32_t begin, std::uint32_t end) {
  const std::uint32_t from = m_Base + PageFloor(begin - m_Base);
  const std::uint32_t to = std::min(m_Base + PageFloor(end - m_Base), m_Base + m_Size);
  DWORD old = 0;
  auto pointer = [](std::uint32_t address) { return reinterpret_cast<void*>(std::uintptr_t(address)); };
  VirtualProtect(pointer(m_Base), m_Size, PAGE_READWRITE, &old);
  if (to > from) VirtualProtect(pointer(from), to - from, PAGE_EXECUTE_READ, &old);
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
