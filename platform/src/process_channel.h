#pragma once
// The private channel between a process and the child it started: one stream socket, fixed-size messages with an
// optional payload. The parent asks (memory, threads); the child's agent replies and reports its threads' and its
// own endings. Both ends write whole messages under a lock; a short read means the other side has gone.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <platform/win32types.h>

namespace platform::detail {

enum class ChannelKind : std::uint32_t {
  // Parent to child; each gets one Reply carrying the same id.
  Allocate = 1,     // a size, b allocation type, c protection -> a address
  Write,            // a address, payload -> a bytes written
  Free,             // a address -> a success
  StartThread,      // a start routine, b parameter -> a thread id (0 on failure)
  ResumeThread,     // a thread id -> a previous suspend count
  TerminateThread,  // a thread id, b exit code -> a success
  // Child to parent.
  Reply = 100,      // id of the request, a result, b the child's last error
  ThreadEnded,      // a thread id, b exit code
  ProcessEnding,    // a exit code (32 bits), sent just before the process ends
};

struct ChannelMessage {
  ChannelKind kind;
  std::uint32_t id;
  std::uint32_t a, b, c;
  std::uint32_t length;  // payload bytes that follow
};

// The environment entry that hands a child its end of the channel: "<descriptor>" or "<descriptor>,suspended".
constexpr const char* kChannelVariable = "BRINDLE_PROCESS_CHANNEL";
constexpr const char* kSuspendedSuffix = ",suspended";
// A payload larger than this is refused by the agent (it would be a remote write of a block nobody allocated).
constexpr std::uint32_t kMaxPayload = 64u << 20;

// Whole reads and writes over a blocking descriptor; false when the other end has gone.
bool ReadFully(int fd, void* buffer, std::size_t size);
bool WriteFully(int fd, const void* buffer, std::size_t size);

// One end of the channel: writes of whole messages are serialised.
struct ChannelEnd {
  int fd = -1;
  std::mutex writeLock;
  bool Send(const ChannelMessage& message, const void* payload = nullptr);
};

// The child's side, for ExitProcess's report: null when this process was not started by CreateProcessW.
ChannelEnd* AgentChannel();
// Sends ThreadEnded for a thread of this process the parent may hold a handle of (its main thread).
void ReportThreadEnded(DWORD threadId, DWORD exitCode);
// Sends ProcessEnding(code) when there is a channel (the last message of this process).
void ReportProcessEnding(DWORD exitCode);
// TerminateProcess of another process's handle.
BOOL TerminateChildProcess(HANDLE process, UINT exitCode);
// ResumeThread or TerminateThread of a thread of another process, asked of its agent.
struct ProcessObject;
bool RemoteThreadRequest(const std::shared_ptr<ProcessObject>& process, ChannelKind kind, DWORD threadId,
                         DWORD value, DWORD* result);

}  // namespace platform::detail
