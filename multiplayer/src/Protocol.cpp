// The multiplayer protocol's encoders, readers and disconnect texts.
#include <multiplayer/Protocol.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include <base/Stream.h>
#include <base/TaskContext.h>

namespace {

constexpr std::uint32_t kMaxShortString = 0xFFFF;
constexpr char kNonLatinNameError[] =
    "An attempt was made to copy a string into a buffer of a type that does not support a character in the "
    "string.";
constexpr char kLongNameError[] = "An event name may hold at most 255 characters.";

// Reads fields from a stream, never past its end: the bytes left are known before any count is believed.
class CFieldReader {
 public:
  explicit CFieldReader(CStream* stream) : m_pStream(stream) {
    std::uint64_t position = 0;
    const std::uint64_t size = stream != nullptr ? stream->GetSize(true) : 0;
    if (stream == nullptr || !stream->GetPosition(&position) || position > size) {
      m_Good = false;
      return;
    }
    m_Left = size - position;
  }

  bool Good() const { return m_Good; }
  std::uint64_t Left() const { return m_Left; }

  bool Bytes(void* buffer, std::uint32_t count) {
    if (!m_Good || count > m_Left) return m_Good = false;
    if (count != 0 && m_pStream->Read(buffer, count, 1) != 1) return m_Good = false;
    m_Left -= count;
    return true;
  }
  template <typename T>
  bool Value(T* value) {
    return Bytes(value, sizeof(T));
  }
  bool String(std::uint32_t length, std::string* text) {
    if (!m_Good || length > m_Left) return m_Good = false;
    text->resize(length);
    return Bytes(text->data(), length);
  }
  bool Skip(std::uint32_t count) {
    if (!m_Good || count > m_Left) return m_Good = false;
    if (count != 0 && !m_pStream->Skip(count)) return m_Good = false;
    m_Left -= count;
    return true;
  }

