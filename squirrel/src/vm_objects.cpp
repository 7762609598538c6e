// The machine's object protocol: type names, errors, get/set/new slot/delete with delegation and
// metamethods, arithmetic, comparison, conversion to text, cloning and class creation.
#include <cmath>
#include <cstdarg>
#include <climits>

#include <platform/text.h>

#include "runtime.h"
#include "vm_support.h"

namespace bsq {

const SQChar* TypeName(SQObjectType t) {
  switch (_RAW_TYPE(t)) {
    case _RT_NULL: return u"null";
    case _RT_INTEGER: return u"integer";
    case _RT_FLOAT: return u"float";
    case _RT_BOOL: return u"bool";
    case _RT_STRING: return u"string";
    case _RT_TABLE: return u"table";
    case _RT_ARRAY: return u"array";
    case _RT_GENERATOR: return u"generator";
    case _RT_CLOSURE:
    case _RT_NATIVECLOSURE:
    case _RT_FUNCPROTO: return u"function";
    case _RT_USERDATA: return u"userdata";
    case _RT_THREAD: return u"thread";
    case _RT_CLASS: return u"class";
    case _RT_INSTANCE: return u"instance";
    case _RT_WEAKREF: return u"weakref";
    case _RT_USERPOINTER: return u"userpointer";
    case _RT_OUTER: return u"outer";
    default: return u"unknown";
  }
}

std::u16string FormatFloat(SQFloat f) {
  char16_t buf[64];
  text::Format(buf, 64, u"%g", double(f));
  return buf;
}

// ---- errors ---------------------------------------------------------------------------------------

void VM::Throw(const Value& err) {
  lastError = err;
  errorReported = false;
  throw ScriptThrow{};
}

void VM::Error(const SQChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::u16string msg = text::FormatStringV(fmt, args);
  va_end(args);
  Throw(ss->Str(msg));
}

// Short printable form of a value for error messages.
static std::u16string PrintVal(const Value& v) {
  switch (v.type) {
    case OT_STRING: return std::u16string(v.str()->chars(), size_t(v.str()->len));
    case OT_INTEGER: return text::FormatString(u"%d", v.v.nInteger);
    case OT_FLOAT: return text::FormatString(u"%.14g", double(v.v.fFloat));
    default: return TypeName(v.type);
  }
}

void VM::ErrorIndex(const Value& key) { Error(u"the index '%s' does not exist", PrintVal(key).c_str()); }

// ---- object protocol ------------------------------------------------------------------------------

bool VM::GetMeta(const Value& self, Meta m, Value& out) {
  switch (self.type) {
    case OT_TABLE:
    case OT_USERDATA: {
      Table* d = self.type == OT_TABLE ? self.table()->delegate : self.userdata()->delegate;
      for (; d; d = d->delegate)
        if (d->Get(ss->metaNames[m], out)) return true;
      return false;
    }
    case OT_INSTANCE:
      if (self.instance()->cls && !self.instance()->cls->metamethods[m].IsNull()) {
        out = self.instance()->cls->metamethods[m];
        return true;
      }
      return false;
    default: return false;
  }
}

bool VM::CallMeta(const Value& closure, const Value& self, int nargs, const Value* args, Value& result) {
  result = CallValue(closure, self, nargs, args);
  return true;
}

bool VM::CallQuietMeta(const Value& closure, const Value& self, int nargs, const Value* args, Value& result) {
  SQInteger savedTop = top;
  RaiseFlagScope quiet(this, false);  // metamethods never reach the error handler themselves
  try {
    result = CallValue(closure, self, nargs, args);
    return true;
  } catch (ScriptThrow&) {
    // A failed native metamethod leaves its call on the stack; the caller's operands are below it.
    SetTop(savedTop);
    if (!lastError.IsNull()) throw;
    return false;
  }
}

// Raw lookup without delegation: false when the object has no such slot or its type has no slots.
static bool PrimaryGet(const Value& self, const Value& key, Value& out) {
  bool found = false;
  switch (self.type) {
    case OT_TABLE: found = self.table()->Get(key, out); break;
    case OT_ARRAY:
      if (key.IsNumeric()) {
        SQInteger i = key.AsInt();
        Array* a = self.array();
        if (i >= 0 && size_t(i) < a->items.size()) {
          out = a->items[size_t(i)];
          found = true;
        }
      }
      break;
    case OT_STRING:
      if (key.IsNumeric()) {
        SQInteger i = key.AsInt();
        String* s = self.str();
        if (i < 0) i += s->len;  // strings also index from the end
        if (i >= 0 && i < s->len) {
          out = Value::Integer(SQInteger(s->chars()[i]));
          return true;
        }
      }
      return false;
    case OT_INSTANCE: found = self.instance()->Get(key, out); break;
    case OT_CLASS: found = self.cls()->GetMember(key, out); break;
    default: return false;
  }
  if (found) ResolveWeak(out);
  return found;
}

bool VM::Get(const Value& self, const Value& key, Value& out, bool raw, bool defaults) {
  if (PrimaryGet(self, key, out)) return true;
  if (raw) return false;
  if (self.type == OT_TABLE || self.type == OT_USERDATA) {
    Table* d = self.type == OT_TABLE ? self.table()->delegate : self.userdata()->delegate;
    for (Table* t = d; t; t = t->delegate)
      if (t->Get(key, out)) {
        ResolveWeak(out);
        return true;
      }
  }
  // A table's built-in methods come before _get, so that a handler can reach rawget, rawset and the like;
  // an instance's _get is asked first, so that a class can answer for names such as getclass itself.
  bool builtinsFirst = defaults && (self.type == OT_TABLE || self.type == OT_USERDATA);
  if (builtinsFirst && DefaultDelegateGet(this, self, key, out)) return true;
  if (self.type == OT_TABLE || self.type == OT_USERDATA || self.type == OT_INSTANCE) {
    // A null thrown by _get means "no such index": the default delegate may still answer.
    Value mm;
    if (GetMeta(self, MT_GET, mm) && CallQuietMeta(mm, self, 1, &key, out)) return true;
  }
  if (builtinsFirst || !defaults) return false;
  if ((self.type == OT_ARRAY || self.type == OT_STRING) && key.IsNumeric()) return false;
  return DefaultDelegateGet(this, self, key, out);
}

// `in` and rawin: the object's own slots only, neither delegates nor built-in methods.
bool VM::Has(const Value& self, const Value& key) {
  Value tmp;
  return PrimaryGet(self, key, tmp);
}

void VM::Set(const Value& self, const Value& key, const Value& val, bool raw) {
  switch (self.type) {
    case OT_TABLE:
      if (self.table()->SetExisting(key, val)) return;
      // A slot missing here is assigned in the nearest delegate that has it.
      if (!raw)
        for (Table* d = self.table()->delegate; d; d = d->delegate)
          if (d->SetExisting(key, val)) return;
      break;
    case OT_ARRAY:
      if (key.IsNumeric()) {
        SQInteger i = key.AsInt();
        Array* a = self.array();
        if (i >= 0 && size_t(i) < a->items.size()) {
          a->items[size_t(i)] = val;
          return;
        }
      }
      ErrorIndex(key);
    case OT_INSTANCE: {
      Instance* inst = self.instance();
      Value h;
      if (inst->cls && inst->cls->members->Get(key, h) && (h.v.nInteger & kMemberField)) {
        inst->fields[size_t(MemberIndex(h.v.nInteger))] = val;
        return;
      }
      break;
    }
    case OT_USERDATA: break;
    default:
      if (key.IsNull()) Error(u"null cannot be used as index");
      Error(u"trying to set '%s'", TypeName(self.type));
  }
  if (!raw) {
    Value mm, ignored;
    Value args[2] = {key, val};
    if (GetMeta(self, MT_SET, mm) && CallQuietMeta(mm, self, 2, args, ignored)) return;
  }
  ErrorIndex(key);
}

void VM::AddMember(Class* c, const Value& key, const Value& val, const Value& attrs, bool isStatic, bool raw) {
  if (key.IsNull()) Error(u"null cannot be used as index");
  if (!raw && !c->metamethods[MT_NEWMEMBER].IsNull()) {
    Value args[4] = {key, val, attrs, Value::Bool(isStatic)};
    CallValue(c->metamethods[MT_NEWMEMBER], Value(c), 4, args);
    return;
  }
  bool shared = isStatic || val.type == OT_CLOSURE || val.type == OT_NATIVECLOSURE;
  if (c->locked && !shared) Error(u"trying to modify a class that has already been instantiated");
  if (val.type == OT_CLOSURE && !val.closure()->owned) {
    val.closure()->owned = true;
    if (c->base) val.closure()->ownerBase = Value(c->base);
  }
  Value h;
  if (c->members->Get(key, h)) {
    SQInteger idx = MemberIndex(h.v.nInteger);
    if (h.v.nInteger & kMemberField) {
      c->fields[size_t(idx)].val = val;
      if (!attrs.IsNull()) c->fields[size_t(idx)].attrs = attrs;
    } else {
      c->methods[size_t(idx)].val = val;
      if (!attrs.IsNull()) c->methods[size_t(idx)].attrs = attrs;
      if (key.type == OT_STRING && key.str() == ss->constructorName.str()) c->constructor = val;
    }
    return;
  }
  if (shared) {
    if (key.type == OT_STRING && (val.type == OT_CLOSURE || val.type == OT_NATIVECLOSURE)) {
      for (int m = 0; m < MT_COUNT; ++m) {
        if (key.str() == ss->metaNames[m].str()) {
          c->metamethods[m] = val;
          return;
        }
      }
    }
    c->methods.push_back({val, attrs});
    c->members->NewSlot(key, Value::Integer((SQInteger(c->methods.size() - 1) << 2) | kMemberMethod));
    if (key.type == OT_STRING && key.str() == ss->constructorName.str()) c->constructor = val;
  } else {
    c->fields.push_back({val, attrs});
    c->members->NewSlot(key, Value::Integer((SQInteger(c->fields.size() - 1) << 2) | kMemberField));
  }
}

void VM::NewSlot(const Value& self, const Value& key, const Value& val, bool isStatic, bool raw) {
  if (key.IsNull()) Error(u"null cannot be used as index");
  switch (self.type) {
    case OT_TABLE: {
      Table* t = self.table();
      if (!raw && t->delegate && !t->Find(key)) {
        Value mm;
        if (GetMeta(self, MT_NEWSLOT, mm)) {
          Value args[2] = {key, val};
          CallValue(mm, self, 2, args);
          return;
        }
      }
      t->NewSlot(key, val);
      return;
    }
    // _newmember hears only of members declared in the class body (and class.newmember()).
    case OT_CLASS: AddMember(self.cls(), key, val, Value(), isStatic, true); return;
    case OT_INSTANCE:
    case OT_USERDATA: {
      Value mm;
      if (!raw && GetMeta(self, MT_NEWSLOT, mm)) {
        Value args[2] = {key, val};
        CallValue(mm, self, 2, args);
        return;
      }
      if (self.type == OT_INSTANCE) Error(u"class instances do not support the new slot operator");
      Error(u"trying to set '%s'", TypeName(self.type));
    }
    default: Error(u"indexing %s with %s", TypeName(self.type), TypeName(key.type));
  }
}

Value VM::Delete(const Value& self, const Value& key, bool raw) {
  switch (self.type) {
    case OT_TABLE:
    case OT_INSTANCE:
    case OT_USERDATA: break;
    default: Error(u"attempt to delete a slot from a %s", TypeName(self.type));
  }
  if (!raw) {
    Value mm;
    if (GetMeta(self, MT_DELSLOT, mm)) return CallValue(mm, self, 1, &key);
  }
  if (self.type == OT_INSTANCE) Error(u"cannot delete a slot from instance");
  if (self.type == OT_TABLE) {
    Value removed;
    if (self.table()->Remove(key, &removed)) return removed;
  }
  if (self.type != OT_TABLE) Error(u"attempt to delete a slot from a %s", TypeName(self.type));
  ErrorIndex(key);
}

bool VM::Equal(const Value& a, const Value& b) {
  if (a.type == b.type) {
    if (a.type == OT_FLOAT) return a.v.fFloat == b.v.fFloat;
    return a.v.raw == b.v.raw;
  }
  if (a.IsNumeric() && b.IsNumeric()) return a.AsFloat() == b.AsFloat();
  return false;
}

static int OpChar(int op) {
  switch (op) {
    case sq::OP_ADD: return '+';
    case sq::OP_SUB: return '-';
    case sq::OP_MUL: return '*';
    case sq::OP_DIV: return '/';
    case sq::OP_MOD: return '%';
    default: return '?';
  }
}

Value VM::Arith(int op, const Value& a, const Value& b) {
  if (a.type == OT_INTEGER && b.type == OT_INTEGER) {
    uint32_t x = uint32_t(a.v.nInteger), y = uint32_t(b.v.nInteger);
    SQInteger sx = a.v.nInteger, sy = b.v.nInteger;
    switch (op) {
      case sq::OP_ADD: return Value::Integer(SQInteger(x + y));
      case sq::OP_SUB: return Value::Integer(SQInteger(x - y));
      case sq::OP_MUL: return Value::Integer(SQInteger(x * y));
      case sq::OP_DIV:
        if (sy == 0) Error(u"division by zero");
        if (sx == INT_MIN && sy == -1) Error(u"integer overflow");
        return Value::Integer(sx / sy);
      case sq::OP_MOD:
        if (sy == 0) Error(u"modulo by zero");
        if (sy == -1) return Value::Integer(0);
        return Value::Integer(sx % sy);
      case sq::OP_BAND: return Value::Integer(sx & sy);
      case sq::OP_BOR: return Value::Integer(sx | sy);
      case sq::OP_BXOR: return Value::Integer(sx ^ sy);
      case sq::OP_SHL: return Value::Integer(SQInteger(x << (y & 31)));
      case sq::OP_SHR: return Value::Integer(sx >> (y & 31));
      case sq::OP_USHR: return Value::Integer(SQInteger(x >> (y & 31)));
    }
  }
  bool bitwise = op >= sq::OP_BAND && op <= sq::OP_USHR;
  if (bitwise) Error(u"bitwise op between '%s' and '%s'", TypeName(a.type), TypeName(b.type));
  if (a.IsNumeric() && b.IsNumeric()) {
    SQFloat x = a.AsFloat(), y = b.AsFloat();
    switch (op) {
      case sq::OP_ADD: return Value::Float(x + y);
      case sq::OP_SUB: return Value::Float(x - y);
      case sq::OP_MUL: return Value::Float(x * y);
      case sq::OP_DIV: return Value::Float(x / y);
      case sq::OP_MOD: return Value::Float(std::fmod(x, y));
    }
  }
  if (op == sq::OP_ADD && (a.type == OT_STRING || b.type == OT_STRING)) {
    Value sa = a.type == OT_STRING ? a : ToString(a), sb = b.type == OT_STRING ? b : ToString(b);
    return Value(ss->Concat(sa.str()->chars(), sa.str()->len, sb.str()->chars(), sb.str()->len));
  }
  Meta m = op == sq::OP_ADD ? MT_ADD : op == sq::OP_SUB ? MT_SUB : op == sq::OP_MUL ? MT_MUL
                                     : op == sq::OP_DIV ? MT_DIV : MT_MODULO;
  Value mm;
  if (GetMeta(a, m, mm)) return CallValue(mm, a, 1, &b);
  Error(u"arith op %c on between '%s' and '%s'", OpChar(op), TypeName(a.type), TypeName(b.type));
}

Value VM::Unary(int op, const Value& a) {
  if (op == sq::OP_NEG) {
    if (a.type == OT_INTEGER) return Value::Integer(SQInteger(0u - uint32_t(a.v.nInteger)));
    if (a.type == OT_FLOAT) return Value::Float(-a.v.fFloat);
    Value mm;
    if (GetMeta(a, MT_UNM, mm)) return CallValue(mm, a, 0, nullptr);
    Error(u"attempt to negate a %s", TypeName(a.type));
  }
  if (a.type == OT_INTEGER) return Value::Integer(~a.v.nInteger);
  Error(u"attempt to perform a bitwise op on a %s", TypeName(a.type));
}

SQInteger VM::Compare(const Value& a, const Value& b) {
  if (a.type == b.type) {
    switch (a.type) {
      case OT_INTEGER: return a.v.nInteger < b.v.nInteger ? -1 : a.v.nInteger > b.v.nInteger ? 1 : 0;
      case OT_FLOAT: return a.v.fFloat < b.v.fFloat ? -1 : a.v.fFloat > b.v.fFloat ? 1 : 0;
      case OT_STRING: {
        String *x = a.str(), *y = b.str();
        SQInteger n = std::min(x->len, y->len);
        for (SQInteger i = 0; i < n; ++i)
          if (x->chars()[i] != y->chars()[i]) return x->chars()[i] < y->chars()[i] ? -1 : 1;
        return x->len < y->len ? -1 : x->len > y->len ? 1 : 0;
      }
      case OT_NULL: return 0;
      case OT_BOOL: return a.v.nInteger - b.v.nInteger;
      default: break;
    }
  } else if (a.IsNumeric() && b.IsNumeric()) {
    SQFloat x = a.AsFloat(), y = b.AsFloat();
    return x < y ? -1 : x > y ? 1 : 0;
  } else if (a.type == OT_NULL || b.type == OT_NULL) {
    return a.type == OT_NULL ? -1 : 1;  // null orders below every other value
  }
  // _cmp orders values of its own type only: against any other type the operands do not compare.
  if (a.type == b.type) {
    if (a.type == OT_TABLE || a.type == OT_INSTANCE || a.type == OT_USERDATA) {
      Value mm;
      if (GetMeta(a, MT_CMP, mm)) {
        Value r = CallValue(mm, a, 1, &b);
        if (r.type != OT_INTEGER) Error(u"_cmp must return an integer");
        return r.v.nInteger;
      }
    }
    uintptr_t x = uintptr_t(a.v.pUserPointer), y = uintptr_t(b.v.pUserPointer);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  Error(u"comparison between '%s' and '%s'", PrintVal(a).c_str(), PrintVal(b).c_str());
}

constexpr int kIntegerTextMax = 12;  // "-2147483648"

Value VM::ToString(const Value& v) {
  switch (v.type) {
    case OT_STRING: return v;
    case OT_INTEGER: {
      // Digits written backwards into a buffer that fits INT_MIN, without going through a format string.
      SQChar buf[kIntegerTextMax];
      SQChar* end = buf + kIntegerTextMax;
      SQChar* p = end;
      uint32_t mag = v.v.nInteger < 0 ? 0u - uint32_t(v.v.nInteger) : uint32_t(v.v.nInteger);
      do {
        *--p = SQChar(u'0' + mag % 10);
        mag /= 10;
      } while (mag);
      if (v.v.nInteger < 0) *--p = u'-';
      return Value(ss->Intern(p, SQInteger(end - p)));
    }
    case OT_FLOAT: return ss->Str(FormatFloat(v.v.fFloat));
    case OT_BOOL: return ss->Str(v.v.nInteger ? u"true" : u"false");
    case OT_NULL: return ss->Str(u"null");
    case OT_TABLE:
    case OT_INSTANCE:
    case OT_USERDATA: {
      Value mm;
      if (GetMeta(v, MT_TOSTRING, mm)) {
        Value r = CallValue(mm, v, 0, nullptr);
        if (r.type == OT_STRING) return r;
        // A _tostring answering yet another object with a _tostring would otherwise recurse here
        // without bound: each level counts as a native nesting level.
        if (ss->nativeDepth + 1 > kMaxNativeDepth) Error(u"Native stack overflow");
        ++ss->nativeDepth;
        try {
          Value s = ToString(r);
          --ss->nativeDepth;
          return s;
        } catch (...) {
          --ss->nativeDepth;
          throw;
        }
      }
      break;
    }
    default: break;
  }
  return ss->Str(text::FormatString(u"(%s : 0x%08X)", TypeName(v.type), unsigned(uintptr_t(v.v.pUserPointer))));
}

Value VM::TypeOf(const Value& v) {
  if (v.type == OT_TABLE || v.type == OT_INSTANCE || v.type == OT_USERDATA) {
    Value mm;
    if (GetMeta(v, MT_TYPEOF, mm)) return CallValue(mm, v, 0, nullptr);
  }
  return ss->Str(TypeName(v.type));
}

Value VM::Clone(const Value& v) {
  switch (v.type) {
    case OT_TABLE: {
      // The copy keeps the delegate, so a delegate's _cloned hook sees the new table as this.
      Value r(v.table()->Clone(ss));
      Value mm;
      if (GetMeta(r, MT_CLONED, mm)) CallValue(mm, r, 1, &v);
      return r;
    }
    case OT_ARRAY: {
      Array* a = new Array(ss, 0);
      Value r(a);
      a->items = v.array()->items;
      return r;
    }
    case OT_INSTANCE: {
      Instance* src = v.instance();
      Instance* inst = Instance::Make(ss, src->cls);
      Value r(inst);
      for (uint32_t i = 0; i < inst->nfields && i < src->nfields; ++i) inst->fields[i] = src->fields[i];
      if (src->cls && !src->cls->metamethods[MT_CLONED].IsNull()) CallValue(src->cls->metamethods[MT_CLONED], r, 1, &v);
      return r;
    }
    default: Error(u"cloning a %s", TypeName(v.type));
  }
}

Value VM::CreateInstanceRaw(Class* c) {
  c->locked = true;
  Instance* inst = Instance::Make(ss, c);
  // A hook set on a base class after this class was declared still covers its instances.
  for (const Class* k = c; k && !inst->hook; k = k->base) inst->hook = k->hook;
  return Value(inst);
}

Value VM::NewClass(Class* base, const Value& attrs) {
  Class* c = new Class(ss, base);
  Value r(c);
  c->attrs = attrs;
  // The hook runs with the new class as this and receives the new class's attributes.
  if (base && !base->metamethods[MT_INHERITED].IsNull()) CallValue(base->metamethods[MT_INHERITED], r, 1, &attrs);
  return r;
}

}  // namespace bsq
