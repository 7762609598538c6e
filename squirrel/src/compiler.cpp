// One-pass compiler: recursive descent straight to stack-machine code (opcodes.h).
//
// The compiler tracks the stack height of every point it emits code for, so each local is a fixed slot and
// block exits, break/continue and traps know exactly how much to pop. Expressions that may be assigned to,
// incremented or called are kept unloaded (an Exp names where the value lives) until the operator that
// follows decides how to load or store them. Constants and enumerations are folded at compile time from the
// VM's const table, which `const`/`enum` declarations also fill. Code that the source writes before its
// evaluation point (for-loop increments, bound environments, member attributes) is compiled detached and
// re-emitted where it runs.
#include "compiler.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "lexer.h"
#include "runtime.h"

namespace sq {

namespace {

using bsq::Value;

// Thrown to abandon compilation; the message and position travel in the object.
struct CompileFailure {
  std::u16string message;
  int32_t line;
  int32_t column;
};

// How an expression's value is reachable before it is loaded (lvalues stay unloaded so that an
// assignment, increment or call can use them).
enum ExpKind {
  E_VALUE,   // the value is on top of the stack
  E_LOCAL,   // local slot `index`
  E_OUTER,   // outer cell `index`
  E_ENV,     // implicit this/root lookup of constant `index`
  E_FIELD,   // object and key on the stack
  E_FIELDK,  // object on the stack, key is constant `index`
};

struct Exp {
  ExpKind kind = E_VALUE;
  int32_t index = 0;
  bool literal = false;   // a number literal just loaded (foldable by unary minus)
  bool isBase = false;    // the `base` keyword itself
  bool fromBase = false;  // a field read from `base`: calls keep the current `this`
};

struct LocalVar {
  std::u16string name;
  uint32_t slot;
  size_t infoIndex;
};

struct LoopContext {
  bool isSwitch = false;
  int32_t breakDepth = 0;
  int32_t continueDepth = 0;
  int32_t traps = 0;
  int32_t continueTarget = -1;  // known target (backward), or -1: patch `continues` later
  std::vector<size_t> breaks;
  std::vector<size_t> continues;
};

// Constant pool dedup key: kind plus payload (1 and 1.0 stay distinct).
using ConstKey = std::pair<int, std::u16string>;

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

struct FuncState {
  FuncState* parent = nullptr;
  std::shared_ptr<CompiledFunction> proto;
  std::vector<LocalVar> locals;
  int32_t depth = 0;
  int32_t traps = 0;
  int32_t lastLine = -1;
  std::vector<LoopContext> loops;
  std::map<ConstKey, int32_t> constIndex;
};

class Compiler {
 public:
  Compiler(HSQUIRRELVM v, const std::u16string& source, const std::u16string& sourceName)
      : vm_(v), ss_(v ? bsq::SharedOf(v) : nullptr), lex_(source), sourceName_(sourceName) {}

