// The script host's whole pattern, end to end: a registered class hierarchy, two environments on their own threads
// with their own root and constant tables, a closure crossing between them, and errors printed with a stack dump.
#include <gtest/gtest.h>
#include <squirrel.h>

#include <platform/text.h>

#include <cstdarg>
#include <string>
#include <vector>

namespace {

std::string U8(const std::u16string& s) { return text::Utf16ToUtf8(s); }

// True when s is prefix + something non-empty + suffix.
bool Framed(const std::u16string& s, const std::u16string& prefix, const std::u16string& suffix) {
  return s.size() > prefix.size() + suffix.size() && s.compare(0, prefix.size(), prefix) == 0 &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct Host;

// One script class's record; its address is the class's type tag.
struct Binding {
  HSQOBJECT cls;
};

struct NativeVec {
  float c[2] = {0, 0};
  int dims = 1;
};

struct Host {
  HSQUIRRELVM vm = nullptr;
  Binding vec1, vec2, texture;
  HSQOBJECT shared, engine;
  int liveObjects = 0;
  std::u16string out, err;
  std::vector<struct Env*> running;
};

Host* HostOf(HSQUIRRELVM v) { return static_cast<Host*>(sq_getforeignptr(v)); }

void HostPrint(HSQUIRRELVM v, const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  HostOf(v)->out += text::FormatStringV(fmt, args);
  va_end(args);
}
void HostErr(Host* h, const char16_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  h->err += text::FormatStringV(fmt, args);
  va_end(args);
}

void HostCompileError(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
  HostErr(HostOf(v), u"sqvm: '%s' (Ln:%d Col:%d) : %s.\n", source, int(line), int(column), desc);
}

SQInteger HostRuntimeError(HSQUIRRELVM v) {
  if (sq_gettop(v) < 1) return 0;
  Host* h = HostOf(v);
  const SQChar* msg = nullptr;
  if (sq_gettop(v) >= 2 && SQ_SUCCEEDED(sq_getstring(v, 2, &msg))) HostErr(h, u"sqvm: %s.\n", msg);
  HostErr(h, u"Stack Dump:\n");
  SQStackInfos si;
  for (SQInteger level = 1; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); ++level) {
    HostErr(h, u"[%d]: function [%s()] %s line [%d]\n", int(level), si.funcname ? si.funcname : u"unknown_function",
            si.source ? si.source : u"unknown_source_file", int(si.line));
  }
  return 0;
}

// Registration helpers in the host's manner: the target table or class is on the stack top.
void RegisterTable(HSQUIRRELVM v, const SQChar* name) {
  sq_pushstring(v, name, -1);
  sq_newtable(v);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, name, -1);
  sq_get(v, -2);
}
void RegisterFunction(HSQUIRRELVM v, const SQChar* name, SQFUNCTION f, SQInteger check, const SQChar* mask) {
  SQInteger top = sq_gettop(v);
  sq_pushstring(v, name, -1);
  sq_newclosure(v, f, 0);
  if (check != 0 || mask) {
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setparamscheck(v, check, mask)));
  }
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setnativeclosurename(v, -1, name)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
  ASSERT_EQ(sq_gettop(v), top);
}
// Leaves the class on the stack top; a base class, when asked, is taken from the stack top.
void RegisterClass(HSQUIRRELVM v, const SQChar* name, bool hasBase) {
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newclass(v, hasBase ? SQTrue : SQFalse)));
  sq_pushstring(v, name, -1);
  sq_push(v, -2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -4, SQFalse)));
}

SQInteger RefuseInherit(HSQUIRRELVM v) { return sq_throwerror(v, u"this class cannot be inherited"); }
SQInteger RefuseClone(HSQUIRRELVM v) { return sq_throwerror(v, u"instances of this class cannot be cloned"); }

void Bind(HSQUIRRELVM v, Binding& b, bool clonable) {
  sq_getstackobj(v, -1, &b.cls);
  sq_addref(v, &b.cls);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_settypetag(v, -1, &b)));
  RegisterFunction(v, u"_inherited", RefuseInherit, 0, nullptr);
  if (!clonable) RegisterFunction(v, u"_cloned", RefuseClone, 0, nullptr);
}

