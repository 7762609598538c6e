#pragma once
// The one shape of trampoline that every jump hook of the core uses, and the
// context through which its C++ body renders the game code it replaced.
//
// A jump patch sends the game to a trampoline (HookTrampolines.cpp). It keeps
// kHookStackGap bytes of the game's free stack below the game's stack pointer,
// saves the flags and all registers (a HookContext), clears the direction flag,
// realigns the stack, calls its body with the context and, once the body
// returns, restores every register, the status flags and the game's direction
// flag from the context, sets the stack pointer to the context's
// target and returns through the address stored there. A body therefore
// performs the overwritten instructions (or the replacement the event asks
// for) on the context: it changes saved registers and flags, reads and writes
// the game's stack, and finally names where and with which stack the game goes
// on (Resume, ReturnFrom). Everything a hook carries between its event and its
// return path lives in the body's own frame or in the context, both on the
// stack of this very call, so a hook re-entered from inside its own event
// keeps the outer call's values.
//
// Errors: a body that names a stack the trampoline cannot reach ends the
// process through g_AppContext (a programming error). No locks: the game calls
// these places from its main thread only.
#include <cstddef>
#include <cstdint>
#include <cstring>

// Bytes of the game's free stack the trampoline leaves between the game's
// stack pointer and its saved registers. A body may resume with a stack that
// grew by up to this much less one word (the start hook reserves 168 bytes).
constexpr std::uint32_t kHookStackGap = 256;

// The game's stack words.
constexpr std::uint32_t kStackWord = 4;

// The direction flag: string instructions run downwards while it is set.
constexpr std::uint32_t kFlagDirection = 0x400;

// EFLAGS bits that arithmetic instructions define.
constexpr std::uint32_t kFlagCarry = 0x001;
constexpr std::uint32_t kFlagParity = 0x004;
constexpr std::uint32_t kFlagAdjust = 0x010;
constexpr std::uint32_t kFlagZero = 0x040;
constexpr std::uint32_t kFlagSign = 0x080;
constexpr std::uint32_t kFlagOverflow = 0x800;
constexpr std::uint32_t kStatusFlags = kFlagCarry | kFlagParity | kFlagAdjust | kFlagZero | kFlagSign | kFlagOverflow;

// The trampoline's frame, from its lowest address: PUSHAD's eight registers,
// the flags, the target word and the gap. The game's stack pointer at the
// patch is the address just past the gap.
struct HookContext {
  std::uint32_t edi, esi, ebp, espAtPushad, ebx, edx, ecx, eax;
  std::uint32_t eflags;  // as the game left them; status flags and direction flag are given back
  std::uint32_t target;  // the stack pointer before the final return; the resume address lies there
  std::uint8_t gap[kHookStackGap];

  // The game's stack pointer when it reached the patch.
  std::uint32_t GameEsp() const {
    return std::uint32_t(reinterpret_cast<std::uintptr_t>(this)) + std::uint32_t(sizeof(HookContext));
  }

  // Continues the game at address with the stack pointer at esp. The
  // resume address is written into the word below esp, which the game treats
  // as free.
  inline void Resume(std::uint32_t address, std::uint32_t esp);
  // The game's own stack pointer is always within reach: no check.
  inline void ResumeAt(std::uint32_t address);
  // Returns as the game's `ret argumentBytes` would with the stack pointer at
  // esp: to the address stored there, dropping it and argumentBytes more.
  inline void ReturnFrom(std::uint32_t esp, std::uint32_t argumentBytes = 0);

  // The status flags as `add esp, bytes` / `sub esp, bytes` would leave them
  // on a stack pointer of esp; the other flags stay.
  void SetFlagsOfAdd(std::uint32_t esp, std::uint32_t bytes);
  void SetFlagsOfSub(std::uint32_t esp, std::uint32_t bytes);
  // The status flags as `xor r32, r32` leaves them.
  void SetFlagsOfClear();
};
static_assert(offsetof(HookContext, eflags) == 32 && offsetof(HookContext, target) == 36);

// Words of the game's stack. Raw reads and writes at whatever the game holds
// there: the sanitizer does not know the game's frames.
__attribute__((no_sanitize_address)) inline std::uint32_t ReadGameWord(std::uint32_t address) {
  std::uint32_t value;
  std::memcpy(&value, reinterpret_cast<const void*>(std::uintptr_t(address)), sizeof value);
  return value;
}
__attribute__((no_sanitize_address)) inline void WriteGameWord(std::uint32_t address, std::uint32_t value) {
  std::memcpy(reinterpret_cast<void*>(std::uintptr_t(address)), &value, sizeof value);
}

// A stack the trampoline cannot reach: ends the process (a hook's mistake).
[[noreturn]] void HookStackOutOfReach();

void HookContext::Resume(std::uint32_t address, std::uint32_t esp) {
  // The target word must lie in the gap or above it: below, it would overwrite
  // this context before the trampoline has read it back.
  if (esp - kStackWord < GameEsp() - kHookStackGap) HookStackOutOfReach();
  WriteGameWord(esp - kStackWord, address);
  target = esp - kStackWord;
}

void HookContext::ResumeAt(std::uint32_t address) {
  WriteGameWord(GameEsp() - kStackWord, address);
  target = GameEsp() - kStackWord;
}

