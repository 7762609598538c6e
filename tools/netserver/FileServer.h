#pragma once
// The test server's HTTP file server: "/<resource>/clientfile?<file>" serves <root>/<resource>/<file> with its
// true length, on an ephemeral port of 127.0.0.1, with a fault mode per file. Every request is logged as one
// line "http: asked for <path>?<query> by <user agent>" through the log function.
//
// Errors: Start answers false when the daemon cannot start. Unknown files answer 404.
// Threads: the daemon serves each connection on a thread of its own; faults and the log take one lock.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

struct MHD_Daemon;
struct MHD_Connection;

namespace netserver {

enum class Fault {
  None,
  NotFound,     // status 404
  ServerError,  // status 500
  Short,        // one byte fewer than the file holds, honest length
  Long,         // one byte more, honest length
  Truncated,    // the true length announced, the connection closed after half
  Slow,         // small pieces with pauses between them
  Stalled,      // half the body, then nothing until the server stops
  Held,         // half the body, then the rest once the file's fault is changed (or nothing until the server stops)
  WrongCrc,     // same size, one byte changed
  Redirect,     // 302 to a second path that serves the file
};
// "404", "500", "short", "long", "truncated", "slow", "stalled", "held", "crc", "redirect", "none".
bool ParseFault(const std::string& name, Fault* fault);

class CFileServer {
 public:
  using LogFunction = std::function<void(const std::string& line)>;
  CFileServer(std::string root, LogFunction log) : m_Root(std::move(root)), m_Log(std::move(log)) {}
  ~CFileServer();

  // Listens on the port (0: any free one).
  bool Start(std::uint16_t port = 0);
  std::uint16_t Port() const { return m_Port; }
  // key: "<resource>/<file>"
  void SetFault(const std::string& key, Fault fault);
  Fault FaultOf(const std::string& key);
  const std::string& Root() const { return m_Root; }

  // The daemon's callbacks (FileServer.cpp): a request by its raw URI; whether the server is stopping.
  bool Serve(MHD_Connection* connection, const std::string& uri);
  bool Stopping() const { return m_Stopping; }

 private:
  std::string m_Root;
  LogFunction m_Log;
  MHD_Daemon* m_pDaemon = nullptr;
  std::uint16_t m_Port = 0;
  std::mutex m_Lock;
  std::map<std::string, Fault> m_Faults;
  std::atomic<bool> m_Stopping{false};
};

}  // namespace netserver
