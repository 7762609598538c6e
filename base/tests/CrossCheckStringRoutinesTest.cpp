// The Windows version comes from RtlGetVersion when the system has it, and then its
// status decides: a structure of the wrong size is refused rather than answered by
// the older call.
#include <gtest/gtest.h>

#include <platform/modules.h>
#include <platform/os.h>

#include <base/StringRoutines.h>

namespace {

TEST(CrossCheckWindowsVersion, RtlGetVersionsStatusDecides) {
  ASSERT_NE(GetModuleHandleW(u"ntdll.dll"), nullptr);
  OSVERSIONINFOW expected{};
  expected.dwOSVersionInfoSize = sizeof(expected);
  ASSERT_EQ(RtlGetVersion(&expected), STATUS_SUCCESS);

  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetWindowsVersion(&info));
  EXPECT_EQ(info.dwMajorVersion, expected.dwMajorVersion);
  EXPECT_EQ(info.dwMinorVersion, expected.dwMinorVersion);
  EXPECT_EQ(info.dwBuildNumber, expected.dwBuildNumber);
  EXPECT_EQ(info.dwPlatformId, expected.dwPlatformId);

  OSVERSIONINFOW tooSmall{};
  tooSmall.dwOSVersionInfoSize = 4;
  EXPECT_FALSE(GetWindowsVersion(&tooSmall));
  EXPECT_EQ(tooSmall.dwMajorVersion, 0u);
}

}  // namespace
