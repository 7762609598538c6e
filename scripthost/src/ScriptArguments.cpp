// Argument lists for script handlers and the network form written from a call's stack and read back.
#include <scripthost/ScriptArguments.h>

#include <cstring>
#include <string>
#include <string_view>

#include <platform/text.h>

#include <base/Stream.h>

#include <scripthost/Events.h>
#include <scripthost/ScriptHost.h>

CListScriptArguments::CListScriptArguments(CScriptHost* host) : tHostDependent(host) {}

CListScriptArguments::~CListScriptArguments() { Clear(); }

void CListScriptArguments::Push(HSQUIRRELVM v) {
  for (const CScriptObjectRef& value : m_values) value.Push(v);
}

void CListScriptArguments::AddFromStack(HSQUIRRELVM v, SQInteger index) {
  CScriptHost* host = GetHost();
  if (host == nullptr || !host->IsOpen()) return;
  HSQOBJECT object;
  if (SQ_FAILED(sq_getstackobj(v, index, &object))) sq_resetobject(&object);
  m_values.emplace_back();
  // Held on the host's machine, which outlives any thread the value came from.
  m_values.back().Set(host->GetVM(), object);
}

namespace {

// Pushes a value on the host's machine, appends the top and pops it; a detached list takes nothing.
template <typename PushValue>
void AddPushed(CListScriptArguments* list, PushValue push) {
  CScriptHost* host = list->GetHost();
  if (host == nullptr || !host->IsOpen()) return;
  const HSQUIRRELVM vm = host->GetVM();
  push(vm);
  list->AddFromStack(vm, -1);
  sq_poptop(vm);
}

}  // namespace

void CListScriptArguments::AddNull() {
  AddPushed(this, [](HSQUIRRELVM vm) { sq_pushnull(vm); });
}
void CListScriptArguments::AddInteger(SQInteger value) {
  AddPushed(this, [value](HSQUIRRELVM vm) { sq_pushinteger(vm, value); });
}
void CListScriptArguments::AddFloat(SQFloat value) {
  AddPushed(this, [value](HSQUIRRELVM vm) { sq_pushfloat(vm, value); });
}
void CListScriptArguments::AddBool(bool value) {
  AddPushed(this, [value](HSQUIRRELVM vm) { sq_pushbool(vm, value ? SQTrue : SQFalse); });
}
void CListScriptArguments::AddUserPointer(SQUserPointer value) {
  AddPushed(this, [value](HSQUIRRELVM vm) { sq_pushuserpointer(vm, value); });
}
void CListScriptArguments::AddString(const char16_t* text) {
  if (text == nullptr) return AddNull();
  AddPushed(this, [text](HSQUIRRELVM vm) { sq_pushstring(vm, text, -1); });
}
void CListScriptArguments::AddString(const char16_t* text, SQInteger length) {
  if (text == nullptr) return AddNull();
  AddPushed(this, [text, length](HSQUIRRELVM vm) { sq_pushstring(vm, text, length); });
}

void CListScriptArguments::Clear() {
  // Moved out first: releasing may run release hooks that reach this list.
  std::vector<CScriptObjectRef> values = std::move(m_values);
  m_values.clear();
  values.clear();
}

void CEventScriptArguments::Push(HSQUIRRELVM v) {
  m_pEvent->PushInstance(v);
  if (m_pInner != nullptr) m_pInner->Push(v);
}

// ---------------------------------------------------------------------------------------------------------------
// Network form

namespace {

constexpr std::uint32_t kCountBytes = 4;
constexpr std::uint32_t kNumberBytes = 4;
constexpr std::uint32_t kLengthBytes = 2;

// Every field is one stream call of whole elements; a call that moves less is a failure.
bool ReadField(CStream* stream, void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  return stream->Read(buffer, elementSize, count) == count;
}

bool WriteField(CStream* stream, const void* buffer, std::uint32_t elementSize, std::uint32_t count) {
  return stream->Write(buffer, elementSize, count) == count;
}

// The values are little-endian on the wire, as in memory on this machine.
static_assert(sizeof(std::uint32_t) == kCountBytes && sizeof(SQInteger) == kNumberBytes &&
              sizeof(SQFloat) == kNumberBytes && sizeof(std::uint16_t) == kLengthBytes);

struct tWrittenValue {
  std::uint8_t tag;
  HSQOBJECT object;
  std::string utf8;
};

}  // namespace

