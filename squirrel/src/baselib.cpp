// The base library (global functions) and the default delegates of every type.
//
// Sections:
//   global functions                 print, assert, getroottable, collectgarbage, type, callee, dummy...
//   number, bool / string / table    each type's default delegate
//   array                            the array delegate: growing and cutting, slice, find, sort, map and reduce
//   functions                        call, pcall, acall, pacall, setroot, getroot, bindenv, getinfos
//   class and instance               the class and instance delegates
//   generator, thread, weakref       the delegates of the suspendable kinds and of weak references
//   registration                     RegisterBaseLib: the tables made once per machine
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <platform/text.h>

#include "compiler.h"
#include "runtime.h"

namespace bsq {
namespace {

SQInteger Throw(HSQUIRRELVM v, const SQChar* msg) { return sq_throwerror(v, msg); }

// Runs a body that may raise script errors; converts them into a native failure.
template <typename F>
SQInteger Safe(HSQUIRRELVM v, F&& body) {
  try {
    return body();
  } catch (ScriptThrow&) {
    (void)v;
    return SQ_ERROR;
  }
}

// Whether an error reaching the calling script at this point would be reported there: no try of the
// current host call catches it (or every error is to be reported). What a script calls through call(),
// acall() or a thread reports its own error only then, so a try around the call keeps it quiet while an
// uncaught one is reported where it was thrown, with the frames that led there.
bool CallerWouldReport(const VM* v) {
  const bool trapped = !v->traps.empty() && v->traps.back().frame >= v->raiseBoundary;
  return v->raiseError && (!trapped || v->ss->notifyAll);
}

SQInteger NArgs(HSQUIRRELVM v) { return sq_gettop(v); }
Value& Arg(HSQUIRRELVM v, SQInteger i) { return v->At(i); }
SQInteger Ret(HSQUIRRELVM v, Value&& r) {
  v->Push(std::move(r));
  return 1;
}
SQInteger Ret(HSQUIRRELVM v, const Value& r) {  // a value that stays where it is: one counted copy
  v->Push(r);
  return 1;
}

// ---- global functions -----------------------------------------------------------------------------

SQInteger base_print(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value s = v->ToString(Arg(v, 2));
    if (v->ss->printfn) v->ss->printfn(v, u"%s", s.str()->chars());
    return SQInteger(0);
  });
}

SQInteger base_error(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value s = v->ToString(Arg(v, 2));
    if (v->ss->errorfn) v->ss->errorfn(v, u"%s", s.str()->chars());
    return SQInteger(0);
  });
}

SQInteger base_assert(HSQUIRRELVM v) {
  if (Arg(v, 2).Truthy()) return 0;
  if (NArgs(v) >= 3) {
    if (Arg(v, 3).type == OT_STRING) return Throw(v, Arg(v, 3).str()->chars());
    return Safe(v, [&] {
      Value s = v->ToString(Arg(v, 3));
      return Throw(v, s.str()->chars());
    });
  }
  return Throw(v, u"assertion failed");
}

SQInteger base_getroottable(HSQUIRRELVM v) { return Ret(v, v->roottable); }
SQInteger base_setroottable(HSQUIRRELVM v) {
  if (Arg(v, 2).type != OT_TABLE && Arg(v, 2).type != OT_NULL) return Throw(v, u"invalid type");
  Value old = v->roottable;
  v->roottable = Arg(v, 2);
  return Ret(v, old);
}
SQInteger base_getconsttable(HSQUIRRELVM v) { return Ret(v, v->ss->consttable); }
SQInteger base_setconsttable(HSQUIRRELVM v) {
  if (Arg(v, 2).type != OT_TABLE) return Throw(v, u"invalid type, expected table");
  Value old = v->ss->consttable;
  v->ss->consttable = Arg(v, 2);
  return Ret(v, old);
}
SQInteger base_seterrorhandler(HSQUIRRELVM v) {
  v->errorHandler = Arg(v, 2);
  return 0;
}
SQInteger base_setdebughook(HSQUIRRELVM v) {
  v->debugHook = Arg(v, 2);
  v->nativeDebugHook = nullptr;
  v->UpdateHooked();
  return 0;
}
SQInteger base_enabledebuginfo(HSQUIRRELVM v) {
  v->ss->debugInfo = !Arg(v, 2).IsNull();
  return 0;
}
SQInteger base_type(HSQUIRRELVM v) { return Ret(v, v->ss->Str(TypeName(Arg(v, 2).type))); }
SQInteger base_callee(HSQUIRRELVM v) {
  if (v->frames.size() < 2) return Throw(v, u"no closure in the calls stack");
  return Ret(v, v->frames[v->frames.size() - 2].callee);
}

SQInteger base_array(HSQUIRRELVM v) {
  SQInteger n = Arg(v, 2).AsInt();
  if (n < 0) return Throw(v, u"negative size");
  Array* a = new Array(v->ss, n);
  Value av(a);
  if (NArgs(v) >= 3)
    for (Value& item : a->items) item = Arg(v, 3);
  return Ret(v, av);
}

SQInteger base_compilestring(HSQUIRRELVM v) {
  const Value& src = Arg(v, 2);
  const SQChar* name = NArgs(v) >= 3 && Arg(v, 3).type == OT_STRING ? Arg(v, 3).str()->chars() : u"unnamedbuffer";
  Value keep = src;
  if (SQ_FAILED(sq_compilebuffer(v, keep.str()->chars(), keep.str()->len, name, SQFalse))) return SQ_ERROR;
  return 1;
}

