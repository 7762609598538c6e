// Starting and ending the Multiplayer module on the game double for its tests.
#include "module_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <features/ItemLimit.h>
#include <hack/GameRoutines.h>
#include <hack/ModuleRegistry.h>
#include <platform/window.h>

namespace mptest {

namespace {

const HMODULE kLibraryHandle = reinterpret_cast<HMODULE>(0x7000);
constexpr std::uint32_t kWindow = 0x777;
constexpr std::uint32_t kScreenWidth = 640, kScreenHeight = 480;
const char* const kFontFiles[] = {GUI_FONT_OPEN_SANS, GUI_FONT_DEJAVU};

void SetOption(const char16_t* name, const std::string& value) {
  ModuleOption option{};
  const std::u16string wide = text::Utf8ToUtf16(value);
  std::memcpy(option.value, wide.data(), std::min(wide.size(), std::size(option.value) - 1) * sizeof(char16_t));
  AddModuleOption(u"Multiplayer", name, &option);
}

// The value as the launcher's field holds it: cut to 64 units, unterminated when it fills them.
void SetOptionUnits(const char16_t* name, std::u16string_view units) {
  ModuleOption option{};
  SetFieldText(option.value, units);
  AddModuleOption(u"Multiplayer", name, &option);
}

void Register(const char16_t* name) {
  tHackModule* record = CreateHackModule(u"Brindlecore.so", name);
  ASSERT_EQ(MODULEREPLY_HANDLED, RegisterBuiltInModule(record, kLibraryHandle) & MODULEREPLY_HANDLED);
}

}  // namespace

void ModuleTest::SetUp() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  hack::testing::ResetHackRegistry();
  SetBuiltInModules(kTestModules, std::size(kTestModules));
  previousDialogs = platform::SetDialogBackend(&messages);
  game = std::make_unique<gamedouble::CGameDouble>(GetParam());
  ASSERT_TRUE(game->IsReady());
  game->SetScreenSize(kScreenWidth, kScreenHeight);
  DetectGameVersion();
  ASSERT_TRUE(SelectGameBuild());
  // The game's window, holding the keyboard focus as a played game's does.
  const std::uint32_t window = kWindow;
  std::memcpy(reinterpret_cast<void*>(std::uintptr_t(Game::GetWindowAddress())), &window, sizeof window);
  SetFocus(reinterpret_cast<HWND>(std::uintptr_t(kWindow)));
  Register(u"MultiplePlayerSupport");
  Register(u"SquirrelSupport");
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(name.begin(), name.end(), '/', '_');
  folder = std::filesystem::temp_directory_path() / ("mp_module_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "Fonts");
  std::filesystem::create_directories(folder / "GUI");
  for (const char* font : kFontFiles)
    std::filesystem::copy_file(font, folder / "Fonts" / std::filesystem::path(font).filename());
  std::filesystem::create_directories(folder / "UserData");
  appContext = std::make_unique<tAppContext>("Test", nullptr, MessageDisplayMode::Console);
  fileSystem = std::make_unique<CFileSystem>(appContext.get());
  ASSERT_NE(nullptr, MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16((folder / "UserData").string()).c_str()));
}

// The multiplayer module first, as the game's shutdown sends it, then every other module the fixture loaded, newest
// first: a second Init over a loaded module would lose its state.
void ModuleTest::UnloadModules() {
  if (multiplayer::GetModule() != nullptr) Send(MODULEEVENT_UNLOAD);
  hack::testing::UnloadAndResetHackRegistry();
}

void ModuleTest::TearDown() {
  UnloadModules();
  hack::testing::ClearModuleOptions();
  fileSystem.reset();
  appContext.reset();
  game.reset();
  server.reset();
  platform::SetDialogBackend(previousDialogs);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

std::uint32_t ModuleTest::Start(const std::string& serverText, bool page) {
  hack::testing::ClearModuleOptions();
  if (module != nullptr) {
    // A second start in one test: a fresh registry, as a new game would have.
    UnloadModules();
    Register(u"MultiplePlayerSupport");
    Register(u"SquirrelSupport");
  }
  if (page) std::ofstream(folder / "GUI" / "Main.xml") << kMainPage;
  const std::u16string directory = text::Utf8ToUtf16(folder.string());
  std::memset(g_InitialisationData.clientDataDirectory, 0, sizeof g_InitialisationData.clientDataDirectory);
  std::memcpy(g_InitialisationData.clientDataDirectory, directory.data(), directory.size() * sizeof(char16_t));
  SetOption(u"Server", serverText);
  SetOptionUnits(u"Nickname", nickname);
  SetOptionUnits(u"Password", password);
  module = CreateHackModule(u"Brindlecore.so", u"Multiplayer");
  return RegisterBuiltInModule(module, kLibraryHandle);
}

void ModuleTest::Serve(const std::vector<std::string>& scenario) {
  const std::filesystem::path file = folder / "scenario.txt";
  std::ofstream out(file);
  for (const std::string& line : scenario) out << line << "\n";
  out.close();
  server = std::make_unique<nettest::CTestServer>(folder.string(), file.string());
  ASSERT_TRUE(server->Started());
}

void ModuleTest::PushKey(SDL_Keycode key) {
  SDL_Event event{};
  event.type = SDL_KEYDOWN;
  event.key.state = SDL_PRESSED;
  event.key.keysym.sym = key;
  event.key.keysym.scancode = SDL_GetScancodeFromKey(key);
  ASSERT_EQ(1, SDL_PushEvent(&event));
}

void ModuleTest::PushText(const char* text) {
  SDL_Event event{};
  event.type = SDL_TEXTINPUT;
  std::strncpy(event.text.text, text, sizeof event.text.text - 1);
  ASSERT_EQ(1, SDL_PushEvent(&event));
}

void ModuleTest::Type(const std::string& line) {
  PushText(line.c_str());
  Frame();
  PushKey(SDLK_RETURN);
  Frame();
}

std::string ModuleTest::Input() const {
  auto* page = dynamic_cast<TamberGUI::GUI::CPage*>(Client()->GetGui()->GetRoot()->FindElement(u"CmdWindow"));
  auto* input = page != nullptr ? dynamic_cast<TamberGUI::GUI::CText*>(page->FindElement(u"Input")) : nullptr;
  return input != nullptr ? text::Utf16ToUtf8(input->GetTextUTF16()) : "<no input>";
}

std::string ModuleTest::LastChat() const {
  return text::Utf16ToUtf8(Client()->GetChat()->GetLine(Vexil3D::CChatWindow::kLines - 1).text);
}

}  // namespace mptest
