// The game's command line, built piece by piece within the system's limit.
#include <launcher/CommandLine.h>

#include <base/TaskContext.h>

namespace {

// Appends piece when it and the terminator still fit.
bool Append(tTaskContext* errors, std::u16string* line, std::u16string_view piece) {
  if (line->size() + piece.size() + 1 > kMaxCommandLine) {
    errors->AddError(kCommandLineTooLong);
    return false;
  }
  line->append(piece);
  return true;
}

}  // namespace

bool BuildGameCommandLine(tTaskContext* errors, std::u16string_view executablePath, std::u16string_view arguments,
                          std::u16string* commandLine) {
  commandLine->clear();
  if (!Append(errors, commandLine, u"\"") || !Append(errors, commandLine, executablePath) ||
      !Append(errors, commandLine, u"\"")) {
    return false;
  }
  if (arguments.empty()) return true;
  return Append(errors, commandLine, u" ") && Append(errors, commandLine, arguments);
}
