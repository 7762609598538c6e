// The drive table: a letter that stands for a host directory, and the host root for every other letter.
#include <platform/files.h>

#include <gtest/gtest.h>

#include <fstream>

#include <platform/errors.h>
#include <platform/text.h>

#include "temp_dir.h"

namespace {

TEST(DriveLetters, AMappedLetterStandsForItsDirectory) {
  TempDir cd;
  std::ofstream(cd.Host("title.wad")) << "cd";
  const std::u16string host = text::Utf8ToUtf16(std::string_view(cd.Host() + "/"));
  ASSERT_TRUE(platform::MapDriveLetter(u'd', host.c_str()));

  struct Case {
    const char16_t* path;
    DWORD attributes;
  };
  const Case cases[] = {
      {u"D:\\title.wad", FILE_ATTRIBUTE_NORMAL},
      {u"d:/TITLE.WAD", FILE_ATTRIBUTE_NORMAL},
      {u"D:title.wad", FILE_ATTRIBUTE_NORMAL},
      {u"D:\\", FILE_ATTRIBUTE_DIRECTORY},
      {u"D:\\missing.wad", INVALID_FILE_ATTRIBUTES},
      // Unmapped letters keep the host root.
      {u"E:\\tmp", FILE_ATTRIBUTE_DIRECTORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.path));
    const DWORD attributes = GetFileAttributesW(c.path);
    if (c.attributes == INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES);
    } else {
      ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, c.attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
  }
  EXPECT_EQ(platform::ToHostPath(u"D:\\title.wad"), cd.Host("title.wad"));

  ASSERT_TRUE(platform::MapDriveLetter(u'D', nullptr));
  EXPECT_EQ(platform::ToHostPath(u"D:\\tmp"), "/tmp");
}

TEST(DriveLetters, OnlyLettersCanBeMapped) {
  for (char16_t letter : {u'1', u':', u'\\', char16_t(0xC4), char16_t(0)}) {
    SetLastError(0);
    EXPECT_FALSE(platform::MapDriveLetter(letter, u"/tmp"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

}  // namespace
