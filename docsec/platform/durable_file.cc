#include "docsec/platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace docsec {
namespace {

std::string SystemReason(const std::string& what) { return what + ": " + std::strerror(errno); }

// Closes a descriptor on every path out of a function.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a late write error shows here).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A rename or removal is durable only once the directory that records it is on the device.
bool SyncDirectory(const std::string& directory) {
  Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir.get() >= 0 && ::fsync(dir.get()) == 0;
}

std::string Join(const std::string& directory, const std::string& name) {
  return directory + "/" + name;
}

}  // namespace

std::string UserStateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state";
  return std::string();
}

bool MakeDirectories(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "no directory given";
    return false;
  }
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = at == std::string::npos ? path : path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      if (error) *error = SystemReason("cannot create " + part);
      return false;
    }
    if (at == std::string::npos) break;
  }
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (error) *error = path + " is not a directory";
    return false;
  }
  return true;
}

bool WriteFileDurably(const std::string& directory, const std::string& name,
                      const std::string& content, std::string* error) {
  std::string temp = Join(directory, ".tmp-XXXXXX");
  Fd file(::mkstemp(&temp[0]));
  if (file.get() < 0) {
    if (error) *error = SystemReason("cannot create a file in " + directory);
    return false;
  }
  const std::string target = Join(directory, name);
  bool ok = WriteAll(file.get(), content.data(), content.size()) && ::fsync(file.get()) == 0;
  ok = file.Close() && ok;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
    if (error) *error = SystemReason("cannot write " + target);
    ::unlink(temp.c_str());
    return false;
  }
  if (!SyncDirectory(directory)) {
    if (error) *error = SystemReason("cannot flush " + directory);
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& directory, const std::string& name) {
  return ::unlink(Join(directory, name).c_str()) == 0 || errno == ENOENT;
}

bool RenameFileDurably(const std::string& directory, const std::string& from,
                       const std::string& to) {
  if (::rename(Join(directory, from).c_str(), Join(directory, to).c_str()) != 0) return false;
  return SyncDirectory(directory);
}

bool ReadWholeFile(const std::string& path, size_t max_size, std::string* content) {
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return false;
  content->clear();
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (content->size() + static_cast<size_t>(n) > max_size) return false;
    content->append(buffer, static_cast<size_t>(n));
  }
}

bool ListFiles(const std::string& directory, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return false;
  while (dirent* entry = ::readdir(dir)) {
    struct stat info;
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode)) names->push_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(static_cast<int>(fd_));  // closing releases the lock
}

bool DirectoryLock::Acquire(const std::string& directory, const std::string& name,
                            std::string* error) {
  if (fd_ >= 0) return true;
  const std::string path = Join(directory, name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = SystemReason("cannot open " + path);
    return false;
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      if (error) *error = SystemReason("cannot lock " + path);
      ::close(fd);
      return false;
    }
  }
  fd_ = fd;
  return true;
}

}  // namespace docsec
