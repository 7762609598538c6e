// The trampolines of the core's jump hooks and the context their bodies work on.
#include "HookTrampolines.h"

#include <base/AppContext.h>

// Each trampoline (AT&T syntax), entered by a jump with the game's stack
// pointer E:
//   lea  -(gap+4)(%esp), %esp   keep the gap and a target word; LEA leaves the flags alone
//   pushfl; pushal              the flags, then every register: the HookContext
//   mov  %esp, %ebx             EBX survives the body (callee-saved) and is restored below
//   and  $-16, %esp             the game keeps its stack 4-byte aligned only
//   sub  $12, %esp; push %ebx   one argument, 16-byte aligned at the call
//   call HookBody<name>
//   mov  %ebx, %esp
//   (flags from the context)    POPFD costs more than the rest of the trampoline: OF is
//                               set by adding 1 to 0x7F or 0 in AL, then SAHF loads SF, ZF,
//                               AF, PF and CF from AH; the direction and system flags are
//                               never changed by a body
//   popal                       registers as the body left them (POPAD leaves the flags)
//   lea  4(%esp), %esp          past the flags word
//   pop  %esp                   the target word: the game's stack, one word below its resume point
//   lea  4(%esp), %esp          the game's stack as the body asked
//   jmp  *-4(%esp)              to the resume address; a jump, not a return, so the
//                               processor's return predictions stay paired with the game's calls
static_assert(kHookStackGap + 4 == 260, "the trampoline text below spells out the gap");
static_assert(offsetof(HookContext, eflags) == 0x20, "the trampoline text below reads the flags there");
#define BRINDLE_EMIT_TRAMPOLINE(name) \
  asm(".pushsection .text\n" \
      ".globl HookTrampoline" #name "\n" \
      ".hidden HookTrampoline" #name "\n" \
      ".type HookTrampoline" #name ", @function\n" \
      ".p2align 4\n" \
      "HookTrampoline" #name ":\n" \
      "  lea -260(%esp), %esp\n" \
      "  pushfl\n" \
      "  pushal\n" \
      "  mov %esp, %ebx\n" \
      "  and $-16, %esp\n" \
      "  sub $12, %esp\n" \
      "  push %ebx\n" \
      "  call HookBody" #name "\n" \
      "  mov %ebx, %esp\n" \
      "  mov 32(%esp), %eax\n" \
      "  mov %eax, %ecx\n" \
      "  shr $11, %ecx\n" \
      "  and $1, %ecx\n" \
      "  imul $0x7F, %ecx, %ecx\n" \
      "  mov %al, %ah\n" \
      "  mov %cl, %al\n" \
      "  add $1, %al\n" \
      "  sahf\n" \
      "  popal\n" \
      "  lea 4(%esp), %esp\n" \
      "  pop %esp\n" \
      "  lea 4(%esp), %esp\n" \
      "  jmp *-4(%esp)\n" \
      ".size HookTrampoline" #name ", .-HookTrampoline" #name "\n" \
      ".popsection\n");
BRINDLE_HOOK_TRAMPOLINES(BRINDLE_EMIT_TRAMPOLINE)
#undef BRINDLE_EMIT_TRAMPOLINE

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
