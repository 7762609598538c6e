// Compiled closures to and from a byte stream (sq_writeclosure / sq_readclosure).
//
// Layout: tag 0xFAFA (16 bits), then the sizes of SQChar, SQInteger and SQFloat (32 bits each),
// then the main prototype. A prototype is written field by field; strings are a 32-bit length
// followed by UTF-16 units; counts are 32-bit. Everything is little-endian as on the host.
#include <cstring>
#include <memory>
#include <vector>

#include "runtime.h"

namespace bsq {
namespace {

constexpr uint32_t kPart = 0x50415254;  // "PART": guards each prototype
constexpr uint32_t kTail = 0x5441494C;  // "TAIL": end of stream

struct Writer {
  SQWRITEFUNC fn;
  SQUserPointer up;
  bool ok = true;
  void Bytes(const void* p, size_t n) {
    if (ok && n && fn(up, const_cast<void*>(p), SQInteger(n)) != SQInteger(n)) ok = false;
  }
  void U32(uint32_t v) { Bytes(&v, 4); }
  void I32(int32_t v) { Bytes(&v, 4); }
  void Str(const std::u16string& s) {
    U32(uint32_t(s.size()));
    Bytes(s.data(), s.size() * sizeof(char16_t));
  }
};

struct Reader {
  SQREADFUNC fn;
  SQUserPointer up;
  bool ok = true;
  void Bytes(void* p, size_t n) {
    if (ok && n && fn(up, p, SQInteger(n)) != SQInteger(n)) ok = false;
    if (!ok && n) std::memset(p, 0, n);  // an empty field may have no storage at all
  }
  uint32_t U32() {
    uint32_t v = 0;
    Bytes(&v, 4);
    return v;
  }
  int32_t I32() {
    int32_t v = 0;
    Bytes(&v, 4);
    return v;
  }
  // Counts are bounded so that a damaged stream cannot ask for absurd allocations.
  uint32_t Count(uint32_t limit = 1u << 24) {
    uint32_t n = U32();
    if (n > limit) ok = false;
    return ok ? n : 0;
  }
  // Storage grows with what the stream has delivered, never ahead of it by more than a chunk: a count near the
  // bound in a short stream fails at its end instead of first allocating what the count asks for.
  static constexpr uint32_t kChunk = 4096;
  std::u16string Str() {
    std::u16string s;
    for (uint32_t left = Count(); ok && left > 0;) {
      const uint32_t n = left < kChunk ? left : kChunk;
      s.resize(s.size() + n);
      Bytes(s.data() + s.size() - n, n * sizeof(char16_t));
      left -= n;
    }
    return ok ? s : std::u16string();
  }
  // count elements read one by one by read(element), stopping at the first failure.
  template <class T, class F>
  void List(std::vector<T>& out, F read) {
    const uint32_t count = Count();
    out.clear();
    for (uint32_t i = 0; ok && i < count; ++i) read(out.emplace_back());
  }
};

void WriteProto(Writer& w, const sq::CompiledFunction& p) {
  w.U32(kPart);
  w.Str(p.name);
  w.Str(p.sourceName);
  w.U32(uint32_t(p.code.size()));
  w.Bytes(p.code.data(), p.code.size() * sizeof(sq::Instruction));
  w.U32(uint32_t(p.constants.size()));
  for (const sq::Constant& c : p.constants) {
    w.U32(c.kind);
    if (c.kind == sq::Constant::Float) w.Bytes(&c.f, 4);
    else if (c.kind == sq::Constant::String) w.Str(c.s);
    else w.I32(c.i);
  }
  w.U32(uint32_t(p.outers.size()));
  for (const sq::OuterInfo& o : p.outers) {
    w.Str(o.name);
    w.U32(o.fromLocal ? 1 : 0);
    w.U32(o.index);
  }
  w.U32(uint32_t(p.locals.size()));
  for (const sq::LocalInfo& l : p.locals) {
    w.Str(l.name);
    w.U32(l.slot);
    w.U32(l.startPc);
    w.U32(l.endPc);
  }
  w.U32(uint32_t(p.lines.size()));
  for (const sq::LineInfo& l : p.lines) {
    w.U32(l.pc);
    w.I32(l.line);
  }
  w.U32(uint32_t(p.paramNames.size()));
  for (const std::u16string& n : p.paramNames) w.Str(n);
  w.U32(p.nparams);
  w.U32(p.ndefaults);
  w.U32((p.varargs ? 1 : 0) | (p.generator ? 2 : 0));
  w.U32(p.stackSize);
  w.I32(p.firstLine);
  w.U32(uint32_t(p.functions.size()));
  for (const auto& f : p.functions) WriteProto(w, *f);
}

std::shared_ptr<sq::CompiledFunction> ReadProto(Reader& r, int depth) {
  if (depth > 200 || r.U32() != kPart) {
    r.ok = false;
    return nullptr;
  }
  auto p = std::make_shared<sq::CompiledFunction>();
  p->name = r.Str();
  p->sourceName = r.Str();
  for (uint32_t left = r.Count(); r.ok && left > 0;) {
    const uint32_t n = left < Reader::kChunk ? left : Reader::kChunk;
    p->code.resize(p->code.size() + n);
    r.Bytes(p->code.data() + p->code.size() - n, n * sizeof(sq::Instruction));
    left -= n;
  }
  r.List(p->constants, [&](sq::Constant& c) {
    uint32_t kind = r.U32();
    if (kind > sq::Constant::String) r.ok = false;
    c.kind = sq::Constant::Kind(kind);
    if (c.kind == sq::Constant::Float) r.Bytes(&c.f, 4);
    else if (c.kind == sq::Constant::String) c.s = r.Str();
    else c.i = r.I32();
  });
  r.List(p->outers, [&](sq::OuterInfo& o) {
    o.name = r.Str();
    o.fromLocal = r.U32() != 0;
    o.index = r.U32();
  });
  r.List(p->locals, [&](sq::LocalInfo& l) {
    l.name = r.Str();
    l.slot = r.U32();
    l.startPc = r.U32();
    l.endPc = r.U32();
  });
  r.List(p->lines, [&](sq::LineInfo& l) {
    l.pc = r.U32();
    l.line = r.I32();
  });
  r.List(p->paramNames, [&](std::u16string& n) { n = r.Str(); });
  p->nparams = r.U32();
  p->ndefaults = r.U32();
  uint32_t flags = r.U32();
  p->varargs = (flags & 1) != 0;
  p->generator = (flags & 2) != 0;
  p->stackSize = r.U32();
  p->firstLine = r.I32();
  r.List(p->functions, [&](std::shared_ptr<sq::CompiledFunction>& f) { f = ReadProto(r, depth + 1); });
  if (!r.ok) return nullptr;
  // Every operand that indexes a table of the prototype must stay inside it.
  for (const sq::Instruction& ins : p->code) {
    if (ins.op >= sq::OP_COUNT) r.ok = false;
    switch (ins.op) {
      case sq::OP_LOADK:
      case sq::OP_GETK:
      case sq::OP_PREPCALLK:
      case sq::OP_GETENV:
      case sq::OP_SETENV:
        if (ins.a < 0 || size_t(ins.a) >= p->constants.size()) r.ok = false;
        break;
      case sq::OP_CLOSURE:
        if (ins.a < 0 || size_t(ins.a) >= p->functions.size()) r.ok = false;
        break;
      case sq::OP_LOADLOCAL:
      case sq::OP_STORELOCAL:
      case sq::OP_INCLOCAL:
        if (ins.a < 0 || uint32_t(ins.a) >= p->stackSize) r.ok = false;
        break;
      case sq::OP_FOREACH:
        if (uint32_t(ins.c) + 3 >= p->stackSize) r.ok = false;
        break;
      case sq::OP_LOADOUTER:
      case sq::OP_STOREOUTER:
        if (ins.a < 0 || size_t(ins.a) >= p->outers.size()) r.ok = false;
        break;
      case sq::OP_JMP:
      case sq::OP_JMPF:
      case sq::OP_JMPT:
      case sq::OP_ANDJ:
      case sq::OP_ORJ:
      case sq::OP_PUSHTRAP: {
        int64_t target = int64_t(&ins - p->code.data()) + 1 + ins.a;
        if (target < 0 || target >= int64_t(p->code.size())) r.ok = false;
        break;
      }
      default: break;
    }
  }
  if (p->ndefaults > p->nparams || p->nparams == 0) r.ok = false;
  return r.ok ? p : nullptr;
}

}  // namespace
}  // namespace bsq

