// The C interface to script objects: tables, arrays, classes, instances, user data, slots, delegates, handles.
#include <algorithm>
#include <unordered_map>

#include "api_support.h"
#include "runtime.h"

using namespace bsq;

// ---- object creation ------------------------------------------------------------------------------

SQUserPointer sq_newuserdata(HSQUIRRELVM v, SQUnsignedInteger size) {
  UserData* u = new UserData(v->ss, size);
  v->Push(Value(u));
  return u->data;
}
void sq_newtable(HSQUIRRELVM v) { v->Push(Value(new Table(v->ss, 0))); }
void sq_newtableex(HSQUIRRELVM v, SQInteger initialcapacity) { v->Push(Value(new Table(v->ss, initialcapacity))); }
void sq_newarray(HSQUIRRELVM v, SQInteger size) { v->Push(Value(new Array(v->ss, size))); }

// ---- user data and type tags ----------------------------------------------------------------------

SQRESULT sq_getuserdata(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer* typetag) {
  const Value& o = v->At(idx);
  if (o.type != OT_USERDATA) return TypeFail(v, o);
  *p = o.userdata()->data;
  if (typetag) *typetag = o.userdata()->typetag;
  return SQ_OK;
}

SQRESULT sq_settypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer typetag) {
  const Value& o = v->At(idx);
  if (o.type == OT_USERDATA) o.userdata()->typetag = typetag;
  else if (o.type == OT_CLASS) o.cls()->typetag = typetag;
  else return Fail(v, u"invalid object type");
  return SQ_OK;
}

SQRESULT sq_getobjtypetag(const HSQOBJECT* o, SQUserPointer* typetag) {
  switch (o->_type) {
    case OT_INSTANCE: *typetag = o->_unVal.pInstance->cls ? o->_unVal.pInstance->cls->typetag : nullptr; break;
    case OT_USERDATA: *typetag = o->_unVal.pUserData->typetag; break;
    case OT_CLASS: *typetag = o->_unVal.pClass->typetag; break;
    default: return SQ_ERROR;
  }
  return SQ_OK;
}

SQRESULT sq_gettypetag(HSQUIRRELVM v, SQInteger idx, SQUserPointer* typetag) {
  const Value& o = v->At(idx);
  if (SQ_FAILED(sq_getobjtypetag(&o.raw(), typetag))) return Fail(v, u"invalid object type");
  return SQ_OK;
}

void sq_setreleasehook(HSQUIRRELVM v, SQInteger idx, SQRELEASEHOOK hook) {
  const Value& o = v->At(idx);
  if (o.type == OT_USERDATA) o.userdata()->hook = hook;
  else if (o.type == OT_INSTANCE) o.instance()->hook = hook;
  else if (o.type == OT_CLASS) o.cls()->hook = hook;
}

SQRELEASEHOOK sq_getreleasehook(HSQUIRRELVM v, SQInteger idx) {
  const Value& o = v->At(idx);
  if (o.type == OT_USERDATA) return o.userdata()->hook;
  if (o.type == OT_INSTANCE) return o.instance()->hook;
  if (o.type == OT_CLASS) return o.cls()->hook;
  return nullptr;
}

// ---- classes and instances ------------------------------------------------------------------------

SQRESULT sq_getbase(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type != OT_CLASS) return TypeFail(v, o);
  v->Push(o.cls()->base ? Value(o.cls()->base) : Value());
  return SQ_OK;
}

SQBool sq_instanceof(HSQUIRRELVM v) {
  const Value& inst = v->At(-2);
  const Value& cls = v->At(-1);
  if (inst.type != OT_INSTANCE || cls.type != OT_CLASS) return SQFalse;
  return inst.instance()->InstanceOf(cls.cls()) ? SQTrue : SQFalse;
}

SQRESULT sq_setinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer p) {
  const Value& o = v->At(idx);
  if (o.type != OT_INSTANCE) return Fail(v, u"the object is not a class instance");
  o.instance()->up = p;
  return SQ_OK;
}