SQInteger base_newthread(HSQUIRRELVM v) {
  Value fn = Arg(v, 2);
  HSQUIRRELVM t = sq_newthread(v, 1024);
  t->Push(fn);
  return 1;
}

SQInteger base_suspend(HSQUIRRELVM v) {
  v->suspendValue = NArgs(v) >= 2 ? Arg(v, 2) : Value();
  return sq_suspendvm(v);
}

SQInteger base_dummy(HSQUIRRELVM) { return 0; }
SQInteger base_collectgarbage(HSQUIRRELVM v) { return Ret(v, Value::Integer(sq_collectgarbage(v))); }
SQInteger base_resurrectunreachable(HSQUIRRELVM v) {
  sq_resurrectunreachable(v);
  return 1;
}

Value StackInfoTable(HSQUIRRELVM v, VM* target, SQInteger level) {
  SQStackInfos si;
  if (!target->StackInfo(level, &si)) return Value();
  Table* t = new Table(v->ss, 4);
  Value tv(t);
  t->NewSlot(v->ss->Str(u"func"), v->ss->Str(si.funcname));
  t->NewSlot(v->ss->Str(u"src"), v->ss->Str(si.source));
  t->NewSlot(v->ss->Str(u"line"), Value::Integer(si.line));
  const Frame& f = target->frames[target->frames.size() - 1 - size_t(level)];
  Table* locals = new Table(v->ss, 0);
  Value lv(locals);
  t->NewSlot(v->ss->Str(u"locals"), lv);  // empty for a native's level
  if (!f.native) {
    uint32_t pc = f.pc > 0 ? f.pc - 1 : 0;
    for (const sq::LocalInfo& li : f.code->locals) {
      if (pc >= li.startPc && pc < li.endPc && size_t(f.base + SQInteger(li.slot)) < target->stack.size())
        locals->NewSlot(v->ss->Str(li.name), target->stack[size_t(f.base + SQInteger(li.slot))]);
    }
  }
  return tv;
}

SQInteger base_getstackinfos(HSQUIRRELVM v) { return Ret(v, StackInfoTable(v, v, Arg(v, 2).AsInt())); }

// ---- number, bool ---------------------------------------------------------------------------------

SQInteger num_tofloat(HSQUIRRELVM v) { return Ret(v, Value::Float(Arg(v, 1).AsFloat())); }
SQInteger num_tointeger(HSQUIRRELVM v) { return Ret(v, Value::Integer(Arg(v, 1).AsInt())); }
SQInteger obj_tostring(HSQUIRRELVM v) {
  return Safe(v, [&] { return Ret(v, v->ToString(Arg(v, 1))); });
}
SQInteger num_tochar(HSQUIRRELVM v) {
  SQChar c = SQChar(Arg(v, 1).AsInt());
  return Ret(v, v->ss->Str(&c, 1));
}
SQInteger obj_weakref(HSQUIRRELVM v) { return Ret(v, NewWeakRef(v->ss, Arg(v, 1))); }

// ---- string ---------------------------------------------------------------------------------------

// A text holding '.', 'e' or 'E' reads as a float whatever the base asked for ("1e3".tointeger(2) is 1000, and
// "hello" reads in no base). Without them, a base the C library cannot use reads as 0.
bool ParseNumber(const String* s, SQInteger base, Value& out) {
  std::string narrow;
  for (SQInteger i = 0; i < s->len; ++i) {
    SQChar c = s->chars()[i];
    narrow.push_back(c < 128 ? char(c) : '?');
  }
  const bool isFloat = narrow.find_first_of(".eE") != std::string::npos;
  const char* begin = narrow.c_str();
  char* end = nullptr;
  if (isFloat) {
    double d = std::strtod(begin, &end);
    if (end == begin) return false;
    out = Value::Float(SQFloat(d));
  } else if (base == 1 || base < 0 || base > 36) {
    out = Value::Integer(0);
  } else {
    // Saturates at the 32-bit limits as the C library's strtol does where long has 32 bits.
    long long n = std::strtoll(begin, &end, int(base));
    if (end == begin) return false;
    out = Value::Integer(SQInteger(std::clamp<long long>(n, INT32_MIN, INT32_MAX)));
  }
  return true;
}

SQInteger str_len(HSQUIRRELVM v) { return Ret(v, Value::Integer(Arg(v, 1).str()->len)); }
SQInteger str_tointeger(HSQUIRRELVM v) {
  SQInteger base = NArgs(v) >= 2 ? Arg(v, 2).AsInt() : 10;
  Value out;
  if (!ParseNumber(Arg(v, 1).str(), base, out)) return Throw(v, u"cannot convert the string");
  return Ret(v, Value::Integer(out.AsInt()));
}
SQInteger str_tofloat(HSQUIRRELVM v) {
  Value out;
  if (!ParseNumber(Arg(v, 1).str(), 10, out)) return Throw(v, u"cannot convert the string");
  return Ret(v, Value::Float(out.AsFloat()));
}

// The range [start, end) of a slice-like call, negative indexes counting from the end; the end defaults to the
// length. Raises "wrong indexes" for a reversed range before "slice out of range" for one past either end.
void SliceRange(HSQUIRRELVM v, SQInteger len, SQInteger& start, SQInteger& end) {
  start = NArgs(v) >= 2 ? Arg(v, 2).AsInt() : 0;
  end = NArgs(v) >= 3 ? Arg(v, 3).AsInt() : len;
  if (start < 0) start += len;
  if (end < 0) end += len;
  if (end < start) v->Error(u"wrong indexes");
  if (start < 0 || end > len) v->Error(u"slice out of range");
}

