#pragma once
// The network game's class tree over ENet: CNetGame, the root whose three notifications do nothing, and
// CNetClient, one ENet client host with at most one server peer, which connects, sends, services and closes.
//
// Errors: operations answer false; nothing is reported elsewhere and nothing throws. Every wait is bounded:
// Connect by kConnectWaitMs, Disconnect by kDisconnectTotalMs whatever the server keeps sending, and Process
// handles at most kMaxEventsPerProcess events and at most its work budget per call, so a flooding server cannot
// hold the caller; the host takes no packet over the largest size it is given.
// Locking: none; the game's main thread alone uses a client. enet_initialize must have run.
#include <cstddef>
#include <cstdint>

#include <enet/enet.h>

class CNetGame {
 public:
  virtual ~CNetGame() = default;
  // One received packet; the caller destroys it afterwards.
  virtual void OnReceive(ENetPeer* peer, ENetPacket* packet);
  virtual void OnConnect(ENetEvent* event, ENetPeer* peer);
  // event->data is the DisconnectReason the server gave.
  virtual void OnDisconnect(ENetEvent* event, ENetPeer* peer);
};

class CNetClient : public CNetGame {
 public:
  static constexpr std::size_t kChannels = 2;
  static constexpr std::uint32_t kConnectWaitMs = 5000;
  static constexpr std::uint32_t kDisconnectStepMs = 500;
  static constexpr std::uint32_t kDisconnectTotalMs = 3000;
  static constexpr std::uint32_t kMaxEventsPerProcess = 64;
  // A received packet also costs a work unit per this many of its bytes, so a frame's bytes are bounded by its
  // budget whatever kind of message carries them (a chat line or a script event as much as a resource list).
  static constexpr std::uint32_t kPacketBytesPerWork = 256;

  CNetClient() = default;
  // Disconnect with reason 0, then destroys the host.
  ~CNetClient() override;
  CNetClient(const CNetClient&) = delete;
  CNetClient& operator=(const CNetClient&) = delete;

  // Creates the client host (one peer, kChannels channels), which refuses any packet over maximumPacketSize
  // bytes (ENet's own bound when 0); false when ENet refuses or a host exists.
  bool CreateHost(std::size_t maximumPacketSize = 0);
  // Resolves host (a name, else a dotted quad) and connects; true on the connect event within kConnectWaitMs,
  // else the peer is reset and cleared. False without a host.
  bool Connect(const char* host, std::uint16_t port);
  // A reliable packet of the bytes on channel 0 to the host's peers, flushed at once; false without a host or
  // peer.
  bool Send(const void* bytes, std::size_t length);
  // Services the host with a time-out of 0 until no event is left, kMaxEventsPerProcess were handled or the
  // work budget is spent (each event counts 1, a received packet its bytes / kPacketBytesPerWork more, and what a
  // receiver adds with SpendWork; the event that passes the budget is handled whole): connect clears the peer's user
  // data and calls OnConnect, disconnect OnDisconnect, receive OnReceive and then destroys the packet. What is left
  // waits in ENet for the next call. Nothing without a host.
  void Process();
  // Asks ENet to disconnect the peer with the reason and services in kDisconnectStepMs waits, destroying
  // received packets, until the disconnect event (true). A wait that yields nothing, or kDisconnectTotalMs in
  // all, resets and clears the peer (false). False without a host or peer.
  bool Disconnect(std::uint32_t reason);

  ENetHost* GetHost() const { return m_pHost; }
  ENetPeer* GetPeer() const { return m_pPeer; }

 protected:
  // The work an event made its receiver do beyond the 1 that Process counts, in the budget's units.
  void SpendWork(std::uint32_t units) { m_WorkSpent += units; }

  ENetHost* m_pHost = nullptr;
  ENetPeer* m_pPeer = nullptr;
  // Work units per Process; a subclass whose events do more than one unit's work sets its own.
  std::uint64_t m_WorkBudget = kMaxEventsPerProcess;

 private:
  std::uint64_t m_WorkSpent = 0;
};
