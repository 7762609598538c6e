// CClientResourceScriptEnvironment: a resource's script environment, its script loading and its file access.
#include <multiplayer/ClientResource.h>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <hack/Messages.h>
#include <platform/text.h>

#include <scripthost/ScriptHost.h>

namespace {

constexpr char16_t kMultiplayerSlot[] = u"Multiplayer";

}  // namespace

bool IsInsideCacheFolder(std::u16string_view resource, std::u16string_view path) {
  const std::u16string root = text::Utf8ToUtf16(kResourceCacheRoot);
  // The whole path with its terminator must fit the file system's buffers.
  if (resource.empty() || path.size() >= CClientResourceScriptEnvironment::kMaxPath) return false;
  if (path.substr(0, root.size()) != root) return false;
  path.remove_prefix(root.size());
  if (path.substr(0, resource.size()) != resource) return false;
  path.remove_prefix(resource.size());
  if (path.empty() || path.front() != u'/') return false;
  path.remove_prefix(1);
  // Every component below the folder: present, no way out of it and nothing the host would read otherwise.
  for (;;) {
    const std::size_t end = std::min(path.find(u'/'), path.size());
    const std::u16string_view component = path.substr(0, end);
    if (component.empty() || component.size() > kMaxPathComponent || component == u"." || component == u".." ||
        IsSpecialHostName(component)) {
      return false;
    }
    for (const char16_t c : component) {
      if (c < u' ' || c == u'\\' || c == u':' || c == 0x7F) return false;
    }
    if (end == path.size()) return true;
    path.remove_prefix(end + 1);
  }
}

CClientResourceScriptEnvironment::CClientResourceScriptEnvironment(CScriptHost* host, CClientResource* resource,
                                                                   const CScriptObjectRef& natives)
    : CScriptEnvironment(host, resource->GetName().c_str()), m_pResource(resource) {
  const HSQUIRRELVM t = GetThread();
  if (t == nullptr) return;
  const SQInteger top = sq_gettop(t);
  sq_pushroottable(t);
  sq_pushstring(t, kMultiplayerSlot, -1);
  natives.Push(t);
  // Raw, as the base part builds the root: no script code runs while an environment is built.
  sq_rawset(t, -3);
  sq_settop(t, top);
}

CStream* CClientResourceScriptEnvironment::OpenFile(const char16_t* path, bool readable, bool writable,
                                                    bool createIfMissing) {
  if (path == nullptr || !IsInsideCacheFolder(m_pResource->GetName(), path)) return nullptr;
  // The base checks the path as the host will see it: the cache folder's host path may be long.
  return CScriptEnvironment::OpenFile(path, readable, writable, createIfMissing);
}

bool CClientResourceScriptEnvironment::LoadScript(const std::u16string& fileName) {
  std::u16string path = text::Utf8ToUtf16(kResourceCacheRoot);
  path.append(m_pResource->GetName()).append(u"/").append(fileName);
  if (path.size() >= kMaxPath) {
    LogConsole("MULTIPLAYER: The script path of %s is too long\n", text::Utf16ToUtf8(fileName).c_str());
    return false;
  }
  const HSQUIRRELVM t = GetThread();
  if (t == nullptr) return false;
  CStream* stream = OpenFile(path.c_str(), true, false, false);
  if (stream == nullptr) return false;

  CScriptHost* host = GetHost();
  CScriptObjectRef closure;
  const SQInteger top = sq_gettop(t);
  host->PushRunningEnvironment(this);
  Enter();
  // Compiled with the environment entered, so its constants land in the environment's table.
  const bool compiled = SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, fileName.c_str()));
  if (compiled) closure.SetFromStack(t, -1);
  sq_settop(t, top + 1);
  Leave();
  host->PopRunningEnvironment();
  sq_settop(t, top);
  stream->Release();
  if (!compiled) return false;
  // A script that raises at its top level has run as far as it got, and its error is reported as every script
  // error is; it counts as loaded, so a cached start and a downloaded one end alike.
  CallHandler(closure, nullptr);
  return true;
}
