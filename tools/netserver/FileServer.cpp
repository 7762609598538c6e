// The test server's HTTP file server over libmicrohttpd, with its fault modes.
#include "FileServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include <microhttpd.h>

namespace netserver {

namespace {

constexpr char kFilePath[] = "/clientfile";
constexpr char kRedirectPrefix[] = "/moved";
constexpr std::size_t kSlowPiece = 64;
constexpr auto kSlowPause = std::chrono::milliseconds(20);
constexpr auto kStallStep = std::chrono::milliseconds(10);

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

// What a callback-served body sends: the bytes, where it stops early, and how; the file's key for a held body.
struct Body {
  CFileServer* server;
  std::vector<char> bytes;
  Fault fault;
  std::string key;
};

ssize_t ReadBody(void* context, std::uint64_t position, char* buffer, std::size_t room) {
  auto* body = static_cast<Body*>(context);
  const std::size_t half = body->bytes.size() / 2;
  if (body->fault == Fault::Truncated && position >= half) return MHD_CONTENT_READER_END_WITH_ERROR;
  if (body->fault == Fault::Stalled && position >= half) {
    while (!body->server->Stopping()) std::this_thread::sleep_for(kStallStep);
    return MHD_CONTENT_READER_END_WITH_ERROR;
  }
  // A held body goes on as begun once its file is served otherwise: the client sees one slow transfer.
  if (body->fault == Fault::Held && position == half) {
    while (body->server->FaultOf(body->key) == Fault::Held) {
      if (body->server->Stopping()) return MHD_CONTENT_READER_END_WITH_ERROR;
      std::this_thread::sleep_for(kStallStep);
    }
  }
  if (position >= body->bytes.size()) return MHD_CONTENT_READER_END_OF_STREAM;
  std::size_t count = std::min(room, body->bytes.size() - std::size_t(position));
  const bool stopsAtHalf =
      body->fault == Fault::Truncated || body->fault == Fault::Stalled || body->fault == Fault::Held;
  if (stopsAtHalf && position < half && count > half - position) {
    count = half - std::size_t(position);
  }
  if (body->fault == Fault::Slow) {
    count = std::min(count, kSlowPiece);
    std::this_thread::sleep_for(kSlowPause);
  }
  std::memcpy(buffer, body->bytes.data() + position, count);
  return ssize_t(count);
}

void FreeBody(void* context) { delete static_cast<Body*>(context); }

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& text) {
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result Answer(void* self, MHD_Connection* connection, const char*, const char* method, const char*, const char*,
                  std::size_t*, void** state) {
  if (std::strcmp(method, "GET") != 0) return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET only\n");
  const auto* uri = static_cast<std::string*>(*state);
  return static_cast<CFileServer*>(self)->Serve(connection, uri != nullptr ? *uri : std::string()) ? MHD_YES : MHD_NO;
}

void* KeepUri(void*, const char* uri, MHD_Connection*) { return new std::string(uri != nullptr ? uri : ""); }

void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<std::string*>(*state);
  *state = nullptr;
}

}  // namespace

bool ParseFault(const std::string& name, Fault* fault) {
  static const std::map<std::string, Fault> kNames = {
      {"none", Fault::None},    {"404", Fault::NotFound},      {"500", Fault::ServerError},
      {"short", Fault::Short},  {"long", Fault::Long},         {"truncated", Fault::Truncated},
      {"slow", Fault::Slow},    {"stalled", Fault::Stalled},   {"held", Fault::Held},
      {"crc", Fault::WrongCrc}, {"redirect", Fault::Redirect},
  };
  const auto found = kNames.find(name);
  if (found == kNames.end()) return false;
  *fault = found->second;
  return true;
}

CFileServer::~CFileServer() {
  m_Stopping = true;
  if (m_pDaemon != nullptr) MHD_stop_daemon(m_pDaemon);
}

bool CFileServer::Start(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  m_pDaemon = MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr,
                               &Answer, this, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_URI_LOG_CALLBACK, &KeepUri,
                               this, MHD_OPTION_NOTIFY_COMPLETED, &Completed, this, MHD_OPTION_END);
  if (m_pDaemon == nullptr) return false;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(m_pDaemon, MHD_DAEMON_INFO_BIND_PORT);
  m_Port = info != nullptr ? info->port : 0;
  return m_Port != 0;
}

void CFileServer::SetFault(const std::string& key, Fault fault) {
  std::lock_guard<std::mutex> guard(m_Lock);
  m_Faults[key] = fault;
}

Fault CFileServer::FaultOf(const std::string& key) {
  std::lock_guard<std::mutex> guard(m_Lock);
  const auto found = m_Faults.find(key);
  return found == m_Faults.end() ? Fault::None : found->second;
}

bool CFileServer::Serve(MHD_Connection* connection, const std::string& uri) {
  const std::size_t mark = uri.find('?');
  std::string path = uri.substr(0, mark);
  const std::string query = mark == std::string::npos ? "" : uri.substr(mark + 1);
  const char* agent = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_USER_AGENT);
  {
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Log("http: asked for " + path + "?" + query + " by " + (agent != nullptr ? agent : "no user agent"));
  }
  const bool redirected = path.rfind(kRedirectPrefix, 0) == 0 && path.size() > std::strlen(kRedirectPrefix) &&
                          path[std::strlen(kRedirectPrefix)] == '/';
  if (redirected) path.erase(0, std::strlen(kRedirectPrefix));
  // "/<resource>/clientfile"
  const std::size_t tail = path.rfind(kFilePath);
  if (path.size() < 2 || tail == std::string::npos || tail + std::strlen(kFilePath) != path.size() || tail < 2) {
    return Reply(connection, MHD_HTTP_NOT_FOUND, "no such path\n") == MHD_YES;
  }
  const std::string resource = Unescape(path.substr(1, tail - 1));
  const std::string file = Unescape(query);
  if (resource.find('/') != std::string::npos || file.find('/') != std::string::npos || resource == ".." ||
      file == ".." || file.empty()) {
    return Reply(connection, MHD_HTTP_NOT_FOUND, "refused\n") == MHD_YES;
  }
  const std::string key = resource + "/" + file;
  const Fault fault = redirected ? Fault::None : FaultOf(key);
  switch (fault) {
    case Fault::NotFound:
      return Reply(connection, MHD_HTTP_NOT_FOUND, "not found\n") == MHD_YES;
    case Fault::ServerError:
      return Reply(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "failed\n") == MHD_YES;
    case Fault::Redirect: {
      MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
      MHD_add_response_header(response, MHD_HTTP_HEADER_LOCATION, (kRedirectPrefix + uri).c_str());
      const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_FOUND, response);
      MHD_destroy_response(response);
      return result == MHD_YES;
    }
    default:
      break;
  }
  std::ifstream in(m_Root + "/" + resource + "/" + file, std::ios::binary);
  if (!in) return Reply(connection, MHD_HTTP_NOT_FOUND, "no such file\n") == MHD_YES;
  auto body = std::make_unique<Body>();
  body->server = this;
  body->fault = fault;
  body->key = key;
  body->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (fault == Fault::Short && !body->bytes.empty()) body->bytes.pop_back();
  if (fault == Fault::Long) body->bytes.push_back('+');
  if (fault == Fault::WrongCrc && !body->bytes.empty()) body->bytes[0] = char(body->bytes[0] ^ 0x20);
  const std::uint64_t length = body->bytes.size();
  MHD_Response* response =
      MHD_create_response_from_callback(length, kSlowPiece * 16, &ReadBody, body.release(), &FreeBody);
  const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result == MHD_YES;
}

}  // namespace netserver
