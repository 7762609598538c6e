// Processes this one starts: host children joined by a private channel, their remote memory and threads, waits.
#include <platform/process.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <platform/console.h>
#include <platform/errors.h>
#include <platform/files.h>
#include <platform/memory.h>
#include <platform/sync.h>
#include <platform/testing/ProcessFaults.h>
#include <platform/text.h>

#include "handles.h"
#include "process_channel.h"

extern char** environ;

namespace platform::detail {

struct ChildChannel {
  ChannelEnd end;
  pid_t pid = 0;
  std::uint32_t nextId = 1;                                       // WaitMutex
  std::map<std::uint32_t, std::pair<DWORD, DWORD>> replies;       // WaitMutex: id -> result, error
  bool closed = false;                                            // WaitMutex: the child's end has gone
  bool reported = false;                                          // WaitMutex
  DWORD reportedCode = 0;                                         // WaitMutex
  bool terminateAsked = false;                                    // WaitMutex
  DWORD terminateCode = 0;                                        // WaitMutex
  std::map<DWORD, std::weak_ptr<ThreadObject>> threads;           // WaitMutex: remote threads by id
  std::map<DWORD, DWORD> endedUnknown;  // WaitMutex: endings that came before their thread's handle was made
};

}  // namespace platform::detail

using namespace platform::detail;

