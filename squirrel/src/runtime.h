#pragma once
// Internal object kinds of the runtime and the virtual machine state.
#include <bit>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "funcproto.h"
#include "value.h"

namespace bsq {

constexpr SQInteger kSuspendFlag = -666;  // a native returning this suspends the VM
constexpr int kMaxNativeDepth = 200;      // nested native/VM re-entries before "Native stack overflow"
// Memory that one thread's script calls may hold (frames plus value stack) before "stack overflow": a
// million levels of a plain function fit, a runaway recursion stops long before memory runs out.
constexpr size_t kMaxCallStackBytes = size_t(128) << 20;

enum Meta : int {
  MT_ADD, MT_SUB, MT_MUL, MT_DIV, MT_UNM, MT_MODULO, MT_SET, MT_GET, MT_TYPEOF, MT_NEXTI, MT_CMP, MT_CALL,
  MT_CLONED, MT_NEWSLOT, MT_DELSLOT, MT_TOSTRING, MT_NEWMEMBER, MT_INHERITED, MT_COUNT
};

// Raised inside the VM; the error value is in VM::lastError.
struct ScriptThrow {};

struct WeakRef : Object {
  Object* target = nullptr;  // not counted; cleared when the target dies
  SQObjectType targetType = OT_NULL;
  WeakRef() : Object(OT_WEAKREF) {}
  ~WeakRef() override;
};

// A table of up to kInlineNodes slots keeps them inside the object: a small table costs one allocation.
// Larger ones keep nodes and bucket heads in one block.
struct Table : Object {
  struct Node {
    Value key;
    Value val;
    int32_t next = -1;
  };
  static constexpr uint32_t kInlineNodes = 4;
  Node* nodes;                    // capacity nodes; a null key marks a free node
  int32_t* buckets;               // capacity heads of the collision chains
  uint32_t capacity;              // a power of two
  int32_t freeHead = -1;
  int32_t used = 0;               // nodes handed out (up to capacity)
  SQInteger count = 0;
  Table* delegate = nullptr;     // counted
  int32_t delegators = 0;        // tables whose delegate this is: none means no delegate chain can reach it

  explicit Table(SharedState* ss, SQInteger capacity);
  ~Table() override;
  Node* Find(const Value& key) const;
  bool Get(const Value& key, Value& out) const;
  bool SetExisting(const Value& key, const Value& val);
  void NewSlot(const Value& key, const Value& val);
  bool Remove(const Value& key, Value* removed = nullptr);
  void Clear();
  // Iteration: pos is a node index to start from; returns the index after the found node, or -1.
  int32_t Next(int32_t pos, Value& key, Value& val) const;
  void SetDelegate(Table* d);
  Table* Clone(SharedState* ss) const;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;

 private:
  void Rehash(size_t newCapacity);
  int32_t AllocNode();
  // Points nodes and buckets at storage for newCapacity empty slots (inline when it fits).
  void Allocate(size_t newCapacity);
  // Destroys the nodes and gives back a heap block; leaves the table without storage.
  void FreeStorage(Node* block, uint32_t cap);
  Node inlineNodes_[kInlineNodes];
  int32_t inlineBuckets_[kInlineNodes];
};

SQHash HashValue(const Value& key);

struct Array : Object {
  std::vector<Value> items;
  explicit Array(SharedState* ss, SQInteger size = 0);
  ~Array() override;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;
};

struct UserData : Object {
  Table* delegate = nullptr;
  SQUserPointer typetag = nullptr;
  SQRELEASEHOOK hook = nullptr;
  SQUnsignedInteger size = 0;
  unsigned char* data = nullptr;
  UserData(SharedState* ss, SQUnsignedInteger size);
  ~UserData() override;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;
};

// What one member-reading or -writing instruction last found on an instance: the class (by serial,
// which no other class ever reuses) and the member handle of Class::members. Handles of a class never
// change once made, so a matching serial makes the lookup unnecessary. A key that is no member is cached
// too, as the complement of the class's member count then: members are only ever added, so an unchanged
// count means the key is still missing.
struct MemberCache {
  uint32_t classSerial = 0;  // 0: empty
  SQInteger handle = 0;      // > 0 a member handle; < 0 ~(member count) when the key was not a member
};

// The VM's function-prototype object around a compiled prototype.
struct FuncProto : Object {
  std::shared_ptr<sq::CompiledFunction> code;
  std::vector<sq::Instruction> exec;     // code->code with fused instructions (fused.h): what the loop runs
  std::vector<MemberCache> memberCache;  // one per instruction
  std::vector<Value> constants;
  std::vector<Value> functions;  // nested prototypes, wrapped lazily on first use
  Value name;
  Value sourceName;
  FuncProto() : Object(OT_FUNCPROTO) {}
};
Value WrapProto(SharedState* ss, const std::shared_ptr<sq::CompiledFunction>& proto);

struct Outer : Object {
  VM* owner = nullptr;     // thread whose stack holds the variable while it is open
  SQInteger slot = -1;     // absolute stack index while open, -1 once closed
  Value closed;
  Outer* nextOpen = nullptr;
  explicit Outer(SharedState* ss);
  ~Outer() override;
  Value& Ref();
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;
};

struct Class;

// A closure's outer cells, stored right after the closure in its own allocation: a closure that captures
// variables costs one allocation for itself and its cells. The count is fixed when the closure is made.
class OuterCells {
 public:
  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  Value& operator[](size_t i) { return data_[i]; }
  const Value& operator[](size_t i) const { return data_[i]; }
  Value* begin() { return data_; }
  Value* end() { return data_ + n_; }
  const Value* begin() const { return data_; }
  const Value* end() const { return data_ + n_; }