SQInteger str_slice(HSQUIRRELVM v) {
  return Safe(v, [&] {
    String* s = Arg(v, 1).str();
    SQInteger a, b;
    SliceRange(v, s->len, a, b);
    return Ret(v, v->ss->Str(s->chars() + a, b - a));
  });
}

SQInteger str_find(HSQUIRRELVM v) {
  std::u16string_view hay(Arg(v, 1).str()->chars(), size_t(Arg(v, 1).str()->len));
  std::u16string_view needle(Arg(v, 2).str()->chars(), size_t(Arg(v, 2).str()->len));
  SQInteger start = NArgs(v) >= 3 ? Arg(v, 3).AsInt() : 0;
  if (start < 0 || size_t(start) > hay.size()) return Ret(v, Value());
  size_t pos = hay.find(needle, size_t(start));
  if (pos == std::u16string_view::npos) return Ret(v, Value());
  return Ret(v, Value::Integer(SQInteger(pos)));
}

// toupper/tolower([start, [end]]): only the range changes, the rest is copied as it is.
SQInteger str_case(HSQUIRRELVM v, bool upper) {
  return Safe(v, [&] {
    String* s = Arg(v, 1).str();
    SQInteger a, b;
    SliceRange(v, s->len, a, b);
    std::u16string r(s->chars(), size_t(s->len));
    for (SQInteger i = a; i < b; ++i) {
      char16_t& c = r[size_t(i)];
      c = upper ? text::ToUpperAscii(c) : text::ToLowerAscii(c);
    }
    return Ret(v, v->ss->Str(r));
  });
}
SQInteger str_tolower(HSQUIRRELVM v) { return str_case(v, false); }
SQInteger str_toupper(HSQUIRRELVM v) { return str_case(v, true); }

// ---- table ----------------------------------------------------------------------------------------

SQInteger tbl_len(HSQUIRRELVM v) { return Ret(v, Value::Integer(Arg(v, 1).table()->count)); }
SQInteger obj_rawget(HSQUIRRELVM v) {
  Value out;
  if (!v->Get(Arg(v, 1), Arg(v, 2), out, true)) return Throw(v, u"the index doesn't exist");
  return Ret(v, out);
}
SQInteger obj_rawset(HSQUIRRELVM v) {
  Value self = Arg(v, 1);
  return Safe(v, [&] {
    if (Arg(v, 2).IsNull()) v->Error(u"null cannot be used as index");
    if (self.type == OT_TABLE) self.table()->NewSlot(Arg(v, 2), Arg(v, 3));
    else if (self.type == OT_CLASS) v->AddMember(self.cls(), Arg(v, 2), Arg(v, 3), Value(), false, true);
    else v->Set(self, Arg(v, 2), Arg(v, 3), true);
    return Ret(v, self);
  });
}
SQInteger tbl_rawdelete(HSQUIRRELVM v) {
  Value removed;
  Arg(v, 1).table()->Remove(Arg(v, 2), &removed);
  return Ret(v, removed);
}
SQInteger obj_rawin(HSQUIRRELVM v) {
  Value out;
  return Ret(v, Value::Bool(v->Get(Arg(v, 1), Arg(v, 2), out, true)));
}
SQInteger tbl_clear(HSQUIRRELVM v) {
  Value self = Arg(v, 1);
  if (self.type == OT_TABLE) self.table()->Clear();
  else self.array()->items.clear();
  return Ret(v, self);
}
SQInteger tbl_setdelegate(HSQUIRRELVM v) {
  Value self = Arg(v, 1);
  v->Push(Arg(v, 2));
  if (SQ_FAILED(sq_setdelegate(v, 1))) return SQ_ERROR;
  return Ret(v, self);
}
SQInteger tbl_getdelegate(HSQUIRRELVM v) {
  Table* d = Arg(v, 1).table()->delegate;
  return Ret(v, d ? Value(d) : Value());
}
SQInteger tbl_filter(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value self = Arg(v, 1), fn = Arg(v, 2);
    Table* src = self.table();
    Table* out = new Table(v->ss, 0);
    Value ov(out);
    Value key, val;
    for (int32_t pos = src->Next(0, key, val); pos >= 0; pos = src->Next(pos, key, val)) {
      Value args[2] = {key, val};
      if (v->CallValue(fn, self, 2, args).Truthy()) out->NewSlot(key, val);
    }
    return Ret(v, ov);
  });
}
// map(f): an array of f(key, value) for every slot.
SQInteger tbl_map(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value self = Arg(v, 1), fn = Arg(v, 2);
    Table* src = self.table();
    Array* out = new Array(v->ss, 0);
    Value ov(out);
    Value key, val;
    for (int32_t pos = src->Next(0, key, val); pos >= 0; pos = src->Next(pos, key, val)) {
      Value args[2] = {key, val};
      out->items.push_back(v->CallValue(fn, self, 2, args));
    }
    return Ret(v, ov);
  });
}

SQInteger tbl_keys_values(HSQUIRRELVM v, bool keys) {
  Table* src = Arg(v, 1).table();
  Array* out = new Array(v->ss, 0);
  Value ov(out);
  Value key, val;
  for (int32_t pos = src->Next(0, key, val); pos >= 0; pos = src->Next(pos, key, val))
    out->items.push_back(keys ? key : val);
  return Ret(v, ov);
}
SQInteger tbl_keys(HSQUIRRELVM v) { return tbl_keys_values(v, true); }
SQInteger tbl_values(HSQUIRRELVM v) { return tbl_keys_values(v, false); }

