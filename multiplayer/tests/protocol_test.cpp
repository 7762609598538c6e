// The protocol's encoders and readers against hand-worked bytes and against the test server's own codec.
#include <multiplayer/Protocol.h>

#include <gtest/gtest.h>

#include <cstring>

#include <base/Stream.h>
#include <base/TaskContext.h>

#include "../../tools/netserver/ServerProtocol.h"

namespace {

using netserver::Bytes;

// Runs read over the packet from behind its header, as the client does.
template <typename Reader>
bool ReadPacket(Bytes packet, Reader read) {
  CByteArrayStream* stream = OpenPacket(packet.data(), packet.size());
  if (stream == nullptr) return false;
  const bool ok = read(stream);
  stream->Release();
  return ok;
}

netserver::State SampleState(int seed) {
  netserver::State s;
  s.room = std::int16_t(3 + seed);
  s.word34 = 0x1234;
  s.x = -1000 * seed;
  s.y = 2000;
  s.z = 0x7FFFFFF0;
  s.heading = 0x8001;
  s.stateWord = 0xFFFFFFFF;
  s.word6 = 7;
  s.wordA = 0xA1A1;
  s.wordB = 0xB2B2;
  s.word44 = 44;
  s.flag = 1;
  return s;
}

TEST(Protocol, ConnectRequestWithEmptyPasswordPutsTheNicknameAtOffset24) {
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(EncodeConnectRequest(7, 0xC0FFEE, "", "Kelv", &out));
  const Bytes expected = {0x01, 0x34, 0x56, 0x51, 1,    0, 0, 0, 24, 0, 0,   0,   7,   0,
                          0,    0,    0xEE, 0xFF, 0xC0, 0, 0, 0, 4,  0, 'K', 'e', 'l', 'v'};
  EXPECT_EQ(expected, out);
  netserver::Connect c;
  ASSERT_TRUE(netserver::DecodeConnect(out, c));
  EXPECT_EQ("", c.password);
  EXPECT_EQ("Kelv", c.nickname);

  ASSERT_TRUE(EncodeConnectRequest(2, 0, "pw", "n\xC3\xA9", &out));
  ASSERT_TRUE(netserver::DecodeConnect(out, c));
  EXPECT_EQ(24u, c.fixed);
  EXPECT_EQ(2u, c.gameVersion);
  EXPECT_EQ("pw", c.password);
  EXPECT_EQ("n\xC3\xA9", c.nickname);
  EXPECT_FALSE(EncodeConnectRequest(2, 0, std::string(0x10000, 'p'), "n", &out));
  EXPECT_TRUE(out.empty());
}

TEST(Protocol, OwnPlayerStateIsA42ByteMessageTheServerReadsBack) {
  const netserver::State s = SampleState(1);
  Bytes wire;
  netserver::PutState(wire, s);
  PlayerStateFormat state;
  std::memcpy(&state, wire.data(), sizeof state);
  std::uint8_t message[kPlayerStateMessageSize];
  EncodePlayerState(state, message);
  const Bytes bytes(message, message + sizeof message);
  ASSERT_EQ(42u, bytes.size());
  netserver::State back;
  ASSERT_TRUE(netserver::DecodePlayerState(bytes, back));
  EXPECT_EQ(0, std::memcmp(&state, bytes.data() + 8, 34));
  EXPECT_EQ(s.room, back.room);
  EXPECT_EQ(s.x, back.x);
  EXPECT_EQ(s.stateWord, back.stateWord);
  EXPECT_EQ(s.flag, back.flag);
  EXPECT_EQ(s.wordB, back.wordB);

  std::uint8_t ready[kPacketHeaderSize];
  EncodeReady(ready);
  EXPECT_TRUE(netserver::DecodeReady(Bytes(ready, ready + sizeof ready)));
}

TEST(Protocol, TextMessagesReachTheServerAsSent) {
  std::vector<std::uint8_t> out;
  std::string text;
  EXPECT_FALSE(EncodeChat("", &out));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(EncodeChat("hello \xE2\x82\xAC", &out));
  ASSERT_TRUE(netserver::DecodeText(out, netserver::kChat, text));
  EXPECT_EQ("hello \xE2\x82\xAC", text);
  EncodeCommand("kick", "bob now", &out);
  ASSERT_TRUE(netserver::DecodeText(out, netserver::kCommand, text));
  EXPECT_EQ("kick bob now", text);
  EncodeCommand("list", "", &out);
  ASSERT_TRUE(netserver::DecodeText(out, netserver::kCommand, text));
  EXPECT_EQ("list", text);
}

TEST(Protocol, ScriptEventWithoutArgumentsKeepsItsCount) {
  const std::uint8_t noArguments[] = {0, 0, 0, 0};
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(EncodeScriptEvent(nullptr, u"onPing", noArguments, sizeof noArguments, &out));
  const Bytes expected = {0x01, 0x34, 0x56, 0x51, 11, 0, 0, 0, 6, 'o', 'n', 'P', 'i', 'n', 'g', 0, 0, 0, 0};
  EXPECT_EQ(expected, out);
  netserver::Event e;
  ASSERT_TRUE(netserver::DecodeScriptEvent(out, e));
  EXPECT_EQ("onPing", e.name);
  EXPECT_EQ(Bytes(4, 0), e.arguments);

  tTaskContext task;
  EXPECT_FALSE(EncodeScriptEvent(&task, u"caf\u0101", noArguments, sizeof noArguments, &out));
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(1u, task.GetErrorCount());
  EXPECT_EQ(
      "An attempt was made to copy a string into a buffer of a type that does not support a character in "
      "the string.",
      task.GetErrors()[0]);
  EXPECT_TRUE(EncodeScriptEvent(&task, std::u16string(255, u'\u00E9'), noArguments, 4, &out));
  EXPECT_FALSE(EncodeScriptEvent(&task, std::u16string(256, u'a'), noArguments, 4, &out));
}

TEST(Protocol, AWrongMagicOrShortHeaderIsNoPacket) {
  std::uint32_t id = 99;
  Bytes good = netserver::Chat("x");
  EXPECT_TRUE(ReadPacketHeader(good.data(), good.size(), &id));
  EXPECT_EQ(6u, id);
  for (std::size_t cut = 0; cut < 8; ++cut) EXPECT_FALSE(ReadPacketHeader(good.data(), cut, &id));
  good[3] ^= 1;
  id = 99;
  EXPECT_FALSE(ReadPacketHeader(good.data(), good.size(), &id));
  EXPECT_EQ(99u, id);
}

TEST(Protocol, ServerMessagesReadAsTheServerWroteThem) {
  AcceptedMessage accepted{};
  ASSERT_TRUE(ReadPacket(netserver::Accepted(0xFFFFFFFE, 7, 9, 0xB, 0xDEADBEEF),
                         [&](CStream* s) { return ReadAccepted(s, &accepted); }));
  EXPECT_EQ(-2, accepted.ownId);
  EXPECT_EQ(7, accepted.level);
  EXPECT_EQ(9, accepted.secondLevel);
  EXPECT_EQ(0xBu, accepted.flags);
  EXPECT_EQ(0xDEADBEEFu, accepted.scriptLoadedValue);

  std::vector<RemotePlayerStateEntry> entries;
  ASSERT_TRUE(ReadPacket(netserver::PlayerStates({{5, SampleState(1)}, {1023, SampleState(2)}}),
                         [&](CStream* s) { return ReadRemotePlayerStates(s, &entries); }));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(1023u, +entries[1].id);
  EXPECT_EQ(5, +entries[1].state.room);
  EXPECT_EQ(-2000, +entries[1].state.x);
  EXPECT_EQ(0x8001, +entries[1].state.heading);
  EXPECT_EQ(0xA1A1, +entries[0].state.recordWordA);
  EXPECT_EQ(1u, +entries[0].state.flag);

  std::int32_t left = 0;
  ASSERT_TRUE(ReadPacket(netserver::PlayerLeft(0xFFFFFFFF), [&](CStream* s) { return ReadPlayerLeft(s, &left); }));
  EXPECT_EQ(-1, left);

  std::string chat;
  ASSERT_TRUE(ReadPacket(netserver::Chat("hi there"), [&](CStream* s) { return ReadChat(s, &chat); }));
  EXPECT_EQ("hi there", chat);

  PlayerUpdateMessage update{};
  ASSERT_TRUE(ReadPacket(netserver::PlayerUpdate({0x3F, 4, -3, 1, -2, 3, 0x4000, 0x55}),
                         [&](CStream* s) { return ReadPlayerUpdate(s, &update); }));
  EXPECT_EQ(0x3F, update.flags);
  EXPECT_EQ(4, update.id);
  EXPECT_EQ(-3, update.room);
  EXPECT_EQ(-2, update.y);
  EXPECT_EQ(0x4000, update.heading);
  EXPECT_EQ(0x55, update.itemWord);

  ResourceStateMessage state{};
  ASSERT_TRUE(ReadPacket(netserver::ResourceState(netserver::NameHash("Race"), 2),
                         [&](CStream* s) { return ReadResourceState(s, &state); }));
  EXPECT_EQ(netserver::NameHash("race"), state.nameHash);
  EXPECT_EQ(2, state.action);

  // 5, 2.5, true, "abc", null, and an unknown tag that reads as null.
  const Bytes arguments = {6, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 'a', 'b', 'c', 0, 9};
  ScriptEventMessage event;
  ASSERT_TRUE(
      ReadPacket(netserver::ScriptEvent("onRace", arguments), [&](CStream* s) { return ReadScriptEvent(s, &event); }));
  EXPECT_EQ("onRace", event.name);
  EXPECT_EQ(6u, event.argumentCount);
  EXPECT_EQ(arguments, event.arguments);
}

TEST(Protocol, ResourceListReadsWholeWithTrueSizesAndChecksums) {
  const std::uint8_t content[] = "print(1)";
  const std::uint32_t crc = netserver::Crc32(content, sizeof content - 1);
  EXPECT_EQ(0xCBF43926u, netserver::Crc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9));
  ResourceListMessage list;
  ASSERT_TRUE(ReadPacket(
      netserver::ResourceList({{"race", true, {{1, "client.nut", 8, crc}, {0, "a.png", 3, 7}}}, {"empty", false, {}}}),
      [&](CStream* s) { return ReadResourceList(s, &list); }));
  ASSERT_EQ(2u, list.resources.size());
  EXPECT_TRUE(list.refusals.empty());
  EXPECT_EQ("race", list.resources[0].name);
  EXPECT_TRUE(list.resources[0].running);
  ASSERT_EQ(2u, list.resources[0].files.size());
  EXPECT_EQ(RESOURCE_FILE_SCRIPT, list.resources[0].files[0].type);
  EXPECT_EQ(crc, list.resources[0].files[0].crc);
  EXPECT_EQ(3u, list.resources[0].files[1].size);
  EXPECT_FALSE(list.resources[1].running);
}

