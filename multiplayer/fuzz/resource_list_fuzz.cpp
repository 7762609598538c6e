// libFuzzer target: a message 9 body, read whole, applied to a fresh resource table over a cache tree whose
// resource "res" holds a script that uses every native in every event; then message 10's three actions on each
// record. Nothing may end the process or leak; the table goes with each input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <base/Stream.h>

#include "client_scripts_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzclient::tClient& client = fuzzclient::Client();
  std::vector<std::uint8_t> bytes(data, data + size);
  auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
  ResourceListMessage list;
  const bool read = ReadResourceList(stream, &list);
  stream->Release();
  if (!read) return 0;
  CClientResources table(client.state.get(), nullptr);
  table.OnResourceList(list);
  for (std::uint8_t action = RESOURCE_STOP; action <= RESOURCE_RESTART; ++action) {
    for (CClientResource* record : table.GetResources()) table.OnResourceState({record->GetNameHash(), action});
  }
  table.OnResourceList(list);
  return 0;
}
