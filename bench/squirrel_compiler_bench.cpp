// links: squirrel
// Compilation speed of script sources of growing size (scripts are compiled when a server sends them).
#include <benchmark/benchmark.h>

#include <string>

#include <squirrel.h>

namespace {

std::u16string MakeScript(int functions) {
    std::u16string src = u"const LIMIT = 100\nenum Mode { Idle, Run = 5, Stop }\n";
    for (int i = 0; i < functions; ++i) {
        std::u16string n = u"f";
        for (char c : std::to_string(i)) n.push_back(char16_t(c));
        src += u"function " + n + u"(a, b = 2, ...) {\n"
               u"  local t = { x = a, y = b, [\"k\"] = Mode.Run, list = [1, 2.5, \"s\", null] }\n"
               u"  for (local i = 0; i < LIMIT; i++) { if (i % 3 == 0) continue; t.x += i * b }\n"
               u"  foreach (k, v in t) { switch (typeof v) { case \"integer\": t.y++; break; default: } }\n"
               u"  try { local c = @(q) q + a; t.z <- c(1) } catch (e) { throw \"failed: \" + e }\n"
               u"  return t.x > t.y ? t.x : vargv.len()\n}\n";
        src += u"class C" + n + u" extends ::Object { v = 0; static s = 1; constructor(p) { v = p } "
               u"function get() { return base.get() + v } }\n";
    }
    return src;
}

void BM_CompileScript(benchmark::State& state) {
    HSQUIRRELVM v = sq_open(1024);
    std::u16string src = MakeScript(int(state.range(0)));
    for (auto _ : state) {
        SQInteger top = sq_gettop(v);
        if (SQ_FAILED(sq_compilebuffer(v, src.c_str(), SQInteger(src.size()), u"bench.nut", SQFalse))) {
            state.SkipWithError("compilation failed");
            break;
        }
        sq_settop(v, top);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size() * sizeof(char16_t)));
    sq_close(v);
}
BENCHMARK(BM_CompileScript)->Arg(1)->Arg(20)->Arg(200);

}  // namespace