struct NameCase {
  const char* label;
  std::string resource;
  std::string file;
  bool resourceKept;
  bool fileKept;
};

TEST(Protocol, UnsoundNamesAreSkippedWithAConsoleLine) {
  const std::size_t longest = kMaxPathLength - kResourceCacheRoot.size() - 1;  // resource + file bytes
  const NameCase cases[] = {
      {"plain", "r", "f.nut", true, true},         {"empty file", "r", "", true, false},
      {"dot", "r", ".", true, false},              {"dot dot", "r", "..", true, false},
      {"dot dot resource", "..", "f", false, false}, {"slash", "r", "a/b", true, false},
      {"backslash", "r", "a\\b", true, false},      {"colon", "r", "c:x", true, false},
      {"control", "r", std::string("a\x01", 2), true, false}, {"delete", "r", "a\x7F", true, false},
      {"nul", std::string("r\0s", 3), "f", false, false}, {"empty resource", "", "f", false, false},
      {"at the limit", std::string(longest - 1, 'r'), "f", true, true},
      {"past the limit", std::string(longest - 1, 'r'), "ff", true, false},
      {"resource leaves no room", std::string(longest, 'r'), "f", false, false},
      {"long component", "r", std::string(255, 'f'), true, false},
      {"dots inside", "r", "a..b", true, true},
      {"device file", "r", "CON", true, false},    {"device resource", "nul.d", "f", false, false},
      {"trailing dot", "r", "f.", true, false},    {"trailing space", "r ", "f", false, false},
      {"three dots", "r", "...", true, false},     {"numbered device", "r", "Lpt3.txt", true, false},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.label);
    ResourceListMessage list;
    ASSERT_TRUE(ReadPacket(netserver::ResourceList({{c.resource, false, {{0, c.file, 1, 2}}}, {"next", false, {}}}),
                           [&](CStream* s) { return ReadResourceList(s, &list); }));
    const std::size_t refused = !c.resourceKept || !c.fileKept ? 1 : 0;
    ASSERT_EQ(refused, list.refusals.size());
    if (refused != 0) {
      EXPECT_EQ(0u, list.refusals[0].rfind("MULTIPLAYER: ", 0));
    }
    ASSERT_EQ(c.resourceKept ? 2u : 1u, list.resources.size());
    EXPECT_EQ("next", list.resources.back().name);
    if (c.resourceKept) {
      EXPECT_EQ(c.fileKept ? 1u : 0u, list.resources[0].files.size());
    }
  }
}

