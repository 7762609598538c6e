#pragma once
// Message boxes, task dialogs and the console prompt, behind one replaceable backend.
//
// The default backend shows SDL's message box when SDL's video subsystem is up
// (it never initialises SDL itself) and otherwise asks on the console: the text
// and the buttons go to standard output and the answer is read from standard
// input. Nothing ever waits without a terminal, and nothing is chosen on
// nobody's behalf: at the end of input a message box answers what lets its
// caller fail (IDIGNORE for Abort/Retry/Ignore, IDNO for Yes/No and
// Yes/No/Cancel, IDCANCEL for the other sets with Cancel, IDOK for OK alone),
// and a task dialog fails with E_FAIL, so that its caller falls back to a box.
#include <cstdint>
#include <string_view>

#include <platform/win32types.h>

using ULONG_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
struct HICON__;
using HICON = HICON__*;

// MessageBoxW types.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr UINT MB_SERVICE_NOTIFICATION = 0x00200000;

// Dialog results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCLOSE = 8;
constexpr int IDHELP = 9;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// Returns the ID* of the button chosen, 0 on failure.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Task dialogs (Win32 layout: the structures are packed).
using TASKDIALOG_FLAGS = int;
using TASKDIALOG_COMMON_BUTTON_FLAGS = int;

constexpr TASKDIALOG_FLAGS TDF_ENABLE_HYPERLINKS = 0x0001;
constexpr TASKDIALOG_FLAGS TDF_USE_HICON_MAIN = 0x0002;
constexpr TASKDIALOG_FLAGS TDF_USE_HICON_FOOTER = 0x0004;
constexpr TASKDIALOG_FLAGS TDF_ALLOW_DIALOG_CANCELLATION = 0x0008;
constexpr TASKDIALOG_FLAGS TDF_USE_COMMAND_LINKS = 0x0010;
constexpr TASKDIALOG_FLAGS TDF_POSITION_RELATIVE_TO_WINDOW = 0x1000;
constexpr TASKDIALOG_FLAGS TDF_SIZE_TO_CONTENT = 0x01000000;

constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_OK_BUTTON = 0x0001;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_YES_BUTTON = 0x0002;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_NO_BUTTON = 0x0004;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_CANCEL_BUTTON = 0x0008;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_RETRY_BUTTON = 0x0010;
constexpr TASKDIALOG_COMMON_BUTTON_FLAGS TDCBF_CLOSE_BUTTON = 0x0020;

// Icons are resource numbers in a pointer, as MAKEINTRESOURCEW makes them.
inline const LPCWSTR TD_WARNING_ICON = reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(0xFFFF));
inline const LPCWSTR TD_ERROR_ICON = reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(0xFFFE));
inline const LPCWSTR TD_INFORMATION_ICON = reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(0xFFFD));
inline const LPCWSTR TD_SHIELD_ICON = reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(0xFFFC));

using PFTASKDIALOGCALLBACK = HRESULT (*)(HWND window, UINT notification, WPARAM wParam, LPARAM lParam,
                                         LONG_PTR referenceData);

#pragma pack(push, 1)
struct TASKDIALOG_BUTTON {
  int nButtonID;
  LPCWSTR pszButtonText;
};

struct TASKDIALOGCONFIG {
  UINT cbSize;
  HWND hwndParent;
  HINSTANCE hInstance;
  TASKDIALOG_FLAGS dwFlags;
  TASKDIALOG_COMMON_BUTTON_FLAGS dwCommonButtons;
  LPCWSTR pszWindowTitle;
  union {
    HICON hMainIcon;
    LPCWSTR pszMainIcon;
  };
  LPCWSTR pszMainInstruction;
  LPCWSTR pszContent;
  UINT cButtons;
  const TASKDIALOG_BUTTON* pButtons;
  int nDefaultButton;
  UINT cRadioButtons;
  const TASKDIALOG_BUTTON* pRadioButtons;
  int nDefaultRadioButton;
  LPCWSTR pszVerificationText;
  LPCWSTR pszExpandedInformation;
  LPCWSTR pszExpandedControlText;
  LPCWSTR pszCollapsedControlText;
  union {
    HICON hFooterIcon;
    LPCWSTR pszFooterIcon;
  };
  LPCWSTR pszFooter;
  PFTASKDIALOGCALLBACK pfCallback;
  LONG_PTR lpCallbackData;
  UINT cxWidth;
};
#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(TASKDIALOGCONFIG) == 96, "TASKDIALOGCONFIG must keep its 32-bit Win32 layout");
#endif

// Shows the dialog through the backend. The common buttons give IDOK, IDYES,
// IDNO, IDCANCEL, IDRETRY and IDCLOSE; custom buttons give their nButtonID. Radio
// buttons, verification boxes and callbacks are not supported (the radio result is
// the default radio button, the box stays unchecked). A null config or a cbSize
// other than sizeof(TASKDIALOGCONFIG) gives E_INVALIDARG; a dialog that nobody
// answered (the console's end of input) gives E_FAIL.
HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* config, int* pressedButton, int* pressedRadioButton,
                           BOOL* verificationFlagChecked);

namespace platform {

struct IDialogBackend {
  virtual ~IDialogBackend() = default;
  // ID* of the answer, or 0 when the box could not be shown.
  virtual int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) = 0;
  // S_OK with the pressed button's ID, or a failure code.
  virtual HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressedButton) = 0;
  // Writes to standard output.
  virtual void ConsoleWrite(std::u16string_view text) = 0;
  // The next input character (a code point), -1 at the end of input.
  virtual int ConsoleReadChar() = 0;
};

// Installs a backend (not owned); null restores the default. Returns the previous one.
IDialogBackend* SetDialogBackend(IDialogBackend* backend);
// The backend in use (never null).
IDialogBackend& GetDialogBackend();
// The built-in backend (SDL message box or console).
IDialogBackend& DefaultDialogBackend();

}  // namespace platform
