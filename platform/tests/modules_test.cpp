// Modules: pseudo-modules and their exports, host libraries, the game image and address lookups.
#include <platform/modules.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include <platform/dialogs.h>
#include <platform/errors.h>
#include <platform/os.h>
#include <platform/process.h>
#include <platform/text.h>

namespace {

int LocalFunction() { return 17; }

TEST(PseudoModules, AnswerTheirEntriesWhateverTheCase) {
  for (const char16_t* name : {u"Comctl32.dll", u"COMCTL32.DLL", u"comctl32", u"C:\\Windows\\System32\\comctl32.dll"}) {
    HMODULE module = LoadLibraryW(name);
    ASSERT_NE(module, nullptr) << text::Utf16ToUtf8(name);
    EXPECT_EQ(GetProcAddress(module, "TaskDialogIndirect"), reinterpret_cast<FARPROC>(&TaskDialogIndirect));
    EXPECT_EQ(GetProcAddress(module, "taskdialogindirect"), nullptr) << "entry names are case-sensitive";
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));
  }
  HMODULE ntdll = LoadLibraryW(u"ntdll.dll");
  EXPECT_EQ(GetProcAddress(ntdll, "RtlGetVersion"), reinterpret_cast<FARPROC>(&RtlGetVersion));
  EXPECT_EQ(GetModuleHandleW(u"NTDLL.DLL"), ntdll);
  HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  EXPECT_NE(kernel32, ntdll);
  using IsWow64 = BOOL (*)(HANDLE, BOOL*);
  auto isWow64 = reinterpret_cast<IsWow64>(GetProcAddress(kernel32, "IsWow64Process"));
  ASSERT_NE(isWow64, nullptr);
  BOOL viaPointer = 2, direct = 3;
  EXPECT_TRUE(isWow64(GetCurrentProcess(), &viaPointer));
  EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &direct));
  EXPECT_EQ(viaPointer, direct);
  EXPECT_EQ(GetProcAddress(kernel32, reinterpret_cast<LPCSTR>(1)), nullptr) << "ordinals are not supported";
}

TEST(HostLibraries, LoadCountAndFree) {
  EXPECT_EQ(LoadLibraryW(u"no-such-library-anywhere.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  // "m.dll" finds the host's libm through "libm.so".
  HMODULE first = LoadLibraryW(u"libm.so.6");
  ASSERT_NE(first, nullptr) << dlerror();
  HMODULE second = LoadLibraryW(u"libm.so.6");
  EXPECT_EQ(first, second);
  auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(first, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetModuleHandleW(u"LIBM.SO.6"), first);
  EXPECT_EQ(GetProcAddress(first, "no_such_symbol_here"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  char16_t path[512];
  ASSERT_GT(GetModuleFileNameW(first, path, 512), 0u);
  EXPECT_NE(text::Utf16ToUtf8(path).find("libm"), std::string::npos);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleW(u"libm.so.6"), first) << "one reference is left";
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(GetModuleHandleW(u"libm.so.6"), nullptr);
}

TEST(GameImage, AnswersTheMainModuleQueries) {
  static unsigned char image[0x2000];
  HMODULE host = GetModuleHandleW(nullptr);
  ASSERT_NE(host, nullptr);
  platform::RegisterGameImage(image, sizeof(image), u"C:\\Games\\Quorvant\\game.exe", image + 0x100);
  EXPECT_EQ(GetModuleHandleW(nullptr), reinterpret_cast<HMODULE>(image));
  MODULEINFO info{};
  ASSERT_TRUE(GetModuleInformation(GetCurrentProcess(), GetModuleHandleW(nullptr), &info, sizeof(info)));
  EXPECT_EQ(info.lpBaseOfDll, image);
  EXPECT_EQ(info.SizeOfImage, sizeof(image));
  EXPECT_EQ(info.EntryPoint, image + 0x100);
  HMODULE from = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(image + 0x1FFF), &from));
  EXPECT_EQ(from, reinterpret_cast<HMODULE>(image));
  char16_t path[64];
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, 64), 26u);
  EXPECT_EQ(std::u16string(path), u"C:\\Games\\Quorvant\\game.exe");
  // Truncated, terminated, and reported as such.
  char16_t small[8];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(small), u"C:\\Game");
  EXPECT_FALSE(GetModuleInformation(GetCurrentProcess(), GetModuleHandleW(nullptr), &info, sizeof(info) - 1));
  platform::UnregisterGameImage();
  EXPECT_EQ(GetModuleHandleW(nullptr), host);
}

TEST(HostModules, AddressesNameTheirModule) {
  HMODULE self = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCWSTR>(&LocalFunction), &self));
  // The test executable is the main module while no game image is registered.
  EXPECT_EQ(self, GetModuleHandleW(nullptr));
  MODULEINFO info{};
  ASSERT_TRUE(GetModuleInformation(GetCurrentProcess(), self, &info, sizeof(info)));
  const auto* base = static_cast<const char*>(info.lpBaseOfDll);
  const auto* function = reinterpret_cast<const char*>(&LocalFunction);
  EXPECT_LE(base, function);
  EXPECT_LT(function, base + info.SizeOfImage);
  EXPECT_NE(info.EntryPoint, nullptr);
  char16_t path[1024];
  ASSERT_GT(GetModuleFileNameW(self, path, 1024), 0u);
  EXPECT_NE(text::Utf16ToUtf8(path).find("platform_tests"), std::string::npos);
  HMODULE none = reinterpret_cast<HMODULE>(1);
  EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(8), &none));
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"never-loaded.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LocalFunction(), 17);
}

}  // namespace