SQRESULT sq_getinstanceup(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p, SQUserPointer typetag, SQBool throwerror) {
  const Value& o = v->At(idx);
  if (o.type != OT_INSTANCE) {
    if (throwerror) return Fail(v, u"the object is not a class instance");
    return SQ_ERROR;
  }
  if (typetag) {
    bool match = false;
    for (const Class* c = o.instance()->cls; c; c = c->base) {
      if (c->typetag == typetag) {
        match = true;
        break;
      }
    }
    if (!match) {
      if (throwerror) return Fail(v, u"invalid type tag");
      return SQ_ERROR;
    }
  }
  *p = o.instance()->up;
  return SQ_OK;
}

SQRESULT sq_setclassudsize(HSQUIRRELVM v, SQInteger idx, SQInteger udsize) {
  const Value& o = v->At(idx);
  if (o.type != OT_CLASS) return Fail(v, u"the object is not a class");
  if (o.cls()->locked) return Fail(v, u"the class is locked");
  o.cls()->udsize = udsize;
  return SQ_OK;
}

SQRESULT sq_newclass(HSQUIRRELVM v, SQBool hasbase) {
  Class* base = nullptr;
  Value bv;
  if (hasbase) {
    bv = v->At(-1);
    if (bv.type != OT_CLASS) return Fail(v, u"invalid base type");
    base = bv.cls();
  }
  Class* c = new Class(v->ss, base);
  Value cv(c);
  if (hasbase) v->Pop();
  v->Push(std::move(cv));
  return SQ_OK;
}

SQRESULT sq_createinstance(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type != OT_CLASS) return Fail(v, u"the object is not a class");
  v->Push(v->CreateInstanceRaw(o.cls()));
  return SQ_OK;
}

static ClassMember* FindMember(Class* c, const Value& key) {
  Value h;
  if (!c->members->Get(key, h)) return nullptr;
  SQInteger i = MemberIndex(h.v.nInteger);
  return (h.v.nInteger & kMemberField) ? &c->fields[size_t(i)] : &c->methods[size_t(i)];
}

SQRESULT sq_setattributes(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type != OT_CLASS) return Fail(v, u"the object is not a class");
  Value key = v->At(-2), val = v->At(-1);
  Value old;
  if (key.IsNull()) {
    old = o.cls()->attrs;
    o.cls()->attrs = val;
  } else if (ClassMember* m = FindMember(o.cls(), key)) {
    old = m->attrs;
    m->attrs = val;
  } else {
    return Fail(v, u"wrong index");
  }
  v->Pop(2);
  v->Push(std::move(old));
  return SQ_OK;
}

SQRESULT sq_getattributes(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type != OT_CLASS) return Fail(v, u"the object is not a class");
  Value key = v->At(-1);
  Value r;
  if (key.IsNull()) r = o.cls()->attrs;
  else if (ClassMember* m = FindMember(o.cls(), key)) r = m->attrs;
  else return Fail(v, u"wrong index");
  v->Pop();
  v->Push(std::move(r));
  return SQ_OK;
}

SQRESULT sq_getclass(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type != OT_INSTANCE) return Fail(v, u"the object is not a class instance");
  v->Push(Value(o.instance()->cls));
  return SQ_OK;
}

void sq_weakref(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  v->Push(NewWeakRef(v->ss, o));
}

SQRESULT sq_getdefaultdelegate(HSQUIRRELVM v, SQObjectType t) {
  const Value& d = v->ss->defaultDelegates[RawTypeIndex(t)];
  if (d.IsNull()) return Fail(v, u"the type doesn't have a default delegate");
  v->Push(d);
  return SQ_OK;
}

SQRESULT sq_getmemberhandle(HSQUIRRELVM v, SQInteger idx, HSQMEMBERHANDLE* handle) {
  Value o = v->At(idx);
  if (o.type != OT_CLASS) return Fail(v, u"the object is not a class");
  Value key = v->At(-1);
  Value h;
  if (!o.cls()->members->Get(key, h)) return Fail(v, u"wrong index");
  handle->_static = (h.v.nInteger & kMemberField) ? SQFalse : SQTrue;
  handle->_index = MemberIndex(h.v.nInteger);
  v->Pop();
  return SQ_OK;
}

