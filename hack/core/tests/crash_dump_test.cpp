// Crash dumps: their names, and a fault in the game double's code ending a child process with its exception code
// after leaving a dump that names the fault, its thread and the game image.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <core/CrashDump.h>
#include <core/GameStartup.h>
#include <hack/testing/GameDouble.h>
#include <launcher/InitialisationData.h>
#include <platform/crash.h>
#include <platform/files.h>
#include <platform/testing/MinidumpReader.h>
#include <platform/text.h>

#include "HackTestSupport.h"

namespace {

namespace fs = std::filesystem;
using gamedouble::Build;
using gamedouble::CGameDouble;
using gamedouble::Routine;

const HMODULE kCoreHandle = reinterpret_cast<HMODULE>(0x7000);
constexpr SYSTEMTIME kTime{2026, 12, 0, 6, 7, 8, 9, 45};
constexpr char16_t kPlainName[] = u"2026-12-06 07-08-09.045.dmp";
// mov eax, 0x12345678; mov ecx, [0x10]; ret
const std::uint8_t kFaultingCode[] = {0xB8, 0x78, 0x56, 0x34, 0x12, 0x8B, 0x0D, 0x10, 0, 0, 0, 0xC3};
constexpr std::uint32_t kLoadOffset = 5;

std::string DumpDirectory(pid_t parent, const char* what) {
  return "/tmp/brindle-dumps-" + std::to_string(parent) + "-" + what;
}

std::vector<fs::path> DumpsIn(const std::string& directory) {
  std::vector<fs::path> dumps;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) dumps.push_back(entry.path());
  return dumps;
}

TEST(CrashDumpName, TakesTheFirstFreeNumberAndRefusesNamesThatDoNotFit) {
  const fs::path directory = fs::temp_directory_path() / ("brindle-names-" + std::to_string(::getpid()));
  fs::create_directories(directory);
  const std::u16string dir = directory.u16string();
  struct Case {
    const char* what;
    std::vector<std::u16string> existing;  // made before the call; "/" at the end: a directory
    std::u16string expected;               // the file name, empty: none
    std::size_t capacity;
  };
  const std::u16string plain = kPlainName;
  const std::u16string second = u"2026-12-06 07-08-09.045 (2).dmp";
  const std::size_t fits = dir.size() + 1 + plain.size() + 1;
  const Case cases[] = {
      {"free", {}, plain, kCrashDumpNameCapacity},
      {"a dump of the same millisecond", {plain}, second, kCrashDumpNameCapacity},
      {"two of them", {plain, second}, u"2026-12-06 07-08-09.045 (3).dmp", kCrashDumpNameCapacity},
      {"a directory of that name", {plain + u"/"}, second, kCrashDumpNameCapacity},
      {"fits exactly", {}, plain, fits},
      {"one unit short", {}, u"", fits - 1},
      {"the numbered name does not fit", {plain}, u"", fits + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::u16string& name : c.existing) {
      const fs::path path = directory / fs::path(name);
      if (name.back() == u'/') {
        fs::create_directories(path);
      } else {
        std::ofstream(path).put('x');
      }
    }
    std::vector<char16_t> out(c.capacity, u'?');
    const bool named = CrashDumpName(dir.c_str(), kTime, out.data(), out.size());
    EXPECT_EQ(named, !c.expected.empty());
    EXPECT_EQ(std::u16string(out.data()), c.expected.empty() ? u"" : dir + u"\\" + c.expected);
    fs::remove_all(directory);
    fs::create_directories(directory);
  }
  fs::remove_all(directory);
}

struct Crash {
  const char* what;
  bool writeDumps;
  bool terminateAfterDump;
  bool overlongDirectory;  // the directory fits its field, a dump name in it does not
  bool dumpExpected;
};

const Crash kCrashes[] = {{"dump", true, false, false, true}, {"dump then terminate", true, true, false, true},
                           {"no dumps asked", false, false, false, false}, {"name too long", true, false, true, false}};

