#include <hack/testing/Emitter.h>

#include <cstddef>

namespace gameimage {

namespace {
constexpr std::uint8_t ModRmAbsolute(Reg reg) { return std::uint8_t(0x05 | (reg << 3)); }
constexpr std::uint8_t ModRmRegister(Reg reg, Reg rm) { return std::uint8_t(0xC0 | (reg << 3) | rm); }
}  // namespace

CEmitter& CEmitter::Raw(std::initializer_list<std::uint8_t> bytes) {
  m_Bytes.insert(m_Bytes.end(), bytes.begin(), bytes.end());
  return *this;
}

CEmitter& CEmitter::Imm32(std::uint32_t value) {
  for (int i = 0; i < 4; ++i) m_Bytes.push_back(std::uint8_t(value >> (8 * i)));
  return *this;
}

CEmitter& CEmitter::Nop(std::uint32_t count) {
  m_Bytes.insert(m_Bytes.end(), count, 0x90);
  return *this;
}
CEmitter& CEmitter::Int3() { return Raw({0xCC}); }
CEmitter& CEmitter::Ret() { return Raw({0xC3}); }
CEmitter& CEmitter::RetN(std::uint16_t bytes) { return Raw({0xC2, std::uint8_t(bytes), std::uint8_t(bytes >> 8)}); }
CEmitter& CEmitter::Pushad() { return Raw({0x60}); }
CEmitter& CEmitter::Popad() { return Raw({0x61}); }
CEmitter& CEmitter::Pushfd() { return Raw({0x9C}); }
CEmitter& CEmitter::Popfd() { return Raw({0x9D}); }
CEmitter& CEmitter::Stc() { return Raw({0xF9}); }
CEmitter& CEmitter::Clc() { return Raw({0xF8}); }

CEmitter& CEmitter::Push(Reg reg) { return Raw({std::uint8_t(0x50 + reg)}); }
CEmitter& CEmitter::Pop(Reg reg) { return Raw({std::uint8_t(0x58 + reg)}); }
CEmitter& CEmitter::PushImm(std::uint32_t value) { return Raw({0x68}).Imm32(value); }
CEmitter& CEmitter::MovImm(Reg reg, std::uint32_t value) { return Raw({std::uint8_t(0xB8 + reg)}).Imm32(value); }
CEmitter& CEmitter::MovAlImm(std::uint8_t value) { return Raw({0xB0, value}); }
CEmitter& CEmitter::Mov(Reg to, Reg from) { return Raw({0x89, ModRmRegister(from, to)}); }

CEmitter& CEmitter::Load(Reg to, std::uint32_t address) {
  if (to == EAX) return Raw({0xA1}).Imm32(address);
  return Raw({0x8B, ModRmAbsolute(to)}).Imm32(address);
}

CEmitter& CEmitter::Store(std::uint32_t address, Reg from) {
  if (from == EAX) return Raw({0xA3}).Imm32(address);
  return Raw({0x89, ModRmAbsolute(from)}).Imm32(address);
}

CEmitter& CEmitter::LoadStack(Reg to, std::int8_t displacement) {
  // mod 01, rm 100 (SIB), SIB: base ESP, no index.
  return Raw({0x8B, std::uint8_t(0x44 | (to << 3)), 0x24, std::uint8_t(displacement)});
}

CEmitter& CEmitter::Add(Reg to, Reg from) { return Raw({0x01, ModRmRegister(from, to)}); }

CEmitter& CEmitter::AddImm(Reg reg, std::uint32_t value) {
  if (reg == EAX) return Raw({0x05}).Imm32(value);
  return Raw({0x81, std::uint8_t(0xC0 | reg)}).Imm32(value);
}

CEmitter& CEmitter::IncMem(std::uint32_t address) { return Raw({0xFF, 0x05}).Imm32(address); }

CEmitter& CEmitter::AddEsp(std::int32_t bytes) {
  const bool subtract = bytes < 0;
  const std::uint32_t magnitude = subtract ? 0u - std::uint32_t(bytes) : std::uint32_t(bytes);
  if (magnitude <= 127) return Raw({0x83, std::uint8_t(subtract ? 0xEC : 0xC4), std::uint8_t(magnitude)});
  return Raw({0x81, std::uint8_t(subtract ? 0xEC : 0xC4)}).Imm32(magnitude);
}

// The displacement counts from the end of the instruction, so it is taken
// before the opcode goes into the buffer.
CEmitter& CEmitter::Call(std::uint32_t target) {
  const std::uint32_t displacement = target - (Here() + 5);
  return Raw({0xE8}).Imm32(displacement);
}
CEmitter& CEmitter::CallReg(Reg reg) { return Raw({0xFF, std::uint8_t(0xD0 | reg)}); }
CEmitter& CEmitter::Jmp(std::uint32_t target) {
  const std::uint32_t displacement = target - (Here() + 5);
  return Raw({0xE9}).Imm32(displacement);
}
CEmitter& CEmitter::JmpShort(std::uint32_t target) {
  const auto displacement = std::uint8_t(std::int8_t(std::int32_t(target - (Here() + 2))));
  return Raw({0xEB, displacement});
}

void EmitRegisterProbe(CEmitter& e, std::uint32_t capture) {
  auto field = [capture](std::size_t offset) { return capture + std::uint32_t(offset); };
  e.Pushfd();
  e.Store(field(offsetof(RegisterCapture, eax)), EAX);
  e.Store(field(offsetof(RegisterCapture, ecx)), ECX);
  e.Store(field(offsetof(RegisterCapture, edx)), EDX);
  e.Store(field(offsetof(RegisterCapture, ebx)), EBX);
  e.Store(field(offsetof(RegisterCapture, ebp)), EBP);
  e.Store(field(offsetof(RegisterCapture, esi)), ESI);
  e.Store(field(offsetof(RegisterCapture, edi)), EDI);
  e.IncMem(field(offsetof(RegisterCapture, calls)));  // flags are restored below
  e.Pop(EAX);
  e.Store(field(offsetof(RegisterCapture, eflags)), EAX);
  e.Store(field(offsetof(RegisterCapture, esp)), ESP);
  e.LoadStack(EAX, 0);
  e.Store(field(offsetof(RegisterCapture, returnAddress)), EAX);
  e.Load(EAX, field(offsetof(RegisterCapture, eflags)));
  e.Push(EAX);
  e.Load(EAX, field(offsetof(RegisterCapture, eax)));
  e.Popfd();
  e.Ret();
}

}  // namespace gameimage
