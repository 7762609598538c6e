// The core script library's Stream and TextReader classes: binary reads and writes and text lines.
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <engine/Native.h>
#include <engine/Stream.h>

#include "CoreLibraryClasses.h"

namespace Vexil3D::CoreLibrary {

namespace {

using CScriptTextReader = CObjectValue<AutoDelete<CTextReader>>;

constexpr int kBitsPerByte = 8;
constexpr int kValueArgument = 0;

// The script stream of "this"; null (with the text) when "this" is wrong or the stream is closed.
CScriptStream* OpenThis(CNativeState* state, void* user, const char16_t* closedText) {
  auto* global = static_cast<CReflection*>(user);
  auto* self = ThisAs<CScriptStream>(state, global->m_pStreamClass, u"Stream");
  if (self && !self->GetStream()) {
    state->Error(closedText);
    return nullptr;
  }
  return self;
}

Stream* StreamOf(CNativeState* state, void* user) {
  CScriptStream* self = OpenThis(state, user, u"stream closed");
  return self ? self->GetStream() : nullptr;
}

bool Close(CNativeState* state, int, void* user) {
  CScriptStream* self = OpenThis(state, user, u"stream already closed");
  if (!self) return false;
  self->Close();
  return true;
}

bool Length(CNativeState* state, int, void* user) {
  CScriptStream* self = OpenThis(state, user, u"stream already closed");
  return self && state->ReturnLongInteger(static_cast<std::int64_t>(self->GetStream()->GetLength()));
}

bool Position(CNativeState* state, int, void* user) {
  CScriptStream* self = OpenThis(state, user, u"stream already closed");
  return self && state->ReturnLongInteger(static_cast<std::int64_t>(self->GetStream()->Tell()));
}

bool ReadBytes(CNativeState* state, int, void* user) {
  Stream* stream = StreamOf(state, user);
  std::int32_t count = 0;
  if (!stream || !state->CheckNumber(0, &count)) return false;
  // A script's count is never believed beyond what the stream still holds: nothing is allocated for it.
  if (count < 0 || static_cast<std::uint64_t>(count) > stream->GetRemaining()) return state->Error(u"unable to read");
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return state->Error(u"out of memory");
  }
  const auto size = static_cast<std::uint32_t>(count);
  if (stream->Read(bytes.data(), size) != size) return state->Error(u"unable to read");
  auto* argument = new (std::nothrow) CArgumentBytes(bytes.data(), size);
  if (!argument) return state->Error(u"out of memory");
  return state->GetResults().Adopt(argument);
}

bool ReadCompactString(CNativeState* state, int, void* user) {
  Stream* stream = StreamOf(state, user);
  if (!stream) return false;
  std::uint32_t length = 0;
  std::uint32_t consumed = 0;
  std::unique_ptr<char16_t[]> text(ReadString(stream, &length, &consumed));
  if (!text) return state->Error(u"unable to read string");
  return state->ReturnString(text.get(), length);
}

// The whole next line, however many pieces the reader gives it in; null at the end.
bool ReturnLine(CNativeState* state, CTextReader* reader) {
  std::u16string line;
  if (!reader->ReadLine(&line)) return state->GetResults().AppendNil();
  return state->ReturnString(line.data(), static_cast<std::uint32_t>(line.size()));
}

bool ReadStreamLine(CNativeState* state, int, void* user) {
  CScriptStream* self = OpenThis(state, user, u"stream closed");
  if (!self) return false;
  CTextReader* reader = self->GetReader();
  if (!reader) return state->Error(u"out of memory");
  return ReturnLine(state, reader);
}

bool WriteBytes(CNativeState* state, int, void* user) {
  Stream* stream = StreamOf(state, user);
  std::uint32_t size = 0;
  const std::uint8_t* bytes = stream ? state->CheckBytes(kValueArgument, &size) : nullptr;
  if (!bytes) return false;
  if (stream->Write(bytes, size) != size) return state->Error(u"unable to write bytes");
  return true;
}

bool WriteCompactString(CNativeState* state, int, void* user) {
  Stream* stream = StreamOf(state, user);
  std::uint32_t length = 0;
  const char16_t* text = stream ? state->CheckString(kValueArgument, &length) : nullptr;
  if (!text) return false;
  if (!WriteString(stream, text, length)) return state->Error(u"unable to write string");
  return true;
}

// Reads sizeof(T) little-endian bytes as the unsigned value of that width.
template <class Bits>
bool ReadLittleEndian(Stream* stream, Bits* value) {
  std::uint8_t bytes[sizeof(Bits)];
  if (stream->Read(bytes, sizeof(Bits)) != sizeof(Bits)) return false;
  Bits result = 0;
  for (std::size_t i = sizeof(Bits); i-- > 0;) result = static_cast<Bits>(result << kBitsPerByte | bytes[i]);
  *value = result;
  return true;
}

template <class Bits>
bool WriteLittleEndian(Stream* stream, Bits value) {
  std::uint8_t bytes[sizeof(Bits)];
  for (std::size_t i = 0; i < sizeof(Bits); ++i) bytes[i] = static_cast<std::uint8_t>(value >> (i * kBitsPerByte));
  return stream->Write(bytes, sizeof(Bits)) == sizeof(Bits);
}

// The unsigned integer of the same width as T.
template <class T>
using BitsOf = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                                  std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                                     std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;

template <class T>
bool Return(CNativeState* state, T value) {
  if constexpr (std::is_same_v<T, float>)
    return state->ReturnFloat(value);
  else if constexpr (std::is_same_v<T, double>)
    return state->ReturnDouble(value);
  else if constexpr (sizeof(T) == sizeof(std::int64_t))
    return state->ReturnLongInteger(static_cast<std::int64_t>(value));
  // 8-, 16- and 32-bit kinds: a 32-bit integer, sign-extended only for the signed ones.
  else
    return state->ReturnInteger(static_cast<std::int32_t>(value));
}

template <class T>
bool ReadNumber(CNativeState* state, int, void* user) {
  Stream* stream = StreamOf(state, user);
  if (!stream) return false;
  BitsOf<T> bits = 0;
  if (!ReadLittleEndian(stream, &bits)) return state->Error(u"unable to read");
  T value;
  std::memcpy(&value, &bits, sizeof(T));
  return Return<T>(state, value);
}

template <class T>
bool WriteNumber(CNativeState* state, int, void* user) {
  Stream* stream = StreamOf(state, user);
  T value{};
  if (!stream || !state->CheckNumber(kValueArgument, &value)) return false;
  BitsOf<T> bits;
  std::memcpy(&bits, &value, sizeof(T));
  if (!WriteLittleEndian(stream, bits)) return state->Error(u"unable to write");
  return true;
}

// -------------------------------------------------------------------------------------------------
// TextReader

// The reader object of "this"; null (with the text) when "this" is wrong or the reader is closed.
CScriptTextReader* ThisReader(CNativeState* state, void* user) {
  auto* global = static_cast<CReflection*>(user);
  auto* self = ThisAs<CScriptTextReader>(state, global->FindClass(u"TextReader"), u"TextReader");
  if (!self || self->GetValue().Get()) return self;
  state->Error(u"TextReader is closed");
  return nullptr;
}

CTextReader* OpenReader(CNativeState* state, void* user) {
  CScriptTextReader* self = ThisReader(state, user);
  return self ? self->GetValue().Get() : nullptr;
}

bool ReaderConstructor(CNativeState* state, int, void* user) {
  auto* global = static_cast<CReflection*>(user);
  Stream* stream = state->CheckStream(0);
  if (!stream) return false;
  auto* reader = new (std::nothrow) CTextReader(stream);
  if (!reader) return state->Error(u"out of memory");
  auto* object = new (std::nothrow) CScriptTextReader(reader);
  if (!object) {
    delete reader;
    return state->Error(u"out of memory");
  }
  object->SetReflectedClass(global->FindClass(u"TextReader"));
  return ReturnNew(state, object);
}

bool ReaderClose(CNativeState* state, int, void* user) {
  CScriptTextReader* self = ThisReader(state, user);
  if (!self) return false;
  self->GetValue().Reset();
  return true;
}

bool LoadText(CNativeState* state, int, void* user) {
  CTextReader* reader = OpenReader(state, user);
  if (!reader) return false;
  std::uint32_t length = 0;
  const char16_t* text = reader->GetText(&length);
  return text ? state->ReturnString(text, length) : state->GetResults().AppendNil();
}

bool ReaderLine(CNativeState* state, int, void* user) {
  CTextReader* reader = OpenReader(state, user);
  if (!reader) return false;
  return ReturnLine(state, reader);
}

bool ReadCharacter(CNativeState* state, int, void* user) {
  CTextReader* reader = OpenReader(state, user);
  if (!reader) return false;
  std::uint32_t codePoint = 0;
  if (!reader->ReadCodePoint(&codePoint)) return state->GetResults().AppendNil();
  return state->ReturnInteger(static_cast<std::int32_t>(codePoint));
}

}  // namespace

