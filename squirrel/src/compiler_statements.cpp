// The compiler's statements: blocks, loops and switch with their jumps, declarations, and try/catch traps.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "compiler_state.h"

namespace sq::compiler_detail {

void Compiler::StatementWithTerminator() {
  Statement();
  if (prevTok_ != u'}' && prevTok_ != u';') OptionalSemicolon();
}

// A statement in its own scope (bodies of if/while/for...).
void Compiler::ScopedStatement() {
  size_t scope = BeginScope();
  StatementWithTerminator();
  EndScope(scope);
}

// stmt := ';' | '{' { stmt } '}' | if | while | do | for | foreach | switch | local | return | yield
//       | break | continue | function | class | enum | const | try | throw | commaexp
void Compiler::Statement() {
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

void Compiler::Condition() {
  Expect(u'(');
  CommaExpValue();
  Expect(u')');
}

// if := 'if' '(' commaexp ')' stmt [ 'else' stmt ]
void Compiler::IfStatement() {
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

LoopContext& Compiler::PushLoop(bool isSwitch) {
  LoopContext ctx;
  ctx.isSwitch = isSwitch;
  ctx.breakDepth = fs_->depth;
  ctx.continueDepth = fs_->depth;
  ctx.traps = fs_->traps;
  fs_->loops.push_back(std::move(ctx));
  return fs_->loops.back();
}

// Patches the breaks (to here) and forward continues (to continueTarget) of the innermost loop.
void Compiler::PopLoop(int32_t continueTarget) {
  LoopContext ctx = std::move(fs_->loops.back());
  fs_->loops.pop_back();
  for (size_t b : ctx.breaks) PatchHere(b);
  for (size_t c : ctx.continues) PatchTo(c, continueTarget);
}

void Compiler::BreakContinue(bool isBreak) {
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
void Compiler::WhileStatement() {
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
void Compiler::DoWhileStatement() {
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
void Compiler::ForStatement() {
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
void Compiler::ForeachStatement() {
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
void Compiler::SwitchStatement() {
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
void Compiler::LocalStatement() {
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
void Compiler::FunctionStatement() {
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
void Compiler::ClassStatement() {
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

Constant Compiler::ExpectScalar() {
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
void Compiler::ConstStatement() {
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
void Compiler::EnumStatement() {
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
void Compiler::TryStatement() {
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

}  // namespace sq::compiler_detail
