// The timer table: slots, the frame step and the six script functions over them.
#include <scripting/TimerMgr.h>

#include <engine/Scripting.h>
#include <scripting/Resource.h>

namespace Vexil3D::TimerHandlers {

namespace {
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr int kFunctionArgument = 0;
constexpr int kDelayArgument = 1;
}  // namespace

CScriptTimer::CScriptTimer(CResource* resource, CFunction* function, std::int32_t repeatCount, double interval)
    : m_pResource(resource), m_dInterval(interval), m_iRepeatCount(repeatCount), m_pFunction(function) {}

ReflectedClass* CScriptTimer::GetReflectedClass() { return m_pTable ? m_pTable->GetTimerClass() : nullptr; }

double CScriptTimer::GetElapsed() const {
  return m_pTable && m_uSlot != kNoSlot ? m_pTable->m_Slots[m_uSlot].elapsed : m_dElapsed;
}

CTimerMgr::CTimerMgr(CResourceMgr* owner, CScripting* scripting)
    : m_pOwner(owner), m_Slots(kCapacity), m_pScripting(scripting) {
  if (scripting) RegisterFunctions(scripting);
}

CTimerMgr::~CTimerMgr() { Clear(); }

bool CTimerMgr::AddTimer(CScriptTimer* timer) {
  // A timer in two slots would fire for ever and keep a reference no removal gives back.
  if (!timer || timer->m_uSlot != CScriptTimer::kNoSlot) return false;
  timer->m_pTable = this;
  if (m_uUsed >= m_uCapacity) return false;
  std::uint32_t slot = 0;
  while (m_Slots[slot].timer) ++slot;
  m_Slots[slot] = Slot{timer->m_dElapsed, timer->m_dInterval, timer, m_uStep};
  ++m_uUsed;
  timer->m_uSlot = slot;
  timer->AddRef();
  return true;
}

CScriptTimer* CTimerMgr::CreateTimer(CResource* resource, CFunction* function, std::int32_t repeatCount,
                                     std::uint32_t argumentCount, double interval) {
  auto* timer = new CScriptTimer(resource, function, repeatCount, interval);
  timer->m_Arguments.Reserve(argumentCount);
  if (!AddTimer(timer)) {
    timer->Release();
    return nullptr;
  }
  return timer;
}

bool CTimerMgr::RemoveTimer(CScriptTimer* timer) {
  if (!timer) return false;
  const std::uint32_t slot = timer->m_uSlot;
  if (slot >= m_uCapacity || m_Slots[slot].timer != timer) return false;
  timer->m_dElapsed = m_Slots[slot].elapsed;
  m_Slots[slot] = Slot{};
  --m_uUsed;
  timer->m_uSlot = CScriptTimer::kNoSlot;
  timer->Release();
  return true;
}

std::uint32_t CTimerMgr::RemoveResourceTimers(CResource* resource) {
  std::uint32_t removed = 0;
  for (std::uint32_t slot = 0; slot < m_uCapacity; ++slot) {
    if (!m_Slots[slot].timer) continue;
    CScriptTimer* timer = m_Slots[slot].timer;
    if ((!resource || timer->m_pResource == resource) && RemoveTimer(timer)) ++removed;
  }
  return removed;
}

std::uint32_t CTimerMgr::Clear() {
  const std::uint32_t removed = RemoveResourceTimers(nullptr);
  for (Slot& slot : m_Slots) slot = Slot{};
  m_uUsed = 0;
  return removed;
}

CScriptTimer* CTimerMgr::GetTimer(std::uint32_t slot) const {
  return slot < m_uCapacity ? m_Slots[slot].timer : nullptr;
}

void CTimerMgr::Step(double seconds) {
  const std::uint32_t outer = m_uStep;
  if (++m_uStepCounter == 0) ++m_uStepCounter;  // 0 stands for "outside any step"
  const std::uint32_t step = m_uStep = m_uStepCounter;
  // The idle check stays in this loop; a due timer's call is the rare, out-of-line path.
  for (std::uint32_t slot = 0; slot < kCapacity; ++slot) {
    Slot& hot = m_Slots[slot];
    if (!hot.timer || hot.bornInStep == step) continue;
    hot.elapsed += seconds;
    if (hot.elapsed >= hot.interval) Fire(hot.timer);
  }
  m_uStep = outer;
}

void CTimerMgr::Fire(CScriptTimer* timer) {
  // The call may clear the timer (or stop its resource): it must live until the step is done with it.
  Strong<CScriptTimer> hold(timer);
  Strong<CFunction> function = timer->m_pFunction;
  if (function) {
    // The call may stop every resource, its own among them, which releases the manager's reference; the
    // natives it calls afterwards still read its resource from the state.
    Strong<CResource> resource(timer->m_pResource);
    CNativeState state(m_pScripting, timer->m_pResource, &timer->m_Arguments);
    function->Call(&state, static_cast<int>(timer->m_Arguments.GetCount()));
  }
  // The call may have moved the timer: its own slot is the one to reset.
  timer->m_dElapsed = 0.0;
  if (timer->m_uSlot != CScriptTimer::kNoSlot) m_Slots[timer->m_uSlot].elapsed = 0.0;
  if (timer->m_uSlot == CScriptTimer::kNoSlot || timer->m_iRepeatCount <= 0) return;
  if (timer->m_iRepeatCount-- == 1) RemoveTimer(timer);
}

// -------------------------------------------------------------------------------------------------
// Script functions

void CTimerMgr::RegisterFunctions(CScripting* scripting) {
  CReflection& global = scripting->m_Global;
  m_pTimerClass = global.RegisterClass(u"Timer", nullptr);
  global.RegisterFunction(u"setTimeout", u"ci*", &NativeSetTimeout, this);
  global.RegisterFunction(u"setInterval", u"ci*", &NativeSetInterval, this);
  global.RegisterFunction(u"setImmediate", u"c*", &NativeSetImmediate, this);
  global.RegisterFunction(u"clearTimeout", u"x", &NativeClearTimer, this);
  global.RegisterFunction(u"clearInterval", u"x", &NativeClearTimer, this);
  global.RegisterFunction(u"clearImmediate", u"x", &NativeClearTimer, this);
}

bool CTimerMgr::NativeSetTimer(CNativeState* state, int argumentCount, void* user, std::int32_t repeatCount,
                               bool hasDelay) {
  auto* table = static_cast<CTimerMgr*>(user);
  CFunction* function = state->CheckFunction(kFunctionArgument);
  if (!function) return false;
  double interval = 0.0;
  if (hasDelay) {
    // The delay is read as 32 bits and taken as unsigned: a negative one is a very long delay.
    std::int32_t delay = 0;
    if (!state->CheckNumber(kDelayArgument, &delay)) return false;
    interval = static_cast<std::uint32_t>(delay) / kMillisecondsPerSecond;
  }
  const int first = hasDelay ? kDelayArgument + 1 : kFunctionArgument + 1;
  const std::uint32_t extra = argumentCount > first ? static_cast<std::uint32_t>(argumentCount - first) : 0;
  CScriptTimer* timer = table->CreateTimer(state->GetResource(), function, repeatCount, extra, interval);
  if (!timer) return state->ReturnObject(nullptr);
  for (int i = first; i < argumentCount; ++i) {
    timer->GetArguments().Append(state->GetArgument(i));
  }
  const bool result = state->ReturnObject(timer);
  timer->Release();
  return result;
}

bool CTimerMgr::NativeSetTimeout(CNativeState* state, int argumentCount, void* user) {
  return NativeSetTimer(state, argumentCount, user, 1, true);
}

bool CTimerMgr::NativeSetInterval(CNativeState* state, int argumentCount, void* user) {
  return NativeSetTimer(state, argumentCount, user, 0, true);
}

bool CTimerMgr::NativeSetImmediate(CNativeState* state, int argumentCount, void* user) {
  return NativeSetTimer(state, argumentCount, user, 1, false);
}

bool CTimerMgr::NativeClearTimer(CNativeState* state, int, void* user) {
  auto* table = static_cast<CTimerMgr*>(user);
  CBaseObject* object = nullptr;
  if (!state->CheckObject(table->m_pTimerClass, 0, false, &object)) return false;
  return state->ReturnBoolean(table->RemoveTimer(static_cast<CScriptTimer*>(object)));
}

}  // namespace Vexil3D::TimerHandlers
