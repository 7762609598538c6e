// Modules over the dynamic loader, with pseudo-modules whose exports are registered in-process.
#include <platform/modules.h>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <platform/dialogs.h>
#include <platform/errors.h>
#include <platform/files.h>
#include <platform/os.h>
#include <platform/process.h>
#include <platform/testing/PseudoExports.h>
#include <platform/text.h>

#include "shared_entries.h"

namespace {

// ---------------------------------------------------------------------------
// Pseudo modules: system libraries whose few entries this program looks up.

struct PseudoExport {
  const char* name;
  FARPROC address;
};

struct PseudoModule {
  const char16_t* name;
  std::vector<PseudoExport> exports;
};

alignas(16) char g_pseudoImages[3][16];  // their distinct module handles

// Tests may stand other entries in (platform/testing/PseudoExports.h): addresses are read and
// replaced under this lock; the names never change.
std::mutex& PseudoExportMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

std::vector<PseudoModule>& PseudoModules() {
  static auto* modules = new std::vector<PseudoModule>{
      {u"Comctl32.dll", {{"TaskDialogIndirect", reinterpret_cast<FARPROC>(&TaskDialogIndirect)}}},
      {u"ntdll.dll", {{"RtlGetVersion", reinterpret_cast<FARPROC>(&RtlGetVersion)}}},
      {u"kernel32.dll",
       {{"IsWow64Process", reinterpret_cast<FARPROC>(&IsWow64Process)},
        // At one address in every process, as remote threads need them.
        {"LoadLibraryW", platform::detail::SharedEntryAddress(platform::detail::SharedEntry::LoadLibraryW)},
        {"FreeLibrary", platform::detail::SharedEntryAddress(platform::detail::SharedEntry::FreeLibrary)}}},
  };
  return *modules;
}

HMODULE PseudoHandle(std::size_t index) { return reinterpret_cast<HMODULE>(g_pseudoImages[index]); }

int PseudoIndex(HMODULE module) {
  for (std::size_t i = 0; i < 3; ++i)
    if (module == PseudoHandle(i)) return static_cast<int>(i);
  return -1;
}

// The last path component, "x.dll" and "x" alike.
std::u16string_view BaseName(std::u16string_view name) {
  const std::size_t slash = name.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? name : name.substr(slash + 1);
}

bool EndsWithDll(std::u16string_view name) {
  return name.size() >= 4 && text::CompareNoCase(name.substr(name.size() - 4), u".dll") == 0;
}

bool SameModuleName(std::u16string_view a, std::u16string_view b) {
  if (EndsWithDll(a)) a.remove_suffix(4);
  if (EndsWithDll(b)) b.remove_suffix(4);
  return text::CompareNoCase(a, b) == 0;
}

int FindPseudo(std::u16string_view name) {
  const std::u16string_view base = BaseName(name);
  const auto& modules = PseudoModules();
  for (std::size_t i = 0; i < modules.size(); ++i)
    if (SameModuleName(base, modules[i].name)) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------------------
// Host libraries and the game image

struct Library {
  HMODULE handle;  // the lowest mapped address of the library
  void* host;      // what the loader returned (one per load)
  std::string path;
  std::u16string name;  // as first asked for
  unsigned references;
};

struct GameImage {
  bool registered = false;
  char* base = nullptr;
  std::size_t size = 0;
  void* entry = nullptr;
  std::u16string path;
};

std::mutex& ModuleMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}
std::vector<Library>& Libraries() {
  static auto* libraries = new std::vector<Library>();
  return *libraries;
}
GameImage& Game() {
  static auto* image = new GameImage();
  return *image;
}

HMODULE BaseOfAddress(const void* address, std::string* path = nullptr) {
  Dl_info info;
  if (::dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return nullptr;
  if (path != nullptr && info.dli_fname != nullptr) *path = info.dli_fname;
  return reinterpret_cast<HMODULE>(info.dli_fbase);
}

HMODULE BaseOfLoaded(void* host) {
  link_map* map = nullptr;
  if (::dlinfo(host, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
  return BaseOfAddress(map->l_ld);
}

struct ImageSpan {
  const void* base;
  std::size_t size = 0;
  void* entry = nullptr;
  bool found = false;
  bool isMain = false;
  int index = 0;
};

// Size and entry point of the host module that starts at `base`.
int VisitModule(dl_phdr_info* info, size_t /*size*/, void* data) {
  auto* span = static_cast<ImageSpan*>(data);
  const int index = span->index++;
  std::uintptr_t low = UINTPTR_MAX, high = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    const std::uintptr_t start = info->dlpi_addr + header.p_vaddr;
    if (start < low) low = start;
    if (start + header.p_memsz > high) high = start + header.p_memsz;
  }
  const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  low &= ~(page - 1);
  if (low != reinterpret_cast<std::uintptr_t>(span->base)) return 0;
  span->found = true;
  span->isMain = index == 0;
  span->size = high - low;
  const auto* header = reinterpret_cast<const ElfW(Ehdr)*>(low);
  if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 && header->e_entry != 0 && header->e_type == ET_EXEC)
    span->entry = reinterpret_cast<void*>(header->e_entry);
  else if (std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 && header->e_entry != 0 && index == 0)
    span->entry = reinterpret_cast<void*>(info->dlpi_addr + header->e_entry);
  return 1;
}

ImageSpan SpanOf(HMODULE module) {
  ImageSpan span;
  span.base = module;
  ::dl_iterate_phdr(VisitModule, &span);
  return span;
}

HMODULE MainExecutable() {
  struct First {
    HMODULE base = nullptr;
  } first;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        std::uintptr_t low = UINTPTR_MAX;
        for (int i = 0; i < info->dlpi_phnum; ++i)
          if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_addr + info->dlpi_phdr[i].p_vaddr < low)
            low = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
        const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        static_cast<First*>(data)->base = reinterpret_cast<HMODULE>(low & ~(page - 1));
        return 1;
      },
      &first);
  return first.base;
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return std::string();
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

