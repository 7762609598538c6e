// CClient: the client's fonts, GUI, chat and command windows, fixed-step clock and console keys.
#include <multiplayer/Client.h>

#include <limits>

#include <engine/FileSystem.h>
#include <engine/HBFChunk.h>
#include <engine/OS.h>
#include <engine/Resource.h>
#include <engine/Stream.h>
#include <hack/GameRoutines.h>
#include <platform/text.h>

namespace {

constexpr char16_t kFontsFolder[] = u"/Fonts";
constexpr char16_t kMainPage[] = u"/GUI/Main.xml";
constexpr char16_t kConsolePage[] = u"CmdWindow";
constexpr char16_t kConsoleInput[] = u"Input";
constexpr double kMillisecondsPerSecond = 1000.0;

FT_Library NewFreeTypeLibrary() {
  FT_Library library = nullptr;
  FT_Init_FreeType(&library);
  return library;
}

bool CollectFontFile(const Vexil3D::EnumerateEntry& entry, void* context) {
  if (entry.m_bFile != 0 && entry.m_pName != nullptr)
    static_cast<std::vector<std::u16string>*>(context)->push_back(entry.m_pName);
  return true;
}

}  // namespace

CClient::CClient(Vexil3D::Context* context)
    : m_pContext(context),
      m_pEngineFonts(std::make_unique<Vexil3D::CFonts>(NewFreeTypeLibrary())),
      m_pGuiFonts(std::make_unique<TamberGUI::CFonts>(NewFreeTypeLibrary())),
      m_pResources(std::make_unique<Vexil3D::CResourceMgr>(context)),
      m_pGui(std::make_unique<TamberGUI::GUI::CManager>(context->GetFileSystem(), m_pGuiFonts.get())) {
  m_pGui->SetResourceTable(&m_ResourceTable);
  Vexil3D::StartTicks();
  m_uLastTick = Vexil3D::GetTicks();
  // The names are gathered first: loading a font opens files, which must not happen inside the walk.
  std::vector<std::u16string> files;
  if (Vexil3D::CFileSystem* fileSystem = context->GetFileSystem())
    fileSystem->Enumerate(kFontsFolder, &CollectFontFile, &files);
  for (const std::u16string& file : files) LoadFonts(file.c_str());
}

CClient::~CClient() {
  m_pConsole.reset();
  m_pChat.reset();
  m_pGui.reset();
  m_pRoot = nullptr;
  m_pResources.reset();
  m_pGuiFonts->Clear();
  m_pEngineFonts->Clear();
}

void CClient::LoadFonts(const char16_t* fileName) {
  Vexil3D::CFileSystem* fileSystem = m_pContext->GetFileSystem();
  const std::u16string path = Vexil3D::JoinPath(kFontsFolder, fileName, false);
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(fileSystem->Open(path.c_str(), false));
  if (stream.Get() == nullptr) return;
  m_pContext->LogF(Vexil3D::LOG_INFO, u"Loading Font - %s\n", path.c_str());
  m_pEngineFonts->AddFont(stream.Get());
  // Each registry reads its faces through its own stream.
  Vexil3D::Strong<Vexil3D::Stream> second;
  second.Attach(fileSystem->Open(path.c_str(), false));
  if (second.Get() != nullptr) m_pGuiFonts->AddFont(second.Get());
}

void CClient::LoadGui() {
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(m_pContext->GetFileSystem()->Open(kMainPage, false));
  if (stream.Get() == nullptr) return;
  std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream.Get()));
  if (tree == nullptr) return;
  m_pGui->Load(tree.get());
  m_pRoot = m_pGui->GetRoot();
}

void CClient::Start(Vexil3D::I2D* renderer) {
  m_pRenderer = renderer;
  LoadGui();
  const float scale = float(Game::GetScreenHeight()) / kChatScaleHeight;
  m_pChat = std::make_unique<Vexil3D::CChatWindow>(this, m_pGuiFonts.get(), scale);
  m_pChat->SetStatusColour(kChatTextColour);
  if (m_pRoot.Get() != nullptr && m_pRoot->FindElement(kConsolePage) != nullptr)
    m_pConsole = std::make_unique<Vexil3D::CCmdWindow2>(m_pGui.get());
  GetCommands()->Clear();
  PrintChatLine(kWelcomeLine);
}

void CClient::AdvanceClock() {
  const std::uint64_t now = Vexil3D::GetTicks();
  double step = double(now - m_uLastTick) / kMillisecondsPerSecond;
  m_uLastTick = now;
  if (step > kMaxFrameStep) step = kMaxFrameStep;
  step *= m_dTimeScale;
  m_dFrameStep = step;
  m_dAccumulator += step;
  m_iFrameTicks = 0;
  while (m_dAccumulator >= kFixedStep) {
    m_dAccumulator -= kFixedStep;
    ++m_iFrameTicks;
  }
}