 private:
  CStream* m_pStream;
  std::uint64_t m_Left = 0;
  bool m_Good = true;
};

void PutBytes(std::vector<std::uint8_t>* out, const void* bytes, std::size_t count) {
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  out->insert(out->end(), begin, begin + count);
}
template <typename T>
void Put(std::vector<std::uint8_t>* out, T value) {
  PutBytes(out, &value, sizeof value);
}
void PutHeader(std::vector<std::uint8_t>* out, std::uint32_t id) {
  const PacketHeader header{kPacketMagic, id};
  PutBytes(out, &header, sizeof header);
}

void PutText(std::vector<std::uint8_t>* out, std::uint32_t id, std::string_view first, std::string_view second) {
  out->clear();
  PutHeader(out, id);
  const std::size_t gap = second.empty() ? 0 : 1;
  Put<std::uint32_t>(out, std::uint32_t(first.size() + gap + second.size()));
  PutBytes(out, first.data(), first.size());
  if (gap != 0) out->push_back(' ');
  PutBytes(out, second.data(), second.size());
}

// Bytes of each argument-list tag's payload; other tags are null and carry none.
enum : std::uint8_t { kTagInteger = 1, kTagFloat = 2, kTagBool = 3, kTagString = 4 };

bool IsSoundComponent(std::string_view name) {
  if (name.empty() || name.size() > kMaxPathComponent || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return !IsSpecialHostName(name);
}

// The device names, upper case; "COM" and "LPT" take one more character from kDeviceDigits.
constexpr std::u16string_view kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
constexpr std::u16string_view kNumberedDevices[] = {u"COM", u"LPT"};
constexpr std::u16string_view kDeviceDigits = u"123456789\u00B9\u00B2\u00B3";

template <typename Char>
bool IsSpecialName(std::basic_string_view<Char> name) {
  if (name.empty()) return false;
  const char16_t last = char16_t(std::make_unsigned_t<Char>(name.back()));
  if (last == u'.' || last == u' ') return true;
  // The device part: up to the first dot, without the spaces before it.
  std::size_t end = std::min(name.find(Char('.')), name.size());
  while (end > 0 && name[end - 1] == Char(' ')) --end;
  std::u16string base;
  for (std::size_t i = 0; i < end; ++i) {
    char16_t c = char16_t(std::make_unsigned_t<Char>(name[i]));
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    base.push_back(c);
  }
  for (const std::u16string_view device : kDevices) {
    if (base == device) return true;
  }
  for (const std::u16string_view device : kNumberedDevices) {
    if (base.size() == device.size() + 1 && std::u16string_view(base).substr(0, device.size()) == device &&
        kDeviceDigits.find(base.back()) != std::u16string_view::npos) {
      return true;
    }
  }
  return false;
}

std::string Refusal(const char* what, std::string_view name) {
  std::string line = "MULTIPLAYER: Skipping ";
  line += what;
  line += " with an unusable name \"";
  for (const char c : name) line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  line += "\"\n";
  return line;
}

}  // namespace

const char* GetDisconnectChatText(std::uint32_t reason) {
  switch (reason) {
    case DISCONNECT_TIMED_OUT:
      return "Timed out";
    case DISCONNECT_SERVER_FULL:
      return "Server full";
    case DISCONNECT_OLD_CLIENT:
      return "Old client version";
    case DISCONNECT_WRONG_GAME:
      return "Wrong engine version for server";
    case DISCONNECT_WRONG_PASSWORD:
      return "Wrong password";
    case DISCONNECT_UNSUPPORTED_EXECUTABLE:
      return "Unsupported executable";
    case DISCONNECT_CLOSED:
      return "Disconnected";
    default:
      return "Lost connection";
  }
}

const char* GetDisconnectMessageText(std::uint32_t reason) {
  switch (reason) {
    case DISCONNECT_TIMED_OUT:
      return "You timed out from the server.";
    case DISCONNECT_SERVER_FULL:
      return "The server is full.";
    case DISCONNECT_OLD_CLIENT:
      return "Your client version is different to the server, you may need to upgrade your client at:\n\n"
             "https://www.brindlecore.net/";
    case DISCONNECT_WRONG_GAME:
      return "You are running the wrong game for the server.";
    case DISCONNECT_WRONG_PASSWORD:
      return "You entered the wrong password.";
    case DISCONNECT_UNSUPPORTED_EXECUTABLE:
      return "The executable you are using is currently unsupported. A supported executable can be had from the "
             "downloads page of https://www.brindlecore.net/";
    case DISCONNECT_CLOSED:
      return "The server disconnected you.";
    default:
      return "The server rejected your connection.";
  }
}

bool EncodeConnectRequest(std::uint32_t gameVersion, std::uint32_t clientValue, std::string_view password,
                          std::string_view nickname, std::vector<std::uint8_t>* out) {
  out->clear();
  if (password.size() > kMaxShortString || nickname.size() > kMaxShortString) return false;
  PutHeader(out, PACKET_CONNECT);
  Put<std::uint32_t>(out, kConnectFixedSize);
  Put<std::uint32_t>(out, gameVersion);
  Put<std::uint32_t>(out, clientValue);
  Put<std::uint16_t>(out, std::uint16_t(password.size()));
  Put<std::uint16_t>(out, std::uint16_t(nickname.size()));
  PutBytes(out, password.data(), password.size());
  PutBytes(out, nickname.data(), nickname.size());
  return true;
}

void EncodeReady(std::uint8_t (&out)[kPacketHeaderSize]) {
  const PacketHeader header{kPacketMagic, PACKET_READY};
  std::memcpy(out, &header, sizeof header);
}

bool EncodeChat(std::string_view text, std::vector<std::uint8_t>* out) {
  out->clear();
  if (text.empty()) return false;
  PutText(out, PACKET_CHAT, text, {});
  return true;
}

void EncodeCommand(std::string_view name, std::string_view arguments, std::vector<std::uint8_t>* out) {
  PutText(out, PACKET_COMMAND, name, arguments);
}

bool EncodeScriptEvent(tTaskContext* task, std::u16string_view name, const std::uint8_t* arguments,
                       std::size_t argumentBytes, std::vector<std::uint8_t>* out) {
  out->clear();
  if (name.size() > kMaxEventNameLength) {
    if (task != nullptr) task->AddError(kLongNameError);
    return false;
  }
  for (const char16_t unit : name) {
    if (unit > 0xFF) {
      if (task != nullptr) task->AddError(kNonLatinNameError);
      return false;
    }
  }
  PutHeader(out, PACKET_SCRIPT_EVENT);
  out->push_back(std::uint8_t(name.size()));
  for (const char16_t unit : name) out->push_back(std::uint8_t(unit));
  PutBytes(out, arguments, argumentBytes);
  return true;
}

bool ReadPacketHeader(const std::uint8_t* data, std::size_t size, std::uint32_t* id) {
  if (data == nullptr || size < kPacketHeaderSize) return false;
  PacketHeader header;
  std::memcpy(&header, data, sizeof header);
  if (header.magic != kPacketMagic) return false;
  *id = header.id;
  return true;
}

CByteArrayStream* OpenPacket(std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kPacketHeaderSize || size > 0xFFFFFFFFu) return nullptr;
  auto* stream = new CByteArrayStream(data, std::uint32_t(size));
  stream->Seek(kPacketHeaderSize, CStream::kSeekBegin);
  return stream;
}

