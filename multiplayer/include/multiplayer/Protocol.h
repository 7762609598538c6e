#pragma once
// The multiplayer protocol: the packet header, the message numbers, the player-state record and the disconnect
// reasons, with every message the client sends as an encoder and every message the server sends as a reader.
// These are plain functions over bytes; acting on a message is the network client's work.
//
// Wire: little-endian integers, strings as a length followed by bytes without terminator. Received packets are
// read through a CByteArrayStream over the packet, positioned behind the header (OpenPacket).
//
// Errors: readers answer false and leave their output unspecified for a message that does not hold its fixed
// part, whose counts or lengths run past the bytes left, or whose names are unsound; they never read beyond the
// packet, and no count allocates more than the bytes left can hold. Encoders answer false for input the format
// cannot carry and then produce nothing. Nothing here is fatal, prints or throws (but std::bad_alloc).
// Locking: none; the game's main thread alone uses these (the stream takes its own lock per read).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

class CStream;
class CByteArrayStream;
class tTaskContext;

constexpr std::uint32_t kPacketMagic = 0x51563401;

#pragma pack(push, 1)
// Opens every packet in both directions.
struct PacketHeader {
  std::uint32_t magic;
  std::uint32_t id;  // a PacketId
};

// One player's state: the client's own in message 4 and each entry of the server's message 4.
struct PlayerStateFormat {
  std::int16_t room;          // room of the player's item
  std::uint16_t itemWord;     // item record word at byte 34
  std::int32_t x, y, z;       // item position
  std::uint16_t heading;      // item record word at byte 78
  std::uint32_t stateWord;    // the game's player state word (receivers keep kPlayerStateWordMask)
  std::uint16_t recordWord6;  // player record word 6 when word 2 is 2 or 4 or word 6 is 7, else 0
  std::uint16_t recordWordA;  // player record word at 162 (game IV) or 164 (game V)
  std::uint16_t recordWordB;  // player record word at 214 (game IV) or 216 (game V)
  std::uint16_t recordWord44;
  std::uint32_t flag;  // 1 when bit 3 of the player record's i32 at 68 is set, else 0
};

// One entry of the server's message 4.
struct RemotePlayerStateEntry {
  std::uint32_t id;
  PlayerStateFormat state;
};
#pragma pack(pop)

constexpr std::uint32_t kPacketHeaderSize = sizeof(PacketHeader);
constexpr std::uint32_t kPlayerStateSize = sizeof(PlayerStateFormat);
constexpr std::uint32_t kRemotePlayerEntrySize = sizeof(RemotePlayerStateEntry);
constexpr std::uint32_t kPlayerStateMessageSize = kPacketHeaderSize + kPlayerStateSize;
constexpr std::uint32_t kPlayerStateWordMask = 0x601B1CDF;
static_assert(kPacketHeaderSize == 8 && kPlayerStateSize == 34 && kRemotePlayerEntrySize == 38 &&
              kPlayerStateMessageSize == 42);

enum PacketId : std::uint32_t {
  PACKET_CONNECT = 1,          // client to server
  PACKET_ACCEPTED = 2,         // server to client
  PACKET_READY = 3,            // client to server, header only
  PACKET_PLAYER_STATE = 4,     // both: own state up, remote states down
  PACKET_PLAYER_LEFT = 5,      // server to client
  PACKET_CHAT = 6,             // both
  PACKET_COMMAND = 7,          // client to server
  PACKET_PLAYER_UPDATE = 8,    // server to client
  PACKET_RESOURCE_LIST = 9,    // server to client
  PACKET_RESOURCE_STATE = 10,  // server to client
  PACKET_SCRIPT_EVENT = 11,    // both
};

// The 32-bit data of an ENet disconnect from the server; the client closes with DISCONNECT_CLOSED.
enum DisconnectReason : std::uint32_t {
  DISCONNECT_TIMED_OUT = 0,
  DISCONNECT_SERVER_FULL = 1,
  DISCONNECT_OLD_CLIENT = 2,
  DISCONNECT_WRONG_GAME = 3,
  DISCONNECT_WRONG_PASSWORD = 4,
  DISCONNECT_UNSUPPORTED_EXECUTABLE = 5,
  DISCONNECT_CLOSED = 6,
};
// The chat line during play and the message-box text at start-up; any value has a text.
const char* GetDisconnectChatText(std::uint32_t reason);
const char* GetDisconnectMessageText(std::uint32_t reason);

// ---- Client to server -------------------------------------------------------------------------------------------