// ---- array ----------------------------------------------------------------------------------------

Array* Arr(HSQUIRRELVM v) { return Arg(v, 1).array(); }
SQInteger arr_len(HSQUIRRELVM v) { return Ret(v, Value::Integer(SQInteger(Arr(v)->items.size()))); }
SQInteger arr_append(HSQUIRRELVM v) {
  Arr(v)->items.push_back(Arg(v, 2));
  return Ret(v, Arg(v, 1));
}
SQInteger arr_extend(HSQUIRRELVM v) {
  std::vector<Value> add = Arg(v, 2).array()->items;
  for (Value& x : add) Arr(v)->items.push_back(std::move(x));
  return Ret(v, Arg(v, 1));
}
SQInteger arr_pop(HSQUIRRELVM v) {
  Array* a = Arr(v);
  if (a->items.empty()) return Throw(v, u"empty array");
  Value last = std::move(a->items.back());
  a->items.pop_back();
  return Ret(v, last);
}
SQInteger arr_top(HSQUIRRELVM v) {
  Array* a = Arr(v);
  if (a->items.empty()) return Throw(v, u"top() on a empty array");
  return Ret(v, a->items.back());
}
SQInteger arr_insert(HSQUIRRELVM v) {
  Array* a = Arr(v);
  SQInteger i = Arg(v, 2).AsInt();
  if (i < 0 || size_t(i) > a->items.size()) return Throw(v, u"index out of range");
  a->items.insert(a->items.begin() + i, Arg(v, 3));
  return Ret(v, Arg(v, 1));
}
SQInteger arr_remove(HSQUIRRELVM v) {
  Array* a = Arr(v);
  SQInteger i = Arg(v, 2).AsInt();
  if (i < 0 || size_t(i) >= a->items.size()) return Throw(v, u"idx out of range");
  Value r = a->items[size_t(i)];
  a->items.erase(a->items.begin() + i);
  return Ret(v, r);
}
SQInteger arr_resize(HSQUIRRELVM v) {
  Array* a = Arr(v);
  SQInteger n = Arg(v, 2).AsInt();
  if (n < 0) return Throw(v, u"resizing to negative length");
  Value fill = NArgs(v) >= 3 ? Arg(v, 3) : Value();
  a->items.resize(size_t(n), fill);
  return Ret(v, Arg(v, 1));
}
SQInteger arr_reverse(HSQUIRRELVM v) {
  std::reverse(Arr(v)->items.begin(), Arr(v)->items.end());
  return Ret(v, Arg(v, 1));
}
SQInteger arr_slice(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Array* a = Arr(v);
    SQInteger s, e;
    SliceRange(v, SQInteger(a->items.size()), s, e);
    Array* out = new Array(v->ss, 0);
    Value ov(out);
    out->items.assign(a->items.begin() + s, a->items.begin() + e);
    return Ret(v, ov);
  });
}
SQInteger arr_find(HSQUIRRELVM v) {
  Array* a = Arr(v);
  for (size_t i = 0; i < a->items.size(); ++i)
    if (VM::Equal(a->items[i], Arg(v, 2))) return Ret(v, Value::Integer(SQInteger(i)));
  return Ret(v, Value());
}

// Merge sort: stable, and well defined whatever the comparator answers. The comparator's answer counts as an
// integer (a float truncated toward zero, a bool as 0 or 1). It sees the array as it was before the sort, and
// one that resizes it (or a _cmp the default order calls) stops the sort at that comparison: the order it was
// answering for is gone, and no later comparison runs, so a resize undone by a later one is caught too.
void MergeSort(VM* v, Array* array, std::vector<Value>& items, const Value& cmp) {
  const size_t size = items.size();
  const std::vector<Value>& live = array->items;
  auto resized = [&] {
    if (live.size() != size) v->Error(u"array resized during sort operation");
  };
  auto less = [&](const Value& a, const Value& b) -> bool {
    if (cmp.IsNull()) {
      // Two integers, the common case, order without the general comparison's call.
      if (a.type == OT_INTEGER && b.type == OT_INTEGER) return a.v.nInteger < b.v.nInteger;
      const bool before = v->Compare(a, b) < 0;
      // Only a delegable value's _cmp runs script code in the default order.
      if (a.type & SQOBJECT_DELEGABLE) resized();
      return before;
    }
    Value args[2] = {a, b};
    Value r = v->CallValue(cmp, v->roottable, 2, args);
    resized();
    switch (r.type) {
      case OT_INTEGER: return r.v.nInteger < 0;
      case OT_FLOAT: return Value::FloatToInt(r.v.fFloat) < 0;
      case OT_BOOL: return false;  // 0 or 1
      default: v->Error(u"numeric value expected as return value of the compare function");
    }
  };
  std::vector<Value> tmp(size);
  for (size_t width = 1; width < size; width *= 2) {
    for (size_t lo = 0; lo < size; lo += 2 * width) {
      size_t mid = std::min(lo + width, size), hi = std::min(lo + 2 * width, size);
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) tmp[k++] = less(items[j], items[i]) ? items[j++] : items[i++];
      while (i < mid) tmp[k++] = items[i++];
      while (j < hi) tmp[k++] = items[j++];
    }
    items.swap(tmp);
  }
}

