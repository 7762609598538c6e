#pragma once
// A small x86-32 emitter for writing game code in tests.
//
// The emitter assembles into a buffer for code that will run at `origin`;
// relative jumps and calls are computed against that address. Place the bytes
// with CGameImage::Place (or copy them yourself to exactly `origin`).
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace gameimage {

enum Reg : std::uint8_t { EAX = 0, ECX = 1, EDX = 2, EBX = 3, ESP = 4, EBP = 5, ESI = 6, EDI = 7 };
// Byte registers share the numbers of their full registers (AL = EAX, ...).
enum Reg8 : std::uint8_t { AL = 0, CL = 1, DL = 2, BL = 3 };
// Condition codes of Jcc and SETcc.
enum Cond : std::uint8_t { CondE = 0x4, CondNE = 0x5, CondLE = 0xE, CondG = 0xF };

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

  CEmitter& Xor(Reg to, Reg from);                 // xor r32, r32
  CEmitter& Test(Reg a, Reg b);                    // test r32, r32
  CEmitter& CmpImm8(Reg reg, std::int8_t value);   // cmp r32, imm8
  CEmitter& AndImm8(Reg reg, std::int8_t value);   // and r32, imm8
  CEmitter& ShrImm(Reg reg, std::uint8_t count);   // shr r32, imm8
  CEmitter& Imul(Reg to, Reg from);                // imul r32, r32
  CEmitter& ImulImm(Reg to, Reg from, std::int32_t value);  // imul r32, r32, imm32
  CEmitter& Div(Reg divisor);                      // div r32 (EDX:EAX)
  CEmitter& Setcc(Cond cond, Reg8 reg);            // setcc r8
  CEmitter& MovzxByte(Reg to, Reg8 from);          // movzx r32, r8
  CEmitter& MovsxWord(Reg to, Reg from);           // movsx r32, r16
  CEmitter& MovByteImm(Reg8 reg, std::uint8_t value);  // mov r8, imm8
  CEmitter& SubByte(Reg8 to, Reg8 from);           // sub r8, r8
  CEmitter& LoadAt(Reg to, Reg base, std::int8_t displacement);   // mov r32, [base + disp8]
  CEmitter& StoreAt(Reg base, std::int8_t displacement, Reg from);  // mov [base + disp8], r32
  CEmitter& MovsxWordAt(Reg to, Reg base, std::int8_t displacement);  // movsx r32, word [base + disp8]
  CEmitter& MovWordAtImm(Reg base, std::int8_t displacement, std::uint16_t value);  // mov word [base + disp8], imm16
  CEmitter& SubWordAt(Reg base, std::int8_t displacement, Reg from);  // sub word [base + disp8], r16
  CEmitter& StoreStack(std::int8_t displacement, Reg from);  // mov [esp + disp8], r32
  CEmitter& LeaStack(Reg to, std::int8_t displacement);      // lea r32, [esp + disp8] (4 bytes)
  CEmitter& PushStack(std::int8_t displacement);   // push dword [esp + disp8]
  CEmitter& PushMem(std::uint32_t address);        // push dword [abs32]
  CEmitter& PushImm8(std::int8_t value);           // push imm8
  CEmitter& AndEsp16();                            // and esp, -16
  CEmitter& Cld();
  CEmitter& RepMovsd();
  CEmitter& CallTable(Reg index, std::uint32_t table);  // call [table + index * 4]

  // Forward conditional short jump: returns where its displacement lies, for Bind.
  std::size_t JccShort(Cond cond);
  std::size_t JmpShortForward();
  // Points the short jump whose displacement lies at `at` to Here().
  void Bind(std::size_t at);

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
