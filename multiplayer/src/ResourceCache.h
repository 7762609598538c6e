#pragma once
// The resource records' use of the download cache: whether a file's cached copy is current, and handing a file
// that is not to the connection's downloads.
// Errors: none reported but the console line of a file that cannot be fetched. Locking: game thread only.
#include <cstdint>
#include <string>
#include <string_view>

class CClientResource;
class CQVNetClient;

namespace resourcecache {

// Whether "/UserData/Caches/<resource>/<file>" exists, opens and has the CRC-32.
bool IsCurrent(std::u16string_view resource, std::u16string_view file, std::uint32_t crc);
// Queues the file's download for the resource; false (nothing pending) when it cannot be fetched.
bool QueueDownload(CQVNetClient* client, CClientResource* resource, const std::u16string& file, std::uint32_t size,
                   std::uint32_t crc, bool script);

}  // namespace resourcecache