void CClient::Process() {
  AdvanceClock();
  m_pGui->SetScreen(0, 0, float(Game::GetScreenWidth()), float(Game::GetScreenHeight()), 1.0f);
  // The GUI takes keys while the game's window has the focus; the game makes its window after the client exists.
  m_pGui->SetWindow(Game::GetWindow());
  m_pGui->UpdateLayout();
  m_pGui->UpdateClipRect();
  if (m_pRoot.Get() != nullptr) m_pRoot->Process(float(m_dFrameStep));
  m_pResources->GetEvents().ProcessDeferred();
  m_pResources->GetTimers().Step(m_dFrameStep);
}

bool CClient::IsConsoleVisible() const { return m_pConsole != nullptr && m_pConsole->IsVisible(); }

void CClient::OnTextInput() {
  if (m_pConsole == nullptr || !m_bConsoleRequested || m_pConsole->IsVisible()) return;
  if (m_pChat == nullptr || !m_pChat->IsVisible()) return;
  m_pConsole->SetVisible(true);
  m_bConsoleRequested = false;
}

TamberGUI::GUI::CText* CClient::ConsoleInput() const {
  if (m_pRoot.Get() == nullptr) return nullptr;
  auto* page = dynamic_cast<TamberGUI::GUI::CPage*>(m_pRoot->FindElement(kConsolePage));
  return page != nullptr ? dynamic_cast<TamberGUI::GUI::CText*>(page->FindElement(kConsoleInput)) : nullptr;
}

void CClient::ShowHistoryLine(const char16_t* line) {
  TamberGUI::GUI::CText* input = ConsoleInput();
  if (input == nullptr) return;
  input->SetText(line);
  const auto end = std::uint32_t(input->GetText().size());
  input->Select(end, end);
}

void CClient::HistoryBack() {
  Vexil3D::CCmdWindow2& console = *m_pConsole;
  if (!console.Browsing()) {
    TamberGUI::GUI::CText* input = ConsoleInput();
    const std::u16string current = input != nullptr ? input->GetTextUTF16() : std::u16string();
    console.WorkingLine().Set(current.c_str(), current.size());
    console.Browsing() = true;
    console.HistoryCursor() = 0;
  } else if (console.HistoryCursor() != std::numeric_limits<std::uint32_t>::max()) {
    // Past the oldest line the steps still count (the input keeps the oldest): Down walks them back one by one.
    ++console.HistoryCursor();
  }
  if (console.HistoryCursor() < console.GetCount())
    ShowHistoryLine(console.GetAt(console.GetCount() - 1 - console.HistoryCursor()).Get());
}

void CClient::HistoryForward() {
  Vexil3D::CCmdWindow2& console = *m_pConsole;
  if (!console.Browsing()) return;
  if (console.HistoryCursor() == 0) {
    console.Browsing() = false;
    ShowHistoryLine(console.WorkingLine().Get());
    return;
  }
  --console.HistoryCursor();
  if (console.HistoryCursor() < console.GetCount())
    ShowHistoryLine(console.GetAt(console.GetCount() - 1 - console.HistoryCursor()).Get());
}

bool CClient::OnKeyDown(const SDL_KeyboardEvent& event) {
  const SDL_Keycode key = event.keysym.sym;
  if (m_pConsole == nullptr) {
    m_pResources->GetKeyBinds().Dispatch(event.keysym, event.repeat, true);
    return false;
  }
  if (!m_pConsole->IsVisible()) {
    if (m_pChat != nullptr && m_pChat->IsVisible() && (key == SDLK_t || key == SDLK_BACKQUOTE)) {
      m_bConsoleRequested = true;
      return true;
    }
    m_pResources->GetKeyBinds().Dispatch(event.keysym, event.repeat, true);
    return false;
  }
  switch (key) {
    case SDLK_BACKQUOTE:
      m_pConsole->SetVisible(false);
      break;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_RETURN2:
      m_pConsole->Submit(GetCommands());
      break;
    case SDLK_ESCAPE:
      m_pConsole->SetVisible(false);
      m_pConsole->ClearInput();
      break;
    case SDLK_UP:
      HistoryBack();
      break;
    case SDLK_DOWN:
      HistoryForward();
      break;
    default:
      break;  // the input element edits the line itself
  }
  return true;
}

void CClient::Render() {
  if (m_pRenderer == nullptr) return;
  if (m_pChat != nullptr) m_pChat->Draw(m_pRenderer);
  if (m_pRoot.Get() == nullptr) return;
  m_pRoot->Render(m_pRenderer);
  if (m_pGui->GetDebugDraw()) m_pRoot->RenderDebug(m_pRenderer);
}

void CClient::Shutdown() {
  m_pResources->StopAllResources();
  m_ResourceTable.ReleaseHardware();
  m_pConsole.reset();
  m_pChat.reset();
}

void CClient::PrintChatLine(const char* text) {
  if (m_pChat == nullptr || text == nullptr) return;
  m_pChat->AddLine(text::Utf8ToUtf16(std::string_view(text)).c_str(), Vexil3D::CChatWindow::LINE_STATUS);
}
