// A resource file's download: the URL, the user agent, the libcurl transfer and the checks before a file counts.
#include <multiplayer/Downloads.h>

#include <curl/curl.h>
#include <zlib.h>

#include <cstdio>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <base/StringRoutines.h>
#include <hack/Messages.h>
#include <platform/files.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>

#include <multiplayer/QVNetClient.h>

#include "DownloadCache.h"

namespace {

constexpr char kProductToken[] = "QuorvantModLauncher/1.0.12";
constexpr char kCertificateFile[] = "cacert.pem";
constexpr char kFilePath[] = "/clientfile?";
constexpr long kHttpOk = 200;
// Redirects: only to HTTP or HTTPS, and only a few.
constexpr char kRedirectProtocols[] = "http,https";
constexpr long kMaxRedirects = 5;
// A server that does not answer, or sends less than a byte a second for this long, fails the file.
constexpr long kConnectTimeoutMs = 10000;
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kLowSpeedSeconds = 30;
constexpr std::uint32_t kMaxNarrowChar = 0xFF;
constexpr char16_t kTemporarySuffix[] = u".part";
constexpr char kNonLatinCharacterError[] =
    "An attempt was made to copy a string into a buffer of a type that does not support a character in the "
    "string.";

using IsWow64ProcessFn = BOOL (*)(HANDLE, BOOL*);

bool IsWow64() {
  HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
  if (kernel32 == nullptr) return false;
  auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(GetProcAddress(kernel32, "IsWow64Process"));
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64 != FALSE;
}

// Bytes of one character each; false for a character above 0xFF.
bool Narrow(std::u16string_view text, std::string* out) {
  out->clear();
  for (const char16_t c : text) {
    if (c > kMaxNarrowChar) return false;
    out->push_back(char(c));
  }
  return true;
}

bool AppendEscaped(std::u16string_view text, std::string* url, tTaskContext* task) {
  std::string narrow;
  if (!Narrow(text, &narrow)) {
    if (task != nullptr) task->AddError(kNonLatinCharacterError);
    return false;
  }
  char* escaped = curl_easy_escape(nullptr, narrow.data(), int(narrow.size()));
  if (escaped == nullptr) return false;
  url->append(escaped);
  curl_free(escaped);
  return true;
}

// A job-unique temporary name beside the cache file: two jobs of one file (a cancelled one still ending while
// its successor runs) never share it.
std::u16string TemporaryPathOf(const std::u16string& host, const void* job) {
  char tag[2 * sizeof(void*) + 2];
  std::snprintf(tag, sizeof tag, "~%zx", std::size_t(job));
  return host + text::Utf8ToUtf16(tag) + kTemporarySuffix;
}

}  // namespace

bool BuildDownloadUrl(std::u16string_view host, std::uint16_t port, std::u16string_view resource,
                      std::u16string_view file, std::string* url, tTaskContext* task) {
  std::string narrowHost;
  if (!Narrow(host, &narrowHost)) {
    if (task != nullptr) task->AddError(kNonLatinCharacterError);
    return false;
  }
  const bool bracketed = narrowHost.find(':') != std::string::npos;
  *url = "http://";
  *url += bracketed ? "[" + narrowHost + "]" : narrowHost;
  *url += ":" + std::to_string(port) + "/";
  if (!AppendEscaped(resource, url, task)) return false;
  *url += kFilePath;
  if (!AppendEscaped(file, url, task)) return false;
  return url->size() <= CClientFile::kMaxUrlLength;
}

std::string BuildUserAgent() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetWindowsVersion(&version)) version = OSVERSIONINFOW{};
  const char* suffix = "";
  if (IsWow64()) {
    suffix = "; WOW64";
  } else {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) suffix = "; Win64; x64";
    if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64) suffix = "; Win64; IA64";
  }
  char agent[CClientFile::kMaxUrlLength];
  std::snprintf(agent, sizeof agent, "%s (Windows NT %u.%u%s)", kProductToken, unsigned(version.dwMajorVersion),
                unsigned(version.dwMinorVersion), suffix);
  return agent;
}

// ---- CClientFile ----------------------------------------------------------------------------------------------------

CClientFile::CClientFile(CServerInfo* info, CClientResourceBase* resource, std::u16string fileName,
                         std::uint32_t size, std::uint32_t crc)
    : m_pResource(resource),
      m_pInfo(info),
      m_ResourceName(resource != nullptr ? resource->GetName() : std::u16string()),
      m_FileName(std::move(fileName)),
      m_StopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_Size(size),
      m_Crc(crc) {}

CClientFile::~CClientFile() { CloseHandle(m_StopEvent); }

bool CClientFile::Prepare() {
  if (m_pInfo != nullptr) m_pInfo->CountShare(&m_Share, m_Size);
  return true;
}

