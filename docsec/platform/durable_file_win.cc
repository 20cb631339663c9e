// Windows twin of durable_file.cc. Paths are UTF-8 and go to the system's wide-character calls;
// both '/' and '\\' separate folders.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "docsec/platform/crypto.h"
#include "docsec/platform/durable_file.h"
#include "docsec/platform/text.h"

namespace docsec {
namespace {

std::wstring Wide(const std::string& path) {
  std::u16string wide = Utf8ToUtf16(path.data(), path.size());
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text) {
  std::u16string wide(text, text + wcslen(text));
  return Utf16ToUtf8(wide.data(), wide.size());
}

std::string SystemReason(const std::string& what) {
  return what + ": error " + std::to_string(GetLastError());
}

std::string Join(const std::string& directory, const std::string& name) {
  return directory + "\\" + name;
}

// Closes a handle on every path out of a function.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, data, piece, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

// The rename is written through to the device before the call returns, which covers the
// directory entry as well.
bool MoveDurably(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string UserStateDirectory() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local != nullptr && local[0] != L'\0') return Narrow(local);
  return std::string();
}

bool MakeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "no directory given";
    return false;
  }
  // The first part is a drive or a share and is never created.
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && !IsSeparator(path[at])) continue;
    const std::string part = path.substr(0, at);
    if (part.size() == 2 && part[1] == ':') continue;
    if (!CreateDirectoryW(Wide(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      if (error) *error = SystemReason("cannot create " + part);
      return false;
    }
  }
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (error) *error = path + " is not a directory";
    return false;
  }
  return true;
}

bool WriteFileDurably(const std::string& directory, const std::string& name,
                      const std::string& content, std::string* error) {
  std::string temp;
  HANDLE created = INVALID_HANDLE_VALUE;
  // A fresh random name each try; CREATE_NEW refuses one that exists.
  for (int attempt = 0; attempt < 16 && created == INVALID_HANDLE_VALUE; ++attempt) {
    uint8_t random[6];
    if (!RandomBytes(random, sizeof random)) break;
    char hex[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i) {
      std::snprintf(hex + 2 * i, 3, "%02x", random[i]);
    }
    temp = Join(directory, ".tmp-" + std::string(hex));
    created = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  Handle file(created);
  if (!file.ok()) {
    if (error) *error = SystemReason("cannot create a file in " + directory);
    return false;
  }
  const std::string target = Join(directory, name);
  bool ok = WriteAll(file.get(), content.data(), content.size()) && FlushFileBuffers(file.get());
  ok = file.Close() && ok;
  if (!ok || !MoveDurably(temp, target)) {
    if (error) *error = SystemReason("cannot write " + target);
    DeleteFileW(Wide(temp).c_str());
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& directory, const std::string& name) {
  if (DeleteFileW(Wide(Join(directory, name)).c_str())) return true;
  DWORD reason = GetLastError();
  return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND;
}

bool RenameFileDurably(const std::string& directory, const std::string& from,
                       const std::string& to) {
  return MoveDurably(Join(directory, from), Join(directory, to));
}

bool ReadWholeFile(const std::string& path, size_t max_size, std::string* content) {
  Handle file(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  content->clear();
  char buffer[16384];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return false;
    if (n == 0) return true;
    if (content->size() + n > max_size) return false;
    content->append(buffer, n);
  }
}

bool ListFiles(const std::string& directory, std::vector<std::string>* names) {
  names->clear();
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(Wide(Join(directory, "*")).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    // An empty folder has no entry at all only when it is a root; elsewhere "." is found.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const DWORD skip =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((entry.dwFileAttributes & skip) == 0) names->push_back(Narrow(entry.cFileName));
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names->begin(), names->end());
  return true;
}

DirectoryLock::~DirectoryLock() {
  // Closing the handle releases the lock.
  if (fd_ != -1) CloseHandle(reinterpret_cast<HANDLE>(fd_));
}

bool DirectoryLock::Acquire(const std::string& directory, const std::string& name,
                            std::string* error) {
  if (fd_ != -1) return true;
  const std::string path = Join(directory, name);
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error) *error = SystemReason("cannot open " + path);
    return false;
  }
  // Locks on Windows belong to the handle, so threads holding separate objects exclude each
  // other just as processes do.
  OVERLAPPED whole = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    if (error) *error = SystemReason("cannot lock " + path);
    CloseHandle(file);
    return false;
  }
  fd_ = reinterpret_cast<intptr_t>(file);
  return true;
}

}  // namespace docsec
