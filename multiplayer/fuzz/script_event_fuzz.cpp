// libFuzzer target: a message 11 body, read whole, fired into the live machine whose resource "res" handles
// "onRace" and the client events by passing what it gets to every native. Script errors are the worst outcome.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <base/Stream.h>

#include "client_scripts_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzclient::tClient& client = fuzzclient::Client();
  static CClientResources* table = [&] {
    auto* resources = new CClientResources(client.state.get(), nullptr);
    ResourceListMessage list;
    list.resources.push_back({"res", true, {{RESOURCE_FILE_SCRIPT, "client.nut", 0, client.scriptCrc}}});
    resources->OnResourceList(list);
    if (resources->GetResources().empty() || !resources->GetResources()[0]->IsRunning()) abort();
    return resources;
  }();
  std::vector<std::uint8_t> bytes(data, data + size);
  auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
  ScriptEventMessage event;
  const bool read = ReadScriptEvent(stream, &event);
  stream->Release();
  if (read) table->OnScriptEvent(event);
  return 0;
}
