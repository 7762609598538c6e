// Linked into every fuzz target: libFuzzer closes standard output and standard error for the code under test, keeping
// its own lines and the sanitizers' reports on a copy of standard error, so the run's time goes to the inputs instead
// of to log lines the code prints for each one (a page's font loading, console lines, assertion reports).
// The flag goes in first: a -close_fd_mask given on the command line comes later and wins (-close_fd_mask=0 shows
// the code's output again when reproducing a finding by hand).
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static char quiet[] = "-close_fd_mask=3";
  static std::vector<char*> arguments;
  arguments.assign(*argv, *argv + *argc);
  arguments.insert(arguments.begin() + (arguments.empty() ? 0 : 1), quiet);
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();
  return 0;
}
