#pragma once
// The loopback test server as a child process: started with pipes on its standard input and output, its ENet
// and HTTP ports read from its first lines, driven by line commands, ended by its process id. Every wait has a
// time-out, so a hung server fails the test instead of hanging it.
//
// Errors: a server that did not start answers Started() false; a command that got no reply answers "". A
// server that died makes later writes fail (SIGPIPE is ignored) rather than end the test. Locking: none; one
// thread drives one server.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace nettest {

class CTestServer {
 public:
  static constexpr std::chrono::milliseconds kReplyTimeout{10000};

  // Starts the server (files: the HTTP server's directory; scenario: a file of commands it runs instead of
  // reading them from the test). Started() tells whether both ports came.
  explicit CTestServer(const std::string& files = ".", const std::string& scenario = "");
  ~CTestServer();
  CTestServer(const CTestServer&) = delete;
  CTestServer& operator=(const CTestServer&) = delete;

  bool Started() const { return m_EnetPort != 0 && m_HttpPort != 0; }
  std::uint16_t EnetPort() const { return m_EnetPort; }
  std::uint16_t HttpPort() const { return m_HttpPort; }
  pid_t Pid() const { return m_Pid; }

  // Sends one command line and answers the server's reply line ("" when none came in time). The HTTP server's
  // log lines that come meanwhile are kept in HttpLog. With a scenario, Reply reads the next reply alone.
  std::string Command(const std::string& line, std::chrono::milliseconds timeout = kReplyTimeout);
  std::string Reply(std::chrono::milliseconds timeout = kReplyTimeout);
  const std::vector<std::string>& HttpLog() const { return m_HttpLog; }

 private:
  // The next line of output other than a log line; false after the time-out or at the end of output.
  bool ReadLine(std::string* line, std::chrono::steady_clock::time_point deadline);

  pid_t m_Pid = -1;
  int m_Input = -1;
  int m_Output = -1;
  std::string m_Buffer;
  std::vector<std::string> m_HttpLog;
  std::uint16_t m_EnetPort = 0;
  std::uint16_t m_HttpPort = 0;
};

}  // namespace nettest
