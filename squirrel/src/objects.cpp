// Heap objects: strings, tables, arrays, classes, instances, closures and the cycle collector.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "fused.h"
#include "runtime.h"

namespace bsq {

Object::~Object() {
  if (weak) {
    weak->target = nullptr;
    weak->targetType = OT_NULL;
    WeakRef* w = weak;
    weak = nullptr;
    w->Release();
  }
  Untrack();
}

namespace {
thread_local Object* t_pendingFree = nullptr;
thread_local bool t_freeing = false;
}  // namespace

void* Object::operator new(size_t n) { return PoolAlloc(n); }
void Object::operator delete(void* p, size_t n) { PoolFree(p, n); }

void Object::Free() {
  if (t_freeing) {
    // A dead object waits off the collector's list (a collection run by a release hook meanwhile
    // must not free it a second time), linked through its own collector link, so that deferring
    // never allocates: it also happens while memory is exhausted.
    Untrack();
    gcNext = t_pendingFree;
    t_pendingFree = this;
    return;
  }
  t_freeing = true;
  Destroy();
  while (t_pendingFree) {
    Object* o = t_pendingFree;
    t_pendingFree = o->gcNext;
    o->gcNext = nullptr;
    o->Destroy();
  }
  t_freeing = false;
}

void Object::Track(SharedState* ss) {
  tracker = ss;
  gcPrev = nullptr;
  gcNext = ss->gcHead;
  if (ss->gcHead) ss->gcHead->gcPrev = this;
  ss->gcHead = this;
  ++ss->gcCount;
}

void Object::Untrack() {
  if (!tracker) return;
  if (gcPrev) gcPrev->gcNext = gcNext;
  else tracker->gcHead = gcNext;
  if (gcNext) gcNext->gcPrev = gcPrev;
  --tracker->gcCount;
  tracker = nullptr;
  gcPrev = gcNext = nullptr;
}

WeakRef::~WeakRef() {
  if (target) target->weak = nullptr;
}

// ---- strings ------------------------------------------------------------------------------------

SQHash HashChars(const SQChar* s, SQInteger len) {
  // Long strings hash a sample of their units: building a long string piece by piece would
  // otherwise rehash every unit each time. Equal hashes are still compared in full.
  SQHash h = 2166136261u ^ SQHash(len);
  SQInteger step = (len >> 5) + 1;
  for (SQInteger i = len; i >= step; i -= step) h = (h ^ SQHash(s[i - 1])) * 16777619u;
  if (len > 0) h = (h ^ SQHash(s[0])) * 16777619u;
  return h;
}

String* String::Make(SharedState* ss, const SQChar* s, SQInteger len) { return ss->Intern(s, len); }

void String::Destroy() {
  shared->Unintern(this);
  size_t bytes = Bytes(len);
  this->~String();
  PoolFree(this, bytes);
}

// Concatenation writes both operands once into an exactly sized string, which the intern table
// adopts unless an equal string already exists.
String* SharedState::Concat(const SQChar* a, SQInteger alen, const SQChar* b, SQInteger blen) {
  SQInteger len = alen + blen;
  void* mem = PoolAlloc(String::Bytes(len));
  String* str = new (mem) String();
  str->len = len;
  if (alen) std::memcpy(str->chars(), a, size_t(alen) * sizeof(SQChar));
  if (blen) std::memcpy(str->chars() + alen, b, size_t(blen) * sizeof(SQChar));
  str->chars()[len] = 0;
  SQHash h = HashChars(str->chars(), len);
  if (strBuckets.empty()) strBuckets.assign(kInitialStringBuckets, nullptr);
  size_t bucket = h & (strBuckets.size() - 1);
  for (String* p = strBuckets[bucket]; p; p = p->chainNext) {
    if (p->hash == h && p->len == len && std::memcmp(p->chars(), str->chars(), size_t(len) * sizeof(SQChar)) == 0) {
      str->~String();
      PoolFree(mem, String::Bytes(len));
      return p;
    }
  }
  str->hash = h;
  Link(str, bucket);
  return str;
}

void SharedState::Link(String* str, size_t bucket) {
  str->shared = this;
  str->chainNext = strBuckets[bucket];
  strBuckets[bucket] = str;
  if (++strCount > strBuckets.size() * 2) {
    std::vector<String*> nb(strBuckets.size() * 4, nullptr);
    for (String* head : strBuckets) {
      while (head) {
        String* next = head->chainNext;
        size_t nbI = head->hash & (nb.size() - 1);
        head->chainNext = nb[nbI];
        nb[nbI] = head;
        head = next;
      }
    }
    strBuckets.swap(nb);
  }
}

String* SharedState::Intern(const SQChar* s, SQInteger len) {
  if (len < 0) {
    len = 0;
    while (s[len]) ++len;
  }
  if (strBuckets.empty()) strBuckets.assign(kInitialStringBuckets, nullptr);
  SQHash h = HashChars(s, len);
  size_t b = h & (strBuckets.size() - 1);
  for (String* p = strBuckets[b]; p; p = p->chainNext) {
    if (p->hash == h && p->len == len && std::memcmp(p->chars(), s, size_t(len) * sizeof(SQChar)) == 0) return p;
  }
  void* mem = PoolAlloc(String::Bytes(len));
  String* str = new (mem) String();
  str->len = len;
  str->hash = h;
  if (len) std::memcpy(str->chars(), s, size_t(len) * sizeof(SQChar));
  str->chars()[len] = 0;
  Link(str, b);
  return str;
}

void SharedState::Unintern(String* s) {
  size_t b = s->hash & (strBuckets.size() - 1);
  String** pp = &strBuckets[b];
  while (*pp && *pp != s) pp = &(*pp)->chainNext;
  if (*pp) {
    *pp = s->chainNext;
    --strCount;
  }
}

// ---- tables -------------------------------------------------------------------------------------

SQHash HashValue(const Value& key) {
  switch (key.type) {
    case OT_STRING: return key.v.pString->hash;
    case OT_INTEGER:
    case OT_BOOL: return SQHash(key.v.nInteger) * 2654435761u;
    case OT_FLOAT: return (SQHash(key.v.raw) * 2246822519u) ^ 0x5bd1e995u;
    default: return SQHash(reinterpret_cast<uintptr_t>(key.v.pUserPointer) >> 3) * 2654435761u;
  }
}

Table::Table(SharedState* ss, SQInteger wanted) : Object(OT_TABLE) {
  size_t cap = kInlineNodes;
  while (cap < size_t(wanted)) cap <<= 1;
  Allocate(cap);
  Track(ss);
}

void Table::Allocate(size_t newCapacity) {
  capacity = uint32_t(newCapacity);
  if (newCapacity <= kInlineNodes) {
    nodes = inlineNodes_;
    buckets = inlineBuckets_;
  } else {
    void* block = PoolAlloc(newCapacity * (sizeof(Node) + sizeof(int32_t)));
    nodes = static_cast<Node*>(block);
    for (size_t i = 0; i < newCapacity; ++i) new (&nodes[i]) Node();
    buckets = reinterpret_cast<int32_t*>(nodes + newCapacity);
  }
  for (size_t i = 0; i < newCapacity; ++i) buckets[i] = -1;
}

void Table::FreeStorage(Node* block, uint32_t cap) {
  if (block == inlineNodes_) {
    for (uint32_t i = 0; i < cap; ++i) {
      block[i].key.SetNull();
      block[i].val.SetNull();
      block[i].next = -1;
    }
    return;
  }
  for (uint32_t i = 0; i < cap; ++i) block[i].~Node();
  PoolFree(block, cap * (sizeof(Node) + sizeof(int32_t)));
}

Table::~Table() {
  if (delegate) {
    --delegate->delegators;
    delegate->Release();
  }
  if (nodes != inlineNodes_) FreeStorage(nodes, capacity);  // inline nodes go with the object
}

Table::Node* Table::Find(const Value& key) const {
  if (key.type == OT_NULL) return nullptr;
  SQHash h = HashValue(key) & SQHash(capacity - 1);
  for (int32_t i = buckets[h]; i >= 0; i = nodes[size_t(i)].next) {
    const Node& n = nodes[size_t(i)];
    if (SameKey(n.key, key)) return const_cast<Node*>(&n);
  }
  return nullptr;
}

bool Table::Get(const Value& key, Value& out) const {
  if (Node* n = Find(key)) {
    out = n->val;
    return true;
  }
  return false;
}

bool Table::SetExisting(const Value& key, const Value& val) {
  if (Node* n = Find(key)) {
    n->val = val;
    return true;
  }
  return false;
}

int32_t Table::AllocNode() {
  if (freeHead >= 0) {
    int32_t i = freeHead;
    freeHead = nodes[size_t(i)].next;
    return i;
  }
  if (uint32_t(used) < capacity) return used++;
  return -1;
}

void Table::Rehash(size_t newCapacity) {
  // The old nodes' keys and values move over; the old storage goes once they are all placed. A grown table
  // never fits inline, so the inline nodes are never both source and destination.
  Node* old = nodes;
  uint32_t oldCapacity = capacity;
  int32_t oldUsed = used;
  Allocate(newCapacity);
  freeHead = -1;
  used = 0;
  count = 0;
  for (int32_t i = 0; i < oldUsed; ++i) {
    Node& n = old[size_t(i)];
    if (n.key.type == OT_NULL) continue;
    int32_t slot = AllocNode();
    Node& dst = nodes[size_t(slot)];
    dst.key = std::move(n.key);
    dst.val = std::move(n.val);
    SQHash h = HashValue(dst.key) & SQHash(capacity - 1);
    dst.next = buckets[h];
    buckets[h] = slot;
    ++count;
  }
  FreeStorage(old, oldCapacity);
}

void Table::NewSlot(const Value& key, const Value& val) {
  if (Node* n = Find(key)) {
    n->val = val;
    return;
  }
  int32_t i = AllocNode();
  if (i < 0) {
    Rehash(size_t(capacity) * 2);
    i = AllocNode();
  }
  Node& n = nodes[size_t(i)];
  n.key = key;
  n.val = val;
  SQHash h = HashValue(key) & SQHash(capacity - 1);
  n.next = buckets[h];
  buckets[h] = i;
  ++count;
}

bool Table::Remove(const Value& key, Value* removed) {
  if (key.type == OT_NULL) return false;
  SQHash h = HashValue(key) & SQHash(capacity - 1);
  int32_t* link = &buckets[h];
  while (*link >= 0) {
    Node& n = nodes[size_t(*link)];
    if (SameKey(n.key, key)) {
      int32_t idx = *link;
      *link = n.next;
      Value k = std::move(n.key);
      Value v = std::move(n.val);
      n.next = freeHead;
      freeHead = idx;
      --count;
      if (removed) *removed = v;
      return true;
    }
    link = &n.next;
  }
  return false;
}

void Table::Clear() {
  // Detached first: releasing a value may run code that reads this table, which then finds it empty.
  Node* old = nodes;
  uint32_t oldCapacity = capacity;
  if (old == inlineNodes_) {
    Node moved[kInlineNodes];
    for (uint32_t i = 0; i < oldCapacity; ++i) {
      moved[i].key = std::move(old[i].key);
      moved[i].val = std::move(old[i].val);
    }
    Allocate(kInlineNodes);
    freeHead = -1;
    used = 0;
    count = 0;
    return;  // moved's destructor releases the values
  }
  Allocate(kInlineNodes);
  freeHead = -1;
  used = 0;
  count = 0;
  FreeStorage(old, oldCapacity);
}

int32_t Table::Next(int32_t pos, Value& key, Value& val) const {
  for (int32_t i = std::max(pos, 0); i < used; ++i) {
    const Node& n = nodes[size_t(i)];
    if (n.key.type != OT_NULL) {
      key = n.key;
      val = n.val;
      return i + 1;
    }
  }
  return -1;
}

void Table::SetDelegate(Table* d) {
  if (d) {
    d->AddRef();
    ++d->delegators;
  }
  Table* old = delegate;
  delegate = d;
  if (old) {
    --old->delegators;
    old->Release();
  }
}

Table* Table::Clone(SharedState* ss) const {
  Table* t = new Table(ss, count);
  for (int32_t i = 0; i < used; ++i) {
    const Node& n = nodes[size_t(i)];
    if (n.key.type != OT_NULL) t->NewSlot(n.key, n.val);
  }
  t->SetDelegate(delegate);
  return t;
}

void Table::ClearRefs() {
  Clear();
  SetDelegate(nullptr);
}

void Table::VisitRefs(RefVisitor fn, void* ctx) {
  for (int32_t i = 0; i < used; ++i) {
    const Node& n = nodes[size_t(i)];
    if (n.key.IsRefCounted()) fn(n.key.obj(), ctx);
    if (n.val.IsRefCounted()) fn(n.val.obj(), ctx);
  }
  if (delegate) fn(delegate, ctx);
}

Table* NewTable(SharedState* ss, SQInteger capacity) { return new Table(ss, capacity); }
bool TableGet(Table* t, const Value& key, Value& out) { return t->Get(key, out); }
void TableNewSlot(Table* t, const Value& key, const Value& value) { t->NewSlot(key, value); }

// ---- arrays, userdata ---------------------------------------------------------------------------

static void VisitValues(const std::vector<Value>& values, RefVisitor fn, void* ctx) {
  for (const Value& v : values)
    if (v.IsRefCounted()) fn(v.obj(), ctx);
}
static void VisitValue(const Value& v, RefVisitor fn, void* ctx) {
  if (v.IsRefCounted()) fn(v.obj(), ctx);
}

Array::Array(SharedState* ss, SQInteger size) : Object(OT_ARRAY) {
  items.resize(size_t(std::max<SQInteger>(size, 0)));
  Track(ss);
}
Array::~Array() = default;
void Array::ClearRefs() { std::vector<Value>().swap(items); }
void Array::VisitRefs(RefVisitor fn, void* ctx) { VisitValues(items, fn, ctx); }

UserData::UserData(SharedState* ss, SQUnsignedInteger sz) : Object(OT_USERDATA), size(sz) {
  data = static_cast<unsigned char*>(::operator new(sz ? sz : 1));
  std::memset(data, 0, sz ? sz : 1);
  Track(ss);
}
UserData::~UserData() {
  if (hook) hook(data, SQInteger(size));
  ::operator delete(data);
  if (delegate) delegate->Release();
}
void UserData::ClearRefs() {
  if (delegate) {
    Table* d = delegate;
    delegate = nullptr;
    d->Release();
  }
}
void UserData::VisitRefs(RefVisitor fn, void* ctx) {
  if (delegate) fn(delegate, ctx);
}

// ---- functions ----------------------------------------------------------------------------------

Value WrapProto(SharedState* ss, const std::shared_ptr<sq::CompiledFunction>& proto) {
  FuncProto* fp = new FuncProto();
  Value result(fp);
  fp->code = proto;
  fp->exec = FuseInstructions(*proto);
  fp->memberCache.resize(proto->code.size());
  fp->constants.reserve(proto->constants.size());
  for (const sq::Constant& c : proto->constants) {
    switch (c.kind) {
      case sq::Constant::Null: fp->constants.push_back(Value()); break;
      case sq::Constant::Bool: fp->constants.push_back(Value::Bool(c.i != 0)); break;
      case sq::Constant::Integer: fp->constants.push_back(Value::Integer(c.i)); break;
      case sq::Constant::Float: fp->constants.push_back(Value::Float(c.f)); break;
      case sq::Constant::String: fp->constants.push_back(ss->Str(c.s)); break;
    }
  }
  fp->functions.resize(proto->functions.size());
  fp->name = ss->Str(proto->name);
  fp->sourceName = ss->Str(proto->sourceName);
  return result;
}

Value MakeFuncProto(HSQUIRRELVM v, std::shared_ptr<sq::CompiledFunction> proto) { return WrapProto(v->ss, proto); }

Outer::Outer(SharedState* ss) : Object(OT_OUTER) { Track(ss); }
Outer::~Outer() = default;
Value& Outer::Ref() { return slot >= 0 ? owner->stack[size_t(slot)] : closed; }
void Outer::ClearRefs() { closed.SetNull(); }
void Outer::VisitRefs(RefVisitor fn, void* ctx) { VisitValue(closed, fn, ctx); }

Closure* Closure::Make(SharedState* ss, const Value& proto, size_t nouters) {
  void* mem = PoolAlloc(sizeof(Closure) + nouters * sizeof(Value));
  return new (mem) Closure(ss, proto, reinterpret_cast<Value*>(static_cast<Closure*>(mem) + 1), nouters);
}
Closure::Closure(SharedState* ss, const Value& p, Value* cells, size_t nouters) : Object(OT_CLOSURE), proto(p) {
  outers.data_ = cells;
  outers.n_ = uint32_t(nouters);
  for (size_t i = 0; i < nouters; ++i) new (&cells[i]) Value();
  Track(ss);
}
Closure::~Closure() {
  for (uint32_t i = outers.n_; i > 0; --i) outers.data_[i - 1].~Value();
}
void Closure::Destroy() {
  size_t bytes = sizeof(Closure) + outers.n_ * sizeof(Value);
  this->~Closure();
  PoolFree(this, bytes);
}
void Closure::ClearRefs() {
  // The cells are part of the closure and stay, nulled.
  for (Value& o : outers) o.SetNull();
  std::vector<Value>().swap(defaults);
  env.SetNull();
  root.SetNull();
  ownerBase.SetNull();
}
void Closure::VisitRefs(RefVisitor fn, void* ctx) {
  for (const Value& o : outers) VisitValue(o, fn, ctx);
  VisitValues(defaults, fn, ctx);
  VisitValue(env, fn, ctx);
  VisitValue(root, fn, ctx);
  VisitValue(ownerBase, fn, ctx);
  VisitValue(proto, fn, ctx);
}

NativeClosure::NativeClosure(SharedState* ss, SQFUNCTION f) : Object(OT_NATIVECLOSURE), fn(f) { Track(ss); }
NativeClosure::~NativeClosure() = default;
void NativeClosure::ClearRefs() {
  std::vector<Value>().swap(outers);
  env.SetNull();
}
void NativeClosure::VisitRefs(RefVisitor visit, void* ctx) {
  VisitValues(outers, visit, ctx);
  VisitValue(env, visit, ctx);
  VisitValue(name, visit, ctx);
}

Generator::Generator(SharedState* ss, const Value& c) : Object(OT_GENERATOR), closure(c) { Track(ss); }
Generator::~Generator() = default;
void Generator::ClearRefs() {
  closure.SetNull();
  std::vector<Value>().swap(stack);
  state = Dead;
}
void Generator::VisitRefs(RefVisitor fn, void* ctx) {
  VisitValue(closure, fn, ctx);
  VisitValues(stack, fn, ctx);
}

// ---- classes ------------------------------------------------------------------------------------

Class::Class(SharedState* ss, Class* b) : Object(OT_CLASS), base(b), serial(++ss->classSerials) {
  if (base) {
    base->AddRef();
    members = base->members->Clone(ss);
    fields = base->fields;
    methods = base->methods;
    for (int i = 0; i < MT_COUNT; ++i) metamethods[i] = base->metamethods[i];
    constructor = base->constructor;
    udsize = base->udsize;
    hook = base->hook;
  } else {
    members = new Table(ss, 0);
  }
  members->AddRef();
  Track(ss);
}

Class::~Class() {
  if (members) members->Release();
  if (base) base->Release();
}

bool Class::GetMember(const Value& key, Value& out) const {
  Value h;
  if (!members->Get(key, h)) return false;
  SQInteger idx = MemberIndex(h.v.nInteger);
  out = (h.v.nInteger & kMemberField) ? fields[size_t(idx)].val : methods[size_t(idx)].val;
  return true;
}

void Class::ClearRefs() {
  if (members) members->Clear();
  fields.clear();
  methods.clear();
  for (Value& m : metamethods) m.SetNull();
  attrs.SetNull();
  constructor.SetNull();
  if (base) {
    Class* b = base;
    base = nullptr;
    b->Release();
  }
}

void Class::VisitRefs(RefVisitor fn, void* ctx) {
  if (base) fn(base, ctx);
  if (members) fn(members, ctx);
  for (const ClassMember& m : fields) {
    VisitValue(m.val, fn, ctx);
    VisitValue(m.attrs, fn, ctx);
  }
  for (const ClassMember& m : methods) {
    VisitValue(m.val, fn, ctx);
    VisitValue(m.attrs, fn, ctx);
  }
  for (const Value& m : metamethods) VisitValue(m, fn, ctx);
  VisitValue(attrs, fn, ctx);
  VisitValue(constructor, fn, ctx);
}

Instance* Instance::Make(SharedState* ss, Class* c) {
  size_t n = c->fields.size();
  void* mem = PoolAlloc(sizeof(Instance) + n * sizeof(Value));
  return new (mem) Instance(ss, c, reinterpret_cast<Value*>(static_cast<Instance*>(mem) + 1));
}

Instance::Instance(SharedState* ss, Class* c, Value* storage)
    : Object(OT_INSTANCE), cls(c), classSerial(c->serial), nfields(uint32_t(c->fields.size())), fields(storage) {
  cls->AddRef();
  for (uint32_t i = 0; i < nfields; ++i) new (&fields[i]) Value(c->fields[i].val);
  if (c->udsize > 0) {
    userMemory.assign(size_t(c->udsize), 0);
    up = userMemory.data();
  }
  Track(ss);
}

Instance::~Instance() {
  if (hook) hook(up, SQInteger(userMemory.size()));
  for (uint32_t i = nfields; i > 0; --i) fields[i - 1].~Value();
  nfields = 0;
  if (cls) cls->Release();
}

void Instance::Destroy() {
  size_t bytes = sizeof(Instance) + nfields * sizeof(Value);
  this->~Instance();
  PoolFree(this, bytes);
}

bool Instance::Get(const Value& key, Value& out) const {
  if (!cls) return false;
  Value h;
  if (!cls->members->Get(key, h)) return false;
  SQInteger idx = MemberIndex(h.v.nInteger);
  out = (h.v.nInteger & kMemberField) ? fields[size_t(idx)] : cls->methods[size_t(idx)].val;
  return true;
}

bool Instance::InstanceOf(const Class* c) const {
  for (const Class* k = cls; k; k = k->base)
    if (k == c) return true;
  return false;
}

void Instance::ClearRefs() {
  // The storage is part of the instance and stays, nulled: a handle found earlier still lands inside it.
  for (uint32_t i = 0; i < nfields; ++i) fields[i].SetNull();
}

void Instance::VisitRefs(RefVisitor fn, void* ctx) {
  if (cls) fn(cls, ctx);
  for (uint32_t i = 0; i < nfields; ++i) VisitValue(fields[i], fn, ctx);
}

// ---- weak references ----------------------------------------------------------------------------

Value MakeWeakRef(SharedState*, const Value& v) {
  if (!v.IsRefCounted()) return v;
  Object* o = v.obj();
  if (!o->weak) {
    WeakRef* w = new WeakRef();
    w->target = o;
    w->targetType = v.type;
    w->AddRef();  // held by the target until it dies
    o->weak = w;
  }
  return Value(o->weak);
}

// ---- cycle collection ---------------------------------------------------------------------------

namespace {
constexpr SQUnsignedInteger kAlive = UINT_MAX;

void Decrement(Object* target, void*) {
  if (target->tracker && target->gcMark != kAlive && target->gcMark > 0) --target->gcMark;
}

void MarkAlive(Object* target, void* ctx) {
  if (target->tracker && target->gcMark != kAlive) {
    target->gcMark = kAlive;
    static_cast<std::vector<Object*>*>(ctx)->push_back(target);
  }
}
}  // namespace

void CollectCycles(SharedState* ss, std::vector<Value>* unreachable) {
  for (Object* o = ss->gcHead; o; o = o->gcNext) o->gcMark = o->refCount;
  for (Object* o = ss->gcHead; o; o = o->gcNext) o->VisitRefs(Decrement, nullptr);
  std::vector<Object*> work;
  for (Object* o = ss->gcHead; o; o = o->gcNext) {
    if (o->gcMark != kAlive && o->gcMark > 0) {
      o->gcMark = kAlive;
      work.push_back(o);
    }
  }
  while (!work.empty()) {
    Object* o = work.back();
    work.pop_back();
    o->VisitRefs(MarkAlive, &work);
  }
  std::vector<Object*> garbage;
  for (Object* o = ss->gcHead; o; o = o->gcNext)
    if (o->gcMark != kAlive) garbage.push_back(o);
  if (unreachable) {
    for (Object* o : garbage) {
      Value v;
      v.type = o->kind;
      v.v.pRefCounted = o;
      o->AddRef();
      unreachable->push_back(std::move(v));
    }
    return;
  }
  for (Object* o : garbage) o->AddRef();
  for (Object* o : garbage) o->ClearRefs();
  for (Object* o : garbage) o->Release();
}

void DestroyShared(SharedState* ss) {
  ss->closing = true;
  ss->registry.SetNull();
  ss->consttable.SetNull();
  for (Value& d : ss->defaultDelegates) d.SetNull();
  ss->unreachable.clear();
  // Break every remaining cycle: pin, clear, unpin. The walk follows the collector's own list and
  // allocates nothing, since closing is also what follows a script that exhausted memory. Once
  // every object is pinned and cleared, releasing one pin can free only that object.
  for (Object* o = ss->gcHead; o; o = o->gcNext) o->AddRef();
  for (Object* o = ss->gcHead; o; o = o->gcNext) o->ClearRefs();
  for (Object* o = ss->gcHead; o;) {
    Object* next = o->gcNext;
    o->Release();
    o = next;
  }
  for (Value& m : ss->metaNames) m.SetNull();
  ss->constructorName.SetNull();
  ss->outOfMemoryText.SetNull();
  for (Value& s : ss->statusNames) s.SetNull();
}

}  // namespace bsq
