#pragma once
// A synthetic game executable for tests: mapped at a chosen base, registered as
// the process's main module, marked with a build, and written with real code.
#include <cstdint>
#include <cstring>
#include <string>

#include <hack/testing/Emitter.h>

namespace gameimage {

constexpr std::uint32_t kPreferredBase = 0x400000;
// A base far from the preferred one, so that translation really moves places.
constexpr std::uint32_t kRelocatedBase = 0x1400000;
// Covers every game place of the four builds (they end below 0xF00000 at the
// preferred base); pages are only backed once touched.
constexpr std::uint32_t kDefaultSize = 0xC00000;
// The top of the image is a writable data area (like a .data section).
constexpr std::uint32_t kDataAreaSize = 0x10000;
constexpr char16_t kDefaultPath[] = u"C:\\Games\\Quorvant\\quorvant.exe";

class CGameImage {
 public:
  // Maps size bytes (zero-filled) at exactly base with MAP_FIXED_NOREPLACE:
  // code pages execute-read, the data area read-write. Registers it as the game
  // executable unless told not to; while another image is registered, a
  // registering image is refused with a message on standard error and stays
  // unmapped. Check IsMapped() before use.
  explicit CGameImage(std::uint32_t base = kPreferredBase, std::uint32_t size = kDefaultSize,
                      const char16_t* path = kDefaultPath, bool registerAsGame = true);
  // Unregisters (only when this image is the registered one) and unmaps.
  ~CGameImage();
  CGameImage(const CGameImage&) = delete;
  CGameImage& operator=(const CGameImage&) = delete;

  bool IsMapped() const { return m_pMemory != nullptr; }
  std::uint32_t Base() const { return m_Base; }
  std::uint32_t Size() const { return m_Size; }
  // The address in this image of a place given at the preferred base.
  std::uint32_t At(std::uint32_t preferredAddress) const { return preferredAddress - kPreferredBase + m_Base; }
  // Start of the writable data area: the last kDataAreaSize bytes, or the
  // whole image when it is smaller. Always on a writable page.
  std::uint32_t Data() const;
  // Makes the pages of [begin, end) execute-read (begin rounded down, end
  // rounded down to a page boundary) and every other page of the image
  // read-write, as the sections of a real image are.
  void SetCodeSection(std::uint32_t begin, std::uint32_t end);

  // The marker value of a build (GameVersion numbers 0..8); anything else gives
  // a value no build uses.
  static std::uint32_t MarkerOf(std::uint32_t build);
  void WriteBuildMarker(std::uint32_t build) { WriteMarkerValue(MarkerOf(build)); }
  void WriteMarkerValue(std::uint32_t value);

  // Writes bytes at a runtime address inside the mapping, whatever its protection.
  void Write(std::uint32_t address, const void* bytes, std::size_t size);
  // Writes what the emitter assembled at the emitter's origin.
  void Place(const CEmitter& emitter);

  template <typename T>
  T Read(std::uint32_t address) const {
    T value;
    std::memcpy(&value, reinterpret_cast<const void*>(std::uintptr_t(address)), sizeof value);
    return value;
  }
  template <typename T>
  void Poke(std::uint32_t address, const T& value) {
    Write(address, &value, sizeof value);
  }

 private:
  std::uint32_t m_Base;
  std::uint32_t m_Size;
  void* m_pMemory = nullptr;
  bool m_Registered = false;
};

// Calls code of the image as a cdecl routine without arguments.
inline std::uint32_t CallGame(std::uint32_t address) {
  return reinterpret_cast<std::uint32_t (*)()>(std::uintptr_t(address))();
}

}  // namespace gameimage