// The instance check of the bindings: null passes as no object, other values must be instances
// whose class or a base class carries the binding's tag.
SQRESULT GetInstance(Binding* b, HSQUIRRELVM v, SQInteger idx, NativeVec** out) {
  if (sq_gettype(v, idx) == OT_NULL) {
    *out = nullptr;
    return SQ_OK;
  }
  SQUserPointer p = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, idx, &p, b, SQTrue))) return SQ_ERROR;
  *out = static_cast<NativeVec*>(p);
  return SQ_OK;
}

SQInteger ReleaseVec(SQUserPointer p, SQInteger) {
  NativeVec* n = static_cast<NativeVec*>(p);
  delete n;
  return 1;
}

int g_liveVecs;

void AttachVec(HSQUIRRELVM v, NativeVec* n) {
  ++g_liveVecs;
  sq_setinstanceup(v, 1, n);
  sq_setreleasehook(v, 1, [](SQUserPointer p, SQInteger size) -> SQInteger {
    --g_liveVecs;
    return ReleaseVec(p, size);
  });
}

SQInteger VecConstructor(HSQUIRRELVM v) {
  NativeVec* n = new NativeVec;
  for (SQInteger i = 2; i <= sq_gettop(v) && i <= 3; ++i) sq_getfloat(v, i, &n->c[i - 2]);
  n->dims = sq_gettop(v) - 1;
  AttachVec(v, n);
  return 0;
}

// A clone gets a native value of its own: the user pointer is not shared.
SQInteger VecCloned(HSQUIRRELVM v) {
  NativeVec* src = nullptr;
  if (SQ_FAILED(GetInstance(&HostOf(v)->vec1, v, 2, &src))) return SQ_ERROR;
  AttachVec(v, new NativeVec(*src));
  return 0;
}

SQInteger VecSum(HSQUIRRELVM v) {
  NativeVec* n = nullptr;
  if (SQ_FAILED(GetInstance(&HostOf(v)->vec1, v, 1, &n))) return SQ_ERROR;
  sq_pushfloat(v, n->c[0] + n->c[1]);
  return 1;
}

// Asks for a two-component vector: a one-component vector does not pass.
SQInteger VecDot2(HSQUIRRELVM v) {
  NativeVec *a = nullptr, *b = nullptr;
  if (SQ_FAILED(GetInstance(&HostOf(v)->vec2, v, 1, &a))) return SQ_ERROR;
  if (SQ_FAILED(GetInstance(&HostOf(v)->vec2, v, 2, &b))) return SQ_ERROR;
  if (!b) return sq_throwerror(v, u"no vector");
  sq_pushfloat(v, a->c[0] * b->c[0] + a->c[1] * b->c[1]);
  return 1;
}

SQInteger TextureConstructor(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, 2, &name);
  sq_setinstanceup(v, 1, nullptr);
  return 0;
}

struct Env;
bool CallHandler(Env* e, HSQOBJECT closure);

// A native that calls into another environment while a script of this one runs.
SQInteger CallOther(HSQUIRRELVM v);

struct Env {
  Host* host;
  std::u16string name;
  HSQUIRRELVM thread = nullptr;
  HSQOBJECT heldThread, constTable, rootTable;

