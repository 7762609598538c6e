// Version queries, ticks, clipboard (held in the process and through SDL), key modifiers, UTF-8
// conversions and the bool parser.
#include <engine/OS.h>

#include <platform/os.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/testing/PseudoExports.h>
#include <platform/ui.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "AssertionCapture.h"

// SDL is linked through the platform library; the tests drive it with its dummy video driver.
extern "C" {
int SDL_InitSubSystem(std::uint32_t flags);
void SDL_QuitSubSystem(std::uint32_t flags);
void SDL_SetModState(int modstate);
char* SDL_GetClipboardText(void);
int SDL_SetClipboardText(const char* text);
void SDL_free(void* memory);
}

namespace {

constexpr std::uint32_t kSdlInitVideo = 0x00000020u;

struct WideDeleter {
  void operator()(char16_t* p) const { delete[] p; }
};
using WidePtr = std::unique_ptr<char16_t[], WideDeleter>;

// Stand-ins for the system entries that the version queries look up, answering what this host never
// would (it reports Windows 10.0 and a 64-bit kernel).
NTSTATUS VersionSixOne(OSVERSIONINFOW* version) {
  version->dwMajorVersion = 6;
  version->dwMinorVersion = 1;
  return STATUS_SUCCESS;
}
NTSTATUS VersionFails(OSVERSIONINFOW*) { return STATUS_INVALID_PARAMETER; }
BOOL Wow64No(HANDLE, BOOL* wow64) {
  *wow64 = FALSE;
  return TRUE;
}
BOOL Wow64Fails(HANDLE, BOOL* wow64) {
  *wow64 = TRUE;
  return FALSE;
}

TEST(OSVersion, AsksTheSystemEntriesFoundAtRunTime) {
  using platform::testing::PseudoExportStandIn;
  // Major * 10 + minor with the version entry standing in as given (-1: the query fails), and whether the
  // structure's size was filled in.
  auto version = [](auto entry) {
    PseudoExportStandIn rtl(u"ntdll.dll", "RtlGetVersion", entry);
    OSVERSIONINFOW info{};
    if (!Vexil3D::OS::GetVersion(&info)) return std::pair{-1, false};
    return std::pair{int(info.dwMajorVersion * 10 + info.dwMinorVersion), info.dwOSVersionInfoSize == sizeof(info)};
  };
  auto wow64 = [](auto entry) {
    PseudoExportStandIn wow(u"kernel32.dll", "IsWow64Process", entry);
    return Vexil3D::OS::IsWow64();
  };
  // Without the entry GetVersionExW answers for this host.
  EXPECT_EQ((std::tuple{version(VersionSixOne), version(VersionFails), version(nullptr),
                        Vexil3D::OS::GetVersion(nullptr)}),
            (std::tuple{std::pair{61, true}, std::pair{-1, false}, std::pair{100, true}, false}));
  // A 32-bit process on this 64-bit kernel, unless the entry says otherwise, fails or is missing.
  EXPECT_EQ((std::tuple{Vexil3D::OS::IsWow64(), wow64(Wow64No), wow64(Wow64Fails), wow64(nullptr)}),
            (std::tuple{true, false, false, false}));
}

TEST(OSTicks, CountMillisecondsFromTheFirstUse) {
  const std::uint64_t first = Vexil3D::GetTicks();
  Sleep(30);
  const std::uint64_t second = Vexil3D::GetTicks();
  EXPECT_TRUE(second - first >= 25u && second - first < 5000u && Vexil3D::GetTicks() >= second) << second - first;
}

TEST(OSClipboard, HeldInsideTheProcessWithoutVideoAndEmptiedGivesNull) {
  const std::u16string text = u"caf\u00e9 \U0001F600 line\r\nnext";
  // Only the given length is taken.
  const struct {
    const char16_t* given;
    std::size_t length;
    std::u16string kept;
  } cases[] = {{text.c_str(), text.size(), text}, {u"abcdef", 3, u"abc"}, {u"", 0, u""}};
  for (const auto& c : cases) {
    ASSERT_TRUE(Vexil3D::OS::SetClipboardText(c.given, static_cast<unsigned>(c.length)));
    WidePtr back(Vexil3D::OS::GetClipboardText());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::u16string(back.get()), c.kept);
  }
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  ASSERT_TRUE(CloseClipboard());
  EXPECT_EQ(Vexil3D::OS::GetClipboardText(), nullptr);
}

TEST(OSClipboard, ClipboardOpenedElsewhereAssertsAndRefuses) {
  enginetest::AssertionCapture asserts;
  ASSERT_TRUE(OpenClipboard(nullptr));
  bool result = true;
  std::thread other([&result] { result = Vexil3D::OS::SetClipboardText(u"x", 1); });
  other.join();
  ASSERT_TRUE(CloseClipboard());
  EXPECT_EQ((std::tuple{result, asserts.Count(), asserts.LastNames(u"0")}), (std::tuple{false, 1u, true}));
}

// SDL's video subsystem with the dummy driver, shut again after the test.
class SdlVideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_InitSubSystem(kSdlInitVideo) != 0) GTEST_SKIP() << "no SDL video";
  }
  void TearDown() override {
    SDL_SetModState(0);
    SDL_QuitSubSystem(kSdlInitVideo);
  }
};

