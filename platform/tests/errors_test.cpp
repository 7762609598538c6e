// Last errors: errno translation and FormatMessageW's texts, allocation and refusals.
#include <platform/errors.h>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct ErrnoCase {
  int error;
  DWORD expected;
};

class ErrnoMapping : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMapping, GivesTheWin32Code) {
  EXPECT_EQ(platform::Win32ErrorFromErrno(GetParam().error), GetParam().expected);
  platform::SetLastErrorFromErrno(GetParam().error);
  EXPECT_EQ(GetLastError(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ErrnoMapping,
                         ::testing::Values(ErrnoCase{0, ERROR_SUCCESS}, ErrnoCase{ENOENT, ERROR_FILE_NOT_FOUND},
                                           ErrnoCase{ENOTDIR, ERROR_PATH_NOT_FOUND},
                                           ErrnoCase{EACCES, ERROR_ACCESS_DENIED},
                                           ErrnoCase{EPERM, ERROR_ACCESS_DENIED},
                                           ErrnoCase{EISDIR, ERROR_ACCESS_DENIED},
                                           ErrnoCase{EEXIST, ERROR_ALREADY_EXISTS},
                                           ErrnoCase{ENOSPC, ERROR_DISK_FULL},
                                           ErrnoCase{ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
                                           ErrnoCase{EBADF, ERROR_INVALID_HANDLE},
                                           ErrnoCase{EINVAL, ERROR_INVALID_PARAMETER},
                                           ErrnoCase{EMFILE, ERROR_TOO_MANY_OPEN_FILES},
                                           ErrnoCase{ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
                                           ErrnoCase{ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
                                           ErrnoCase{EPIPE, ERROR_BROKEN_PIPE}));

TEST(FormatMessage, SystemTextsEndInCrLf) {
  char16_t buffer[256];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      ERROR_FILE_NOT_FOUND, 0, buffer, 256, nullptr);
  EXPECT_EQ(std::u16string(buffer), u"The system cannot find the file specified.\r\n");
  EXPECT_EQ(length, std::u16string(buffer).size());
}

TEST(FormatMessage, AllocatesWhenAskedAndFreesWithLocalFree) {
  char16_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text, length), u"Access is denied.\r\n");
  EXPECT_EQ(LocalFree(text), nullptr);
}

TEST(FormatMessage, UnknownCodesAndShortBuffersFail) {
  char16_t buffer[8] = {u'#'};
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x7FFF1234, 0, buffer, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"x", 0, 0, buffer, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
