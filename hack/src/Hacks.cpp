// The patch writers, the patch records and their overlap check.
#include <hack/Hacks.h>

#include <algorithm>
#include <cstring>
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

// Writes of two threads into one page must not hand each other's protection
// back half-way through.
std::mutex& WriteLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

[[noreturn]] void ProtectionFailed(std::uint32_t address) {
  char16_t where[512];
  FormatCodeAddress(address, where);
  const std::string text = "Failed to change the memory protection at " + text::Utf16ToUtf8(where) + ".";
  g_AppContext.AddError(text.c_str());
}

[[noreturn]] void NotEnoughSpace(const char* what) { g_AppContext.AddError(what); }

}  // namespace

void FormatCodeAddress(std::uint32_t address, char16_t buffer[512]) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(address)), &module) ||
      module == nullptr) {
    text::Format(buffer, 512, u"0x%X", address);
    return;
  }
  char16_t path[260] = {};
  GetModuleFileNameW(module, path, 260);
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
  text::Format(buffer, 512, u"%s+0x%X (0x%X)", name, address - base, address);
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
  std::uint8_t bytes[5];
  std::uint32_t length;
  if (distance >= -126 && distance <= 129 && size >= 2) {
    bytes[0] = 0xEB;
    bytes[1] = static_cast<std::uint8_t>(distance - 2);
    length = 2;
  } else if (size >= 5) {
    const std::uint32_t displacement = static_cast<std::uint32_t>(distance) - 5;
    bytes[0] = 0xE9;
    std::memcpy(bytes + 1, &displacement, 4);
    length = 5;
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
    std::uint8_t bytes[6];
    std::uint32_t length;
    if (magnitude <= 127) {
      if (left < 3) NotEnoughSpace(short_of);
      bytes[0] = 0x83;
      bytes[1] = subtract ? 0xEC : 0xC4;
      bytes[2] = static_cast<std::uint8_t>(magnitude);
      length = 3;
    } else {
      if (left < 6) NotEnoughSpace(short_of);
      bytes[0] = 0x81;
      bytes[1] = subtract ? 0xEC : 0xC4;
      std::memcpy(bytes + 2, &magnitude, 4);
      length = 6;
    }
    WriteValues(at, left, bytes, length);
    at += length;
    left -= length;
  }
  const std::uint32_t jumpLength = left <= 129 ? 2 : 5;
  if (left > jumpLength) {
    WriteJump(at, at + left, left);
  } else if (left > 0) {
    std::uint8_t nops[5];
    std::memset(nops, 0x90, sizeof nops);
    WriteValues(at, left, nops, left);
  }
}

CHackHack::CHackHack(tHackModule* module, std::uint32_t address, std::uint32_t size)
    : m_pModule(module), m_Address(address), m_Size(size), m_pSaved(new std::uint8_t[size > 0 ? size : 1]) {
  std::memcpy(m_pSaved.get(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), size);
  {
    RegistryLock registryLock;
    tHackModule* records[256];
    std::uint32_t count = GetHackModules(records, 256);
    std::unique_ptr<tHackModule*[]> more;
    tHackModule** list = records;
    if (count > 256) {
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
          char16_t here[512];
          char16_t there[512];
          FormatCodeAddress(address, here);
          FormatCodeAddress(hack->m_Address, there);
          char16_t message[2048];
          text::Format(message, 2048,
                       u"The hack being installed at %s by '%s' intersects with the hack installed at %s by '%s'.",
                       here, module->m_Name, there, other->m_Name);
          ShowErrorMessage(message);
          TerminateProcess(GetCurrentProcess(), 2);
          ExitProcess(2);
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
  if (size < 5) NotEnoughSpace("Not enough space to write call.");
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
  const std::uint32_t displacement = target - (address + 5);
  bytes[0] = 0xE8;
  std::memcpy(bytes.get() + 1, &displacement, 4);
  std::memset(bytes.get() + 5, 0x90, size - 5);
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
