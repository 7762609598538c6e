// A library that ends its process as it loads: put where the launcher looks for SDL2, it is a game that dies while
// a library is being injected into it.
#include <platform/process.h>

namespace {

constexpr UINT kDiedWhileLoading = 9;

__attribute__((constructor)) void EndTheProcess() { TerminateProcess(GetCurrentProcess(), kDiedWhileLoading); }

}  // namespace