  Env(Host* h, const std::u16string& n) : host(h), name(n) {
    HSQUIRRELVM hv = h->vm;
    thread = sq_newthread(hv, 1024);
    sq_setforeignptr(thread, h);
    sq_getstackobj(hv, -1, &heldThread);
    sq_addref(hv, &heldThread);
    sq_poptop(hv);
    // A root table of its own with the names it may see, copied from the host's root.
    sq_pushroottable(thread);
    sq_newtable(thread);
    for (const SQChar* copied : {u"print", u"error", u"getroottable", u"setconsttable", u"getconsttable", u"newthread",
                                 u"type", u"Engine", u"Shared"}) {
      sq_pushstring(thread, copied, -1);
      sq_pushstring(thread, copied, -1);
      EXPECT_TRUE(SQ_SUCCEEDED(sq_get(thread, -4))) << U8(copied);
      EXPECT_TRUE(SQ_SUCCEEDED(sq_newslot(thread, -3, SQFalse)));
    }
    sq_remove(thread, -2);
    sq_getstackobj(thread, -1, &rootTable);
    sq_addref(thread, &rootTable);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_setroottable(thread)));
    EXPECT_EQ(sq_gettop(thread), 0);
    // Its constant table starts as a copy of the machine's current one.
    sq_pushconsttable(thread);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_clone(thread, -1)));
    sq_remove(thread, -2);
    sq_getstackobj(thread, -1, &constTable);
    sq_addref(thread, &constTable);
    sq_poptop(thread);
  }
  ~Env() {
    sq_release(host->vm, &constTable);
    sq_release(host->vm, &rootTable);
    sq_release(host->vm, &heldThread);
  }
  void Enter() {
    sq_pushconsttable(thread);  // stays on the thread's stack until Leave
    sq_pushobject(thread, constTable);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_setconsttable(thread)));
    host->running.push_back(this);
  }
  void Leave() {
    host->running.pop_back();
    sq_pushconsttable(thread);
    sq_release(host->vm, &constTable);
    sq_getstackobj(thread, -1, &constTable);
    sq_addref(thread, &constTable);
    sq_poptop(thread);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_setconsttable(thread)));
  }
  // Compiles and runs a script with the environment's root table as this.
  bool Run(const std::u16string& code, const SQChar* source) {
    SQInteger top = sq_gettop(thread);
    Enter();
    struct R {
      const std::u16string* s;
      size_t pos;
    } r{&code, 0};
    bool ok = false;
    SQLEXREADFUNC read = [](SQUserPointer p) -> SQInteger {
      R* rr = static_cast<R*>(p);
      return rr->pos < rr->s->size() ? SQInteger((*rr->s)[rr->pos++]) : 0;
    };
    if (SQ_SUCCEEDED(sq_compile(thread, read, &r, source, SQTrue))) {
      sq_pushroottable(thread);
      ok = SQ_SUCCEEDED(sq_call(thread, 1, SQFalse, SQTrue));
      sq_poptop(thread);
    }
    Leave();
    EXPECT_EQ(sq_gettop(thread), top) << "a run leaves the thread's stack as it found it";
    return ok;
  }
};

bool CallHandler(Env* e, HSQOBJECT closure) {
  e->Enter();
  sq_pushobject(e->thread, closure);
  sq_pushroottable(e->thread);
  bool ok = SQ_SUCCEEDED(sq_call(e->thread, 1, SQFalse, SQTrue));
  sq_poptop(e->thread);
  e->Leave();
  return ok;
}

Env* g_other;
SQInteger CallOther(HSQUIRRELVM v) {
  HSQOBJECT fn;
  sq_getstackobj(v, 2, &fn);
  sq_pushbool(v, CallHandler(g_other, fn) ? SQTrue : SQFalse);
  return 1;
}

class HostPattern : public ::testing::Test {
 protected:
  Host host;
  void SetUp() override {
    g_liveVecs = 0;
    HSQUIRRELVM v = host.vm = sq_open(1024);
    sq_setforeignptr(v, &host);
    sq_setprintfunc(v, HostPrint, HostPrint);
    sq_setcompilererrorhandler(v, HostCompileError);
    sq_newclosure(v, HostRuntimeError, 0);
    sq_seterrorhandler(v);

    sq_pushroottable(v);
    RegisterTable(v, u"Shared");
    sq_getstackobj(v, -1, &host.shared);
    sq_addref(v, &host.shared);
    sq_poptop(v);
    RegisterTable(v, u"Engine");
    sq_getstackobj(v, -1, &host.engine);
    sq_addref(v, &host.engine);
    RegisterFunction(v, u"CallOther", CallOther, 2, u".c");

    RegisterClass(v, u"Texture", false);
    RegisterFunction(v, u"constructor", TextureConstructor, SQ_MATCHTYPEMASKSTRING, u"xs");
    Bind(v, host.texture, false);
    sq_poptop(v);

    RegisterClass(v, u"Vector1D", false);
    RegisterFunction(v, u"constructor", VecConstructor, -1, u"xn");
    Bind(v, host.vec1, true);
    RegisterFunction(v, u"Sum", VecSum, SQ_MATCHTYPEMASKSTRING, u"x");
  RegisterFunction(v, u"_cloned", VecCloned, SQ_MATCHTYPEMASKSTRING, u"xx");
    // Vector1D stays on the stack as the base of Vector2D.
    RegisterClass(v, u"Vector2D", true);
    RegisterFunction(v, u"constructor", VecConstructor, -1, u"xnn");
    Bind(v, host.vec2, true);
    RegisterFunction(v, u"Dot2", VecDot2, SQ_MATCHTYPEMASKSTRING, u"xx|o");
    sq_pop(v, 3);  // Vector2D, Engine, root
    ASSERT_EQ(sq_gettop(v), 0);
  }
  void TearDown() override {
    for (Binding* b : {&host.vec1, &host.vec2, &host.texture}) sq_release(host.vm, &b->cls);
    sq_release(host.vm, &host.shared);
    sq_release(host.vm, &host.engine);
    sq_close(host.vm);
  }
};

