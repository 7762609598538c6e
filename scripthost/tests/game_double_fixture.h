#pragma once
// Script-host tests on the game double: one double per build, its renderer present on a screen of a given
// size, a module record of the SquirrelSupport module's and a decoder module that answers LoadImage with PNG
// images, as the core does.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>
#include <platform/text.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

#include "run_script.h"

struct tHackModule;
class CStream;

namespace doubletest {
// Numbers of several kinds compared as one list.
using Nums = std::vector<long long>;

// Image data of given pixels (0xAARRGGBB, rows top to bottom).
std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height,
                                    const std::vector<std::uint32_t>& pixels);

class GameDoubleTest : public ::testing::TestWithParam<gamedouble::Build> {
 protected:
  static constexpr std::uint32_t kScreenWidth = 64;
  static constexpr std::uint32_t kScreenHeight = 48;

  void SetUp() override;
  void TearDown() override;

  bool V() const { return GetParam() == gamedouble::Build::VReleasePatched; }
  // A rectangle of one colour over opaque black, the size of the frame.
  gamedouble::CPicture Filled(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                              std::uint32_t colour) const {
    gamedouble::CPicture picture(kScreenWidth, kScreenHeight, kOpaqueBlack);
    picture.FillRect(x, y, w, h, colour);
    return picture;
  }
  void ExpectFrame(const gamedouble::CPicture& expected, const std::string& name, std::uint32_t tolerance = 0) {
    const auto result =
        gamedouble::ComparePictures(game->Frame(), expected, name + "." + gamedouble::NameOf(GetParam()), tolerance);
    EXPECT_TRUE(result.same) << result.report;
  }
  void ClearFrame() { game->Frame().Fill(kOpaqueBlack); }

  static constexpr std::uint32_t kOpaqueBlack = 0xFF000000;
  std::unique_ptr<gamedouble::CGameDouble> game;
  tHackModule* module = nullptr;
};

// Files kept in memory by name, and an environment that opens them (they outlive it: sources read them).
using MemoryFiles = std::map<std::u16string, std::vector<std::uint8_t>>;
class MemoryEnvironment : public CScriptEnvironment {
 public:
  MemoryEnvironment(CScriptHost* host, const char16_t* name, MemoryFiles* files)
      : CScriptEnvironment(host, name), m_pFiles(files) {}
  CStream* OpenFile(const char16_t* path, bool readable, bool writable, bool createIfMissing) override;

 private:
  MemoryFiles* m_pFiles;
};

// A script host with one environment on the double; the module record is the SquirrelSupport module's.
class ScriptDoubleTest : public GameDoubleTest {
 protected:
  struct Outcome {
    bool ok;
    std::string out, err;
  };
  void SetUp() override;
  void TearDown() override;
  // Compiles and runs the text in the environment; what it printed and what errors it raised.
  Outcome Run(const std::u16string& code) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const bool ok = scripttest::RunScript(environment.get(), code);
    std::string out = ::testing::internal::GetCapturedStdout();
    return {ok, out, ::testing::internal::GetCapturedStderr()};
  }
  // Runs code that must fail; the first line of its error output ("sqvm: <message>." for an uncaught error).
  std::string Error(const std::u16string& code) {
    const Outcome outcome = Run(code);
    EXPECT_FALSE(outcome.ok) << outcome.out;
    return outcome.err.substr(0, outcome.err.find('\n'));
  }
  // Each code must fail with its first error line (null: any).
  void ExpectErrors(std::initializer_list<std::pair<const char16_t*, const char*>> rows) {
    for (const auto& [code, error] : rows) {
      SCOPED_TRACE(text::Utf16ToUtf8(code));
      const std::string first = Error(code);
      if (error != nullptr) {
        EXPECT_EQ(first, error);
      }
    }
  }

  MemoryFiles files;
  std::unique_ptr<CScriptHost> host;
  std::unique_ptr<MemoryEnvironment> environment;
};

inline std::string BuildName(const ::testing::TestParamInfo<gamedouble::Build>& info) {
  return gamedouble::NameOf(info.param);
}

}  // namespace doubletest
