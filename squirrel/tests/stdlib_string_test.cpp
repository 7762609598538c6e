// String library: format rules and errors, printf, strip/split/escape, prefixes and suffixes.
#include "stdlib_fixture.h"

namespace sqstdtest {
namespace {

using StdlibString = StdLib;

class StdlibFormat : public StdLib, public ::testing::WithParamInterface<ExprCase> {};

TEST_P(StdlibFormat, PrintsAsCPrintfWould) {
  EXPECT_EQ(Out(std::string("print(") + GetParam().expr + ");"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, StdlibFormat,
    ::testing::Values(
        ExprCase{R"(format("%s %d 0x%02X", "this is a test :", 123, 10))", "this is a test : 123 0x0A"},
        ExprCase{R"(format("%5d|%-5d|%05d|%+d", 42, 42, 42, 42))", "   42|42   |00042|+42"},
        ExprCase{R"(format("%x %X %o %u", 255, 255, 8, -1))", "ff FF 10 4294967295"},
        ExprCase{R"(format("%d %i", -2147483648, 2.9))", "-2147483648 2"},
        ExprCase{R"(format("%.3f %e %g %g", 1.5, 1000.0, 0.0001, 3.0))", "1.500 1.000000e+03 0.0001 3"},
        ExprCase{R"(format("%f", 7))", "7.000000"},
        ExprCase{R"(format("%5s|%-5s|%.2s|%5.1s", "ab", "ab", "abcdef", "xyz"))", "   ab|ab   |ab|    x"},
        ExprCase{R"(format("%c%c%c", 72, 105, 0x263A))", "Hi\xE2\x98\xBA"},
        ExprCase{R"(format("%c", 0x1F600))", "\xF0\x9F\x98\x80"},
        ExprCase{R"(format("100%% %s", "sure"))", "100% sure"},
        ExprCase{R"(format("no conversions"))", "no conversions"},
        ExprCase{R"(format("%s", "caf\u00e9 \u4e2d"))", "caf\xC3\xA9 \xE4\xB8\xAD"},
        ExprCase{R"(format("%d", true))", "1"},
        ExprCase{R"(format("%s|%s", "a\x0000b", "c").len())", "5"},
        ExprCase{R"(format("extra %d", 1, 2, 3))", "extra 1"}));

class StdlibFormatErrors : public StdLib, public ::testing::WithParamInterface<ExprCase> {};

TEST_P(StdlibFormatErrors, RaiseAScriptError) { EXPECT_EQ(Err(std::string("format(") + GetParam().expr + ");"), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Rejected, StdlibFormatErrors,
    ::testing::Values(ExprCase{R"("%s", 1)", "string expected for the specified format"},
                      ExprCase{R"("%s", null)", "string expected for the specified format"},
                      ExprCase{R"("%d", "1")", "integer expected for the specified format"},
                      ExprCase{R"("%x", [])", "integer expected for the specified format"},
                      ExprCase{R"("%f", "1.0")", "float expected for the specified format"},
                      ExprCase{R"("%d %d", 1)", "not enough parameters for the given format string"},
                      ExprCase{R"("%*d", 5, 1)", "invalid format"},
                      ExprCase{R"("%q", 1)", "invalid format"},
                      ExprCase{R"("%5", 1)", "invalid format"},
                      ExprCase{R"("%99999d", 1)", "width format too long"},
                      ExprCase{R"("%.99999f", 1.0)", "invalid format"},
                      ExprCase{R"("%\u012Dd", 1)", "invalid format"},
                      ExprCase{R"(1)", "parameter 1 has an invalid type 'integer' ; expected: 'string'"}));

TEST_F(StdlibString, LargestFieldsAreAccepted) {
  EXPECT_EQ(Out(R"(print(format("%99d|%.1024f", 1, 1.0).len());)"), std::to_string(99 + 1 + 2 + 1024));
}

TEST_F(StdlibString, PrintfWritesThroughThePrintFunction) {
  EXPECT_EQ(Out(R"(local r = printf("%s=%d\n", "x", 5); print(r == null);)"), "x=5\ntrue");
  EXPECT_EQ(Err(R"(printf("%d", "x");)"), "integer expected for the specified format");
}

TEST_F(StdlibString, FormatFromC) {
  sq_pushstring(v, u"%s-%03d", -1);
  sq_pushstring(v, u"id", -1);
  sq_pushinteger(v, 7);
  SQChar* out = nullptr;
  SQInteger len = -1;
  ASSERT_TRUE(SQ_SUCCEEDED(sqstd_format(v, -3, &len, &out)));
  EXPECT_EQ(std::u16string(out, size_t(len)), u"id-007");
  EXPECT_EQ(out[len], 0);
  sq_pop(v, 3);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sqstd_format(v, -1, &len, &out)));
  sq_pop(v, 1);
}

class StdlibText : public StdLib, public ::testing::WithParamInterface<ExprCase> {};

TEST_P(StdlibText, Result) { EXPECT_EQ(Out(std::string("print(") + GetParam().expr + ");"), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    StripSplitAffixes, StdlibText,
    ::testing::Values(ExprCase{R"("[" + strip(" \t\r\n a b \v\f") + "]")", "[a b]"},
                      ExprCase{R"("[" + lstrip("  a  ") + "][" + rstrip("  a  ") + "]")", "[a  ][  a]"},
                      ExprCase{R"("[" + strip("   ") + "][" + strip("") + "]")", "[][]"},
                      ExprCase{R"("[" + strip("\u3000x") + "]")", "[\xE3\x80\x80x]"},
                      ExprCase{R"(split("1.2-3;4/5", ".-/;").reduce(@(a, b) a + "|" + b))", "1|2|3|4|5"},
                      ExprCase{R"(split("a,,b,", ",").len() + " " + split("a,,b,", ",")[1].len())", "3 0"},
                      ExprCase{R"(split("", ",").len() + " " + split(";", ";").len() + split(";;", ";").len())",
                               "0 12"},
                      ExprCase{R"(split(",a,,b,,", ",", true).reduce(@(a, b) a + "|" + b))", "a|b"},
                      ExprCase{R"(split("x\u4e2dy", "\u4e2d")[1])", "y"},
                      ExprCase{R"(startswith("hello", "he") + " " + startswith("he", "hello") + " " + startswith("x", ""))",
                               "true false true"},
                      ExprCase{R"(endswith("hello", "llo") + " " + endswith("lo", "hello") + " " + endswith("abc", "b"))",
                               "true false false"}));

INSTANTIATE_TEST_SUITE_P(
    Escape, StdlibText,
    ::testing::Values(ExprCase{R"(escape("a\tb\nc"))", R"(a\x0009b\x000ac)"},
                      ExprCase{R"(escape("\"q\" 'r' \\"))", R"(\"q\" \'r\' \\)"},
                      ExprCase{R"(escape("\a\b\v\f\r"))", R"(\x0007\x0008\x000b\x000c\x000d)"},
                      ExprCase{R"(escape("x\x0000y"))", R"(x\x0000y)"},
                      ExprCase{R"(escape("\x01" + "2\x7f\x85"))", R"(\x00012\x007f\x0085)"},
                      ExprCase{R"(escape("caf\u00e9"))", R"(caf\x00e9)"}));

TEST_F(StdlibString, EscapedTextCompilesBackToTheOriginal) {
  EXPECT_EQ(Out(R"(
    local s = "\x01" + "A\t\"'\\\x7f\u00e9\u4e2d\n\x0000end";
    local back = compilestring("return \"" + escape(s) + "\";")();
    print((back == s) + " " + back.len());)"),
            "true 14");
}

TEST_F(StdlibString, ArgumentTypesAreChecked) {
  EXPECT_EQ(Err("strip(1);"), "parameter 1 has an invalid type 'integer' ; expected: 'string'");
  EXPECT_EQ(Err("split(\"a\");"), "wrong number of parameters");
  EXPECT_EQ(Err("startswith(\"a\", 1);"), "parameter 2 has an invalid type 'integer' ; expected: 'string'");
}

}  // namespace
}  // namespace sqstdtest
