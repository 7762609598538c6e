// Standard-library throughput: the regexp matcher on its own and through scripts, format, blob I/O.
// links: squirrel
#include <benchmark/benchmark.h>
#include <squirrel.h>
#include <sqstdblob.h>
#include <sqstdmath.h>
#include <sqstdstring.h>
#include <sqstdsystem.h>

#include <string>

namespace {

std::u16string Text(size_t lines) {
  std::u16string t;
  for (size_t i = 0; i < lines; ++i) {
    t += u"line ";
    t += char16_t(u'0' + i % 10);
    t += u" alpha beta gamma user" + std::u16string(1, char16_t(u'a' + i % 26)) + u"@example.org done\n";
  }
  return t;
}

void BM_RexSearchAll(benchmark::State& state, const char16_t* pattern) {
  const SQChar* error = nullptr;
  SQRex* rex = sqstd_rex_compile(pattern, &error);
  if (!rex) {
    state.SkipWithError("pattern failed to compile");
    return;
  }
  std::u16string text = Text(size_t(state.range(0)));
  for (auto _ : state) {
    const SQChar* p = text.data();
    const SQChar* end = text.data() + text.size();
    const SQChar* b;
    const SQChar* e;
    int found = 0;
    while (p < end && sqstd_rex_searchrange(rex, p, end, &b, &e)) {
      ++found;
      p = e > b ? e : b + 1;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size() * sizeof(SQChar)));
  sqstd_rex_free(rex);
}
BENCHMARK_CAPTURE(BM_RexSearchAll, literal, u"gamma")->Arg(200);
BENCHMARK_CAPTURE(BM_RexSearchAll, email, u"(\\w+)@(\\w+)\\.(com|org)")->Arg(200);
BENCHMARK_CAPTURE(BM_RexSearchAll, alternation_closure, u"(a|b|c|d)+e?")->Arg(200);

void BM_RexMatchBlowUp(benchmark::State& state) {
  SQRex* rex = sqstd_rex_compile(u"(a*)*b", nullptr);
  std::u16string text(size_t(state.range(0)), u'a');
  for (auto _ : state) benchmark::DoNotOptimize(sqstd_rex_match(rex, text.c_str()));
  sqstd_rex_free(rex);
}
BENCHMARK(BM_RexMatchBlowUp)->Arg(64)->Arg(1024);

void RunScript(benchmark::State& state, const char16_t* code) {
  HSQUIRRELVM v = sq_open(1024);
  sq_pushroottable(v);
  sqstd_register_bloblib(v);
  sqstd_register_mathlib(v);
  sqstd_register_stringlib(v);
  sqstd_register_systemlib(v);
  sq_pop(v, 1);
  std::u16string source = code;
  if (SQ_FAILED(sq_compilebuffer(v, source.c_str(), SQInteger(source.size()), u"bench", SQTrue))) {
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
    SQInteger checksum = 0;
    sq_getinteger(v, -1, &checksum);
    benchmark::DoNotOptimize(checksum);
    sq_pop(v, 2);
  }
  sq_close(v);
}

void BM_ScriptFormat(benchmark::State& state) {
  RunScript(state, u"local n = 0; for (local i = 0; i < 1000; ++i) n += format(\"%s=%05d %.3f %x\", \"key\", i, i * 0.5, i).len(); return n;");
}
BENCHMARK(BM_ScriptFormat);

void BM_ScriptBlobWriteRead(benchmark::State& state) {
  RunScript(state, u"local b = blob(); for (local i = 0; i < 1000; ++i) { b.writen(i, 'i'); b.writen(i, 'w'); }"
                   u" b.seek(0); local s = 0; while (!b.eos()) { s += b.readn('i') + b.readn('w'); } return s;");
}
BENCHMARK(BM_ScriptBlobWriteRead);

void BM_ScriptRegexpCapture(benchmark::State& state) {
  RunScript(state, u"local r = regexp(@\"(\\w+)=(\\d+)\"); local n = 0;"
                   u" for (local i = 0; i < 500; ++i) n += r.capture(\"config: width=\" + i + \";\")[2].end; return n;");
}
BENCHMARK(BM_ScriptRegexpCapture);

void BM_ScriptSplitStrip(benchmark::State& state) {
  RunScript(state, u"local n = 0; for (local i = 0; i < 500; ++i) foreach (p in split(\" a, b ,c,  d \" + i, \",\")) n += strip(p).len(); return n;");
}
BENCHMARK(BM_ScriptSplitStrip);

}  // namespace