std::string DirectoryFor(pid_t parent, const Crash& c) {
  std::string directory = DumpDirectory(parent, c.what);
  constexpr std::size_t kOverlong = 240;
  if (c.overlongDirectory) directory += "/" + std::string(kOverlong - directory.size() - 1, 'd');
  return directory;
}

class CrashInTheGameDeathTest : public hacktest::HackRegistryTest {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }

  // In the child: the core started on the double, then the game's own code faults.
  static void StartAndCrash(const Crash& c) {
    InitialisationData header = MakeInitialisationHeader();
    header.writeCrashDumps = c.writeDumps;
    header.terminateAfterDump = c.terminateAfterDump;
    SetFieldText(header.crashDumpDirectory, text::Utf8ToUtf16(DirectoryFor(::getppid(), c)));
    DllMain(kCoreHandle, kDllProcessAttach, nullptr);
    auto game = std::make_unique<CGameDouble>(Build::IVReleasePatched);
    tList descriptors, options;
    const auto block = SerialiseInitialisationData(header, 1, descriptors, options);
    if (StartCoreModule(block.data(), block.size()) != MODULEREPLY_HANDLED) std::_Exit(1);
    const std::uint32_t place = game->Address(Routine::ProgressBar);
    game->Image().Write(place, kFaultingCode, sizeof kFaultingCode);
    game->Run(place);
    std::_Exit(0);
  }
};

TEST_F(CrashInTheGameDeathTest, EndsWithTheExceptionCodeAndLeavesADumpOfTheFault) {
  for (const Crash& c : kCrashes) {
    SCOPED_TRACE(c.what);
    fs::remove_all(DumpDirectory(::getpid(), c.what));
    EXPECT_EXIT(StartAndCrash(c), ::testing::ExitedWithCode(int(EXCEPTION_ACCESS_VIOLATION & 0xFF)), "");
  }
  // Read only after every child ran: each child runs this test again up to its own death test.
  for (const Crash& c : kCrashes) {
    SCOPED_TRACE(c.what);
    const std::vector<fs::path> dumps = DumpsIn(DirectoryFor(::getpid(), c));
    const platform::testing::MinidumpReader dump(dumps.empty() ? std::string() : dumps[0].string());
    fs::remove_all(DumpDirectory(::getpid(), c.what));
    ASSERT_EQ(dumps.size(), c.dumpExpected ? 1u : 0u);
    if (!c.dumpExpected) continue;
    ASSERT_TRUE(dump.Valid());
    EXPECT_TRUE(dumps[0].extension() == ".dmp" && dump.Header().NumberOfStreams >= 6u);
    const auto* e = dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
    const auto* threads = dump.Stream<DWORD>(ThreadListStream);
    const auto* modules = dump.Stream<DWORD>(ModuleListStream);
    ASSERT_TRUE(e != nullptr && threads != nullptr && modules != nullptr);
    ASSERT_TRUE(*threads == 1u && *modules >= 1u);
    EXPECT_EQ((std::tuple{e->ExceptionRecord.ExceptionCode, e->ExceptionRecord.ExceptionInformation[1],
                          reinterpret_cast<const MINIDUMP_THREAD*>(threads + 1)->ThreadId}),
              (std::tuple{DWORD(EXCEPTION_ACCESS_VIOLATION), 0x10u, e->ThreadId}));
    // The fault lies in the game image, the first module.
    const auto* game = reinterpret_cast<const MINIDUMP_MODULE*>(modules + 1);
    const std::uint64_t address = e->ExceptionRecord.ExceptionAddress;
    EXPECT_TRUE(address >= game->BaseOfImage && address < game->BaseOfImage + game->SizeOfImage);
    const auto* context = dump.At<CONTEXT>(e->ThreadContext.Rva);
    ASSERT_TRUE(context != nullptr && context->Eip == address);
    EXPECT_EQ(dump.Memory(address, 2), std::vector<std::uint8_t>(kFaultingCode + kLoadOffset,
                                                                  kFaultingCode + kLoadOffset + 2));
  }
}

}  // namespace
