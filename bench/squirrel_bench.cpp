// Script runtime throughput: each case compiles a script once and runs it per iteration.
// Every script returns a checksum, checked so that a timing run also checks results.
// links: squirrel
#include <benchmark/benchmark.h>
#include <squirrel.h>

#include <string>

namespace {

struct Case {
  const char16_t* code;
  SQInteger checksum;
};

void RunScript(benchmark::State& state, const Case& c) {
  HSQUIRRELVM v = sq_open(1024);
  std::u16string code = c.code;
  if (SQ_FAILED(sq_compilebuffer(v, code.c_str(), SQInteger(code.size()), u"bench", SQTrue))) {
    state.SkipWithError("compile failed");
    sq_close(v);
    return;
  }
  for (auto _ : state) {
    sq_push(v, -1);
    sq_pushroottable(v);
    if (SQ_FAILED(sq_call(v, 1, SQTrue, SQFalse))) {
      state.SkipWithError("script failed");
      break;
    }
    SQInteger result = 0;
    sq_getinteger(v, -1, &result);
    if (result != c.checksum) {
      state.SkipWithError("wrong checksum");
      break;
    }
    sq_pop(v, 2);
  }
  sq_close(v);
}

const Case kRecursion{u"function fib(n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); } return fib(20);", 6765};
const Case kArithmetic{u"local s = 0; for (local i = 0; i < 100000; i++) s = (s + i * 7) % 1000003; return s;", 545003};
const Case kTables{
    u"local t = {}; for (local i = 0; i < 5000; i++) { t[\"k\" + i] <- i; t[i] <- i; }"
    u" local s = 0; for (local i = 0; i < 5000; i++) s += t[\"k\" + i] + t[i];"
    u" for (local i = 0; i < 5000; i += 2) { delete t[i]; } return s + t.len();",
    24995000 + 7500};
const Case kStrings{
    u"local s = \"\"; for (local i = 0; i < 2000; i++) s += i % 10; local n = 0; local p = 0;"
    u" while ((p = s.find(\"78\", p)) != null) { n++; p++; } return n + s.len();",
    200 + 2000};
const Case kClasses{
    u"class V { x = 0; constructor(a) { x = a; } function _add(o) { return V(x + o.x); } function get() { return x; } }"
    u" local acc = V(0); for (local i = 0; i < 5000; i++) acc = acc + V(i); return acc.get();",
    12497500};
const Case kSort{
    u"local a = []; for (local i = 0; i < 5000; i++) a.append((i * 7919) % 5003);"
    u" local b = clone a; a.sort(); b.sort(@(x, y) y <=> x);"
    u" local m = a.map(@(x) x * 2).filter(@(i, x) x % 3 == 0).reduce(@(p, c) p + c, 0); return a[0] + b[0] + (m % 1000);",
    5670};
const Case kGenerators{
    u"function gen(n) { for (local i = 0; i < n; i++) yield i; } local s = 0; foreach (x in gen(10000)) s += x;"
    u" local t = newthread(function() { local k = 0; while (true) k += suspend(k); });"
    u" t.call(); for (local i = 0; i < 2000; i++) t.wakeup(1);"
    u" local fs = []; for (local i = 0; i < 2000; i++) fs.append(@() i);"
    u" for (local i = 0; i < 500; i++) { local a = {}; local b = { a = a }; a.b <- b; } collectgarbage(); return s + fs.len();",
    49995000 + 2000};

}  // namespace

BENCHMARK_CAPTURE(RunScript, recursion, kRecursion);
BENCHMARK_CAPTURE(RunScript, arithmetic, kArithmetic);
BENCHMARK_CAPTURE(RunScript, tables, kTables);
BENCHMARK_CAPTURE(RunScript, strings, kStrings);
BENCHMARK_CAPTURE(RunScript, classes_metamethods, kClasses);
BENCHMARK_CAPTURE(RunScript, sort_map_filter_reduce, kSort);
BENCHMARK_CAPTURE(RunScript, generators_threads_closures_gc, kGenerators);
