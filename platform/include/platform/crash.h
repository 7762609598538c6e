#pragma once
// Crashes: the Win32 exception record and i386 context a fault is described by, the handler of the host's fault
// signals behind SetUnhandledExceptionFilter (process.h), and MiniDumpWriteDump, our own writer of minidump files.
//
// Faults: once a filter is set, SIGSEGV, SIGBUS, SIGILL and SIGFPE are caught on the thread that faulted, on its
// alternate stack where it has one (the thread that set the filter, and any that called SetThreadStackGuarantee).
// One crash is handled at a time: another thread that faults meanwhile waits; a fault inside the filter ends the
// process at once. The filter receives EXCEPTION_POINTERS; EXCEPTION_CONTINUE_EXECUTION resumes the thread with the
// context as the filter left it, any other answer ends the process with the exception code as its exit code (a
// host exit status keeps its low 8 bits), never 0. A filter that has not returned after a deadline also ends the
// process with the exception code: the fault may have struck inside a lock or the allocator that the filter needs.
//
// Dumps: MiniDumpWriteDump allocates nothing and takes one lock only, the handle table's, briefly to find its
// file: it runs in the faulting thread's handler. Its memory is reserved, and the main module (the game image)
// recorded, whenever a filter is set (by the first call otherwise). Errors are Win32's: FALSE with SetLastError
// (ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED, ERROR_DISK_FULL).
#include <cstdint>

#include <platform/memory.h>
#include <platform/process.h>
#include <platform/win32types.h>

using ULONG_PTR = std::uintptr_t;

// ---------------------------------------------------------------------------------------------------------------
// Exceptions

constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr DWORD EXCEPTION_IN_PAGE_ERROR = 0xC0000006;
constexpr DWORD EXCEPTION_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr DWORD EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FD;

// The first parameter of an access violation or in-page error: what the access was.
constexpr ULONG_PTR kAccessRead = 0;
constexpr ULONG_PTR kAccessWrite = 1;
constexpr ULONG_PTR kAccessExecute = 8;

constexpr LONG EXCEPTION_EXECUTE_HANDLER = 1;
constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;
constexpr LONG EXCEPTION_CONTINUE_EXECUTION = -1;

constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

struct EXCEPTION_RECORD {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  EXCEPTION_RECORD* ExceptionRecord;  // a nested record; always null here
  PVOID ExceptionAddress;             // the faulting instruction
  DWORD NumberParameters;
  ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

constexpr DWORD CONTEXT_i386 = 0x00010000;
constexpr DWORD CONTEXT_CONTROL = CONTEXT_i386 | 0x01;
constexpr DWORD CONTEXT_INTEGER = CONTEXT_i386 | 0x02;
constexpr DWORD CONTEXT_SEGMENTS = CONTEXT_i386 | 0x04;
constexpr DWORD CONTEXT_FLOATING_POINT = CONTEXT_i386 | 0x08;
constexpr DWORD CONTEXT_DEBUG_REGISTERS = CONTEXT_i386 | 0x10;
constexpr DWORD CONTEXT_EXTENDED_REGISTERS = CONTEXT_i386 | 0x20;
constexpr DWORD CONTEXT_FULL = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;

constexpr DWORD SIZE_OF_80387_REGISTERS = 80;
constexpr DWORD MAXIMUM_SUPPORTED_EXTENSION = 512;

struct FLOATING_SAVE_AREA {
  DWORD ControlWord;
  DWORD StatusWord;
  DWORD TagWord;
  DWORD ErrorOffset;
  DWORD ErrorSelector;
  DWORD DataOffset;
  DWORD DataSelector;
  BYTE RegisterArea[SIZE_OF_80387_REGISTERS];
  DWORD Cr0NpxState;
};

// The i386 thread context. ExtendedRegisters is the FXSAVE image (SSE state included).
struct CONTEXT {
  DWORD ContextFlags;
  DWORD Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  FLOATING_SAVE_AREA FloatSave;
  DWORD SegGs, SegFs, SegEs, SegDs;
  DWORD Edi, Esi, Ebx, Edx, Ecx, Eax;
  DWORD Ebp, Eip, SegCs, EFlags, Esp, SegSs;
  BYTE ExtendedRegisters[MAXIMUM_SUPPORTED_EXTENSION];
};

struct EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord;
  CONTEXT* ContextRecord;
};