SQInteger arr_sort(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value self = Arg(v, 1);
    Value cmp = NArgs(v) >= 2 ? Arg(v, 2) : Value();
    std::vector<Value> items = self.array()->items;
    MergeSort(v, self.array(), items, cmp);
    self.array()->items = std::move(items);
    return Ret(v, self);
  });
}

SQInteger CallArity(const Value& fn) {
  if (fn.type == OT_CLOSURE) {
    const sq::CompiledFunction* p = fn.closure()->fp()->code.get();
    return p->varargs ? 4 : SQInteger(p->nparams);
  }
  if (fn.type == OT_NATIVECLOSURE) {
    SQInteger n = fn.nclosure()->nparamscheck;
    return n == 0 ? 4 : (n < 0 ? std::max<SQInteger>(-n, 2) : n);
  }
  return 2;
}

// map and apply visit the elements the array held when the call began: what the callback appends is not
// visited, and a callback that shrinks the array ends the walk where the array now ends.
SQInteger arr_map_apply(HSQUIRRELVM v, bool inPlace) {
  return Safe(v, [&] {
    Value self = Arg(v, 1), fn = Arg(v, 2);
    Array* a = self.array();
    SQInteger arity = std::min<SQInteger>(CallArity(fn), 4);
    const size_t count = a->items.size();
    std::vector<Value> out;
    for (size_t i = 0; i < count && i < a->items.size(); ++i) {
      Value args[3] = {a->items[i], Value::Integer(SQInteger(i)), self};
      Value r = v->CallValue(fn, self, int(std::max<SQInteger>(arity - 1, 1)), args);
      if (inPlace) {
        if (i < a->items.size()) a->items[i] = r;
      } else {
        out.push_back(r);
      }
    }
    if (inPlace) return Ret(v, self);
    Array* res = new Array(v->ss, 0);
    Value rv(res);
    res->items = std::move(out);
    return Ret(v, rv);
  });
}
SQInteger arr_map(HSQUIRRELVM v) { return arr_map_apply(v, false); }
SQInteger arr_apply(HSQUIRRELVM v) { return arr_map_apply(v, true); }

SQInteger arr_reduce(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value self = Arg(v, 1), fn = Arg(v, 2);
    std::vector<Value> items = self.array()->items;
    size_t i = 0;
    Value acc;
    if (NArgs(v) >= 3) {
      acc = Arg(v, 3);
    } else {
      if (items.empty()) return Ret(v, Value());
      acc = items[0];
      i = 1;
    }
    for (; i < items.size(); ++i) {
      Value args[2] = {acc, items[i]};
      acc = v->CallValue(fn, self, 2, args);
    }
    return Ret(v, acc);
  });
}

SQInteger arr_filter(HSQUIRRELVM v) {
  return Safe(v, [&] {
    Value self = Arg(v, 1), fn = Arg(v, 2);
    std::vector<Value> items = self.array()->items;
    Array* res = new Array(v->ss, 0);
    Value rv(res);
    for (size_t i = 0; i < items.size(); ++i) {
      Value args[2] = {Value::Integer(SQInteger(i)), items[i]};
      if (v->CallValue(fn, self, 2, args).Truthy()) res->items.push_back(items[i]);
    }
    return Ret(v, rv);
  });
}

// ---- functions ------------------------------------------------------------------------------------

SQInteger fn_call_common(HSQUIRRELVM v, bool raise) {
  SQInteger n = NArgs(v);
  // Stack: fn this args... ; call fn with the given this and args.
  v->Push(Arg(v, 1));
  for (SQInteger i = 2; i <= n; ++i) v->Push(Arg(v, i));
  // A function reached through call() runs as if the script had called it directly: its error is
  // reported only when the calling script does not catch it.
  if (raise) raise = CallerWouldReport(v);
  if (SQ_FAILED(sq_call(v, n - 1, SQTrue, raise ? SQTrue : SQFalse))) return SQ_ERROR;
  return 1;
}
SQInteger fn_call(HSQUIRRELVM v) { return fn_call_common(v, true); }
SQInteger fn_pcall(HSQUIRRELVM v) { return fn_call_common(v, false); }

SQInteger fn_acall_common(HSQUIRRELVM v, bool raise) {
  Value args = Arg(v, 2);
  v->Push(Arg(v, 1));
  for (const Value& a : args.array()->items) v->Push(a);
  // As with call(): reported only when the calling script does not catch it.
  if (raise) raise = CallerWouldReport(v);
  if (SQ_FAILED(sq_call(v, SQInteger(args.array()->items.size()), SQTrue, raise ? SQTrue : SQFalse))) return SQ_ERROR;
  return 1;
}
SQInteger fn_acall(HSQUIRRELVM v) { return fn_acall_common(v, true); }
SQInteger fn_pacall(HSQUIRRELVM v) { return fn_acall_common(v, false); }

