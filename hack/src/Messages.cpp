// Fatal and refusal messages of the patch framework.
#include <hack/Messages.h>

#include <cstdarg>
#include <cstdio>

namespace {
bool g_CloseOnlyMessages = false;
}  // namespace

void SetCloseOnlyMessages(bool closeOnly) { g_CloseOnlyMessages = closeOnly; }

MessageButtons FatalMessageButtons() { return g_CloseOnlyMessages ? MessageButtons::Close : MessageButtons::OK; }

void ShowErrorMessage(const char16_t* text) {
  ShowMessage(&g_AppContext, MessageIcon::Error, FatalMessageButtons(), text, nullptr, false);
}

void LogConsole(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}
