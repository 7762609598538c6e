// A child for the cross-process tests: reaches the game's entry, then ends as its first argument says.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <platform/process.h>

int main(int argc, char** argv) {
  platform::EnterGameMain();
  const std::string how = argc > 1 ? argv[1] : "";
  if (how == "exit") ExitProcess(UINT(std::strtoul(argv[2], nullptr, 0)));
  if (how == "signal") ::kill(::getpid(), SIGILL);  // a signal no sanitizer takes over
  if (how == "wait")
    for (;;) ::pause();
  return argc > 2 ? std::atoi(argv[2]) : 0;
}
