#include <gtest/gtest.h>

#include <vector>

#include <hack/testing/Emitter.h>

namespace {

using gameimage::CEmitter;
using Bytes = std::vector<std::uint8_t>;

// The test image's code is only as good as its encodings.
TEST(HackEmitter, Encodings) {
  struct Case {
    const char* name;
    void (*emit)(CEmitter&);
    Bytes bytes;
  };
  const Case cases[] = {
      {"mov ecx, imm", [](CEmitter& e) { e.MovImm(gameimage::ECX, 0x11223344); }, {0xB9, 0x44, 0x33, 0x22, 0x11}},
      {"mov eax, [abs]", [](CEmitter& e) { e.Load(gameimage::EAX, 0x401000); }, {0xA1, 0x00, 0x10, 0x40, 0x00}},
      {"mov esi, [abs]", [](CEmitter& e) { e.Load(gameimage::ESI, 0x401000); }, {0x8B, 0x35, 0x00, 0x10, 0x40, 0x00}},
      {"mov [abs], esp", [](CEmitter& e) { e.Store(0x401000, gameimage::ESP); }, {0x89, 0x25, 0x00, 0x10, 0x40, 0x00}},
      {"mov edx, [esp+8]", [](CEmitter& e) { e.LoadStack(gameimage::EDX, 8); }, {0x8B, 0x54, 0x24, 0x08}},
      {"mov ebp, esp", [](CEmitter& e) { e.Mov(gameimage::EBP, gameimage::ESP); }, {0x89, 0xE5}},
      {"add ebx, ecx", [](CEmitter& e) { e.Add(gameimage::EBX, gameimage::ECX); }, {0x01, 0xCB}},
      {"add edi, imm", [](CEmitter& e) { e.AddImm(gameimage::EDI, 5); }, {0x81, 0xC7, 0x05, 0x00, 0x00, 0x00}},
      {"sub esp, 20", [](CEmitter& e) { e.AddEsp(-20); }, {0x83, 0xEC, 0x14}},
      {"add esp, 168", [](CEmitter& e) { e.AddEsp(168); }, {0x81, 0xC4, 0xA8, 0x00, 0x00, 0x00}},
      {"ret 16", [](CEmitter& e) { e.RetN(16); }, {0xC2, 0x10, 0x00}},
      {"call eax", [](CEmitter& e) { e.CallReg(gameimage::EAX); }, {0xFF, 0xD0}},
      {"inc [abs]", [](CEmitter& e) { e.IncMem(0x500000); }, {0xFF, 0x05, 0x00, 0x00, 0x50, 0x00}},
      {"call back", [](CEmitter& e) { e.Nop().Call(0x401000); }, {0x90, 0xE8, 0xFA, 0xFF, 0xFF, 0xFF}},
      {"jmp on", [](CEmitter& e) { e.Jmp(0x401105); }, {0xE9, 0x00, 0x01, 0x00, 0x00}},
      {"jmp short self", [](CEmitter& e) { e.JmpShort(0x401000); }, {0xEB, 0xFE}},
  };
  for (const Case& c : cases) {
    CEmitter e(0x401000);
    c.emit(e);
    EXPECT_EQ(e.Code(), c.bytes) << c.name;
    EXPECT_EQ(e.Here(), 0x401000u + c.bytes.size()) << c.name;
  }
}

}  // namespace
