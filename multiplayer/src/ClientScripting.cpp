// CClientScripting: the client event types, the six natives of "Multiplayer", script commands, server events.
#include <multiplayer/ClientScripting.h>

#include <cstring>
#include <vector>

#include <base/Stream.h>
#include <hack/ModuleOptions.h>
#include <platform/text.h>

#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

#include <multiplayer/ClientResource.h>
#include <multiplayer/QVNetClient.h>

namespace {

constexpr SQInteger kFirstArgument = 2;
constexpr SQInteger kSecondArgument = 3;
constexpr SQInteger kResult = 1;
constexpr SQInteger kNoResult = 0;
// TriggerServerEvent takes the name and any number of values after it.
constexpr SQInteger kAtLeastName = -2;
constexpr char16_t kFirstCharacterAbove8Bits = 0x100;

const char16_t* const kEventNames[] = {u"OnFileDownload", u"OnResourceReady", u"OnResourceStart", u"OnResourceStop"};
static_assert(std::size(kEventNames) == static_cast<std::uint32_t>(ClientEvent::Count));

const SQChar kNoResourceMessage[] = u"no resource script environment is running";
const SQChar kNotAResourceMessage[] = u"the pointer is not a resource of this client";
const SQChar kNameTooLongMessage[] = u"the event name is longer than 255 characters";
const SQChar kNameCharacterMessage[] = u"the event name has a character above 0xFF";
const SQChar kArgumentsMessage[] = u"the arguments cannot be sent to the server";

CClientScripting* g_CurrentScripting = nullptr;

// A stream over a byte vector that grows with every write, so nothing is sized ahead of the writing.
class CGrowingStream : public CStream {
 public:
  bool Seek(std::int64_t offset, std::uint32_t origin) override {
    const std::int64_t base = origin == kSeekBegin ? 0
                              : origin == kSeekEnd ? std::int64_t(m_bytes.size())
                                                   : std::int64_t(m_position);
    if (base + offset < 0 || std::uint64_t(base + offset) > m_bytes.size()) return false;
    m_position = std::size_t(base + offset);
    return true;
  }
  std::uint32_t Read(void*, std::uint32_t, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* buffer, std::uint32_t elementSize, std::uint32_t count) override {
    const std::uint64_t wide = std::uint64_t(elementSize) * count;
    if (wide == 0 || wide > m_bytes.max_size() - m_position) return 0;
    const auto bytes = std::size_t(wide);
    if (m_position + bytes > m_bytes.size()) m_bytes.resize(m_position + bytes);
    std::memcpy(m_bytes.data() + m_position, buffer, bytes);
    m_position += bytes;
    return count;
  }
  bool GetPosition(std::uint64_t* position) override {
    *position = m_position;
    return true;
  }
  bool Flush() override { return true; }
  bool Truncate() override {
    m_bytes.resize(m_position);
    return true;
  }
  bool IsReadable() override { return false; }
  bool IsWritable() override { return true; }
  CStream* GetTarget() override { return this; }
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_position = 0;
};

// The running environment when it is a resource's, else null.
CClientResourceScriptEnvironment* RunningResourceEnvironment(HSQUIRRELVM v) {
  CScriptHost* host = CScriptHost::FromVM(v);
  return host != nullptr ? dynamic_cast<CClientResourceScriptEnvironment*>(host->GetRunningEnvironment()) : nullptr;
}

std::u16string StringAt(HSQUIRRELVM v, SQInteger index) {
  const SQChar* text = nullptr;
  SQInteger length = 0;
  if (SQ_FAILED(sq_getstringandsize(v, index, &text, &length)) || text == nullptr) return {};
  return std::u16string(text, std::size_t(length));
}

}  // namespace

// The natives, befriended by CClientScripting for its command table.
struct CClientNatives {
  static SQInteger GetThisResource(HSQUIRRELVM v) {
    CClientResourceScriptEnvironment* environment = RunningResourceEnvironment(v);
    if (environment == nullptr) return sq_throwerror(v, kNoResourceMessage);
    sq_pushuserpointer(v, environment->GetResource());
    return kResult;
  }