 private:
  friend struct Closure;
  Value* data_ = nullptr;
  uint32_t n_ = 0;
};

struct Closure : Object {
  Value proto;                    // FuncProto
  OuterCells outers;              // Outer cells
  std::vector<Value> defaults;    // default parameter values
  Value env;                      // weak reference to the bound environment, or null
  Value root;                     // weak reference to the root table current at creation
  Value ownerBase;                // base class of the class the closure is a member of
  bool owned = false;             // stored in a class as a member
  // A closure of the prototype with nouters null cells; wrap the result in a Value (count starts at 0).
  static Closure* Make(SharedState* ss, const Value& proto, size_t nouters);
  ~Closure() override;
  void Destroy() override;
  FuncProto* fp() const { return proto.proto(); }
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;

 private:
  Closure(SharedState* ss, const Value& proto, Value* cells, size_t nouters);
};

struct NativeClosure : Object {
  SQFUNCTION fn = nullptr;
  std::vector<Value> outers;
  SQInteger nparamscheck = 0;
  std::vector<SQInteger> typecheck;  // one mask per parameter; -1 accepts anything
  Value name;
  Value env;
  NativeClosure(SharedState* ss, SQFUNCTION f);
  ~NativeClosure() override;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;
};

struct ClassMember {
  Value val;
  Value attrs;
};

struct Class : Object {
  Class* base = nullptr;              // counted
  Table* members = nullptr;           // name -> encoded member handle, counted
  std::vector<ClassMember> fields;    // per-instance defaults
  std::vector<ClassMember> methods;   // shared values (methods and statics)
  Value metamethods[MT_COUNT];
  Value attrs;
  Value constructor;
  SQUserPointer typetag = nullptr;
  SQRELEASEHOOK hook = nullptr;
  SQInteger udsize = 0;
  bool locked = false;
  uint32_t serial = 0;                // unique among the classes of the VM, never 0
  Class(SharedState* ss, Class* base);
  ~Class() override;
  bool GetMember(const Value& key, Value& out) const;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;
};

// Member handle encoding in Class::members.
constexpr SQInteger kMemberField = 0x1;
constexpr SQInteger kMemberMethod = 0x2;
inline SQInteger MemberIndex(SQInteger h) { return h >> 2; }

// The fields live in the same allocation, right after the instance: making an instance costs one
// allocation, and a member read finds its field at a fixed distance from the instance.
struct Instance : Object {
  Class* cls = nullptr;  // counted; never null
  uint32_t classSerial;  // cls->serial, kept here so that a member cache check reads the instance only
  uint32_t nfields;      // the class's field count when the instance was made
  Value* fields;         // nfields values, stored after the instance
  SQUserPointer up = nullptr;
  SQRELEASEHOOK hook = nullptr;
  std::vector<unsigned char> userMemory;  // sq_setclassudsize
  // One reference for the caller is not taken: wrap the result in a Value.
  static Instance* Make(SharedState* ss, Class* cls);
  ~Instance() override;
  void Destroy() override;
  bool Get(const Value& key, Value& out) const;
  bool InstanceOf(const Class* c) const;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;

