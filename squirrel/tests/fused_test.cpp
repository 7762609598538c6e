// Fused instructions: which runs are rewritten, and that no run hides a jump target or spans two lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler.h"
#include "fused.h"

namespace {

struct FuseCase {
  const char16_t* source;
  std::vector<uint8_t> expected;  // fused opcodes of the main function, in order
};

std::vector<sq::Instruction> Fuse(const std::u16string& src, std::shared_ptr<sq::CompiledFunction>* proto) {
  sq::CompileError err;
  *proto = sq::CompileSource(nullptr, src, u"fused.nut", &err);
  EXPECT_TRUE(*proto) << std::string(err.message.begin(), err.message.end());
  return *proto ? bsq::FuseInstructions(**proto) : std::vector<sq::Instruction>{};
}

constexpr uint8_t A(bsq::ArithForm form, sq::Op op) { return bsq::ArithFusedOp(form, op); }
using bsq::FORM_INT;
using bsq::FORM_INT_STORE;
using bsq::FORM_LOCAL;
using bsq::FORM_LOCAL_INT;
using bsq::FORM_LOCAL_INT_STORE;
using bsq::FORM_LOCAL_LOCAL;
using bsq::FORM_LOCAL_LOCAL_STORE;
using bsq::FORM_STORE;
using sq::OP_ADD;
using sq::OP_BAND;
using sq::OP_BXOR;
using sq::OP_DIV;
using sq::OP_MOD;
using sq::OP_MUL;
using sq::OP_SHL;
using sq::OP_SUB;
using sq::OP_USHR;

TEST(Fused, RewritesTheCommonRunsOnly) {
  const FuseCase cases[] = {
      {u"local x = 1; x = x * 31;", {A(FORM_LOCAL_INT_STORE, OP_MUL)}},
      {u"local x = 1, y = 2; y = x & y;", {A(FORM_LOCAL_LOCAL_STORE, OP_BAND)}},
      {u"local a = 1, b = 2, c = 3; a = b ^ (c & 255);", {A(FORM_LOCAL_INT, OP_BAND), A(FORM_STORE, OP_BXOR)}},
      {u"local x = 1, y = 2; local z = x - y;", {A(FORM_LOCAL_LOCAL, OP_SUB)}},
      {u"local x = 1, y = 2; x = (x + 1) % 7;", {A(FORM_LOCAL_INT, OP_ADD), A(FORM_INT_STORE, OP_MOD)}},
      {u"local x = 1, y = 2; x = (x << 1) / 7 >>> y;",
       {A(FORM_LOCAL_INT, OP_SHL), A(FORM_INT, OP_DIV), A(FORM_LOCAL, OP_USHR), bsq::XOP_STOREPOP}},
      {u"for (local i = 0; i < 10; ++i) {}", {bsq::XOP_LOCAL_INT_CMPJ, bsq::XOP_INCPOP, bsq::XOP_JMP_CMPJ}},
      {u"local a = 1, b = 2; if (a != b) a = 3;", {bsq::XOP_CMPJ, bsq::XOP_STOREPOP}},
      // A value on each side of a ternary: the jump into the middle keeps both runs apart.
      {u"local a = 1; local b = a ? 2 : 3;", {}},
      // Two lines: an error must name the line of its own instruction, so only the second line's pair fuses.
      {u"local a = 1; local b = a\n * 2;", {A(FORM_INT, OP_MUL)}},
  };
  for (const FuseCase& c : cases) {
    std::u16string src(c.source);
    SCOPED_TRACE(std::string(src.begin(), src.end()));
    std::shared_ptr<sq::CompiledFunction> proto;
    std::vector<sq::Instruction> code = Fuse(src, &proto);
    ASSERT_TRUE(proto);
    ASSERT_EQ(code.size(), proto->code.size());
    std::vector<uint8_t> fused;
    for (size_t i = 0; i < code.size(); ++i) {
      if (code[i].op >= sq::OP_COUNT) {
        fused.push_back(code[i].op);
        continue;
      }
      // Instructions that stay keep every field.
      EXPECT_EQ(code[i].op, proto->code[i].op) << i;
      EXPECT_EQ(code[i].a, proto->code[i].a) << i;
    }
    EXPECT_EQ(fused, c.expected);
  }
}

// Every jump of a larger function lands on an instruction that is the start of a run (or no run).
TEST(Fused, NoJumpLandsInsideARun) {
  std::shared_ptr<sq::CompiledFunction> proto;
  std::vector<sq::Instruction> code = Fuse(
      u"local s = 0;\n"
      u"for (local i = 0; i < 100; ++i) { if (i % 3 == 0) continue; s = s + i; while (s > 50) s = s - 7; }\n"
      u"local t = s > 3 ? s * 2 : s + 1; try { t = t / 0; } catch (e) { t = 1; }\n",
      &proto);
  ASSERT_TRUE(proto);
  std::vector<bool> inside(code.size(), false);
  for (size_t i = 0; i < code.size(); ++i) {
    size_t len = bsq::FusedLength(code[i].op);
    for (size_t k = 1; k < len; ++k) inside[i + k] = true;
  }
  size_t jumps = 0;
  for (size_t i = 0; i < proto->code.size(); ++i) {
    uint8_t op = proto->code[i].op;
    if (op != sq::OP_JMP && op != sq::OP_JMPF && op != sq::OP_JMPT && op != sq::OP_PUSHTRAP) continue;
    ++jumps;
    size_t target = size_t(int64_t(i) + 1 + proto->code[i].a);
    ASSERT_LE(target, code.size());
    if (target < code.size()) {
      EXPECT_FALSE(inside[target]) << "jump at " << i;
    }
  }
  EXPECT_GT(jumps, 5u);
}

}  // namespace
