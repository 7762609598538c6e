// Files and directories over POSIX: case-insensitive path mapping, handles, find, attributes and times.
#include <platform/files.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <vector>

#include <platform/errors.h>
#include <platform/text.h>

#include "handles.h"

using namespace platform::detail;

namespace platform::detail {

namespace {

bool IsRegularDescriptor(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

FileObject::FileObject(int descriptor, bool owns, bool read, bool write)
    : HandleObject(HandleKind::File),
      fd(descriptor),
      ownsDescriptor(owns),
      readable(read),
      writable(write),
      regularFile(IsRegularDescriptor(descriptor)) {}

FileObject::~FileObject() {
  if (ownsDescriptor && fd >= 0) ::close(fd);
}

}  // namespace platform::detail

namespace {

// ---------------------------------------------------------------------------
// Path mapping

bool EqualsNoCase(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i)
    if (text::ToLowerAscii(a[i]) != text::ToLowerAscii(b[i])) return false;
  return true;
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The entry of `directory` whose name equals `name` with ASCII case folding; of
// several, the smallest name, so that the choice does not depend on listing order.
bool FindNoCase(const std::string& directory, const std::string& name, std::string& found) {
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return false;
  bool any = false;
  while (dirent* entry = ::readdir(dir)) {
    if (EqualsNoCase(name, entry->d_name) && (!any || found.compare(entry->d_name) > 0)) {
      found = entry->d_name;
      any = true;
    }
  }
  ::closedir(dir);
  return any;
}

constexpr std::size_t kDriveLetters = 'Z' - 'A' + 1;

// The drive table: the host directory each letter stands for ("" for the host root).
struct DriveTable {
  std::mutex lock;
  std::string directories[kDriveLetters];
};
DriveTable& Drives() {
  static DriveTable* table = new DriveTable;
  return *table;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
std::size_t DriveIndex(char c) { return std::size_t((c >= 'a' ? c - 'a' : c - 'A')); }

// Windows path (UTF-8) to host path: separators become "/", a drive prefix
// stands for its mapped directory or the root, and missing components are
// matched case-insensitively.
std::string MapPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() >= 2 && path[1] == ':' && IsDriveLetter(path[0])) {
    std::string directory;
    {
      DriveTable& drives = Drives();
      std::lock_guard<std::mutex> guard(drives.lock);
      directory = drives.directories[DriveIndex(path[0])];
    }
    path.erase(0, 2);
    if (!directory.empty()) {
      if (!path.empty() && path[0] != '/') directory += '/';
      path = directory + path;
    }
    if (path.empty()) path = ".";
  }
  if (path.empty() || Exists(path)) return path;

