// The compiler's working state, shared by its parts (compiler.cpp, compiler_expressions.cpp,
// compiler_statements.cpp): the Compiler class, its per-function records, and the token and emission
// helpers, kept inline here because every token and every instruction goes through them.
//
// Errors: Error throws CompileFailure, and the lexer throws LexError; CompileSource catches both, so
// nothing here outlives one compilation. No locking: a Compiler belongs to the one compilation that made it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compiler.h"
#include "lexer.h"
#include "runtime.h"

namespace sq::compiler_detail {

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

  std::shared_ptr<CompiledFunction> Compile();

 private:
  // ------------------------------------------------------------------------------------------------
  // tokens (compiler.cpp)

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

  std::u16string ExpectIdentifier();
  bool IsEndOfStatement() const;
  void OptionalSemicolon();

  // ------------------------------------------------------------------------------------------------
  // function states, emission (compiler.cpp)

  void OpenFunction(FuncState& fs, const std::u16string& name);
  std::shared_ptr<CompiledFunction> CloseFunction(FuncState& fs);

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

  int32_t AddConstant(const Constant& v);
  int32_t StringConstant(const std::u16string& s) { return AddConstant(Constant::MakeString(s)); }
  void EmitConstant(const Constant& v);

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

  void Reattach(const CodeSpan& span);

  // ---- compile-time constants: this compilation's own, then the VM's const table ----

  Value VmString(const std::u16string& s);
  static std::optional<Constant> ToConstant(const Value& v);
  Value ToValue(const Constant& c);

  enum class ConstKind { None, Scalar, Enum, Other };

  ConstKind LookupConst(const std::u16string& name, Constant* out);
  bool LookupEnumMember(const std::u16string& name, const std::u16string& member, Constant* out, bool* runtime);

  // ------------------------------------------------------------------------------------------------
  // locals and scopes (compiler.cpp)

  void DeclareParam(FuncState& fs, const std::u16string& name);
  void DeclareLocal(const std::u16string& name);
  size_t BeginScope() const { return fs_->locals.size(); }
  void EndScope(size_t saved);
  static int32_t FindLocal(const FuncState& fs, const std::u16string& name);
  int32_t FindOuter(FuncState& fs, const std::u16string& name);

  // ------------------------------------------------------------------------------------------------
  // expressions (compiler_expressions.cpp)

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

  void ExpValue();
  void CommaExpValue();
  Exp Expression();
  static uint8_t CompoundOp(int32_t tok);
  void Assign(Exp& e, int32_t op);
  Exp LogicalOr();
  Exp LogicalAnd();
  // Inline so that each precedence level folds its operator table into its own comparisons.
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
  Exp BitOr();
  Exp BitXor();
  Exp BitAnd();
  Exp Equality();
  Exp Comparison();
  Exp Shift();
  Exp Additive();
  Exp Multiplicative();
  Exp Unary();
  Exp UnaryOp(uint8_t op);
  void Increment(Exp& e, int16_t delta, bool postfix);
  Exp Postfix();
  void Call(Exp& e);
  void PostCallInitializer();
  Exp Literal();
  Exp Primary();
  Exp Identifier(const std::u16string& name);
  void TableBody(int32_t terminator);
  void ClassExpr();
  void FunctionExpr(const std::u16string& name, bool lambda);

  // ------------------------------------------------------------------------------------------------
  // statements (compiler_statements.cpp)

  void StatementWithTerminator();
  void ScopedStatement();
  void Statement();
  void Condition();
  void IfStatement();
  LoopContext& PushLoop(bool isSwitch);
  void PopLoop(int32_t continueTarget);
  void BreakContinue(bool isBreak);
  void WhileStatement();
  void DoWhileStatement();
  void ForStatement();
  void ForeachStatement();
  void SwitchStatement();
  void LocalStatement();
  void FunctionStatement();
  void ClassStatement();
  Constant ExpectScalar();
  void ConstStatement();
  void EnumStatement();
  void TryStatement();

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

}  // namespace sq::compiler_detail