// Reserves an alternate stack for the calling thread, on which a fault of that thread (a stack overflow
// included) is handled. stackSize: in, the bytes asked (0 asks the default); out, the bytes the thread had before
// (0 the first time). FALSE with ERROR_NOT_ENOUGH_MEMORY when no stack could be reserved.
BOOL SetThreadStackGuarantee(ULONG* stackSize);

// ---------------------------------------------------------------------------------------------------------------
// Minidumps. Every record keeps the Win32 layout (4-byte packing); sizes are checked below.

#pragma pack(push, 4)

constexpr DWORD MINIDUMP_SIGNATURE = 0x504D444D;  // "MDMP"
constexpr DWORD MINIDUMP_VERSION = 0xA793;

using RVA = DWORD;
using MINIDUMP_TYPE = DWORD;
constexpr MINIDUMP_TYPE MiniDumpNormal = 0x00000000;
constexpr MINIDUMP_TYPE MiniDumpWithHandleData = 0x00000004;
constexpr MINIDUMP_TYPE MiniDumpWithUnloadedModules = 0x00000020;
constexpr MINIDUMP_TYPE MiniDumpWithIndirectlyReferencedMemory = 0x00000040;
constexpr MINIDUMP_TYPE MiniDumpWithProcessThreadData = 0x00000100;
constexpr MINIDUMP_TYPE MiniDumpWithFullMemoryInfo = 0x00000800;
constexpr MINIDUMP_TYPE MiniDumpWithThreadInfo = 0x00001000;
constexpr MINIDUMP_TYPE MiniDumpIgnoreInaccessibleMemory = 0x00020000;
constexpr MINIDUMP_TYPE MiniDumpWithTokenInformation = 0x00040000;

enum MINIDUMP_STREAM_TYPE : DWORD {
  ThreadListStream = 3,
  ModuleListStream = 4,
  MemoryListStream = 5,
  ExceptionStream = 6,
  SystemInfoStream = 7,
  HandleDataStream = 12,
  UnloadedModuleListStream = 14,
  MiscInfoStream = 15,
  MemoryInfoListStream = 16,
  ThreadInfoListStream = 17,
};

struct MINIDUMP_LOCATION_DESCRIPTOR {
  DWORD DataSize;
  RVA Rva;
};

struct MINIDUMP_HEADER {
  DWORD Signature;
  DWORD Version;  // MINIDUMP_VERSION in the low word
  DWORD NumberOfStreams;
  RVA StreamDirectoryRva;
  DWORD CheckSum;
  DWORD TimeDateStamp;  // seconds since 1970, UTC
  ULONGLONG Flags;      // the dump type
};

struct MINIDUMP_DIRECTORY {
  DWORD StreamType;
  MINIDUMP_LOCATION_DESCRIPTOR Location;
};

// A MINIDUMP_STRING (at a module's name RVA and a handle's type and object name RVAs): a DWORD length in bytes
// without the terminator, then the UTF-16 text and a terminating 0.

struct MINIDUMP_MEMORY_DESCRIPTOR {
  ULONGLONG StartOfMemoryRange;
  MINIDUMP_LOCATION_DESCRIPTOR Memory;
};

