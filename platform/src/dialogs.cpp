// Message boxes and task dialogs: the replaceable dialog backend and its console default.
#include <platform/dialogs.h>

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include <platform/errors.h>
#include <platform/text.h>

namespace {

struct Choice {
  int id;
  std::u16string label;
  char16_t key = 0;  // folded to lower case
};

// Gives every choice a distinct key: the first letter of its label not taken yet.
void AssignKeys(std::vector<Choice>& choices) {
  std::u16string taken;
  for (Choice& choice : choices) {
    for (char16_t c : choice.label) {
      const char16_t folded = text::ToLowerAscii(c);
      const bool alphanumeric = (folded >= u'a' && folded <= u'z') || (folded >= u'0' && folded <= u'9');
      if (alphanumeric && taken.find(folded) == std::u16string::npos) {
        choice.key = folded;
        taken.push_back(folded);
        break;
      }
    }
  }
}

// "[O]K" style: the key's letter in brackets.
std::u16string PromptLabel(const Choice& choice) {
  std::u16string result;
  bool marked = false;
  for (char16_t c : choice.label) {
    if (!marked && choice.key != 0 && text::ToLowerAscii(c) == choice.key) {
      result += u'[';
      result += c;
      result += u']';
      marked = true;
    } else {
      result += c;
    }
  }
  return result;
}

// SDL is reached through the process's own symbols, never linked: a program that shows no box of its own (a script
// runner, a tool) then loads no display libraries, and where the game has SDL loaded its boxes appear as before.
struct SdlBoxes {
  decltype(&SDL_WasInit) wasInit = nullptr;
  decltype(&SDL_ShowMessageBox) showMessageBox = nullptr;
};

// Looked up on every box (boxes are rare): a library loading SDL after the first box still gets its boxes.
SdlBoxes LoadedSdl() {
  SdlBoxes found;
  found.wasInit = reinterpret_cast<decltype(&SDL_WasInit)>(dlsym(RTLD_DEFAULT, "SDL_WasInit"));
  found.showMessageBox = reinterpret_cast<decltype(&SDL_ShowMessageBox)>(dlsym(RTLD_DEFAULT, "SDL_ShowMessageBox"));
  if (found.wasInit == nullptr || found.showMessageBox == nullptr) return SdlBoxes{};
  return found;
}

// The console's answer at the end of input where the dialog has none of its own.
constexpr int kNoAnswer = 0;

// The fallback is the answer that lets the caller fail (as the console prompt of
// the application context answers): the end of input, or Escape in a box.
std::vector<Choice> MessageBoxChoices(UINT type, int& fallback) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      fallback = IDCANCEL;
      return {{IDOK, u"OK"}, {IDCANCEL, u"Cancel"}};
    case MB_ABORTRETRYIGNORE:
      fallback = IDIGNORE;
      return {{IDABORT, u"Abort"}, {IDRETRY, u"Retry"}, {IDIGNORE, u"Ignore"}};
    case MB_YESNOCANCEL:
      fallback = IDNO;
      return {{IDYES, u"Yes"}, {IDNO, u"No"}, {IDCANCEL, u"Cancel"}};
    case MB_YESNO:
      fallback = IDNO;
      return {{IDYES, u"Yes"}, {IDNO, u"No"}};
    case MB_RETRYCANCEL:
      fallback = IDCANCEL;
      return {{IDRETRY, u"Retry"}, {IDCANCEL, u"Cancel"}};
    case MB_CANCELTRYCONTINUE:
      fallback = IDCANCEL;
      return {{IDCANCEL, u"Cancel"}, {IDTRYAGAIN, u"Try Again"}, {IDCONTINUE, u"Continue"}};
    default:
      fallback = IDOK;
      return {{IDOK, u"OK"}};
  }
}

std::u16string TextOrEmpty(LPCWSTR s) {
  // Resource numbers (below 0x10000) are not text.
  if (reinterpret_cast<std::uintptr_t>(s) < 0x10000) return std::u16string();
  return std::u16string(s);
}

