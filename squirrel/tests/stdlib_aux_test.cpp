// Default error handlers: runtime errors with the call stack and locals, compile errors.
#include "stdlib_fixture.h"

namespace sqstdtest {
namespace {

class StdlibAux : public StdLib {
 protected:
  std::string Errors() { return text::Utf16ToUtf8(ErrorBuffer()); }
  bool Run(const std::string& code) {
    ErrorBuffer().clear();
    std::u16string source = text::Utf8ToUtf16(code);
    SQInteger top = sq_gettop(v);
    bool ok = SQ_SUCCEEDED(sq_compilebuffer(v, source.c_str(), SQInteger(source.size()), u"aux.nut", SQTrue));
    if (ok) {
      sq_pushroottable(v);
      ok = SQ_SUCCEEDED(sq_call(v, 1, SQFalse, SQTrue));
    }
    sq_settop(v, top);
    return ok;
  }
};

TEST_F(StdlibAux, RuntimeErrorPrintsMessageCallStackAndLocals) {
  sqstd_seterrorhandlers(v);
  EXPECT_FALSE(Run("function inner(n) {\n"
                   "  local s = \"txt\", f = 1.5, b = true, t = {}, a = [], nothing = null;\n"
                   "  return undefined_name + n;\n"
                   "}\n"
                   "function outer() { local r = inner(7); return r; }\n"
                   "outer();\n"));
  std::string err = Errors();
  EXPECT_NE(err.find("\nAN ERROR HAS OCCURRED [the index 'undefined_name' does not exist]\n"), std::string::npos) << err;
  EXPECT_NE(err.find("\nCALLSTACK\n*FUNCTION [inner()] aux.nut line [3]\n*FUNCTION [outer()] aux.nut line [5]\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("\nLOCALS\n"), std::string::npos) << err;
  for (const char* local : {"[n] 7\n", "[s] \"txt\"\n", "[f] 1.5\n", "[b] true\n", "[t] TABLE\n", "[a] ARRAY\n",
                            "[nothing] NULL\n", "[this] TABLE\n"}) {
    EXPECT_NE(err.find(local), std::string::npos) << local << "\n" << err;
  }
  EXPECT_LT(err.find("*FUNCTION [outer()]"), err.find("\nLOCALS\n"));
  EXPECT_EQ(text::Utf16ToUtf8(PrintBuffer()), "");  // nothing on the print channel
}

TEST_F(StdlibAux, ErrorObjectsThatAreNotStringsAreUnknown) {
  sqstd_seterrorhandlers(v);
  EXPECT_FALSE(Run("throw {code = 5};"));
  EXPECT_NE(Errors().find("\nAN ERROR HAS OCCURRED [unknown]\n"), std::string::npos) << Errors();
}

TEST_F(StdlibAux, CompileErrorNamesSourceLineAndColumn) {
  sqstd_seterrorhandlers(v);
  EXPECT_FALSE(Run("local a = 1;\nlocal = ;\n"));
  std::string err = Errors();
  EXPECT_EQ(err.rfind("aux.nut line = (2) column = (", 0), 0u) << err;
  EXPECT_NE(err.find(") : error "), std::string::npos) << err;
  EXPECT_EQ(err.back(), '\n');
}

TEST_F(StdlibAux, PrintCallStackFromANative) {
  sq_pushroottable(v);
  sq_pushstring(v, u"dump", -1);
  sq_newclosure(
      v, [](HSQUIRRELVM vm) -> SQInteger {
        sqstd_printcallstack(vm);
        return 0;
      },
      0);
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
  EXPECT_TRUE(Run("function f(x) { local y = x * 2; dump(); }\nf(21);\n"));
  std::string err = Errors();
  EXPECT_EQ(err.rfind("\nCALLSTACK\n*FUNCTION [f()] aux.nut line [1]\n", 0), 0u) << err;
  EXPECT_NE(err.find("[y] 42\n[x] 21\n"), std::string::npos) << err;
}

TEST_F(StdlibAux, NoErrorFunctionMeansSilence) {
  sq_setprintfunc(v, CapturePrint, nullptr);
  sqstd_seterrorhandlers(v);
  EXPECT_FALSE(Run("throw \"quiet\";"));
  EXPECT_EQ(Errors(), "");
  sqstd_printcallstack(v);
  EXPECT_EQ(Errors(), "");
}

}  // namespace
}  // namespace sqstdtest