TEST_F(HostPattern, TwoEnvironmentsShareOnlyWhatTheyShouldAndErrorsPrintAStackDump) {
  {
    Env a(&host, u"envA"), b(&host, u"envB");
    g_other = &a;

    // Environment A: a constant, a global, a closure handed out through Shared, vectors.
    ASSERT_TRUE(a.Run(u"const LIMIT = 5;\n"
                      u"who <- \"A\";\n"
                      u"Shared.whoA <- function() { return ::who + LIMIT; };\n"
                      u"local v2 = Engine.Vector2D(3, 4);\n"
                      u"local v1 = Engine.Vector1D(2);\n"
                      u"print(\"sum \" + v2.Sum() + \" \" + v1.Sum() + \" dot \" + v2.Dot2(v2) + \"\\n\");\n"
                      u"local copy = clone v2; print(\"clone \" + copy.Sum() + \"\\n\");\n"
                      u"try { v2.Dot2(v1); } catch (e) { print(\"A: \" + e + \"\\n\"); }\n"
                      u"try { v1.Dot2(v2); } catch (e) { print(\"B: \" + e + \"\\n\"); }\n"
                      u"try { v2.Sum.pcall({}); } catch (e) { print(\"C: \" + e + \"\\n\"); }\n"
                      u"try { Engine.Texture(1); } catch (e) { print(\"D: \" + e + \"\\n\"); }\n"
                      u"try { local t = Engine.Texture(\"x\"); local u = clone t; } catch (e) { print(\"E: \" + e + \"\\n\"); }\n"
                      u"try { class Mine extends Engine.Vector1D {} } catch (e) { print(\"F: \" + e + \"\\n\"); }\n"
                      u"try { class Mine2 extends Engine.Vector2D {} } catch (e) { print(\"G: \" + e + \"\\n\"); }\n",
                      u"envA"))
        << U8(host.err);
    EXPECT_EQ(host.out,
              u"sum 7 2 dot 25\n"
              u"clone 7\n"
              u"A: invalid type tag\n"
              u"B: the index 'Dot2' does not exist\n"
              u"C: parameter 0 has an invalid type 'table' ; expected: 'instance'\n"
              u"D: parameter 1 has an invalid type 'integer' ; expected: 'string'\n"
              u"E: instances of this class cannot be cloned\n"
              u"F: this class cannot be inherited\n"
              u"G: this class cannot be inherited\n");
    EXPECT_EQ(host.err, u"");
    EXPECT_EQ(g_liveVecs, 0) << "every vector was released when its instance went";
    host.out.clear();

    // Environment B: its own global of the same name; A's closure still sees A's root table and
    // keeps the constant it was compiled with; A's constant is not B's.
    ASSERT_TRUE(b.Run(u"who <- \"B\";\n"
                      u"print(Shared.whoA() + \" \" + who + \"\\n\");\n"
                      u"print((\"LIMIT\" in getroottable()) + \" \" + (\"LIMIT\" in getconsttable()) + \"\\n\");\n",
                      u"envB"))
        << U8(host.err);
    EXPECT_EQ(host.out, u"A5 B\nfalse false\n");
    host.out.clear();

    // A call from B into A while B's script runs: A's handler runs on A's thread with A's root.
    ASSERT_TRUE(b.Run(u"local ok = Engine.CallOther(function() { print(\"in \" + ::who + \" this \" + this.who + \"\\n\"); });\n"
                      u"print(\"back in \" + who + \" \" + ok + \"\\n\");\n",
                      u"envB"))
        << U8(host.err);
    EXPECT_EQ(host.out, u"in B this A\nback in B true\n") << "a closure keeps the root of where it was made";
    host.out.clear();

    // A handler that fails in the other environment is reported there; the caller goes on.
    ASSERT_TRUE(b.Run(u"local ok = Engine.CallOther(function() {\n  throw \"handler failed\";\n});\n"
                      u"print(\"after \" + ok + \"\\n\");\n",
                      u"envB"))
        << U8(host.err);
    EXPECT_EQ(host.out, u"after false\n");
    EXPECT_TRUE(Framed(host.err, u"sqvm: handler failed.\nStack Dump:\n[1]: function [", u"()] envB line [2]\n"))
        << U8(host.err);
    host.out.clear();
    host.err.clear();
    ASSERT_TRUE(a.Run(u"::hello <- function() { print(\"hello from \" + ::who + \" this \" + this.who + \"\\n\"); };", u"envA"));
    ASSERT_TRUE(b.Run(u"", u"envB"));
    {
      // A's closure called through B's native: A's root.
      HSQOBJECT fn;
      sq_pushobject(a.thread, a.rootTable);
      sq_pushstring(a.thread, u"hello", -1);
      ASSERT_TRUE(SQ_SUCCEEDED(sq_get(a.thread, -2)));
      sq_getstackobj(a.thread, -1, &fn);
      sq_addref(a.thread, &fn);
      sq_pop(a.thread, 2);
      g_other = &b;
      EXPECT_TRUE(CallHandler(&b, fn));
      sq_release(a.thread, &fn);
    }
    EXPECT_EQ(host.out, u"hello from A this B\n");
    host.out.clear();

    // An uncaught error in B: the runtime handler prints the message and the frames.
    EXPECT_FALSE(b.Run(u"function fails() {\n  return LIMIT;\n}\nfails();\n", u"envB"));
    // The name of the script's main function is not the host's business: any non-empty one does.
    EXPECT_TRUE(Framed(host.err,
                       u"sqvm: the index 'LIMIT' does not exist.\n"
                       u"Stack Dump:\n"
                       u"[1]: function [fails()] envB line [2]\n"
                       u"[2]: function [",
                       u"()] envB line [4]\n"))
        << U8(host.err);
    host.err.clear();

    // An error value that is not a string gives the stack dump alone.
    EXPECT_FALSE(b.Run(u"throw { code = 1 };", u"envB"));
    EXPECT_TRUE(Framed(host.err, u"Stack Dump:\n[1]: function [", u"()] envB line [1]\n")) << U8(host.err);
    host.err.clear();

    // getroottable() inside an environment is that environment's root table.
    ASSERT_TRUE(b.Run(u"print(getroottable().who + \"\\n\");", u"envB"));
    EXPECT_EQ(host.out, u"B\n");
    host.out.clear();

    // A compile error goes to the compiler error handler in the host's format, nothing runs.
    EXPECT_FALSE(a.Run(u"local x = ;", u"broken"));
    EXPECT_TRUE(Framed(host.err, u"sqvm: 'broken' (Ln:1 Col:", u".\n")) << U8(host.err);
    EXPECT_NE(host.err.find(u") : "), std::u16string::npos) << U8(host.err);
    host.err.clear();

    // Both environments stay usable and the machine's own constant table came back each time.
    ASSERT_TRUE(a.Run(u"print(LIMIT + \"\\n\");", u"envA"));
    EXPECT_EQ(host.out, u"5\n");
    sq_pushconsttable(host.vm);
    sq_pushstring(host.vm, u"LIMIT", -1);
    EXPECT_TRUE(SQ_FAILED(sq_get(host.vm, -2))) << "the host's constant table never saw A's constant";
    sq_settop(host.vm, 0);
  }
  EXPECT_EQ(g_liveVecs, 0);
}

}  // namespace
