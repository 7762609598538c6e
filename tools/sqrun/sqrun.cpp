// sqrun: runs a script file; the remaining command-line arguments arrive in vargv.
// Output of print() goes to standard output, errors and the call stack to standard error.
#include <sqstdblob.h>
#include <sqstdmath.h>
#include <sqstdstring.h>
#include <sqstdsystem.h>
#include <squirrel.h>

#include <platform/text.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr SQInteger kDumpEndLevels = 10;  // levels shown at each end of a long call stack

void WriteFormatted(FILE* out, const SQChar* format, va_list args) {
  std::u16string text = text::FormatStringV(format, args);
  std::string utf8 = text::Utf16ToUtf8(text);
  fwrite(utf8.data(), 1, utf8.size(), out);
}

void PrintToStdout(HSQUIRRELVM, const SQChar* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(stdout, format, args);
  va_end(args);
}

void PrintToStderr(HSQUIRRELVM, const SQChar* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(stderr, format, args);
  va_end(args);
}

void ErrorLine(const std::u16string& line) {
  std::string utf8 = text::Utf16ToUtf8(line);
  fflush(stdout);
  fwrite(utf8.data(), 1, utf8.size(), stderr);
}

void CompileError(HSQUIRRELVM, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
  ErrorLine(text::FormatString(u"sqvm: '%s' (Ln:%d Col:%d) : %s.\n", source, line, column, desc));
}

SQInteger RuntimeError(HSQUIRRELVM v) {
  if (sq_gettop(v) < 2) return 0;
  const SQChar* message = nullptr;
  if (SQ_SUCCEEDED(sq_getstring(v, 2, &message))) ErrorLine(text::FormatString(u"sqvm: %s.\n", message));
  ErrorLine(u"Stack Dump:\n");
  SQStackInfos info;
  SQInteger levels = 1;
  while (SQ_SUCCEEDED(sq_stackinfos(v, levels, &info))) ++levels;
  // A runaway recursion would print hundreds of thousands of lines: its ends say where it came from.
  for (SQInteger level = 1; level < levels; ++level) {
    if (levels - 1 > 2 * kDumpEndLevels && level == kDumpEndLevels + 1) {
      ErrorLine(text::FormatString(u"... %d levels not shown ...\n", int(levels - 1 - 2 * kDumpEndLevels)));
      level = levels - 1 - kDumpEndLevels;
      continue;
    }
    sq_stackinfos(v, level, &info);
    ErrorLine(text::FormatString(u"[%d]: function [%s()] %s line [%d]\n", level,
                                 info.funcname ? info.funcname : u"unknown_function",
                                 info.source ? info.source : u"unknown_source_file", info.line));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: sqrun script.nut [arguments...]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    fprintf(stderr, "sqrun: cannot open %s\n", argv[1]);
    return 2;
  }
  std::stringstream buffer;
  buffer << file.rdbuf();
  std::string source = buffer.str();
  std::u16string code;
  if (source.size() >= 2 && uint8_t(source[0]) == 0xFF && uint8_t(source[1]) == 0xFE) {
    // UTF-16 little-endian with its byte-order mark.
    for (size_t i = 2; i + 1 < source.size(); i += 2)
      code.push_back(char16_t(uint8_t(source[i]) | (uint8_t(source[i + 1]) << 8)));
  } else {
    if (source.size() >= 3 && source.compare(0, 3, "\xEF\xBB\xBF") == 0) source.erase(0, 3);
    code = text::Utf8ToUtf16(source);
  }
  if (code.size() >= 2 && code[0] == u'#' && code[1] == u'!') code.insert(0, u"//");
  std::u16string name = text::Utf8ToUtf16(argv[1]);

  HSQUIRRELVM v = sq_open(1024);
  sq_setprintfunc(v, PrintToStdout, PrintToStderr);
  sq_setcompilererrorhandler(v, CompileError);
  sq_newclosure(v, RuntimeError, 0);
  sq_seterrorhandler(v);
  // The same standard libraries as the script host: blob, math, system and string.
  sq_pushroottable(v);
  sqstd_register_bloblib(v);
  sqstd_register_mathlib(v);
  sqstd_register_systemlib(v);
  sqstd_register_stringlib(v);
  sq_pop(v, 1);

  int exitCode = 0;
  if (SQ_FAILED(sq_compilebuffer(v, code.c_str(), SQInteger(code.size()), name.c_str(), SQTrue))) {
    exitCode = 1;
  } else {
    sq_pushroottable(v);
    for (int i = 2; i < argc; ++i) {
      std::u16string arg = text::Utf8ToUtf16(argv[i]);
      sq_pushstring(v, arg.c_str(), SQInteger(arg.size()));
    }
    if (SQ_FAILED(sq_call(v, argc - 1, SQFalse, SQTrue))) exitCode = 1;
    sq_pop(v, 1);
  }
  fflush(stdout);
  sq_close(v);
  return exitCode;
}