// Names the Win32 file systems treat specially, in both forms (8-bit names read each byte as its character).
TEST(Protocol, SpecialHostNamesAreDevicesAndNamesEndingInADotOrASpace) {
  const struct {
    std::string name;
    bool special;
  } cases[] = {
      {"CON", true},         {"con", true},      {"Con.txt", true},   {"NUL", true},      {"nul.tar.gz", true},
      {"PRN", true},         {"aux.nut", true},  {"COM1", true},      {"com9.log", true}, {"LPT1", true},
      {"lpt9", true},        {"COM\xB9", true},  {"LPT\xB2.x", true}, {"lpt\xB3", true},  {"CONIN$", true},
      {"conout$.txt", true}, {"NUL .txt", true}, {"CON  ", true},     {"a.", true},       {"a ", true},
      {"...", true},         {"..", true},       {"x.y.", true},      {"COM0", false},    {"COM10", false},
      {"LPT", false},        {"CONSOLE", false}, {"icon", false},     {"NULL", false},    {"xCON", false},
      {"con_", false},       {"a.b", false},     {" a", false},       {".hidden", false}, {"COM\xB4", false},
      {"AUXx.txt", false},   {"", false},        {"nu l", false},     {"CON.", true},     {"com1 .", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.special, IsSpecialHostName(std::string_view(c.name)));
    std::u16string wide;
    for (const char b : c.name) wide.push_back(char16_t(static_cast<unsigned char>(b)));
    EXPECT_EQ(c.special, IsSpecialHostName(std::u16string_view(wide)));
    // A special name is never a resource's folder nor a file in one.
    if (c.special) {
      EXPECT_FALSE(IsSoundResourceName(c.name));
      EXPECT_FALSE(IsSoundFileName(c.name, 1));
    }
  }
  // Wide characters that only look like digits name no device.
  for (const char16_t* name : {u"COM\u2081", u"LPT\u0661", u"CO\u0147"}) {
    EXPECT_FALSE(IsSpecialHostName(std::u16string_view(name)));
  }
}

