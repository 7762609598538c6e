#pragma once
// Shared fixture for the C interface tests: a VM whose print output is captured.
#include <gtest/gtest.h>
#include <squirrel.h>

#include <platform/text.h>

#include <cstdarg>
#include <string>

namespace apitest {

inline std::u16string& Output() {
  static std::u16string out;
  return out;
}
inline std::u16string& Errors() {
  static std::u16string err;
  return err;
}

inline void CapturePrint(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  Output() += text::FormatStringV(fmt, args);
  va_end(args);
}
inline void CaptureError(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  Errors() += text::FormatStringV(fmt, args);
  va_end(args);
}

class SquirrelApi : public ::testing::Test {
 protected:
  HSQUIRRELVM v = nullptr;
  void SetUp() override {
    Output().clear();
    Errors().clear();
    v = sq_open(1024);
    sq_setprintfunc(v, CapturePrint, CaptureError);
  }
  void TearDown() override {
    if (v) sq_close(v);
  }
  // Compiles and runs a script with the root table as this; true on success.
  bool Run(const std::u16string& code) {
    SQInteger top = sq_gettop(v);
    if (SQ_FAILED(sq_compilebuffer(v, code.c_str(), SQInteger(code.size()), u"test", SQTrue))) return false;
    sq_pushroottable(v);
    bool ok = SQ_SUCCEEDED(sq_call(v, 1, SQFalse, SQTrue));
    sq_settop(v, top);
    return ok;
  }
  std::u16string LastError() {
    sq_getlasterror(v);
    const SQChar* s = nullptr;
    std::u16string r = SQ_SUCCEEDED(sq_getstring(v, -1, &s)) ? s : u"<not a string>";
    sq_pop(v, 1);
    return r;
  }
  void RegisterGlobal(const SQChar* name, SQFUNCTION f, SQInteger nparams = 0, const SQChar* mask = nullptr) {
    sq_pushroottable(v);
    sq_pushstring(v, name, -1);
    sq_newclosure(v, f, 0);
    if (nparams != 0 || mask) sq_setparamscheck(v, nparams, mask);
    sq_setnativeclosurename(v, -1, name);
    sq_newslot(v, -3, SQFalse);
    sq_pop(v, 1);
  }
};

}  // namespace apitest
