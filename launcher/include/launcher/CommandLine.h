#pragma once
// The game's command line as the launcher builds it: the quoted executable path, then a blank and the arguments
// when there are any, in a buffer of the system's longest command line.
//
// Errors: a piece that does not fit adds kCommandLineTooLong to the caller's task context and answers false.
// Locks: none.
#include <cstddef>
#include <string>
#include <string_view>

class tTaskContext;

constexpr std::size_t kMaxCommandLine = 32768;  // wide characters, terminator included
constexpr const char* kCommandLineTooLong =
    "An attempt was made to copy a string into a buffer too short to hold the string.";

bool BuildGameCommandLine(tTaskContext* errors, std::u16string_view executablePath, std::u16string_view arguments,
                          std::u16string* commandLine);
