// Every feature module with the core on each build: no overlaps, the refusals, and every byte back at unload.
#include <features/ItemLimit.h>

#include <base/FileSystem.h>

#include "FeatureTestSupport.h"
#include "file_system_test_support.h"

namespace {

using namespace featuretest;

struct ModuleCase {
  const char16_t* name;
  std::uint32_t replies[4];  // by build: IV Editor, IV Release Patched, IV Demo Corvel, V Release Patched
};
constexpr std::uint32_t kOk = MODULEREPLY_HANDLED, kRefused = MODULEREPLY_UNLOADNOW;
const ModuleCase kModules[] = {
    {u"CustomFiles", {kOk, kOk, kOk, kOk}},
    {u"IncreasedLimits", {kOk, kRefused, kRefused, kRefused}},
    {u"MultiplePlayerSupport", {kOk, kOk, kOk, kOk}},
    {u"AspectRatioSupport", {kOk, kOk, kOk, kRefused}},
    {u"MultipleInstanceSupport", {kOk, kOk, kOk, kOk}},
    {u"BugFixes", {kOk, kOk, kOk, kOk}},
    {u"NoDrawDistance", {kOk, kRefused, kRefused, kRefused}},
    {u"PCMSupport", {kRefused, kOk, kOk, kOk}},
    {u"ADPCMSupport", {kOk, kRefused, kRefused, kRefused}},
    {u"OggVorbisSupport", {kOk, kOk, kOk, kOk}},
};

class FeatureModulesTest : public FeatureTest {
 protected:
  void TearDown() override {
    FeatureTest::TearDown();
    g_ItemLimit = kGameItemLimit;
  }
};

TEST_P(FeatureModulesTest, AllTogetherAndBackAgain) {
  fstest::CollectingAppContext context;
  CFileSystem files(&context);
  const Bytes before = Image();
  std::vector<tHackModule*> loaded;
  ::testing::internal::CaptureStdout();
  for (const ModuleCase& module : kModules) {
    tHackModule* record = nullptr;
    const std::uint32_t reply = Register(module.name, &record);
    EXPECT_EQ(reply, module.replies[std::size_t(B())]) << text::Utf16ToUtf8(module.name);
    if (record->m_hModule != nullptr) loaded.push_back(record);
  }
  ::testing::internal::GetCapturedStdout();
  EXPECT_NE(Image(), before);
  for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) UnloadHackModule(*it);
  EXPECT_TRUE(Image() == before);
  EXPECT_EQ(g_ItemLimit, kGameItemLimit);
}

INSTANTIATE_TEST_SUITE_P(Builds, FeatureModulesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