namespace {

// ---- forced failures ----------------------------------------------------------------------------------------

using platform::testing::ProcessCall;
constexpr const char* kCallNames[] = {"CreateProcessW", "VirtualAllocEx", "WriteProcessMemory", "CreateRemoteThread"};
static_assert(std::size(kCallNames) == std::size_t(ProcessCall::Count));

struct Faults {
  std::mutex lock;
  std::uint32_t countdown[std::size_t(ProcessCall::Count)] = {};  // 0 = none; 1 = the next call fails
  bool environmentRead = false;
};
Faults& FaultTable() {
  static Faults* faults = new Faults();
  return *faults;
}

void ReadForcedFailureFromEnvironment(Faults& faults) {
  if (faults.environmentRead) return;
  faults.environmentRead = true;
  const char* value = std::getenv("BRINDLE_FORCE_FAILURE");
  if (value == nullptr) return;
  const std::string text(value);
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const unsigned long nth = colon == std::string::npos ? 1 : std::strtoul(text.c_str() + colon + 1, nullptr, 10);
  for (std::size_t i = 0; i < std::size(kCallNames); ++i)
    if (name == kCallNames[i]) faults.countdown[i] = std::uint32_t(nth);
}

bool ForcedToFail(ProcessCall call) {
  Faults& faults = FaultTable();
  std::lock_guard<std::mutex> guard(faults.lock);
  ReadForcedFailureFromEnvironment(faults);
  std::uint32_t& countdown = faults.countdown[std::size_t(call)];
  if (countdown == 0) return false;
  return --countdown == 0;
}

// ---- the channel ----------------------------------------------------------------------------------------------

std::shared_ptr<ProcessObject> LookupProcess(HANDLE process) {
  return Lookup<ProcessObject>(process, HandleKind::Process);
}

// Sends a request and waits for its reply; false (ERROR_INVALID_HANDLE, as for a process that has gone) when the
// child ended first.
bool Request(ChildChannel& channel, ChannelKind kind, std::uint32_t a, std::uint32_t b, std::uint32_t c,
             const void* payload, std::uint32_t length, DWORD* result) {
  std::uint32_t id;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    if (channel.closed) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    id = channel.nextId++;
  }
  if (!channel.end.Send({kind, id, a, b, c, length}, payload)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::unique_lock<std::mutex> lock(WaitMutex());
  WaitCondition().wait(lock, [&] { return channel.replies.count(id) != 0 || channel.closed; });
  const auto reply = channel.replies.find(id);
  if (reply == channel.replies.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  *result = reply->second.first;
  const DWORD error = reply->second.second;
  channel.replies.erase(reply);
  lock.unlock();
  SetLastError(error);
  return true;
}

DWORD ExitCodeOfStatus(int status) {
  if (WIFEXITED(status)) return DWORD(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return ExceptionCodeOfSignal(WTERMSIG(status));
  return 1;
}

// Reads the child's messages until its end goes, then reaps it and finishes its handles.
void Monitor(std::shared_ptr<ProcessObject> process) {
  ChildChannel& channel = *process->channel;
  ChannelMessage message;
  std::vector<char> discard;
  while (ReadFully(channel.end.fd, &message, sizeof message)) {
    if (message.length != 0) {
      discard.resize(message.length);
      if (!ReadFully(channel.end.fd, discard.data(), message.length)) break;
    }
    std::lock_guard<std::mutex> lock(WaitMutex());
    switch (message.kind) {
      case ChannelKind::Reply:
        channel.replies[message.id] = {message.a, message.b};
        break;
      case ChannelKind::ThreadEnded:
        if (const auto known = channel.threads.find(message.a); known != channel.threads.end()) {
          if (auto thread = known->second.lock()) {
            thread->exitCode = message.b;
            thread->finished = true;
          }
          channel.threads.erase(known);
        } else {
          channel.endedUnknown[message.a] = message.b;
        }
        break;
      case ChannelKind::ProcessEnding:
        channel.reported = true;
        channel.reportedCode = message.a;
        break;
      default:
        break;
    }
    WaitCondition().notify_all();
  }
  int status = 0;
  while (::waitpid(channel.pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::lock_guard<std::mutex> lock(WaitMutex());
  channel.closed = true;
  // The code the game reported as it ended is its own; one given from outside comes next; the host status last.
  process->exitCode = channel.reported         ? channel.reportedCode
                      : channel.terminateAsked ? channel.terminateCode
                                               : ExitCodeOfStatus(status);
  process->finished = true;
  for (auto& [id, weak] : channel.threads)
    if (auto thread = weak.lock()) {
      thread->exitCode = process->exitCode;
      thread->finished = true;
    }
  channel.threads.clear();
  WaitCondition().notify_all();
}

// A remote thread's handle, known to the channel by id.
HANDLE MakeRemoteThread(const std::shared_ptr<ProcessObject>& process, DWORD threadId) {
  auto thread = std::make_shared<ThreadObject>();
  thread->threadId = threadId;
  thread->idKnown = true;
  thread->process = process;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    const auto ended = process->channel->endedUnknown.find(threadId);
    if (ended != process->channel->endedUnknown.end()) {
      thread->finished = true;
      thread->exitCode = ended->second;
      process->channel->endedUnknown.erase(ended);
    } else if (process->finished) {
      thread->finished = true;
      thread->exitCode = process->exitCode;
    } else {
      process->channel->threads[threadId] = thread;
    }
  }
  return InsertHandle(thread);
}

// The Win32 rules of splitting a command line: blanks separate, quotes group, 2n backslashes before a quote are
// n backslashes and the quote counts, 2n + 1 are n and a literal quote; other backslashes are themselves.
std::vector<std::string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::string> arguments;
  std::u16string current;
  bool inQuotes = false, any = false;
  for (std::size_t i = 0; i < line.size();) {
    const char16_t c = line[i];
    if ((c == u' ' || c == u'\t') && !inQuotes) {
      if (any) arguments.push_back(text::Utf16ToUtf8(current));
      current.clear();
      any = false;
      ++i;
      continue;
    }
    any = true;
    if (c == u'\\') {
      std::size_t run = 0;
      while (i < line.size() && line[i] == u'\\') ++run, ++i;
      if (i < line.size() && line[i] == u'"') {
        current.append(run / 2, u'\\');
        if (run % 2 == 1) current += u'"', ++i;
      } else {
        current.append(run, u'\\');
      }
      continue;
    }
    if (c == u'"') {
      inQuotes = !inQuotes;
    } else {
      current += c;
    }
    ++i;
  }
  if (any) arguments.push_back(text::Utf16ToUtf8(current));
  return arguments;
}

}  // namespace

namespace platform::detail {

BOOL TerminateChildProcess(HANDLE handle, UINT exitCode) {
  std::shared_ptr<ProcessObject> process = LookupProcess(handle);
  if (!process) return FALSE;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    if (process->finished) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (!process->channel->terminateAsked) {
      process->channel->terminateAsked = true;
      process->channel->terminateCode = exitCode;
    }
  }
  ::kill(process->channel->pid, SIGKILL);
  return TRUE;
}

bool RemoteThreadRequest(const std::shared_ptr<ProcessObject>& process, ChannelKind kind, DWORD threadId,
                         DWORD value, DWORD* result) {
  return Request(*process->channel, kind, threadId, value, 0, nullptr, 0, result);
}

}  // namespace platform::detail

DWORD ExceptionCodeOfSignal(int signal) {
  constexpr DWORD kAccessViolation = 0xC0000005, kInPageError = 0xC0000006, kIllegalInstruction = 0xC000001D,
                  kIntegerDivideByZero = 0xC0000094, kBreakpoint = 0x80000003, kFailFast = 0xC0000409,
                  kUnknownEnding = 1;
  switch (signal) {
    case SIGSEGV: return kAccessViolation;
    case SIGBUS: return kInPageError;
    case SIGILL: return kIllegalInstruction;
    case SIGFPE: return kIntegerDivideByZero;
    case SIGTRAP: return kBreakpoint;
    case SIGABRT: return kFailFast;
    case SIGINT:
    case SIGHUP:
    case SIGTERM: return STATUS_CONTROL_C_EXIT;  // Ctrl+C or the console closing
    default: return kUnknownEnding;
  }
}

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*, BOOL,
                    DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory, STARTUPINFOW*,
                    PROCESS_INFORMATION* information) {
  if (information == nullptr || (applicationName == nullptr && commandLine == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (environment != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (ForcedToFail(ProcessCall::CreateProcess)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::vector<std::string> arguments = SplitCommandLine(commandLine != nullptr ? commandLine : applicationName);
  const std::string program = platform::ToHostPath(applicationName != nullptr ? applicationName
                                                                              : text::Utf8ToUtf16(arguments[0]).c_str());
  if (arguments.empty()) arguments.push_back(program);
  std::string directory;
  if (currentDirectory != nullptr) {
    directory = platform::ToHostPath(currentDirectory);
    struct stat info;
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
  }
  if (::access(program.c_str(), X_OK) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }

  int sockets[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  // Everything the child needs is made before the fork: between fork and exec only async-signal-safe calls run.
  std::vector<std::string> environmentText;
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (std::strncmp(*entry, kChannelVariable, std::strlen(kChannelVariable)) != 0) environmentText.push_back(*entry);
  environmentText.push_back(std::string(kChannelVariable) + "=" + std::to_string(sockets[1]) +
                            ((creationFlags & CREATE_SUSPENDED) ? kSuspendedSuffix : ""));
  std::vector<char*> argv, envp;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  for (std::string& entry : environmentText) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) {
    platform::SetLastErrorFromErrno(errno);
    ::close(sockets[0]);
    ::close(sockets[1]);
    return FALSE;
  }
  if (pid == 0) {
    ::fcntl(sockets[1], F_SETFD, 0);  // the child's end survives exec
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(127);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(sockets[1]);

  auto process = std::make_shared<ProcessObject>();
  process->channel = std::make_shared<ChildChannel>();
  process->channel->end.fd = sockets[0];
  process->channel->pid = pid;
  HANDLE processHandle = InsertHandle(process);
  std::thread(Monitor, process).detach();
  // The main thread's id is the process id on this host.
  HANDLE threadHandle = MakeRemoteThread(process, DWORD(pid));
  information->hProcess = processHandle;
  information->hThread = threadHandle;
  information->dwProcessId = DWORD(pid);
  information->dwThreadId = DWORD(pid);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, DWORD* exitCode) {
  if (handle == GetCurrentProcess()) {
    if (exitCode != nullptr) *exitCode = STILL_ACTIVE;
    return exitCode != nullptr ? TRUE : FALSE;
  }
  std::shared_ptr<ProcessObject> process = LookupProcess(handle);
  if (!process) return FALSE;
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitMutex());
  *exitCode = process->finished ? process->exitCode : STILL_ACTIVE;
  return TRUE;
}

LPVOID VirtualAllocEx(HANDLE handle, LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  if (handle == GetCurrentProcess()) return VirtualAlloc(address, size, allocationType, protect);
  std::shared_ptr<ProcessObject> process = LookupProcess(handle);
  if (!process) return nullptr;
  if (address != nullptr) {  // the other process chooses the place
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (ForcedToFail(ProcessCall::VirtualAllocEx)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD result = 0;
  if (!Request(*process->channel, ChannelKind::Allocate, std::uint32_t(size), allocationType, protect, nullptr, 0,
               &result))
    return nullptr;
  return reinterpret_cast<LPVOID>(std::uintptr_t(result));
}

BOOL VirtualFreeEx(HANDLE handle, LPVOID address, SIZE_T size, DWORD freeType) {
  if (handle == GetCurrentProcess()) return VirtualFree(address, size, freeType);
  std::shared_ptr<ProcessObject> process = LookupProcess(handle);
  if (!process) return FALSE;
  if (freeType != MEM_RELEASE || size != 0 || address == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD result = 0;
  if (!Request(*process->channel, ChannelKind::Free, std::uint32_t(std::uintptr_t(address)), 0, 0, nullptr, 0,
               &result))
    return FALSE;
  return result != 0 ? TRUE : FALSE;
}

BOOL WriteProcessMemory(HANDLE handle, LPVOID address, LPCVOID buffer, SIZE_T size, SIZE_T* written) {
  if (written != nullptr) *written = 0;
  std::shared_ptr<ProcessObject> process = LookupProcess(handle);
  if (!process) return FALSE;
  if (buffer == nullptr || size > kMaxPayload) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SIZE_T length = size;
  const bool forced = ForcedToFail(ProcessCall::WriteProcessMemory);
  if (forced) length = size / 2;
  DWORD result = 0;
  if (!Request(*process->channel, ChannelKind::Write, std::uint32_t(std::uintptr_t(address)), 0, 0, buffer,
               std::uint32_t(length), &result))
    return FALSE;
  if (written != nullptr) *written = result;
  if (forced) {
    SetLastError(ERROR_PARTIAL_COPY);
    return FALSE;
  }
  return result == size ? TRUE : FALSE;
}

HANDLE CreateRemoteThread(HANDLE handle, SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE start,
                          LPVOID parameter, DWORD creationFlags, DWORD* threadId) {
  std::shared_ptr<ProcessObject> process = LookupProcess(handle);
  if (!process) return nullptr;
  if (start == nullptr || creationFlags != 0) {
    SetLastError(start == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (ForcedToFail(ProcessCall::CreateRemoteThread)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD id = 0;
  if (!Request(*process->channel, ChannelKind::StartThread, std::uint32_t(reinterpret_cast<std::uintptr_t>(start)),
               std::uint32_t(reinterpret_cast<std::uintptr_t>(parameter)), 0, nullptr, 0, &id) ||
      id == 0)
    return nullptr;
  if (threadId != nullptr) *threadId = id;
  return MakeRemoteThread(process, id);
}

namespace platform::testing {

void FailProcessCall(ProcessCall call, std::uint32_t nth) {
  Faults& faults = FaultTable();
  std::lock_guard<std::mutex> guard(faults.lock);
  faults.environmentRead = true;  // a test's own choice wins over the environment
  faults.countdown[std::size_t(call)] = nth;
}

void ClearProcessCallFailures() {
  Faults& faults = FaultTable();
  std::lock_guard<std::mutex> guard(faults.lock);
  for (std::uint32_t& countdown : faults.countdown) countdown = 0;
}

}  // namespace platform::testing