bool ReadAccepted(CStream* stream, AcceptedMessage* out) {
  CFieldReader in(stream);
  // The fixed part must be whole before anything is believed: its fields lie at fixed offsets.
  if (in.Left() < kAcceptedMessageSize - kPacketHeaderSize) return false;
  std::uint32_t padding = 0;
  in.Skip(sizeof(std::uint16_t));
  in.Value(&out->ownId);
  in.Value(&out->level);
  in.Bytes(&padding, 3);
  in.Value(&out->secondLevel);
  in.Bytes(&padding, 3);
  in.Value(&out->flags);
  in.Value(&out->scriptLoadedValue);
  return in.Good();
}

bool ReadRemotePlayerStates(CStream* stream, std::vector<RemotePlayerStateEntry>* out) {
  out->clear();
  CFieldReader in(stream);
  std::uint32_t count = 0;
  if (!in.Value(&count)) return false;
  const std::uint64_t whole = in.Left() / kRemotePlayerEntrySize;
  if (count > whole) count = std::uint32_t(whole);
  // The entries lie back to back exactly as the packed records do: one read takes them all.
  out->resize(count);
  if (count != 0 && !in.Bytes(out->data(), count * kRemotePlayerEntrySize)) out->clear();
  return true;
}

bool ReadPlayerLeft(CStream* stream, std::int32_t* id) {
  CFieldReader in(stream);
  return in.Value(id);
}

bool ReadChat(CStream* stream, std::string* text) {
  CFieldReader in(stream);
  std::uint32_t length = 0;
  return in.Value(&length) && in.String(length, text);
}

bool ReadPlayerUpdate(CStream* stream, PlayerUpdateMessage* out) {
  CFieldReader in(stream);
  *out = {};
  if (!in.Value(&out->flags) || !in.Value(&out->id)) return false;
  if ((out->flags & UPDATE_ROOM) != 0) in.Value(&out->room);
  if ((out->flags & UPDATE_POSITION) != 0) {
    in.Value(&out->x);
    in.Value(&out->y);
    in.Value(&out->z);
  }
  if ((out->flags & UPDATE_HEADING) != 0) in.Value(&out->heading);
  if ((out->flags & UPDATE_ITEM_WORD) != 0) in.Value(&out->itemWord);
  return in.Good();
}

bool IsSoundResourceName(std::string_view name) {
  // The resource's folder must leave room for "/" and a file name of at least one byte.
  return IsSoundComponent(name) && kResourceCacheRoot.size() + name.size() + 2 <= kMaxPathLength;
}

bool IsSoundFileName(std::string_view name, std::size_t resourceLength) {
  return IsSoundComponent(name) && kResourceCacheRoot.size() + resourceLength + 1 + name.size() <= kMaxPathLength;
}

std::string ResourceListRefusal(std::uint32_t count, const char* what, std::uint32_t bound) {
  return "MULTIPLAYER: Refused a resource list of " + std::to_string(count) + " " + what + " (at most " +
         std::to_string(bound) + ")\n";
}

