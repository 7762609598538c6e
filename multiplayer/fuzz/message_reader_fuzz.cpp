// libFuzzer target: one server message reader (chosen at build time by NET_FUZZ_MESSAGE) over a whole packet,
// header included; whatever it answers, it reads within the packet and what it keeps is bounded by it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <base/Stream.h>

#include <multiplayer/Protocol.h>

namespace {

bool ReadMessage(CStream* stream, std::size_t size) {
  switch (NET_FUZZ_MESSAGE) {
    case PACKET_ACCEPTED: {
      AcceptedMessage m;
      return ReadAccepted(stream, &m);
    }
    case PACKET_PLAYER_STATE: {
      std::vector<RemotePlayerStateEntry> entries;
      const bool ok = ReadRemotePlayerStates(stream, &entries);
      if (entries.size() * kRemotePlayerEntrySize > size) std::abort();
      return ok;
    }
    case PACKET_PLAYER_LEFT: {
      std::int32_t id;
      return ReadPlayerLeft(stream, &id);
    }
    case PACKET_CHAT: {
      std::string text;
      const bool ok = ReadChat(stream, &text);
      if (ok && text.size() > size) std::abort();
      return ok;
    }
    case PACKET_PLAYER_UPDATE: {
      PlayerUpdateMessage m;
      return ReadPlayerUpdate(stream, &m);
    }
    case PACKET_RESOURCE_LIST: {
      ResourceListMessage m;
      const bool ok = ReadResourceList(stream, &m);
      for (const ResourceRecord& r : m.resources) {
        if (!IsSoundResourceName(r.name)) std::abort();
        for (const ResourceFileRecord& f : r.files) {
          if (!IsSoundFileName(f.name, r.name.size())) std::abort();
        }
      }
      return ok;
    }
    case PACKET_RESOURCE_STATE: {
      ResourceStateMessage m;
      return ReadResourceState(stream, &m);
    }
    case PACKET_SCRIPT_EVENT: {
      ScriptEventMessage m;
      const bool ok = ReadScriptEvent(stream, &m);
      if (ok && (m.argumentCount > kMaxScriptArguments || m.arguments.size() > size)) std::abort();
      return ok;
    }
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t id = 0;
  if (!ReadPacketHeader(data, size, &id)) return 0;
  std::vector<std::uint8_t> packet(data, data + size);
  CByteArrayStream* stream = OpenPacket(packet.data(), packet.size());
  if (stream == nullptr) return 0;
  ReadMessage(stream, size);
  stream->Release();
  return 0;
}
