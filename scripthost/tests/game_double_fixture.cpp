// The game-double fixture of the script-host tests and its PNG encoder.
#include "game_double_fixture.h"

#include <png.h>

#include <base/PNGImageData.h>
#include <base/Stream.h>
#include <base/TaskContext.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/RegistryReset.h>
#include <platform/text.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/SquirrelSupport.h>

#include "run_script.h"

namespace doubletest {
namespace {

// Answers LoadImage as the core module does: a PNG whose header was read.
std::uint32_t DecoderHandler(std::uint32_t event, ModuleEventData* data) {
  if (event == MODULEEVENT_INIT) return MODULEREPLY_HANDLED;
  if (event != MODULEEVENT_LOADIMAGE) return MODULEREPLY_HANDLED;
  auto* block = static_cast<LoadImageEventData*>(data);
  tTaskContext task;
  auto* image = new CPNGImageData;
  if (!image->Load(&task, block->stream)) {
    image->Release();
    return MODULEREPLY_HANDLED;
  }
  block->result = image;
  return MODULEREPLY_VALUE;
}

std::uint32_t QuietHandler(std::uint32_t, ModuleEventData*) { return MODULEREPLY_HANDLED; }

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

}  // namespace

std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height,
                                    const std::vector<std::uint32_t>& pixels) {
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendBytes, nullptr);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<std::uint8_t> row(std::size_t(width) * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[std::size_t(y) * width + x];
      row[x * 4 + 0] = std::uint8_t(p >> 16);
      row[x * 4 + 1] = std::uint8_t(p >> 8);
      row[x * 4 + 2] = std::uint8_t(p);
      row[x * 4 + 3] = std::uint8_t(p >> 24);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

void GameDoubleTest::SetUp() {
  hack::testing::ResetHackRegistry();
  game = std::make_unique<gamedouble::CGameDouble>(GetParam());
  ASSERT_TRUE(game->IsReady());
  DetectGameVersion();
  ASSERT_TRUE(SelectGameBuild());
  game->SetRendererPresent(true, true);
  game->SetScreenSize(kScreenWidth, kScreenHeight);
  tHackModule* core = CreateHackModule(u"core", u"core");
  RegisterHackModule(core, reinterpret_cast<HMODULE>(std::uintptr_t(1)), false, DecoderHandler);
  module = CreateHackModule(u"SquirrelSupport", u"SquirrelSupport");
  RegisterHackModule(module, reinterpret_cast<HMODULE>(std::uintptr_t(2)), false, QuietHandler);
}

void GameDoubleTest::TearDown() {
  // Patches go back while the image is still mapped.
  hack::testing::ResetHackRegistry();
  game.reset();
}

gamedouble::CPicture GameDoubleTest::Filled(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                                            std::uint32_t colour) const {
  gamedouble::CPicture picture(kScreenWidth, kScreenHeight, kOpaqueBlack);
  picture.FillRect(x, y, w, h, colour);
  return picture;
}

void GameDoubleTest::ExpectFrame(const gamedouble::CPicture& expected, const std::string& name,
                                 std::uint32_t tolerance) {
  const auto result =
      gamedouble::ComparePictures(game->Frame(), expected, name + "." + gamedouble::NameOf(GetParam()), tolerance);
  EXPECT_TRUE(result.same) << result.report;
}

CStream* MemoryEnvironment::OpenFile(const char16_t* path, bool, bool, bool) {
  auto found = m_pFiles->find(path);
  if (found == m_pFiles->end()) return nullptr;
  return new CByteArrayStream(found->second.data(), std::uint32_t(found->second.size()));
}

void ScriptDoubleTest::SetUp() {
  GameDoubleTest::SetUp();
  if (HasFatalFailure()) return;
  host = std::make_unique<CScriptHost>();
  g_ScriptHost = host.get();
  g_pSquirrelSupportModule = module;
  environment = std::make_unique<MemoryEnvironment>(host.get(), u"test", &files);
}

void ScriptDoubleTest::TearDown() {
  // The host goes first: script objects (audio instances reading the environment's files) go with it.
  g_ScriptHost = nullptr;
  host.reset();
  environment.reset();
  StopEnvironmentAudio(nullptr);
  g_pSquirrelSupportModule = nullptr;
  GameDoubleTest::TearDown();
}

ScriptDoubleTest::Outcome ScriptDoubleTest::Run(const std::u16string& code) {
  Outcome outcome{false, {}, {}};
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  outcome.ok = scripttest::RunScript(environment.get(), code);
  outcome.out = ::testing::internal::GetCapturedStdout();
  outcome.err = ::testing::internal::GetCapturedStderr();
  return outcome;
}

std::string ScriptDoubleTest::Error(const std::u16string& code) {
  const Outcome outcome = Run(code);
  EXPECT_FALSE(outcome.ok) << outcome.out;
  return FirstLine(outcome.err);
}

void ScriptDoubleTest::ExpectErrors(std::initializer_list<std::pair<const char16_t*, const char*>> rows) {
  for (const auto& [code, error] : rows) {
    SCOPED_TRACE(text::Utf16ToUtf8(code));
    const std::string first = Error(code);
    if (error != nullptr) {
      EXPECT_EQ(first, error);
    }
  }
}

}  // namespace doubletest
