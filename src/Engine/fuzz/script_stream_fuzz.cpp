// Fuzzes the script natives of Stream and TextReader: the first bytes pick a call sequence, the rest is the
// stream they work on (read and written in place).
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <engine/Native.h>
#include <engine/Scripting.h>

namespace {

using namespace Vexil3D;

// Each call takes two bytes of the program: the member and its argument.
constexpr std::size_t kCallBytes = 2;
constexpr std::size_t kMaxCalls = 64;

const char16_t* const kStreamMembers[] = {
    u"close",       u"length",     u"position",    u"readBytes",  u"readString",  u"readLine",   u"writeBytes",
    u"writeString", u"readInt8",   u"readUInt8",   u"readInt16",  u"readUInt16",  u"readInt32",  u"readUInt32",
    u"readInt64",   u"readUInt64", u"readFloat",   u"readDouble", u"writeInt8",   u"writeUInt8", u"writeInt16",
    u"writeUInt16", u"writeInt32", u"writeUInt32", u"writeInt64", u"writeUInt64", u"writeFloat", u"writeDouble"};
const char16_t* const kReaderMembers[] = {u"close", u"loadText", u"readLine", u"readCharacter"};
constexpr std::size_t kStreamMemberCount = std::size(kStreamMembers);
// Member numbers past the stream's and the reader's: make a new TextReader over the stream.
constexpr std::size_t kMemberCount = kStreamMemberCount + std::size(kReaderMembers) + 1;

// Arguments worth trying, the rest taken from the byte itself.
const std::int64_t kEdgeValues[] = {
    0, 1, -1, 7, 255, 65536, std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min()};

void AppendArgument(CArgumentArray* arguments, std::uint8_t byte) {
  switch (byte % 4) {
    case 0:
      arguments->AppendInteger(static_cast<std::int32_t>(kEdgeValues[(byte >> 2) % std::size(kEdgeValues)]));
      break;
    case 1:
      arguments->AppendInteger(static_cast<std::int8_t>(byte) >> 2);
      break;
    case 2:
      arguments->AppendString(u"\u00E9t\u00E9\r\n", 4);
      break;
    default:
      arguments->AppendDouble(static_cast<double>(byte) / 3.0);
      break;
  }
}

void Call(CScripting& scripting, CBaseObject* self, const CallableRecord& record, std::uint8_t argument) {
  CArgumentArray arguments;
  AppendArgument(&arguments, argument);
  CNativeState state(&scripting, nullptr, &arguments);
  state.SetThis(self);
  if (record.Call(&state, static_cast<int>(arguments.GetCount())) && record.name == u"readBytes") {
    // A read that succeeds gives exactly the bytes asked for.
    std::uint32_t size = 0;
    auto* bytes = static_cast<CArgumentBytes*>(state.GetResults().Get(0));
    bytes->GetBytes(&size);
    std::int32_t count = 0;
    arguments.Get(0)->ToNumber(&count);
    if (size != static_cast<std::uint32_t>(count)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t calls = std::min<std::size_t>(data[0] % (kMaxCalls + 1), (size - 1) / kCallBytes);
  const std::uint8_t* program = data + 1;
  std::vector<std::uint8_t> contents(program + calls * kCallBytes, data + size);

  static CScripting scripting;
  ReflectedClass* streamClass = scripting.m_Global.m_pStreamClass;
  ReflectedClass* readerClass = scripting.m_Global.FindClass(u"TextReader");
  Strong<Stream> stream;
  stream.Attach(new CMemoryStream(contents.data(), static_cast<std::uint32_t>(contents.size()),
                                  CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE));
  Strong<CScriptStream> script;
  script.Attach(new CScriptStream(stream.Get(), streamClass));
  Strong<CBaseObject> reader;
  for (std::size_t i = 0; i < calls; ++i) {
    const std::size_t member = program[i * kCallBytes] % kMemberCount;
    const std::uint8_t argument = program[i * kCallBytes + 1];
    if (member < kStreamMemberCount) {
      const MethodEntry* method = streamClass->FindMethod(kStreamMembers[member]);
      const PropertyEntry* property = streamClass->FindProperty(kStreamMembers[member]);
      Call(scripting, script.Get(), method ? method->callable : property->getter, argument);
    } else if (member + 1 < kMemberCount) {
      if (reader)
        Call(scripting, reader.Get(), readerClass->FindMethod(kReaderMembers[member - kStreamMemberCount])->callable,
             argument);
    } else {
      CArgumentArray arguments;
      arguments.AppendObject(script.Get());
      CNativeState state(&scripting, nullptr, &arguments);
      if (readerClass->GetConstructor().Call(&state, 1)) reader = state.GetResults().Get(0)->ToObject();
    }
  }
  // A stream still open at the end is closed here, not by the collector's path (which logs).
  script->Close();
  return 0;
}