  std::shared_ptr<CompiledFunction> Compile() {
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

 private:
  // ------------------------------------------------------------------------------------------------
  // tokens

  void Lex() {
    prevTok_ = tok_;
    prevLine_ = lex_.line();
    tok_ = lex_.Next();
  }

  [[noreturn]] void Error(const std::u16string& msg) { throw CompileFailure{msg, lex_.line(), lex_.column()}; }

  void Expect(int32_t t) {
    if (tok_ != t) Error(u"expected '" + Lexer::TokenText(t) + u"'");
    Lex();
  }

  std::u16string ExpectIdentifier() {
    if (tok_ != TK_IDENTIFIER) Error(u"expected 'IDENTIFIER'");
    std::u16string name = lex_.text();
    Lex();
    return name;
  }

  bool IsEndOfStatement() const {
    // inside a switch the next label also ends a statement
    return lex_.newlineBefore() || tok_ == TK_EOF || tok_ == u'}' || tok_ == u';' || tok_ == TK_CASE ||
           tok_ == TK_DEFAULT;
  }

  void OptionalSemicolon() {
    if (tok_ == u';') {
      Lex();
      return;
    }
    if (!IsEndOfStatement()) Error(u"end of statement expected (; or lf)");
  }

  // ------------------------------------------------------------------------------------------------
  // function states, emission

  void OpenFunction(FuncState& fs, const std::u16string& name) {
    fs.parent = fs_;
    fs.proto = std::make_shared<CompiledFunction>();
    fs.proto->name = name;
    fs.proto->sourceName = sourceName_;
    fs_ = &fs;
  }

  std::shared_ptr<CompiledFunction> CloseFunction(FuncState& fs) {
    uint32_t end = uint32_t(fs.proto->code.size());
    for (const LocalVar& lv : fs.locals) fs.proto->locals[lv.infoIndex].endPc = end;
    fs_ = fs.parent;
    return fs.proto;
  }

  CompiledFunction& P() { return *fs_->proto; }
  int32_t Pc() const { return int32_t(fs_->proto->code.size()); }

  void Adjust(int32_t delta) {
    fs_->depth += delta;
    if (fs_->depth > int32_t(fs_->proto->stackSize)) fs_->proto->stackSize = uint32_t(fs_->depth);
  }

  static int32_t StackEffect(uint8_t op, int32_t a, uint8_t b) {
    switch (op) {
      case OP_LOADNULL:
      case OP_LOADBOOL:
      case OP_LOADINT:
      case OP_LOADFLOAT:
      case OP_LOADK:
      case OP_LOADROOT:
      case OP_LOADCONSTS:
      case OP_LOADLOCAL:
      case OP_LOADOUTER:
      case OP_LOADBASE:
      case OP_GETENV:
      case OP_PREPCALLK:
      case OP_DUP:
      case OP_INCLOCAL:
      case OP_NEWTABLE:
      case OP_NEWARRAY:
        return 1;
      case OP_DUP2:
        return 2;
      case OP_STORELOCAL:
      case OP_STOREOUTER:
      case OP_SETENV:
      case OP_GETK:
      case OP_PREPCALL:
      case OP_NEG:
      case OP_NOT:
      case OP_BNOT:
      case OP_TYPEOF:
      case OP_CLONE:
      case OP_RESUME:
      case OP_JMP:
      case OP_PUSHTRAP:
      case OP_POPTRAP:
      case OP_FOREACH:
        return 0;
      case OP_SET:
      case OP_NEWSLOT:
      case OP_TABLESLOT:
        return -2;
      case OP_CALL:
        return -a;
      case OP_POP:
        return -a;
      case OP_CLASS:
        return 1 - ((b & 1) ? 1 : 0) - ((b & 2) ? 1 : 0);
      case OP_NEWMEMBER:
        return -2 - ((b & 1) ? 1 : 0);
      default:
        return -1;  // binary operators, GET, DELETE, RETURN, YIELD, JMPF/T, ANDJ/ORJ,
                    // INCINDEX, APPEND, THROW
    }
  }

  size_t Emit(uint8_t op, int32_t a = 0, uint8_t b = 0, uint16_t c = 0) {
    return EmitWithEffect(op, a, b, c, StackEffect(op, a, b));
  }

  size_t EmitWithEffect(uint8_t op, int32_t a, uint8_t b, uint16_t c, int32_t effect) {
    CompiledFunction& p = P();
    int32_t line = prevLine_ > 0 ? prevLine_ : lex_.line();
    if (line != fs_->lastLine) {
      p.lines.push_back(LineInfo{uint32_t(p.code.size()), line});
      fs_->lastLine = line;
    }
    p.code.push_back(Instruction{op, b, c, a});
    Adjust(effect);
    return p.code.size() - 1;
  }

  // Jump from instruction `at` to the current end of code.
  void PatchHere(size_t at) { P().code[at].a = Pc() - int32_t(at) - 1; }
  void PatchTo(size_t at, int32_t target) { P().code[at].a = target - int32_t(at) - 1; }
  void EmitJumpBack(uint8_t op, int32_t target) {
    size_t at = Emit(op);
    PatchTo(at, target);
  }

  int32_t AddConstant(const Constant& v) {
    ConstKey key = KeyOf(v);
    auto it = fs_->constIndex.find(key);
    if (it != fs_->constIndex.end()) return it->second;
    int32_t idx = int32_t(P().constants.size());
    P().constants.push_back(v);
    fs_->constIndex[key] = idx;
    return idx;
  }

  int32_t StringConstant(const std::u16string& s) { return AddConstant(Constant::MakeString(s)); }

  void EmitConstant(const Constant& v) {
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

  // ---- compile-time constants: this compilation's own, then the VM's const table ----

  Value VmString(const std::u16string& s) { return Value(bsq::String::Make(ss_, s.data(), SQInteger(s.size()))); }

  static std::optional<Constant> ToConstant(const Value& v) {
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

  Value ToValue(const Constant& c) {
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

  enum class ConstKind { None, Scalar, Enum, Other };

  // What `name` is bound to among the constants; scalar values come back in *out.
  ConstKind LookupConst(const std::u16string& name, Constant* out) {
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
  bool LookupEnumMember(const std::u16string& name, const std::u16string& member, Constant* out, bool* runtime) {
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

  void DeclareParam(FuncState& fs, const std::u16string& name) {
    fs.depth++;
    if (fs.depth > int32_t(fs.proto->stackSize)) fs.proto->stackSize = uint32_t(fs.depth);
    fs.proto->locals.push_back(LocalInfo{name, uint32_t(fs.depth - 1), 0, 0});
    fs.locals.push_back(LocalVar{name, uint32_t(fs.depth - 1), fs.proto->locals.size() - 1});
  }

  // The value on top of the stack becomes local `name`.
  void DeclareLocal(const std::u16string& name) {
    CompiledFunction& p = P();
    uint32_t slot = uint32_t(fs_->depth - 1);
    p.locals.push_back(LocalInfo{name, slot, uint32_t(p.code.size()), 0});
    fs_->locals.push_back(LocalVar{name, slot, p.locals.size() - 1});
  }

  size_t BeginScope() const { return fs_->locals.size(); }

  void EndScope(size_t saved) {
    size_t n = fs_->locals.size() - saved;
    if (n == 0) return;
    Emit(OP_POP, int32_t(n));
    uint32_t end = uint32_t(Pc());
    for (size_t i = saved; i < fs_->locals.size(); ++i) P().locals[fs_->locals[i].infoIndex].endPc = end;
    fs_->locals.resize(saved);
  }

  static int32_t FindLocal(const FuncState& fs, const std::u16string& name) {
    for (size_t i = fs.locals.size(); i-- > 0;)
      if (fs.locals[i].name == name) return int32_t(fs.locals[i].slot);
    return -1;
  }

  // Index of the outer cell for `name` in fs, creating the chain through enclosing functions.
  int32_t FindOuter(FuncState& fs, const std::u16string& name) {
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

  // ------------------------------------------------------------------------------------------------
  // expression helpers

  // Loads an expression's value on the stack.
  void Discharge(Exp& e) {
    switch (e.kind) {
      case E_VALUE:
        break;
      case E_LOCAL:
        Emit(OP_LOADLOCAL, e.index);
        break;
      case E_OUTER:
        Emit(OP_LOADOUTER, e.index);
        break;
      case E_ENV:
        Emit(OP_GETENV, e.index);
        break;
      case E_FIELD:
        Emit(OP_GET);
        break;
      case E_FIELDK:
        Emit(OP_GETK, e.index);
        break;
    }
    e.kind = E_VALUE;
    e.isBase = false;
    e.fromBase = false;
  }

  void ExpValue() {
    Exp e = Expression();
    Discharge(e);
  }

  // Expression statements and for-clauses: `a, b` evaluates both and yields b.
  void CommaExpValue() {
    ExpValue();
    while (tok_ == u',') {
      Lex();
      Emit(OP_POP, 1);
      ExpValue();
    }
  }

  static bool IsAssignable(const Exp& e) { return e.kind != E_VALUE; }

  // Bounds the compiler's recursion so that hostile sources report an error instead of exhausting
  // the native stack (each level costs a chain of parser frames).
  struct NestingGuard {
    Compiler& c;
    explicit NestingGuard(Compiler& owner) : c(owner) {
      if (++c.nesting_ > kMaxNesting) c.Error(u"nesting too deep");
    }
    ~NestingGuard() { --c.nesting_; }
  };
  static constexpr int kMaxNesting = 500;  // about 200 KB of native stack at most

  // exp := logicalor [ assignop exp | '?' exp ':' exp ]   assignop := = <- += -= *= /= %=
  Exp Expression() {
    NestingGuard guard(*this);
    Exp e = LogicalOr();
    switch (tok_) {
      case u'=':
      case TK_NEWSLOT:
      case TK_PLUSEQ:
      case TK_MINUSEQ:
      case TK_MULEQ:
      case TK_DIVEQ:
      case TK_MODEQ: {
        int32_t op = tok_;
        if (!IsAssignable(e)) Error(u"can't assign expression");
        if (op == TK_NEWSLOT && (e.kind == E_LOCAL || e.kind == E_OUTER)) Error(u"can't 'create' a local slot");
        Lex();
        Assign(e, op);
        return e;
      }
      case u'?': {
        Discharge(e);
        Lex();
        size_t toElse = Emit(OP_JMPF);
        ExpValue();
        size_t toEnd = Emit(OP_JMP);
        Adjust(-1);
        PatchHere(toElse);
        Expect(u':');
        ExpValue();
        PatchHere(toEnd);
        return Exp{};
      }
      default:
        return e;
    }
  }

  static uint8_t CompoundOp(int32_t tok) {
    switch (tok) {
      case TK_PLUSEQ:
        return OP_ADD;
      case TK_MINUSEQ:
        return OP_SUB;
      case TK_MULEQ:
        return OP_MUL;
      case TK_DIVEQ:
        return OP_DIV;
      default:
        return OP_MOD;
    }
  }

  // Compiles the right side of an assignment to `e` and stores it; leaves the value as an E_VALUE.
  void Assign(Exp& e, int32_t op) {
    bool compound = op != u'=' && op != TK_NEWSLOT;
    switch (e.kind) {
      case E_LOCAL:
        if (compound) Emit(OP_LOADLOCAL, e.index);
        ExpValue();
        if (compound) Emit(CompoundOp(op));
        Emit(OP_STORELOCAL, e.index);
        break;
      case E_OUTER:
        if (compound) Emit(OP_LOADOUTER, e.index);
        ExpValue();
        if (compound) Emit(CompoundOp(op));
        Emit(OP_STOREOUTER, e.index);
        break;
      case E_ENV:
        if (op == TK_NEWSLOT) {
          Emit(OP_LOADLOCAL, 0);
          Emit(OP_LOADK, e.index);
          ExpValue();
          Emit(OP_NEWSLOT);
          break;
        }
        if (compound) Emit(OP_GETENV, e.index);
        ExpValue();
        if (compound) Emit(CompoundOp(op));
        Emit(OP_SETENV, e.index);
        break;
      case E_FIELDK:
        Emit(OP_LOADK, e.index);
        [[fallthrough]];
      case E_FIELD:
        if (compound) {
          Emit(OP_DUP2);
          Emit(OP_GET);
        }
        ExpValue();
        if (compound) Emit(CompoundOp(op));
        Emit(op == TK_NEWSLOT ? OP_NEWSLOT : OP_SET);
        break;
      case E_VALUE:
        Error(u"can't assign expression");
    }
    e = Exp{};
  }

  // logicalor := logicaland { '||' logicaland }
  Exp LogicalOr() {
    Exp e = LogicalAnd();
    while (tok_ == TK_OR) {
      Discharge(e);
      Lex();
      size_t j = Emit(OP_ORJ);
      Exp r = LogicalAnd();
      Discharge(r);
      PatchHere(j);
      e = Exp{};
    }
    return e;
  }

  // logicaland := bitor [ '&&' logicaland | 'in' bitor ]...
  Exp LogicalAnd() {
    NestingGuard guard(*this);  // `&&` recurses to the right
    Exp e = BitOr();
    for (;;) {
      if (tok_ == TK_AND) {
        Discharge(e);
        Lex();
        size_t j = Emit(OP_ANDJ);
        Exp r = LogicalAnd();
        Discharge(r);
        PatchHere(j);
        e = Exp{};
      } else if (tok_ == TK_IN) {
        Discharge(e);
        Lex();
        Exp r = BitOr();
        Discharge(r);
        Emit(OP_IN);
        e = Exp{};
      } else {
        return e;
      }
    }
  }

  template <typename Next>
  Exp BinaryLevel(Next next, std::initializer_list<std::pair<int32_t, uint8_t>> ops) {
    Exp e = (this->*next)();
    for (;;) {
      uint8_t op = OP_COUNT;
      for (const auto& [t, o] : ops)
        if (tok_ == t) op = o;
      if (op == OP_COUNT) return e;
      Discharge(e);
      Lex();
      Exp r = (this->*next)();
      Discharge(r);
      Emit(op);
      e = Exp{};
    }
  }

  // bitor := bitxor { '|' bitxor }, and so on down the table: ^ & (== != <=>) (< <= > >= instanceof)
  // (<< >> >>>) (+ -) (* / %), each level left-associative over the next
  Exp BitOr() { return BinaryLevel(&Compiler::BitXor, {{u'|', OP_BOR}}); }
  Exp BitXor() { return BinaryLevel(&Compiler::BitAnd, {{u'^', OP_BXOR}}); }
  Exp BitAnd() { return BinaryLevel(&Compiler::Equality, {{u'&', OP_BAND}}); }
  Exp Equality() { return BinaryLevel(&Compiler::Comparison, {{TK_EQ, OP_EQ}, {TK_NE, OP_NE}, {TK_CMP3, OP_CMP3}}); }
  Exp Comparison() {
    return BinaryLevel(&Compiler::Shift,
                       {{u'<', OP_LT}, {TK_LE, OP_LE}, {u'>', OP_GT}, {TK_GE, OP_GE}, {TK_INSTANCEOF, OP_INSTANCEOF}});
  }
  Exp Shift() { return BinaryLevel(&Compiler::Additive, {{TK_SHL, OP_SHL}, {TK_SHR, OP_SHR}, {TK_USHR, OP_USHR}}); }
  Exp Additive() { return BinaryLevel(&Compiler::Multiplicative, {{u'+', OP_ADD}, {u'-', OP_SUB}}); }
  Exp Multiplicative() { return BinaryLevel(&Compiler::Unary, {{u'*', OP_MUL}, {u'/', OP_DIV}, {u'%', OP_MOD}}); }

  // unary := ( '-' | '!' | '~' | 'typeof' | 'clone' | 'resume' ) unary | ( '++' | '--' ) unary
  //        | 'delete' postfix | postfix
  Exp Unary() {
    NestingGuard guard(*this);
    switch (tok_) {
      case u'-': {
        Lex();
        Exp e = Unary();
        if (e.literal && e.kind == E_VALUE) {
          Instruction& last = P().code.back();
          if (last.op == OP_LOADINT) {
            last.a = int32_t(0u - uint32_t(last.a));
            return e;
          }
          if (last.op == OP_LOADFLOAT) {
            last.a = int32_t(uint32_t(last.a) ^ 0x80000000u);
            return e;
          }
        }
        Discharge(e);
        Emit(OP_NEG);
        return Exp{};
      }
      case u'!':
        return UnaryOp(OP_NOT);
      case u'~':
        return UnaryOp(OP_BNOT);
      case TK_TYPEOF:
        return UnaryOp(OP_TYPEOF);
      case TK_CLONE:
        return UnaryOp(OP_CLONE);
      case TK_RESUME:
        return UnaryOp(OP_RESUME);
      case TK_PLUSPLUS:
      case TK_MINUSMINUS: {
        int16_t delta = tok_ == TK_PLUSPLUS ? 1 : -1;
        Lex();
        Exp e = Unary();
        Increment(e, delta, false);
        return e;
      }
      case TK_DELETE: {
        Lex();
        Exp e = Unary();
        switch (e.kind) {
          case E_FIELDK:
            Emit(OP_LOADK, e.index);
            Emit(OP_DELETE);
            break;
          case E_FIELD:
            Emit(OP_DELETE);
            break;
          case E_ENV:
            Emit(OP_LOADLOCAL, 0);
            Emit(OP_LOADK, e.index);
            Emit(OP_DELETE);
            break;
          case E_LOCAL:
          case E_OUTER:
            Error(u"cannot delete an (outer) local");
          case E_VALUE:
            Error(u"can't delete an expression");
        }
        return Exp{};
      }
      default:
        return Postfix();
    }
  }

  Exp UnaryOp(uint8_t op) {
    Lex();
    Exp e = Unary();
    Discharge(e);
    Emit(op);
    return Exp{};
  }

  // ++/-- on an lvalue; leaves the result (old value when postfix) as an E_VALUE.
  void Increment(Exp& e, int16_t delta, bool postfix) {
    switch (e.kind) {
      case E_LOCAL:
        Emit(OP_INCLOCAL, e.index, postfix ? 1 : 0, uint16_t(delta));
        break;
      case E_FIELDK:
        Emit(OP_LOADK, e.index);
        [[fallthrough]];
      case E_FIELD:
        Emit(OP_INCINDEX, 0, postfix ? 1 : 0, uint16_t(delta));
        break;
      case E_OUTER:
      case E_ENV: {
        bool outer = e.kind == E_OUTER;
        Emit(outer ? OP_LOADOUTER : OP_GETENV, e.index);
        if (postfix) Emit(OP_DUP);
        Emit(OP_LOADINT, delta);
        Emit(OP_ADD);
        Emit(outer ? OP_STOREOUTER : OP_SETENV, e.index);
        if (postfix) Emit(OP_POP, 1);
        break;
      }
      case E_VALUE:
        Error(u"can't '++' or '--' an expression");
    }
    e = Exp{};
  }

  // postfix := primary { '.' ident | '[' exp ']' | '(' args ')' [ table ] | '++' | '--' }
  Exp Postfix() {
    Exp e = Primary();
    for (;;) {
      switch (tok_) {
        case u'.': {
          Lex();
          std::u16string name;
          if (tok_ == TK_CONSTRUCTOR) {
            name = u"constructor";
            Lex();
          } else {
            name = ExpectIdentifier();
          }
          bool fromBase = e.isBase;
          Discharge(e);
          e.kind = E_FIELDK;
          e.index = StringConstant(name);
          e.fromBase = fromBase;
          break;
        }
        case u'[': {
          bool fromBase = e.isBase;
          Discharge(e);
          Lex();
          ExpValue();
          Expect(u']');
          e.kind = E_FIELD;
          e.fromBase = fromBase;
          break;
        }
        case u'(': {
          Call(e);
          if (tok_ == u'{' && !lex_.newlineBefore()) PostCallInitializer();
          break;
        }
        case TK_PLUSPLUS:
        case TK_MINUSMINUS: {
          if (lex_.newlineBefore()) return e;
          int16_t delta = tok_ == TK_PLUSPLUS ? 1 : -1;
          if (!IsAssignable(e)) Error(u"can't '++' or '--' an expression");
          Lex();
          Increment(e, delta, true);
          return e;
        }
        default:
          return e;
      }
    }
  }

  void Call(Exp& e) {
    switch (e.kind) {
      case E_FIELD:
        if (e.fromBase) {
          Emit(OP_GET);
          Emit(OP_LOADLOCAL, 0);
        } else {
          Emit(OP_PREPCALL);
        }
        break;
      case E_FIELDK:
        if (e.fromBase) {
          Emit(OP_GETK, e.index);
          Emit(OP_LOADLOCAL, 0);
        } else {
          Emit(OP_PREPCALLK, e.index);
        }
        break;
      default:
        Discharge(e);
        Emit(OP_LOADLOCAL, 0);
        break;
    }
    Expect(u'(');
    int32_t n = 0;
    while (tok_ != u')') {
      ExpValue();
      ++n;
      if (tok_ == u',') {
        Lex();
        if (tok_ == u')') Error(u"expression expected, found ')'");
      } else if (tok_ != u')') {
        Error(u"expected ')' or ','");
      }
    }
    Lex();
    Emit(OP_CALL, n + 1);
    e = Exp{};
  }

  // f() { a = 1, [k] = 2 } sets the slots of the call's result.
  void PostCallInitializer() {
    Lex();
    while (tok_ != u'}') {
      Emit(OP_DUP);
      if (tok_ == u'[') {
        Lex();
        ExpValue();
        Expect(u']');
      } else {
        Emit(OP_LOADK, StringConstant(ExpectIdentifier()));
      }
      Expect(u'=');
      ExpValue();
      Emit(OP_SET);
      Emit(OP_POP, 1);
      if (tok_ == u',') Lex();
    }
    Lex();
  }

  Exp Literal() {
    Exp e;
    e.literal = true;
    return e;
  }

  // primary := number | string | 'null' | 'true' | 'false' | '__LINE__' | '__FILE__' | 'this' | 'base'
  //          | '::' ident | ident | '(' commaexp ')' | '[' exps ']' | table | 'function' funcbody
  //          | '@' funcbody | 'class' classbody | 'rawcall' '(' args ')' | unary
  Exp Primary() {
    switch (tok_) {
      case TK_INTEGER: {
        Emit(OP_LOADINT, lex_.intValue());
        Lex();
        return Literal();
      }
      case TK_FLOAT: {
        Emit(OP_LOADFLOAT, std::bit_cast<int32_t>(lex_.floatValue()));
        Lex();
        return Literal();
      }
      case TK_STRING_LITERAL: {
        Emit(OP_LOADK, StringConstant(lex_.text()));
        Lex();
        return Exp{};
      }
      case TK_NULL:
        Lex();
        Emit(OP_LOADNULL);
        return Exp{};
      case TK_TRUE:
        Lex();
        Emit(OP_LOADBOOL, 1);
        return Exp{};
      case TK_FALSE:
        Lex();
        Emit(OP_LOADBOOL, 0);
        return Exp{};
      case TK_LINE: {
        int32_t line = lex_.line();
        Lex();
        Emit(OP_LOADINT, line);
        return Literal();
      }
      case TK_FILE:
        Lex();
        Emit(OP_LOADK, StringConstant(sourceName_));
        return Exp{};
      case TK_THIS:
        Lex();
        Emit(OP_LOADLOCAL, 0);
        return Exp{};
      case TK_BASE: {
        Lex();
        Emit(OP_LOADBASE);
        Exp e;
        e.isBase = true;
        return e;
      }
      case TK_DOUBLECOLON: {
        Lex();
        Emit(OP_LOADROOT);
        Exp e;
        e.kind = E_FIELDK;
        e.index = StringConstant(ExpectIdentifier());
        return e;
      }
      case TK_IDENTIFIER: {
        std::u16string name = lex_.text();
        Lex();
        return Identifier(name);
      }
      case u'(': {
        Lex();
        CommaExpValue();
        Expect(u')');
        return Exp{};
      }
      case u'[': {
        Lex();
        size_t at = Emit(OP_NEWARRAY, 0);
        int32_t n = 0;
        while (tok_ != u']') {
          ExpValue();
          Emit(OP_APPEND);
          ++n;
          if (tok_ == u',') Lex();
        }
        Lex();
        P().code[at].a = n;
        return Exp{};
      }
      case u'{': {
        Lex();
        TableBody(u'}');
        return Exp{};
      }
      case TK_FUNCTION: {
        Lex();
        FunctionExpr(u"unnamed", false);
        return Exp{};
      }
      case u'@': {
        Lex();
        FunctionExpr(u"unnamed", true);
        return Exp{};
      }
      case TK_CLASS: {
        Lex();
        ClassExpr();
        return Exp{};
      }
      case TK_RAWCALL: {
        Lex();
        Expect(u'(');
        int32_t n = 0;
        while (tok_ != u')') {
          ExpValue();
          ++n;
          if (tok_ == u',')
            Lex();
          else if (tok_ != u')')
            Error(u"expected ')' or ','");
        }
        Lex();
        if (n < 2) Error(u"rawcall requires at least 2 parameters (callee and this)");
        Emit(OP_CALL, n - 1);
        return Exp{};
      }
      case u'-':
      case u'!':
      case u'~':
      case TK_TYPEOF:
      case TK_CLONE:
      case TK_RESUME:
      case TK_PLUSPLUS:
      case TK_MINUSMINUS:
      case TK_DELETE:
        return Unary();
      default:
        Error(u"expression expected");
    }
  }

  Exp Identifier(const std::u16string& name) {
    Exp e;
    int32_t slot = FindLocal(*fs_, name);
    if (slot >= 0) {
      e.kind = E_LOCAL;
      e.index = slot;
      return e;
    }
    int32_t outer = FindOuter(*fs_, name);
    if (outer >= 0) {
      e.kind = E_OUTER;
      e.index = outer;
      return e;
    }
    Constant c;
    switch (LookupConst(name, &c)) {
      case ConstKind::Scalar:
        EmitConstant(c);
        return (c.kind == Constant::Integer || c.kind == Constant::Float) ? Literal() : Exp{};
      case ConstKind::Enum:
        if (tok_ == u'.') {
          Lex();
          std::u16string member = ExpectIdentifier();
          bool runtime = false;
          if (!LookupEnumMember(name, member, &c, &runtime))
            Error(u"invalid enum [no '" + member + u"' field in '" + name + u"']");
          if (!runtime) {
            EmitConstant(c);
            return (c.kind == Constant::Integer || c.kind == Constant::Float) ? Literal() : Exp{};
          }
          Emit(OP_LOADCONSTS);
          Emit(OP_GETK, StringConstant(name));
          Emit(OP_GETK, StringConstant(member));
          return Exp{};
        }
        [[fallthrough]];
      case ConstKind::Other:
        Emit(OP_LOADCONSTS);
        Emit(OP_GETK, StringConstant(name));
        return Exp{};
      case ConstKind::None:
        break;
    }
    e.kind = E_ENV;
    e.index = StringConstant(name);
    return e;
  }

  // table := '{' { slot [ ',' ] } '}'
  // slot := ident '=' exp | '[' exp ']' '=' exp | string ( ':' | '=' ) exp | 'function' ident funcbody
  // Slots of a table literal or an attribute block, up to `terminator` (consumed); the table is created here.
  void TableBody(int32_t terminator) {
    size_t at = Emit(OP_NEWTABLE, 0);
    int32_t n = 0;
    while (tok_ != terminator) {
      if (tok_ == TK_FUNCTION) {
        Lex();
        std::u16string name = ExpectIdentifier();
        Emit(OP_LOADK, StringConstant(name));
        FunctionExpr(name, false);
      } else if (tok_ == u'[') {
        Lex();
        ExpValue();
        Expect(u']');
        Expect(u'=');
        ExpValue();
      } else if (tok_ == TK_STRING_LITERAL) {
        Emit(OP_LOADK, StringConstant(lex_.text()));
        Lex();
        if (tok_ == u':')
          Lex();
        else
          Expect(u'=');
        ExpValue();
      } else if (tok_ == TK_EOF) {
        Error(u"expected '" + Lexer::TokenText(terminator) + u"'");
      } else {
        Emit(OP_LOADK, StringConstant(ExpectIdentifier()));
        Expect(u'=');
        ExpValue();
      }
      Emit(OP_TABLESLOT);
      ++n;
      if (tok_ == u',') Lex();
    }
    Lex();
    P().code[at].a = n;
  }

  // classbody := [ 'extends' exp ] [ '</' table '/>' ] '{' { member [ ';' ] } '}'
  // member := [ 'static' ] ident '=' exp | '[' exp ']' '=' exp | 'function' ident funcbody | 'constructor' funcbody
  void ClassExpr() {
    uint8_t flags = 0;
    if (tok_ == TK_EXTENDS) {
      Lex();
      ExpValue();
      flags |= 1;
    }
    if (tok_ == TK_ATTR_OPEN) {
      Lex();
      TableBody(TK_ATTR_CLOSE);
      flags |= 2;
    }
    Emit(OP_CLASS, 0, flags);
    Expect(u'{');
    while (tok_ != u'}') {
      uint8_t mflags = 0;
      bool hasAttrs = false;
      if (tok_ == TK_ATTR_OPEN) {
        hasAttrs = true;
        Lex();
        // Attributes are evaluated after the value: compile them into a scratch range and move it.
      }
      CodeSpan attrCode;
      if (hasAttrs) {
        attrCode = CompileDetached([this] { TableBody(TK_ATTR_CLOSE); });
        mflags |= 1;
      }
      if (tok_ == TK_STATIC) {
        Lex();
        mflags |= 2;
      }
      if (tok_ == TK_FUNCTION) {
        Lex();
        std::u16string name;
        if (tok_ == TK_CONSTRUCTOR) {  // `function constructor()` names the constructor too
          Lex();
          name = u"constructor";
        } else {
          name = ExpectIdentifier();
        }
        Emit(OP_LOADK, StringConstant(name));
        FunctionExpr(name, false);
      } else if (tok_ == TK_CONSTRUCTOR) {
        Lex();
        Emit(OP_LOADK, StringConstant(u"constructor"));
        FunctionExpr(u"constructor", false);
      } else if (tok_ == u'[') {
        Lex();
        ExpValue();
        Expect(u']');
        Expect(u'=');
        ExpValue();
      } else {
        Emit(OP_LOADK, StringConstant(ExpectIdentifier()));
        Expect(u'=');
        ExpValue();
      }
      if (hasAttrs) Reattach(attrCode);
      Emit(OP_NEWMEMBER, 0, mflags);
      if (tok_ == u';' || tok_ == u',') Lex();
    }
    Lex();
  }

  // Code compiled out of its evaluation order: it pushes exactly one value, has no jumps leaving it and
  // is re-emitted later by Reattach.
  struct CodeSpan {
    std::vector<Instruction> code;
    int32_t peak = 0;  // stack it needs above its start
  };

  template <typename F>
  CodeSpan CompileDetached(F compile) {
    CodeSpan span;
    size_t start = P().code.size();
    size_t lines = P().lines.size();
    uint32_t savedSize = P().stackSize;
    int32_t startDepth = fs_->depth;
    P().stackSize = uint32_t(startDepth);
    compile();
    span.peak = int32_t(P().stackSize) - startDepth;
    P().stackSize = std::max(savedSize, P().stackSize);
    span.code.assign(P().code.begin() + std::ptrdiff_t(start), P().code.end());
    P().code.resize(start);
    P().lines.resize(lines);
    fs_->lastLine = -1;
    Adjust(-1);
    return span;
  }

  void Reattach(const CodeSpan& span) {
    CompiledFunction& p = P();
    if (fs_->lastLine < 0 && !span.code.empty()) {
      p.lines.push_back(LineInfo{uint32_t(p.code.size()), prevLine_});
      fs_->lastLine = prevLine_;
    }
    for (const Instruction& ins : span.code) p.code.push_back(ins);
    p.stackSize = std::max(p.stackSize, uint32_t(fs_->depth + span.peak));
    Adjust(1);
  }

  // funcbody := [ '[' exp ']' ] '(' [ param { ',' param } ] ')' ( stmt | exp for a lambda )
  // param := ident [ '=' exp ] | '...'
  // Parameters, body and closure creation of a function; the closure ends up on the stack.
  void FunctionExpr(const std::u16string& name, bool lambda) {
    int32_t line = lex_.line();
    // OP_CLOSURE wants the bound environment above the defaults, but it is written first: its code is
    // compiled here and moved after the defaults.
    bool boundEnv = false;
    CodeSpan envCode;
    if (tok_ == u'[') {
      Lex();
      envCode = CompileDetached([this] { ExpValue(); });
      Expect(u']');
      boundEnv = true;
    }
    Expect(u'(');
    std::vector<std::u16string> params;
    bool varargs = false;
    int32_t ndefaults = 0;
    while (tok_ != u')') {
      if (tok_ == TK_VARPARAMS) {
        Lex();
        varargs = true;
        if (tok_ != u')') Error(u"expected ')'");
        break;
      }
      params.push_back(ExpectIdentifier());
      if (tok_ == u'=') {
        Lex();
        ExpValue();  // evaluated by the enclosing function when the closure is made
        ++ndefaults;
      } else if (ndefaults > 0) {
        Error(u"expected '='");
      }
      if (tok_ == u',')
        Lex();
      else if (tok_ != u')')
        Error(u"expected ')' or ','");
    }
    Lex();
    if (boundEnv) Reattach(envCode);

    FuncState fs;  // break/continue contexts of the enclosing function stay out of reach
    OpenFunction(fs, name);
    fs.proto->firstLine = line;
    fs.proto->paramNames.push_back(u"this");
    DeclareParam(fs, u"this");
    for (const std::u16string& p : params) {
      fs.proto->paramNames.push_back(p);
      DeclareParam(fs, p);
    }
    fs.proto->nparams = uint32_t(params.size() + 1);
    fs.proto->ndefaults = uint32_t(ndefaults);
    fs.proto->varargs = varargs;
    if (varargs) DeclareParam(fs, u"vargv");

    if (lambda) {
      ExpValue();
      Emit(OP_RETURN);
    } else {
      Statement();
      Emit(OP_LOADNULL);
      Emit(OP_RETURN);
    }
    std::shared_ptr<CompiledFunction> proto = CloseFunction(fs);
    int32_t index = int32_t(P().functions.size());
    P().functions.push_back(proto);
    EmitWithEffect(OP_CLOSURE, index, boundEnv ? 1 : 0, 0, 1 - ndefaults - (boundEnv ? 1 : 0));
  }

  // ------------------------------------------------------------------------------------------------
  // statements

  void StatementWithTerminator() {
    Statement();
    if (prevTok_ != u'}' && prevTok_ != u';') OptionalSemicolon();
  }

  // A statement in its own scope (bodies of if/while/for...).
  void ScopedStatement() {
    size_t scope = BeginScope();
    StatementWithTerminator();
    EndScope(scope);
  }

  // stmt := ';' | '{' { stmt } '}' | if | while | do | for | foreach | switch | local | return | yield
  //       | break | continue | function | class | enum | const | try | throw | commaexp
  void Statement() {
    NestingGuard guard(*this);
    switch (tok_) {
      case u';':
        Lex();
        break;
      case u'{': {
        Lex();
        size_t scope = BeginScope();
        while (tok_ != u'}') {
          if (tok_ == TK_EOF) Error(u"expected '}'");
          StatementWithTerminator();
        }
        Lex();
        EndScope(scope);
        break;
      }
      case TK_IF:
        IfStatement();
        break;
      case TK_WHILE:
        WhileStatement();
        break;
      case TK_DO:
        DoWhileStatement();
        break;
      case TK_FOR:
        ForStatement();
        break;
      case TK_FOREACH:
        ForeachStatement();
        break;
      case TK_SWITCH:
        SwitchStatement();
        break;
      case TK_LOCAL:
        LocalStatement();
        break;
      case TK_RETURN: {
        Lex();
        if (IsEndOfStatement())
          Emit(OP_LOADNULL);
        else
          CommaExpValue();
        Emit(OP_RETURN);
        break;
      }
      case TK_YIELD: {
        Lex();
        P().generator = true;
        if (IsEndOfStatement())
          Emit(OP_LOADNULL);
        else
          CommaExpValue();
        Emit(OP_YIELD);
        break;
      }
      case TK_BREAK:
        BreakContinue(true);
        break;
      case TK_CONTINUE:
        BreakContinue(false);
        break;
      case TK_FUNCTION:
        FunctionStatement();
        break;
      case TK_CLASS:
        ClassStatement();
        break;
      case TK_ENUM:
        EnumStatement();
        break;
      case TK_CONST:
        ConstStatement();
        break;
      case TK_TRY:
        TryStatement();
        break;
      case TK_THROW: {
        Lex();
        CommaExpValue();
        Emit(OP_THROW);
        break;
      }
      default: {
        CommaExpValue();
        Emit(OP_POP, 1);
        break;
      }
    }
  }

  void Condition() {
    Expect(u'(');
    CommaExpValue();
    Expect(u')');
  }

  // if := 'if' '(' commaexp ')' stmt [ 'else' stmt ]
  void IfStatement() {
    Lex();
    Condition();
    size_t toElse = Emit(OP_JMPF);
    {
      // `if (c) a = 1 else b = 2` needs no separator before the else
      size_t scope = BeginScope();
      Statement();
      if (prevTok_ != u'}' && prevTok_ != u';' && tok_ != TK_ELSE)
        OptionalSemicolon();
      else if (tok_ == u';' && prevTok_ != u';' && prevTok_ != u'}')
        Lex();
      EndScope(scope);
    }
    if (tok_ == TK_ELSE) {
      Lex();
      size_t toEnd = Emit(OP_JMP);
      PatchHere(toElse);
      ScopedStatement();
      PatchHere(toEnd);
    } else {
      PatchHere(toElse);
    }
  }

  LoopContext& PushLoop(bool isSwitch) {
    LoopContext ctx;
    ctx.isSwitch = isSwitch;
    ctx.breakDepth = fs_->depth;
    ctx.continueDepth = fs_->depth;
    ctx.traps = fs_->traps;
    fs_->loops.push_back(std::move(ctx));
    return fs_->loops.back();
  }

  // Patches the breaks (to here) and forward continues (to continueTarget) of the innermost loop.
  void PopLoop(int32_t continueTarget) {
    LoopContext ctx = std::move(fs_->loops.back());
    fs_->loops.pop_back();
    for (size_t b : ctx.breaks) PatchHere(b);
    for (size_t c : ctx.continues) PatchTo(c, continueTarget);
  }

  void BreakContinue(bool isBreak) {
    Lex();
    LoopContext* target = nullptr;
    for (size_t i = fs_->loops.size(); i-- > 0;) {
      if (isBreak || !fs_->loops[i].isSwitch) {
        target = &fs_->loops[i];
        break;
      }
    }
    if (!target) Error(isBreak ? u"'break' has to be in a loop block" : u"'continue' has to be in a loop block");
    int32_t depth = isBreak ? target->breakDepth : target->continueDepth;
    if (fs_->depth > depth) EmitWithEffect(OP_POP, fs_->depth - depth, 0, 0, 0);
    if (fs_->traps > target->traps) Emit(OP_POPTRAP, fs_->traps - target->traps);
    size_t j = Emit(OP_JMP);
    if (isBreak) {
      target->breaks.push_back(j);
    } else if (target->continueTarget >= 0) {
      PatchTo(j, target->continueTarget);
    } else {
      target->continues.push_back(j);
    }
  }

  // while := 'while' '(' commaexp ')' stmt
  void WhileStatement() {
    Lex();
    int32_t start = Pc();
    Condition();
    size_t toEnd = Emit(OP_JMPF);
    LoopContext& loop = PushLoop(false);
    loop.continueTarget = start;
    ScopedStatement();
    EmitJumpBack(OP_JMP, start);
    PatchHere(toEnd);
    PopLoop(start);
  }

  // do := 'do' stmt 'while' '(' commaexp ')'
  void DoWhileStatement() {
    Lex();
    int32_t start = Pc();
    PushLoop(false);
    ScopedStatement();
    if (tok_ != TK_WHILE) Expect(TK_WHILE);
    int32_t condPc = Pc();
    // continue jumps forward to the condition
    for (size_t c : fs_->loops.back().continues) PatchTo(c, condPc);
    fs_->loops.back().continues.clear();
    Lex();
    Condition();
    EmitJumpBack(OP_JMPT, start);
    PopLoop(condPc);
  }

  // for := 'for' '(' [ local | commaexp ] ';' [ commaexp ] ';' [ commaexp ] ')' stmt
  void ForStatement() {
    Lex();
    Expect(u'(');
    size_t scope = BeginScope();
    if (tok_ == TK_LOCAL) {
      LocalStatement();
    } else if (tok_ != u';') {
      CommaExpValue();
      Emit(OP_POP, 1);
    }
    Expect(u';');
    int32_t condPc = Pc();
    size_t toEnd = SIZE_MAX;
    if (tok_ != u';') {
      CommaExpValue();
      toEnd = Emit(OP_JMPF);
    }
    Expect(u';');
    // The increment is compiled now and moved after the body.
    size_t incStart = P().code.size();
    size_t incLines = P().lines.size();
    int32_t incLine = lex_.line();
    if (tok_ != u')') {
      CommaExpValue();
      Emit(OP_POP, 1);
    }
    Expect(u')');
    std::vector<Instruction> incCode(P().code.begin() + incStart, P().code.end());
    P().code.resize(incStart);
    P().lines.resize(incLines);
    fs_->lastLine = -1;

    PushLoop(false);
    ScopedStatement();
    int32_t continuePc = Pc();
    if (!incCode.empty()) {
      P().lines.push_back(LineInfo{uint32_t(continuePc), incLine});
      fs_->lastLine = incLine;
      for (const Instruction& ins : incCode) P().code.push_back(ins);
    }
    EmitJumpBack(OP_JMP, condPc);
    if (toEnd != SIZE_MAX) PatchHere(toEnd);
    PopLoop(continuePc);
    EndScope(scope);
  }

  // foreach := 'foreach' '(' [ ident ',' ] ident 'in' exp ')' stmt
  void ForeachStatement() {
    Lex();
    Expect(u'(');
    std::u16string keyName, valueName = ExpectIdentifier();
    if (tok_ == u',') {
      Lex();
      keyName = valueName;
      valueName = ExpectIdentifier();
    }
    Expect(TK_IN);
    size_t scope = BeginScope();
    CommaExpValue();
    Expect(u')');
    int32_t base = fs_->depth - 1;
    if (base > 0xFFFF - 4) Error(u"too many local variables");
    DeclareLocal(u"@container");
    Emit(OP_LOADNULL);
    DeclareLocal(u"@iterator");
    Emit(OP_LOADNULL);
    DeclareLocal(keyName.empty() ? u"@index" : keyName);
    Emit(OP_LOADNULL);
    DeclareLocal(valueName);
    int32_t loopPc = Pc();
    size_t exit = Emit(OP_FOREACH, 0, 0, uint16_t(base));
    LoopContext& loop = PushLoop(false);
    loop.continueTarget = loopPc;
    ScopedStatement();
    EmitJumpBack(OP_JMP, loopPc);
    PatchHere(exit);
    PopLoop(loopPc);
    EndScope(scope);
  }

  // switch := 'switch' '(' commaexp ')' '{' { 'case' exp ':' { stmt } } [ 'default' ':' { stmt } ] '}'
  void SwitchStatement() {
    Lex();
    Condition();
    size_t scope = BeginScope();
    DeclareLocal(u"@switch");
    int32_t subject = fs_->depth - 1;
    Expect(u'{');
    PushLoop(true);
    size_t pendingTest = SIZE_MAX;  // failed test of the previous case jumps to the next test
    size_t pendingFallthrough = SIZE_MAX;
    bool sawDefault = false;
    while (tok_ != u'}') {
      if (tok_ == TK_CASE) {
        if (sawDefault) Error(u"default must be the last case");
        Lex();
        if (pendingTest != SIZE_MAX || pendingFallthrough != SIZE_MAX) pendingFallthrough = Emit(OP_JMP);
        if (pendingTest != SIZE_MAX) PatchHere(pendingTest);
        Emit(OP_LOADLOCAL, subject);
        ExpValue();
        Expect(u':');
        Emit(OP_EQ);
        pendingTest = Emit(OP_JMPF);
        if (pendingFallthrough != SIZE_MAX) {
          PatchHere(pendingFallthrough);
          pendingFallthrough = SIZE_MAX;
        }
      } else if (tok_ == TK_DEFAULT) {
        if (sawDefault) Error(u"default must be the last case");
        Lex();
        Expect(u':');
        sawDefault = true;
        if (pendingTest != SIZE_MAX) {
          size_t skip = Emit(OP_JMP);
          PatchHere(pendingTest);
          pendingTest = SIZE_MAX;
          PatchHere(skip);
        }
      } else {
        Error(u"expected 'case' or 'default'");
      }
      size_t body = BeginScope();
      while (tok_ != TK_CASE && tok_ != TK_DEFAULT && tok_ != u'}') {
        if (tok_ == TK_EOF) Error(u"expected '}'");
        StatementWithTerminator();
      }
      EndScope(body);
    }
    Lex();
    if (pendingTest != SIZE_MAX) PatchHere(pendingTest);
    PopLoop(Pc());
    EndScope(scope);
  }

  // local := 'local' ( 'function' ident funcbody | ident [ '=' exp ] { ',' ident [ '=' exp ] } )
  void LocalStatement() {
    Lex();
    if (tok_ == TK_FUNCTION) {
      Lex();
      std::u16string name = ExpectIdentifier();
      FunctionExpr(name, false);
      DeclareLocal(name);  // declared after its body: not visible inside it
      return;
    }
    for (;;) {
      std::u16string name = ExpectIdentifier();
      if (tok_ == u'=') {
        Lex();
        ExpValue();
      } else {
        Emit(OP_LOADNULL);
      }
      DeclareLocal(name);
      if (tok_ != u',') break;
      Lex();
    }
  }

  // function := 'function' ident { '::' ( ident | 'constructor' ) } funcbody
  void FunctionStatement() {
    Lex();
    std::u16string name = ExpectIdentifier();
    if (tok_ == TK_DOUBLECOLON) {
      Exp e = Identifier(name);
      Discharge(e);
      for (;;) {
        Lex();  // '::'
        // A class's constructor may be defined outside its body: `function Toggle::constructor(s) {...}`.
        if (tok_ == TK_CONSTRUCTOR) {
          Lex();
          name = u"constructor";
        } else {
          name = ExpectIdentifier();
        }
        if (tok_ != TK_DOUBLECOLON) break;
        Emit(OP_GETK, StringConstant(name));
      }
    } else {
      Emit(OP_LOADLOCAL, 0);
    }
    Emit(OP_LOADK, StringConstant(name));
    FunctionExpr(name, false);
    Emit(OP_NEWSLOT);
    Emit(OP_POP, 1);
  }

  // class := 'class' ident { '.' ident } classbody
  void ClassStatement() {
    Lex();
    std::u16string name = ExpectIdentifier();
    if (tok_ == u'.') {
      Exp e = Identifier(name);
      Discharge(e);
      for (;;) {
        Lex();  // '.'
        name = ExpectIdentifier();
        if (tok_ != u'.') break;
        Emit(OP_GETK, StringConstant(name));
      }
    } else {
      Emit(OP_LOADLOCAL, 0);
    }
    Emit(OP_LOADK, StringConstant(name));
    ClassExpr();
    Emit(OP_NEWSLOT);
    Emit(OP_POP, 1);
  }

  Constant ExpectScalar() {
    bool negate = false;
    if (tok_ == u'-') {
      negate = true;
      Lex();
    }
    Constant v;
    switch (tok_) {
      case TK_INTEGER:
        v = Constant::MakeInt(negate ? int32_t(0u - uint32_t(lex_.intValue())) : lex_.intValue());
        break;
      case TK_FLOAT:
        v = Constant::MakeFloat(negate ? -lex_.floatValue() : lex_.floatValue());
        break;
      case TK_STRING_LITERAL:
        if (negate) Error(u"scalar expected : integer, float, or string");
        v = Constant::MakeString(lex_.text());
        break;
      default:
        Error(u"scalar expected : integer, float, or string");
    }
    Lex();
    return v;
  }

  // const := 'const' ident '=' scalar
  void ConstStatement() {
    Lex();
    std::u16string name = ExpectIdentifier();
    Expect(u'=');
    Constant v = ExpectScalar();
    consts_[name] = v;
    enums_.erase(name);
    if (vm_) {
      if (bsq::Table* consts = bsq::ConstTableOf(vm_)) bsq::TableNewSlot(consts, VmString(name), ToValue(v));
    }
  }

  // enum := 'enum' ident '{' [ ident [ '=' scalar ] { ',' ident [ '=' scalar ] } ] '}'
  void EnumStatement() {
    Lex();
    std::u16string name = ExpectIdentifier();
    Expect(u'{');
    std::map<std::u16string, Constant> members;
    int32_t counter = 0;
    while (tok_ != u'}') {
      std::u16string member = ExpectIdentifier();
      Constant v;
      if (tok_ == u'=') {
        Lex();
        v = ExpectScalar();
      } else {
        v = Constant::MakeInt(counter++);
      }
      members[member] = v;
      if (tok_ == u',') Lex();
    }
    Lex();
    if (vm_) {
      if (bsq::Table* consts = bsq::ConstTableOf(vm_)) {
        Value table(bsq::NewTable(ss_));
        for (const auto& [k, v] : members) bsq::TableNewSlot(table.table(), VmString(k), ToValue(v));
        bsq::TableNewSlot(consts, VmString(name), table);
      }
    }
    consts_.erase(name);
    enums_[name] = std::move(members);
  }

  // try := 'try' stmt 'catch' '(' ident ')' stmt
  void TryStatement() {
    Lex();
    size_t trap = Emit(OP_PUSHTRAP);
    fs_->traps++;
    {
      size_t scope = BeginScope();
      Statement();
      if (tok_ == u';') Lex();
      EndScope(scope);
    }
    fs_->traps--;
    Emit(OP_POPTRAP, 1);
    size_t toEnd = Emit(OP_JMP);
    PatchHere(trap);
    Expect(TK_CATCH);
    Expect(u'(');
    std::u16string name = ExpectIdentifier();
    Expect(u')');
    size_t scope = BeginScope();
    Adjust(1);  // the exception value pushed by the trap
    DeclareLocal(name);
    ScopedStatement();
    EndScope(scope);
    PatchHere(toEnd);
  }

  HSQUIRRELVM vm_;
  bsq::SharedState* ss_;
  std::map<std::u16string, Constant> consts_;
  std::map<std::u16string, std::map<std::u16string, Constant>> enums_;
  Lexer lex_;
  std::u16string sourceName_;
  FuncState* fs_ = nullptr;
  int32_t tok_ = TK_EOF;
  int32_t prevTok_ = TK_EOF;
  int32_t prevLine_ = 0;
  int nesting_ = 0;
};

}  // namespace

std::shared_ptr<CompiledFunction> CompileSource(HSQUIRRELVM v, const std::u16string& source,
                                                const std::u16string& sourceName, CompileError* error) {
  try {
    Compiler c(v, source, sourceName);
    return c.Compile();
  } catch (const CompileFailure& f) {
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
