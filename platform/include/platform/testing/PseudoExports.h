#pragma once
// Stand-ins for the entries of the pseudo system modules (modules.h), so that tests can make
// "RtlGetVersion" or "IsWow64Process" answer what the host never would, or be missing.
//
// Usage:
//   platform::testing::PseudoExportStandIn version(u"ntdll.dll", "RtlGetVersion", MyRtlGetVersion);
//   ... GetProcAddress(LoadLibraryW(u"ntdll.dll"), "RtlGetVersion") gives MyRtlGetVersion ...
// The destructor puts back the entry that was there before. Safe to use beside other threads'
// GetProcAddress calls; stand-ins of one entry must not overlap in time.
#include <cstddef>

#include <platform/modules.h>

namespace platform::testing {

// Makes GetProcAddress give replacement for the pseudo module's entry (null: the entry is missing).
// Returns the address it had; null, and nothing changed, for an unknown module or entry.
FARPROC ReplacePseudoExport(LPCWSTR module, LPCSTR name, FARPROC replacement);

class PseudoExportStandIn {
 public:
  template <class Function>
  PseudoExportStandIn(LPCWSTR module, LPCSTR name, Function* replacement)
      : m_module(module), m_name(name),
        m_previous(ReplacePseudoExport(module, name, reinterpret_cast<FARPROC>(replacement))) {}
  // The entry goes missing.
  PseudoExportStandIn(LPCWSTR module, LPCSTR name, std::nullptr_t)
      : m_module(module), m_name(name), m_previous(ReplacePseudoExport(module, name, nullptr)) {}
  ~PseudoExportStandIn() { ReplacePseudoExport(m_module, m_name, m_previous); }
  PseudoExportStandIn(const PseudoExportStandIn&) = delete;
  PseudoExportStandIn& operator=(const PseudoExportStandIn&) = delete;

 private:
  LPCWSTR m_module;
  LPCSTR m_name;
  FARPROC m_previous;
};

}  // namespace platform::testing
