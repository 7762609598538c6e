// libFuzzer target: turns bytes into a script that calls the natives and members of Engine.EventSystem, EventType,
// Event, Vector1D to Vector4D and Matrix4x4 (rows included) with values of every kind (wrong classes, rows of
// dropped matrices, NaN, 0x80000000, units above 255, null, tables), runs it in an environment of the host
// and tears its environments down. Errors are the scripts' own; the sanitizers watch the natives.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include <base/Stream.h>
#include <platform/text.h>

#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

namespace {

// Values the statements draw on; v[i] in the script.
const char* const kValues[] = {
    "Engine.Vector1D(1)",
    "Engine.Vector2D(3, 4)",
    "Engine.Vector3D(1, 2, 3)",
    "Engine.Vector4D(1, 2, 3, 4)",
    "Engine.Vector3D(0, 0, 0)",
    "Engine.Matrix4x4()",
    "Engine.Matrix4x4(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16)",
    "Engine.Matrix4x4().Pos",
    "Engine.EventType(\"F\")",
    "Engine.Event(Engine.EventType(\"G\"))",
    "Engine.Vector2D.instance()",
    "Engine.Matrix4x4.instance()",
    "Engine.Event.instance()",
    "null",
    "{}",
    "[1, 2]",
    "0x80000000",
    "-0x80000000",
    "1e38 * 1e38",
    "(1e38 * 1e38) * 0",
    "0.5",
    "\"X\"",
    "\"Pos\"",
    "\"\\u0100\\uffff\"",
    "function(...) { return vargv.len(); }",
    "Engine.Vector4D",
};
constexpr std::size_t kValueCount = std::size(kValues);

// Members called as v[a].Member(v[b], v[c], ...): the count is how many arguments each takes at most.
struct tMember {
  const char* name;
  int arguments;
};
const tMember kMembers[] = {
    {"SetNormalise", 1},    {"GetLength", 0},       {"GetDotProduct", 1},     {"SetCrossProduct", 2},
    {"SetIdentity", 0},     {"SetMultiply", 2},     {"SetTranslate", 1},      {"SetScale", 1},
    {"SetRotateX", 1},      {"SetRotateY", 1},      {"SetRotateZ", 1},        {"SetOrthoOffCentreRH", 6},
    {"SetPerspectiveFOVLH", 4}, {"SetPerspectiveFOVRH", 4}, {"SetLookAtLH", 3}, {"SetLookAtRH", 3},
    {"TransformNormal", 1}, {"TransformCoordinate", 1}, {"SetInverse", 1},    {"AddHandler", 1},
    {"PreventDefault", 0},  {"IsDefaultPrevented", 0}, {"GetEventType", 0},   {"Trigger", 3},
    {"constructor", 2},     {"tostring", 0},
};
const char* const kOperators[] = {"+", "-", "*", "/"};
const char* const kSystem[] = {"GetEventType", "AddEventType", "RemoveEventType", "IsEventTypeAdded"};

std::string Value(std::uint8_t byte) { return "v[" + std::to_string(byte % kValueCount) + "]"; }

// One statement from the next bytes; each is guarded, so a script error ends only that statement.
std::string Statement(const std::uint8_t*& at, const std::uint8_t* end) {
  const auto next = [&]() -> std::uint8_t { return at < end ? *at++ : 0; };
  const std::uint8_t kind = next();
  std::string body;
  switch (kind % 8) {
    case 0: {
      const tMember& member = kMembers[next() % std::size(kMembers)];
      body = Value(next()) + "." + member.name + "(";
      const int count = next() % (member.arguments + 1);
      for (int i = 0; i < count; ++i) body += (i > 0 ? ", " : "") + Value(next());
      body += ")";
      break;
    }
    case 1: body = "v[" + std::to_string(next() % kValueCount) + "] = " + Value(next()) + " " +
                   kOperators[next() % std::size(kOperators)] + " " + Value(next());
      break;
    case 2: body = "::t <- " + Value(next()) + "[" + Value(next()) + "]"; break;
    case 3: body = Value(next()) + "[" + Value(next()) + "] = " + Value(next()); break;
    case 4: body = "v[" + std::to_string(next() % kValueCount) + "] = clone " + Value(next()); break;
    case 5: body = "Engine.EventSystem." + std::string(kSystem[next() % std::size(kSystem)]) + "(" + Value(next()) + ")";
      break;
    case 6: body = "v[" + std::to_string(next() % kValueCount) + "] = " + kValues[next() % kValueCount]; break;
    default: body = "collectgarbage()"; break;
  }
  return "try { " + body + "; } catch (e) {}\n";
}

bool Run(CScriptEnvironment* environment, const std::string& code) {
  CScriptHost* host = environment->GetHost();
  const HSQUIRRELVM t = environment->GetThread();
  const SQInteger top = sq_gettop(t);
  auto* stream = new CByteArrayStream(const_cast<char*>(code.data()), std::uint32_t(code.size()));
  host->PushRunningEnvironment(environment);
  environment->Enter();
  bool ok = SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"fuzz.nut"));
  if (ok) {
    sq_pushroottable(t);
    ok = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQFalse));
  }
  sq_settop(t, top);
  environment->Leave();
  host->PopRunningEnvironment();
  stream->Release();
  return ok;
}

constexpr std::size_t kMaxStatements = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string code = "local v = [";
  for (std::size_t i = 0; i < kValueCount; ++i) code += std::string(i > 0 ? ", " : "") + kValues[i];
  code += "];\n";
  // A handler that does what the bytes say whenever an event fires.
  code += "local h = function(e, ...) { if (vargv.len() > 2) e.PreventDefault(); };\n";
  code += "try { v[8].AddHandler(h); v[9].GetEventType().AddHandler(h); } catch (e) {}\n";
  const std::uint8_t* at = data;
  const std::uint8_t* end = data + size;
  for (std::size_t n = 0; n < kMaxStatements && at < end; ++n) code += Statement(at, end);
  // One host for every input (making one costs more than most runs); each input's environments, the types left
  // without owner and Shared go when it ends.
  static CScriptHost* host = new CScriptHost();
  g_ScriptHost = host;
  auto* environment = new CScriptEnvironment(host, u"fuzz");
  // A second environment goes while the first still holds what it made.
  auto* other = new CScriptEnvironment(host, u"other");
  Run(other, "::Shared.made <- Engine.EventType(\"O\"); Shared.made.AddHandler(@(e) 1);");
  delete other;
  Run(environment, code);
  Run(environment, "try { Engine.EventSystem.AddEventType(Shared.made); Engine.Event(Shared.made).Trigger(); }"
                   "catch (e) {}");
  Run(environment, "Shared.clear(); collectgarbage();");
  delete environment;
  host->GetEventTypes().RemoveOwnedBy(nullptr);
  return 0;
}
