#pragma once
// Operating-system services of the engine: version queries, ticks, clipboard, key modifiers, error
// texts, and the string operations the engine shares (UTF-8 conversions, bool parser, colour markup).
#include <cstdint>
#include <string>

#include <platform/dialogs.h>
#include <platform/win32types.h>

// The assertion dialog and its loader live with the assertion routine.
#include <engine/VexilAssert.h>

namespace Vexil3D {

// Key-modifier bits of GetModState.
enum : std::uint32_t {
  MOD_LSHIFT = 0x0001,
  MOD_RSHIFT = 0x0002,
  MOD_LCTRL = 0x0040,
  MOD_RCTRL = 0x0080,
  MOD_LALT = 0x0100,
  MOD_RALT = 0x0200,
  MOD_LWIN = 0x0400,
  MOD_RWIN = 0x0800,
  MOD_NUMLOCK = 0x1000,
  MOD_CAPSLOCK = 0x2000,
  MOD_SCROLLLOCK = 0x4000,
};

namespace OS {

// The Windows version through RtlGetVersion of "ntdll.dll" (looked up at run time), else
// GetVersionExW. The record's dwOSVersionInfoSize is set here.
bool GetVersion(OSVERSIONINFOW* version);
// IsWow64Process of "kernel32.dll" for the current process; false when missing or failing.
bool IsWow64();

// Puts the text (length units, no terminator needed) on the clipboard as CF_UNICODETEXT.
bool SetClipboardText(const char16_t* text, unsigned int length);
// A new zero-terminated copy of the clipboard's text (free with delete[]), or null when it holds none.
char16_t* GetClipboardText();

}  // namespace OS

// Milliseconds since the tick counter started (it starts on the first call).
std::uint64_t GetTicks();
// Starts the tick counter if it has not started yet.
void StartTicks();

// The MOD_* bits of the keys held down and the locks switched on.
std::uint32_t GetModState();

// The system's text for a Win32 error code without its line break, or "Unknown error (0x...)".
std::u16string GetWin32ErrorText(DWORD error);

// UTF-8 conversions into new zero-terminated buffers (free with delete[]); the lengths exclude the
// terminator. A length of -1 (as unsigned) measures the text up to its terminator.
char* WideToUtf8(const char16_t* text, std::uint32_t length, std::uint32_t* outLength);
char16_t* Utf8ToWide(const char* text, std::uint32_t length, std::uint32_t* outLength);

// "true" and "1" give true, "false" and "0" give false; anything else is refused and leaves the
// value unchanged.
bool ParseBool(const char16_t* text, bool* value);

// Turns the colour markup of chat text into GUI colour codes: each "[#" followed by six hexadecimal digits
// becomes U+0001, "ff" and the six digits as written; what follows is copied, except that the next "]"
// after such a tag is dropped (one "]" for all the tags before it). A "[" or "[#" that does not go on so
// is copied unchanged. The result may be longer than the text (by one unit per tag with no "]" after it).
// Returns a new zero-terminated buffer (free with delete[]).
char16_t* ConvertColourMarkup(const char16_t* text, std::uint32_t length, std::uint32_t* outLength);

// Console text attributes used by the log.
enum : WORD {
  CONSOLE_COLOUR_DEFAULT = 10,
  CONSOLE_COLOUR_WARNING = 14,
  CONSOLE_COLOUR_ERROR = 12,
  CONSOLE_COLOUR_CRITICAL = 207,
};

// True while a debugger is attached to the process.
bool IsDebuggerAttached();

}  // namespace Vexil3D