struct MINIDUMP_EXCEPTION {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  ULONGLONG ExceptionRecord;
  ULONGLONG ExceptionAddress;
  DWORD NumberParameters;
  DWORD __unusedAlignment;
  ULONGLONG ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

struct MINIDUMP_EXCEPTION_STREAM {
  DWORD ThreadId;
  DWORD __alignment;
  MINIDUMP_EXCEPTION ExceptionRecord;
  MINIDUMP_LOCATION_DESCRIPTOR ThreadContext;
};

struct MINIDUMP_THREAD {
  DWORD ThreadId;
  DWORD SuspendCount;
  DWORD PriorityClass;
  DWORD Priority;
  ULONGLONG Teb;
  MINIDUMP_MEMORY_DESCRIPTOR Stack;
  MINIDUMP_LOCATION_DESCRIPTOR ThreadContext;
};

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

struct MINIDUMP_MODULE {
  ULONGLONG BaseOfImage;
  DWORD SizeOfImage;
  DWORD CheckSum;
  DWORD TimeDateStamp;
  RVA ModuleNameRva;
  VS_FIXEDFILEINFO VersionInfo;
  MINIDUMP_LOCATION_DESCRIPTOR CvRecord;
  MINIDUMP_LOCATION_DESCRIPTOR MiscRecord;
  ULONGLONG Reserved0;
  ULONGLONG Reserved1;
};

struct MINIDUMP_SYSTEM_INFO {
  WORD ProcessorArchitecture;
  WORD ProcessorLevel;
  WORD ProcessorRevision;
  BYTE NumberOfProcessors;
  BYTE ProductType;
  DWORD MajorVersion;
  DWORD MinorVersion;
  DWORD BuildNumber;
  DWORD PlatformId;
  RVA CSDVersionRva;
  WORD SuiteMask;
  WORD Reserved2;
  DWORD VendorId[3];
  DWORD VersionInformation;
  DWORD FeatureInformation;
  DWORD AMDExtendedCpuFeatures;
};

constexpr DWORD MINIDUMP_MISC1_PROCESS_ID = 0x1;
constexpr DWORD MINIDUMP_MISC1_PROCESS_TIMES = 0x2;

struct MINIDUMP_MISC_INFO {
  DWORD SizeOfInfo;
  DWORD Flags1;
  DWORD ProcessId;
  DWORD ProcessCreateTime;  // seconds since 1970
  DWORD ProcessUserTime;    // seconds
  DWORD ProcessKernelTime;  // seconds
};

struct MINIDUMP_MEMORY_INFO_LIST {
  DWORD SizeOfHeader;
  DWORD SizeOfEntry;
  ULONGLONG NumberOfEntries;
};

constexpr DWORD MEM_IMAGE = 0x1000000;
constexpr DWORD MEM_MAPPED = 0x40000;
constexpr DWORD MEM_PRIVATE = 0x20000;

struct MINIDUMP_MEMORY_INFO {
  ULONGLONG BaseAddress;
  ULONGLONG AllocationBase;
  DWORD AllocationProtect;
  DWORD __alignment1;
  ULONGLONG RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
  DWORD __alignment2;
};

struct MINIDUMP_THREAD_INFO_LIST {
  DWORD SizeOfHeader;
  DWORD SizeOfEntry;
  DWORD NumberOfEntries;
};

struct MINIDUMP_THREAD_INFO {
  DWORD ThreadId;
  DWORD DumpFlags;
  DWORD DumpError;
  DWORD ExitStatus;
  ULONGLONG CreateTime;  // FILETIME units
  ULONGLONG ExitTime;
  ULONGLONG KernelTime;  // 100-ns units
  ULONGLONG UserTime;
  ULONGLONG StartAddress;
  ULONGLONG Affinity;
};

struct MINIDUMP_HANDLE_DATA_STREAM {
  DWORD SizeOfHeader;
  DWORD SizeOfDescriptor;
  DWORD NumberOfDescriptors;
  DWORD Reserved;
};

struct MINIDUMP_HANDLE_DESCRIPTOR {
  ULONGLONG Handle;
  RVA TypeNameRva;
  RVA ObjectNameRva;
  DWORD Attributes;
  DWORD GrantedAccess;
  DWORD HandleCount;
  DWORD PointerCount;
};

struct MINIDUMP_UNLOADED_MODULE_LIST {
  DWORD SizeOfHeader;
  DWORD SizeOfEntry;
  DWORD NumberOfEntries;
};

struct MINIDUMP_UNLOADED_MODULE {
  ULONGLONG BaseOfImage;
  DWORD SizeOfImage;
  DWORD CheckSum;
  DWORD TimeDateStamp;
  RVA ModuleNameRva;
};

struct MINIDUMP_EXCEPTION_INFORMATION {
  DWORD ThreadId;
  EXCEPTION_POINTERS* ExceptionPointers;
  BOOL ClientPointers;  // TRUE: the pointers belong to another process (not supported)
};

#pragma pack(pop)

struct MINIDUMP_USER_STREAM_INFORMATION;
struct MINIDUMP_CALLBACK_INFORMATION;

// Writes a minidump of the current process (GetCurrentProcess() and its id) into the file from its current start:
// the header, the stream directory and the streams ExceptionStream (with exceptionParam), ThreadListStream (the
// calling thread first: the context of exceptionParam, else its own at the call; then every other thread that
// answers, each with its context where the request found it; each with its stack from the stack pointer to the
// stack's end), ModuleListStream (the main module as recorded, then the host files mapped in), MemoryListStream,
// SystemInfoStream and MiscInfoStream, and as the dump type asks HandleDataStream (the open descriptors),
// UnloadedModuleListStream (empty: libraries leave no record), MemoryInfoListStream (every mapping),
// ThreadInfoListStream (times for the calling thread alone), and memory that the calling thread's registers and
// stack words point at. Memory that cannot be read is left out. Process thread data and tokens do not exist on
// this host and give no stream. User streams, callbacks and client pointers are not supported (ERROR_NOT_SUPPORTED).
//
// The other threads: this host cannot read another thread's registers from outside it, so each is asked by the
// real-time signal SIGRTMIN + 3 (taken once a filter is set or a dump written) and answers from its handler, then
// holds still until its stack is written. A thread that blocks that signal, or has not answered within 250 ms (at
// most 256 are asked), is left out of the dump. The program leaves that signal to the writer. The request interrupts
// each thread asked: a wait the host restarts after a handler (read, write, a futex) goes on, one it never restarts
// (poll, select, epoll_wait, nanosleep) returns EINTR, as after any signal. One dump at a time, as on Win32: two
// threads writing at once share the writer's memory (the fault handler's filters never overlap).
BOOL MiniDumpWriteDump(HANDLE process, DWORD processId, HANDLE file, MINIDUMP_TYPE dumpType,
                       const MINIDUMP_EXCEPTION_INFORMATION* exceptionParam,
                       const MINIDUMP_USER_STREAM_INFORMATION* userStreamParam,
                       const MINIDUMP_CALLBACK_INFORMATION* callbackParam);

static_assert(sizeof(EXCEPTION_RECORD) == 80);
static_assert(sizeof(FLOATING_SAVE_AREA) == 112);
static_assert(sizeof(CONTEXT) == 716);
static_assert(sizeof(EXCEPTION_POINTERS) == 8);
static_assert(sizeof(MINIDUMP_HEADER) == 32);
static_assert(sizeof(MINIDUMP_DIRECTORY) == 12);
static_assert(sizeof(MINIDUMP_MEMORY_DESCRIPTOR) == 16);
static_assert(sizeof(MINIDUMP_EXCEPTION) == 152);
static_assert(sizeof(MINIDUMP_EXCEPTION_STREAM) == 168);
static_assert(sizeof(MINIDUMP_THREAD) == 48);
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
static_assert(sizeof(MINIDUMP_MODULE) == 108);
static_assert(sizeof(MINIDUMP_SYSTEM_INFO) == 56);
static_assert(sizeof(MINIDUMP_MISC_INFO) == 24);
static_assert(sizeof(MINIDUMP_MEMORY_INFO_LIST) == 16);
static_assert(sizeof(MINIDUMP_MEMORY_INFO) == 48);
static_assert(sizeof(MINIDUMP_THREAD_INFO_LIST) == 12);
static_assert(sizeof(MINIDUMP_THREAD_INFO) == 64);
static_assert(sizeof(MINIDUMP_HANDLE_DATA_STREAM) == 16);
static_assert(sizeof(MINIDUMP_HANDLE_DESCRIPTOR) == 32);
static_assert(sizeof(MINIDUMP_UNLOADED_MODULE_LIST) == 12);
static_assert(sizeof(MINIDUMP_UNLOADED_MODULE) == 24);
static_assert(sizeof(MINIDUMP_EXCEPTION_INFORMATION) == 12);
