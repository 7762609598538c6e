#pragma once
// The file system's questions to the user. Each builds its text in a buffer of
// CFileSystem::kPromptCapacity characters (a text that does not fit is reported to
// the task and not shown) and shows it through ShowMessage. A Close answer ends the
// process: Close is the user's wish to end the program, so the exit code is 0.
#include <base/AppContext.h>

namespace fsprompt {

// "The following file/directory could not be created/opened:" (error icon, Close /
// Retry / Ignore). True when the user asks to retry.
bool AskAfterFailure(tTaskContext* task, tAppContext* context, bool directory, bool created, const char16_t* path);
// "The following file was not found:" (warning, Close / Retry / Ignore). True for Retry.
bool AskAfterNotFound(tTaskContext* task, tAppContext* context, const char16_t* path);
// "The following file/directory already exists:" (warning, Yes / No / Close). True for Yes.
bool AskOverwrite(tTaskContext* task, tAppContext* context, bool directory, const char16_t* path);
// "The following file does not exist: ... create it?" (warning, Yes / No). True for Yes.
bool AskCreate(tTaskContext* task, tAppContext* context, const char16_t* path);

}  // namespace fsprompt