std::vector<Choice> TaskDialogChoices(const TASKDIALOGCONFIG& config, int& fallback) {
  std::vector<Choice> choices;
  if (config.pButtons != nullptr)
    for (UINT i = 0; i < config.cButtons; ++i)
      choices.push_back({config.pButtons[i].nButtonID, TextOrEmpty(config.pButtons[i].pszButtonText)});
  const int common = config.dwCommonButtons;
  if (common & TDCBF_OK_BUTTON) choices.push_back({IDOK, u"OK"});
  if (common & TDCBF_YES_BUTTON) choices.push_back({IDYES, u"Yes"});
  if (common & TDCBF_NO_BUTTON) choices.push_back({IDNO, u"No"});
  if (common & TDCBF_RETRY_BUTTON) choices.push_back({IDRETRY, u"Retry"});
  if (common & TDCBF_CANCEL_BUTTON) choices.push_back({IDCANCEL, u"Cancel"});
  if (common & TDCBF_CLOSE_BUTTON) choices.push_back({IDCLOSE, u"Close"});
  if (choices.empty()) choices.push_back({IDOK, u"OK"});
  // Dismissing the dialog counts as Cancel, or as Close where only Close can end it.
  fallback = ((common & TDCBF_CLOSE_BUTTON) && !(common & TDCBF_CANCEL_BUTTON)) ? IDCLOSE : IDCANCEL;
  return choices;
}

class DefaultBackend final : public platform::IDialogBackend {
 public:
  int MessageBox(HWND /*owner*/, std::u16string_view text, std::u16string_view caption, UINT type) override {
    int fallback = IDCANCEL;
    std::vector<Choice> choices = MessageBoxChoices(type, fallback);
    AssignKeys(choices);
    SDL_MessageBoxFlags flags = SDL_MESSAGEBOX_INFORMATION;
    switch (type & MB_ICONMASK) {
      case MB_ICONERROR:
        flags = SDL_MESSAGEBOX_ERROR;
        break;
      case MB_ICONWARNING:
        flags = SDL_MESSAGEBOX_WARNING;
        break;
      default:
        break;
    }
    int answer = 0;
    if (ShowWithSdl(flags, caption, text, choices, fallback, answer)) return answer;
    return AskOnConsole(caption, text, choices, fallback);
  }

  HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressedButton) override {
    int fallback = IDCANCEL;
    std::vector<Choice> choices = TaskDialogChoices(config, fallback);
    AssignKeys(choices);
    std::u16string body = TextOrEmpty(config.pszMainInstruction);
    const std::u16string content = TextOrEmpty(config.pszContent);
    if (!body.empty() && !content.empty()) body += u"\n\n";
    body += content;
    const std::u16string footer = TextOrEmpty(config.pszFooter);
    if (!footer.empty()) body += u"\n\n" + footer;
    SDL_MessageBoxFlags flags = SDL_MESSAGEBOX_INFORMATION;
    if (!(config.dwFlags & TDF_USE_HICON_MAIN)) {
      if (config.pszMainIcon == TD_ERROR_ICON) flags = SDL_MESSAGEBOX_ERROR;
      if (config.pszMainIcon == TD_WARNING_ICON) flags = SDL_MESSAGEBOX_WARNING;
    }
    const std::u16string title = TextOrEmpty(config.pszWindowTitle);
    int answer = 0;
    // At the end of input nobody answered: the dialog could not be shown, and the caller's
    // message-box fallback gives the answer that lets it fail. Any button of the dialog itself
    // (Close where Cancel is missing) would be a choice made on nobody's behalf.
    if (!ShowWithSdl(flags, title, body, choices, fallback, answer) &&
        (answer = AskOnConsole(title, body, choices, kNoAnswer)) == kNoAnswer)
      return E_FAIL;
    if (pressedButton != nullptr) *pressedButton = answer;
    return S_OK;
  }

  void ConsoleWrite(std::u16string_view text) override {
    const std::string utf8 = text::Utf16ToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
  }

  int ConsoleReadChar() override {
    const int first = std::getchar();
    if (first == EOF) return -1;
    if (first < 0x80) return first;
    // A UTF-8 sequence: take its continuation bytes as well.
    int extra = (first >= 0xF0) ? 3 : (first >= 0xE0) ? 2 : (first >= 0xC0) ? 1 : 0;
    std::string bytes(1, static_cast<char>(first));
    while (extra-- > 0) {
      const int next = std::getchar();
      if (next == EOF) break;
      if ((next & 0xC0) != 0x80) {
        std::ungetc(next, stdin);
        break;
      }
      bytes.push_back(static_cast<char>(next));
    }
    const std::u32string decoded = text::Utf8ToUtf32(bytes);
    return decoded.empty() ? 0xFFFD : static_cast<int>(decoded[0]);
  }

 private:
  static bool ShowWithSdl(SDL_MessageBoxFlags flags, std::u16string_view title, std::u16string_view text,
                          const std::vector<Choice>& choices, int fallback, int& answer) {
    // The game owns SDL: a box can only be shown once it is loaded and its video is up.
    const SdlBoxes sdl = LoadedSdl();
    if (sdl.wasInit == nullptr || sdl.wasInit(SDL_INIT_VIDEO) == 0) return false;
    const std::string title8 = text::Utf16ToUtf8(title);
    const std::string text8 = text::Utf16ToUtf8(text);
    std::vector<std::string> labels;
    labels.reserve(choices.size());
    for (const Choice& choice : choices) labels.push_back(text::Utf16ToUtf8(choice.label));
    std::vector<SDL_MessageBoxButtonData> buttons;
    for (std::size_t i = 0; i < choices.size(); ++i) {
      SDL_MessageBoxButtonData button{};
      button.buttonid = choices[i].id;
      button.text = labels[i].c_str();
      if (i == 0) button.flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
      if (choices[i].id == fallback) button.flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
      buttons.push_back(button);
    }
    SDL_MessageBoxData data{};
    data.flags = flags;
    data.window = nullptr;
    data.title = title8.c_str();
    data.message = text8.c_str();
    data.numbuttons = static_cast<int>(buttons.size());
    data.buttons = buttons.data();
    int pressed = -1;
    if (sdl.showMessageBox(&data, &pressed) != 0) return false;
    answer = pressed < 0 ? fallback : pressed;
    return true;
  }

  // Asks until an answer names a button; the end of input gives the fallback.
  int AskOnConsole(std::u16string_view title, std::u16string_view text, const std::vector<Choice>& choices,
                   int fallback) {
    std::u16string prompt;
    if (!title.empty()) prompt.append(title).append(u"\n");
    prompt.append(text).append(u"\n");
    ConsoleWrite(prompt);
    std::u16string buttons;
    for (const Choice& choice : choices) {
      if (!buttons.empty()) buttons += u' ';
      buttons += PromptLabel(choice);
    }
    buttons += u'\n';
    for (;;) {
      ConsoleWrite(buttons);
      const int first = ConsoleReadChar();
      if (first < 0) return fallback;
      int c = first;
      while (c >= 0 && c != '\n') c = ConsoleReadChar();
      const char16_t key = first < 0x10000 ? text::ToLowerAscii(static_cast<char16_t>(first)) : 0;
      for (const Choice& choice : choices)
        if (choice.key != 0 && choice.key == key) return choice.id;
      if (c < 0) return fallback;
    }
  }
};

DefaultBackend g_defaultBackend;
std::atomic<platform::IDialogBackend*> g_backend{nullptr};

}  // namespace

namespace platform {

IDialogBackend* SetDialogBackend(IDialogBackend* backend) { return g_backend.exchange(backend); }

IDialogBackend& GetDialogBackend() {
  IDialogBackend* backend = g_backend.load();
  return backend != nullptr ? *backend : g_defaultBackend;
}

IDialogBackend& DefaultDialogBackend() { return g_defaultBackend; }

}  // namespace platform

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  const std::u16string_view body = text != nullptr ? std::u16string_view(text) : std::u16string_view();
  const std::u16string_view title = caption != nullptr ? std::u16string_view(caption) : std::u16string_view(u"Error");
  const int answer = platform::GetDialogBackend().MessageBox(owner, body, title, type);
  if (answer == 0) SetLastError(ERROR_INVALID_FUNCTION);
  return answer;
}

HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* config, int* pressedButton, int* pressedRadioButton,
                           BOOL* verificationFlagChecked) {
  if (pressedButton != nullptr) *pressedButton = 0;
  if (pressedRadioButton != nullptr) *pressedRadioButton = 0;
  if (verificationFlagChecked != nullptr) *verificationFlagChecked = FALSE;
  if (config == nullptr || config->cbSize != sizeof(TASKDIALOGCONFIG)) return E_INVALIDARG;
  int button = 0;
  const HRESULT result = platform::GetDialogBackend().TaskDialog(*config, &button);
  if (result != S_OK) return result;
  if (pressedButton != nullptr) *pressedButton = button;
  if (pressedRadioButton != nullptr) *pressedRadioButton = config->nDefaultRadioButton;
  return S_OK;
}