static Value* HandleSlot(HSQUIRRELVM v, const Value& o, const HSQMEMBERHANDLE* handle) {
  if (o.type == OT_INSTANCE) {
    Instance* inst = o.instance();
    if (handle->_static) {
      if (size_t(handle->_index) < inst->cls->methods.size()) return &inst->cls->methods[size_t(handle->_index)].val;
    } else if (size_t(handle->_index) < inst->nfields) {
      return &inst->fields[size_t(handle->_index)];
    }
  } else if (o.type == OT_CLASS) {
    Class* c = o.cls();
    if (handle->_static) {
      if (size_t(handle->_index) < c->methods.size()) return &c->methods[size_t(handle->_index)].val;
    } else if (size_t(handle->_index) < c->fields.size()) {
      return &c->fields[size_t(handle->_index)].val;
    }
  }
  (void)v;
  return nullptr;
}

SQRESULT sq_getbyhandle(HSQUIRRELVM v, SQInteger idx, const HSQMEMBERHANDLE* handle) {
  Value o = v->At(idx);
  Value* slot = HandleSlot(v, o, handle);
  if (!slot) return Fail(v, u"wrong handle");
  Value r = *slot;
  v->Push(std::move(r));
  return SQ_OK;
}

SQRESULT sq_setbyhandle(HSQUIRRELVM v, SQInteger idx, const HSQMEMBERHANDLE* handle) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value o = v->At(idx);
  Value* slot = HandleSlot(v, o, handle);
  if (!slot) return Fail(v, u"wrong handle");
  *slot = v->Top();
  v->Pop();
  return SQ_OK;
}

// ---- object manipulation ----------------------------------------------------------------------------

void sq_pushroottable(HSQUIRRELVM v) { v->Push(v->roottable); }
void sq_pushregistrytable(HSQUIRRELVM v) { v->Push(v->ss->registry); }
void sq_pushconsttable(HSQUIRRELVM v) { v->Push(v->ss->consttable); }

SQRESULT sq_setroottable(HSQUIRRELVM v) {
  if (v->top <= v->stackBase) return Fail(v, u"invalid type");
  Value o = v->Top();
  if (o.type != OT_TABLE && o.type != OT_NULL) return Fail(v, u"invalid type");
  v->roottable = o;
  v->Pop();
  return SQ_OK;
}

SQRESULT sq_setconsttable(HSQUIRRELVM v) {
  Value o = v->At(-1);
  if (o.type != OT_TABLE) return Fail(v, u"invalid type, expected table");
  v->ss->consttable = o;
  v->Pop();
  return SQ_OK;
}

SQRESULT sq_newslot(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) {
  if (v->top - v->stackBase < 3) return Fail(v, u"not enough parameters in the stack");
  Value self = v->At(idx);
  if (self.type != OT_TABLE && self.type != OT_CLASS) return Fail(v, u"invalid type");
  Value key = v->At(-2), val = v->At(-1);
  if (key.IsNull()) return Fail(v, u"null is not a valid key");
  // The key and the value leave the stack whether or not the slot could be made.
  SQRESULT r = Guard(v, [&] {
    v->NewSlot(self, key, val, bstatic != 0);
    return SQ_OK;
  });
  v->Pop(2);
  return r;
}

SQRESULT sq_deleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value self = v->At(idx);
  Value key = v->Top();
  if (key.IsNull()) return Fail(v, u"null is not a valid key");
  Value removed;
  SQRESULT r = Guard(v, [&] {
    Value mm;
    // A missing slot is not an error here, unlike the script's delete operator.
    if (self.type != OT_TABLE || self.table()->Find(key) || v->GetMeta(self, MT_DELSLOT, mm)) removed = v->Delete(self, key);
    return SQ_OK;
  });
  v->Pop();
  if (SQ_SUCCEEDED(r) && pushval) v->Push(std::move(removed));
  return r;
}

SQRESULT sq_set(HSQUIRRELVM v, SQInteger idx) {
  Value self = v->At(idx);
  Value key = v->At(-2), val = v->At(-1);
  SQRESULT r = Guard(v, [&] {
    v->Set(self, key, val);
    return SQ_OK;
  });
  sq_pop(v, 2);
  return r;
}