void CClientFile::Cancel(bool finished) {
  SetEvent(m_StopEvent);
  // A finished file has settled its share already; an unfinished one is taken out now (again by its thread,
  // which is harmless: the share goes once).
  if (!finished) TakeOutShare();
}

bool CClientFile::IsCancelled() const { return WaitForSingleObject(m_StopEvent, 0) == WAIT_OBJECT_0; }

void CClientFile::TakeOutShare() {
  if (m_pInfo != nullptr) m_pInfo->TakeOutShare(&m_Share, m_Size);
}

std::uint32_t CClientFile::GetProgress() const {
  tLockGuard guard(m_Lock);
  return m_Progress;
}

void CClientFile::Load() {
  m_Ok = false;
  std::u16string cachePath, host, url16;
  std::string url;
  const bool named = MakeCachePath(m_ResourceName, m_FileName, &cachePath);
  const std::u16string hostName = m_pInfo != nullptr ? m_pInfo->GetHost() : std::u16string();
  const std::uint16_t port = m_pInfo != nullptr ? m_pInfo->GetPort() : 0;
  // The loading thread's own task context: what it collects goes to the console, never to a fatal report.
  tTaskContext task;
  if (!BuildDownloadUrl(hostName, port, m_ResourceName, m_FileName, &url, &task)) {
    task.ForEachError([](const char* error) { LogConsole("%s\n", error); });
    url = text::Utf16ToUtf8(m_FileName);
  }
  if (named && cache::HostPathOf(cachePath, true, &host)) {
    // An older copy goes first: a file that fails leaves nothing behind that a later start could run.
    DeleteFileW(host.c_str());
    const std::u16string temporary = TemporaryPathOf(host, this);
    const std::u16string folder = host.substr(0, host.find_last_of(u"\\/"));
    if (temporary.size() < CFileSystem::kMaxPath && cache::MakeHostFolders(folder)) {
      m_pStream = cache::CreateHostFileQuietly(temporary);
    }
    if (m_pStream != nullptr) {
      const bool whole = !IsCancelled() && Transfer(url) && m_pStream->Flush();
      m_pStream->Release();
      m_pStream = nullptr;
      m_Ok = whole && !IsCancelled() && MoveFileExW(temporary.c_str(), host.c_str(), MOVEFILE_REPLACE_EXISTING);
      if (!m_Ok) DeleteFileW(temporary.c_str());
    }
  }
  if (m_Ok) return;
  LogConsole("Unable to download %s\n", url.c_str());
  TakeOutShare();
}

bool CClientFile::Transfer(const std::string& url) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;
  m_Written = 0;
  m_RunningCrc = std::uint32_t(crc32(0L, Z_NULL, 0));
  m_TooLong = false;
  const std::string agent = BuildUserAgent();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CClientFile::OnWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, kCertificateFile);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kRedirectProtocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kRedirectProtocols);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CClientFile::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  // Signals would reach the game's threads: time-outs work without them.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return result == CURLE_OK && status == kHttpOk && !m_TooLong && m_Written == m_Size && m_RunningCrc == m_Crc;
}

std::size_t CClientFile::OnWrite(char* data, std::size_t size, std::size_t count, void* file) {
  auto* self = static_cast<CClientFile*>(file);
  const std::uint64_t bytes = std::uint64_t(size) * count;
  // More than announced: the transfer stops here (a short count makes libcurl fail it).
  if (self->m_Written + bytes > self->m_Size) {
    self->m_TooLong = true;
    return 0;
  }
  const std::uint32_t written = self->m_pStream->Write(data, 1, std::uint32_t(bytes));
  self->m_Written += written;
  self->m_RunningCrc = std::uint32_t(crc32(self->m_RunningCrc, reinterpret_cast<const Bytef*>(data), written));
  // The share lives under the server info's lock alone, so both counts and the share move together.
  if (self->m_pInfo != nullptr) self->m_pInfo->AddToShare(&self->m_Share, written);
  return written;
}

int CClientFile::OnProgress(void* file, std::int64_t, std::int64_t received, std::int64_t, std::int64_t) {
  auto* self = static_cast<CClientFile*>(file);
  if (self->IsCancelled() || self->m_pResource == nullptr || !self->m_pResource->IsRunning()) return 1;
  tLockGuard guard(self->m_Lock);
  self->m_Progress = std::uint32_t(std::min<std::int64_t>(received, self->m_Size));
  return 0;
}

void CClientFile::OnLoaded() {
  if (IsCancelled() || m_pResource == nullptr) return;
  m_pResource->OnFileDelivered(m_FileName, m_Ok);
}

void CClientScriptFile::OnLoaded() {
  if (IsCancelled() || m_pResource == nullptr) return;
  m_pResource->OnScriptDelivered(GetFileName(), Succeeded());
}
