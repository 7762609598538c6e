// The client's console commands: "say", "quit"/"q"/"exit" and the handler that passes every other command on.
#include <multiplayer/MultiplayerModule.h>

#include <hack/GameRoutines.h>
#include <hack/Messages.h>
#include <multiplayer/ClientScripting.h>
#include <platform/text.h>

namespace multiplayer {

namespace {

constexpr char kNotConnected[] = "Not connected to a server!";
// The line of a command nobody knows: the opening quote, the name, then the rest.
constexpr char16_t kUnknownCommandOpening[] = u"'";
constexpr char16_t kUnknownCommandRest[] =
    u"' is not recognized as an internal or external command, operable program or batch file.";
constexpr const char16_t* kExitCommands[] = {u"quit", u"q", u"exit"};

CQVNetClient* NetClient() {
  CModule* module = GetModule();
  return module != nullptr && module->m_pState != nullptr ? module->m_pState->m_pClient.get() : nullptr;
}

std::string Utf8(const char16_t* text) { return text != nullptr ? text::Utf16ToUtf8(text) : std::string(); }

// A refusal reaches the console as every chat line does, and the chat window in its error colour.
void PrintRefusal(const std::u16string& line) {
  LogConsole("CHAT: %s\n", text::Utf16ToUtf8(line).c_str());
  CModule* module = GetModule();
  if (module != nullptr && module->m_pClient != nullptr && module->m_pClient->GetChat() != nullptr)
    module->m_pClient->GetChat()->PrintfError(u"%s", line.c_str());
}

}  // namespace

void OnSayCommand(const char16_t*, const char16_t* parameters, Vexil3D::CBaseObject*) {
  CQVNetClient* client = NetClient();
  if (client == nullptr) {
    if (CModule* module = GetModule(); module != nullptr && module->m_pState != nullptr)
      PrintChatLine(module->m_pState.get(), kNotConnected);
    return;
  }
  std::vector<std::uint8_t> message;
  if (EncodeChat(Utf8(parameters), &message)) client->Send(message.data(), message.size());
}

void OnUnknownCommand(const char16_t* name, const char16_t* parameters, Vexil3D::CBaseObject*) {
  // The resources' own commands run first; the line still goes to the server, whose commands they may shadow.
  CModule* running = GetModule();
  if (running != nullptr && running->m_pState != nullptr && running->m_pState->m_pScripting != nullptr)
    running->m_pState->m_pScripting->RunCommand(name != nullptr ? name : u"", parameters != nullptr ? parameters : u"");
  CQVNetClient* client = NetClient();
  if (client == nullptr) {
    PrintRefusal(kUnknownCommandOpening + std::u16string(name != nullptr ? name : u"") + kUnknownCommandRest);
    return;
  }
  client->SendCommand(Utf8(name), Utf8(parameters));
}

void CExitCommandHandler::Execute(const char16_t*, const char16_t*, Vexil3D::CBaseObject*) {
  CModule* module = GetModule();
  if (module != nullptr && module->m_pState != nullptr) module->m_pState->m_pClient.reset();
  SendMessageW(Game::GetWindow(), WM_CLOSE, 0, 0);
}

void RegisterClientCommands(CClient* client) {
  Vexil3D::CCommandMgr* commands = client->GetCommands();
  commands->Clear();
  commands->SetFallbackHandler(new Vexil3D::CCallbackCommandHandler(&OnUnknownCommand));
  commands->AddCommandHandler(new Vexil3D::CCallbackCommandHandler(&OnSayCommand), u"say");
  for (const char16_t* name : kExitCommands) commands->AddCommandHandler(new CExitCommandHandler(), name);
}

}  // namespace multiplayer