void HookContext::ReturnFrom(std::uint32_t esp, std::uint32_t argumentBytes) {
  Resume(ReadGameWord(esp), esp + kStackWord + argumentBytes);
}

// The trampolines, one per hook body. Each is code the game jumps to, never a
// function to call from C++; their addresses are what the jump patches name.
#define BRINDLE_HOOK_TRAMPOLINES(X) \
  X(Start)                          \
  X(Exit)                           \
  X(WindowChanged)                  \
  X(DefineAllObjects)               \
  X(SetUpItemLinkedLists)           \
  X(Frame)                          \
  X(QueryFlagA)                     \
  X(GetKeyStates)                   \
  X(GetJoypadStates)                \
  X(ScriptLoaded)                   \
  X(QueryFlagB)                     \
  X(LoadItems)                      \
  X(RollingBallDeath)               \
  X(DivingRollLandDeath)            \
  X(Flipeffect)                     \
  X(ReplacedCall)

// The feature modules' jump hooks have the same shape: a module declares each of its
// trampolines with BRINDLE_DECLARE_TRAMPOLINE and emits it with BRINDLE_EMIT_TRAMPOLINE.
//
// Each trampoline (AT&T syntax), entered by a jump with the game's stack
// pointer E:
//   lea  -(gap+4)(%esp), %esp   keep the gap and a target word; LEA leaves the flags alone
//   pushfl                      every flag, the direction flag among them: the flags word
//   pushal                      every register: the HookContext
//   cld                         the body is C++, whose calling convention wants the direction
//                               flag clear: the string instructions it compiles to (a key table
//                               cleared by `rep stos`) would otherwise run downwards
//   mov  %esp, %ebx             EBX survives the body (callee-saved) and is restored below
//   and  $-16, %esp             the game keeps its stack 4-byte aligned only
//   sub  $12, %esp; push %ebx   one argument, 16-byte aligned at the call
//   call Hook<name>
//   mov  %ebx, %esp
//   bt $10; jnc; std            the game's own direction flag back, tested before the status
//                               flags are loaded, since BT defines the carry
//   (flags from the context)    POPFD costs more than the rest of the trampoline: bit 11 is
//                               shifted to the top of AH and kept alone there, AH added to itself
//                               overflows exactly when it was set (0x80 + 0x80), then SAHF loads
//                               SF, ZF, AF, PF and CF from the low byte; the system flags are never
//                               changed by a body
//   popal                       registers as the body left them (POPAD leaves the flags)
//   lea  4(%esp), %esp          past the flags word
//   pop  %esp                   the target word: the game's stack, one word below its resume point
//   lea  4(%esp), %esp          the game's stack as the body asked
//   jmp  *-4(%esp)              to the resume address; a jump, not a return, so the
//                               processor's return predictions stay paired with the game's calls
static_assert(kHookStackGap + 4 == 260, "the trampoline text below spells out the gap and the target word");
static_assert(offsetof(HookContext, eflags) == 0x20, "the trampoline text below reads the flags there");
#define BRINDLE_EMIT_TRAMPOLINE(name)                         \
  asm(".pushsection .text\n"                                  \
      ".globl HookTrampoline" #name                           \
      "\n"                                                    \
      ".hidden HookTrampoline" #name                          \
      "\n"                                                    \
      ".type HookTrampoline" #name                            \
      ", @function\n"                                         \
      ".p2align 4\n"                                          \
      "HookTrampoline" #name                                  \
      ":\n"                                                   \
      "  lea -260(%esp), %esp\n"                              \
      "  pushfl\n"                                            \
      "  pushal\n"                                            \
      "  cld\n"                                               \
      "  mov %esp, %ebx\n"                                    \
      "  and $-16, %esp\n"                                    \
      "  sub $12, %esp\n"                                     \
      "  push %ebx\n"                                         \
      "  call Hook" #name                                     \
      "\n"                                                    \
      "  mov %ebx, %esp\n"                                    \
      "  btl $10, 32(%esp)\n"                                 \
      "  jnc 1f\n"                                            \
      "  std\n"                                               \
      "1:\n"                                                  \
      "  movzwl 32(%esp), %eax\n"                             \
      "  shl $4, %ah\n"                                       \
      "  and $0x80, %ah\n"                                    \
      "  add %ah, %ah\n"                                      \
      "  mov %al, %ah\n"                                      \
      "  sahf\n"                                              \
      "  popal\n"                                             \
      "  lea 4(%esp), %esp\n"                                 \
      "  pop %esp\n"                                          \
      "  lea 4(%esp), %esp\n"                                 \
      "  jmp *-4(%esp)\n"                                     \
      ".size HookTrampoline" #name ", .-HookTrampoline" #name \
      "\n"                                                    \
      ".popsection\n");
#define BRINDLE_DECLARE_TRAMPOLINE(name)  \
  extern "C" void HookTrampoline##name(); \
  extern "C" __attribute__((visibility("hidden"))) void Hook##name(HookContext* context);
BRINDLE_HOOK_TRAMPOLINES(BRINDLE_DECLARE_TRAMPOLINE)

inline std::uint32_t CodeAddress(void (*code)()) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(code)); }