SQRESULT sq_get(HSQUIRRELVM v, SQInteger idx) {
  if (v->top <= v->stackBase) return Fail(v, u"no key on the stack");
  Value self = v->At(idx);
  Value key = v->Top();
  SQInteger keySlot = v->top - 1;
  try {
    Value out;
    if (v->Get(self, key, out)) {
      v->SetTop(keySlot + 1);
      v->stack[size_t(keySlot)] = std::move(out);
      return SQ_OK;
    }
    v->lastError = v->ss->Str(u"the index doesn't exist");
  } catch (ScriptThrow&) {
  }
  v->SetTop(keySlot);
  return SQ_ERROR;
}

SQRESULT sq_rawget(HSQUIRRELVM v, SQInteger idx) {
  Value self = v->At(idx);
  Value key = v->Top();
  v->Pop();
  if (self.type != OT_TABLE && self.type != OT_ARRAY && self.type != OT_CLASS && self.type != OT_INSTANCE)
    return Fail(v, u"rawget works only on array/table/instance and class");
  Value out;
  if (!v->Get(self, key, out, true)) return Fail(v, u"the index doesn't exist");
  v->Push(std::move(out));
  return SQ_OK;
}

SQRESULT sq_rawset(HSQUIRRELVM v, SQInteger idx) {
  if (!HasOperands(v, 2)) return Fail(v, u"missing operand on the stack");
  Value self = v->At(idx);
  Value key = v->At(-2), val = v->At(-1);
  v->Pop(2);
  if (key.IsNull()) return Fail(v, u"null key");
  return Guard(v, [&] {
    switch (self.type) {
      case OT_TABLE: self.table()->NewSlot(key, val); return SQ_OK;
      case OT_CLASS: v->AddMember(self.cls(), key, val, Value(), false, true); return SQ_OK;
      case OT_INSTANCE:
      case OT_ARRAY: v->Set(self, key, val, true); return SQ_OK;
      default: return Fail(v, u"rawset works only on array/table/class and instance");
    }
  });
}

SQRESULT sq_rawdeleteslot(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value self = v->At(idx);
  Value key = v->Top();
  v->Pop();
  if (self.type != OT_TABLE) return Fail(v, u"invalid type");
  Value removed;
  self.table()->Remove(key, &removed);
  if (pushval) v->Push(std::move(removed));
  return SQ_OK;
}

static SQRESULT NewMember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic, bool raw) {
  Value self = v->At(idx);
  if (self.type != OT_CLASS) return Fail(v, u"new member only works with classes");
  Value key = v->At(-3), val = v->At(-2), attrs = v->At(-1);
  if (key.IsNull()) return Fail(v, u"null key");
  SQRESULT r = Guard(v, [&] {
    v->AddMember(self.cls(), key, val, attrs, bstatic != 0, raw);
    return SQ_OK;
  });
  v->Pop(3);
  return r;
}
SQRESULT sq_newmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) { return NewMember(v, idx, bstatic, false); }
SQRESULT sq_rawnewmember(HSQUIRRELVM v, SQInteger idx, SQBool bstatic) { return NewMember(v, idx, bstatic, true); }

static Array* ArrayAt(HSQUIRRELVM v, SQInteger idx) {
  const Value& o = v->At(idx);
  return o.type == OT_ARRAY ? o.array() : nullptr;
}

SQRESULT sq_arrayappend(HSQUIRRELVM v, SQInteger idx) {
  Array* a = ArrayAt(v, idx);
  if (!a) return Fail(v, u"the object is not an array");
  if (!v->ValidIndex(-1)) return Fail(v, u"nothing to append");
  a->items.push_back(v->Top());
  v->Pop();
  return SQ_OK;
}

SQRESULT sq_arraypop(HSQUIRRELVM v, SQInteger idx, SQBool pushval) {
  Array* a = ArrayAt(v, idx);
  if (!a) return Fail(v, u"the object is not an array");
  if (a->items.empty()) return Fail(v, u"empty array");
  Value last = std::move(a->items.back());
  a->items.pop_back();
  if (pushval) v->Push(std::move(last));
  return SQ_OK;
}

