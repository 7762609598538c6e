#pragma once
// Fixture for the standard-library tests: a VM with every library registered in its root table,
// print and error output captured, and UTF-8 helpers so expectations read naturally.
#include <gtest/gtest.h>
#include <squirrel.h>
#include <sqstdaux.h>
#include <sqstdblob.h>
#include <sqstdmath.h>
#include <sqstdstring.h>
#include <sqstdsystem.h>

#include <platform/text.h>

#include <cstdarg>
#include <string>

namespace sqstdtest {

inline std::u16string& PrintBuffer() {
  static std::u16string out;
  return out;
}
inline std::u16string& ErrorBuffer() {
  static std::u16string err;
  return err;
}

inline void CapturePrint(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  PrintBuffer() += text::FormatStringV(fmt, args);
  va_end(args);
}
inline void CaptureError(HSQUIRRELVM, const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  ErrorBuffer() += text::FormatStringV(fmt, args);
  va_end(args);
}

class StdLib : public ::testing::Test {
 protected:
  HSQUIRRELVM v = nullptr;

  void SetUp() override {
    PrintBuffer().clear();
    ErrorBuffer().clear();
    v = sq_open(1024);
    sq_setprintfunc(v, CapturePrint, CaptureError);
    sq_pushroottable(v);
    ASSERT_TRUE(SQ_SUCCEEDED(sqstd_register_bloblib(v)));
    ASSERT_TRUE(SQ_SUCCEEDED(sqstd_register_mathlib(v)));
    ASSERT_TRUE(SQ_SUCCEEDED(sqstd_register_systemlib(v)));
    ASSERT_TRUE(SQ_SUCCEEDED(sqstd_register_stringlib(v)));
    ASSERT_EQ(sq_gettop(v), 1);  // registration leaves only the table
    sq_pop(v, 1);
  }
  void TearDown() override {
    if (v) sq_close(v);
  }

  // Compiles and runs UTF-8 source with the root table as this; true on success.
  bool Exec(const std::string& code) {
    PrintBuffer().clear();
    std::u16string source = text::Utf8ToUtf16(code);
    SQInteger top = sq_gettop(v);
    bool ok = SQ_SUCCEEDED(sq_compilebuffer(v, source.c_str(), SQInteger(source.size()), u"test", SQTrue));
    if (ok) {
      sq_pushroottable(v);
      ok = SQ_SUCCEEDED(sq_call(v, 1, SQFalse, SQFalse));
    }
    sq_settop(v, top);
    return ok;
  }
  // Printed output of a script that must succeed (its error message otherwise).
  std::string Out(const std::string& code) {
    if (!Exec(code)) {
      ADD_FAILURE() << "script failed: " << LastError() << "\n" << code;
      return "<error: " + LastError() + ">";
    }
    return text::Utf16ToUtf8(PrintBuffer());
  }
  // Error message of a script that must fail.
  std::string Err(const std::string& code) {
    if (Exec(code)) {
      ADD_FAILURE() << "script succeeded: " << code;
      return "<no error>";
    }
    return LastError();
  }
  std::string LastError() {
    sq_getlasterror(v);
    const SQChar* s = nullptr;
    std::string r = SQ_SUCCEEDED(sq_getstring(v, -1, &s)) ? text::Utf16ToUtf8(s) : "<not a string>";
    sq_pop(v, 1);
    return r;
  }
};

// One script expression and the text print() gives for it.
struct ExprCase {
  const char* expr;
  const char* expected;
};
inline std::ostream& operator<<(std::ostream& os, const ExprCase& c) { return os << c.expr; }

}  // namespace sqstdtest
