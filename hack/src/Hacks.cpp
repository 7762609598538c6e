// The patch writers, the patch records and their overlap check.
#include <hack/Hacks.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include <base/TaskContext.h>
#include <hack/Messages.h>
#include <hack/ModuleRegistry.h>
#include <platform/memory.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/text.h>

#include "Locks.h"

namespace {

using hack_locks::ModuleLock;
using hack_locks::RegistryLock;

// The x86-32 instruction shapes the writers emit.
constexpr std::uint8_t kJumpShort = 0xEB;        // EB rel8            jmp short
constexpr std::uint8_t kJumpNear = 0xE9;         // E9 rel32           jmp near
constexpr std::uint8_t kCallNear = 0xE8;         // E8 rel32           call near
constexpr std::uint8_t kAluImm8 = 0x83;          // 83 /r imm8         add/sub r/m32, sign-extended imm8
constexpr std::uint8_t kAluImm32 = 0x81;         // 81 /r imm32        add/sub r/m32, imm32
constexpr std::uint8_t kModRmAddEsp = 0xC4;      // mod 11, /0 (add), rm esp
constexpr std::uint8_t kModRmSubEsp = 0xEC;      // mod 11, /5 (sub), rm esp
constexpr std::uint8_t kNop = 0x90;              // 90                 nop
constexpr std::uint32_t kJumpShortLength = 2;
constexpr std::uint32_t kJumpNearLength = 5;
constexpr std::uint32_t kCallNearLength = 5;
constexpr std::uint32_t kAluImm8Length = 3;
constexpr std::uint32_t kAluImm32Length = 6;
constexpr std::uint32_t kRel32Size = 4;
// The reach of a short jump, measured from its own first byte: rel8 counts from the next instruction.
constexpr std::int32_t kShortReachBack = INT8_MIN + kJumpShortLength;
constexpr std::int32_t kShortReachAhead = INT8_MAX + kJumpShortLength;
// Records fetched on the stack before the overlap check asks for more room.
constexpr std::uint32_t kModulesOnStack = 256;
constexpr std::uint32_t kOverlapMessageLength = 2048;
// Overlapping patches end the process with this code.
constexpr UINT kOverlapExitCode = 2;

// Writes of two threads into one page must not hand each other's protection
// back half-way through.
std::mutex& WriteLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

[[noreturn]] void ProtectionFailed(std::uint32_t address) {
  char16_t where[kCodeAddressLength];
  FormatCodeAddress(address, where);
  const std::string text = "Failed to change the memory protection at " + text::Utf16ToUtf8(where) + ".";
  g_AppContext.AddError(text.c_str());
}

[[noreturn]] void NotEnoughSpace(const char* what) { g_AppContext.AddError(what); }

}  // namespace

void FormatCodeAddress(std::uint32_t address, char16_t buffer[kCodeAddressLength]) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(address)), &module) ||
      module == nullptr) {
    text::Format(buffer, kCodeAddressLength, u"0x%X", address);
    return;
  }
  char16_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, std::size(path));
  const char16_t* name = path;
  for (const char16_t* p = path; *p != 0; ++p) {
    if (*p == u'\\' || *p == u'/') name = p + 1;
  }
  // The offset is from the module's load address (a handle need not be it).
  std::uint32_t base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module));
  MODULEINFO info{};
  if (GetModuleInformation(GetCurrentProcess(), module, &info, sizeof info)) {
    base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll));
  }
  text::Format(buffer, kCodeAddressLength, u"%s+0x%X (0x%X)", name, address - base, address);
}

void WriteValues(std::uint32_t address, std::uint32_t available, const void* source, std::uint32_t size) {
  if (available < size) NotEnoughSpace("Not enough space to write values.");
  if (size == 0) return;
  void* target = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
  std::lock_guard<std::mutex> guard(WriteLock());
  // Page by page: the old protection that comes back is only that of the first
  // page changed, and a stretch that runs from code into data must not leave
  // the data page without write access (or the code page with it).
  const std::uint32_t pageSize = static_cast<std::uint32_t>(platform::PageSize());
  std::uint32_t done = 0;
  while (done < size) {
    const std::uint32_t at = address + done;
    const std::uint32_t piece = std::min(size - done, pageSize - at % pageSize);
    void* where = reinterpret_cast<void*>(static_cast<std::uintptr_t>(at));
    // Execute stays on: another thread may be running code of this very page.
    DWORD old = 0;
    if (!VirtualProtect(where, piece, PAGE_EXECUTE_READWRITE, &old)) ProtectionFailed(at);
    std::memcpy(where, static_cast<const std::uint8_t*>(source) + done, piece);
    DWORD unused = 0;
    if (!VirtualProtect(where, piece, old, &unused)) ProtectionFailed(at);
    done += piece;
  }
  FlushInstructionCache(GetCurrentProcess(), target, size);
}

void WriteJump(std::uint32_t address, std::uint32_t target, std::uint32_t size) {
  const std::int32_t distance = static_cast<std::int32_t>(target - address);
  std::uint8_t bytes[kJumpNearLength];
  std::uint32_t length;
  if (distance >= kShortReachBack && distance <= kShortReachAhead && size >= kJumpShortLength) {
    bytes[0] = kJumpShort;
    bytes[1] = static_cast<std::uint8_t>(distance - kJumpShortLength);
    length = kJumpShortLength;
  } else if (size >= kJumpNearLength) {
    const std::uint32_t displacement = static_cast<std::uint32_t>(distance) - kJumpNearLength;
    bytes[0] = kJumpNear;
    std::memcpy(bytes + 1, &displacement, kRel32Size);
    length = kJumpNearLength;
  } else {
    NotEnoughSpace("Not enough space to write jump.");
  }
  WriteValues(address, size, bytes, length);
}

