// The host file API: dispositions, transfers, seeks, sizes, times, attributes, directories, paths and finds.
#include <platform/files.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <platform/errors.h>
#include <platform/text.h>

#include "temp_dir.h"

namespace {

void WriteHostFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LARGE_INTEGER Large(LONGLONG value) {
  LARGE_INTEGER result;
  result.QuadPart = value;
  return result;
}

// ---------------------------------------------------------------------------
// Dispositions

struct DispositionCase {
  const char* name;
  DWORD disposition;
  bool exists;
  bool succeeds;
  DWORD lastError;         // after the call
  const char* contentAfter;  // of the file after open and close; null: no file
};

class Disposition : public ::testing::TestWithParam<DispositionCase> {};

TEST_P(Disposition, BehavesAsOnWindows) {
  const DispositionCase& c = GetParam();
  TempDir dir;
  const std::string host = dir.Host("file.txt");
  if (c.exists) WriteHostFile(host, "old");
  SetLastError(12345);
  HANDLE file = CreateFileW(dir.Win("file.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(GetLastError(), c.lastError);
  EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.succeeds);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (c.contentAfter == nullptr) {
    EXPECT_NE(::access(host.c_str(), F_OK), 0);
  } else {
    EXPECT_EQ(ReadHostFile(host), c.contentAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Disposition,
    ::testing::Values(DispositionCase{"CreateNewMissing", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
                      DispositionCase{"CreateNewExisting", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
                      DispositionCase{"CreateAlwaysMissing", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
                      DispositionCase{"CreateAlwaysExisting", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
                      DispositionCase{"OpenExistingMissing", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND,
                                      nullptr},
                      DispositionCase{"OpenExistingExisting", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
                      DispositionCase{"OpenAlwaysMissing", OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
                      DispositionCase{"OpenAlwaysExisting", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
                      DispositionCase{"TruncateExistingMissing", TRUNCATE_EXISTING, false, false,
                                      ERROR_FILE_NOT_FOUND, nullptr},
                      DispositionCase{"TruncateExistingExisting", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
                      DispositionCase{"ZeroIsInvalid", 0, true, false, ERROR_INVALID_PARAMETER, "old"},
                      DispositionCase{"SixIsInvalid", 6, false, false, ERROR_INVALID_PARAMETER, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateFile, MissingDirectoryIsPathNotFound) {
  TempDir dir;
  EXPECT_EQ(CreateFileW(dir.Win("nope\\file.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateFileW(dir.Win("nope\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(CreateFile, DirectoryCannotBeOpenedAsAFile) {
  TempDir dir;
  for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS}) {
    EXPECT_EQ(CreateFileW(dir.Win().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, disposition, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
}

TEST(CreateFile, ReadOnlyFileRefusesWritingEvenForRoot) {
  TempDir dir;
  const std::string host = dir.Host("ro.txt");
  WriteHostFile(host, "keep");
  ::chmod(host.c_str(), 0444);
  for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS, TRUNCATE_EXISTING}) {
    EXPECT_EQ(CreateFileW(dir.Win("ro.txt").c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(ReadHostFile(host), "keep");
  HANDLE reader = CreateFileW(dir.Win("ro.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
}

TEST(CreateFile, NewFileTakesTheReadOnlyAttribute) {
  TempDir dir;
  HANDLE file = CreateFileW(dir.Win("new.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr)) << "the creating handle may still write";
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesW(dir.Win("new.txt").c_str()), FILE_ATTRIBUTE_READONLY);
  // Overwriting a writable file with the attribute makes it read-only as well.
  WriteHostFile(dir.Host("old.txt"), "old");
  file = CreateFileW(dir.Win("old.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(WriteFile(file, "new", 3, &written, nullptr));
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesW(dir.Win("old.txt").c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReadHostFile(dir.Host("old.txt")), "new");
}

// ---------------------------------------------------------------------------
// Reading, writing, seeking

TEST(ReadWrite, LargeTransfersRoundTrip) {
  TempDir dir;
  std::vector<unsigned char> data(8 * 1024 * 1024 + 123);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  HANDLE file = CreateFileW(dir.Win("big.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
  EXPECT_EQ(written, data.size());
  LARGE_INTEGER position;
  ASSERT_TRUE(SetFilePointerEx(file, Large(0), &position, FILE_BEGIN));
  std::vector<unsigned char> back(data.size() + 100);
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(file, back.data(), static_cast<DWORD>(back.size()), &read, nullptr));
  EXPECT_EQ(read, data.size()) << "a read must return the whole rest of the file";
  back.resize(read);
  EXPECT_TRUE(back == data);
  // At the end: success with 0 bytes.
  ASSERT_TRUE(ReadFile(file, back.data(), 10, &read, nullptr));
  EXPECT_EQ(read, 0u);
  CloseHandle(file);
}

// Signals without SA_RESTART interrupt blocking transfers; both calls must carry on.
TEST(ReadWrite, InterruptedTransfersCarryOn) {
  TempDir dir;
  const std::string fifo = dir.Host("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct sigaction action {}, previous{};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

  constexpr DWORD kSize = 1 << 20;  // far more than a pipe holds
  std::vector<unsigned char> data(kSize);
  for (DWORD i = 0; i < kSize; ++i) data[i] = static_cast<unsigned char>(i * 7);
  std::atomic<bool> writerDone{false};
  BOOL writeResult = FALSE;
  DWORD written = 0;
  std::thread writer([&] {
    HANDLE out = CreateFileW(dir.Win("pipe").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    writeResult = WriteFile(out, data.data(), kSize, &written, nullptr);
    CloseHandle(out);
    writerDone = true;
  });
  HANDLE in = CreateFileW(dir.Win("pipe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  // The writer blocks on the full pipe: interrupt it a few times.
  for (int i = 0; i < 20 && !writerDone; ++i) {
    ::pthread_kill(writer.native_handle(), SIGUSR1);
    ::usleep(2000);
  }
  std::vector<unsigned char> back;
  std::vector<unsigned char> chunk(65536);
  for (;;) {
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(in, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr));
    if (got == 0) break;
    back.insert(back.end(), chunk.begin(), chunk.begin() + got);
  }
  writer.join();
  CloseHandle(in);
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(writeResult);
  EXPECT_EQ(written, kSize);
  EXPECT_TRUE(back == data);
}

TEST(ReadWrite, InterruptedReadWaitsForData) {
  TempDir dir;
  const std::string fifo = dir.Host("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct sigaction action {}, previous{};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  std::atomic<bool> reading{false};
  BOOL readResult = FALSE;
  DWORD got = 0;
  char buffer[16] = {};
  std::thread reader([&] {
    HANDLE in = CreateFileW(dir.Win("pipe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    reading = true;
    readResult = ReadFile(in, buffer, sizeof(buffer), &got, nullptr);
    CloseHandle(in);
  });
  HANDLE out = CreateFileW(dir.Win("pipe").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  while (!reading) ::usleep(1000);
  for (int i = 0; i < 5; ++i) {
    ::usleep(5000);
    ::pthread_kill(reader.native_handle(), SIGUSR1);
  }
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(out, "hello", 5, &written, nullptr));
  reader.join();
  CloseHandle(out);
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(readResult) << "an interrupted read must not fail";
  EXPECT_EQ(std::string(buffer, got), "hello");
}

TEST(ReadWrite, AccessRightsAreEnforced) {
  TempDir dir;
  WriteHostFile(dir.Host("f"), "abc");
  HANDLE reader = CreateFileW(dir.Win("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD count = 99;
  EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(SetEndOfFile(reader));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE writer = CreateFileW(dir.Win("f").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  char buffer[4];
  EXPECT_FALSE(ReadFile(writer, buffer, 3, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  OVERLAPPED overlapped{};
  EXPECT_FALSE(ReadFile(reader, buffer, 3, &count, &overlapped));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(reader);
  CloseHandle(writer);
  EXPECT_FALSE(ReadFile(reader, buffer, 3, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Seek, OriginsAndRefusals) {
  TempDir dir;
  WriteHostFile(dir.Host("f"), "0123456789");
  HANDLE file = CreateFileW(dir.Win("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER position;
  ASSERT_TRUE(SetFilePointerEx(file, Large(4), &position, FILE_BEGIN));
  EXPECT_EQ(position.QuadPart, 4);
  ASSERT_TRUE(SetFilePointerEx(file, Large(-1), &position, FILE_CURRENT));
  EXPECT_EQ(position.QuadPart, 3);
  ASSERT_TRUE(SetFilePointerEx(file, Large(-2), &position, FILE_END));
  EXPECT_EQ(position.QuadPart, 8);
  // 3 and 4 would be SEEK_DATA and SEEK_HOLE on the host: refused, position kept.
  for (DWORD origin : {3u, 4u, 5u, 0xFFFFFFFFu}) {
    SetLastError(0);
    EXPECT_FALSE(SetFilePointerEx(file, Large(0), &position, origin)) << origin;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_FALSE(SetFilePointerEx(file, Large(-9), &position, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_FALSE(SetFilePointerEx(file, Large(-1), nullptr, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_FALSE(SetFilePointerEx(file, Large(INT64_MIN), nullptr, FILE_END));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  ASSERT_TRUE(SetFilePointerEx(file, Large(0), &position, FILE_CURRENT));
  EXPECT_EQ(position.QuadPart, 8);
  // Beyond the end is allowed; reads there give nothing.
  ASSERT_TRUE(SetFilePointerEx(file, Large(100), &position, FILE_BEGIN));
  char buffer[4];
  DWORD read = 1;
  EXPECT_TRUE(ReadFile(file, buffer, 4, &read, nullptr));
  EXPECT_EQ(read, 0u);
  CloseHandle(file);
}

TEST(Seek, SparseFileBeyondFourGigabytes) {
  TempDir dir;
  HANDLE file = CreateFileW(dir.Win("sparse.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const LONGLONG far = (LONGLONG{1} << 32) + 4096 + 5;
  LARGE_INTEGER position;
  ASSERT_TRUE(SetFilePointerEx(file, Large(far), &position, FILE_BEGIN));
  EXPECT_EQ(position.QuadPart, far);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "tail", 4, &written, nullptr));
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_EQ(size.QuadPart, far + 4);
  ASSERT_TRUE(SetFilePointerEx(file, Large(-4), &position, FILE_END));
  EXPECT_EQ(position.QuadPart, far);
  char buffer[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(file, buffer, sizeof(buffer), &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(std::string(buffer, 4), "tail");
  // Truncating in the hole, above 4 GiB.
  ASSERT_TRUE(SetFilePointerEx(file, Large((LONGLONG{1} << 32) + 1), nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  ASSERT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_EQ(size.QuadPart, (LONGLONG{1} << 32) + 1);
  CloseHandle(file);
}

TEST(SetEndOfFile, ShortensAndExtends) {
  TempDir dir;
  WriteHostFile(dir.Host("f"), "0123456789");
  HANDLE file = CreateFileW(dir.Win("f").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(SetFilePointerEx(file, Large(3), nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  ASSERT_TRUE(FlushFileBuffers(file));
  EXPECT_EQ(ReadHostFile(dir.Host("f")), "012");
  ASSERT_TRUE(SetFilePointerEx(file, Large(6), nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(ReadHostFile(dir.Host("f")), std::string("012\0\0\0", 6));
  CloseHandle(file);
}

// ---------------------------------------------------------------------------
// Times and attributes

TEST(FileTime, RoundTripsAndUsesTheWindowsEpoch) {
  TempDir dir;
  HANDLE file = CreateFileW(dir.Win("t").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // 2020-01-01 00:00:00 UTC = 1577836800 s since 1970.
  const std::uint64_t ticks = (1577836800ULL + 11644473600ULL) * 10000000ULL + 1234500;
  FILETIME write{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &write));
  FILETIME creation{}, access{}, back{};
  ASSERT_TRUE(GetFileTime(file, &creation, &access, &back));
  EXPECT_EQ(back.dwLowDateTime, write.dwLowDateTime);
  EXPECT_EQ(back.dwHighDateTime, write.dwHighDateTime);
  CloseHandle(file);
  struct stat info;
  ASSERT_EQ(::stat(dir.Host("t").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1577836800);
  EXPECT_EQ(info.st_mtim.tv_nsec, 123450000);
}

TEST(Attributes, ReadOnlyIsTheOwnerWriteBit) {
  TempDir dir;
  WriteHostFile(dir.Host("f"), "x");
  ::chmod(dir.Host("f").c_str(), 0664);
  const std::u16string name = dir.Win("f");
  EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY));
  struct stat info;
  ::stat(dir.Host("f").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0444u);
  EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(DeleteFileW(name.c_str())) << "Windows does not delete read-only files";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL));
  ::stat(dir.Host("f").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(GetFileAttributesW(name.c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(DeleteFileW(name.c_str()));
  EXPECT_EQ(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(dir.Win().c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(dir.Win("a\\b").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(SetFileAttributesW(dir.Win("missing").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// ---------------------------------------------------------------------------
// Directories and names

TEST(Directories, CreateRemoveAndTheirErrors) {
  TempDir dir;
  const std::u16string sub = dir.Win("sub");
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(sub.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryW(dir.Win("x\\y").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(PathIsDirectoryW(sub.c_str()));
  EXPECT_TRUE(PathFileExistsW(sub.c_str()));
  WriteHostFile(dir.Host("sub/f"), "1");
  EXPECT_FALSE(PathIsDirectoryW(dir.Win("sub\\f").c_str()));
  EXPECT_TRUE(PathFileExistsW(dir.Win("sub\\f").c_str()));
  EXPECT_FALSE(DeleteFileW(sub.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RemoveDirectoryW(sub.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(RemoveDirectoryW(dir.Win("sub\\f").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_TRUE(DeleteFileW(dir.Win("sub\\f").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(sub.c_str()));
  EXPECT_FALSE(PathFileExistsW(sub.c_str()));
}

TEST(Directories, ChainCreatesEveryMissingLevel) {
  TempDir dir;
  const std::u16string deep = dir.Win("a\\b/c\\d");
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), static_cast<int>(ERROR_SUCCESS));
  EXPECT_TRUE(PathIsDirectoryW(deep.c_str()));
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), static_cast<int>(ERROR_ALREADY_EXISTS));
  // With a trailing separator, and through an existing part spelt in another case.
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, dir.Win("A\\B\\e\\").c_str(), nullptr), static_cast<int>(ERROR_SUCCESS));
  struct stat info;
  EXPECT_EQ(::stat(dir.Host("a/b/e").c_str(), &info), 0);
  // A file in the way.
  WriteHostFile(dir.Host("file"), "");
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, dir.Win("file").c_str(), nullptr), static_cast<int>(ERROR_FILE_EXISTS));
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, dir.Win("file\\x").c_str(), nullptr),
            static_cast<int>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, u"", nullptr), static_cast<int>(ERROR_BAD_PATHNAME));
}

TEST(Paths, MissingComponentsMatchCaseInsensitively) {
  TempDir dir;
  ::mkdir(dir.Host("GameData").c_str(), 0777);
  ::mkdir(dir.Host("GameData/Levels").c_str(), 0777);
  WriteHostFile(dir.Host("GameData/Levels/Start.LVL"), "level");
  const std::u16string spelt = dir.Win("gamedata\\LEVELS\\start.lvl");
  EXPECT_EQ(platform::ToHostPath(spelt.c_str()), dir.Host("GameData/Levels/Start.LVL"));
  HANDLE file = CreateFileW(spelt.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[8];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
  EXPECT_EQ(std::string(buffer, read), "level");
  CloseHandle(file);
  // A new file lands in the existing directory, keeping its own spelling.
  HANDLE created = CreateFileW(dir.Win("GAMEDATA\\New.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);
  EXPECT_EQ(::access(dir.Host("GameData/New.txt").c_str(), F_OK), 0);
  // Replacing a name spelt in another case replaces the file that exists, not a second one beside it.
  created = CreateFileW(dir.Win("gamedata\\new.TXT").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(created);
  EXPECT_NE(::access(dir.Host("GameData/new.TXT").c_str(), F_OK), 0);
  // An exact name wins over a case-folded one; among folded ones the choice is stable.
  ::mkdir(dir.Host("data").c_str(), 0777);
  ::mkdir(dir.Host("Data").c_str(), 0777);
  EXPECT_EQ(platform::ToHostPath(dir.Win("data\\x").c_str()), dir.Host("data/x"));
  EXPECT_EQ(platform::ToHostPath(dir.Win("DATA\\x").c_str()), dir.Host("Data/x"));
  // Below a missing component nothing is looked up.
  EXPECT_EQ(platform::ToHostPath(dir.Win("none\\GAMEDATA").c_str()), dir.Host("none/GAMEDATA"));
  EXPECT_EQ(platform::ToHostPath(nullptr), "");
  EXPECT_EQ(platform::ToHostPath(u"C:\\no-such-dir-here\\x"), "/no-such-dir-here/x");
}

TEST(Find, ListsWithoutDotEntriesAndMatchesWildcards) {
  TempDir dir;
  WriteHostFile(dir.Host("alpha.txt"), "12345");
  WriteHostFile(dir.Host("Beta.TXT"), "");
  WriteHostFile(dir.Host("gamma.dat"), "");
  ::mkdir(dir.Host("sub").c_str(), 0777);

  auto list = [&](const std::string& pattern, DWORD* error) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(dir.Win(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return names;
    }
    do {
      names.push_back(text::Utf16ToUtf8(data.cFileName));
      if (names.back() == "alpha.txt") {
        EXPECT_EQ(data.nFileSizeLow, 5u);
        EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
      }
      if (names.back() == "sub") {
        EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
      }
    } while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    *error = 0;
    std::sort(names.begin(), names.end());
    return names;
  };
  DWORD error = 0;
  using V = std::vector<std::string>;
  EXPECT_EQ(list("*", &error), (V{"Beta.TXT", "alpha.txt", "gamma.dat", "sub"}));
  EXPECT_EQ(list("*.*", &error), (V{"Beta.TXT", "alpha.txt", "gamma.dat", "sub"}));
  EXPECT_EQ(list("*.txt", &error), (V{"Beta.TXT", "alpha.txt"}));
  EXPECT_EQ(list("?amma.*", &error), (V{"gamma.dat"}));
  EXPECT_EQ(list("SUB", &error), (V{"sub"}));
  EXPECT_TRUE(list("*.none", &error).empty());
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(list("sub\\*", &error).empty()) << "an empty directory has no entries, not even . and ..";
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(list("missing\\*", &error).empty());
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

TEST(Find, RootsListTheHostRoot) {
  for (const char16_t* pattern : {u"\\TMP", u"C:\\tmp", u"/t?p"}) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << text::Utf16ToUtf8(pattern);
    EXPECT_EQ(std::u16string(data.cFileName), u"tmp");
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    FindClose(find);
  }
}

TEST(Find, HandleClosesWithCloseHandleToo) {
  TempDir dir;
  WriteHostFile(dir.Host("a"), "");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(dir.Win("*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(find));
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindClose(find));
}

TEST(CurrentDirectory, ReportsSizesAsWin32Does) {
  char host[4096];
  ASSERT_NE(::getcwd(host, sizeof(host)), nullptr);
  const std::u16string expected = text::Utf8ToUtf16(std::string_view(host));
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  EXPECT_EQ(needed, expected.size() + 1);
  std::vector<char16_t> small(needed - 1, u'#');
  EXPECT_EQ(GetCurrentDirectoryW(static_cast<DWORD>(small.size()), small.data()), needed);
  std::vector<char16_t> buffer(needed);
  EXPECT_EQ(GetCurrentDirectoryW(needed, buffer.data()), needed - 1);
  EXPECT_EQ(std::u16string(buffer.data()), expected);
}

}  // namespace

TEST(Files, MoveReplacesOnlyWhenAskedAndNeverADirectory) {
  TempDir dir;
  ::mkdir(dir.Host("folder").c_str(), 0755);
  const struct {
    const char* target;  // null: none there
    DWORD flags;
    bool moved;
    DWORD error;
  } cases[] = {
      {nullptr, 0, true, 0},
      {"old", MOVEFILE_REPLACE_EXISTING, true, 0},
      {"old", 0, false, ERROR_ALREADY_EXISTS},
      {"folder", MOVEFILE_REPLACE_EXISTING, false, ERROR_ALREADY_EXISTS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target != nullptr ? c.target : "none");
    WriteHostFile(dir.Host("from"), "new");
    const std::string to = c.target != nullptr && std::string(c.target) == "folder" ? "folder" : "to";
    if (c.target != nullptr && to == "to") WriteHostFile(dir.Host("to"), c.target);
    EXPECT_EQ(c.moved, MoveFileExW(dir.Win("from").c_str(), dir.Win(to).c_str(), c.flags) != FALSE);
    if (c.moved) {
      EXPECT_EQ("new", ReadHostFile(dir.Host(to)));
      EXPECT_FALSE(PathFileExistsW(dir.Win("from").c_str()));
    } else {
      EXPECT_EQ(c.error, GetLastError());
      EXPECT_TRUE(PathFileExistsW(dir.Win("from").c_str()));
    }
    ::unlink(dir.Host("to").c_str());
  }
  EXPECT_FALSE(MoveFileExW(dir.Win("missing").c_str(), dir.Win("to").c_str(), 0));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}