TEST(Protocol, CountsAreBoundedByTheBytesLeft) {
  // Counts far above what the packet holds: refused before anything is sized by them.
  Bytes list = netserver::Header(9);
  netserver::PutU32(list, 0xFFFFFFFF);
  ResourceListMessage resources;
  EXPECT_FALSE(ReadPacket(list, [&](CStream* s) { return ReadResourceList(s, &resources); }));
  Bytes files = netserver::ResourceList({{"r", false, {}}});
  files[files.size() - 4] = 0xFF;  // the file count
  EXPECT_FALSE(ReadPacket(files, [&](CStream* s) { return ReadResourceList(s, &resources); }));

  Bytes states = netserver::PlayerStates({{1, SampleState(0)}, {2, SampleState(1)}});
  states[8] = 0xFF;  // count 255 with two entries present
  states.resize(states.size() - 1);
  std::vector<RemotePlayerStateEntry> entries;
  ASSERT_TRUE(ReadPacket(states, [&](CStream* s) { return ReadRemotePlayerStates(s, &entries); }));
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(1u, +entries[0].id);

  Bytes chat = netserver::Chat("abc");
  chat[8] = 4;
  std::string text;
  EXPECT_FALSE(ReadPacket(chat, [&](CStream* s) { return ReadChat(s, &text); }));

  ScriptEventMessage event;
  Bytes many = {0x01, 0x04, 0, 0};  // 1025 values
  many.resize(many.size() + 1025, 0);
  EXPECT_FALSE(ReadPacket(netserver::ScriptEvent("e", many), [&](CStream* s) { return ReadScriptEvent(s, &event); }));
  // The limit itself is read whole.
  Bytes limit = {0x00, 0x04, 0, 0};  // 1024 values
  limit.resize(limit.size() + 1024, 0);
  ASSERT_TRUE(ReadPacket(netserver::ScriptEvent("e", limit), [&](CStream* s) { return ReadScriptEvent(s, &event); }));
  EXPECT_EQ(kMaxScriptArguments, event.argumentCount);
  EXPECT_FALSE(
      ReadPacket(netserver::ScriptEvent("e", {2, 0, 0, 0, 0}), [&](CStream* s) { return ReadScriptEvent(s, &event); }));
  EXPECT_FALSE(ReadPacket(netserver::ScriptEvent("e", {1, 0, 0, 0, 4, 9, 0, 'a'}),
                          [&](CStream* s) { return ReadScriptEvent(s, &event); }));
}

