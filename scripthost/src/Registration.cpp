// The host's print and error handlers and the registration helpers of tables, natives and classes.
#include <cstdarg>
#include <cstdio>
#include <string>

#include <platform/text.h>

#include <scripthost/ScriptHost.h>

namespace {

// Wide printf is 32-bit on this platform: the machine's 16-bit text is formatted here and written as UTF-8.
void WriteText(std::FILE* file, const std::u16string& text) {
  const std::string bytes = text::Utf16ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
}

const SQChar kUnknownFunction[] = u"unknown_function";
const SQChar kUnknownSource[] = u"unknown_source_file";
constexpr SQInteger kDumpEndLevels = 10;  // levels shown at each end of a long stack dump

}  // namespace

void ScriptPrint(HSQUIRRELVM /*v*/, const SQChar* format, ...) {
  va_list args;
  va_start(args, format);
  const std::u16string text = text::FormatStringV(format, args);
  va_end(args);
  WriteText(stdout, text);
}

void ScriptCompilerErrorHandler(HSQUIRRELVM /*v*/, const SQChar* description, const SQChar* source,
                                SQInteger line, SQInteger column) {
  WriteText(stderr, text::FormatString(u"sqvm: '%s' (Ln:%d Col:%d) : %s.\n", source != nullptr ? source : u"",
                                       int(line), int(column), description != nullptr ? description : u""));
}

SQInteger ScriptRuntimeErrorHandler(HSQUIRRELVM v) {
  constexpr SQInteger kErrorIndex = 2;
  if (sq_gettop(v) < kErrorIndex) return 0;
  std::u16string text;
  const SQChar* error = nullptr;
  if (sq_gettype(v, kErrorIndex) == OT_STRING && SQ_SUCCEEDED(sq_getstring(v, kErrorIndex, &error))) {
    text += text::FormatString(u"sqvm: %s.\n", error);
  }
  text += u"Stack Dump:\n";
  SQStackInfos info;
  SQInteger levels = 0;
  while (SQ_SUCCEEDED(sq_stackinfos(v, levels + 1, &info))) ++levels;
  // A runaway recursion has hundreds of thousands of levels, which would hold up the game for as long as
  // the console takes to show them: its two ends say where it began and what repeated.
  const SQInteger hidden = levels > 2 * kDumpEndLevels ? levels - 2 * kDumpEndLevels : 0;
  for (SQInteger level = 1; level <= levels; ++level) {
    if (hidden != 0 && level == kDumpEndLevels + 1) {
      text += text::FormatString(u"... %d levels not shown ...\n", int(hidden));
      level += hidden - 1;
      continue;
    }
    sq_stackinfos(v, level, &info);
    text += text::FormatString(u"[%d]: function [%s()] %s line [%d]\n", int(level),
                               info.funcname != nullptr ? info.funcname : kUnknownFunction,
                               info.source != nullptr ? info.source : kUnknownSource, int(info.line));
  }
  WriteText(stderr, text);
  return 0;
}

SQRESULT RegisterTable(HSQUIRRELVM v, const SQChar* name) {
  sq_newtable(v);
  const SQInteger table = sq_gettop(v);
  if (name != nullptr) {
    sq_pushstring(v, name, -1);
  } else {
    sq_pushnull(v);
  }
  sq_push(v, table);
  const SQRESULT result = sq_newslot(v, table - 1, SQFalse);
  sq_settop(v, table);
  return result;
}

SQRESULT RegisterFunction(HSQUIRRELVM v, const SQChar* name, SQFUNCTION function, SQInteger parameterCheck,
                          const SQChar* typeMask) {
  const SQInteger top = sq_gettop(v);
  sq_pushstring(v, name, -1);
  sq_newclosure(v, function, 0);
  SQRESULT result = SQ_OK;
  if (parameterCheck != 0 || typeMask != nullptr) result = sq_setparamscheck(v, parameterCheck, typeMask);
  if (SQ_SUCCEEDED(result)) result = sq_setnativeclosurename(v, -1, name);
  if (SQ_SUCCEEDED(result)) result = sq_newslot(v, top, SQFalse);
  sq_settop(v, top);
  return result;
}

SQRESULT RegisterFunctionTyped(HSQUIRRELVM v, const SQChar* name, SQFUNCTION function, const SQChar* typeMask) {
  return RegisterFunction(v, name, function, SQ_MATCHTYPEMASKSTRING, typeMask);
}

SQRESULT RegisterClass(HSQUIRRELVM v, const SQChar* name, bool hasBase) {
  const SQRESULT made = sq_newclass(v, hasBase ? SQTrue : SQFalse);
  if (SQ_FAILED(made)) return made;
  const SQInteger cls = sq_gettop(v);
  sq_pushstring(v, name, -1);
  sq_push(v, cls);
  const SQRESULT result = sq_newslot(v, cls - 1, SQFalse);
  sq_settop(v, cls);
  return result;
}

SQRESULT RegisterValueClass(HSQUIRRELVM v, const SQChar* name, bool hasBase, SQFUNCTION constructor,
                            const SQChar* typeMask) {
  constexpr SQInteger kAtLeastThis = -1;
  const SQRESULT result = RegisterClass(v, name, hasBase);
  if (SQ_FAILED(result)) return result;
  return RegisterFunction(v, u"constructor", constructor, kAtLeastThis, typeMask);
}

SQRESULT RegisterClassWithConstructor(HSQUIRRELVM v, const SQChar* name, SQFUNCTION constructor,
                                      const SQChar* typeMask) {
  const SQRESULT result = RegisterClass(v, name, false);
  if (SQ_FAILED(result)) return result;
  return RegisterFunctionTyped(v, u"constructor", constructor, typeMask);
}
