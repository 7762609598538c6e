#pragma once
// A small x86-32 emitter for writing game code in tests.
//
// The emitter assembles into a buffer for code that will run at `origin`;
// relative jumps and calls are computed against that address. Place the bytes
// with CGameImage::Place (or copy them yourself to exactly `origin`).
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace gameimage {

enum Reg : std::uint8_t { EAX = 0, ECX = 1, EDX = 2, EBX = 3, ESP = 4, EBP = 5, ESI = 6, EDI = 7 };

class CEmitter {
 public:
  explicit CEmitter(std::uint32_t origin) : m_Origin(origin) {}

  std::uint32_t Origin() const { return m_Origin; }
  // Address of the next byte.
  std::uint32_t Here() const { return m_Origin + std::uint32_t(m_Bytes.size()); }
  const std::vector<std::uint8_t>& Code() const { return m_Bytes; }

  CEmitter& Raw(std::initializer_list<std::uint8_t> bytes);
  CEmitter& Imm32(std::uint32_t value);

  CEmitter& Nop(std::uint32_t count = 1);
  CEmitter& Int3();
  CEmitter& Ret();
  CEmitter& RetN(std::uint16_t bytes);  // ret imm16 (callee pops arguments)
  CEmitter& Pushad();
  CEmitter& Popad();
  CEmitter& Pushfd();
  CEmitter& Popfd();
  CEmitter& Stc();
  CEmitter& Clc();

  CEmitter& Push(Reg reg);
  CEmitter& Pop(Reg reg);
  CEmitter& PushImm(std::uint32_t value);        // push imm32
  CEmitter& MovImm(Reg reg, std::uint32_t value);  // mov r32, imm32 (5 bytes)
  CEmitter& MovAlImm(std::uint8_t value);          // mov al, imm8 (2 bytes)
  CEmitter& Mov(Reg to, Reg from);                 // mov r32, r32
  CEmitter& Load(Reg to, std::uint32_t address);   // mov r32, [abs32]
  CEmitter& Store(std::uint32_t address, Reg from);  // mov [abs32], r32
  CEmitter& LoadStack(Reg to, std::int8_t displacement);  // mov r32, [esp + disp8]
  CEmitter& Add(Reg to, Reg from);                 // add r32, r32
  CEmitter& AddImm(Reg reg, std::uint32_t value);  // add r32, imm32 (6 bytes, 5 for EAX)
  CEmitter& IncMem(std::uint32_t address);         // inc dword [abs32]
  CEmitter& AddEsp(std::int32_t bytes);            // add esp, imm (sub for negative)

  CEmitter& Call(std::uint32_t target);            // call rel32
  CEmitter& CallReg(Reg reg);                      // call r32
  CEmitter& Jmp(std::uint32_t target);             // jmp rel32
  CEmitter& JmpShort(std::uint32_t target);        // jmp rel8

 private:
  std::uint32_t m_Origin;
  std::vector<std::uint8_t> m_Bytes;
};

// What RegisterProbe saw at its entry: the caller's registers and flags, the
// stack pointer as it pointed at the return address, that return address, and
// how often it ran.
struct RegisterCapture {
  std::uint32_t eax, ecx, edx, ebx, esp, ebp, esi, edi;
  std::uint32_t eflags;
  std::uint32_t returnAddress;
  std::uint32_t calls;
};

// Emits a routine that records a RegisterCapture at captureAddress (writable
// memory of sizeof(RegisterCapture) bytes) and returns with every register and
// flag as it found them.
void EmitRegisterProbe(CEmitter& emitter, std::uint32_t captureAddress);

}  // namespace gameimage
