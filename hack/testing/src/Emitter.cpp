// The x86-32 emitter of the game image and the register probe.
#include <hack/testing/Emitter.h>

#include <cstddef>

namespace gameimage {

namespace {
constexpr std::uint8_t ModRmAbsolute(Reg reg) { return std::uint8_t(0x05 | (reg << 3)); }
constexpr std::uint8_t ModRmRegister(Reg reg, Reg rm) { return std::uint8_t(0xC0 | (reg << 3) | rm); }
// mod 01: [rm + disp8]; ESP as base needs a SIB byte.
constexpr std::uint8_t ModRmDisp8(std::uint8_t reg, Reg base) { return std::uint8_t(0x40 | (reg << 3) | base); }
constexpr std::uint8_t kSibEsp = 0x24;
constexpr std::uint8_t kOperandSize16 = 0x66;
constexpr std::uint8_t kTwoByteOpcode = 0x0F;
constexpr std::uint8_t kGroup1Imm8 = 0x83;  // /4 and, /7 cmp
constexpr std::uint8_t kGroupShiftImm8 = 0xC1;  // /5 shr
constexpr std::uint8_t kGroupUnary = 0xF7;  // /6 div
constexpr std::uint8_t kGroupFF = 0xFF;     // /2 call, /6 push
}  // namespace

CEmitter& CEmitter::Xor(Reg to, Reg from) { return Raw({0x31, ModRmRegister(from, to)}); }
CEmitter& CEmitter::Test(Reg a, Reg b) { return Raw({0x85, ModRmRegister(b, a)}); }
CEmitter& CEmitter::CmpImm8(Reg reg, std::int8_t value) {
  return Raw({kGroup1Imm8, ModRmRegister(Reg(7), reg), std::uint8_t(value)});
}
CEmitter& CEmitter::AndImm8(Reg reg, std::int8_t value) {
  return Raw({kGroup1Imm8, ModRmRegister(Reg(4), reg), std::uint8_t(value)});
}
CEmitter& CEmitter::ShrImm(Reg reg, std::uint8_t count) {
  return Raw({kGroupShiftImm8, ModRmRegister(Reg(5), reg), count});
}
CEmitter& CEmitter::Imul(Reg to, Reg from) { return Raw({kTwoByteOpcode, 0xAF, ModRmRegister(to, from)}); }
CEmitter& CEmitter::ImulImm(Reg to, Reg from, std::int32_t value) {
  return Raw({0x69, ModRmRegister(to, from)}).Imm32(std::uint32_t(value));
}
CEmitter& CEmitter::Div(Reg divisor) { return Raw({kGroupUnary, ModRmRegister(Reg(6), divisor)}); }
CEmitter& CEmitter::Setcc(Cond cond, Reg8 reg) {
  return Raw({kTwoByteOpcode, std::uint8_t(0x90 | cond), ModRmRegister(Reg(0), Reg(reg))});
}
CEmitter& CEmitter::MovzxByte(Reg to, Reg8 from) {
  return Raw({kTwoByteOpcode, 0xB6, ModRmRegister(to, Reg(from))});
}
CEmitter& CEmitter::MovsxWord(Reg to, Reg from) { return Raw({kTwoByteOpcode, 0xBF, ModRmRegister(to, from)}); }
CEmitter& CEmitter::MovByteImm(Reg8 reg, std::uint8_t value) { return Raw({std::uint8_t(0xB0 + reg), value}); }
CEmitter& CEmitter::SubByte(Reg8 to, Reg8 from) { return Raw({0x2A, ModRmRegister(Reg(to), Reg(from))}); }

CEmitter& CEmitter::LoadAt(Reg to, Reg base, std::int8_t displacement) {
  if (base == ESP) return LoadStack(to, displacement);
  return Raw({0x8B, ModRmDisp8(to, base), std::uint8_t(displacement)});
}
CEmitter& CEmitter::StoreAt(Reg base, std::int8_t displacement, Reg from) {
  if (base == ESP) return StoreStack(displacement, from);
  return Raw({0x89, ModRmDisp8(from, base), std::uint8_t(displacement)});
}
CEmitter& CEmitter::MovsxWordAt(Reg to, Reg base, std::int8_t displacement) {
  return Raw({kTwoByteOpcode, 0xBF, ModRmDisp8(to, base), std::uint8_t(displacement)});
}
CEmitter& CEmitter::MovWordAtImm(Reg base, std::int8_t displacement, std::uint16_t value) {
  return Raw({kOperandSize16, 0xC7, ModRmDisp8(0, base), std::uint8_t(displacement), std::uint8_t(value),
              std::uint8_t(value >> 8)});
}
CEmitter& CEmitter::SubWordAt(Reg base, std::int8_t displacement, Reg from) {
  return Raw({kOperandSize16, 0x29, ModRmDisp8(from, base), std::uint8_t(displacement)});
}
CEmitter& CEmitter::StoreStack(std::int8_t displacement, Reg from) {
  return Raw({0x89, ModRmDisp8(from, ESP), kSibEsp, std::uint8_t(displacement)});
}
CEmitter& CEmitter::LeaStack(Reg to, std::int8_t displacement) {
  return Raw({0x8D, ModRmDisp8(to, ESP), kSibEsp, std::uint8_t(displacement)});
}
CEmitter& CEmitter::PushStack(std::int8_t displacement) {
  return Raw({kGroupFF, ModRmDisp8(6, ESP), kSibEsp, std::uint8_t(displacement)});
}
CEmitter& CEmitter::PushMem(std::uint32_t address) { return Raw({kGroupFF, ModRmAbsolute(Reg(6))}).Imm32(address); }
CEmitter& CEmitter::PushImm8(std::int8_t value) { return Raw({0x6A, std::uint8_t(value)}); }
CEmitter& CEmitter::AndEsp16() { return AndImm8(ESP, -16); }
CEmitter& CEmitter::Cld() { return Raw({0xFC}); }
CEmitter& CEmitter::RepMovsd() { return Raw({0xF3, 0xA5}); }
// mod 00, rm 100 (SIB), SIB: scale 4, index, no base (disp32).
CEmitter& CEmitter::CallTable(Reg index, std::uint32_t table) {
  return Raw({kGroupFF, 0x14, std::uint8_t(0x85 | (index << 3))}).Imm32(table);
}

std::size_t CEmitter::JccShort(Cond cond) {
  Raw({std::uint8_t(0x70 | cond), 0});
  return m_Bytes.size() - 1;
}
std::size_t CEmitter::JmpShortForward() {
  Raw({0xEB, 0});
  return m_Bytes.size() - 1;
}
void CEmitter::Bind(std::size_t at) { m_Bytes[at] = std::uint8_t(m_Bytes.size() - (at + 1)); }

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
