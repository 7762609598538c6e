// The test server's encoders and decoders of the multiplayer protocol, byte by byte at fixed offsets.
#include "ServerProtocol.h"

#include <cstdio>
#include <iterator>

namespace netserver {

namespace {
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kConnectFixed = 24;
constexpr std::uint32_t kCrcPolynomial = 0xEDB88320;
constexpr std::uint8_t kUpdateRoom = 0x01, kUpdatePosition = 0x02, kUpdateHeading = 0x04, kUpdateWord = 0x08;
}  // namespace

void PutU8(Bytes& out, std::uint32_t value) { out.push_back(std::uint8_t(value & 0xFF)); }
void PutU16(Bytes& out, std::uint32_t value) {
  PutU8(out, value);
  PutU8(out, value >> 8);
}
void PutU32(Bytes& out, std::uint32_t value) {
  PutU16(out, value);
  PutU16(out, value >> 16);
}
std::uint32_t GetU16(const Bytes& in, std::size_t offset) { return in[offset] | std::uint32_t(in[offset + 1]) << 8; }
std::uint32_t GetU32(const Bytes& in, std::size_t offset) { return GetU16(in, offset) | GetU16(in, offset + 2) << 16; }

Bytes Header(std::uint32_t message) {
  Bytes out;
  PutU32(out, kMagic);
  PutU32(out, message);
  return out;
}

void PutState(Bytes& out, const State& s) {
  PutU16(out, std::uint16_t(s.room));
  PutU16(out, s.word34);
  PutU32(out, std::uint32_t(s.x));
  PutU32(out, std::uint32_t(s.y));
  PutU32(out, std::uint32_t(s.z));
  PutU16(out, s.heading);
  PutU32(out, s.stateWord);
  PutU16(out, s.word6);
  PutU16(out, s.wordA);
  PutU16(out, s.wordB);
  PutU16(out, s.word44);
  PutU32(out, s.flag);
}

State GetState(const Bytes& in, std::size_t at) {
  State s;
  s.room = std::int16_t(GetU16(in, at + 0));
  s.word34 = std::uint16_t(GetU16(in, at + 2));
  s.x = std::int32_t(GetU32(in, at + 4));
  s.y = std::int32_t(GetU32(in, at + 8));
  s.z = std::int32_t(GetU32(in, at + 12));
  s.heading = std::uint16_t(GetU16(in, at + 16));
  s.stateWord = GetU32(in, at + 18);
  s.word6 = std::uint16_t(GetU16(in, at + 22));
  s.wordA = std::uint16_t(GetU16(in, at + 24));
  s.wordB = std::uint16_t(GetU16(in, at + 26));
  s.word44 = std::uint16_t(GetU16(in, at + 28));
  s.flag = GetU32(in, at + 30);
  return s;
}

Bytes Accepted(std::uint32_t ownId, std::uint8_t level, std::uint8_t secondLevel, std::uint32_t flags,
               std::uint32_t scriptLoadedValue) {
  Bytes out = Header(kAccepted);
  PutU16(out, 0);  // offset 8: a value the client does not read
  PutU32(out, ownId);
  PutU32(out, level);  // the level byte and three bytes the client skips
  PutU32(out, secondLevel);
  PutU32(out, flags);
  PutU32(out, scriptLoadedValue);
  return out;
}

Bytes PlayerStates(const std::vector<std::pair<std::uint32_t, State>>& players) {
  Bytes out = Header(kPlayerState);
  PutU32(out, std::uint32_t(players.size()));
  for (const auto& [id, state] : players) {
    PutU32(out, id);
    PutState(out, state);
  }
  return out;
}

Bytes PlayerLeft(std::uint32_t id) {
  Bytes out = Header(kPlayerLeft);
  PutU32(out, id);
  return out;
}

Bytes Chat(const std::string& text) {
  Bytes out = Header(kChat);
  PutU32(out, std::uint32_t(text.size()));
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

Bytes PlayerUpdate(const Update& u) {
  Bytes out = Header(kPlayerUpdate);
  PutU8(out, u.flags);
  PutU32(out, u.id);
  if (u.flags & kUpdateRoom) PutU16(out, std::uint16_t(u.room));
  if (u.flags & kUpdatePosition) {
    PutU32(out, std::uint32_t(u.x));
    PutU32(out, std::uint32_t(u.y));
    PutU32(out, std::uint32_t(u.z));
  }
  if (u.flags & kUpdateHeading) PutU16(out, u.heading);
  if (u.flags & kUpdateWord) PutU16(out, u.word34);
  return out;
}

Bytes ResourceList(const std::vector<Resource>& resources) {
  Bytes out = Header(kResourceList);
  PutU32(out, std::uint32_t(resources.size()));
  for (const Resource& r : resources) {
    PutU8(out, std::uint32_t(r.name.size()));
    out.insert(out.end(), r.name.begin(), r.name.end());
    PutU8(out, r.running ? 1 : 0);
    PutU32(out, std::uint32_t(r.files.size()));
    for (const File& f : r.files) {
      PutU8(out, f.type);
      PutU8(out, std::uint32_t(f.name.size()));
      out.insert(out.end(), f.name.begin(), f.name.end());
      PutU32(out, f.size);
      PutU32(out, f.crc);
    }
  }
  return out;
}

Bytes ResourceState(std::uint32_t nameHash, std::uint8_t action) {
  Bytes out = Header(kResourceState);
  PutU32(out, nameHash);
  PutU8(out, action);
  return out;
}

Bytes ScriptEvent(const std::string& name, const Bytes& arguments) {
  Bytes out = Header(kScriptEvent);
  PutU8(out, std::uint32_t(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), arguments.begin(), arguments.end());
  return out;
}

std::uint32_t MessageOf(const Bytes& packet) {
  if (packet.size() < kHeaderBytes || GetU32(packet, 0) != kMagic) return 0;
  return GetU32(packet, 4);
}

bool DecodeConnect(const Bytes& p, Connect& out) {
  if (MessageOf(p) != kConnect || p.size() < kConnectFixed) return false;
  out.fixed = GetU32(p, 8);
  out.gameVersion = GetU32(p, 12);
  out.clientValue = GetU32(p, 16);
  const std::size_t passwordLength = GetU16(p, 20), nicknameLength = GetU16(p, 22);
  if (p.size() != kConnectFixed + passwordLength + nicknameLength) return false;
  out.password.assign(p.begin() + kConnectFixed, p.begin() + kConnectFixed + passwordLength);
  out.nickname.assign(p.begin() + kConnectFixed + passwordLength, p.end());
  return true;
}

bool DecodeReady(const Bytes& p) { return MessageOf(p) == kReady && p.size() == kHeaderBytes; }

bool DecodePlayerState(const Bytes& p, State& out) {
  if (MessageOf(p) != kPlayerState || p.size() != kHeaderBytes + kStateBytes) return false;
  out = GetState(p, kHeaderBytes);
  return true;
}

bool DecodeText(const Bytes& p, std::uint32_t message, std::string& out) {
  if (MessageOf(p) != message || p.size() < kHeaderBytes + 4) return false;
  const std::size_t length = GetU32(p, 8);
  if (p.size() != kHeaderBytes + 4 + length) return false;
  out.assign(p.begin() + kHeaderBytes + 4, p.end());
  return true;
}

bool DecodeScriptEvent(const Bytes& p, Event& out) {
  if (MessageOf(p) != kScriptEvent || p.size() < kHeaderBytes + 1) return false;
  const std::size_t nameLength = p[kHeaderBytes];
  const std::size_t argumentsAt = kHeaderBytes + 1 + nameLength;
  if (p.size() < argumentsAt + 4) return false;
  out.name.assign(p.begin() + kHeaderBytes + 1, p.begin() + argumentsAt);
  out.arguments.assign(p.begin() + argumentsAt, p.end());
  return true;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (kCrcPolynomial & (0u - (crc & 1)));
  }
  return ~crc;
}

std::uint32_t NameHash(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return Crc32(reinterpret_cast<const std::uint8_t*>(folded.data()), folded.size());
}

std::string Describe(const Bytes& p) {
  char line[256];
  switch (MessageOf(p)) {
    case kConnect: {
      Connect c;
      if (!DecodeConnect(p, c)) break;
      std::snprintf(line, sizeof line, " asks to join (protocol %u, game %u, client value %u, password \"", c.fixed,
                    c.gameVersion, c.clientValue);
      return "the player \"" + c.nickname + "\"" + line + c.password + "\")";
    }
    case kReady:
      if (DecodeReady(p)) return "the player is in the game";
      break;
    case kPlayerState: {
      State s;
      if (!DecodePlayerState(p, s)) break;
      std::snprintf(line, sizeof line,
                    "received the player's state: room %d at %d %d %d heading %u, item word %u, state word %u, "
                    "words %u %u %u %u, flag %u",
                    s.room, s.x, s.y, s.z, s.heading, s.word34, s.stateWord, s.word6, s.wordA, s.wordB, s.word44,
                    s.flag);
      return line;
    }
    case kChat:
    case kCommand: {
      std::string text;
      if (!DecodeText(p, MessageOf(p), text)) break;
      return (MessageOf(p) == kChat ? "received chat: " : "received command: ") + text;
    }
    case kScriptEvent: {
      Event e;
      if (!DecodeScriptEvent(p, e)) break;
      std::string hex;
      for (std::uint8_t b : e.arguments) {
        std::snprintf(line, sizeof line, "%02x", b);
        hex += line;
      }
      return "received event " + e.name + " with arguments " + hex;
    }
    default:
      break;
  }
  std::string hex;
  for (std::uint8_t b : p) {
    std::snprintf(line, sizeof line, "%02x", b);
    hex += line;
  }
  return "received " + std::to_string(p.size()) + " bytes it cannot read: " + hex;
}

std::string DescribeReason(std::uint32_t reason) {
  static const char* const kReasons[] = {
      "timed out", "server full", "old client", "wrong game", "wrong password", "unsupported executable", "quit"};
  const std::string number = "reason " + std::to_string(reason);
  return reason < std::size(kReasons) ? number + " (" + kReasons[reason] + ")" : number;
}

}  // namespace netserver
