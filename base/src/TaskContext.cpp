// Lockables and the task context that collects error messages.
#include <base/TaskContext.h>

#include <cstring>
#include <new>

#include <platform/process.h>
#include <platform/text.h>

namespace {

// A UTF-8 sequence has at most this many bytes after its lead byte.
constexpr std::size_t kMaxContinuationBytes = 3;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the longest prefix of text (at most limit bytes) that does not
// end inside a UTF-8 sequence, so a cut message stays valid text.
std::size_t Utf8PrefixLength(const char* text, std::size_t length, std::size_t limit) {
  if (length <= limit) return length;
  // Step back to the lead byte of the sequence that the limit splits. A longer
  // run of continuation bytes belongs to no sequence: the cut stays at the limit.
  std::size_t back = 0;
  while (back < kMaxContinuationBytes && back < limit && IsContinuationByte(text[limit - back])) ++back;
  return IsContinuationByte(text[limit - back]) ? limit : limit - back;
}

constexpr std::size_t kJoinedTextLimit = 4095;

}  // namespace

tLockable::tLockable() { InitializeCriticalSection(&m_lock); }

tLockable::~tLockable() { DeleteCriticalSection(&m_lock); }

void tLockable::Lock() const { EnterCriticalSection(&m_lock); }

void tLockable::Unlock() const { LeaveCriticalSection(&m_lock); }

tTaskContext::tTaskContext() = default;

tTaskContext::~tTaskContext() {
  tErrorEntry* entry = m_errorHead;
  while (entry != nullptr) {
    tErrorEntry* next = entry->next;
    delete entry;
    entry = next;
  }
  m_errorHead = m_errorTail = nullptr;
}

void tTaskContext::AddError(const char* text) { AppendError(text); }

void tTaskContext::AppendError(const char* text) {
  if (text == nullptr) text = "";
  tErrorEntry* entry = new tErrorEntry;
  const std::size_t length = Utf8PrefixLength(text, std::strlen(text), tErrorEntry::kMaxErrorText);
  std::memcpy(entry->text, text, length);
  entry->text[length] = '\0';
  entry->next = nullptr;

  tLockGuard guard(*this);
  entry->previous = m_errorTail;
  if (m_errorTail != nullptr)
    m_errorTail->next = entry;
  else
    m_errorHead = entry;
  m_errorTail = entry;
  ++m_errorCount;
}

std::uint32_t tTaskContext::GetErrorCount() const {
  tLockGuard guard(*this);
  return m_errorCount;
}

std::vector<std::string> tTaskContext::GetErrors() const {
  std::vector<std::string> errors;
  ForEachError([&errors](const char* text) { errors.emplace_back(text); });
  return errors;
}

void TerminateAfterFatalError() {
  TerminateProcess(GetCurrentProcess(), kFatalExitCode);
  // TerminateProcess of the own process does not come back; should a hook let
  // it return, the process must still end as a failure.
  ExitProcess(kFatalExitCode);
}

tMessageCallback g_BeforeMessageCallback = nullptr;
tMessageCallback g_AfterMessageCallback = nullptr;

tAppContext::tAppContext(const char* title, HWND ownerWindow, MessageDisplayMode displayMode)
    : m_ownerWindow(ownerWindow), m_displayMode(displayMode) {
  const char* source = title != nullptr ? title : "";
  const std::size_t length = Utf8PrefixLength(source, std::strlen(source), sizeof(m_title) - 1);
  std::memcpy(m_title, source, length);
  m_title[length] = '\0';
}

tAppContext::~tAppContext() = default;

void tAppContext::AddError(const char* text) {
  AppendError(text);
  ShowErrors(this, MessageButtons::Close);
  TerminateAfterFatalError();
}

MessageResult tAppContext::ShowErrors(tTaskContext* task, MessageButtons buttons) {
  std::string joined;
  if (task != nullptr) {
    // Under the task's lock: another thread may be adding to it meanwhile.
    task->ForEachError([&joined](const char* text) {
      if (joined.size() >= kJoinedTextLimit) return;
      if (!joined.empty()) joined += ' ';
      joined += text;
    });
  }
  // The display buffer holds 4095 bytes of text; cut without splitting a character.
  joined.resize(Utf8PrefixLength(joined.data(), joined.size(), kJoinedTextLimit));
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(joined));
  return ShowMessage(this, MessageIcon::Error, buttons, wide.c_str(), nullptr, false);
}

MessageResult tAppContext::ShowErrorsOK(tTaskContext* task) { return ShowErrors(task, MessageButtons::OK); }

void tAppContext::BeforeMessage() {}

void tAppContext::AfterMessage() {}

HWND tAppContext::GetOwnerWindow() const {
  tLockGuard guard(*this);
  return m_ownerWindow;
}

void tAppContext::SetOwnerWindow(HWND window) {
  tLockGuard guard(*this);
  m_ownerWindow = window;
}

MessageDisplayMode tAppContext::GetDisplayMode() const {
  tLockGuard guard(*this);
  return m_displayMode;
}

void tAppContext::SetDisplayMode(MessageDisplayMode mode) {
  tLockGuard guard(*this);
  m_displayMode = mode;
}

tAppContext g_AppContext("Quorvant Mod Launcher", nullptr, MessageDisplayMode::Default);
