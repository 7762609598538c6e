// The inherited console, control events from host signals on a thread of their own, activation contexts.
#include <platform/actctx.h>
#include <platform/console.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include <platform/errors.h>
#include <platform/process.h>
#include <platform/sync.h>

#include "process_channel.h"

namespace {

// ---- console --------------------------------------------------------------------------------------------------

std::atomic<bool> g_attached{false};

struct ControlHandlers {
  std::mutex lock;
  std::vector<PHANDLER_ROUTINE> handlers;  // oldest first
  bool ignoreCtrlC = false;
  bool installed = false;
  int pipe[2] = {-1, -1};
};
ControlHandlers& Handlers() {
  static auto* handlers = new ControlHandlers();
  return *handlers;
}

// Only async-signal-safe work here: the event goes to the dispatching thread.
void OnSignal(int signal) {
  const int saved = errno;
  const char event = char(signal == SIGHUP ? CTRL_CLOSE_EVENT : CTRL_C_EVENT);
  [[maybe_unused]] const ssize_t put = ::write(Handlers().pipe[1], &event, 1);
  errno = saved;
}

DWORD DispatchControlEvents(LPVOID) {
  ControlHandlers& state = Handlers();
  char event;
  for (;;) {
    const ssize_t got = ::read(state.pipe[0], &event, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    std::vector<PHANDLER_ROUTINE> handlers;
    bool ignore;
    {
      std::lock_guard<std::mutex> guard(state.lock);
      handlers = state.handlers;
      ignore = state.ignoreCtrlC && event == char(CTRL_C_EVENT);
    }
    if (ignore) continue;
    bool handled = false;
    for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it) handled = (*it)(DWORD(event)) != FALSE;
    if (!handled) ExitProcess(STATUS_CONTROL_C_EXIT);
  }
}

bool InstallSignalHandlers(ControlHandlers& state) {
  if (state.installed) return true;
  if (::pipe2(state.pipe, O_CLOEXEC) != 0) return false;
  HANDLE thread = CreateThread(nullptr, 0, DispatchControlEvents, nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  state.installed = true;
  return true;
}

// ---- activation contexts --------------------------------------------------------------------------------------

struct ActivationContext {
  std::atomic<int> references{1};
};

struct Activation {
  ULONG_PTR cookie;
  ActivationContext* context;
};
thread_local std::vector<Activation> t_activations;
std::atomic<ULONG_PTR> g_nextCookie{1};

void Release(ActivationContext* context) {
  if (context != nullptr && --context->references == 0) delete context;
}

}  // namespace

BOOL AttachConsole(DWORD processId) {
  if (processId != ATTACH_PARENT_PROCESS && processId != DWORD(::getppid())) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (platform::detail::AgentChannel() == nullptr || ::fcntl(STDOUT_FILENO, F_GETFD) < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (g_attached.exchange(true)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  ControlHandlers& state = Handlers();
  std::lock_guard<std::mutex> guard(state.lock);
  if (handler == nullptr) {
    state.ignoreCtrlC = add != FALSE;
    return InstallSignalHandlers(state) ? TRUE : FALSE;
  }
  if (add) {
    state.handlers.push_back(handler);
    return InstallSignalHandlers(state) ? TRUE : FALSE;
  }
  const auto it = std::find(state.handlers.rbegin(), state.handlers.rend(), handler);
  if (it == state.handlers.rend()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  state.handlers.erase(std::next(it).base());
  return TRUE;
}

HANDLE CreateActCtxW(const ACTCTXW* context) {
  if (context == nullptr || context->cbSize != sizeof(ACTCTXW) ||
      ((context->dwFlags & ACTCTX_FLAG_HMODULE_VALID) && context->hModule == nullptr) ||
      (!(context->dwFlags & ACTCTX_FLAG_HMODULE_VALID) && context->lpSource == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return new ActivationContext();
}

void ReleaseActCtx(HANDLE context) {
  if (context != nullptr && context != INVALID_HANDLE_VALUE) Release(static_cast<ActivationContext*>(context));
}

BOOL ActivateActCtx(HANDLE context, ULONG_PTR* cookie) {
  if (cookie == nullptr || context == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* activated = static_cast<ActivationContext*>(context);
  if (activated != nullptr) ++activated->references;
  *cookie = g_nextCookie++;
  t_activations.push_back({*cookie, activated});
  return TRUE;
}

BOOL DeactivateActCtx(DWORD, ULONG_PTR cookie) {
  if (t_activations.empty() || t_activations.back().cookie != cookie) {
    SetLastError(ERROR_SXS_INVALID_DEACTIVATION);
    return FALSE;
  }
  Release(t_activations.back().context);
  t_activations.pop_back();
  return TRUE;
}
