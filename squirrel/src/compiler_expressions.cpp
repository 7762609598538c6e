// The compiler's expressions: operators by precedence, assignments, calls, and table, class and function literals.
#include <bit>
#include <utility>
#include <vector>

#include "compiler_state.h"

namespace sq::compiler_detail {

void Compiler::ExpValue() {
  Exp e = Expression();
  Discharge(e);
}

// Expression statements and for-clauses: `a, b` evaluates both and yields b.
void Compiler::CommaExpValue() {
  ExpValue();
  while (tok_ == u',') {
    Lex();
    Emit(OP_POP, 1);
    ExpValue();
  }
}

// exp := logicalor [ assignop exp | '?' exp ':' exp ]   assignop := = <- += -= *= /= %=
Exp Compiler::Expression() {
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

uint8_t Compiler::CompoundOp(int32_t tok) {
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
void Compiler::Assign(Exp& e, int32_t op) {
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
Exp Compiler::LogicalOr() {
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
Exp Compiler::LogicalAnd() {
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

// bitor := bitxor { '|' bitxor }, and so on down the table: ^ & (== != <=>) (< <= > >= instanceof)
// (<< >> >>>) (+ -) (* / %), each level left-associative over the next
Exp Compiler::BitOr() { return BinaryLevel(&Compiler::BitXor, {{u'|', OP_BOR}}); }
Exp Compiler::BitXor() { return BinaryLevel(&Compiler::BitAnd, {{u'^', OP_BXOR}}); }
Exp Compiler::BitAnd() { return BinaryLevel(&Compiler::Equality, {{u'&', OP_BAND}}); }
Exp Compiler::Equality() {
  return BinaryLevel(&Compiler::Comparison, {{TK_EQ, OP_EQ}, {TK_NE, OP_NE}, {TK_CMP3, OP_CMP3}});
}
Exp Compiler::Comparison() {
  return BinaryLevel(&Compiler::Shift,
                     {{u'<', OP_LT}, {TK_LE, OP_LE}, {u'>', OP_GT}, {TK_GE, OP_GE}, {TK_INSTANCEOF, OP_INSTANCEOF}});
}
Exp Compiler::Shift() {
  return BinaryLevel(&Compiler::Additive, {{TK_SHL, OP_SHL}, {TK_SHR, OP_SHR}, {TK_USHR, OP_USHR}});
}
Exp Compiler::Additive() { return BinaryLevel(&Compiler::Multiplicative, {{u'+', OP_ADD}, {u'-', OP_SUB}}); }
Exp Compiler::Multiplicative() {
  return BinaryLevel(&Compiler::Unary, {{u'*', OP_MUL}, {u'/', OP_DIV}, {u'%', OP_MOD}});
}

// unary := ( '-' | '!' | '~' | 'typeof' | 'clone' | 'resume' ) unary | ( '++' | '--' ) unary
//        | 'delete' postfix | postfix
Exp Compiler::Unary() {
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

Exp Compiler::UnaryOp(uint8_t op) {
  Lex();
  Exp e = Unary();
  Discharge(e);
  Emit(op);
  return Exp{};
}

// ++/-- on an lvalue; leaves the result (old value when postfix) as an E_VALUE.
void Compiler::Increment(Exp& e, int16_t delta, bool postfix) {
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
Exp Compiler::Postfix() {
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

void Compiler::Call(Exp& e) {
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
void Compiler::PostCallInitializer() {
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

Exp Compiler::Literal() {
  Exp e;
  e.literal = true;
  return e;
}

// primary := number | string | 'null' | 'true' | 'false' | '__LINE__' | '__FILE__' | 'this' | 'base'
//          | '::' ident | ident | '(' commaexp ')' | '[' exps ']' | table | 'function' funcbody
//          | '@' funcbody | 'class' classbody | 'rawcall' '(' args ')' | unary
Exp Compiler::Primary() {
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

Exp Compiler::Identifier(const std::u16string& name) {
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
void Compiler::TableBody(int32_t terminator) {
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
void Compiler::ClassExpr() {
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

// funcbody := [ '[' exp ']' ] '(' [ param { ',' param } ] ')' ( stmt | exp for a lambda )
// param := ident [ '=' exp ] | '...'
// Parameters, body and closure creation of a function; the closure ends up on the stack.
void Compiler::FunctionExpr(const std::u16string& name, bool lambda) {
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

}  // namespace sq::compiler_detail