void RegisterStreamClasses(CReflection* global) {
  if (ReflectedClass* stream = global->RegisterClass(u"Stream", nullptr)) {
    stream->RegisterMethod(u"close", u"t", &Close, global, false);
    stream->RegisterProperty(u"length", ARGUMENT_LONGINTEGER, &Length, nullptr, global);
    stream->RegisterProperty(u"position", ARGUMENT_LONGINTEGER, &Position, nullptr, global);
    stream->RegisterMethod(u"readBytes", u"ti", &ReadBytes, global, false);
    stream->RegisterMethod(u"readString", u"t", &ReadCompactString, global, false);
    stream->RegisterMethod(u"readLine", u"t", &ReadStreamLine, global, false);
    stream->RegisterMethod(u"writeBytes", u"ts", &WriteBytes, global, false);
    stream->RegisterMethod(u"writeString", u"ts", &WriteCompactString, global, false);
    const struct {
      const char16_t* name;
      NativeFunction read;
    } reads[] = {{u"readInt8", &ReadNumber<std::int8_t>},   {u"readUInt8", &ReadNumber<std::uint8_t>},
                 {u"readInt16", &ReadNumber<std::int16_t>}, {u"readUInt16", &ReadNumber<std::uint16_t>},
                 {u"readInt32", &ReadNumber<std::int32_t>}, {u"readUInt32", &ReadNumber<std::int32_t>},
                 {u"readInt64", &ReadNumber<std::int64_t>}, {u"readUInt64", &ReadNumber<std::int64_t>},
                 {u"readFloat", &ReadNumber<float>},        {u"readDouble", &ReadNumber<double>}};
    for (const auto& entry : reads) stream->RegisterMethod(entry.name, u"t", entry.read, global, false);
    const struct {
      const char16_t* name;
      NativeFunction write;
    } writes[] = {{u"writeInt8", &WriteNumber<std::int8_t>},   {u"writeUInt8", &WriteNumber<std::uint8_t>},
                  {u"writeInt16", &WriteNumber<std::int16_t>}, {u"writeUInt16", &WriteNumber<std::uint16_t>},
                  {u"writeInt32", &WriteNumber<std::int32_t>}, {u"writeUInt32", &WriteNumber<std::uint32_t>},
                  {u"writeInt64", &WriteNumber<std::int64_t>}, {u"writeUInt64", &WriteNumber<std::uint64_t>}};
    for (const auto& entry : writes) stream->RegisterMethod(entry.name, u"ti", entry.write, global, false);
    stream->RegisterMethod(u"writeFloat", u"tf", &WriteNumber<float>, global, false);
    stream->RegisterMethod(u"writeDouble", u"tf", &WriteNumber<double>, global, false);
  }
  if (ReflectedClass* reader = global->RegisterClass(u"TextReader", nullptr)) {
    reader->SetConstructor(&ReaderConstructor, global);
    reader->RegisterMethod(u"close", u"t", &ReaderClose, global, false);
    reader->RegisterMethod(u"loadText", u"t", &LoadText, global, false);
    reader->RegisterMethod(u"readLine", u"t", &ReaderLine, global, false);
    reader->RegisterMethod(u"readCharacter", u"t", &ReadCharacter, global, false);
  }
}

}  // namespace Vexil3D::CoreLibrary
