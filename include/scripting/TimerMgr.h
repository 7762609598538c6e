#pragma once
// Timers of scripts: CScriptTimer (one scheduled call) and CTimerMgr, a fixed table of 4096 slots that the
// frame loop's owner steps once per frame with the elapsed seconds it measured (the table reads no clock).
//
// Errors: refusals are false or null results; the set functions fail only through argument checks.
// Ownership: the table holds one reference on each timer in a used slot; CreateTimer hands the caller
// one more. A timer made while a step runs starts counting in the next step. Locking: none; the game's
// main thread only.
#include <cstdint>
#include <vector>

#include <engine/Arguments.h>
#include <engine/Native.h>
#include <engine/VexilArray.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CResource;
class CResourceMgr;
class CScripting;

namespace TimerHandlers {

class CTimerMgr;

class CScriptTimer : public CBaseObject {
 public:
  static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

  CScriptTimer(CResource* resource, CFunction* function, std::int32_t repeatCount, double interval);

  ReflectedClass* GetReflectedClass() override;

  CTimerMgr* GetTable() const { return m_pTable; }
  CResource* GetResource() const { return m_pResource; }
  std::uint32_t GetSlot() const { return m_uSlot; }
  double GetInterval() const { return m_dInterval; }
  // While the timer stands in a table the table keeps its count; the timer's own copy is brought up to
  // date when it leaves.
  double GetElapsed() const;
  // 0 repeats for ever; n > 0 gives n more calls.
  std::int32_t GetRepeatCount() const { return m_iRepeatCount; }
  // Passed to every call.
  CArgumentArray& GetArguments() { return m_Arguments; }
  CFunction* GetFunction() const { return m_pFunction.Get(); }

 private:
  friend class CTimerMgr;

  CTimerMgr* m_pTable = nullptr;
  CResource* m_pResource;  // not counted
  std::uint32_t m_uSlot = kNoSlot;
  double m_dInterval;
  double m_dElapsed = 0.0;
  std::int32_t m_iRepeatCount;
  CArgumentArray m_Arguments;
  Strong<CFunction> m_pFunction;
};

class CTimerMgr {
 public:
  static constexpr std::uint32_t kCapacity = 4096;

  // Registers the class "Timer" and the script functions into scripting's "global" namespace (when given).
  CTimerMgr(CResourceMgr* owner, CScripting* scripting);
  CTimerMgr(const CTimerMgr&) = delete;
  CTimerMgr& operator=(const CTimerMgr&) = delete;
  ~CTimerMgr();

  // The lowest free slot, with a reference for the table; false when every slot is used, and false
  // without any change for a timer that already stands in a table (this one or another).
  bool AddTimer(CScriptTimer* timer);
  // A new timer with room for argumentCount arguments, holding one reference for the caller, or null.
  CScriptTimer* CreateTimer(CResource* resource, CFunction* function, std::int32_t repeatCount,
                            std::uint32_t argumentCount, double interval);
  // False unless the timer stands in a used slot of this table.
  bool RemoveTimer(CScriptTimer* timer);
  // Every timer of the resource (every timer when null), in slot order; the count removed.
  std::uint32_t RemoveResourceTimers(CResource* resource);
  std::uint32_t Clear();

  // Advances each timer by seconds and fires those that are due, at most once each, in slot order.
  // Each slot is read when the step reaches it, so a call may remove or add timers freely; a call holds
  // its timer's resource.
  void Step(double seconds);

  std::uint32_t GetCount() const { return m_uUsed; }
  // The timer of a used slot, null otherwise.
  CScriptTimer* GetTimer(std::uint32_t slot) const;
  ReflectedClass* GetTimerClass() const { return m_pTimerClass; }
  CResourceMgr* GetOwner() const { return m_pOwner; }

  // setTimeout, setInterval, setImmediate and the three clear functions.
  void RegisterFunctions(CScripting* scripting);

 private:
  static bool NativeSetTimer(CNativeState* state, int argumentCount, void* user, std::int32_t repeatCount,
                             bool hasDelay);
  static bool NativeSetTimeout(CNativeState* state, int argumentCount, void* user);
  static bool NativeSetInterval(CNativeState* state, int argumentCount, void* user);
  static bool NativeSetImmediate(CNativeState* state, int argumentCount, void* user);
  static bool NativeClearTimer(CNativeState* state, int argumentCount, void* user);

  friend class CScriptTimer;

  // What the frame step reads of every timer, kept side by side so that an idle pass touches one
  // contiguous array and no timer object.
  struct Slot {
    double elapsed = 0.0;
    double interval = 0.0;
    CScriptTimer* timer = nullptr;  // counted by the table; null marks a free slot
    std::uint32_t bornInStep = 0;   // the step during which it was added (0: outside any step)
  };
  // Calls a due timer and counts down its repeats.
  void Fire(CScriptTimer* timer);

  CResourceMgr* m_pOwner;
  std::uint32_t m_uCapacity = kCapacity;
  std::uint32_t m_uUsed = 0;
  std::vector<Slot> m_Slots;
  ReflectedClass* m_pTimerClass = nullptr;  // owned by the registry
  CScripting* m_pScripting;                 // not owned
  std::uint32_t m_uStep = 0;                // the step running now, 0 between steps
  std::uint32_t m_uStepCounter = 0;
};

}  // namespace TimerHandlers
}  // namespace Vexil3D
