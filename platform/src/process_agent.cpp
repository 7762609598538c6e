// The child's side of the channel: serves the parent's remote memory and thread requests, holds a main thread
// created suspended, and reports the process's exit code as it ends.
#include <platform/process.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <platform/errors.h>
#include <platform/memory.h>
#include <platform/sync.h>

#include "handles.h"
#include "process_channel.h"
#include "shared_entries.h"

namespace platform::detail {

bool ReadFully(int fd, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= std::size_t(got);
  }
  return true;
}

bool WriteFully(int fd, const void* buffer, std::size_t size) {
  const auto* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t put = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    size -= std::size_t(put);
  }
  return true;
}

bool ChannelEnd::Send(const ChannelMessage& message, const void* payload) {
  std::lock_guard<std::mutex> guard(writeLock);
  return WriteFully(fd, &message, sizeof message) && (message.length == 0 || WriteFully(fd, payload, message.length));
}

}  // namespace platform::detail

using namespace platform::detail;

namespace {

struct Agent {
  ChannelEnd channel;
  bool suspended = false;
  std::mutex blocksLock;
  std::map<std::uintptr_t, std::size_t> blocks;  // blocksLock: what Allocate made, base -> size
};

// The environment names the channel once; the entry goes so that the game's own children do not take it.
Agent* FindAgent() {
  static Agent* agent = [] () -> Agent* {
    const char* value = std::getenv(kChannelVariable);
    if (value == nullptr) return nullptr;
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    if (end == value || fd < 0 || ::fcntl(int(fd), F_GETFD) < 0) return nullptr;
    auto* found = new Agent();
    found->channel.fd = int(fd);
    found->suspended = std::strcmp(end, kSuspendedSuffix) == 0;
    ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
    ::unsetenv(kChannelVariable);
    return found;
  }();
  return agent;
}

void Reply(Agent& agent, std::uint32_t id, DWORD result) {
  agent.channel.Send({ChannelKind::Reply, id, result, GetLastError(), 0, 0});
}

bool InsideBlock(Agent& agent, std::uintptr_t address, std::size_t length) {
  std::lock_guard<std::mutex> guard(agent.blocksLock);
  auto it = agent.blocks.upper_bound(address);
  if (it == agent.blocks.begin()) return false;
  --it;
  return address >= it->first && address - it->first <= it->second && length <= it->second - (address - it->first);
}

struct RemoteStart {
  Agent* agent;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  HANDLE go;  // set once the parent knows the thread's id, so its ending never comes first
};

DWORD RunRemoteThread(LPVOID argument) {
  RemoteStart start = *static_cast<RemoteStart*>(argument);
  delete static_cast<RemoteStart*>(argument);
  WaitForSingleObject(start.go, INFINITE);
  CloseHandle(start.go);
  const DWORD code = start.routine(start.parameter);
  start.agent->channel.Send({ChannelKind::ThreadEnded, 0, GetCurrentThreadId(), code, 0, 0});
  return code;
}

void StartThread(Agent& agent, const ChannelMessage& request) {
  auto* start = new RemoteStart{&agent, reinterpret_cast<LPTHREAD_START_ROUTINE>(std::uintptr_t(request.a)),
                                reinterpret_cast<LPVOID>(std::uintptr_t(request.b)),
                                CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  DWORD id = 0;
  const HANDLE go = start->go;  // read first: once running, the thread owns start
  HANDLE thread = go != nullptr ? CreateThread(nullptr, 0, RunRemoteThread, start, 0, &id) : nullptr;
  if (thread == nullptr) {
    if (go != nullptr) CloseHandle(go);
    delete start;
    Reply(agent, request.id, 0);
    return;
  }
  Reply(agent, request.id, id);
  SetEvent(go);
  CloseHandle(thread);
}

void Serve(Agent& agent, const ChannelMessage& request, const std::vector<char>& payload) {
  switch (request.kind) {
    case ChannelKind::Allocate: {
      void* block = VirtualAlloc(nullptr, request.a, request.b, request.c);
      if (block != nullptr) {
        std::lock_guard<std::mutex> guard(agent.blocksLock);
        agent.blocks[std::uintptr_t(block)] = request.a;
      }
      Reply(agent, request.id, DWORD(std::uintptr_t(block)));
      break;
    }
    case ChannelKind::Write: {
      if (!InsideBlock(agent, request.a, payload.size())) {
        SetLastError(ERROR_NOACCESS);
        Reply(agent, request.id, 0);
        break;
      }
      std::memcpy(reinterpret_cast<void*>(std::uintptr_t(request.a)), payload.data(), payload.size());
      Reply(agent, request.id, DWORD(payload.size()));
      break;
    }
    case ChannelKind::Free: {
      const BOOL freed = VirtualFree(reinterpret_cast<void*>(std::uintptr_t(request.a)), 0, MEM_RELEASE);
      if (freed) {
        std::lock_guard<std::mutex> guard(agent.blocksLock);
        agent.blocks.erase(request.a);
      }
      Reply(agent, request.id, DWORD(freed));
      break;
    }
    case ChannelKind::StartThread:
      StartThread(agent, request);
      break;
    case ChannelKind::ResumeThread: {
      // The reply goes first: a resumed main thread may end the process before another message could.
      std::shared_ptr<ThreadObject> thread = AdoptOwnThread(request.a);
      bool held = false;
      if (thread) {
        std::lock_guard<std::mutex> lock(WaitMutex());
        held = thread->held;
      } else {
        SetLastError(ERROR_INVALID_PARAMETER);
      }
      Reply(agent, request.id, !thread ? DWORD(-1) : held ? 1 : 0);
      if (HANDLE handle = thread ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, request.a) : nullptr) {
        ResumeThread(handle);
        CloseHandle(handle);
      }
      break;
    }
    case ChannelKind::TerminateThread: {
      HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, request.a);
      const BOOL done = thread != nullptr && TerminateThread(thread, request.b);
      if (thread != nullptr) CloseHandle(thread);
      Reply(agent, request.id, DWORD(done));
      break;
    }
    default:
      SetLastError(ERROR_INVALID_FUNCTION);
      Reply(agent, request.id, 0);
      break;
  }
}