// Message 1. False (out emptied) when the password or nickname is over 65,535 bytes.
constexpr std::uint32_t kConnectFixedSize = 24;
bool EncodeConnectRequest(std::uint32_t gameVersion, std::uint32_t clientValue, std::string_view password,
                          std::string_view nickname, std::vector<std::uint8_t>* out);
// Message 3: the header alone.
void EncodeReady(std::uint8_t (&out)[kPacketHeaderSize]);
// Message 4: header and state, 42 bytes (inline: it goes out every frame).
inline void EncodePlayerState(const PlayerStateFormat& state, std::uint8_t (&out)[kPlayerStateMessageSize]) {
  const PacketHeader header{kPacketMagic, PACKET_PLAYER_STATE};
  std::memcpy(out, &header, sizeof header);
  std::memcpy(out + sizeof header, &state, sizeof state);
}
// Messages 6 and 7: header, u32 length, UTF-8 bytes. Chat answers false (nothing to send) for an empty text.
bool EncodeChat(std::string_view text, std::vector<std::uint8_t>* out);
// A command line: the name, and one blank and the arguments when there are any.
void EncodeCommand(std::string_view name, std::string_view arguments, std::vector<std::uint8_t>* out);
// Message 11: header, u8 name length, the name one byte per character, then the argument list already in its
// network form. A character above 0xFF is reported to task (when given) and nothing is produced; so is a name
// of more than 255 characters.
constexpr std::uint32_t kMaxEventNameLength = 0xFF;
bool EncodeScriptEvent(tTaskContext* task, std::u16string_view name, const std::uint8_t* arguments,
                       std::size_t argumentBytes, std::vector<std::uint8_t>* out);

// ---- Server to client -------------------------------------------------------------------------------------------

// Checks the header: true with the id for a packet of at least a header's bytes that opens with the magic.
bool ReadPacketHeader(const std::uint8_t* data, std::size_t size, std::uint32_t* id);
// A stream over the packet (not copied, not released with the stream), positioned behind the header; one
// reference for the caller. Packets of 4 GiB or more are refused (null).
CByteArrayStream* OpenPacket(std::uint8_t* data, std::size_t size);

// Message 2 (30 bytes).
struct AcceptedMessage {
  std::int32_t ownId;
  std::uint8_t level;        // the level the game must reach
  std::uint8_t secondLevel;  // written into the game with the first when the game is elsewhere
  std::uint32_t flags;       // ACCEPTED_FLAG_*
  std::uint32_t scriptLoadedValue;
};
enum : std::uint32_t {
  ACCEPTED_FLAG_JUMP_A = 0x01,
  ACCEPTED_FLAG_JUMP_B = 0x02,
  ACCEPTED_FLAG_MARK_ITEMS = 0x04,
  ACCEPTED_FLAG_NOP = 0x08,
};
constexpr std::uint32_t kAcceptedMessageSize = 30;
bool ReadAccepted(CStream* stream, AcceptedMessage* out);

// Message 4: every complete entry, at most as many as the count says (the count alone never sizes anything).
// False only when the count itself is missing.
bool ReadRemotePlayerStates(CStream* stream, std::vector<RemotePlayerStateEntry>* out);

// Message 5: the player id.
bool ReadPlayerLeft(CStream* stream, std::int32_t* id);

// Message 6: the UTF-8 text (false when the length runs past the packet).
bool ReadChat(CStream* stream, std::string* text);

// Message 8: flags, id and the flagged fields (absent ones left 0).
enum : std::uint8_t {
  UPDATE_ROOM = 0x01,
  UPDATE_POSITION = 0x02,
  UPDATE_HEADING = 0x04,
  UPDATE_ITEM_WORD = 0x08,
  UPDATE_RESPAWN = 0x10,
  UPDATE_RESET_WORD = 0x20,
};
struct PlayerUpdateMessage {
  std::uint8_t flags;
  std::int32_t id;
  std::int16_t room;
  std::int32_t x, y, z;
  std::uint16_t heading;
  std::uint16_t itemWord;
};
bool ReadPlayerUpdate(CStream* stream, PlayerUpdateMessage* out);