Library* FindLibrary(HMODULE module) {
  for (Library& library : Libraries())
    if (library.handle == module) return &library;
  return nullptr;
}

bool InGameImage(const void* address) {
  const GameImage& game = Game();
  const char* p = static_cast<const char*>(address);
  return game.registered && p >= game.base && p < game.base + game.size;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR fileName) {
  if (fileName == nullptr || fileName[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::u16string_view name(fileName);
  if (const int pseudo = FindPseudo(name); pseudo >= 0) return PseudoHandle(static_cast<std::size_t>(pseudo));

  // Candidate host names: the path as given, then "x.so" and "libx.so" for "x.dll".
  std::vector<std::string> candidates;
  const bool hasDirectory = name.find_first_of(u"\\/") != std::u16string_view::npos;
  candidates.push_back(hasDirectory ? platform::ToHostPath(fileName) : text::Utf16ToUtf8(name));
  if (EndsWithDll(name)) {
    const std::string stem = candidates[0].substr(0, candidates[0].size() - 4);
    candidates.push_back(stem + ".so");
    // "dir/x.dll" is also "dir/libx.so", as a bare "x.dll" is "libx.so".
    const std::size_t slash = stem.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    candidates.push_back(stem.substr(0, nameStart) + "lib" + stem.substr(nameStart) + ".so");
  }
  for (const std::string& candidate : candidates) {
    // Loaded outside the lock: a library's constructors may ask for modules themselves.
    void* host = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (host == nullptr) continue;
    const HMODULE handle = BaseOfLoaded(host);
    if (handle == nullptr) {
      ::dlclose(host);
      continue;
    }
    std::lock_guard<std::mutex> lock(ModuleMutex());
    if (Library* library = FindLibrary(handle)) {
      ::dlclose(host);  // the loader counts as well; one host handle per library is enough
      ++library->references;
      return handle;
    }
    std::string path;
    link_map* map = nullptr;
    if (::dlinfo(host, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) path = map->l_name;
    Libraries().push_back({handle, host, path, std::u16string(BaseName(name)), 1});
    return handle;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (PseudoIndex(module) >= 0) return TRUE;
  std::lock_guard<std::mutex> lock(ModuleMutex());
  auto& libraries = Libraries();
  for (auto it = libraries.begin(); it != libraries.end(); ++it) {
    if (it->handle != module) continue;
    if (--it->references == 0) {
      void* host = it->host;
      libraries.erase(it);
      ::dlclose(host);
    }
    return TRUE;
  }
  // Modules this program did not load (the game image, the executable) stay.
  if ((Game().registered && module == reinterpret_cast<HMODULE>(Game().base)) ||
      BaseOfAddress(module) == module)
    return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  // Ordinals (values below 0x10000) are not supported.
  if (procName == nullptr || reinterpret_cast<std::uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (const int pseudo = PseudoIndex(module); pseudo >= 0) {
    {
      std::lock_guard<std::mutex> lock(PseudoExportMutex());
      for (const PseudoExport& entry : PseudoModules()[static_cast<std::size_t>(pseudo)].exports)
        if (std::strcmp(entry.name, procName) == 0 && entry.address != nullptr) return entry.address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(ModuleMutex());
  if (module == nullptr || (Game().registered && module == reinterpret_cast<HMODULE>(Game().base))) {
    // The game image exports nothing this program may call by name.
    SetLastError(module == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = nullptr;
  if (Library* library = FindLibrary(module)) {
    symbol = ::dlsym(library->host, procName);
  } else {
    std::string path;
    if (BaseOfAddress(module, &path) != module) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    const ImageSpan span = SpanOf(module);
    void* host = ::dlopen(span.isMain ? nullptr : path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (host != nullptr) {
      symbol = ::dlsym(host, procName);
      ::dlclose(host);
    }
  }
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  std::lock_guard<std::mutex> lock(ModuleMutex());
  if (moduleName == nullptr) {
    if (Game().registered) return reinterpret_cast<HMODULE>(Game().base);
    return MainExecutable();
  }
  const std::u16string_view name(moduleName);
  if (const int pseudo = FindPseudo(name); pseudo >= 0) return PseudoHandle(static_cast<std::size_t>(pseudo));
  const std::u16string_view base = BaseName(name);
  for (const Library& library : Libraries()) {
    if (SameModuleName(base, library.name)) return library.handle;
    const std::u16string hostName = text::Utf8ToUtf16(library.path);
    if (SameModuleName(base, BaseName(hostName))) return library.handle;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  if (!(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
    *module = GetModuleHandleW(moduleName);
    return *module != nullptr ? TRUE : FALSE;
  }
  const void* address = moduleName;
  {
    std::lock_guard<std::mutex> lock(ModuleMutex());
    if (InGameImage(address)) {
      *module = reinterpret_cast<HMODULE>(Game().base);
      return TRUE;
    }
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const char* image = g_pseudoImages[i];
    if (address >= image && address < image + sizeof(g_pseudoImages[i])) {
      *module = PseudoHandle(i);
      return TRUE;
    }
  }
  *module = BaseOfAddress(address);
  if (*module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  std::u16string path;
  {
    std::lock_guard<std::mutex> lock(ModuleMutex());
    const GameImage& game = Game();
    if (game.registered && (module == nullptr || module == reinterpret_cast<HMODULE>(game.base))) {
      path = game.path;
    } else if (const int pseudo = PseudoIndex(module); pseudo >= 0) {
      path = PseudoModules()[static_cast<std::size_t>(pseudo)].name;
    } else if (module == nullptr || module == MainExecutable()) {
      path = text::Utf8ToUtf16(ExecutablePath());
    } else if (const Library* library = FindLibrary(module)) {
      path = text::Utf8ToUtf16(library->path);
    } else {
      std::string host;
      if (BaseOfAddress(module, &host) != module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
      }
      path = text::Utf8ToUtf16(host);
    }
  }
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::copy(path.begin(), path.begin() + (size - 1), fileName);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::copy(path.begin(), path.end(), fileName);
  fileName[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

BOOL GetModuleInformation(HANDLE process, HMODULE module, LPMODULEINFO moduleInfo, DWORD size) {
  if (process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (moduleInfo == nullptr || size < sizeof(MODULEINFO)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(ModuleMutex());
    const GameImage& game = Game();
    if (game.registered && module == reinterpret_cast<HMODULE>(game.base)) {
      moduleInfo->lpBaseOfDll = game.base;
      moduleInfo->SizeOfImage = static_cast<DWORD>(game.size);
      moduleInfo->EntryPoint = game.entry;
      return TRUE;
    }
  }
  if (const int pseudo = PseudoIndex(module); pseudo >= 0) {
    moduleInfo->lpBaseOfDll = module;
    moduleInfo->SizeOfImage = sizeof(g_pseudoImages[0]);
    moduleInfo->EntryPoint = nullptr;
    return TRUE;
  }
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const ImageSpan span = SpanOf(module);
  if (!span.found) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  moduleInfo->lpBaseOfDll = module;
  moduleInfo->SizeOfImage = static_cast<DWORD>(span.size);
  moduleInfo->EntryPoint = span.entry;
  return TRUE;
}

namespace platform::testing {

FARPROC ReplacePseudoExport(LPCWSTR module, LPCSTR name, FARPROC replacement) {
  const int pseudo = module != nullptr && name != nullptr ? FindPseudo(module) : -1;
  if (pseudo < 0) return nullptr;
  std::lock_guard<std::mutex> lock(PseudoExportMutex());
  for (PseudoExport& entry : PseudoModules()[static_cast<std::size_t>(pseudo)].exports) {
    if (std::strcmp(entry.name, name) != 0) continue;
    const FARPROC previous = entry.address;
    entry.address = replacement;
    return previous;
  }
  return nullptr;
}

}  // namespace platform::testing

namespace platform {

void RegisterGameImage(void* base, std::size_t size, LPCWSTR path, void* entryPoint) {
  std::lock_guard<std::mutex> lock(ModuleMutex());
  GameImage& game = Game();
  game.registered = base != nullptr;
  game.base = static_cast<char*>(base);
  game.size = size;
  game.entry = entryPoint;
  game.path = path != nullptr ? std::u16string(path) : std::u16string();
}

void UnregisterGameImage() {
  std::lock_guard<std::mutex> lock(ModuleMutex());
  Game() = GameImage();
}

}  // namespace platform