 private:
  Instance(SharedState* ss, Class* cls, Value* storage);
};

struct Trap {
  size_t frame;         // index of the frame that installed it
  SQInteger height;     // stack height (absolute) to restore
  uint32_t target;      // pc of the handler
};

struct Frame {
  Value callee;             // closure or native closure
  Closure* closure = nullptr;
  const sq::CompiledFunction* code = nullptr;
  FuncProto* proto = nullptr;
  uint32_t pc = 0;
  SQInteger base = 0;       // absolute index of `this`
  SQInteger fslot = 0;      // where the result goes (the function slot)
  bool entry = false;       // the execution loop returns when this frame returns
  bool native = false;
  bool constructor = false; // a class's script constructor: returns `this` (the new instance), not its value
  bool meta = false;        // an arithmetic metamethod run as a frame of the calling loop: cannot suspend
  Generator* generator = nullptr;
  SQInteger savedTop = 0;   // native frames: top to restore
  int32_t hookLine = -1;    // last line reported to the debug hook
};

// The call frames of a thread: chunks that stay allocated, so that pushing and popping frames allocates
// nothing once a depth was reached, and a frame's address stays put while frames are pushed above it.
class FrameStack {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  Frame& operator[](size_t i) { return chunks_[i >> kShift][i & kMask]; }
  const Frame& operator[](size_t i) const { return chunks_[i >> kShift][i & kMask]; }
  Frame& back() { return (*this)[count_ - 1]; }
  // A frame with every field at its default.
  [[gnu::always_inline]] Frame& emplace_back() {
    if ((count_ >> kShift) >= chunks_.size()) [[unlikely]] AddChunk();
    Frame& f = (*this)[count_++];
    // Field by field: the callee of a free slot is already null (pop_back), so no temporary is needed.
    f.closure = nullptr;
    f.code = nullptr;
    f.proto = nullptr;
    f.pc = 0;
    f.base = 0;
    f.fslot = 0;
    f.entry = f.native = f.constructor = f.meta = false;
    f.generator = nullptr;
    f.savedTop = 0;
    f.hookLine = -1;
    return f;
  }
  void push_back(Frame&& f) { emplace_back() = std::move(f); }
  void pop_back() {
    back().callee.SetNull();
    --count_;
    // Two spare chunks stay, so a depth that swings across a chunk boundary does not allocate each time.
    if ((count_ & kMask) == 0)
      while (chunks_.size() > (count_ >> kShift) + kSpareChunks) chunks_.pop_back();
  }
  void clear() {
    while (count_ > 0) pop_back();
  }

 private:
  [[gnu::noinline]] void AddChunk() { chunks_.push_back(std::make_unique<Frame[]>(kChunk)); }
  static constexpr size_t kShift = 8;
  static constexpr size_t kChunk = size_t(1) << kShift;
  static constexpr size_t kMask = kChunk - 1;
  static constexpr size_t kSpareChunks = 2;
  std::vector<std::unique_ptr<Frame[]>> chunks_;
  size_t count_ = 0;
};

struct Generator : Object {
  enum State { Suspended, Running, Dead } state = Suspended;
  Value closure;
  std::vector<Value> stack;   // saved frame slots while suspended
  uint32_t pc = 0;
  std::vector<Trap> traps;  // saved, frame index relative (0)
  Generator(SharedState* ss, const Value& closure);
  ~Generator() override;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;
};

constexpr size_t kInitialStringBuckets = 256;
constexpr size_t kMinAutoCollect = 1024;

struct SharedState {
  // Interned strings.
  std::vector<String*> strBuckets;
  size_t strCount = 0;
  // Tracked containers (doubly linked).
  Object* gcHead = nullptr;
  size_t gcCount = 0;
  // Containers that trigger the next automatic cycle collection: twice what survived the last one, so
  // unreachable cycles cannot pile up, and the cost per allocation stays constant.
  size_t gcThreshold = kMinAutoCollect;
  uint32_t classSerials = 0;  // the last serial handed to a class
  bool closing = false;

  Value registry;
  Value consttable;
  Value metaNames[MT_COUNT];
  Value constructorName;
  // Interned for the VM's lifetime, so that reporting exhausted memory finds the text without allocating.
  Value outOfMemoryText;
  // What getstatus() answers, interned once: a loop polling a thread's status asks on every turn.
  enum StatusName { kIdle, kRunning, kSuspended, kDead, kStatusNames };
  Value statusNames[kStatusNames];
  Value defaultDelegates[18];  // indexed by raw type bit position
  SQPRINTFUNCTION printfn = nullptr;
  SQPRINTFUNCTION errorfn = nullptr;
  SQCOMPILERERROR compilerError = nullptr;
  SQUserPointer foreignPtr = nullptr;
  SQRELEASEHOOK releaseHook = nullptr;
  bool debugInfo = false;
  bool notifyAll = false;
  std::vector<SQChar> scratch;
  VM* mainVM = nullptr;
  std::vector<Value> unreachable;  // found by the collector after resurrectunreachable
  bool resurrect = false;
  std::unordered_map<Object*, SQUnsignedInteger> hostRefs;  // sq_addref counts
  int nativeDepth = 0;  // native and loop nesting of every thread: they share one C stack

