// The Win32 file semantics that the game-side streams and file system build on:
// seeks that fail leave the pointer, end of file reads zero bytes successfully,
// listings of empty or missing directories, attribute round trips and the
// directory chain's answers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include <platform/errors.h>
#include <platform/files.h>
#include <platform/sync.h>

#include "temp_dir.h"

namespace {

HANDLE OpenRW(const std::u16string& path, DWORD disposition, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, attributes, nullptr);
}

std::int64_t Pointer(HANDLE file) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER now;
  now.QuadPart = -1;
  EXPECT_TRUE(SetFilePointerEx(file, zero, &now, FILE_CURRENT));
  return now.QuadPart;
}

TEST(CrossCheckFiles, FailedSeeksLeaveThePointerAndEndOfFileReadsNothing) {
  TempDir dir;
  HANDLE file = OpenRW(dir.Win("seek.bin"), CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(Pointer(file), 10);

  struct {
    std::int64_t distance;
    DWORD method;
  } refusals[] = {{-1, FILE_BEGIN}, {-11, FILE_CURRENT}, {-11, FILE_END}};
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.method);
    LARGE_INTEGER distance;
    distance.QuadPart = refusal.distance;
    SetLastError(0);
    EXPECT_FALSE(SetFilePointerEx(file, distance, nullptr, refusal.method));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(Pointer(file), 10);
  }
  // Origins beyond FILE_END are not passed to the host (where they mean data and holes).
  for (DWORD method : {3u, 4u, 5u}) {
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    EXPECT_FALSE(SetFilePointerEx(file, distance, nullptr, method));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Pointer(file), 10);
  }
  // Past the end is a valid place; reading there succeeds with nothing.
  LARGE_INTEGER distance;
  distance.QuadPart = 5;
  LARGE_INTEGER now;
  ASSERT_TRUE(SetFilePointerEx(file, distance, &now, FILE_END));
  EXPECT_EQ(now.QuadPart, 15);
  char buffer[4];
  done = 99;
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_EQ(size.QuadPart, 10);
  CloseHandle(file);
}

TEST(CrossCheckFiles, ListingsOfEmptyAndMissingDirectories) {
  TempDir dir;
  ASSERT_TRUE(CreateDirectoryW(dir.Win("empty").c_str(), nullptr));
  WIN32_FIND_DATAW data;
  // "." and ".." are never reported, so an empty directory has no first entry.
  EXPECT_EQ(FindFirstFileW((dir.Win("empty") + u"\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW((dir.Win("missing") + u"\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A listing ends with ERROR_NO_MORE_FILES.
  std::ofstream(dir.Host("empty/one.txt")) << "1";
  HANDLE find = FindFirstFileW((dir.Win("empty") + u"\\*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"one.txt");
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(find));
}

TEST(CrossCheckFiles, ExistenceDirectoryTestsAndAttributes) {
  TempDir dir;
  std::ofstream(dir.Host("File.TXT")) << "x";
  ASSERT_TRUE(CreateDirectoryW(dir.Win("Sub").c_str(), nullptr));
  // Names are found whatever their case; a directory answers FILE_ATTRIBUTE_DIRECTORY.
  EXPECT_TRUE(PathFileExistsW(dir.Win("file.txt").c_str()));
  EXPECT_FALSE(PathIsDirectoryW(dir.Win("file.txt").c_str()));
  EXPECT_EQ(PathIsDirectoryW(dir.Win("SUB").c_str()), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(PathFileExistsW(dir.Win("nothing").c_str()));
  EXPECT_EQ(GetFileAttributesW(dir.Win("nothing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const std::u16string file = dir.Win("file.txt");
  EXPECT_EQ(GetFileAttributesW(file.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // Windows refuses to replace a read-only file, and leaves it as it was.
  EXPECT_EQ(OpenRW(file, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  struct stat info;
  ASSERT_EQ(stat(dir.Host("File.TXT").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 1);
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  HANDLE replaced = OpenRW(file, CREATE_ALWAYS);
  ASSERT_NE(replaced, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(replaced, &size));
  EXPECT_EQ(size.QuadPart, 0);
  CloseHandle(replaced);
  // The name that existed is the one replaced, not a second file in another case.
  EXPECT_NE(stat(dir.Host("file.txt").c_str(), &info), 0);
  EXPECT_EQ(stat(dir.Host("File.TXT").c_str(), &info), 0);
}

TEST(CrossCheckFiles, DirectoryChainAnswers) {
  TempDir dir;
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, dir.Win("a\\b\\c").c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(PathIsDirectoryW(dir.Win("a\\b\\c").c_str()));
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, dir.Win("a\\b").c_str(), nullptr), ERROR_ALREADY_EXISTS);
  std::ofstream(dir.Host("plain")) << "p";
  EXPECT_NE(SHCreateDirectoryExW(nullptr, dir.Win("plain\\below").c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_FALSE(CreateDirectoryW(dir.Win("a").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(dir.Win("x\\y").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
