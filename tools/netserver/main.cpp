// The loopback test server of the multiplayer client: an ENet host on 127.0.0.1 driven by line commands.
//
//   netserver [--files DIR] [--scenario FILE]
//
// Prints "enet <port>" and "http <port>" first (one number, as a real server's, unless that TCP port was taken).
// Then reads one command per line from FILE, or from standard input (ENet is serviced between lines, so the link
// stays up while it waits), and answers each with one line that says in words what it did ("accepted the player
// as player 0 on level 5 ...", "sent chat: ...") or heard ("the player \"Kelv\" asks to join (...)", "received the
// player's state: ...", "the player disconnected, reason 6 (quit)", "heard nothing in time"), or "error <why>". The
// HTTP server's requests come as "http: asked for ..." lines at any time. End of input ends the server.
//
//   accept ID LEVEL SECOND FLAGS VALUE    message 2
//   reject REASON | kick REASON           disconnect with the reason
//   drop                                  reset the link without a word
//   mute | unmute                         stop and resume servicing ENet (the link stays, nothing is answered)
//   wait connect|disconnect|any|N MS      the first queued or arriving event of that kind, or "timeout"
//   states ID,ROOM,X,Y,Z[,HEADING,WORD34,STATE,W6,WA,WB,W44,FLAG] ...   message 4
//   left ID | chat TEXT | resstate NAME ACTION                          messages 5, 6, 10
//   update FLAGS ID ROOM X Y Z HEADING WORD34                           message 8 (unflagged fields unsent)
//   resources NAME:RUNNING ...            message 9 of the files under DIR/NAME with true sizes and CRC-32s
//   event NAME HEXARGS                    message 11
//   flood COUNT [SIZE]                    COUNT chat messages at once, each padded to SIZE bytes with dots
//   raw HEX                               any bytes
//   timeout LIMIT MIN MAX                 the link's ENet time-outs (ms)
//   fault RESOURCE/FILE MODE              HTTP fault: none 404 500 short long truncated slow stalled held crc
//                                         redirect (a held file comes in full once its fault is changed)
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <enet/enet.h>

#include "FileServer.h"
#include "ServerProtocol.h"

