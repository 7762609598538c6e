// The compiler inside a VM: error reporting through the handler and the last error, the const table
// shared between compilations, and compiled code running.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <squirrel.h>

namespace {

struct Reported {
    std::u16string desc, source;
    SQInteger line = 0, column = 0;
    int calls = 0;
};
Reported g_reported;

void OnCompileError(HSQUIRRELVM, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
    g_reported.desc = desc;
    g_reported.source = source;
    g_reported.line = line;
    g_reported.column = column;
    g_reported.calls++;
}

class CompilerVm : public ::testing::Test {
protected:
    void SetUp() override {
        g_reported = Reported{};
        v = sq_open(1024);
        sq_setcompilererrorhandler(v, OnCompileError);
    }
    void TearDown() override { sq_close(v); }

    SQRESULT Compile(const std::u16string& src, SQBool raise = SQTrue) {
        return sq_compilebuffer(v, src.c_str(), SQInteger(src.size()), u"unit.nut", raise);
    }

    // Compiles and runs `src` (main called with the root table as this); returns its integer result.
    SQInteger RunInt(const std::u16string& src) {
        SQInteger top = sq_gettop(v);
        EXPECT_TRUE(SQ_SUCCEEDED(Compile(src))) << std::string(g_reported.desc.begin(), g_reported.desc.end());
        sq_pushroottable(v);
        EXPECT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQFalse)));
        SQInteger result = -12345;
        EXPECT_TRUE(SQ_SUCCEEDED(sq_getinteger(v, -1, &result)));
        sq_settop(v, top);
        return result;
    }

    HSQUIRRELVM v = nullptr;
};

TEST_F(CompilerVm, ErrorGoesToHandlerAndBecomesLastError) {
    SQInteger top = sq_gettop(v);
    EXPECT_TRUE(SQ_FAILED(Compile(u"local a = 1\nlocal b = a b")));
    EXPECT_EQ(sq_gettop(v), top);  // nothing pushed on failure
    EXPECT_EQ(g_reported.calls, 1);
    EXPECT_EQ(g_reported.desc, u"end of statement expected (; or lf)");
    EXPECT_EQ(g_reported.source, u"unit.nut");
    EXPECT_EQ(g_reported.line, 2);
    EXPECT_EQ(g_reported.column, 13);
    sq_getlasterror(v);
    const SQChar* last = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getstring(v, -1, &last)));
    EXPECT_EQ(std::u16string(last), u"end of statement expected (; or lf)");
    sq_settop(v, top);
}

TEST_F(CompilerVm, SuccessPushesOneClosure) {
    SQInteger top = sq_gettop(v);
    ASSERT_TRUE(SQ_SUCCEEDED(Compile(u"return 1")));
    EXPECT_EQ(sq_gettop(v), top + 1);
    EXPECT_EQ(sq_gettype(v, -1), OT_CLOSURE);
    EXPECT_EQ(g_reported.calls, 0);
    sq_settop(v, top);
}

TEST_F(CompilerVm, ConstantsPersistAcrossCompilations) {
    EXPECT_EQ(RunInt(u"const LIMIT = 40\nenum Level { Low, High = 100 }\nreturn LIMIT + 2"), 42);
    // a later compilation sees both through the VM's const table
    EXPECT_EQ(RunInt(u"return LIMIT + Level.High + Level.Low"), 140);
    // the const table changed at run time is what the next compilation folds
    EXPECT_EQ(RunInt(u"getconsttable()[\"LIMIT\"] <- 7\nreturn 0"), 0);
    EXPECT_EQ(RunInt(u"return LIMIT"), 7);
}

TEST_F(CompilerVm, EnumMissingMemberIsACompileError) {
    EXPECT_EQ(RunInt(u"enum Shape { Square, Circle }\nreturn Shape.Circle"), 1);
    EXPECT_TRUE(SQ_FAILED(Compile(u"return Shape.Triangle")));
    EXPECT_EQ(g_reported.desc, u"invalid enum [no 'Triangle' field in 'Shape']");
}