// The other messages cut short: the client's own table of every message (messages_test).
TEST(Protocol, PlayerStatesCutShortKeepTheirCompleteEntries) {
  const Bytes states = netserver::PlayerStates({{1, SampleState(0)}, {2, SampleState(1)}});
  std::vector<RemotePlayerStateEntry> entries;
  for (std::size_t cut = kPacketHeaderSize; cut < states.size(); ++cut) {
    SCOPED_TRACE(cut);
    const bool counted = cut >= kPacketHeaderSize + 4;
    EXPECT_EQ(counted, ReadPacket(Bytes(states.begin(), states.begin() + cut),
                                  [&](CStream* s) { return ReadRemotePlayerStates(s, &entries); }));
    if (counted) {
      EXPECT_EQ((cut - kPacketHeaderSize - 4) / kRemotePlayerEntrySize, entries.size());
    }
  }
}

TEST(Protocol, EveryReasonHasBothTexts) {
  const struct {
    std::uint32_t reason;
    const char* chat;
    const char* box;
  } cases[] = {
      {0, "Timed out", "You timed out from the server."},
      {1, "Server full", "The server is full."},
      {2, "Old client version",
       "Your client version is different to the server, you may need to upgrade your client at:\n\n"},
      {3, "Wrong engine version for server", "You are running the wrong game for the server."},
      {4, "Wrong password", "You entered the wrong password."},
      {5, "Unsupported executable", "The executable you are using is currently unsupported."},
      {6, "Disconnected", "The server disconnected you."},
      {7, "Lost connection", "The server rejected your connection."},
      {0xFFFFFFFF, "Lost connection", "The server rejected your connection."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_STREQ(c.chat, GetDisconnectChatText(c.reason));
    EXPECT_EQ(0u, std::string(GetDisconnectMessageText(c.reason)).rfind(c.box, 0));
  }
}

}  // namespace
