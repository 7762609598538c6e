#pragma once
// Fatal and refusal messages of the patch framework.
#include <base/AppContext.h>

// The launcher's closeOnlyMessages flag: fatal messages then offer Close only
// (button set 11) instead of OK (set 0). Start-up sets it from its header copy.
void SetCloseOnlyMessages(bool closeOnly);
MessageButtons FatalMessageButtons();

// Shows text as an error through the application context with the fatal buttons.
void ShowErrorMessage(const char16_t* text);

// "BRINDLECORE: ..." lines on the console (standard output), flushed at once.
void LogConsole(const char* format, ...) __attribute__((format(printf, 1, 2)));
