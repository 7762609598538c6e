// libFuzzer target: message 6 from a server, whatever its bytes, through the client's receive path into the live
// chat window of a started client object, drawn after each message. Input: records of {length byte, body bytes},
// each sent as one message 6 after the packet header.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include <engine/Context.h>
#include <engine/FileSystem.h>
#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>
#include <platform/text.h>

#include <multiplayer/Client.h>
#include <multiplayer/Protocol.h>
#include <multiplayer/QVNetClient.h>

#include "PageFuzzSupport.h"

namespace {

struct Harness {
  Harness() : game(gamedouble::Build::VReleasePatched) {
    guifuzz::AnswerAssertions();
    if (!game.IsReady()) std::abort();
    DetectGameVersion();
    if (!SelectGameBuild()) std::abort();
    // The client loads its fonts from "/Fonts" of its data folder.
    char folder[] = "/tmp/brindle-chat-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    data = folder;
    std::filesystem::create_directory_symlink(std::filesystem::path(GUI_FONT_DEJAVU).parent_path(), data / "Fonts");
    context.Initialise();
    Vexil3D::MountPhysicalDirectory(context.GetFileSystem(), u"/", text::Utf8ToUtf16(data.string()).c_str());
    client = std::make_unique<CClient>(&context);
    client->Start(&renderer);
    // The faces hold their files open; the folder itself is not needed any more.
    std::filesystem::remove_all(data);
    state = std::make_unique<CMultiplayerState>(nullptr);
    state->m_ChatSink = [this](const char* line) { client->PrintChatLine(line); };
    state->m_pClient = std::make_unique<CQVNetClient>(state.get());
  }
  gamedouble::CGameDouble game;
  std::filesystem::path data;
  Vexil3D::Context context;
  guifuzz::CountingI2D renderer;
  std::unique_ptr<CClient> client;
  std::unique_ptr<CMultiplayerState> state;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness* h = new Harness();
  const PacketHeader header{kPacketMagic, PACKET_CHAT};
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    ++at;
    std::vector<std::uint8_t> packet(sizeof(header) + length);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(&header), sizeof(header), packet.begin());
    std::copy_n(data + at, length, packet.begin() + sizeof(header));
    at += length;
    h->state->m_pClient->ReceivePacket(packet.data(), packet.size());
    h->client->Render();
  }
  return 0;
}
