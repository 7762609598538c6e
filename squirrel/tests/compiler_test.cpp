// Compiler: error texts and positions, bytecode shape of language rules, a stack-discipline check of everything it
// emits, and the compiler inside a VM (the error handler and the last error, the const table shared between
// compilations, readers, line information).
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <string>
#include <vector>

#include <squirrel.h>

#include "compiler.h"

namespace {

using sq::CompiledFunction;
using sq::Instruction;

std::shared_ptr<CompiledFunction> MustCompile(const std::u16string& src) {
    sq::CompileError err;
    auto proto = sq::CompileSource(nullptr, src, u"test.nut", &err);
    EXPECT_TRUE(proto) << "compile failed: " << std::string(err.message.begin(), err.message.end()) << " at "
                       << err.line << ":" << err.column;
    return proto;
}

// ---- stack discipline -------------------------------------------------------------------------------

// Effect of one instruction on the stack height along its fall-through path, derived from the opcode
// documentation independently of the compiler's own table.
int Effect(const CompiledFunction& p, const Instruction& i) {
    switch (i.op) {
        case sq::OP_LOADNULL: case sq::OP_LOADBOOL: case sq::OP_LOADINT: case sq::OP_LOADFLOAT:
        case sq::OP_LOADK: case sq::OP_LOADROOT: case sq::OP_LOADCONSTS: case sq::OP_LOADLOCAL:
        case sq::OP_LOADOUTER: case sq::OP_LOADBASE: case sq::OP_GETENV: case sq::OP_DUP:
        case sq::OP_NEWTABLE: case sq::OP_NEWARRAY: case sq::OP_INCLOCAL: case sq::OP_PREPCALLK:
            return 1;
        case sq::OP_DUP2: return 2;
        case sq::OP_GET: case sq::OP_DELETE: case sq::OP_INCINDEX: case sq::OP_APPEND: case sq::OP_THROW:
        case sq::OP_RETURN: case sq::OP_YIELD: case sq::OP_JMPF: case sq::OP_JMPT: case sq::OP_ANDJ:
        case sq::OP_ORJ:
            return -1;
        case sq::OP_SET: case sq::OP_NEWSLOT: case sq::OP_TABLESLOT: return -2;
        case sq::OP_CALL: return -i.a;
        case sq::OP_POP: return -i.a;
        case sq::OP_CLASS: return 1 - (i.b & 1) - ((i.b >> 1) & 1);
        case sq::OP_NEWMEMBER: return -2 - (i.b & 1);
        case sq::OP_CLOSURE: return 1 - int(p.functions.at(size_t(i.a))->ndefaults) - i.b;
        default:
            if (i.op >= sq::OP_ADD && i.op <= sq::OP_INSTANCEOF) return -1;
            return 0;  // stores, unary operators, GETK, PREPCALL, jumps, traps, FOREACH
    }
}

// Walks every path of every prototype: heights agree where paths join, never drop below the
// parameters, never exceed stackSize; slots used are live; every path ends in RETURN or THROW.
void VerifyStack(const CompiledFunction& p) {
    int params = int(p.nparams) + (p.varargs ? 1 : 0);
    std::map<int, int> depthAt;
    std::vector<std::pair<int, int>> work{{0, params}};
    auto reach = [&](int pc, int depth) {
        ASSERT_GE(pc, 0);
        ASSERT_LT(pc, int(p.code.size())) << "jump out of code";
        auto it = depthAt.find(pc);
        if (it != depthAt.end()) {
            ASSERT_EQ(it->second, depth) << "inconsistent stack height at pc " << pc << "\n" << sq::Disassemble(p);
            return;
        }
        work.push_back({pc, depth});
    };
    while (!work.empty()) {
        auto [pc, depth] = work.back();
        work.pop_back();
        if (depthAt.count(pc)) {
            ASSERT_EQ(depthAt[pc], depth) << "at pc " << pc << "\n" << sq::Disassemble(p);
            continue;
        }
        depthAt[pc] = depth;
        const Instruction& i = p.code[size_t(pc)];
        int after = depth + Effect(p, i);
        ASSERT_GE(after, params) << "stack underflow at pc " << pc << "\n" << sq::Disassemble(p);
        ASSERT_LE(after, int(p.stackSize)) << "stackSize too small at pc " << pc;
        ASSERT_LE(depth, int(p.stackSize));
        switch (i.op) {
            case sq::OP_LOADLOCAL: case sq::OP_STORELOCAL: case sq::OP_INCLOCAL:
                ASSERT_LT(i.a, depth) << "slot not live at pc " << pc;
                break;
            case sq::OP_LOADOUTER: case sq::OP_STOREOUTER:
                ASSERT_LT(size_t(i.a), p.outers.size());
                break;
            case sq::OP_LOADK: case sq::OP_GETK: case sq::OP_PREPCALLK: case sq::OP_GETENV: case sq::OP_SETENV:
                ASSERT_LT(size_t(i.a), p.constants.size());
                break;
            case sq::OP_FOREACH:
                ASSERT_LE(int(i.c) + 4, depth) << "foreach slots not live";
                break;
            default:
                break;
        }
        int next = pc + 1;
        switch (i.op) {
            case sq::OP_RETURN: case sq::OP_THROW: break;
            case sq::OP_JMP: reach(next + i.a, after); break;
            case sq::OP_JMPF: case sq::OP_JMPT:
                reach(next + i.a, after);
                reach(next, after);
                break;
            case sq::OP_ANDJ: case sq::OP_ORJ:
                reach(next + i.a, depth);  // the tested value stays when jumping
                reach(next, after);
                break;
            case sq::OP_PUSHTRAP:
                reach(next + i.a, depth + 1);  // handler starts with the exception pushed
                reach(next, after);
                break;
            case sq::OP_FOREACH:
                reach(next + i.a, after);
                reach(next, after);
                break;
            default: reach(next, after); break;
        }
        if (::testing::Test::HasFatalFailure()) return;
    }
    for (const auto& f : p.functions) {
        VerifyStack(*f);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

const char16_t* const kPrograms[] = {
    u"print(\"hello\")",
    u"local a = 1, b = 2.5, c\nlocal t = { x = a, [b] = c, \"j\": 3, function f(q) { return q } }\nt.x += 1; t[b]++; --t.x\n",
    u"for (local i = 0, j = 10; i < j; i++, j--) { if (i % 2) continue; if (i > 4) break; local k = i }",
    u"foreach (k, v in [1,2,3]) { foreach (w in \"ab\") { if (w == 'a') continue; break } local z = v }",
    u"local x = 0\nwhile (x < 10) { local y = x++; if (y == 3) break }\ndo { x-- } while (x > 0)",
    u"switch (a) { case 1: local p = 1; case 2: { local q = 2; break } default: r <- 3 }",
    u"try { local u = 1; throw u } catch (e) { try { throw e } catch (e2) { local w = e2 } }",
    u"for (local i = 0; i < 3; i++) { try { if (i == 1) continue; if (i == 2) break } catch (e) {} }",
    u"function f(a, b = 1, c = a, ...) { local g = function() { return a + vargv.len() }; return g }",
    u"local function gen(n) { for (local i = 0; i < n; i++) yield i; return null }\nforeach (v in gen(3)) print(v)",
    u"class A extends B </ x = 1 /> { m = 1; static s = []; </ k = 2 /> function f() { return base.f() + m }\n"
    u"constructor(a) { base.constructor(a) } }\nlocal o = A(1) { m = 3 }",
    u"local r = a && b || !c ? d : e <=> f\nx <- r in t\nlocal q = typeof clone y instanceof Z",
    u"local v = @(x, y = 2) x * y; local w = rawcall(v, this, 1); ::g <- function[this]() {}",
    u"enum E { A, B = 5, C }\nconst K = -3\nlocal z = E.C + K - -2147483648",
    u"local a = [1, 2, [3, 4]]; a[2][0] = a[1] <- 5; delete t.x; delete u[1]",
    u"function T::sub::fn(a) { return this }\nclass T.Inner {}\nlocal s = (1, 2, 3)",
};

TEST(CompilerStack, EveryPathKeepsAConsistentHeight) {
    for (const char16_t* src : kPrograms) {
        SCOPED_TRACE(std::string(src, src + std::char_traits<char16_t>::length(src)));
        auto p = MustCompile(src);
        ASSERT_TRUE(p);
        VerifyStack(*p);
    }
}

// Random token soup: the compiler either reports an error or produces code that passes the stack walk;
// it never crashes. Deterministic seed so failures reproduce.
TEST(CompilerStack, RandomSourcesCompileSoundlyOrFail) {
    const char16_t* const vocab[] = {
        u"local ", u"function ", u"class ", u"extends ", u"if ", u"else ", u"while ", u"do ", u"for ",
        u"foreach ", u"in ", u"switch ", u"case ", u"default ", u"break ", u"continue ", u"return ", u"yield ",
        u"try ", u"catch ", u"throw ", u"const ", u"enum ", u"static ", u"base", u"this", u"null", u"true",
        u"typeof ", u"clone ", u"resume ", u"delete ", u"instanceof ", u"constructor", u"rawcall", u"a", u"b",
        u"c", u"1", u"2.5", u"\"s\"", u"'c'", u"(", u")", u"[", u"]", u"{", u"}", u",", u";", u":", u"::",
        u".", u"...", u"=", u"<-", u"+=", u"++", u"--", u"+", u"-", u"*", u"/", u"%", u"<", u">", u"<=", u"<=>",
        u"==", u"!=", u"&&", u"||", u"!", u"~", u"&", u"|", u"^", u"<<", u">>", u">>>", u"?", u"@", u"</", u"/>",
        u"\n", u" "};
    const size_t n = sizeof(vocab) / sizeof(vocab[0]);
    uint32_t seed = 12345;
    auto next = [&]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFF;
    };
    int compiled = 0;
    for (int round = 0; round < 3000; ++round) {
        std::u16string src;
        int len = 1 + int(next() % 40);
        for (int i = 0; i < len; ++i) src += vocab[next() % n];
        sq::CompileError err;
        auto p = sq::CompileSource(nullptr, src, u"fuzz.nut", &err);
        if (p) {
            ++compiled;
            SCOPED_TRACE(std::string(src.begin(), src.end()));
            VerifyStack(*p);
            if (::testing::Test::HasFatalFailure()) return;
        } else {
            EXPECT_FALSE(err.message.empty());
            EXPECT_GE(err.line, 1);
        }
    }
    EXPECT_GT(compiled, 0);
}

// ---- errors ------------------------------------------------------------------------------------------

struct ErrorCase {
    const char16_t* src;
    const char16_t* message;
    int32_t line;
    int32_t column;
};

class CompilerErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CompilerErrors, MessageAndPosition) {
    const ErrorCase& c = GetParam();
    sq::CompileError err;
    EXPECT_FALSE(sq::CompileSource(nullptr, c.src, u"e.nut", &err));
    EXPECT_EQ(err.message, std::u16string(c.message));
    EXPECT_EQ(err.line, c.line);
    EXPECT_EQ(err.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CompilerErrors,
    ::testing::Values(ErrorCase{u"a b", u"end of statement expected (; or lf)", 1, 3},
                      ErrorCase{u"local = 3", u"expected 'IDENTIFIER'", 1, 7},
                      ErrorCase{u"x = (1 + 2", u"expected ')'", 1, 11},
                      ErrorCase{u"\n\nbreak", u"'break' has to be in a loop block", 3, 6},
                      ErrorCase{u"function f() { continue }", u"'continue' has to be in a loop block", 1, 25},
                      ErrorCase{u"while (1) { local f = function() { break } }",
                                u"'break' has to be in a loop block", 1, 42},
                      ErrorCase{u"1 = 2", u"can't assign expression", 1, 3},
                      ErrorCase{u"local a\na <- 1", u"can't 'create' a local slot", 2, 3},
                      ErrorCase{u"f(1,)", u"expression expected, found ')'", 1, 5},
                      ErrorCase{u"local x =", u"expression expected", 1, 10},
                      ErrorCase{u"local y = )", u"expression expected", 1, 11},
                      ErrorCase{u"if (x) { y", u"expected '}'", 1, 11},
                      ErrorCase{u"enum E { A = foo }", u"scalar expected : integer, float, or string", 1, 14},
                      ErrorCase{u"const C = 1 + 2", u"end of statement expected (; or lf)", 1, 13},
                      ErrorCase{u"switch (a) { default: b; case 1: c }", u"default must be the last case", 1, 26},
                      ErrorCase{u"try { } x", u"expected 'catch'", 1, 9},
                      ErrorCase{u"3++", u"can't '++' or '--' an expression", 1, 2},
                      ErrorCase{u"local z; delete z", u"cannot delete an (outer) local", 1, 18},
                      ErrorCase{u"function f(a = 1, b) {}", u"expected '='", 1, 20},
                      ErrorCase{u"local s = \"abc", u"unfinished string", 1, 15},
                      ErrorCase{u"enum E { A }\nlocal e = E.nope", u"invalid enum [no 'nope' field in 'E']", 2, 17},
                      // operands that are not assignable, whatever precedence made of them
                      ErrorCase{u"--base", u"can't '++' or '--' an expression", 1, 7},
                      ErrorCase{u"delete base", u"can't delete an expression", 1, 12},
                      ErrorCase{u"x-- = 1", u"can't assign expression", 1, 5},
                      ErrorCase{u"local x; @() !x = 1", u"can't assign expression", 1, 17},
                      ErrorCase{u"if (j == 0 && a = 0) {}", u"can't assign expression", 1, 17},
                      ErrorCase{u"local t; function F(f) { 3 == t += 2;", u"can't assign expression", 1, 33},
                      ErrorCase{u"this = 2", u"can't assign expression", 1, 6}));

TEST(CompilerErrors, DeepNestingIsAnErrorNotACrash) {
    const std::pair<std::u16string, std::u16string> parts[] = {
        {u"(", u")"}, {u"[", u"]"}, {u"-", u""}, {u"!", u""}, {u"{ x = ", u" }"}, {u"function() { return ", u" }"},
        {u"a && ", u""}, {u"a = ", u""}, {u"a ? b : ", u""}, {u"f(", u")"}};
    for (const auto& [open, close] : parts) {
        std::u16string src = u"local v = ";
        for (int i = 0; i < 100000; ++i) src += open;
        src += u"1";
        for (int i = 0; i < 100000; ++i) src += close;
        sq::CompileError err;
        EXPECT_FALSE(sq::CompileSource(nullptr, src, u"deep.nut", &err));
        EXPECT_EQ(err.message, u"nesting too deep");
    }
    std::u16string blocks;
    for (int i = 0; i < 100000; ++i) blocks += u"{";
    sq::CompileError err;
    EXPECT_FALSE(sq::CompileSource(nullptr, blocks, u"deep.nut", &err));
    EXPECT_EQ(err.message, u"nesting too deep");
    // ordinary depth still compiles
    std::u16string fine = u"local v = ";
    for (int i = 0; i < 50; ++i) fine += u"(";
    fine += u"1";
    for (int i = 0; i < 50; ++i) fine += u")";
    EXPECT_TRUE(MustCompile(fine));
}

// ---- language rules as bytecode ----------------------------------------------------------------------

bool Uses(const CompiledFunction& p, uint8_t op, const std::u16string& constant = u"") {
    for (const Instruction& i : p.code) {
        if (i.op != op) continue;
        if (constant.empty()) return true;
        if (i.a >= 0 && size_t(i.a) < p.constants.size() && p.constants[size_t(i.a)].kind == sq::Constant::String &&
            p.constants[size_t(i.a)].s == constant)
            return true;
    }
    return false;
}

TEST(CompilerRules, LocalFunctionIsNotVisibleInItsOwnBody) {
    auto p = MustCompile(u"local function f(n) { return f(n) }\nlocal g = function(n) { return g(n) }\nf(1)");
    ASSERT_TRUE(p);
    ASSERT_EQ(p->functions.size(), 2u);
    EXPECT_TRUE(Uses(*p->functions[0], sq::OP_GETENV, u"f"));  // looked up through this/root
    EXPECT_TRUE(p->functions[0]->outers.empty());
    EXPECT_TRUE(Uses(*p->functions[1], sq::OP_GETENV, u"g"));
    EXPECT_FALSE(Uses(*p, sq::OP_GETENV, u"f"));  // afterwards it is a local
}

TEST(CompilerRules, OuterVariablesChainThroughEnclosingFunctions) {
    auto p = MustCompile(u"local x = 1\nfunction a() { local y = 2; return function() { return x + y } }");
    ASSERT_TRUE(p);
    const CompiledFunction& fa = *p->functions.at(0);
    const CompiledFunction& inner = *fa.functions.at(0);
    ASSERT_EQ(inner.outers.size(), 2u);
    EXPECT_EQ(inner.outers[0].name, u"x");
    EXPECT_FALSE(inner.outers[0].fromLocal);  // from a's own outer cell
    EXPECT_EQ(inner.outers[1].name, u"y");
    EXPECT_TRUE(inner.outers[1].fromLocal);
    EXPECT_EQ(inner.outers[1].index, 1u);
    ASSERT_EQ(fa.outers.size(), 1u);
    EXPECT_TRUE(fa.outers[0].fromLocal);
    EXPECT_EQ(fa.outers[0].index, 2u);  // main: this, vargv, x
    EXPECT_EQ(inner.outers[0].index, 0u);
}

TEST(CompilerRules, ConstantsKeepIntegersAndFloatsApartAndShareStrings) {
    auto p = MustCompile(u"local t = {}\nt[\"k\"] <- 1\nt[\"k\"] <- \"k\"\nlocal a = 1.0, b = \"k\"");
    ASSERT_TRUE(p);
    int strings = 0;
    for (const auto& c : p->constants) strings += c.kind == sq::Constant::String && c.s == u"k";
    EXPECT_EQ(strings, 1);
    bool sawFloat = false;
    for (const Instruction& i : p->code)
        if (i.op == sq::OP_LOADFLOAT) sawFloat = std::bit_cast<float>(i.a) == 1.0f;
    EXPECT_TRUE(sawFloat);
}

TEST(CompilerRules, PrototypeShape) {
    auto p = MustCompile(u"function f(a, b = 2, ...) { yield a }\nlocal l = @(x) x");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->name, u"main");
    EXPECT_EQ(p->nparams, 1u);
    EXPECT_TRUE(p->varargs);
    const CompiledFunction& f = *p->functions.at(0);
    EXPECT_EQ(f.name, u"f");
    EXPECT_EQ(f.nparams, 3u);
    EXPECT_EQ(f.ndefaults, 1u);
    EXPECT_TRUE(f.varargs);
    EXPECT_TRUE(f.generator);
    EXPECT_EQ(f.paramNames, (std::vector<std::u16string>{u"this", u"a", u"b"}));
    EXPECT_EQ(f.sourceName, u"test.nut");
    const CompiledFunction& l = *p->functions.at(1);
    EXPECT_FALSE(l.generator);
    EXPECT_EQ(l.nparams, 2u);
}

TEST(CompilerRules, EnumsAndConstantsFoldAtCompileTime) {
    auto p = MustCompile(u"enum E { A, B = 10, C, D = \"s\" }\nconst K = -5\nlocal v = [E.A, E.B, E.C, E.D, K, -E.C]");
    ASSERT_TRUE(p);
    std::vector<int32_t> ints;
    for (const Instruction& i : p->code)
        if (i.op == sq::OP_LOADINT) ints.push_back(i.a);
    EXPECT_EQ(ints, (std::vector<int32_t>{0, 10, 1, -5, -1}));  // the counter ignores explicit values
    EXPECT_TRUE(Uses(*p, sq::OP_LOADK, u"s"));
    EXPECT_FALSE(Uses(*p, sq::OP_GETENV));
}

TEST(CompilerRules, NegatedLiteralsWrap) {
    auto p = MustCompile(u"local a = -2147483648, b = -0x80000000, c = -2.5");
    ASSERT_TRUE(p);
    std::vector<int32_t> ints;
    for (const Instruction& i : p->code)
        if (i.op == sq::OP_LOADINT) ints.push_back(i.a);
    EXPECT_EQ(ints, (std::vector<int32_t>{INT32_MIN, INT32_MIN}));
    EXPECT_FALSE(Uses(*p, sq::OP_NEG));
}

TEST(CompilerRules, AssignmentToUnknownNameIsAnEnvironmentStoreAndNewSlotIsExplicit) {
    auto p = MustCompile(u"x = 1\ny <- 2\n::z <- 3");
    ASSERT_TRUE(p);
    EXPECT_TRUE(Uses(*p, sq::OP_SETENV, u"x"));
    EXPECT_TRUE(Uses(*p, sq::OP_NEWSLOT));
    EXPECT_TRUE(Uses(*p, sq::OP_LOADROOT));
}

TEST(CompilerRules, MethodCallsPassTheIndexedObjectAndBaseCallsKeepThis) {
    auto p = MustCompile(u"t.f(1)\nclass C extends D { function g() { return base.g() } }");
    ASSERT_TRUE(p);
    EXPECT_TRUE(Uses(*p, sq::OP_PREPCALLK, u"f"));
    const CompiledFunction& g = *p->functions.at(0);
    EXPECT_TRUE(Uses(g, sq::OP_LOADBASE));
    EXPECT_FALSE(Uses(g, sq::OP_PREPCALLK));
}

TEST(CompilerRules, LineInformationFollowsTheSource) {
    auto p = MustCompile(u"local a = 1\n\nlocal b = a +\n  2\nprint(b)");
    ASSERT_TRUE(p);
    ASSERT_FALSE(p->lines.empty());
    for (size_t i = 1; i < p->lines.size(); ++i) EXPECT_GT(p->lines[i].pc, p->lines[i - 1].pc);
    uint32_t printPc = 0;
    for (uint32_t pc = 0; pc < p->code.size(); ++pc)
        if (p->code[pc].op == sq::OP_GETENV) printPc = pc;
    EXPECT_EQ(p->LineOf(0), 1);
    EXPECT_EQ(p->LineOf(printPc), 5);
}

TEST(CompilerRules, LocalsCarryNamesAndLiveRanges) {
    auto p = MustCompile(u"local a = 1\n{ local b = 2 }\nlocal c = 3");
    ASSERT_TRUE(p);
    std::map<std::u16string, sq::LocalInfo> byName;
    for (const auto& l : p->locals) byName[l.name] = l;
    ASSERT_TRUE(byName.count(u"b"));
    EXPECT_EQ(byName[u"a"].slot, 2u);
    EXPECT_EQ(byName[u"b"].slot, 3u);
    EXPECT_EQ(byName[u"c"].slot, 3u);  // b's slot is reused
    EXPECT_LE(byName[u"b"].endPc, byName[u"c"].startPc);
    EXPECT_EQ(byName[u"a"].endPc, p->code.size());
}

// ---- the compiler inside a VM ----------------------------------------------------------------------


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
    EXPECT_EQ(std::u16string(result), u"main@1 named@5 unknown@7 main@11");
    sq_settop(v, top);
}

}  // namespace
