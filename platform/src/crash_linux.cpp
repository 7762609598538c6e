// The host's fault signals as Win32 exceptions: record and context, the unhandled-exception filter, alternate stacks.
#include <platform/crash.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/ucontext.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include <platform/errors.h>
#include <platform/testing/CrashDeadline.h>

#include "crash_internal.h"

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr ULONG kDefaultAlternateStack = 256 * 1024;
constexpr unsigned kDefaultDeadlineMilliseconds = 30000;
constexpr unsigned kMillisecondsPerSecond = 1000;
constexpr long kMicrosecondsPerMillisecond = 1000;
// A page fault this close below the stack pointer (or just above it) is the stack running out.
constexpr std::uintptr_t kStackOverflowReach = 64 * 1024;
constexpr std::uintptr_t kPageSize = 4096;
// The x86 page-fault trap and the bits of its error code.
constexpr int kPageFaultTrap = 14;
constexpr unsigned long kPageFaultWrite = 0x2;
constexpr unsigned long kPageFaultFetch = 0x10;
// A general-protection fault names no address; Windows reports this one.
constexpr ULONG_PTR kUnknownAddress = 0xFFFFFFFF;
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011u);
// The kernel's i386 signal frame: the legacy FPU image, a status word and a magic word (0 when the FXSAVE image
// of the SSE state follows at kFxsaveOffset).
constexpr std::size_t kFsaveControlWords = 7;
constexpr std::size_t kFsaveMagicOffset = 110;
constexpr std::size_t kFxsaveOffset = 112;
constexpr std::uint16_t kFxsavePresent = 0;
constexpr long kWaitNanoseconds = 1000000;

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};
std::once_flag g_installOnce;
std::atomic<unsigned> g_deadlineMilliseconds{kDefaultDeadlineMilliseconds};
// The thread whose fault is being handled (0: none). One crash at a time, so one record and context suffice.
std::atomic<DWORD> g_crashingThread{0};
EXCEPTION_RECORD g_record;
CONTEXT g_context;
volatile sig_atomic_t g_crashCode = 0;

// The filter did not come back in time, or faulted itself: end with the code of the crash being handled.
[[noreturn]] void EndNow() { ::_exit(static_cast<int>(g_crashCode)); }

void OnDeadline(int) { EndNow(); }

// The process's real-time timer and its signal, as they were before a crash took them over.
struct TimerState {
  struct sigaction action;
  itimerval timer;
};

// Points the process's one real-time timer at the deadline; its signal ends the process.
void ArmDeadline(unsigned milliseconds, TimerState* saved) {
  struct sigaction deadline {};
  deadline.sa_handler = OnDeadline;
  ::sigaction(SIGALRM, &deadline, &saved->action);
  itimerval timer{};
  timer.it_value.tv_sec = time_t(milliseconds / kMillisecondsPerSecond);
  timer.it_value.tv_usec = suseconds_t(milliseconds % kMillisecondsPerSecond) * kMicrosecondsPerMillisecond;
  ::setitimer(ITIMER_REAL, &timer, &saved->timer);
}

// A resumed thread gives the program its timer back.
void DisarmDeadline(const TimerState& saved) {
  ::setitimer(ITIMER_REAL, &saved.timer, nullptr);
  ::sigaction(SIGALRM, &saved.action, nullptr);
}

DWORD HostThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

void DescribeAccess(const ucontext_t* uc, const siginfo_t* info, DWORD code, EXCEPTION_RECORD* record) {
  const greg_t* regs = uc->uc_mcontext.gregs;
  const auto address = reinterpret_cast<ULONG_PTR>(info->si_addr);
  const auto error = static_cast<unsigned long>(regs[REG_ERR]);
  const bool pageFault = regs[REG_TRAPNO] == kPageFaultTrap;
  ULONG_PTR access = kAccessRead;
  if (pageFault && (error & kPageFaultFetch) != 0) {
    access = kAccessExecute;
  } else if (pageFault && (error & kPageFaultWrite) != 0) {
    access = kAccessWrite;
  }
  const auto sp = static_cast<ULONG_PTR>(regs[REG_UESP]);
  if (code == EXCEPTION_ACCESS_VIOLATION && pageFault && address < sp + kPageSize && sp - address < kStackOverflowReach) {
    code = EXCEPTION_STACK_OVERFLOW;
  }
  record->ExceptionCode = code;
  record->ExceptionInformation[0] = access;
  record->ExceptionInformation[1] = pageFault || code != EXCEPTION_ACCESS_VIOLATION ? address : kUnknownAddress;
  record->NumberParameters = 2;
  if (code == EXCEPTION_IN_PAGE_ERROR) {
    record->ExceptionInformation[2] = static_cast<ULONG_PTR>(kStatusEndOfFile);
    record->NumberParameters = 3;
  }
}

DWORD FloatingCode(int siCode) {
  switch (siCode) {
    case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
    default: return EXCEPTION_FLT_INVALID_OPERATION;
  }
}

void Describe(int signal, const siginfo_t* info, const ucontext_t* uc, EXCEPTION_RECORD* record) {
  std::memset(record, 0, sizeof *record);
  record->ExceptionAddress = reinterpret_cast<PVOID>(uc->uc_mcontext.gregs[REG_EIP]);
  switch (signal) {
    case SIGSEGV:
      DescribeAccess(uc, info, EXCEPTION_ACCESS_VIOLATION, record);
      break;
    case SIGBUS:
      if (info->si_code == BUS_ADRALN) {
        record->ExceptionCode = EXCEPTION_DATATYPE_MISALIGNMENT;
      } else {
        DescribeAccess(uc, info, EXCEPTION_IN_PAGE_ERROR, record);
      }
      break;
    case SIGILL:
      record->ExceptionCode = info->si_code == ILL_PRVOPC ? EXCEPTION_PRIV_INSTRUCTION : EXCEPTION_ILLEGAL_INSTRUCTION;
      break;
    default:
      record->ExceptionCode = FloatingCode(info->si_code);
      break;
  }
}

}  // namespace