  static SQInteger GetResourceName(HSQUIRRELVM v) {
    SQUserPointer pointer = nullptr;
    sq_getuserpointer(v, kFirstArgument, &pointer);
    CClientResources* table = CClientResources::GetCurrent();
    // Any other pointer could be anything: only records this client handed out are read.
    if (pointer == nullptr || table == nullptr || !table->Contains(pointer)) {
      return sq_throwerror(v, kNotAResourceMessage);
    }
    const std::u16string& name = static_cast<CClientResource*>(pointer)->GetName();
    sq_pushstring(v, name.c_str(), SQInteger(name.size()));
    return kResult;
  }

  static SQInteger IsResourceReady(HSQUIRRELVM v) {
    CClientResourceScriptEnvironment* environment = RunningResourceEnvironment(v);
    if (environment == nullptr) return sq_throwerror(v, kNoResourceMessage);
    sq_pushbool(v, environment->GetResource()->GetPendingCount() == 0 ? SQTrue : SQFalse);
    return kResult;
  }

  static SQInteger TriggerServerEvent(HSQUIRRELVM v) {
    const std::u16string name = StringAt(v, kFirstArgument);
    if (name.size() > kMaxEventNameLength) return sq_throwerror(v, kNameTooLongMessage);
    for (const char16_t c : name) {
      if (c >= kFirstCharacterAbove8Bits) return sq_throwerror(v, kNameCharacterMessage);
    }
    auto* stream = new CGrowingStream;
    const bool written = WriteStackArguments(v, kSecondArgument, stream);
    std::vector<std::uint8_t> message;
    const bool encoded =
        written && EncodeScriptEvent(nullptr, name, stream->Bytes().data(), stream->Bytes().size(), &message);
    stream->Release();
    if (!encoded) return sq_throwerror(v, kArgumentsMessage);
    CClientScripting* scripting = CClientScripting::GetCurrent();
    CMultiplayerState* state = scripting != nullptr ? scripting->GetState() : nullptr;
    CQVNetClient* client = state != nullptr ? state->m_pClient.get() : nullptr;
    if (client != nullptr && client->GetHost() != nullptr) client->Send(message.data(), message.size());
    return kNoResult;
  }

  static SQInteger OutputChatBox(HSQUIRRELVM v) {
    const std::string line = text::Utf16ToUtf8(StringAt(v, kFirstArgument));
    CClientScripting* scripting = CClientScripting::GetCurrent();
    if (scripting != nullptr && scripting->GetState() != nullptr) PrintChatLine(scripting->GetState(), line.c_str());
    return kNoResult;
  }

  static SQInteger AddCommand(HSQUIRRELVM v) {
    CClientResourceScriptEnvironment* environment = RunningResourceEnvironment(v);
    CClientScripting* scripting = CClientScripting::GetCurrent();
    if (environment == nullptr || scripting == nullptr) return sq_throwerror(v, kNoResourceMessage);
    scripting->AddCommand(v, StringAt(v, kFirstArgument), kSecondArgument, environment);
    return kNoResult;
  }
};

CClientScripting* CClientScripting::GetCurrent() { return g_CurrentScripting; }

std::unique_ptr<CClientScripting> CClientScripting::Create(CScriptHost* host, CMultiplayerState* state) {
  if (host == nullptr || !host->IsOpen()) return nullptr;
  return std::unique_ptr<CClientScripting>(new CClientScripting(host, state));
}

CClientScripting::CClientScripting(CScriptHost* host, CMultiplayerState* state)
    : tHostDependent(host), m_pState(state) {
  CEventTypeRegistry& registry = host->GetEventTypes();
  for (std::uint32_t i = 0; i < std::size(kEventNames); ++i) {
    m_pEventTypes[i] = new CEventType(&registry, nullptr, kEventNames[i]);
    registry.Add(m_pEventTypes[i]);
  }
  const HSQUIRRELVM v = host->GetVM();
  const SQInteger top = sq_gettop(v);
  sq_newtable(v);
  RegisterFunctionTyped(v, u"GetThisResource", CClientNatives::GetThisResource, u".");
  RegisterFunctionTyped(v, u"GetResourceName", CClientNatives::GetResourceName, u".p");
  RegisterFunctionTyped(v, u"IsResourceReady", CClientNatives::IsResourceReady, u".");
  RegisterFunction(v, u"TriggerServerEvent", CClientNatives::TriggerServerEvent, kAtLeastName, u".s");
  RegisterFunctionTyped(v, u"OutputChatBox", CClientNatives::OutputChatBox, u".s");
  RegisterFunctionTyped(v, u"AddCommand", CClientNatives::AddCommand, u".sc");
  m_natives.SetFromStack(v, -1);
  sq_settop(v, top);
  g_CurrentScripting = this;
}

