// The game-double fixture of the script-host tests and its PNG encoder.
#include "game_double_fixture.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include <base/PNGImageData.h>
#include <base/Stream.h>
#include <base/TaskContext.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/RegistryReset.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/SquirrelSupport.h>

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

}  // namespace

std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height,
                                    const std::vector<std::uint32_t>& pixels) {
  gamedouble::CPicture picture(width, height);
  for (std::uint32_t i = 0; i < pixels.size(); ++i) picture.Set(i % width, i / width, pixels[i]);
  // Test cases of one binary may run side by side: each process writes its own file.
  const std::string path = ::testing::TempDir() + "encoded-" + std::to_string(getpid()) + ".png";
  EXPECT_TRUE(gamedouble::SavePng(picture, path));
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
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

}  // namespace doubletest