SQRESULT sq_arrayresize(HSQUIRRELVM v, SQInteger idx, SQInteger newsize) {
  Array* a = ArrayAt(v, idx);
  if (!a) return Fail(v, u"the object is not an array");
  if (newsize < 0) return Fail(v, u"negative size");
  a->items.resize(size_t(newsize));
  return SQ_OK;
}

SQRESULT sq_arrayreverse(HSQUIRRELVM v, SQInteger idx) {
  Array* a = ArrayAt(v, idx);
  if (!a) return Fail(v, u"the object is not an array");
  std::reverse(a->items.begin(), a->items.end());
  return SQ_OK;
}

SQRESULT sq_arrayremove(HSQUIRRELVM v, SQInteger idx, SQInteger itemidx) {
  Array* a = ArrayAt(v, idx);
  if (!a) return Fail(v, u"the object is not an array");
  if (itemidx < 0 || size_t(itemidx) >= a->items.size()) return Fail(v, u"index out of range");
  a->items.erase(a->items.begin() + itemidx);
  return SQ_OK;
}

SQRESULT sq_arrayinsert(HSQUIRRELVM v, SQInteger idx, SQInteger destpos) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Array* a = ArrayAt(v, idx);
  if (!a) return Fail(v, u"the object is not an array");
  if (destpos < 0 || size_t(destpos) > a->items.size()) {
    v->Pop();
    return Fail(v, u"index out of range");
  }
  a->items.insert(a->items.begin() + destpos, v->Top());
  v->Pop();
  return SQ_OK;
}

SQRESULT sq_setdelegate(HSQUIRRELVM v, SQInteger idx) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value self = v->At(idx);
  Value d = v->Top();
  if (d.type != OT_TABLE && d.type != OT_NULL) return Fail(v, u"only tables can be delegates");
  Table* dt = d.type == OT_TABLE ? d.table() : nullptr;
  if (self.type == OT_TABLE) {
    // Only a table that already serves as a delegate can close a cycle; then one walk of the chain decides.
    if (dt == self.table() || self.table()->delegators > 0)
      for (Table* t = dt; t; t = t->delegate)
        if (t == self.table()) return Fail(v, u"delegate cycle");
    self.table()->SetDelegate(dt);
  } else if (self.type == OT_USERDATA) {
    UserData* u = self.userdata();
    if (dt) dt->AddRef();
    if (u->delegate) u->delegate->Release();
    u->delegate = dt;
  } else {
    return TypeFail(v, self);
  }
  v->Pop();
  return SQ_OK;
}

SQRESULT sq_getdelegate(HSQUIRRELVM v, SQInteger idx) {
  Value self = v->At(idx);
  if (self.type == OT_TABLE) v->Push(self.table()->delegate ? Value(self.table()->delegate) : Value());
  else if (self.type == OT_USERDATA) v->Push(self.userdata()->delegate ? Value(self.userdata()->delegate) : Value());
  else return TypeFail(v, self);
  return SQ_OK;
}

SQRESULT sq_clone(HSQUIRRELVM v, SQInteger idx) {
  return Guard(v, [&] {
    Value o = v->At(idx);
    v->Push(v->Clone(o));
    return SQ_OK;
  });
}

SQRESULT sq_next(HSQUIRRELVM v, SQInteger idx) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value self = v->At(idx);
  Value iter = v->Top();
  SQInteger pos = iter.type == OT_INTEGER ? iter.v.nInteger : 0;
  Value key, val;
  switch (self.type) {
    case OT_TABLE: {
      int32_t next = self.table()->Next(pos, key, val);
      if (next < 0) return SQ_ERROR;
      v->Top() = Value::Integer(next);
      break;
    }
    case OT_ARRAY: {
      Array* a = self.array();
      if (size_t(pos) >= a->items.size()) return SQ_ERROR;
      key = Value::Integer(pos);
      val = a->items[size_t(pos)];
      v->Top() = Value::Integer(pos + 1);
      break;
    }
    case OT_CLASS: {
      Value h;
      int32_t next = self.cls()->members->Next(pos, key, h);
      if (next < 0) return SQ_ERROR;
      self.cls()->GetMember(key, val);
      v->Top() = Value::Integer(next);
      break;
    }
    case OT_INSTANCE: {
      Value h;
      Instance* inst = self.instance();
      int32_t next = inst->cls->members->Next(pos, key, h);
      if (next < 0) return SQ_ERROR;
      inst->Get(key, val);
      v->Top() = Value::Integer(next);
      break;
    }
    default: return Fail(v, u"cannot iterate a generator");
  }
  v->Push(std::move(key));
  v->Push(std::move(val));
  return SQ_OK;
}

