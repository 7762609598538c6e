// Math and system libraries: results in single precision, integer wrap-around, the random
// generator's range and determinism, dates, environment, files and the command interpreter.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "stdlib_fixture.h"

namespace sqstdtest {
namespace {

using StdlibMath = StdLib;
using StdlibSystem = StdLib;

class StdlibMathCases : public StdLib, public ::testing::WithParamInterface<ExprCase> {};

TEST_P(StdlibMathCases, Result) { EXPECT_EQ(Out(std::string("print(") + GetParam().expr + ");"), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Functions, StdlibMathCases,
    ::testing::Values(ExprCase{"abs(-5) + \" \" + abs(7) + \" \" + abs(-2.7)", "5 7 2"},
                      ExprCase{"abs(-2147483647 - 1)", "-2147483648"},
                      ExprCase{"fabs(-2.5) + \" \" + typeof fabs(-3)", "2.5 float"},
                      ExprCase{"sqrt(16) + \" \" + typeof sqrt(16)", "4 float"},
                      ExprCase{"pow(2, 10) + \" \" + pow(2, 0.5)", "1024 1.41421"},
                      ExprCase{"floor(-2.5) + \" \" + ceil(-2.5) + \" \" + floor(2.5)", "-3 -2 2"},
                      ExprCase{"typeof floor(3) + \" \" + floor(3)", "float 3"},
                      ExprCase{"sin(0) + \" \" + cos(0) + \" \" + tan(0)", "0 1 0"},
                      ExprCase{"asin(1) + \" \" + acos(1) + \" \" + atan(1)", "1.5708 0 0.785398"},
                      ExprCase{"atan2(1, 1) + \" \" + atan2(1, -1)", "0.785398 2.35619"},
                      ExprCase{"exp(0) + \" \" + log(1) + \" \" + log10(1000)", "1 0 3"},
                      ExprCase{"PI + \" \" + typeof PI + \" \" + RAND_MAX", "3.14159 float 32767"},
                      ExprCase{"(sqrt(-1) != sqrt(-1)) + \" \" + log(0)", "true -inf"}));

TEST_F(StdlibMath, ParameterChecks) {
  EXPECT_EQ(Err("sqrt(\"4\");"), "parameter 1 has an invalid type 'string' ; expected: 'integer|float'");
  EXPECT_EQ(Err("pow(2);"), "wrong number of parameters");
  EXPECT_EQ(Err("rand(1);"), "wrong number of parameters");
}

TEST_F(StdlibMath, RandStaysInRangeAndRepeatsForASeed) {
  EXPECT_EQ(Out(R"~(
    srand(1234); local first = []; for (local i = 0; i < 50; ++i) first.append(rand());
    srand(1234); local same = true; foreach (x in first) same = same && x == rand();
    local ok = true, distinct = {};
    for (local i = 0; i < 10000; ++i) { local r = rand(); ok = ok && r >= 0 && r <= RAND_MAX; distinct[r % 64] <- 1; }
    print(same + " " + ok + " " + distinct.len() + " " + (rand() * 100 / RAND_MAX <= 100));)~"),
            "true true 64 true");
}

TEST_F(StdlibSystem, DateSplitsATime) {
  EXPECT_EQ(Out(R"~(local d = date(0, 'u');
                    print(d.year + "-" + d.month + "-" + d.day + " " + d.hour + ":" + d.min + ":" + d.sec + " " + d.wday + " " + d.yday);)~"),
            "1970-0-1 0:0:0 4 0");
  EXPECT_EQ(Out(R"~(local d = date(951827696, 'u');
                    print(d.year + "-" + d.month + "-" + d.day + " " + d.hour + ":" + d.min + ":" + d.sec + " " + d.wday + " " + d.yday);)~"),
            "2000-1-29 12:34:56 2 59");
  EXPECT_EQ(Out("local d = date(-1, 'u'); print(d.year + \" \" + d.sec);"), "1969 59");
  EXPECT_EQ(Out("print(date().len() + \" \" + (date().year >= 2024) + \" \" + (date(time(), 'l').yday <= 365));"),
            "8 true true");
  EXPECT_EQ(Err("date(0, 'x');"), "invalid format");
  EXPECT_EQ(Err("date(\"now\");"), "parameter 1 has an invalid type 'string' ; expected: 'integer|float'");
}

TEST_F(StdlibSystem, TimeAndClock) {
  long long now = (long long)std::time(nullptr);
  ASSERT_TRUE(Exec("::t <- time(); ::c1 <- clock(); local x = 0; for (local i = 0; i < 100000; ++i) x += i; ::c2 <- clock();"));
  EXPECT_EQ(Out("print(typeof t + \" \" + typeof c1 + \" \" + (c1 >= 0) + \" \" + (c2 >= c1));"), "integer float true true");
  EXPECT_EQ(Out("print(t);").size(), std::to_string(now).size());
  EXPECT_LE(std::llabs(std::stoll(Out("print(t);")) - now), 5);
}

TEST_F(StdlibSystem, Environment) {
  setenv("SQSTD_TEST_VAR", "value \xC3\xA9", 1);
  unsetenv("SQSTD_TEST_MISSING");
  EXPECT_EQ(Out("print(getenv(\"SQSTD_TEST_VAR\") + \" \" + getenv(\"SQSTD_TEST_VAR\").len() + \" \" + "
                "(getenv(\"SQSTD_TEST_MISSING\") == null) + \" \" + (getenv(\"SQSTD_TEST_VAR\\x0000X\") == null));"),
            "value \xC3\xA9 7 true true");
}

TEST_F(StdlibSystem, SystemReturnsTheExitCode) {
  EXPECT_EQ(Out("print(system(\"exit 3\") + \" \" + system(\"true\"));"), "3 0");
}

TEST_F(StdlibSystem, RemoveAndRename) {
  char dir[] = "/tmp/sqstd_files_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string a = std::string(dir) + "/a.txt", b = std::string(dir) + "/b.txt";
  std::ofstream(a) << "x";
  std::string code = "rename(\"" + a + "\", \"" + b + "\"); print(\"renamed\");";
  EXPECT_EQ(Out(code), "renamed");
  EXPECT_NE(access(b.c_str(), F_OK), -1);
  EXPECT_EQ(access(a.c_str(), F_OK), -1);
  EXPECT_EQ(Err("rename(\"" + a + "\", \"" + b + "\");"), "rename() failed");
  EXPECT_EQ(Out("remove(\"" + b + "\"); print(\"removed\");"), "removed");
  EXPECT_EQ(access(b.c_str(), F_OK), -1);
  EXPECT_EQ(Err("remove(\"" + b + "\");"), "remove() failed");
  rmdir(dir);
}

}  // namespace
}  // namespace sqstdtest
