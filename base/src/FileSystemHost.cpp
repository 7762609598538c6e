// Host file operations of the file system and its prompts.
#include <cstring>
#include <initializer_list>

#include <platform/errors.h>
#include <platform/files.h>
#include <platform/process.h>
#include <platform/text.h>

#include <base/FileSystem.h>
#include <base/StringRoutines.h>

#include "FileSystemPrompts.h"

namespace {

constexpr std::uint32_t kMaxPath = CFileSystem::kMaxPath;
constexpr std::uint32_t kPromptCapacity = CFileSystem::kPromptCapacity;

// Joins the pieces into the prompt buffer. A text that does not fit is reported
// (never cut silently) and nothing is shown.
bool ComposePrompt(tTaskContext* task, char16_t* buffer, std::initializer_list<const char16_t*> pieces) {
  std::size_t length = 0;
  buffer[0] = 0;
  for (const char16_t* piece : pieces) {
    const std::size_t pieceLength = piece != nullptr ? text::Length(piece) : 0;
    if (pieceLength >= kPromptCapacity - length) {
      if (task != nullptr) task->AddError(kCopyStringTooShortMessage);
      buffer[length] = 0;
      return false;
    }
    if (pieceLength != 0) std::memcpy(buffer + length, piece, pieceLength * sizeof(char16_t));
    length += pieceLength;
    buffer[length] = 0;
  }
  return true;
}

bool IsDotEntry(const char16_t* name) {
  return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

// Shows the joined pieces as one prompt. Close ends the process (see
// FileSystemPrompts.h); true when the user chose `accept`.
bool Ask(tTaskContext* task, tAppContext* context, MessageIcon icon, MessageButtons buttons, MessageResult accept,
         std::initializer_list<const char16_t*> pieces) {
  if (context == nullptr) return false;
  char16_t text[kPromptCapacity];
  if (!ComposePrompt(task, text, pieces)) return false;
  const MessageResult result = ShowMessage(context, icon, buttons, text, nullptr, false);
  if (result == MessageResult::Close) TerminateProcess(GetCurrentProcess(), 0);
  return result == accept;
}

}  // namespace

namespace fsprompt {

bool AskAfterFailure(tTaskContext* task, tAppContext* context, bool directory, bool created, const char16_t* path) {
  return Ask(task, context, MessageIcon::Error, MessageButtons::CloseRetryIgnore, MessageResult::Retry,
             {directory ? u"The following directory " : u"The following file ",
              created ? u"could not be created" : u"could not be opened", u":\n\n", path});
}

bool AskAfterNotFound(tTaskContext* task, tAppContext* context, const char16_t* path) {
  return Ask(task, context, MessageIcon::Warning, MessageButtons::CloseRetryIgnore, MessageResult::Retry,
             {u"The following file was not found:\n\n", path});
}

bool AskOverwrite(tTaskContext* task, tAppContext* context, bool directory, const char16_t* path) {
  return Ask(task, context, MessageIcon::Warning, MessageButtons::YesNoClose, MessageResult::Yes,
             {directory ? u"The following directory already exists:\n\n" : u"The following file already exists:\n\n",
              path, directory ? u"\n\nWould you like to continue?" : u"\n\nWould you like to overwrite it?"});
}

bool AskCreate(tTaskContext* task, tAppContext* context, const char16_t* path) {
  return Ask(task, context, MessageIcon::Warning, MessageButtons::YesNo, MessageResult::Yes,
             {u"The following file does not exist:\n\n", path, u"\n\nWould you like to create it?"});
}

}  // namespace fsprompt

CStream* OpenHostFile(tTaskContext* task, tAppContext* context, const char16_t* path, bool writable,
                      bool promptIfMissing, bool promptOnFailure) {
  if (path == nullptr) return nullptr;
  for (;;) {
    if (PathFileExistsW(path) && !PathIsDirectoryW(path)) {
      const HANDLE file = CreateFileW(path, writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ,
                                      writable ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) return new CWindowsFileStream(file, writable);
      if (promptOnFailure && fsprompt::AskAfterFailure(task, context, false, false, path)) continue;
      return nullptr;
    }
    if (promptIfMissing && fsprompt::AskAfterNotFound(task, context, path)) continue;
    return nullptr;
  }
}

CStream* CreateHostFile(tTaskContext* task, tAppContext* context, const char16_t* path,
                        bool promptBeforeOverwrite, bool promptOnFailure) {
  if (path == nullptr) return nullptr;
  const DWORD original = GetFileAttributesW(path);
  const bool existing = original != INVALID_FILE_ATTRIBUTES && (original & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (existing && promptBeforeOverwrite && !fsprompt::AskOverwrite(task, context, false, path)) return nullptr;

  for (;;) {
    bool changed = false;
    if (existing && (original & FILE_ATTRIBUTE_READONLY) != 0) {
      changed = SetFileAttributesW(path, original & ~FILE_ATTRIBUTE_READONLY) != FALSE;
    }
    const HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    existing ? original : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return new CWindowsFileStream(file, true);
    // The file stays as it was: give it back exactly the attributes it had.
    if (changed) {
      const DWORD error = GetLastError();
      SetFileAttributesW(path, original);
      SetLastError(error);
    }
    if (promptOnFailure && fsprompt::AskAfterFailure(task, context, false, true, path)) continue;
    return nullptr;
  }
}

bool CreateHostDirectoryChain(tTaskContext* task, tAppContext* context, const char16_t* path) {
  if (path == nullptr) return false;
  // Checked before anything is made, so an overlong path leaves no directories behind.
  if (text::Length(path) >= kMaxPath) {
    if (task != nullptr) task->AddError(kStringBufferTooShortMessage);
    return false;
  }
  char16_t directory[kMaxPath];
  std::size_t length = 0;
  std::size_t rootLength = 0;
  if (path[0] == u'\\' && path[1] == u'\\') {
    rootLength = 2;  // UNC
  } else if (((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) && path[1] == u':') {
    rootLength = 2;  // drive
  }
  for (; length < rootLength; ++length) directory[length] = path[length];

  for (std::size_t i = rootLength;; ++i) {
    const char16_t c = path[i];
    if (c == 0 || c == u'\\' || c == u'/') {
      directory[length] = 0;
      // Nothing to make for the root itself (or an absolute path's leading separator).
      if (length > rootLength && !PathIsDirectoryW(directory)) {
        while (!CreateDirectoryW(directory, nullptr) && !PathIsDirectoryW(directory)) {
          if (!fsprompt::AskAfterFailure(task, context, true, true, path)) return false;
        }
      }
      if (c == 0) return true;
    }
    directory[length++] = c;
  }
}

bool EnumerateHostDirectory(const char16_t* path, tEnumerateCallback filter, void* user) {
  if (path == nullptr || filter == nullptr) return true;
  std::u16string pattern(path);
  pattern += u"\\*";
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  // A directory that cannot be listed lists nothing; the caller's listing goes on.
  if (find == INVALID_HANDLE_VALUE) return true;
  bool goOn = true;
  do {
    const char16_t* name = entry.cFileName;
    if (IsDotEntry(name)) continue;
    if (!filter(name, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, user)) {
      goOn = false;
      break;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return goOn;
}