namespace {

using netserver::Bytes;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxPeers = 8;
constexpr std::size_t kChannels = 2;
constexpr int kIdlePollMs = 5;
constexpr int kSamePortAttempts = 8;

std::mutex g_OutputLock;
void Say(const std::string& line) {
  std::lock_guard<std::mutex> guard(g_OutputLock);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

struct Event {
  ENetEventType type;
  Bytes packet;
  std::uint32_t data;
};

class CServer {
 public:
  CServer(ENetHost* host, netserver::CFileServer* files) : m_pHost(host), m_pFiles(files) {}

  // Takes whatever ENet has now (unless muted) into the queue.
  void Pump(std::uint32_t waitMs) {
    if (m_Muted) return;
    ENetEvent event;
    while (enet_host_service(m_pHost, &event, waitMs) > 0) {
      waitMs = 0;
      Event record{event.type, {}, event.data};
      if (event.type == ENET_EVENT_TYPE_CONNECT) m_pPeer = event.peer;
      if (event.type == ENET_EVENT_TYPE_DISCONNECT && event.peer == m_pPeer) m_pPeer = nullptr;
      if (event.type == ENET_EVENT_TYPE_RECEIVE) {
        record.packet.assign(event.packet->data, event.packet->data + event.packet->dataLength);
        enet_packet_destroy(event.packet);
      }
      m_Queue.push_back(std::move(record));
    }
  }

  std::string Run(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "wait") return Wait(in);
    if (command == "mute" || command == "unmute") {
      m_Muted = command == "mute";
      return m_Muted ? "stopped answering the player" : "answers the player again";
    }
    if (command == "fault") {
      std::string key, mode;
      netserver::Fault fault;
      if (!(in >> key >> mode) || !netserver::ParseFault(mode, &fault)) return "error fault";
      m_pFiles->SetFault(key, fault);
      return mode == "none" ? "will serve " + key + " as it is" : "will serve " + key + " with the fault " + mode;
    }
    if (m_pPeer == nullptr) return "error no client";
    if (command == "reject" || command == "kick") {
      std::uint32_t reason = 0;
      in >> reason;
      enet_peer_disconnect(m_pPeer, reason);
      enet_host_flush(m_pHost);
      return (command == "reject" ? "refused the player, " : "kicked the player, ") + netserver::DescribeReason(reason);
    }
    if (command == "drop") {
      enet_peer_reset(m_pPeer);
      m_pPeer = nullptr;
      return "dropped the link without a word";
    }
    if (command == "timeout") {
      std::uint32_t limit = 0, minimum = 0, maximum = 0;
      in >> limit >> minimum >> maximum;
      enet_peer_timeout(m_pPeer, limit, minimum, maximum);
      return "set the link's time-outs: limit " + std::to_string(limit) + ", " + std::to_string(minimum) + " to " +
             std::to_string(maximum) + " ms";
    }
    if (command == "flood") {
      std::uint32_t count = 0, size = 0;
      in >> count >> size;
      for (std::uint32_t i = 0; i < count; ++i) {
        std::string line = "flood " + std::to_string(i);
        if (line.size() < size) line.resize(size, '.');
        Send(netserver::Chat(line), false);
      }
      enet_host_flush(m_pHost);
      return "sent " + std::to_string(count) + " chat lines at once";
    }
    Bytes packet;
    std::string said;
    if (!Encode(command, in, packet, said)) return "error " + command;
    Send(packet, true);
    return said;
  }

 private:
  static bool ParseHex(const std::string& hex, Bytes& out) {
    if (hex.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2)
      out.push_back(std::uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return true;
  }

  static std::string Where(const netserver::State& s) {
    return "room " + std::to_string(s.room) + " at " + std::to_string(s.x) + " " + std::to_string(s.y) + " " +
           std::to_string(s.z);
  }

  // The packet of a command, and in words what sending it does.
  bool Encode(const std::string& command, std::istringstream& in, Bytes& packet, std::string& said) {
    if (command == "accept") {
      std::uint32_t id = 0, level = 0, second = 0, flags = 0, value = 0;
      if (!(in >> id >> level >> second >> flags >> value)) return false;
      packet = netserver::Accepted(id, std::uint8_t(level), std::uint8_t(second), flags, value);
      said = "accepted the player as player " + std::to_string(id) + " on level " + std::to_string(level) +
             " (second level " + std::to_string(second) + ", features " + std::to_string(flags) + ", value " +
             std::to_string(value) + ")";
    } else if (command == "states") {
      std::vector<std::pair<std::uint32_t, netserver::State>> players;
      std::string entry;
      while (in >> entry) {
        std::vector<long long> v;
        std::istringstream fields(entry);
        std::string field;
        while (std::getline(fields, field, ',')) v.push_back(std::stoll(field));
        if (v.size() < 5) return false;
        v.resize(13, 0);
        netserver::State s;
        s.room = std::int16_t(v[1]);
        s.x = std::int32_t(v[2]);
        s.y = std::int32_t(v[3]);
        s.z = std::int32_t(v[4]);
        s.heading = std::uint16_t(v[5]);
        s.word34 = std::uint16_t(v[6]);
        s.stateWord = std::uint32_t(v[7]);
        s.word6 = std::uint16_t(v[8]);
        s.wordA = std::uint16_t(v[9]);
        s.wordB = std::uint16_t(v[10]);
        s.word44 = std::uint16_t(v[11]);
        s.flag = std::uint32_t(v[12]);
        players.emplace_back(std::uint32_t(v[0]), s);
      }
      packet = netserver::PlayerStates(players);
      said = players.size() == 1 ? "sent another player's state:" : "sent other players' states:";
      for (std::size_t i = 0; i < players.size(); ++i) {
        said +=
            (i == 0 ? " player " : "; player ") + std::to_string(players[i].first) + " in " + Where(players[i].second);
      }
    } else if (command == "left") {
      long long id = 0;
      if (!(in >> id)) return false;
      packet = netserver::PlayerLeft(std::uint32_t(id));
      said = "told the player that player " + std::to_string(std::uint32_t(id)) + " left";
    } else if (command == "chat") {
      std::string text;
      std::getline(in >> std::ws, text);
      packet = netserver::Chat(text);
      said = "sent chat: " + text;
    } else if (command == "update") {
      netserver::Update u;
      long long flags = 0, id = 0, room = 0, heading = 0, word = 0;
      if (!(in >> flags >> id >> room >> u.x >> u.y >> u.z >> heading >> word)) return false;
      u.flags = std::uint8_t(flags);
      u.id = std::uint32_t(id);
      u.room = std::int16_t(room);
      u.heading = std::uint16_t(heading);
      u.word34 = std::uint16_t(word);
      packet = netserver::PlayerUpdate(u);
      said = "sent an update of player " + std::to_string(u.id) + ":";
      const std::string parts[] = {
          " room " + std::to_string(u.room),
          " position " + std::to_string(u.x) + " " + std::to_string(u.y) + " " + std::to_string(u.z),
          " heading " + std::to_string(u.heading),
          " item word " + std::to_string(u.word34),
          " respawn",
          " reset word"};
      std::string list;
      for (std::size_t bit = 0; bit < std::size(parts); ++bit) {
        if ((u.flags & (1u << bit)) != 0) list += (list.empty() ? "" : ",") + parts[bit];
      }
      said += list.empty() ? " nothing" : list;
    } else if (command == "resources") {
      std::vector<netserver::Resource> resources;
      std::string spec;
      while (in >> spec) {
        const std::size_t colon = spec.find(':');
        netserver::Resource r;
        r.name = spec.substr(0, colon);
        r.running = colon != std::string::npos && spec.substr(colon + 1) == "1";
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(m_pFiles->Root() + "/" + r.name, error)) {
          if (entry.is_regular_file()) files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& path : files) {
          std::ifstream file(path, std::ios::binary);
          const Bytes content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
          const std::string name = path.filename().string();
          const bool script = name.size() > 4 && name.compare(name.size() - 4, 4, ".nut") == 0;
          r.files.push_back({std::uint8_t(script ? 1 : 0), name, std::uint32_t(content.size()),
                             netserver::Crc32(content.data(), content.size())});
        }
        resources.push_back(std::move(r));
      }
      packet = netserver::ResourceList(resources);
      said = resources.size() == 1 ? "listed the resource" : "listed the resources";
      for (std::size_t i = 0; i < resources.size(); ++i) {
        said += (i == 0 ? " " : ", ") + resources[i].name + (resources[i].running ? " (running, " : " (stopped, ") +
                std::to_string(resources[i].files.size()) + (resources[i].files.size() == 1 ? " file)" : " files)");
      }
    } else if (command == "resstate") {
      std::string name;
      std::uint32_t action = 0;
      if (!(in >> name >> action)) return false;
      packet = netserver::ResourceState(netserver::NameHash(name), std::uint8_t(action));
      static const char* const kActions[] = {"stop", "start", "restart"};
      said = action < std::size(kActions)
                 ? std::string("told the player to ") + kActions[action] + " the resource " + name
                 : "told the player action " + std::to_string(action) + " for the resource " + name;
    } else if (command == "event") {
      std::string name, hex;
      Bytes arguments;
      if (!(in >> name >> hex) || !ParseHex(hex, arguments)) return false;
      packet = netserver::ScriptEvent(name, arguments);
      said = "sent event " + name + " with arguments " + hex;
    } else if (command == "raw") {
      std::string hex;
      if (!(in >> hex) || !ParseHex(hex, packet)) return false;
      said = "sent " + std::to_string(packet.size()) + " raw bytes";
    } else {
      return false;
    }
    return true;
  }

  void Send(const Bytes& bytes, bool flush) {
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
    if (enet_peer_send(m_pPeer, 0, packet) != 0) enet_packet_destroy(packet);
    if (flush) enet_host_flush(m_pHost);
  }

  std::string Wait(std::istringstream& in) {
    std::string what;
    std::uint32_t ms = 0;
    if (!(in >> what >> ms)) return "error wait";
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (auto it = m_Queue.begin(); it != m_Queue.end(); ++it) {
        if (!Matches(*it, what)) continue;
        const std::string line = Describe(*it);
        m_Queue.erase(it);
        return line;
      }
      const auto now = Clock::now();
      if (now >= deadline) return "heard nothing in time";
      if (m_Muted) {
        usleep(kIdlePollMs * 1000);
        continue;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      Pump(std::uint32_t(std::min<long long>(left, kIdlePollMs)));
    }
  }

  static bool Matches(const Event& e, const std::string& what) {
    if (what == "any") return true;
    if (what == "connect") return e.type == ENET_EVENT_TYPE_CONNECT;
    if (what == "disconnect") return e.type == ENET_EVENT_TYPE_DISCONNECT;
    return e.type == ENET_EVENT_TYPE_RECEIVE && std::to_string(netserver::MessageOf(e.packet)) == what;
  }

  static std::string Describe(const Event& e) {
    if (e.type == ENET_EVENT_TYPE_CONNECT) return "a player connected";
    if (e.type == ENET_EVENT_TYPE_DISCONNECT) return "the player disconnected, " + netserver::DescribeReason(e.data);
    return netserver::Describe(e.packet);
  }

  ENetHost* m_pHost;
  netserver::CFileServer* m_pFiles;
  ENetPeer* m_pPeer = nullptr;
  std::deque<Event> m_Queue;
  bool m_Muted = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::string files = ".", scenario;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--files")
      files = argv[i + 1];
    else if (option == "--scenario")
      scenario = argv[i + 1];
  }
  if (enet_initialize() != 0) {
    std::fprintf(stderr, "netserver: ENet did not start\n");
    return 1;
  }
  // A real server serves its files on the port number of its ENet host (TCP beside UDP), which is where clients
  // download from: a few tries for a UDP port whose TCP twin is free too, then any port for the files.
  ENetHost* host = nullptr;
  netserver::CFileServer fileServer(files, Say);
  bool serving = false;
  for (int attempt = 0; attempt < kSamePortAttempts && !serving; ++attempt) {
    if (host != nullptr) enet_host_destroy(host);
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = 0;
    host = enet_host_create(&address, kMaxPeers, kChannels, 0, 0);
    if (host == nullptr) {
      std::fprintf(stderr, "netserver: no ENet host\n");
      return 1;
    }
    serving = fileServer.Start(host->address.port);
  }
  if (!serving && !fileServer.Start()) {
    std::fprintf(stderr, "netserver: no HTTP server\n");
    return 1;
  }
  Say("enet " + std::to_string(host->address.port));
  Say("http " + std::to_string(fileServer.Port()));

  CServer server(host, &fileServer);
  std::ifstream script;
  if (!scenario.empty()) script.open(scenario);
  std::istream& commands = scenario.empty() ? std::cin : script;
  std::string line;
  for (;;) {
    if (scenario.empty()) {
      pollfd input{STDIN_FILENO, POLLIN, 0};
      if (poll(&input, 1, kIdlePollMs) == 0) {
        server.Pump(0);
        continue;
      }
    }
    if (!std::getline(commands, line)) break;
    if (line.empty() || line[0] == '#') continue;
    if (line == "quit") break;
    Say(server.Run(line));
  }
  enet_host_destroy(host);
  enet_deinitialize();
  return 0;
}