bool ReadResourceList(CStream* stream, ResourceListMessage* out) {
  // The smallest records: a resource of (name length, running, file count) and a file of (type, name length,
  // size, CRC-32); a count above what the bytes left could hold of them is a damaged list.
  constexpr std::uint32_t kSmallestResource = 1 + 1 + 4;
  constexpr std::uint32_t kSmallestFile = 1 + 1 + 4 + 4;
  out->resources.clear();
  out->refusals.clear();
  out->refusedWhole.clear();
  CFieldReader in(stream);
  std::uint32_t resourceCount = 0;
  if (!in.Value(&resourceCount)) return false;
  // The bounds before the bytes: a list over them is refused for that, however much of it arrived.
  if (resourceCount > kMaxResourcesPerList) {
    out->refusedWhole = ResourceListRefusal(resourceCount, "resources", kMaxResourcesPerList);
    return false;
  }
  if (resourceCount > in.Left() / kSmallestResource) return false;
  out->resources.reserve(resourceCount);
  std::uint32_t filesInList = 0;
  for (std::uint32_t r = 0; r < resourceCount; ++r) {
    ResourceRecord resource;
    std::uint8_t nameLength = 0, running = 0;
    std::uint32_t fileCount = 0;
    if (!in.Value(&nameLength) || !in.String(nameLength, &resource.name) || !in.Value(&running) ||
        !in.Value(&fileCount)) {
      return false;
    }
    if (fileCount > kMaxFilesPerResource) {
      out->refusedWhole = ResourceListRefusal(fileCount, "files in one resource", kMaxFilesPerResource);
      return false;
    }
    filesInList += fileCount;
    if (filesInList > kMaxFilesPerList) {
      out->refusedWhole = ResourceListRefusal(filesInList, "files or more", kMaxFilesPerList);
      return false;
    }
    if (fileCount > in.Left() / kSmallestFile) return false;
    resource.running = running != 0;
    const bool keepResource = IsSoundResourceName(resource.name);
    if (!keepResource) out->refusals.push_back(Refusal("resource", resource.name));
    resource.files.reserve(keepResource ? fileCount : 0);
    for (std::uint32_t f = 0; f < fileCount; ++f) {
      ResourceFileRecord file;
      std::uint8_t fileNameLength = 0;
      if (!in.Value(&file.type) || !in.Value(&fileNameLength) || !in.String(fileNameLength, &file.name) ||
          !in.Value(&file.size) || !in.Value(&file.crc)) {
        return false;
      }
      if (!keepResource) continue;
      if (!IsSoundFileName(file.name, resource.name.size())) {
        out->refusals.push_back(Refusal("file", file.name));
        continue;
      }
      resource.files.push_back(std::move(file));
    }
    if (keepResource) out->resources.push_back(std::move(resource));
  }
  return true;
}

bool ReadResourceState(CStream* stream, ResourceStateMessage* out) {
  CFieldReader in(stream);
  return in.Value(&out->nameHash) && in.Value(&out->action);
}

bool ReadScriptEvent(CStream* stream, ScriptEventMessage* out) {
  CFieldReader in(stream);
  std::uint8_t nameLength = 0;
  if (!in.Value(&nameLength) || !in.String(nameLength, &out->name)) return false;
  std::uint32_t count = 0;
  // Every value takes at least its tag byte, so a count above the bytes left cannot be whole.
  if (!in.Value(&count) || count > kMaxScriptArguments || count > in.Left()) return false;
  out->argumentCount = count;
  out->arguments.clear();
  Put<std::uint32_t>(&out->arguments, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t tag = 0;
    if (!in.Value(&tag)) return false;
    out->arguments.push_back(tag);
    std::uint8_t payload[sizeof(std::uint32_t)] = {};
    std::uint32_t payloadSize = 0;
    switch (tag) {
      case kTagInteger:
      case kTagFloat:
        payloadSize = sizeof(std::uint32_t);
        break;
      case kTagBool:
        payloadSize = 1;
        break;
      case kTagString: {
        std::uint16_t length = 0;
        std::string bytes;
        if (!in.Value(&length) || !in.String(length, &bytes)) return false;
        Put<std::uint16_t>(&out->arguments, length);
        PutBytes(&out->arguments, bytes.data(), bytes.size());
        break;
      }
      default:
        break;  // any other tag is a null without payload
    }
    if (payloadSize != 0) {
      if (!in.Bytes(payload, payloadSize)) return false;
      PutBytes(&out->arguments, payload, payloadSize);
    }
  }
  return true;
}

bool IsSpecialHostName(std::u16string_view name) { return IsSpecialName(name); }
bool IsSpecialHostName(std::string_view name) { return IsSpecialName(name); }
