// The platform layer's core alone, linked as the script runner links it: the path helpers bring the handle table
// and with it processes, modules and dialogs, yet no display or sound library is loaded, and a message box asks
// on the console.
#include <platform/dialogs.h>
#include <platform/files.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

TEST(PlatformCoreAlone, LoadsNoDisplayOrSoundLibrary) {
  EXPECT_FALSE(platform::ToHostPath(u"C:\\Games\\data.bin").empty());
  for (const char* library : {"libSDL2-2.0.so.0", "libsndfile.so.1"}) {
    void* handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_EQ(handle, nullptr) << library;
    if (handle != nullptr) dlclose(handle);
  }
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "SDL_ShowMessageBox"), nullptr);
}

struct BoxCase {
  UINT type;
  int atEndOfInput;
};

TEST(PlatformCoreAlone, MessageBoxesGiveTheConsoleAnswerWithoutSdl) {
  const BoxCase cases[] = {{MB_OK, IDOK}, {MB_OKCANCEL, IDCANCEL}, {MB_YESNO, IDNO}, {MB_ABORTRETRYIGNORE, IDIGNORE}};
  std::fflush(stdout);
  const int savedIn = ::dup(0);
  const int empty = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(empty, 0);
  ::dup2(empty, 0);
  ::close(empty);
  for (const BoxCase& c : cases) {
    std::clearerr(stdin);
    EXPECT_EQ(MessageBoxW(nullptr, u"Go on?", u"Core", c.type | MB_ICONERROR), c.atEndOfInput) << c.type;
  }
  ::dup2(savedIn, 0);
  ::close(savedIn);
  std::clearerr(stdin);
}

}  // namespace
