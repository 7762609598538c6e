#pragma once
// Patches of the game's code and data ("hacks"). A patch keeps the bytes it
// overwrites and puts them back when it is destroyed; two patches never overlap.
//
// Addresses are 32-bit game addresses (usually from TranslateGameAddress).
#include <cstdint>
#include <memory>

#include <hack/List.h>

struct tHackModule;

class CHackHack {
 public:
  // Saves size bytes at address and joins module's patch list. Overlapping a
  // patch of any module ends the process with exit code 2 after naming both.
  CHackHack(tHackModule* module, std::uint32_t address, std::uint32_t size);
  // Leaves the module's list and writes the saved bytes back.
  virtual ~CHackHack();

  CHackHack(const CHackHack&) = delete;
  CHackHack& operator=(const CHackHack&) = delete;

  tHackModule* GetModule() const { return m_pModule; }
  std::uint32_t GetAddress() const { return m_Address; }
  std::uint32_t GetSize() const { return m_Size; }
  const std::uint8_t* GetSavedBytes() const { return m_pSaved.get(); }

 private:
  tHackModule* m_pModule;
  std::uint32_t m_Address;
  std::uint32_t m_Size;
  std::unique_ptr<std::uint8_t[]> m_pSaved;
  ListNode* m_pNode = nullptr;
};

// A jump from address to target; bytes after the jump stay as they were.
class CHackJumpHack : public CHackHack {
 public:
  CHackJumpHack(tHackModule* module, std::uint32_t address, std::uint32_t target, std::uint32_t size);
};

// A near call to target, the rest of size filled with NOPs (size at least 5).
class CHackCallHack : public CHackHack {
 public:
  CHackCallHack(tHackModule* module, std::uint32_t address, std::uint32_t target, std::uint32_t size);
};

// A stack-pointer adjustment (negative: subtract) and the rest skipped or NOPed.
class CHackNOPHack : public CHackHack {
 public:
  CHackNOPHack(tHackModule* module, std::uint32_t address, std::uint32_t size, std::int32_t stackAdjustment);
};

// An 8-byte, 4-byte or 1-byte value.
class CHackValueHack : public CHackHack {
 public:
  CHackValueHack(tHackModule* module, std::uint32_t address, std::uint32_t value);
  CHackValueHack(tHackModule* module, std::uint32_t address, std::uint8_t value);
  CHackValueHack(tHackModule* module, std::uint32_t address, std::uint64_t value);
};

// The writers; each reports too little space as a fatal error. They make the
// bytes writable without ever taking execution away from their page, and a
// protection change that fails is fatal too, naming the address.
void WriteJump(std::uint32_t address, std::uint32_t target, std::uint32_t size);
void WriteStackAdjust(std::uint32_t address, std::uint32_t size, std::int32_t adjustment);
void WriteValues(std::uint32_t address, std::uint32_t available, const void* source, std::uint32_t size);

// Room FormatCodeAddress needs, terminator included.
constexpr std::uint32_t kCodeAddressLength = 512;
// "module+0xOFFSET (0xADDRESS)" when a module holds the address, else "0xADDRESS".
void FormatCodeAddress(std::uint32_t address, char16_t buffer[kCodeAddressLength]);
