// One-pass compiler: recursive descent straight to stack-machine code (opcodes.h).
//
// The compiler tracks the stack height of every point it emits code for, so each local is a fixed slot and
// block exits, break/continue and traps know exactly how much to pop. Expressions that may be assigned to,
// incremented or called are kept unloaded (an Exp names where the value lives) until the operator that
// follows decides how to load or store them. Constants and enumerations are folded at compile time from the
// VM's const table, which `const`/`enum` declarations also fill. Code that the source writes before its
// evaluation point (for-loop increments, bound environments, member attributes) is compiled detached and
// re-emitted where it runs.
//
// The parser is split by what it reads: compiler_expressions.cpp and compiler_statements.cpp; the class and
// the helpers every part emits through are in compiler_state.h.
#include "compiler.h"

#include <bit>
#include <optional>
#include <utility>
#include <vector>

#include "compiler_state.h"

namespace sq {

namespace compiler_detail {

namespace {

ConstKey KeyOf(const Constant& c) {
  switch (c.kind) {
    case Constant::Integer:
    case Constant::Bool: {
      uint32_t u = uint32_t(c.i);
      return {c.kind, std::u16string{char16_t(u & 0xFFFF), char16_t(u >> 16)}};
    }
    case Constant::Float: {
      uint32_t u = std::bit_cast<uint32_t>(c.f);
      return {c.kind, std::u16string{char16_t(u & 0xFFFF), char16_t(u >> 16)}};
    }
    case Constant::String:
      return {c.kind, c.s};
    default:
      return {c.kind, std::u16string()};
  }
}

}  // namespace

std::shared_ptr<CompiledFunction> Compiler::Compile() {
  FuncState fs;
  OpenFunction(fs, u"main");
  fs.proto->varargs = true;
  fs.proto->firstLine = 1;
  DeclareParam(fs, u"this");
  fs.proto->nparams = 1;
  fs.proto->paramNames.push_back(u"this");
  DeclareParam(fs, u"vargv");
  Lex();
  while (tok_ != TK_EOF) StatementWithTerminator();
  Emit(OP_LOADNULL);
  Emit(OP_RETURN);
  return CloseFunction(fs);
}

// ------------------------------------------------------------------------------------------------
// tokens

std::u16string Compiler::ExpectIdentifier() {
  if (tok_ != TK_IDENTIFIER) Error(u"expected 'IDENTIFIER'");
  std::u16string name = lex_.text();
  Lex();
  return name;
}

bool Compiler::IsEndOfStatement() const {
  // inside a switch the next label also ends a statement
  return lex_.newlineBefore() || tok_ == TK_EOF || tok_ == u'}' || tok_ == u';' || tok_ == TK_CASE ||
         tok_ == TK_DEFAULT;
}

void Compiler::OptionalSemicolon() {
  if (tok_ == u';') {
    Lex();
    return;
  }
  if (!IsEndOfStatement()) Error(u"end of statement expected (; or lf)");
}

// ------------------------------------------------------------------------------------------------
// function states, emission

void Compiler::OpenFunction(FuncState& fs, const std::u16string& name) {
  fs.parent = fs_;
  fs.proto = std::make_shared<CompiledFunction>();
  fs.proto->name = name;
  fs.proto->sourceName = sourceName_;
  fs_ = &fs;
}

std::shared_ptr<CompiledFunction> Compiler::CloseFunction(FuncState& fs) {
  uint32_t end = uint32_t(fs.proto->code.size());
  for (const LocalVar& lv : fs.locals) fs.proto->locals[lv.infoIndex].endPc = end;
  fs_ = fs.parent;
  return fs.proto;
}

int32_t Compiler::AddConstant(const Constant& v) {
  ConstKey key = KeyOf(v);
  auto it = fs_->constIndex.find(key);
  if (it != fs_->constIndex.end()) return it->second;
  int32_t idx = int32_t(P().constants.size());
  P().constants.push_back(v);
  fs_->constIndex[key] = idx;
  return idx;
}

void Compiler::EmitConstant(const Constant& v) {
  switch (v.kind) {
    case Constant::Null:
      Emit(OP_LOADNULL);
      break;
    case Constant::Bool:
      Emit(OP_LOADBOOL, v.i ? 1 : 0);
      break;
    case Constant::Integer:
      Emit(OP_LOADINT, v.i);
      break;
    case Constant::Float:
      Emit(OP_LOADFLOAT, std::bit_cast<int32_t>(v.f));
      break;
    default:
      Emit(OP_LOADK, AddConstant(v));
      break;
  }
}

void Compiler::Reattach(const CodeSpan& span) {
  CompiledFunction& p = P();
  if (fs_->lastLine < 0 && !span.code.empty()) {
    p.lines.push_back(LineInfo{uint32_t(p.code.size()), prevLine_});
    fs_->lastLine = prevLine_;
  }
  for (const Instruction& ins : span.code) p.code.push_back(ins);
  p.stackSize = std::max(p.stackSize, uint32_t(fs_->depth + span.peak));
  Adjust(1);
}

// ---- compile-time constants: this compilation's own, then the VM's const table ----

Value Compiler::VmString(const std::u16string& s) {
  return Value(bsq::String::Make(ss_, s.data(), SQInteger(s.size())));
}

std::optional<Constant> Compiler::ToConstant(const Value& v) {
  switch (v.type) {
    case OT_NULL:
      return Constant::MakeNull();
    case OT_BOOL:
      return Constant::MakeBool(v.v.nInteger != 0);
    case OT_INTEGER:
      return Constant::MakeInt(v.v.nInteger);
    case OT_FLOAT:
      return Constant::MakeFloat(v.v.fFloat);
    case OT_STRING:
      return Constant::MakeString(std::u16string(v.str()->chars(), size_t(v.str()->len)));
    default:
      return std::nullopt;
  }
}

Value Compiler::ToValue(const Constant& c) {
  switch (c.kind) {
    case Constant::Bool:
      return Value::Bool(c.i != 0);
    case Constant::Integer:
      return Value::Integer(c.i);
    case Constant::Float:
      return Value::Float(c.f);
    case Constant::String:
      return VmString(c.s);
    default:
      return Value();
  }
}

// What `name` is bound to among the constants; scalar values come back in *out.
Compiler::ConstKind Compiler::LookupConst(const std::u16string& name, Constant* out) {
  auto it = consts_.find(name);
  if (it != consts_.end()) {
    *out = it->second;
    return ConstKind::Scalar;
  }
  if (enums_.count(name)) return ConstKind::Enum;
  if (!vm_) return ConstKind::None;
  bsq::Table* consts = bsq::ConstTableOf(vm_);
  Value v;
  if (!consts || !bsq::TableGet(consts, VmString(name), v)) return ConstKind::None;
  if (auto c = ToConstant(v)) {
    *out = *c;
    return ConstKind::Scalar;
  }
  return v.type == OT_TABLE ? ConstKind::Enum : ConstKind::Other;
}

// Member of an enumeration: a scalar (true), or a value only the const table holds (false, *runtime set).
bool Compiler::LookupEnumMember(const std::u16string& name, const std::u16string& member, Constant* out,
                                bool* runtime) {
  *runtime = false;
  auto it = enums_.find(name);
  if (it != enums_.end()) {
    auto m = it->second.find(member);
    if (m == it->second.end()) return false;
    *out = m->second;
    return true;
  }
  if (!vm_) return false;
  bsq::Table* consts = bsq::ConstTableOf(vm_);
  Value t, v;
  if (!consts || !bsq::TableGet(consts, VmString(name), t) || t.type != OT_TABLE) return false;
  if (!bsq::TableGet(t.table(), VmString(member), v)) return false;
  if (auto c = ToConstant(v)) {
    *out = *c;
    return true;
  }
  *runtime = true;
  return true;
}

// ------------------------------------------------------------------------------------------------
// locals and scopes

void Compiler::DeclareParam(FuncState& fs, const std::u16string& name) {
  fs.depth++;
  if (fs.depth > int32_t(fs.proto->stackSize)) fs.proto->stackSize = uint32_t(fs.depth);
  fs.proto->locals.push_back(LocalInfo{name, uint32_t(fs.depth - 1), 0, 0});
  fs.locals.push_back(LocalVar{name, uint32_t(fs.depth - 1), fs.proto->locals.size() - 1});
}

// The value on top of the stack becomes local `name`.
void Compiler::DeclareLocal(const std::u16string& name) {
  CompiledFunction& p = P();
  uint32_t slot = uint32_t(fs_->depth - 1);
  p.locals.push_back(LocalInfo{name, slot, uint32_t(p.code.size()), 0});
  fs_->locals.push_back(LocalVar{name, slot, p.locals.size() - 1});
}

void Compiler::EndScope(size_t saved) {
  size_t n = fs_->locals.size() - saved;
  if (n == 0) return;
  Emit(OP_POP, int32_t(n));
  uint32_t end = uint32_t(Pc());
  for (size_t i = saved; i < fs_->locals.size(); ++i) P().locals[fs_->locals[i].infoIndex].endPc = end;
  fs_->locals.resize(saved);
}

int32_t Compiler::FindLocal(const FuncState& fs, const std::u16string& name) {
  for (size_t i = fs.locals.size(); i-- > 0;)
    if (fs.locals[i].name == name) return int32_t(fs.locals[i].slot);
  return -1;
}

// Index of the outer cell for `name` in fs, creating the chain through enclosing functions.
int32_t Compiler::FindOuter(FuncState& fs, const std::u16string& name) {
  std::vector<OuterInfo>& outers = fs.proto->outers;
  for (size_t i = 0; i < outers.size(); ++i)
    if (outers[i].name == name) return int32_t(i);
  if (!fs.parent) return -1;
  int32_t slot = FindLocal(*fs.parent, name);
  if (slot >= 0) {
    outers.push_back(OuterInfo{name, true, uint32_t(slot)});
    return int32_t(outers.size() - 1);
  }
  int32_t up = FindOuter(*fs.parent, name);
  if (up < 0) return -1;
  outers.push_back(OuterInfo{name, false, uint32_t(up)});
  return int32_t(outers.size() - 1);
}

}  // namespace compiler_detail

std::shared_ptr<CompiledFunction> CompileSource(HSQUIRRELVM v, const std::u16string& source,
                                                const std::u16string& sourceName, CompileError* error) {
  try {
    compiler_detail::Compiler c(v, source, sourceName);
    return c.Compile();
  } catch (const compiler_detail::CompileFailure& f) {
    if (error) *error = CompileError{f.message, f.line, f.column};
  } catch (const LexError& f) {
    if (error) *error = CompileError{f.text, f.line, f.column};
  }
  return nullptr;
}

bool CompileScript(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer up, const SQChar* sourcename, SQBool raiseerror,
                   SQBool /*lineinfo*/, std::shared_ptr<CompiledFunction>* out) {
  std::u16string source;
  for (;;) {
    SQInteger c = read(up);
    if (c == 0) break;
    uint32_t u = uint32_t(c);
    if (u > 0xFFFF && u <= 0x10FFFF) {  // a reader handing out code points: keep them as UTF-16
      u -= 0x10000;
      source.push_back(char16_t(0xD800 + (u >> 10)));
      source.push_back(char16_t(0xDC00 + (u & 0x3FF)));
    } else {
      source.push_back(char16_t(u));
    }
  }
  std::u16string name = sourcename ? std::u16string(sourcename) : std::u16string(u"unnamedbuffer");
  CompileError err;
  std::shared_ptr<CompiledFunction> proto = CompileSource(v, source, name, &err);
  if (!proto) {
    bsq::ReportCompileError(v, err.message.c_str(), name.c_str(), err.line, err.column, raiseerror != 0);
    return false;
  }
  if (out) *out = std::move(proto);
  return true;
}

}  // namespace sq