SQRESULT sq_getweakrefval(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type != OT_WEAKREF) return Fail(v, u"the object must be a weakref");
  v->Push(WeakRefValue(o));
  return SQ_OK;
}

SQRESULT sq_clear(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type == OT_TABLE) o.table()->Clear();
  else if (o.type == OT_ARRAY) o.array()->items.clear();
  else return Fail(v, u"clear only works on table and array");
  return SQ_OK;
}

// ---- raw objects ----------------------------------------------------------------------------------

SQRESULT sq_getstackobj(HSQUIRRELVM v, SQInteger idx, HSQOBJECT* po) {
  *po = v->At(idx).raw();
  return SQ_OK;
}

void sq_pushobject(HSQUIRRELVM v, HSQOBJECT obj) { v->Push(Value(obj)); }

void sq_addref(HSQUIRRELVM v, HSQOBJECT* po) {
  if (!ISREFCOUNTED(po->_type)) return;
  po->_unVal.pRefCounted->AddRef();
  ++v->ss->hostRefs[po->_unVal.pRefCounted];
}

SQBool sq_release(HSQUIRRELVM v, HSQOBJECT* po) {
  if (!ISREFCOUNTED(po->_type)) return SQTrue;
  Object* o = po->_unVal.pRefCounted;
  auto& counts = v->ss->hostRefs;
  auto it = counts.find(o);
  if (it == counts.end()) return SQFalse;
  bool last = --it->second == 0;
  if (last) {
    counts.erase(it);
    sq_resetobject(po);  // the handle no longer keeps anything alive
  }
  o->Release();
  return last ? SQTrue : SQFalse;
}

SQUnsignedInteger sq_getrefcount(HSQUIRRELVM v, HSQOBJECT* po) {
  if (!ISREFCOUNTED(po->_type)) return 0;
  auto& counts = v->ss->hostRefs;
  auto it = counts.find(po->_unVal.pRefCounted);
  return it == counts.end() ? 0 : it->second;
}

SQUnsignedInteger sq_getvmrefcount(HSQUIRRELVM, const HSQOBJECT* po) {
  return ISREFCOUNTED(po->_type) ? po->_unVal.pRefCounted->refCount : 0;
}

SQBool sq_hasweakref(const HSQOBJECT* po) {
  return ISREFCOUNTED(po->_type) && po->_unVal.pRefCounted->weak != nullptr ? SQTrue : SQFalse;
}

void sq_resetobject(HSQOBJECT* po) {
  po->_type = OT_NULL;
  po->_unVal.raw = 0;
}

const SQChar* sq_objtostring(const HSQOBJECT* o) {
  return o->_type == OT_STRING ? o->_unVal.pString->chars() : nullptr;
}
SQBool sq_objtobool(const HSQOBJECT* o) { return o->_type == OT_BOOL && o->_unVal.nInteger ? SQTrue : SQFalse; }
SQInteger sq_objtointeger(const HSQOBJECT* o) {
  if (o->_type == OT_INTEGER || o->_type == OT_BOOL) return o->_unVal.nInteger;
  if (o->_type == OT_FLOAT) return Value::FloatToInt(o->_unVal.fFloat);
  return 0;
}
SQFloat sq_objtofloat(const HSQOBJECT* o) {
  if (o->_type == OT_FLOAT) return o->_unVal.fFloat;
  if (o->_type == OT_INTEGER) return SQFloat(o->_unVal.nInteger);
  return 0;
}
SQUserPointer sq_objtouserpointer(const HSQOBJECT* o) {
  return o->_type == OT_USERPOINTER ? o->_unVal.pUserPointer : nullptr;
}