TEST_F(CompilerVm, ProgramsRun) {
    struct {
        const char16_t* src;
        SQInteger expected;
    } cases[] = {
        {u"local s = 0; for (local i = 1; i <= 10; i++) s += i; return s", 55},
        {u"local f = function(a, b = 5) { return a * b }; return f(3) + f(2, 2)", 19},
        {u"local fns = []; foreach (i in [1, 2, 3]) { local j = i; fns.append(@() j) }\n"
         u"return fns[0]() * 100 + fns[1]() * 10 + fns[2]()", 123},
        {u"function g() { yield 1; yield 2 } local t = 0; foreach (v in g()) t += v; return t", 3},
        {u"try { throw 5 } catch (e) { return e * 2 }", 10},
        {u"local n = 0; switch (3) { case 1: n = 1; case 3: n += 3; case 4: n += 4; break; default: n = -1 }\n"
         u"return n", 7},
        {u"local x = 5; local r = x > 3 ? x < 10 ? 1 : 2 : 3; return r", 1},
        {u"return 0x7FFFFFFF + 1 == -2147483648 ? 1 : 0", 1},
        {u"local t = { a = 1 }; t.a += 4; t.a++; return t.a", 6},
        {u"local a = [1, 2]; a[1] *= 10; return a[0] + a[1]", 21},
        {u"local c = 0; local i = 0; do { i++; if (i == 2) continue; c += i } while (i < 4); return c", 8},
        {u"class A { v = 1; function get() { return v } } class B extends A { function get() { return base.get() + 10 } }\n"
         u"return B().get()", 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.src, c.src + std::char_traits<char16_t>::length(c.src)));
        EXPECT_EQ(RunInt(c.src), c.expected);
    }
}

struct CodePointReader {
    std::u32string text;
    size_t pos = 0;
};

SQInteger ReadCodePoint(SQUserPointer up) {
    auto* r = static_cast<CodePointReader*>(up);
    return r->pos < r->text.size() ? SQInteger(r->text[r->pos++]) : 0;
}

TEST_F(CompilerVm, ReaderMayHandOutCodePointsBeyondSixteenBits) {
    CodePointReader reader{U"return \"a\U0001F600b\".len()", 0};
    ASSERT_TRUE(SQ_SUCCEEDED(sq_compile(v, ReadCodePoint, &reader, u"reader.nut", SQTrue)));
    sq_pushroottable(v);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQFalse)));
    SQInteger len = 0;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getinteger(v, -1, &len)));
    EXPECT_EQ(len, 4);  // a, the surrogate pair, b
    sq_pop(v, 2);

    CodePointReader broken{U"local x = ", 0};
    EXPECT_TRUE(SQ_FAILED(sq_compile(v, ReadCodePoint, &broken, u"reader.nut", SQTrue)));
    EXPECT_EQ(g_reported.desc, u"expression expected");
    EXPECT_EQ(g_reported.source, u"reader.nut");
}

// Reports the calling script frame's line and function name, so line information can be checked.
SQInteger Where(HSQUIRRELVM v) {
    SQStackInfos si;
    if (SQ_FAILED(sq_stackinfos(v, 1, &si))) return sq_throwerror(v, u"no caller");
    std::u16string text = std::u16string(si.funcname ? si.funcname : u"?") + u"@";
    for (char c : std::to_string(si.line)) text.push_back(char16_t(c));
    sq_pushstring(v, text.c_str(), SQInteger(text.size()));
    return 1;
}

TEST_F(CompilerVm, LineInformationReachesStackInfos) {
    sq_pushroottable(v);
    sq_pushstring(v, u"where", -1);
    sq_newclosure(v, Where, 0);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
    sq_pop(v, 1);
    SQInteger top = sq_gettop(v);
    ASSERT_TRUE(SQ_SUCCEEDED(Compile(u"local a = where()\n"
                                      u"\n"
                                      u"function named() {\n"
                                      u"  local x = 1\n"
                                      u"  return where()\n"
                                      u"}\n"
                                      u"local anon = function() { return where() }\n"
                                      u"for (local i = 0;\n"
                                      u"     i < 1;\n"
                                      u"     i += where().len()) {}\n"
                                      u"return a + \" \" + named() + \" \" + anon() + \" \" + where()\n")));
    sq_pushroottable(v);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQFalse)));
    const SQChar* result = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getstring(v, -1, &result)));
    EXPECT_EQ(std::u16string(result), u"main@1 named@5 unnamed@7 main@11");
    sq_settop(v, top);
}

}  // namespace