bool CListScriptArguments::Read(CStream* stream, CListScriptArguments* list) {
  std::uint32_t count = 0;
  if (!ReadField(stream, &count, kCountBytes, 1)) return false;
  if (count > kMaxValues) return false;
  // Every value takes at least its tag byte: a count beyond the bytes left is damage, not a list.
  std::uint64_t position = 0;
  if (count != 0) {
    const std::uint64_t size = stream->GetSize(true);
    if (!stream->GetPosition(&position) || position > size || count > size - position) return false;
  }
  std::string bytes;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t tag = 0;
    if (!ReadField(stream, &tag, 1, 1)) return false;
    switch (tag) {
      case kTagInteger: {
        std::int32_t value = 0;
        if (!ReadField(stream, &value, kNumberBytes, 1)) return false;
        list->AddInteger(value);
        break;
      }
      case kTagFloat: {
        SQFloat value = 0;
        if (!ReadField(stream, &value, kNumberBytes, 1)) return false;
        list->AddFloat(value);
        break;
      }
      case kTagBool: {
        std::uint8_t value = 0;
        if (!ReadField(stream, &value, 1, 1)) return false;
        list->AddBool(value != 0);
        break;
      }
      case kTagString: {
        std::uint16_t length = 0;
        if (!ReadField(stream, &length, kLengthBytes, 1)) return false;
        bytes.resize(length);
        if (length != 0 && !ReadField(stream, bytes.data(), 1, length)) return false;
        const std::u16string text = text::Utf8ToUtf16(std::string_view(bytes.data(), length));
        list->AddString(text.c_str(), SQInteger(text.size()));
        break;
      }
      default:
        list->AddNull();
        break;
    }
  }
  return true;
}

bool WriteStackArguments(HSQUIRRELVM v, SQInteger first, CStream* stream) {
  const SQInteger top = sq_gettop(v);
  if (first < 1) return false;
  const std::uint32_t count = first > top ? 0 : std::uint32_t(top - first + 1);
  if (count > CListScriptArguments::kMaxValues) return false;

  // Everything is checked before the first byte goes out: a refused list writes nothing.
  std::vector<tWrittenValue> values(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    tWrittenValue& value = values[i];
    sq_getstackobj(v, first + SQInteger(i), &value.object);
    switch (value.object._type) {
      case OT_INTEGER: value.tag = CListScriptArguments::kTagInteger; break;
      case OT_FLOAT: value.tag = CListScriptArguments::kTagFloat; break;
      case OT_BOOL: value.tag = CListScriptArguments::kTagBool; break;
      case OT_STRING: {
        value.tag = CListScriptArguments::kTagString;
        const SQChar* text = nullptr;
        SQInteger length = 0;
        sq_getstringandsize(v, first + SQInteger(i), &text, &length);
        value.utf8 = text::Utf16ToUtf8(std::u16string_view(text, std::size_t(length)));
        if (value.utf8.size() > CListScriptArguments::kMaxStringBytes) return false;
        break;
      }
      default: value.tag = CListScriptArguments::kTagNull; break;
    }
  }

  if (!WriteField(stream, &count, kCountBytes, 1)) return false;
  for (const tWrittenValue& value : values) {
    if (!WriteField(stream, &value.tag, 1, 1)) return false;
    switch (value.tag) {
      case CListScriptArguments::kTagInteger: {
        const std::int32_t number = sq_objtointeger(&value.object);
        if (!WriteField(stream, &number, kNumberBytes, 1)) return false;
        break;
      }
      case CListScriptArguments::kTagFloat: {
        // The bits as they are: a float returned through the x87 stack would lose a signalling NaN's payload.
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value.object._unVal.fFloat, kNumberBytes);
        if (!WriteField(stream, &bits, kNumberBytes, 1)) return false;
        break;
      }
      case CListScriptArguments::kTagBool: {
        const std::uint8_t flag = sq_objtobool(&value.object) ? 1 : 0;
        if (!WriteField(stream, &flag, 1, 1)) return false;
        break;
      }
      case CListScriptArguments::kTagString: {
        const auto length = std::uint16_t(value.utf8.size());
        if (!WriteField(stream, &length, kLengthBytes, 1)) return false;
        if (length != 0 && !WriteField(stream, value.utf8.data(), 1, length)) return false;
        break;
      }
      default: break;
    }
  }
  return true;
}