// Message 9, read whole. Names travel one byte per character; each must be one sound path component that
// keeps "/UserData/Caches/<resource>/<file>" within the game-side file system's limits. A refused resource
// (with its files) or file is left out, and a console line saying why joins refusals. False for a list cut
// short or whose counts run past the bytes left, and for a list over the bounds below, which is refused whole
// (nothing of it is acted on) with the console line saying so in refusedWhole.
enum : std::uint8_t { RESOURCE_FILE_SCRIPT = 1 };
struct ResourceFileRecord {
  std::uint8_t type;  // RESOURCE_FILE_SCRIPT, any other value a plain file
  std::string name;
  std::uint32_t size;
  std::uint32_t crc;
};
struct ResourceRecord {
  std::string name;
  bool running;
  std::vector<ResourceFileRecord> files;
};
struct ResourceListMessage {
  std::vector<ResourceRecord> resources;
  std::vector<std::string> refusals;
  std::string refusedWhole;
};
// The bounds of the resource lists: far above what a real server lists (hundreds), low enough that acting on one
// list (a script environment per running resource, a cache check and a job per file) stays a fraction of a
// second of the game thread's. Per list: resources and files in all (refused resources' and files' entries
// count too: they were read), and files of one resource. The client holds fewer than kMaxResourcesHeld records,
// which live as long as it: a list that would make it hold more is refused whole.
constexpr std::uint32_t kMaxResourcesPerList = 10000;
constexpr std::uint32_t kMaxFilesPerList = 10000;
constexpr std::uint32_t kMaxFilesPerResource = 10000;
constexpr std::uint32_t kMaxResourcesHeld = 50000;
// The largest valid message: a resource list at its bounds with every name at its 255 bytes. Every other
// message is smaller or, as a script event's strings, shares this bound; the client takes no larger packet.
constexpr std::uint32_t kLongestWireName = 0xFF;
constexpr std::uint32_t kMaxListedResourceSize = 1 + kLongestWireName + 1 + 4;  // name length, name, running, files
constexpr std::uint32_t kMaxListedFileSize = 1 + 1 + kLongestWireName + 4 + 4;  // type, name length, name, size, CRC
constexpr std::uint32_t kMaxPacketSize =
    kPacketHeaderSize + 4 + kMaxResourcesPerList * kMaxListedResourceSize + kMaxFilesPerList * kMaxListedFileSize;
// The cache folder every resource's files go to, and the file system's limits that paths below it must keep.
constexpr std::string_view kResourceCacheRoot = "/UserData/Caches/";
constexpr std::size_t kMaxPathComponent = 255;
constexpr std::size_t kMaxPathLength = 259;
bool ReadResourceList(CStream* stream, ResourceListMessage* out);
// The console line of a list refused whole: "MULTIPLAYER: Refused a resource list of <count> <what> (at most
// <bound>)\n".
std::string ResourceListRefusal(std::uint32_t count, const char* what, std::uint32_t bound);
// Whether a path component names something the Win32 file systems treat specially, which a server must never
// reach through the cache: a device ("CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "COM" or "LPT" with a digit
// 1 to 9 or a superscript 1 to 3; any case; alone or before an extension, spaces before the dot ignored), or a
// name ending in a dot or a space (the host drops those, so the name aliases another; "..." among them). The 8-bit
// form reads each byte as the character of that code, as the names are widened.
bool IsSpecialHostName(std::u16string_view name);
bool IsSpecialHostName(std::string_view name);
// Whether name can be a resource's folder, or a file in the folder of a resource of resourceLength bytes: a
// component within the limits, without separators, ":" or control characters, not "." or "..", and no special
// host name.
bool IsSoundResourceName(std::string_view name);
bool IsSoundFileName(std::string_view name, std::size_t resourceLength);

// Message 10: the resource's name hash and the action.
enum : std::uint8_t { RESOURCE_STOP = 0, RESOURCE_START = 1, RESOURCE_RESTART = 2 };
struct ResourceStateMessage {
  std::uint32_t nameHash;
  std::uint8_t action;
};
bool ReadResourceState(CStream* stream, ResourceStateMessage* out);

// Message 11: the name and the argument list in its network form, whose structure (count within the value
// limit and the bytes left, every string within the packet) is checked here; its values are not made here.
// A list of more than kMaxScriptArguments arguments is dropped whole (the message is not read), so a server
// cannot make the client build an argument list of any size; a list up to it is read as it is (within
// kMaxPacketSize, which bounds its strings).
struct ScriptEventMessage {
  std::string name;
  std::uint32_t argumentCount;
  std::vector<std::uint8_t> arguments;  // the list's bytes, count field included
};
constexpr std::uint32_t kMaxScriptArguments = 1024;
bool ReadScriptEvent(CStream* stream, ScriptEventMessage* out);