void WriteStackAdjust(std::uint32_t address, std::uint32_t size, std::int32_t adjustment) {
  std::uint32_t at = address;
  std::uint32_t left = size;
  if (adjustment != 0) {
    const bool subtract = adjustment < 0;
    // Unsigned negation keeps INT32_MIN meaningful.
    const std::uint32_t magnitude =
        subtract ? 0u - static_cast<std::uint32_t>(adjustment) : static_cast<std::uint32_t>(adjustment);
    const char* short_of = subtract ? "Not enough space to write subtract." : "Not enough space to write add.";
    std::uint8_t bytes[kAluImm32Length];
    std::uint32_t length;
    if (magnitude <= INT8_MAX) {
      if (left < kAluImm8Length) NotEnoughSpace(short_of);
      bytes[0] = kAluImm8;
      bytes[1] = subtract ? kModRmSubEsp : kModRmAddEsp;
      bytes[2] = static_cast<std::uint8_t>(magnitude);
      length = kAluImm8Length;
    } else {
      if (left < kAluImm32Length) NotEnoughSpace(short_of);
      bytes[0] = kAluImm32;
      bytes[1] = subtract ? kModRmSubEsp : kModRmAddEsp;
      std::memcpy(bytes + 2, &magnitude, kRel32Size);
      length = kAluImm32Length;
    }
    WriteValues(at, left, bytes, length);
    at += length;
    left -= length;
  }
  // What is left is skipped by a jump when that is shorter than running through nops.
  const std::uint32_t jumpLength = left <= std::uint32_t(kShortReachAhead) ? kJumpShortLength : kJumpNearLength;
  if (left > jumpLength) {
    WriteJump(at, at + left, left);
  } else if (left > 0) {
    std::uint8_t nops[kJumpNearLength];
    std::memset(nops, kNop, sizeof nops);
    WriteValues(at, left, nops, left);
  }
}

CHackHack::CHackHack(tHackModule* module, std::uint32_t address, std::uint32_t size)
    : m_pModule(module), m_Address(address), m_Size(size), m_pSaved(new std::uint8_t[size > 0 ? size : 1]) {
  std::memcpy(m_pSaved.get(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), size);
  {
    RegistryLock registryLock;
    tHackModule* records[kModulesOnStack];
    std::uint32_t count = GetHackModules(records, std::size(records));
    std::unique_ptr<tHackModule*[]> more;
    tHackModule** list = records;
    if (count > std::size(records)) {
      more.reset(new tHackModule*[count]);
      count = GetHackModules(more.get(), count);
      list = more.get();
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      tHackModule* other = list[i];
      ModuleLock lock(other);
      for (ListNode* node = other->m_Hacks.m_pHead; node != nullptr; node = node->m_pNext) {
        const auto* hack = static_cast<const CHackHack*>(node->m_pRecord);
        const std::uint64_t newStart = address, newEnd = std::uint64_t(address) + size;
        const std::uint64_t oldStart = hack->m_Address, oldEnd = std::uint64_t(hack->m_Address) + hack->m_Size;
        if (newStart < oldEnd && newEnd > oldStart) {
          char16_t here[kCodeAddressLength];
          char16_t there[kCodeAddressLength];
          FormatCodeAddress(address, here);
          FormatCodeAddress(hack->m_Address, there);
          char16_t message[kOverlapMessageLength];
          text::Format(message, std::size(message),
                       u"The hack being installed at %s by '%s' intersects with the hack installed at %s by '%s'.",
                       here, module->m_Name, there, other->m_Name);
          ShowErrorMessage(message);
          TerminateProcess(GetCurrentProcess(), kOverlapExitCode);
          ExitProcess(kOverlapExitCode);
        }
      }
    }
  }
  ModuleLock lock(module);
  m_pNode = module->m_Hacks.Append(this);
}

CHackHack::~CHackHack() {
  {
    ModuleLock lock(m_pModule);
    ListNode::Remove(m_pNode);
  }
  WriteValues(m_Address, m_Size, m_pSaved.get(), m_Size);
}

CHackJumpHack::CHackJumpHack(tHackModule* module, std::uint32_t address, std::uint32_t target, std::uint32_t size)
    : CHackHack(module, address, size) {
  WriteJump(address, target, size);
}

CHackCallHack::CHackCallHack(tHackModule* module, std::uint32_t address, std::uint32_t target, std::uint32_t size)
    : CHackHack(module, address, size) {
  if (size < kCallNearLength) NotEnoughSpace("Not enough space to write call.");
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
  const std::uint32_t displacement = target - (address + kCallNearLength);
  bytes[0] = kCallNear;
  std::memcpy(bytes.get() + 1, &displacement, kRel32Size);
  std::memset(bytes.get() + kCallNearLength, kNop, size - kCallNearLength);
  WriteValues(address, size, bytes.get(), size);
}

CHackNOPHack::CHackNOPHack(tHackModule* module, std::uint32_t address, std::uint32_t size,
                           std::int32_t stackAdjustment)
    : CHackHack(module, address, size) {
  WriteStackAdjust(address, size, stackAdjustment);
}

CHackValueHack::CHackValueHack(tHackModule* module, std::uint32_t address, std::uint32_t value)
    : CHackHack(module, address, 4) {
  WriteValues(address, 4, &value, 4);
}

CHackValueHack::CHackValueHack(tHackModule* module, std::uint32_t address, std::uint8_t value)
    : CHackHack(module, address, 1) {
  WriteValues(address, 1, &value, 1);
}

CHackValueHack::CHackValueHack(tHackModule* module, std::uint32_t address, std::uint64_t value)
    : CHackHack(module, address, sizeof value) {
  WriteValues(address, sizeof value, &value, sizeof value);
}