SQInteger fn_setroot(HSQUIRRELVM v) {
  v->Push(Arg(v, 2));
  if (SQ_FAILED(sq_setclosureroot(v, 1))) return SQ_ERROR;
  return Ret(v, Arg(v, 1));  // the function itself
}
SQInteger fn_getroot(HSQUIRRELVM v) {
  if (SQ_FAILED(sq_getclosureroot(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger fn_bindenv(HSQUIRRELVM v) {
  v->Push(Arg(v, 2));
  if (SQ_FAILED(sq_bindenv(v, 1))) return SQ_ERROR;
  return 1;
}

Value FuncInfos(HSQUIRRELVM v, const Value& fn) {
  SharedState* ss = v->ss;
  Table* t = new Table(ss, 0);
  Value tv(t);
  if (fn.type == OT_CLOSURE) {
    const sq::CompiledFunction* p = fn.closure()->fp()->code.get();
    t->NewSlot(ss->Str(u"native"), Value::Bool(false));
    // The compiler names function expressions and lambdas "unnamed"; scripts see them without a name.
    t->NewSlot(ss->Str(u"name"), p->name == u"unnamed" ? Value() : ss->Str(p->name));
    t->NewSlot(ss->Str(u"src"), ss->Str(p->sourceName));
    Array* params = new Array(ss, 0);
    Value pv(params);
    for (const std::u16string& n : p->paramNames) params->items.push_back(ss->Str(n));
    if (p->varargs) params->items.push_back(ss->Str(u"vargv"));  // the hidden parameter holding the extra arguments
    t->NewSlot(ss->Str(u"parameters"), pv);
    Array* defs = new Array(ss, 0);
    Value dv(defs);
    defs->items = fn.closure()->defaults;
    t->NewSlot(ss->Str(u"defparams"), dv);
    t->NewSlot(ss->Str(u"varargs"), Value::Integer(p->varargs ? 1 : 0));
  } else if (fn.type == OT_NATIVECLOSURE) {
    NativeClosure* nc = fn.nclosure();
    t->NewSlot(ss->Str(u"native"), Value::Bool(true));
    t->NewSlot(ss->Str(u"name"), nc->name);
    t->NewSlot(ss->Str(u"paramscheck"), Value::Integer(nc->nparamscheck));
    Value tcv;  // null for a native registered without a type mask
    if (!nc->typecheck.empty()) {
      Array* tc = new Array(ss, 0);
      tcv = Value(tc);
      for (SQInteger m : nc->typecheck) tc->items.push_back(Value::Integer(m));
    }
    t->NewSlot(ss->Str(u"typecheck"), tcv);
  }
  return tv;
}
SQInteger fn_getinfos(HSQUIRRELVM v) { return Ret(v, FuncInfos(v, Arg(v, 1))); }

// ---- class and instance ---------------------------------------------------------------------------

SQInteger cls_instance(HSQUIRRELVM v) { return Ret(v, v->CreateInstanceRaw(Arg(v, 1).cls())); }
SQInteger cls_getattributes(HSQUIRRELVM v) {
  v->Push(Arg(v, 2));
  if (SQ_FAILED(sq_getattributes(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger cls_setattributes(HSQUIRRELVM v) {
  v->Push(Arg(v, 2));
  v->Push(Arg(v, 3));
  if (SQ_FAILED(sq_setattributes(v, 1))) return SQ_ERROR;
  return 1;
}
SQInteger cls_getbase(HSQUIRRELVM v) {
  Class* b = Arg(v, 1).cls()->base;
  return Ret(v, b ? Value(b) : Value());
}
SQInteger cls_newmember_common(HSQUIRRELVM v, bool raw) {
  return Safe(v, [&] {
    Value attrs = NArgs(v) >= 4 ? Arg(v, 4) : Value();
    bool isStatic = NArgs(v) >= 5 && Arg(v, 5).Truthy();
    v->AddMember(Arg(v, 1).cls(), Arg(v, 2), Arg(v, 3), attrs, isStatic, raw);
    return Ret(v, Arg(v, 1));
  });
}
SQInteger cls_newmember(HSQUIRRELVM v) { return cls_newmember_common(v, false); }
SQInteger cls_rawnewmember(HSQUIRRELVM v) { return cls_newmember_common(v, true); }
SQInteger inst_getclass(HSQUIRRELVM v) { return Ret(v, Value(Arg(v, 1).instance()->cls)); }

// ---- generator, thread, weakref -------------------------------------------------------------------

SQInteger gen_getstatus(HSQUIRRELVM v) {
  static constexpr SharedState::StatusName names[] = {SharedState::kSuspended, SharedState::kRunning,
                                                      SharedState::kDead};
  return Ret(v, v->ss->statusNames[names[Arg(v, 1).generator()->state]]);
}

SQInteger ThreadResult(HSQUIRRELVM v, VM* t, SQRESULT r) {
  if (SQ_FAILED(r)) {
    v->lastError = t->lastError;
    // Not yet reported (the caller was quiet or catches it): the calling script decides, as for its own errors.
    v->errorReported = t->errorReported;
    return SQ_ERROR;
  }
  if (t->state == SQ_VMSTATE_SUSPENDED) return Ret(v, t->suspendValue);
  Value result = t->Top();
  t->Pop();
  return Ret(v, result);
}

SQInteger thread_call(HSQUIRRELVM v) {
  VM* t = Arg(v, 1).thread();
  if (t->state != SQ_VMSTATE_IDLE) return Throw(v, u"wrong status");
  if (t->top < 1) return Throw(v, u"the thread has no function");
  SQInteger n = NArgs(v);
  Value fn = t->stack[0];
  t->SetTop(1);
  t->Push(fn);
  t->Push(t->roottable);
  for (SQInteger i = 2; i <= n; ++i) t->Push(Arg(v, i));
  SQRESULT r = sq_call(t, n, SQTrue, CallerWouldReport(v) ? SQTrue : SQFalse);
  return ThreadResult(v, t, r);
}

SQInteger thread_wakeup(HSQUIRRELVM v) {
  VM* t = Arg(v, 1).thread();
  if (t->state != SQ_VMSTATE_SUSPENDED) return Throw(v, t->state == SQ_VMSTATE_IDLE ? u"cannot wakeup a idle thread" : u"cannot wakeup a running thread");
  t->Push(NArgs(v) >= 2 ? Arg(v, 2) : Value());
  SQRESULT r = sq_wakeupvm(t, SQTrue, SQTrue, CallerWouldReport(v) ? SQTrue : SQFalse, SQFalse);
  return ThreadResult(v, t, r);
}

SQInteger thread_wakeupthrow(HSQUIRRELVM v) {
  VM* t = Arg(v, 1).thread();
  if (t->state != SQ_VMSTATE_SUSPENDED)
    return Throw(v, t->state == SQ_VMSTATE_IDLE ? u"cannot wakeup a idle thread" : u"cannot wakeup a running thread");
  t->lastError = Arg(v, 2);
  bool propagate = NArgs(v) < 3 || Arg(v, 3).Truthy();
  SQRESULT r = sq_wakeupvm(t, SQFalse, SQTrue, SQFalse, SQTrue);
  if (SQ_FAILED(r) && !propagate) return 0;
  return ThreadResult(v, t, r);
}

SQInteger thread_getstatus(HSQUIRRELVM v) {
  static constexpr SharedState::StatusName names[] = {SharedState::kIdle, SharedState::kRunning,
                                                      SharedState::kSuspended};
  return Ret(v, v->ss->statusNames[names[Arg(v, 1).thread()->state]]);
}

SQInteger thread_getstackinfos(HSQUIRRELVM v) {
  VM* t = Arg(v, 1).thread();
  return Ret(v, StackInfoTable(v, t, Arg(v, 2).AsInt()));
}

SQInteger weak_ref(HSQUIRRELVM v) { return Ret(v, WeakRefValue(Arg(v, 1))); }

// ---- registration ---------------------------------------------------------------------------------

struct Reg {
  const char16_t* name;
  SQFUNCTION fn;
  SQInteger nparams;
  const char16_t* mask;
};

void Register(VM* v, Table* t, const Reg& r) {
  v->Push(Value(new NativeClosure(v->ss, r.fn)));
  if (r.nparams != 0 || r.mask) sq_setparamscheck(v, r.nparams, r.mask);
  NativeClosure* nc = v->Top().nclosure();
  nc->name = v->ss->Str(r.name);
  t->NewSlot(v->ss->Str(r.name), v->Top());
  v->Pop();
}

Value MakeDelegate(VM* v, std::initializer_list<Reg> regs) {
  Table* t = new Table(v->ss, SQInteger(regs.size()));
  Value tv(t);
  for (const Reg& r : regs) Register(v, t, r);
  return tv;
}

}  // namespace

void RegisterBaseLib(VM* v) {
  Table* root = v->roottable.table();
  static const Reg globals[] = {
      {u"print", base_print, 2, nullptr},
      {u"error", base_error, 2, nullptr},
      {u"assert", base_assert, -2, nullptr},
      {u"getroottable", base_getroottable, 1, nullptr},
      {u"setroottable", base_setroottable, 2, nullptr},
      {u"getconsttable", base_getconsttable, 1, nullptr},
      {u"setconsttable", base_setconsttable, 2, nullptr},
      {u"seterrorhandler", base_seterrorhandler, 2, u".c|o"},
      {u"setdebughook", base_setdebughook, 2, u".c|o"},
      {u"enabledebuginfo", base_enabledebuginfo, 2, nullptr},
      {u"type", base_type, 2, nullptr},
      {u"callee", base_callee, 0, nullptr},
      {u"array", base_array, -2, u".n"},
      {u"compilestring", base_compilestring, -2, u".ss"},
      {u"newthread", base_newthread, 2, u".c"},
      {u"suspend", base_suspend, -1, nullptr},
      {u"dummy", base_dummy, 0, nullptr},
      {u"collectgarbage", base_collectgarbage, 0, nullptr},
      {u"resurrectunreachable", base_resurrectunreachable, 0, nullptr},
      {u"getstackinfos", base_getstackinfos, 2, u".n"},
  };
  for (const Reg& r : globals) Register(v, root, r);
  SharedState* ss = v->ss;
  root->NewSlot(ss->Str(u"_version_"), ss->Str(SQUIRREL_VERSION));
  root->NewSlot(ss->Str(u"_versionnumber_"), Value::Integer(SQUIRREL_VERSION_NUMBER));
  root->NewSlot(ss->Str(u"_charsize_"), Value::Integer(SQInteger(sizeof(SQChar))));
  root->NewSlot(ss->Str(u"_intsize_"), Value::Integer(SQInteger(sizeof(SQInteger))));
  root->NewSlot(ss->Str(u"_floatsize_"), Value::Integer(SQInteger(sizeof(SQFloat))));

  Value number = MakeDelegate(v, {{u"tofloat", num_tofloat, 1, u"n|b"},
                                  {u"tointeger", num_tointeger, 1, u"n|b"},
                                  {u"tostring", obj_tostring, 1, nullptr},
                                  {u"tochar", num_tochar, 1, u"n|b"},
                                  {u"weakref", obj_weakref, 1, nullptr}});
  ss->defaultDelegates[RawTypeIndex(OT_INTEGER)] = number;
  ss->defaultDelegates[RawTypeIndex(OT_FLOAT)] = number;
  ss->defaultDelegates[RawTypeIndex(OT_BOOL)] = number;
  ss->defaultDelegates[RawTypeIndex(OT_STRING)] =
      MakeDelegate(v, {{u"len", str_len, 1, u"s"},
                       {u"tointeger", str_tointeger, -1, u"sn"},
                       {u"tofloat", str_tofloat, 1, u"s"},
                       {u"tostring", obj_tostring, 1, nullptr},
                       {u"slice", str_slice, -2, u"snn"},
                       {u"find", str_find, -2, u"s s n"},
                       {u"tolower", str_tolower, -1, u"snn"},
                       {u"toupper", str_toupper, -1, u"snn"},
                       {u"weakref", obj_weakref, 1, nullptr}});
  ss->defaultDelegates[RawTypeIndex(OT_TABLE)] =
      MakeDelegate(v, {{u"len", tbl_len, 1, u"t"},
                       {u"rawget", obj_rawget, 2, u"t"},
                       {u"rawset", obj_rawset, 3, u"t"},
                       {u"rawdelete", tbl_rawdelete, 2, u"t"},
                       {u"rawin", obj_rawin, 2, u"t"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr},
                       {u"clear", tbl_clear, 1, u"t"},
                       {u"setdelegate", tbl_setdelegate, 2, u".t|o"},
                       {u"getdelegate", tbl_getdelegate, 1, u"t"},
                       {u"filter", tbl_filter, 2, u"tc"},
                       {u"map", tbl_map, 2, u"tc"},
                       {u"keys", tbl_keys, 1, u"t"},
                       {u"values", tbl_values, 1, u"t"}});
  ss->defaultDelegates[RawTypeIndex(OT_ARRAY)] =
      MakeDelegate(v, {{u"len", arr_len, 1, u"a"},
                       {u"append", arr_append, 2, u"a"},
                       {u"push", arr_append, 2, u"a"},
                       {u"extend", arr_extend, 2, u"aa"},
                       {u"pop", arr_pop, 1, u"a"},
                       {u"top", arr_top, 1, u"a"},
                       {u"insert", arr_insert, 3, u"an"},
                       {u"remove", arr_remove, 2, u"an"},
                       {u"resize", arr_resize, -2, u"an"},
                       {u"sort", arr_sort, -1, u"ac"},
                       {u"reverse", arr_reverse, 1, u"a"},
                       {u"slice", arr_slice, -2, u"ann"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr},
                       {u"clear", tbl_clear, 1, u"a"},
                       {u"map", arr_map, 2, u"ac"},
                       {u"apply", arr_apply, 2, u"ac"},
                       {u"reduce", arr_reduce, -2, u"ac"},
                       {u"filter", arr_filter, 2, u"ac"},
                       {u"find", arr_find, 2, u"a."}});
  Value fnDelegate = MakeDelegate(v, {{u"call", fn_call, -1, u"c"},
                                      {u"pcall", fn_pcall, -1, u"c"},
                                      {u"acall", fn_acall, 2, u"ca"},
                                      {u"pacall", fn_pacall, 2, u"ca"},
                                      {u"weakref", obj_weakref, 1, nullptr},
                                      {u"tostring", obj_tostring, 1, nullptr},
                                      {u"setroot", fn_setroot, 2, u"ct"},
                                      {u"getroot", fn_getroot, 1, u"c"},
                                      {u"bindenv", fn_bindenv, 2, u"c x|y|t"},
                                      {u"getinfos", fn_getinfos, 1, u"c"},
                                      {u"getfuncinfos", fn_getinfos, 1, u"c"}});
  ss->defaultDelegates[RawTypeIndex(OT_CLOSURE)] = fnDelegate;
  ss->defaultDelegates[RawTypeIndex(OT_NATIVECLOSURE)] = fnDelegate;
  ss->defaultDelegates[RawTypeIndex(OT_CLASS)] =
      MakeDelegate(v, {{u"instance", cls_instance, 1, u"y"},
                       {u"getattributes", cls_getattributes, 2, u"y."},
                       {u"setattributes", cls_setattributes, 3, u"y.."},
                       {u"rawget", obj_rawget, 2, u"y"},
                       {u"rawset", obj_rawset, 3, u"y"},
                       {u"rawin", obj_rawin, 2, u"y"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr},
                       {u"getbase", cls_getbase, 1, u"y"},
                       {u"newmember", cls_newmember, -3, u"y"},
                       {u"rawnewmember", cls_rawnewmember, -3, u"y"}});
  ss->defaultDelegates[RawTypeIndex(OT_INSTANCE)] =
      MakeDelegate(v, {{u"getclass", inst_getclass, 1, u"x"},
                       {u"rawget", obj_rawget, 2, u"x"},
                       {u"rawset", obj_rawset, 3, u"x"},
                       {u"rawin", obj_rawin, 2, u"x"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr}});
  ss->defaultDelegates[RawTypeIndex(OT_GENERATOR)] =
      MakeDelegate(v, {{u"getstatus", gen_getstatus, 1, u"g"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr}});
  ss->defaultDelegates[RawTypeIndex(OT_THREAD)] =
      MakeDelegate(v, {{u"call", thread_call, -1, u"v"},
                       {u"wakeup", thread_wakeup, -1, u"v"},
                       {u"wakeupthrow", thread_wakeupthrow, -2, u"v.b"},
                       {u"getstatus", thread_getstatus, 1, u"v"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr},
                       {u"getstackinfos", thread_getstackinfos, 2, u"vn"}});
  ss->defaultDelegates[RawTypeIndex(OT_WEAKREF)] =
      MakeDelegate(v, {{u"ref", weak_ref, 1, u"r"},
                       {u"weakref", obj_weakref, 1, nullptr},
                       {u"tostring", obj_tostring, 1, nullptr}});
}

}  // namespace bsq
