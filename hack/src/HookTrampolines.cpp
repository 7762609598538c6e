// The trampolines of the core's jump hooks and the context their bodies work on.
#include "HookTrampolines.h"

#include <base/AppContext.h>

BRINDLE_HOOK_TRAMPOLINES(BRINDLE_EMIT_TRAMPOLINE)

namespace {

std::uint32_t FlagsAfterAdd(std::uint32_t value, std::uint32_t operand) {
  std::uint32_t flags;
  asm("addl %2, %1\n\tpushfl\n\tpopl %0" : "=r"(flags), "+r"(value) : "r"(operand) : "cc");
  return flags;
}

std::uint32_t FlagsAfterSub(std::uint32_t value, std::uint32_t operand) {
  std::uint32_t flags;
  asm("subl %2, %1\n\tpushfl\n\tpopl %0" : "=r"(flags), "+r"(value) : "r"(operand) : "cc");
  return flags;
}

}  // namespace

void HookStackOutOfReach() {
  g_AppContext.AddError("A game hook resumed with a stack beyond its trampoline's reach.");
}

void HookContext::SetFlagsOfAdd(std::uint32_t esp, std::uint32_t bytes) {
  eflags = (eflags & ~kStatusFlags) | (FlagsAfterAdd(esp, bytes) & kStatusFlags);
}

void HookContext::SetFlagsOfSub(std::uint32_t esp, std::uint32_t bytes) {
  eflags = (eflags & ~kStatusFlags) | (FlagsAfterSub(esp, bytes) & kStatusFlags);
}

void HookContext::SetFlagsOfClear() {
  // XOR of a register with itself: zero, even parity, no carry, overflow,
  // sign or adjust.
  eflags = (eflags & ~kStatusFlags) | kFlagZero | kFlagParity;
}
