#pragma once
// Pieces of the machine-code stubs that feature modules put behind their jump patches.
//
// Errors and locks: none; the stubs run on the game's main thread in the game's own code.

// Assembler text that continues the game at the address held in the u32 variable slot (a hidden global of the
// program), keeping every register and flag. The program is position independent, so the slot is reached from
// the stub's own address; the word below the game's stack pointer, free to the game, carries the target.
#define BRINDLE_JUMP_THROUGH(slot) \
  "  push %eax\n"                  \
  "  call 9f\n"                    \
  "9:\n"                           \
  "  pop %eax\n"                   \
  "  mov " slot                    \
  "-9b(%eax), %eax\n"              \
  "  xchg %eax, (%esp)\n"          \
  "  ret\n"