CClientScripting::~CClientScripting() {
  if (g_CurrentScripting == this) g_CurrentScripting = nullptr;
  if (CScriptHost* host = GetHost()) {
    for (CEventType* type : m_pEventTypes) host->GetEventTypes().Remove(type);
  }
  DropHostValues();
  for (CEventType*& type : m_pEventTypes) {
    type->Release();
    type = nullptr;
  }
}

void CClientScripting::DropHostValues() {
  RemoveCommands(nullptr, nullptr);
  m_natives.Release();
}

void CClientScripting::AddCommand(HSQUIRRELVM v, std::u16string_view name, SQInteger closure,
                                  CScriptEnvironment* environment) {
  const std::u16string terminated(name);
  auto* command = new tCommand{environment, {}};
  command->m_closure.SetFromStack(v, closure);
  m_commands.Add(HashName(terminated.c_str(), true), command);
}

void CClientScripting::RemoveCommands(CScriptEnvironment* environment, std::vector<CScriptObjectRef>* values) {
  for (ListNode* node = m_commands.GetOrdered().m_pHead; node != nullptr;) {
    ListNode* next = node->m_pNext;
    auto* entry = static_cast<NameHashTable::tNode*>(node->m_pRecord);
    auto* command = static_cast<tCommand*>(entry->m_pValue);
    if (environment == nullptr || command->m_pEnvironment == environment) {
      NameHashTable::RemoveNode(entry);
      if (values != nullptr) values->push_back(std::move(command->m_closure));
      delete command;
    }
    node = next;
  }
}

void CClientScripting::TakeValuesOf(CScriptEnvironment* environment, std::vector<CScriptObjectRef>& values) {
  RemoveCommands(environment, &values);
}

std::uint32_t CClientScripting::RunCommand(std::u16string_view name, std::u16string_view arguments) {
  CScriptHost* host = GetHost();
  if (host == nullptr) return 0;
  const std::u16string terminated(name);
  const std::uint32_t hash = HashName(terminated.c_str(), true);
  // Gathered first: a command's closure may add commands, which join the table behind these.
  std::vector<tCommand*> matching;
  for (const NameHashTable::tNode* node = m_commands.GetBucket(hash).m_pHead; node != nullptr; node = node->m_pNext) {
    if (node->m_Hash == hash) matching.push_back(static_cast<tCommand*>(node->m_pValue));
  }
  CListScriptArguments list(host);
  list.AddString(terminated.c_str(), SQInteger(terminated.size()));
  const std::u16string text(arguments);
  list.AddString(text.c_str(), SQInteger(text.size()));
  for (tCommand* command : matching) command->m_pEnvironment->CallHandler(command->m_closure, &list);
  list.Clear();
  return std::uint32_t(matching.size());
}

void CClientScripting::OnServerEvent(const ScriptEventMessage& event) {
  CScriptHost* host = GetHost();
  if (host == nullptr) return;
  const std::u16string name = WidenBytes(event.name);
  CEventType* type = host->GetEventTypes().Find(name.c_str());
  if (type == nullptr) return;
  CListScriptArguments list(host);
  std::vector<std::uint8_t> bytes = event.arguments;
  auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
  const bool read = CListScriptArguments::Read(stream, &list);
  stream->Release();
  if (read) TriggerClientEvent(type, &list);
  list.Clear();
}

bool TriggerClientEvent(CEventType* type, CScriptArguments* arguments, CScriptEnvironment* filter) {
  if (type == nullptr) return false;
  auto* event = new CEvent(type);
  event->Trigger(arguments, filter);
  const bool prevented = event->IsDefaultPrevented();
  event->Release();
  return prevented;
}
