// CNetGame's empty notifications and CNetClient's connection over ENet.
#include <multiplayer/NetClient.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t MillisecondsLeft(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return 0;
  return std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
}

}  // namespace

void CNetGame::OnReceive(ENetPeer*, ENetPacket*) {}
void CNetGame::OnConnect(ENetEvent*, ENetPeer*) {}
void CNetGame::OnDisconnect(ENetEvent*, ENetPeer*) {}

CNetClient::~CNetClient() {
  Disconnect(0);
  if (m_pHost != nullptr) enet_host_destroy(m_pHost);
}

bool CNetClient::CreateHost(std::size_t maximumPacketSize) {
  if (m_pHost != nullptr) return false;
  m_pHost = enet_host_create(nullptr, 1, kChannels, 0, 0);
  if (m_pHost != nullptr && maximumPacketSize != 0) m_pHost->maximumPacketSize = maximumPacketSize;
  return m_pHost != nullptr;
}

bool CNetClient::Connect(const char* host, std::uint16_t port) {
  if (m_pHost == nullptr || host == nullptr) return false;
  ENetAddress address{};
  if (enet_address_set_host(&address, host) != 0) return false;
  address.port = port;
  m_pPeer = enet_host_connect(m_pHost, &address, kChannels, 0);
  if (m_pPeer == nullptr) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectWaitMs);
  ENetEvent event;
  for (;;) {
    const std::uint32_t left = MillisecondsLeft(deadline);
    const int serviced = enet_host_service(m_pHost, &event, left);
    if (serviced > 0 && event.type == ENET_EVENT_TYPE_CONNECT && event.peer == m_pPeer) return true;
    if (serviced > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
    // A refusal ends the wait at once; ENet has reset the peer already.
    if (serviced > 0 && event.type == ENET_EVENT_TYPE_DISCONNECT && event.peer == m_pPeer) {
      m_pPeer = nullptr;
      return false;
    }
    if (serviced < 0 || left == 0) break;
  }
  enet_peer_reset(m_pPeer);
  m_pPeer = nullptr;
  return false;
}

bool CNetClient::Send(const void* bytes, std::size_t length) {
  if (m_pHost == nullptr || m_pPeer == nullptr) return false;
  ENetPacket* packet = enet_packet_create(bytes, length, ENET_PACKET_FLAG_RELIABLE);
  if (packet == nullptr) return false;
  enet_host_broadcast(m_pHost, 0, packet);
  // Out now, not at the next service: the connect request goes before Init's loop first services.
  enet_host_flush(m_pHost);
  return true;
}

void CNetClient::Process() {
  if (m_pHost == nullptr) return;
  ENetEvent event;
  m_WorkSpent = 0;
  for (std::uint32_t handled = 0; handled < kMaxEventsPerProcess && m_WorkSpent < m_WorkBudget; ++handled) {
    if (enet_host_service(m_pHost, &event, 0) <= 0) break;
    ++m_WorkSpent;
    switch (event.type) {
      case ENET_EVENT_TYPE_CONNECT:
        event.peer->data = nullptr;
        OnConnect(&event, event.peer);
        break;
      case ENET_EVENT_TYPE_DISCONNECT:
        OnDisconnect(&event, event.peer);
        break;
      case ENET_EVENT_TYPE_RECEIVE:
        m_WorkSpent += event.packet->dataLength / kPacketBytesPerWork;
        OnReceive(event.peer, event.packet);
        enet_packet_destroy(event.packet);
        break;
      default:
        break;
    }
  }
}

bool CNetClient::Disconnect(std::uint32_t reason) {
  if (m_pHost == nullptr || m_pPeer == nullptr) return false;
  enet_peer_disconnect(m_pPeer, reason);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kDisconnectTotalMs);
  ENetEvent event;
  for (std::uint32_t left = MillisecondsLeft(deadline); left > 0; left = MillisecondsLeft(deadline)) {
    const int serviced = enet_host_service(m_pHost, &event, left < kDisconnectStepMs ? left : kDisconnectStepMs);
    if (serviced <= 0) break;
    if (event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
    if (event.type == ENET_EVENT_TYPE_DISCONNECT && event.peer == m_pPeer) {
      m_pPeer = nullptr;
      return true;
    }
  }
  enet_peer_reset(m_pPeer);
  m_pPeer = nullptr;
  return false;
}
