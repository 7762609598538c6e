#pragma once
// The loopback test server's side of the multiplayer protocol: encoders of the messages a server sends and
// decoders of those a client sends. Written on its own, from the message tables, byte by byte at fixed offsets,
// sharing no code or type with the client's protocol, so that a misreading on one side shows on the other.
//
// Errors: decoders answer false for a packet of another magic, another message number or too few bytes.
// Locking: none; plain functions.
#include <cstdint>
#include <string>
#include <vector>

namespace netserver {

using Bytes = std::vector<std::uint8_t>;

// The magic that opens each packet, and the message numbers.
constexpr std::uint32_t kMagic = 0x51563401;
enum Message : std::uint32_t {
  kConnect = 1,
  kAccepted = 2,
  kReady = 3,
  kPlayerState = 4,
  kPlayerLeft = 5,
  kChat = 6,
  kCommand = 7,
  kPlayerUpdate = 8,
  kResourceList = 9,
  kResourceState = 10,
  kScriptEvent = 11,
};

// A player state as the 34 bytes carry it, field by field in wire order.
struct State {
  std::int16_t room = 0;
  std::uint16_t word34 = 0;
  std::int32_t x = 0, y = 0, z = 0;
  std::uint16_t heading = 0;
  std::uint32_t stateWord = 0;
  std::uint16_t word6 = 0, wordA = 0, wordB = 0, word44 = 0;
  std::uint32_t flag = 0;
};
constexpr std::size_t kStateBytes = 34;

// Little-endian building blocks.
void PutU8(Bytes& out, std::uint32_t value);
void PutU16(Bytes& out, std::uint32_t value);
void PutU32(Bytes& out, std::uint32_t value);
std::uint32_t GetU16(const Bytes& in, std::size_t offset);
std::uint32_t GetU32(const Bytes& in, std::size_t offset);
Bytes Header(std::uint32_t message);
void PutState(Bytes& out, const State& state);
State GetState(const Bytes& in, std::size_t offset);

// ---- Server to client -------------------------------------------------------------------------------------------
Bytes Accepted(std::uint32_t ownId, std::uint8_t level, std::uint8_t secondLevel, std::uint32_t flags,
               std::uint32_t scriptLoadedValue);
Bytes PlayerStates(const std::vector<std::pair<std::uint32_t, State>>& players);
Bytes PlayerLeft(std::uint32_t id);
Bytes Chat(const std::string& text);
struct Update {
  std::uint8_t flags = 0;
  std::uint32_t id = 0;
  std::int16_t room = 0;
  std::int32_t x = 0, y = 0, z = 0;
  std::uint16_t heading = 0, word34 = 0;
};
Bytes PlayerUpdate(const Update& update);
struct File {
  std::uint8_t type = 0;
  std::string name;
  std::uint32_t size = 0, crc = 0;
};
struct Resource {
  std::string name;
  bool running = false;
  std::vector<File> files;
};
Bytes ResourceList(const std::vector<Resource>& resources);
Bytes ResourceState(std::uint32_t nameHash, std::uint8_t action);
// A script event; arguments are already in their network form (count first).
Bytes ScriptEvent(const std::string& name, const Bytes& arguments);

// ---- Client to server -------------------------------------------------------------------------------------------
// The message number of a packet with the right magic, else 0.
std::uint32_t MessageOf(const Bytes& packet);
struct Connect {
  std::uint32_t fixed = 0, gameVersion = 0, clientValue = 0;
  std::string password, nickname;
};
bool DecodeConnect(const Bytes& packet, Connect& out);
bool DecodeReady(const Bytes& packet);
bool DecodePlayerState(const Bytes& packet, State& out);
// Chat (6) and command (7): the text.
bool DecodeText(const Bytes& packet, std::uint32_t message, std::string& out);
struct Event {
  std::string name;
  Bytes arguments;
};
bool DecodeScriptEvent(const Bytes& packet, Event& out);

// The standard reflected CRC-32 (0xEDB88320, initial 0xFFFFFFFF, result complemented).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);
// The case-folded name key of message 10: CRC-32 over the bytes with A-Z lowered.
std::uint32_t NameHash(const std::string& name);

// What the server heard, in words, as it prints it: "the player \"nick\" asks to join (...)", "the player is in
// the game", "received the player's state: room 5 at ...", "received chat: ...", "received command: ...",
// "received event NAME with arguments HEX", or "received N bytes it cannot read: HEX".
std::string Describe(const Bytes& packet);
// A disconnect's reason in words: "reason 4 (wrong password)"; a value without a name as "reason 99".
std::string DescribeReason(std::uint32_t reason);

}  // namespace netserver
