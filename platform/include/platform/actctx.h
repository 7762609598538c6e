#pragma once
// Activation contexts: the manifest a module declares, activated on a thread around the calls that need it.
//
// The host has no side-by-side assemblies, so a context activates nothing; what is kept is the bookkeeping a
// caller can get wrong: each activation gives a cookie, and a thread's cookies must be deactivated newest first
// (another order fails with ERROR_SXS_INVALID_DEACTIVATION). Errors are Win32's. Locks: none (cookies are per
// thread; contexts are counted atomically).
#include <cstdint>

#include <platform/win32types.h>

using ULONG_PTR = std::uintptr_t;

constexpr DWORD ACTCTX_FLAG_RESOURCE_NAME_VALID = 0x008;
constexpr DWORD ACTCTX_FLAG_HMODULE_VALID = 0x080;
constexpr DWORD ERROR_SXS_INVALID_DEACTIVATION = 14085;

struct ACTCTXW {
  ULONG cbSize;
  DWORD dwFlags;
  LPCWSTR lpSource;
  WORD wProcessorArchitecture;
  WORD wLangId;
  LPCWSTR lpAssemblyDirectory;
  LPCWSTR lpResourceName;  // with ACTCTX_FLAG_RESOURCE_NAME_VALID: an integer resource id below 0x10000
  LPCWSTR lpApplicationName;
  HMODULE hModule;
};

// A context of the module's manifest resource. INVALID_HANDLE_VALUE with ERROR_INVALID_PARAMETER for a wrong size,
// a missing module (with ACTCTX_FLAG_HMODULE_VALID) or no source and no module.
HANDLE CreateActCtxW(const ACTCTXW* context);
void ReleaseActCtx(HANDLE context);
BOOL ActivateActCtx(HANDLE context, ULONG_PTR* cookie);
BOOL DeactivateActCtx(DWORD flags, ULONG_PTR cookie);