  String* Intern(const SQChar* s, SQInteger len);
  // The interned string of a followed by b, built without intermediate copies.
  String* Concat(const SQChar* a, SQInteger alen, const SQChar* b, SQInteger blen);
  void Link(String* fresh, size_t bucket);
  void Unintern(String* s);
  Value Str(const SQChar* s, SQInteger len = -1) { return Value(Intern(s, len)); }
  Value Str(const std::u16string& s) { return Value(Intern(s.data(), SQInteger(s.size()))); }
};

// The position of a type's raw bit (0 for none): the index of its default delegate.
inline int RawTypeIndex(SQObjectType t) {
  unsigned raw = _RAW_TYPE(unsigned(t));
  return raw > 1 ? int(std::bit_width(raw)) - 1 : 0;
}

struct VM : Object {
  SharedState* ss = nullptr;
  std::vector<Value> stack;
  SQInteger stackCap = 0;  // stack.size(), kept apart: the loop compares the top with it on every push
  SQInteger top = 0;
  SQInteger stackBase = 0;       // base for the public API's positive indices
  FrameStack frames;
  std::vector<Trap> traps;
  Outer* openOuters = nullptr;   // sorted by slot, highest first
  Value lastError;
  // Called for errors nothing catches on this thread; a new thread starts with its parent's.
  Value errorHandler;
  Value debugHook;
  SQDEBUGHOOK nativeDebugHook = nullptr;
  Value roottable;
  SQUserPointer foreignPtr = nullptr;
  SQRELEASEHOOK releaseHook = nullptr;
  int state = SQ_VMSTATE_IDLE;
  bool raiseError = true;
  size_t raiseBoundary = 0;      // frames from this index on belong to the innermost sq_call
  bool errorReported = false;
  bool pendingThrow = false;
  bool inHook = false;           // the debug hook is running
  bool hooked = false;           // a debug hook is set and not running (checked before every instruction)
  void UpdateHooked() { hooked = nativeDebugHook != nullptr || !debugHook.IsNull(); }     // resume a suspended VM by raising lastError
  int executeDepth = 0;          // nested execution loops
  size_t suspendEntry = 0;       // frame index of the loop that was suspended
  SQInteger suspendTarget = -1;  // slot receiving the wakeup value
  bool suspendRetval = false;    // the suspended call expected a value
  Value suspendValue;
  Value outOfFrame;  // what At() hands out for an index outside the frame; always null when read

  VM(SharedState* ss, SQInteger stackSize);
  ~VM() override;
  void ClearRefs() override;
  void VisitRefs(RefVisitor fn, void* ctx) override;

  // Stack.
  void Reserve(SQInteger extra) {
    if (top + extra > stackCap) Grow(top + extra);
  }
  void Grow(SQInteger needed);
  [[gnu::always_inline]] void Push(const Value& val) {
    if (top >= stackCap) [[unlikely]]
      Grow(top + 1);
    stack[size_t(top++)] = val;
  }
  [[gnu::always_inline]] void Push(Value&& val) {
    if (top >= stackCap) [[unlikely]]
      Grow(top + 1);
    stack[size_t(top++)] = std::move(val);
  }
  void Pop(SQInteger n = 1) {
    while (n-- > 0) stack[--top].SetNull();
  }
  Value& Top() { return stack[top - 1]; }
  SQInteger AbsIndex(SQInteger idx) const { return idx < 0 ? top + idx : stackBase + idx - 1; }
  // A position outside the current frame (0, below its base, at or above the top) reads as null: a
  // stray index from the host must neither reach into a caller's frame nor run off the stack.
  Value& At(SQInteger idx) {
    SQInteger a = AbsIndex(idx);
    if (idx == 0 || a < stackBase || a >= top) [[unlikely]] {
      outOfFrame.SetNull();
      return outOfFrame;
    }
    return stack[size_t(a)];
  }
  bool ValidIndex(SQInteger idx) const {
    SQInteger a = AbsIndex(idx);
    return idx != 0 && a >= stackBase && a < top;
  }
  // Inline: natives, thread wake-ups and generator resumptions set the top on every call.
  [[gnu::always_inline]] void SetTop(SQInteger newTop) {
    if (newTop < top) {
      if (openOuters && openOuters->slot >= newTop) [[unlikely]]
        CloseOuters(newTop);
      DropTo(newTop);
    } else {
      Reserve(newTop - top);
      top = newTop;
    }
  }
  // SetTop for a lower top with no open outer at or above it (a returning frame closed its own).
  [[gnu::always_inline]] void DropTo(SQInteger newTop) {
    while (top > newTop) stack[size_t(--top)].SetNull();
  }
  void CloseOuters(SQInteger fromSlot);