using namespace bsq;

SQRESULT sq_writeclosure(HSQUIRRELVM v, SQWRITEFUNC writef, SQUserPointer up) {
  const Value& top = v->At(-1);
  if (top.type != OT_CLOSURE) return sq_throwerror(v, u"the object is not a closure");
  Closure* c = top.closure();
  if (!c->outers.empty()) return sq_throwerror(v, u"a closure with free variables bound cannot be serialized");
  Writer w{writef, up};
  uint16_t tag = SQ_BYTECODE_STREAM_TAG;
  w.Bytes(&tag, 2);
  w.U32(sizeof(SQChar));
  w.U32(sizeof(SQInteger));
  w.U32(sizeof(SQFloat));
  WriteProto(w, *c->fp()->code);
  w.U32(kTail);
  if (!w.ok) return sq_throwerror(v, u"io error");
  return SQ_OK;
}

SQRESULT sq_readclosure(HSQUIRRELVM v, SQREADFUNC readf, SQUserPointer up) {
  Reader r{readf, up};
  uint16_t tag = 0;
  r.Bytes(&tag, 2);
  if (!r.ok || tag != SQ_BYTECODE_STREAM_TAG) return sq_throwerror(v, u"invalid stream");
  if (r.U32() != sizeof(SQChar) || r.U32() != sizeof(SQInteger) || r.U32() != sizeof(SQFloat))
    return sq_throwerror(v, u"the stream was written by a differently configured runtime");
  std::shared_ptr<sq::CompiledFunction> proto = ReadProto(r, 0);
  if (!proto || r.U32() != kTail || !r.ok) return sq_throwerror(v, u"invalid stream");
  Closure* c = Closure::Make(v->ss, WrapProto(v->ss, proto), 0);
  Value cv(c);
  if (v->roottable.type == OT_TABLE) c->root = NewWeakRef(v->ss, v->roottable);
  v->Push(std::move(cv));
  return SQ_OK;
}