DWORD ServeChannel(LPVOID argument) {
  Agent& agent = *static_cast<Agent*>(argument);
  ChannelMessage request;
  std::vector<char> payload;
  while (ReadFully(agent.channel.fd, &request, sizeof request)) {
    if (request.length > kMaxPayload) break;
    payload.resize(request.length);
    if (request.length != 0 && !ReadFully(agent.channel.fd, payload.data(), request.length)) break;
    Serve(agent, request, payload);
  }
  return 0;
}

}  // namespace

namespace platform::detail {

ChannelEnd* AgentChannel() {
  Agent* agent = FindAgent();
  return agent != nullptr ? &agent->channel : nullptr;
}

void ReportThreadEnded(DWORD threadId, DWORD exitCode) {
  if (ChannelEnd* channel = AgentChannel()) channel->Send({ChannelKind::ThreadEnded, 0, threadId, exitCode, 0, 0});
}

void ReportProcessEnding(DWORD exitCode) {
  if (ChannelEnd* channel = AgentChannel()) channel->Send({ChannelKind::ProcessEnding, 0, exitCode, 0, 0, 0});
}

}  // namespace platform::detail

namespace platform {

void EnterGameMain() {
  Agent* agent = FindAgent();
  if (agent == nullptr) return;
  SharedEntriesReady();  // the parent starts remote threads at their addresses
  std::shared_ptr<ThreadObject> main;
  if (agent->suspended) {
    // Held before the first request is served, so that no ResumeThread can come before the hold.
    main = AdoptOwnThread(GetCurrentThreadId());
    std::lock_guard<std::mutex> lock(WaitMutex());
    main->held = true;
  }
  HANDLE server = CreateThread(nullptr, 0, ServeChannel, agent, 0, nullptr);
  if (server != nullptr) CloseHandle(server);
  if (!main) return;
  std::unique_lock<std::mutex> lock(WaitMutex());
  WaitCondition().wait(lock, [&] { return !main->held; });
  if (main->terminated) {
    lock.unlock();
    ::pthread_exit(nullptr);
  }
}

}  // namespace platform