  // Errors.
  [[noreturn]] void Throw(const Value& err);
  [[noreturn]] void Error(const SQChar* fmt, ...);
  [[noreturn]] void ErrorIndex(const Value& key);

  // Object protocol (throw ScriptThrow on error).
  bool Get(const Value& self, const Value& key, Value& out, bool raw = false, bool defaults = true);
  void GetOrThrow(const Value& self, const Value& key, Value& out);
  void Set(const Value& self, const Value& key, const Value& val, bool raw = false);
  void NewSlot(const Value& self, const Value& key, const Value& val, bool isStatic, bool raw = false);
  Value Delete(const Value& self, const Value& key, bool raw = false);
  bool Has(const Value& self, const Value& key);
  Value Arith(int op, const Value& a, const Value& b);
  Value Unary(int op, const Value& a);
  SQInteger Compare(const Value& a, const Value& b);  // <0, 0, >0
  static bool Equal(const Value& a, const Value& b);
  Value ToString(const Value& v);
  Value TypeOf(const Value& v);
  Value Clone(const Value& v);
  bool GetMeta(const Value& self, Meta m, Value& closure);
  bool CallMeta(const Value& closure, const Value& self, int nargs, const Value* args, Value& result);
  // Calls a _get or _set metamethod as an index lookup does: the error handler is never reached, and a
  // null thrown means "no such slot" (false). Any other error is rethrown. Either way out leaves the raise
  // flag and the stack top as they were.
  bool CallQuietMeta(const Value& closure, const Value& self, int nargs, const Value* args, Value& result);
  void AddMember(Class* c, const Value& key, const Value& val, const Value& attrs, bool isStatic, bool raw);
  Value CreateInstanceRaw(Class* c);
  Value NewClass(Class* base, const Value& attrs);

  // Calls: the callee and its arguments (this first) are the top nargs+1 slots; on return they are
  // replaced by nothing, and the result is in `result`.
  void Call(SQInteger nargs, Value& result);
  // Convenience: calls fn with this and args, leaves the stack as it was.
  Value CallValue(const Value& fn, const Value& self, int nargs, const Value* args);
  // Starts a call of the value at fslot with nargs arguments; script closures get a new frame
  // (returns true), others run to completion with the result stored at fslot (returns false).
  bool StartCall(SQInteger fslot, SQInteger nargs, bool entry);
  void CallNative(NativeClosure* nc, SQInteger fslot, SQInteger nargs);
  void Execute(size_t entryFrame);
  Value Resume(Generator* g);
  void ReportError();
  void DebugHook(int type, Frame& f, int32_t line);

  // Debug.
  bool StackInfo(SQInteger level, SQStackInfos* si);
};

// Sets the VM's raise flag for a nested call and restores it on every way out, thrown or not.
class RaiseFlagScope {
 public:
  RaiseFlagScope(VM* v, bool raise) : v_(v), saved_(v->raiseError) { v->raiseError = raise; }
  ~RaiseFlagScope() { v_->raiseError = saved_; }
  RaiseFlagScope(const RaiseFlagScope&) = delete;
  RaiseFlagScope& operator=(const RaiseFlagScope&) = delete;

 private:
  VM* v_;
  bool saved_;
};

const SQChar* TypeName(SQObjectType t);
Value MakeWeakRef(SharedState* ss, const Value& v);
// The object's weak reference, made on first use (closures take one of the root table each time one is made).
inline Value NewWeakRef(SharedState* ss, const Value& v) {
  if (v.IsRefCounted() && v.obj()->weak) [[likely]]
    return Value(v.obj()->weak);
  return MakeWeakRef(ss, v);
}
// The object a weak reference points to (null once it died); any other value as it is.
inline Value WeakRefValue(const Value& weak) {
  if (weak.type != OT_WEAKREF) return weak;
  const WeakRef* w = weak.weakref();
  if (!w->target) return Value();
  Value r;
  r.type = w->targetType;
  r.v.pRefCounted = w->target;
  w->target->AddRef();
  return r;
}
void RegisterBaseLib(VM* v);
bool CheckParams(VM* v, NativeClosure* nc, SQInteger base, SQInteger nargs);
std::u16string FormatFloat(SQFloat f);
void CollectCycles(SharedState* ss, std::vector<Value>* unreachable);
void DestroyShared(SharedState* ss);

}  // namespace bsq