  // Walk the components; from the first that is missing even without case, the
  // rest cannot exist and is kept as written.
  std::string result;
  std::size_t position = 0;
  if (path[0] == '/') {
    result = "/";
    position = 1;
  }
  bool matching = true;
  while (position <= path.size()) {
    std::size_t end = path.find('/', position);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(position, end - position);
    if (!component.empty()) {
      const std::string directory = result;
      std::string candidate = directory;
      if (!candidate.empty() && candidate.back() != '/') candidate += '/';
      if (matching && component != "." && component != ".." && !Exists(candidate + component)) {
        std::string found;
        if (FindNoCase(directory, component, found)) {
          candidate += found;
        } else {
          candidate += component;
          matching = false;
        }
      } else {
        candidate += component;
      }
      result = std::move(candidate);
    }
    if (end == path.size()) {
      if (!path.empty() && path.back() == '/' && (result.empty() || result.back() != '/')) result += '/';
      break;
    }
    position = end + 1;
  }
  return result;
}

std::string HostPath(LPCWSTR path) { return MapPath(text::Utf16ToUtf8(path)); }

std::string ParentOf(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

// ENOENT names the file when its directory exists, else the path.
DWORD MissingError(const std::string& path) {
  return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

void SetErrorForPath(int error, const std::string& path) {
  if (error == ENOENT)
    SetLastError(MissingError(path));
  else
    platform::SetLastErrorFromErrno(error);
}

// ---------------------------------------------------------------------------
// File times: 100-ns intervals since 1601-01-01.

constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;

FILETIME ToFileTime(const timespec& time) {
  std::int64_t ticks = (static_cast<std::int64_t>(time.tv_sec) + kEpochDifferenceSeconds) * 10000000LL +
                       time.tv_nsec / 100;
  if (ticks < 0) ticks = 0;
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
  result.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return result;
}

timespec FromFileTime(const FILETIME* time) {
  timespec result{0, UTIME_OMIT};
  if (time == nullptr) return result;
  const std::uint64_t ticks = (std::uint64_t{time->dwHighDateTime} << 32) | time->dwLowDateTime;
  // 0 leaves the time alone, as does all ones (which on Windows stops updates).
  if (ticks == 0 || ticks == ~std::uint64_t{0}) return result;
  const std::int64_t signedTicks = static_cast<std::int64_t>(ticks);
  result.tv_sec = static_cast<time_t>(signedTicks / 10000000LL - kEpochDifferenceSeconds);
  result.tv_nsec = static_cast<long>(signedTicks % 10000000LL) * 100;
  return result;
}

DWORD AttributesOf(const struct stat& info) {
  DWORD attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((info.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return attributes;
}

std::shared_ptr<FileObject> LookupFile(HANDLE handle) { return Lookup<FileObject>(handle, HandleKind::File); }

// ---------------------------------------------------------------------------
// Enumeration

struct FindObject : HandleObject {
  FindObject() : HandleObject(HandleKind::Find) {}
  std::mutex mutex;
  std::vector<WIN32_FIND_DATAW> entries;
  std::size_t next = 0;
};

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  // Iterative match with one back-track point for the last "*".
  std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || text::ToLowerAscii(pattern[p]) == text::ToLowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool FillFindData(const std::string& directory, const char* name, WIN32_FIND_DATAW& data) {
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(name));
  if (wide.size() >= MAX_PATH) return false;
  std::string full = directory;
  if (full.back() != '/') full += '/';
  full += name;
  struct stat info;
  if (::stat(full.c_str(), &info) != 0 && ::lstat(full.c_str(), &info) != 0) return false;
  std::memset(&data, 0, sizeof(data));
  data.dwFileAttributes = AttributesOf(info);
  data.ftCreationTime = ToFileTime(info.st_ctim);
  data.ftLastAccessTime = ToFileTime(info.st_atim);
  data.ftLastWriteTime = ToFileTime(info.st_mtim);
  if (!S_ISDIR(info.st_mode)) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
  }
  std::copy(wide.begin(), wide.end(), data.cFileName);
  data.cFileName[wide.size()] = 0;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening, reading and writing

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/, LPSECURITY_ATTRIBUTES /*attributes*/,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (fileName == nullptr || templateFile != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (fileName[0] == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // GENERIC_* rights and the specific FILE_READ_DATA (1), FILE_WRITE_DATA (2), FILE_APPEND_DATA (4).
  const bool read = (desiredAccess & (GENERIC_READ | GENERIC_ALL | 0x1)) != 0;
  const bool write = (desiredAccess & (GENERIC_WRITE | GENERIC_ALL | 0x2 | 0x4)) != 0;
  if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
      (creationDisposition == TRUNCATE_EXISTING && !write)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (flagsAndAttributes & FILE_FLAG_OVERLAPPED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }

  const std::string path = HostPath(fileName);
  const int accessFlags = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  const bool mayCreate = creationDisposition != OPEN_EXISTING && creationDisposition != TRUNCATE_EXISTING;
  const mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

  int fd = -1;
  bool existed = false;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
      existed = true;
      if (creationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      if (S_ISDIR(info.st_mode) && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      // The read-only attribute is the owner write bit; honour it even for root.
      const bool truncates = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
      if ((write || truncates) && !S_ISDIR(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      int flags = (S_ISDIR(info.st_mode) ? O_RDONLY : accessFlags) | O_CLOEXEC;
      if (truncates && !S_ISDIR(info.st_mode)) flags |= O_TRUNC;
      do {
        fd = ::open(path.c_str(), flags);
      } while (fd < 0 && errno == EINTR);
      if (fd < 0 && errno == ENOENT && mayCreate) continue;  // removed meanwhile: try again
      if (fd < 0) {
        SetErrorForPath(errno, path);
        return INVALID_HANDLE_VALUE;
      }
    } else if (errno != ENOENT || !mayCreate) {
      SetErrorForPath(errno, path);
      return INVALID_HANDLE_VALUE;
    } else {
      existed = false;
      do {
        fd = ::open(path.c_str(), accessFlags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      } while (fd < 0 && errno == EINTR);
      if (fd < 0 && errno == EEXIST && creationDisposition != CREATE_NEW) continue;  // appeared meanwhile
      if (fd < 0) {
        if (errno == EEXIST)
          SetLastError(ERROR_FILE_EXISTS);
        else if (errno == ENOENT || errno == ENOTDIR)
          SetLastError(ERROR_PATH_NOT_FOUND);
        else
          platform::SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
      }
    }
  }
  if (fd < 0) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }

  HANDLE handle = InsertHandle(std::make_shared<FileObject>(fd, true, read, write));
  if (handle == nullptr) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  // Overwriting takes the attributes asked for, as a new file does.
  if (creationDisposition == CREATE_ALWAYS && existed && (flagsAndAttributes & FILE_ATTRIBUTE_READONLY)) {
    struct stat info;
    if (::fstat(fd, &info) == 0)
      ::fchmod(fd, info.st_mode & 07777 & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH));
  }
  const bool reportsExisting = creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
  SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead, LPOVERLAPPED overlapped) {
  if (bytesRead != nullptr) *bytesRead = 0;
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && bytesToRead != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!object->readable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const bool regular = object->regularFile;
  auto* bytes = static_cast<unsigned char*>(buffer);
  DWORD done = 0;
  while (done < bytesToRead) {
    const ssize_t got = ::read(object->fd, bytes + done, bytesToRead - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (bytesRead != nullptr) *bytesRead = done;
      // A pipe whose writer has gone reads as ERROR_BROKEN_PIPE on Windows.
      platform::SetLastErrorFromErrno(errno == EISDIR ? EACCES : errno);
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
    // Pipes and terminals give what they have; only files are read to the full count.
    if (!regular) break;
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, LPOVERLAPPED overlapped) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && bytesToWrite != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!object->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // Standard output written through stdio must come out first.
  if (!object->ownsDescriptor && object->fd == 1) std::fflush(stdout);
  if (!object->ownsDescriptor && object->fd == 2) std::fflush(stderr);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  DWORD done = 0;
  while (done < bytesToWrite) {
    const ssize_t put = ::write(object->fd, bytes + done, bytesToWrite - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (bytesWritten != nullptr) *bytesWritten = done;
      platform::SetLastErrorFromErrno(errno);
      return FALSE;
    }
    if (put == 0) {
      if (bytesWritten != nullptr) *bytesWritten = done;
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    done += static_cast<DWORD>(put);
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove, LARGE_INTEGER* newFilePointer, DWORD moveMethod) {
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  // Never hand other origins to lseek: 3 and 4 are SEEK_DATA and SEEK_HOLE here.
  int whence;
  switch (moveMethod) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  const std::int64_t distance = distanceToMove.QuadPart;
  if (whence == SEEK_SET && distance < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return FALSE;
  }
  // One call: the host refuses a negative result (EINVAL) and leaves the position.
  const off_t result = ::lseek(object->fd, static_cast<off_t>(distance), whence);
  if (result < 0) {
    if (errno == EINVAL && distance < 0)
      SetLastError(ERROR_NEGATIVE_SEEK);
    else if (errno == EINVAL || errno == EOVERFLOW)
      SetLastError(ERROR_INVALID_PARAMETER);
    else
      platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (newFilePointer != nullptr) newFilePointer->QuadPart = result;
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* fileSize) {
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  if (fileSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat info;
  if (::fstat(object->fd, &info) != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  fileSize->QuadPart = S_ISREG(info.st_mode) ? info.st_size : 0;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  if (!object->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const off_t position = ::lseek(object->fd, 0, SEEK_CUR);
  int result;
  do {
    result = position < 0 ? -1 : ::ftruncate(object->fd, position);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  if (!object->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::fsync(object->fd) != 0 && errno != EINVAL && errno != EROFS) {
    // Pipes and terminals (EINVAL) have nothing to flush.
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL GetFileTime(HANDLE file, FILETIME* creationTime, FILETIME* lastAccessTime, FILETIME* lastWriteTime) {
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  struct stat info;
  if (::fstat(object->fd, &info) != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (creationTime != nullptr) *creationTime = ToFileTime(info.st_ctim);
  if (lastAccessTime != nullptr) *lastAccessTime = ToFileTime(info.st_atim);
  if (lastWriteTime != nullptr) *lastWriteTime = ToFileTime(info.st_mtim);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* /*creationTime*/, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime) {
  std::shared_ptr<FileObject> object = LookupFile(file);
  if (!object) return FALSE;
  if (!object->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const timespec times[2] = {FromFileTime(lastAccessTime), FromFileTime(lastWriteTime)};
  if (::futimens(object->fd, times) != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Names

DWORD GetFileAttributesW(LPCWSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string path = HostPath(fileName);
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    SetErrorForPath(path.empty() ? ENOENT : errno, path);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(info);
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD fileAttributes) {
  if (fileName == nullptr || fileAttributes == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = HostPath(fileName);
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    SetErrorForPath(errno, path);
    return FALSE;
  }
  mode_t mode = info.st_mode & 07777;
  if (fileAttributes & FILE_ATTRIBUTE_READONLY)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  if (mode != (info.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) {
    SetErrorForPath(errno, path);
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES /*attributes*/) {
  if (pathName == nullptr || pathName[0] == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const std::string path = HostPath(pathName);
  if (::mkdir(path.c_str(), 0777) != 0) {
    if (errno == EEXIST)
      SetLastError(ERROR_ALREADY_EXISTS);
    else if (errno == ENOENT || errno == ENOTDIR)
      SetLastError(ERROR_PATH_NOT_FOUND);
    else
      platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
  if (pathName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = HostPath(pathName);
  if (::rmdir(path.c_str()) != 0) {
    if (errno == ENOTDIR)
      SetLastError(ERROR_DIRECTORY);
    else if (errno == ENOTEMPTY || errno == EEXIST)
      SetLastError(ERROR_DIR_NOT_EMPTY);
    else
      SetErrorForPath(errno, path);
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
  if (existingFileName == nullptr || newFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string from = HostPath(existingFileName);
  const std::string to = HostPath(newFileName);
  struct stat info;
  if (::lstat(from.c_str(), &info) != 0) {
    SetErrorForPath(errno, from);
    return FALSE;
  }
  struct stat target;
  if (::lstat(to.c_str(), &target) == 0) {
    // Windows never replaces a directory, and replaces a file only when asked to.
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 || S_ISDIR(target.st_mode) || S_ISDIR(info.st_mode)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
  }
  if (::rename(from.c_str(), to.c_str()) != 0) {
    SetErrorForPath(errno, to);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = HostPath(fileName);
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    SetErrorForPath(errno, path);
    return FALSE;
  }
  // Windows refuses to delete directories and read-only files.
  if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::unlink(path.c_str()) != 0) {
    SetErrorForPath(errno, path);
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Enumeration

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  if (fileName == nullptr || findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string_view name(fileName);
  std::size_t split = name.find_last_of(u"\\/");
  std::u16string directoryPart;
  std::u16string_view pattern;
  if (split == std::u16string_view::npos) {
    // "C:name" lists the root here; a bare name lists the current directory.
    if (name.size() >= 2 && name[1] == u':') {
      directoryPart = std::u16string(name.substr(0, 2));
      pattern = name.substr(2);
    } else {
      directoryPart.assign(1, u'.');
      pattern = name;
    }
  } else {
    // A root ("\", "C:\") keeps its separator.
    const bool root = split == 0 || (split == 2 && name[1] == u':');
    directoryPart = std::u16string(name.substr(0, root ? split + 1 : split));
    pattern = name.substr(split + 1);
  }
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // "*.*" stands for every name, dotted or not.
  const std::u16string_view effective = (pattern == u"*.*") ? std::u16string_view(u"*") : pattern;

  const std::string directory = HostPath(directoryPart.c_str());
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : platform::Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<FindObject>();
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::u16string wide = text::Utf8ToUtf16(std::string_view(entry->d_name));
    if (!WildcardMatch(effective, wide)) continue;
    WIN32_FIND_DATAW data;
    if (FillFindData(directory, entry->d_name, data)) find->entries.push_back(data);
  }
  ::closedir(dir);
  if (find->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A stable order, as the listing order of the host is arbitrary.
  std::sort(find->entries.begin(), find->entries.end(), [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
    return std::u16string_view(a.cFileName) < std::u16string_view(b.cFileName);
  });
  *findData = find->entries[0];
  find->next = 1;
  HANDLE handle = InsertHandle(find);
  if (handle == nullptr) return INVALID_HANDLE_VALUE;
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) {
  std::shared_ptr<FindObject> find = Lookup<FindObject>(findFile, HandleKind::Find);
  if (!find) return FALSE;
  if (findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(find->mutex);
  if (find->next >= find->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *findData = find->entries[find->next++];
  return TRUE;
}

BOOL FindClose(HANDLE findFile) {
  if (!Lookup<FindObject>(findFile, HandleKind::Find)) return FALSE;
  return CloseHandle(findFile);
}

BOOL PathFileExistsW(LPCWSTR path) {
  if (path == nullptr) return FALSE;
  const std::string host = HostPath(path);
  struct stat info;
  return !host.empty() && ::stat(host.c_str(), &info) == 0 ? TRUE : FALSE;
}

BOOL PathIsDirectoryW(LPCWSTR path) {
  if (path == nullptr) return FALSE;
  const std::string host = HostPath(path);
  return !host.empty() && IsDirectory(host) ? static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY) : FALSE;
}

int SHCreateDirectoryExW(HWND /*window*/, LPCWSTR path, const SECURITY_ATTRIBUTES* /*attributes*/) {
  auto result = [](DWORD code) {
    SetLastError(code);
    return static_cast<int>(code);
  };
  if (path == nullptr || path[0] == 0) return result(ERROR_BAD_PATHNAME);
  std::string host = HostPath(path);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  struct stat info;
  if (::stat(host.c_str(), &info) == 0)
    return result(S_ISDIR(info.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS);

  // Create each missing directory from the root down.
  std::size_t position = host[0] == '/' ? 1 : 0;
  for (;;) {
    const std::size_t slash = host.find('/', position);
    const std::string prefix = host.substr(0, slash);
    if (!prefix.empty() && prefix != "/" && ::mkdir(prefix.c_str(), 0777) != 0) {
      const int error = errno;
      if (error == EEXIST) {
        if (!IsDirectory(prefix))
          return result(slash == std::string::npos ? ERROR_FILE_EXISTS : ERROR_PATH_NOT_FOUND);
      } else if (error == ENOENT || error == ENOTDIR) {
        return result(ERROR_PATH_NOT_FOUND);
      } else {
        return result(platform::Win32ErrorFromErrno(error));
      }
    }
    if (slash == std::string::npos) break;
    position = slash + 1;
  }
  return result(ERROR_SUCCESS);
}

DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer) {
  std::vector<char> host(PATH_MAX);
  while (::getcwd(host.data(), host.size()) == nullptr) {
    if (errno != ERANGE) {
      platform::SetLastErrorFromErrno(errno);
      return 0;
    }
    host.resize(host.size() * 2);
  }
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(host.data()));
  const DWORD needed = static_cast<DWORD>(wide.size() + 1);
  if (buffer == nullptr || bufferLength < needed) return needed;
  std::copy(wide.begin(), wide.end(), buffer);
  buffer[wide.size()] = 0;
  return needed - 1;
}

namespace platform {

std::string ToHostPath(LPCWSTR path) {
  if (path == nullptr) return std::string();
  return HostPath(path);
}

}  // namespace platform

namespace platform {

BOOL MapDriveLetter(char16_t letter, LPCWSTR hostDirectory) {
  if (letter > 0x7F || !IsDriveLetter(char(letter))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string directory = hostDirectory != nullptr ? text::Utf16ToUtf8(hostDirectory) : std::string();
  // "X:\" joins the rest with one separator.
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  DriveTable& drives = Drives();
  std::lock_guard<std::mutex> guard(drives.lock);
  drives.directories[DriveIndex(char(letter))] = std::move(directory);
  return TRUE;
}

}  // namespace platform