void platform::detail::FillContext(const ucontext_t* uc, CONTEXT* context) {
  std::memset(context, 0, sizeof *context);
  const greg_t* r = uc->uc_mcontext.gregs;
  context->ContextFlags = CONTEXT_FULL;
  context->SegGs = DWORD(r[REG_GS]);
  context->SegFs = DWORD(r[REG_FS]);
  context->SegEs = DWORD(r[REG_ES]);
  context->SegDs = DWORD(r[REG_DS]);
  context->Edi = DWORD(r[REG_EDI]);
  context->Esi = DWORD(r[REG_ESI]);
  context->Ebx = DWORD(r[REG_EBX]);
  context->Edx = DWORD(r[REG_EDX]);
  context->Ecx = DWORD(r[REG_ECX]);
  context->Eax = DWORD(r[REG_EAX]);
  context->Ebp = DWORD(r[REG_EBP]);
  context->Eip = DWORD(r[REG_EIP]);
  context->SegCs = DWORD(r[REG_CS]);
  context->EFlags = DWORD(r[REG_EFL]);
  context->Esp = DWORD(r[REG_UESP]);
  context->SegSs = DWORD(r[REG_SS]);
  const auto* fpu = reinterpret_cast<const std::uint8_t*>(uc->uc_mcontext.fpregs);
  if (fpu == nullptr) return;
  context->ContextFlags |= CONTEXT_FLOATING_POINT;
  std::memcpy(&context->FloatSave, fpu, kFsaveControlWords * sizeof(DWORD) + SIZE_OF_80387_REGISTERS);
  std::uint16_t magic;
  std::memcpy(&magic, fpu + kFsaveMagicOffset, sizeof magic);
  if (magic != kFxsavePresent) return;
  context->ContextFlags |= CONTEXT_EXTENDED_REGISTERS;
  std::memcpy(context->ExtendedRegisters, fpu + kFxsaveOffset, MAXIMUM_SUPPORTED_EXTENSION);
}

namespace {

using platform::detail::FillContext;

// The integer and control registers as the filter left them; the thread resumes with them.
void ApplyContext(const CONTEXT* context, ucontext_t* uc) {
  greg_t* r = uc->uc_mcontext.gregs;
  r[REG_EDI] = greg_t(context->Edi);
  r[REG_ESI] = greg_t(context->Esi);
  r[REG_EBX] = greg_t(context->Ebx);
  r[REG_EDX] = greg_t(context->Edx);
  r[REG_ECX] = greg_t(context->Ecx);
  r[REG_EAX] = greg_t(context->Eax);
  r[REG_EBP] = greg_t(context->Ebp);
  r[REG_EIP] = greg_t(context->Eip);
  r[REG_EFL] = greg_t(context->EFlags);
  r[REG_UESP] = greg_t(context->Esp);
}

// Only async-signal-safe calls until the filter runs: the fault may have struck anywhere.
void OnFault(int signal, siginfo_t* info, void* raw) {
  auto* uc = static_cast<ucontext_t*>(raw);
  const DWORD self = HostThreadId();
  for (DWORD expected = 0; !g_crashingThread.compare_exchange_strong(expected, self); expected = 0) {
    if (expected == self) EndNow();  // the filter itself faulted
    // Another thread's crash is being handled; it ends the process unless its filter resumes it.
    const timespec pause{0, kWaitNanoseconds};
    ::nanosleep(&pause, nullptr);
  }
  Describe(signal, info, uc, &g_record);
  FillContext(uc, &g_context);
  g_crashCode = static_cast<sig_atomic_t>(g_record.ExceptionCode);
  TimerState saved;
  ArmDeadline(g_deadlineMilliseconds.load(), &saved);

  EXCEPTION_POINTERS pointers{&g_record, &g_context};
  const LPTOP_LEVEL_EXCEPTION_FILTER filter = g_filter.load();
  const LONG answer = filter != nullptr ? filter(&pointers) : EXCEPTION_CONTINUE_SEARCH;
  if (answer == EXCEPTION_CONTINUE_EXECUTION) {
    DisarmDeadline(saved);
    ApplyContext(&g_context, uc);
    g_crashingThread.store(0);
    return;
  }
  TerminateProcess(GetCurrentProcess(), g_record.ExceptionCode);
  EndNow();
}

void InstallHandlers() {
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  // NODEFER: a fault inside the filter comes back here (and ends the process) instead of killing it silently.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : kFaultSignals) ::sigaction(signal, &action, nullptr);
}

thread_local ULONG t_alternateStack = 0;

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  if (filter != nullptr) {
    platform::detail::PrepareDumps();
    std::call_once(g_installOnce, InstallHandlers);
    ULONG size = 0;
    SetThreadStackGuarantee(&size);
  }
  return g_filter.exchange(filter);
}

BOOL SetThreadStackGuarantee(ULONG* stackSize) {
  if (stackSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const ULONG before = t_alternateStack;
  const ULONG wanted = *stackSize == 0 ? kDefaultAlternateStack : *stackSize;
  *stackSize = before;
  if (wanted <= before) return TRUE;
  // The stack stays with the thread for its life: a later fault may still need it.
  void* memory = ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = wanted;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(memory, wanted);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  t_alternateStack = wanted;
  return TRUE;
}

namespace platform::testing {

unsigned SetCrashDeadline(unsigned milliseconds) { return g_deadlineMilliseconds.exchange(milliseconds); }

}  // namespace platform::testing