TEST_F(SdlVideoTest, ClipboardGoesThroughSdl) {
  const std::u16string text = u"gr\u00fc\u00df \U0001F600";
  ASSERT_TRUE(Vexil3D::OS::SetClipboardText(text.data(), static_cast<unsigned>(text.size())));
  char* utf8 = SDL_GetClipboardText();
  ASSERT_NE(utf8, nullptr);
  EXPECT_STREQ(utf8, "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
  SDL_free(utf8);

  ASSERT_EQ(SDL_SetClipboardText("from SDL"), 0);
  WidePtr back(Vexil3D::OS::GetClipboardText());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::u16string(back.get()), u"from SDL");
}

TEST_F(SdlVideoTest, ModifierBitsMapToTheEngineBits) {
  const struct { int sdl; std::uint32_t engine; } cases[] = {
      {0x0001, Vexil3D::MOD_LSHIFT},   {0x0002, Vexil3D::MOD_RSHIFT},     {0x0040, Vexil3D::MOD_LCTRL},
      {0x0080, Vexil3D::MOD_RCTRL},    {0x0100, Vexil3D::MOD_LALT},       {0x0200, Vexil3D::MOD_RALT},
      {0x0400, Vexil3D::MOD_LWIN},     {0x0800, Vexil3D::MOD_RWIN},       {0x1000, Vexil3D::MOD_NUMLOCK},
      {0x2000, Vexil3D::MOD_CAPSLOCK}, {0x8000, Vexil3D::MOD_SCROLLLOCK}, {0x4000, 0},
  };
  for (const auto& c : cases) {
    SDL_SetModState(c.sdl);
    EXPECT_EQ(Vexil3D::GetModState(), c.engine) << std::hex << c.sdl;
  }
  SDL_SetModState(0x0001 | 0x0080 | 0x2000);
  // Shift and control down, alt up, caps lock toggled on but not down.
  EXPECT_EQ((std::tuple{Vexil3D::GetModState(), (GetKeyState(VK_SHIFT) & 0x8000) != 0,
                        (GetKeyState(VK_CONTROL) & 0x8000) != 0, GetKeyState(VK_MENU), GetKeyState(VK_CAPITAL) & 0x8001}),
            (std::tuple{Vexil3D::MOD_LSHIFT | Vexil3D::MOD_RCTRL | Vexil3D::MOD_CAPSLOCK, true, true, SHORT(0), 1}));
}

TEST_F(SdlVideoTest, ScreenDpiNeverFails) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_THAT(GetDeviceCaps(screen, LOGPIXELSX), ::testing::AllOf(::testing::Ge(24), ::testing::Le(1200)));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

TEST(OSModifiers, NothingIsDownWithoutVideo) {
  HDC screen = GetDC(nullptr);
  EXPECT_EQ((std::tuple{Vexil3D::GetModState(), GetKeyState(VK_SHIFT), GetDeviceCaps(screen, LOGPIXELSX),
                        GetDeviceCaps(screen, LOGPIXELSY)}),
            (std::tuple{0u, SHORT(0), 96, 96}));
  ReleaseDC(nullptr, screen);
}

TEST(OSStrings, Utf8ConversionsRoundTrip) {
  const std::u16string wide = u"A\u00e9\u4e2d\U0001F600";
  std::uint32_t length = 0;
  std::unique_ptr<char[]> utf8(Vexil3D::WideToUtf8(wide.data(), static_cast<std::uint32_t>(wide.size()), &length));
  ASSERT_NE(utf8, nullptr);
  EXPECT_EQ((std::tuple{length, std::strlen(utf8.get())}), (std::tuple{1u + 2u + 3u + 4u, length}));
  WidePtr back(Vexil3D::Utf8ToWide(utf8.get(), length, &length));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ((std::tuple{length, std::u16string(back.get())}), (std::tuple{wide.size(), wide}));

  // A length of all ones measures up to the terminator.
  back.reset(Vexil3D::Utf8ToWide("abc", 0xFFFFFFFFu, &length));
  const std::uint32_t measured = length;
  std::unique_ptr<char[]> narrow(Vexil3D::WideToUtf8(u"xyz", 0xFFFFFFFFu, &length));
  EXPECT_EQ((std::tuple{measured, std::string(narrow.get()), Vexil3D::WideToUtf8(nullptr, 0, &length)}),
            (std::tuple{3u, "xyz", nullptr}));
}

struct BoolCase { const char16_t* text; bool accepted; bool value; };

class BoolParserTest : public ::testing::TestWithParam<BoolCase> {};

TEST_P(BoolParserTest, ParsesOnlyTheFourWords) {
  const BoolCase& c = GetParam();
  for (bool initial : {false, true}) {
    bool value = initial;
    EXPECT_EQ(Vexil3D::ParseBool(c.text, &value), c.accepted);
    EXPECT_EQ(value, c.accepted ? c.value : initial);
  }
  bool untouched = true;  // null is refused
  EXPECT_FALSE(Vexil3D::ParseBool(nullptr, &untouched));
  EXPECT_TRUE(untouched);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BoolParserTest,
    ::testing::Values(BoolCase{u"true", true, true}, BoolCase{u"1", true, true}, BoolCase{u"false", true, false},
                      BoolCase{u"0", true, false}, BoolCase{u"True", false, false}, BoolCase{u"TRUE", false, false},
                      BoolCase{u"yes", false, false}, BoolCase{u"no", false, false}, BoolCase{u"", false, false},
                      BoolCase{u" true", false, false}, BoolCase{u"true ", false, false},
                      BoolCase{u"01", false, false}, BoolCase{u"2", false, false}, BoolCase{u"truex", false, false},
                      BoolCase{u"-1", false, false}, BoolCase{u"fals", false, false}));

}  // namespace
