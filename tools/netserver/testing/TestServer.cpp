// The test server as a child process: start, line exchange with time-outs, and its end by process id.
#include <netserver/TestServer.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace nettest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kExitGrace = std::chrono::milliseconds(2000);
constexpr auto kExitPoll = std::chrono::milliseconds(5);
constexpr char kHttpLogPrefix[] = "http: ";

}  // namespace

CTestServer::CTestServer(const std::string& files, const std::string& scenario) {
  // A server that died must fail the next command, not end the test process.
  signal(SIGPIPE, SIG_IGN);
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0) return;
  if (pipe(fromChild) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return;
  }
  m_Pid = fork();
  if (m_Pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    if (scenario.empty()) {
      execl(NETSERVER_PATH, NETSERVER_PATH, "--files", files.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(NETSERVER_PATH, NETSERVER_PATH, "--files", files.c_str(), "--scenario", scenario.c_str(),
            static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  m_Input = toChild[1];
  m_Output = fromChild[0];
  if (m_Pid < 0) return;
  const auto deadline = Clock::now() + kStartTimeout;
  std::string line;
  while ((m_EnetPort == 0 || m_HttpPort == 0) && ReadLine(&line, deadline)) {
    if (line.rfind("enet ", 0) == 0) m_EnetPort = std::uint16_t(std::atoi(line.c_str() + 5));
    if (line.rfind("http ", 0) == 0) m_HttpPort = std::uint16_t(std::atoi(line.c_str() + 5));
  }
}

CTestServer::~CTestServer() {
  if (m_Input >= 0) close(m_Input);
  if (m_Pid > 0) {
    kill(m_Pid, SIGTERM);
    const auto deadline = Clock::now() + kExitGrace;
    int status = 0;
    while (waitpid(m_Pid, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) {
        kill(m_Pid, SIGKILL);
        waitpid(m_Pid, &status, 0);
        break;
      }
      usleep(std::chrono::duration_cast<std::chrono::microseconds>(kExitPoll).count());
    }
  }
  if (m_Output >= 0) close(m_Output);
}

bool CTestServer::ReadLine(std::string* line, Clock::time_point deadline) {
  for (;;) {
    const std::size_t end = m_Buffer.find('\n');
    if (end != std::string::npos) {
      *line = m_Buffer.substr(0, end);
      m_Buffer.erase(0, end + 1);
      if (line->rfind(kHttpLogPrefix, 0) == 0) {
        m_HttpLog.push_back(*line);
        continue;
      }
      return true;
    }
    const auto now = Clock::now();
    if (m_Output < 0 || now >= deadline) return false;
    pollfd output{m_Output, POLLIN, 0};
    const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1;
    if (poll(&output, 1, left) <= 0) continue;
    char chunk[512];
    const ssize_t got = read(m_Output, chunk, sizeof chunk);
    if (got <= 0) return false;
    m_Buffer.append(chunk, std::size_t(got));
  }
}

std::string CTestServer::Command(const std::string& line, std::chrono::milliseconds timeout) {
  const std::string text = line + "\n";
  if (m_Input < 0 || write(m_Input, text.data(), text.size()) != ssize_t(text.size())) return "";
  return Reply(timeout);
}

std::string CTestServer::Reply(std::chrono::milliseconds timeout) {
  std::string reply;
  // The server's own wait may take its time-out; the reply comes after it.
  return ReadLine(&reply, Clock::now() + timeout) ? reply : "";
}

}  // namespace nettest
