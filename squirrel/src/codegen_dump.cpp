// Text listing of compiled prototypes, for compiler tests and debugging.
#include <cstdio>
#include <string>

#include "compiler.h"

namespace sq {

namespace {

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? char(c) : '?');
  return out;
}

std::string ConstantText(const Constant& c) {
  char buf[64];
  switch (c.kind) {
    case Constant::Null:
      return "null";
    case Constant::Bool:
      return c.i ? "true" : "false";
    case Constant::Integer:
      std::snprintf(buf, sizeof buf, "%d", int(c.i));
      return buf;
    case Constant::Float:
      std::snprintf(buf, sizeof buf, "%gf", double(c.f));
      return buf;
    case Constant::String: {
      std::string r(1, '"');
      r += Narrow(c.s);
      r.push_back('"');
      return r;
    }
  }
  return "?";
}

void DumpInto(const CompiledFunction& p, const std::string& indent, std::string& out) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%sfunction %s params=%u defaults=%u varargs=%d generator=%d stack=%u\n",
                indent.c_str(), Narrow(p.name).c_str(), unsigned(p.nparams), unsigned(p.ndefaults), int(p.varargs),
                int(p.generator), unsigned(p.stackSize));
  out += buf;
  for (size_t i = 0; i < p.outers.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%s  outer %zu %s %s %u\n", indent.c_str(), i, Narrow(p.outers[i].name).c_str(),
                  p.outers[i].fromLocal ? "local" : "outer", unsigned(p.outers[i].index));
    out += buf;
  }
  for (size_t pc = 0; pc < p.code.size(); ++pc) {
    const Instruction& ins = p.code[pc];
    std::snprintf(buf, sizeof buf, "%s  %3zu %-10s %d %d %d", indent.c_str(), pc, OpName(ins.op), int(ins.a),
                  int(ins.b), int(int16_t(ins.c)));
    out += buf;
    if ((ins.op == OP_LOADK || ins.op == OP_GETK || ins.op == OP_GETENV || ins.op == OP_SETENV ||
         ins.op == OP_PREPCALLK) &&
        ins.a >= 0 && size_t(ins.a) < p.constants.size()) {
      out += "  ; ";
      out += ConstantText(p.constants[size_t(ins.a)]);
    }
    out += "\n";
  }
  std::string deeper = indent;
  deeper.append("  ");
  for (const auto& f : p.functions) DumpInto(*f, deeper, out);
}

}  // namespace

std::string Disassemble(const CompiledFunction& proto) {
  std::string out;
  DumpInto(proto, "", out);
  return out;
}

}  // namespace sq
