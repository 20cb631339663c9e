#include "tools/agent/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <utility>

#include "docsec/platform/ole_date_time.h"

namespace docsec::agent {
namespace {

thread_local FsErrorKind tls_error_kind = FsErrorKind::kNone;
thread_local int tls_errno = 0;

// Records errno `err` as the reason of the current failure; always returns false so callers can
// `return Fail(errno);`.
bool Fail(int err) {
  tls_errno = err;
  switch (err) {
    case ENOENT: tls_error_kind = FsErrorKind::kNotFound; break;
    case EEXIST:
    case ENOTEMPTY: tls_error_kind = FsErrorKind::kExists; break;
    case EACCES:
    case EPERM:
    case EROFS: tls_error_kind = FsErrorKind::kDenied; break;
    case ENOSPC:
    case EDQUOT: tls_error_kind = FsErrorKind::kNoSpace; break;
    case ELOOP:
    case ENOTDIR:
    case EISDIR:
    case ENXIO:
    case EINVAL: tls_error_kind = FsErrorKind::kWrongKind; break;
    default: tls_error_kind = FsErrorKind::kOther; break;
  }
  return false;
}

bool FailWrongKind() {
  Fail(EINVAL);
  tls_error_kind = FsErrorKind::kWrongKind;
  return false;
}

// A single entry name: no separators, no NUL, not "." or "..".
bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISLNK(mode)) return FileKind::kSymlink;
  return FileKind::kOther;
}

// statx gives the birth time where the file system keeps one; plain stat is the fallback.
bool StatAt(int dirfd, const char* name, int flags, FileInfo* info) {
  struct statx sx;
  if (statx(dirfd, name, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) ==
      0) {
    info->kind = KindOfMode(sx.stx_mode);
    info->size = sx.stx_size;
    info->modify_time = sx.stx_mtime.tv_sec;
    info->modify_time_nsec = sx.stx_mtime.tv_nsec;
    info->create_time = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
    info->mode = sx.stx_mode & 07777;
    info->link_count = sx.stx_nlink;
    info->device = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    info->inode = sx.stx_ino;
    info->owner = sx.stx_uid;
    info->group = sx.stx_gid;
    return true;
  }
  if (errno != ENOSYS) return Fail(errno);
  struct stat st;
  if (fstatat(dirfd, name, &st, flags) != 0) return Fail(errno);
  info->kind = KindOfMode(st.st_mode);
  info->size = static_cast<uint64_t>(st.st_size);
  info->modify_time = st.st_mtim.tv_sec;
  info->modify_time_nsec = st.st_mtim.tv_nsec;
  info->create_time = st.st_mtim.tv_sec;
  info->mode = st.st_mode & 07777;
  info->link_count = st.st_nlink;
  info->device = st.st_dev;
  info->inode = st.st_ino;
  info->owner = st.st_uid;
  info->group = st.st_gid;
  return true;
}

// The absolute path of an open descriptor, as the kernel names it; empty when unknown.
std::string PathOfDescriptor(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink(link, buffer, PATH_MAX);
  if (n <= 0 || buffer[0] != '/') return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

void CloseFd(int* fd) {
  if (*fd >= 0) {
    close(*fd);  // the descriptor is gone whatever close reports
    *fd = -1;
  }
}

std::vector<std::string> SplitLinkTarget(const std::string& target) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= target.size()) {
    size_t slash = target.find('/', start);
    if (slash == std::string::npos) slash = target.size();
    if (slash > start) parts.push_back(target.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

}  // namespace

FsErrorKind LastFsErrorKind() { return tls_error_kind; }

void ClearLastFsError() {
  tls_error_kind = FsErrorKind::kNone;
  tls_errno = 0;
}

std::string LastFsErrorText() {
  if (tls_error_kind == FsErrorKind::kNone) return std::string();
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be in `buffer`.
  const char* text = strerror_r(tls_errno, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("unknown error");
}

// ---- FileHandle ----

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void FileHandle::Close() { CloseFd(&fd_); }

long long FileHandle::ReadFull(void* buffer, size_t size) {
  if (fd_ < 0) {
    Fail(EBADF);
    return -1;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd_, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

bool FileHandle::WriteAll(const void* data, size_t size) {
  if (fd_ < 0) return Fail(EBADF);
  const auto* in = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd_, in + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(EIO);
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FileHandle::SeekTo(uint64_t offset) {
  if (fd_ < 0) return Fail(EBADF);
  if (offset > static_cast<uint64_t>(INT64_MAX)) return Fail(EINVAL);
  return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0 ? true : Fail(errno);
}

bool FileHandle::Sync() {
  if (fd_ < 0) return Fail(EBADF);
  return fsync(fd_) == 0 ? true : Fail(errno);
}

void FileHandle::StartWriteback(uint64_t offset, uint64_t size) {
  if (fd_ >= 0) {
    sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(size),
                    SYNC_FILE_RANGE_WRITE);
  }
}

bool FileHandle::Stat(FileInfo* info) const {
  if (fd_ < 0) return Fail(EBADF);
  return StatAt(fd_, "", AT_EMPTY_PATH, info);
}

bool FileHandle::SetMode(uint32_t mode) {
  if (fd_ < 0) return Fail(EBADF);
  return fchmod(fd_, static_cast<mode_t>(mode & 07777)) == 0 ? true : Fail(errno);
}

bool FileHandle::SetOwner(uint32_t owner, uint32_t group) {
  if (fd_ < 0) return Fail(EBADF);
  return fchown(fd_, static_cast<uid_t>(owner), static_cast<gid_t>(group)) == 0 ? true
                                                                                : Fail(errno);
}

bool FileHandle::SetModifyTime(int64_t seconds, int64_t nanoseconds) {
  if (fd_ < 0) return Fail(EBADF);
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = static_cast<long>(nanoseconds);
  times[1] = times[0];
  return futimens(fd_, times) == 0 ? true : Fail(errno);
}

// ---- DirHandle ----

DirHandle::~DirHandle() { CloseFd(&fd_); }

DirHandle::DirHandle(DirHandle&& other) noexcept
    : fd_(other.fd_), canonical_path_(std::move(other.canonical_path_)) {
  other.fd_ = -1;
}

DirHandle& DirHandle::operator=(DirHandle&& other) noexcept {
  if (this != &other) {
    CloseFd(&fd_);
    fd_ = other.fd_;
    canonical_path_ = std::move(other.canonical_path_);
    other.fd_ = -1;
  }
  return *this;
}

DirHandle DirHandle::Open(const std::string& path, std::string* error) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    Fail(ENOENT);
    if (error) *error = "empty or invalid directory path";
    return DirHandle();
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    if (error) *error = path + ": " + LastFsErrorText();
    return DirHandle();
  }
  std::string canonical = PathOfDescriptor(fd);
  if (canonical.empty()) {
    // Without /proc, realpath gives the same answer, only not atomically with the open.
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved != nullptr) {
      canonical = resolved;
      free(resolved);
    }
  }
  return DirHandle(fd, std::move(canonical));
}

DirHandle DirHandle::OpenOrCreate(const std::string& path, uint32_t mode, std::string* error) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    Fail(ENOENT);
    if (error) *error = "empty or invalid directory path";
    return DirHandle();
  }
  // Create each missing level in turn; an existing one (of any kind) is left to Open to judge.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), static_cast<mode_t>(mode)) != 0 &&
        errno != EEXIST) {
      Fail(errno);
      if (error) *error = prefix + ": " + LastFsErrorText();
      return DirHandle();
    }
    if (slash == std::string::npos) break;
  }
  return Open(path, error);
}

DirHandle DirHandle::Duplicate() const {
  if (fd_ < 0) {
    Fail(EBADF);
    return DirHandle();
  }
  int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno);
    return DirHandle();
  }
  return DirHandle(fd, canonical_path_);
}

namespace {

// Reads every entry of the directory open as `dir_fd` from its start, without "." and "..",
// handing each to `take`; the descriptor stays the caller's.
template <class Take>
bool ReadEntries(int dir_fd, Take&& take) {
  if (dir_fd < 0) return Fail(EBADF);
  // fdopendir takes over its descriptor, so it gets a fresh one on the same directory, read from
  // the start.
  int fd = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    int err = errno;
    close(fd);
    return Fail(err);
  }
  bool ok = true;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) ok = Fail(errno);
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    take(*entry);
  }
  closedir(dir);
  return ok;
}

}  // namespace

bool DirHandle::List(std::vector<std::string>* names) const {
  names->clear();
  return ReadEntries(fd_,
                     [names](const struct dirent& entry) { names->emplace_back(entry.d_name); });
}

bool DirHandle::ListWithKinds(std::vector<DirEntryName>* entries) const {
  entries->clear();
  return ReadEntries(fd_, [entries](const struct dirent& entry) {
    DirEntryName& out = entries->emplace_back();
    out.name = entry.d_name;
    out.kind_known = true;
    switch (entry.d_type) {
      case DT_REG: out.kind = FileKind::kRegular; break;
      case DT_DIR: out.kind = FileKind::kDirectory; break;
      case DT_LNK: out.kind = FileKind::kSymlink; break;
      case DT_UNKNOWN: out.kind_known = false; break;
      default: out.kind = FileKind::kOther; break;
    }
  });
}

bool DirHandle::StatSelf(FileInfo* info) const {
  if (fd_ < 0) return Fail(EBADF);
  return StatAt(fd_, "", AT_EMPTY_PATH, info);
}

bool DirHandle::StatEntry(const std::string& name, FileInfo* info) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(name)) return FailWrongKind();
  return StatAt(fd_, name.c_str(), AT_SYMLINK_NOFOLLOW, info);
}

bool DirHandle::ReadLink(const std::string& name, std::string* target) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(name)) return FailWrongKind();
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = readlinkat(fd_, name.c_str(), buffer.data(), buffer.size());
    if (n < 0) return Fail(errno);
    if (static_cast<size_t>(n) < buffer.size()) {
      target->assign(buffer.data(), static_cast<size_t>(n));
      return true;
    }
    if (buffer.size() >= 65536) return Fail(ENAMETOOLONG);
    buffer.resize(buffer.size() * 4);
  }
}

int DirHandle::OpenEntry(const std::string& name, int flags, uint32_t mode) const {
  if (fd_ < 0) {
    Fail(EBADF);
    return -1;
  }
  if (!IsPlainName(name)) {
    FailWrongKind();
    return -1;
  }
  // Never through a link at the name itself: links are reported, not followed.
  const int fd =
      openat(fd_, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) Fail(errno);
  return fd;
}

DirHandle DirHandle::OpenSubdirectory(const std::string& name) const {
  const int fd = OpenEntry(name, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return DirHandle();
  std::string canonical =
      canonical_path_.empty()
          ? std::string()
          : (canonical_path_ == "/" ? "/" + name : canonical_path_ + "/" + name);
  return DirHandle(fd, std::move(canonical));
}

FileHandle DirHandle::OpenForReading(const std::string& name) const {
  // O_NONBLOCK keeps a FIFO from stalling the open; the kind is checked on the open descriptor.
  const int fd = OpenEntry(name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FileHandle();
  FileHandle file(fd);
  FileInfo info;
  if (!file.Stat(&info)) return FileHandle();
  if (info.kind != FileKind::kRegular) {
    FailWrongKind();
    return FileHandle();
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Fail(errno);
    return FileHandle();
  }
  return file;
}

FileHandle DirHandle::Hold(const std::string& name) const {
  const int fd = OpenEntry(name, O_PATH);
  if (fd < 0) return FileHandle();
  return FileHandle(fd);
}

FileHandle DirHandle::CreateExclusive(const std::string& name, uint32_t mode) const {
  const int fd = OpenEntry(name, O_WRONLY | O_CREAT | O_EXCL, mode & 0777);
  if (fd < 0) return FileHandle();
  return FileHandle(fd);
}

FileHandle DirHandle::CreateUnnamed(uint32_t mode) const {
  if (fd_ < 0) {
    Fail(EBADF);
    return FileHandle();
  }
  int fd = openat(fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode & 0777));
  if (fd < 0) {
    // Kernels and file systems without unnamed files answer in several ways.
    int err = errno;
    if (err == EOPNOTSUPP || err == EISDIR || err == EINVAL) {
      FailWrongKind();
    } else {
      Fail(err);
    }
    return FileHandle();
  }
  return FileHandle(fd);
}

bool DirHandle::LinkFile(const FileHandle& file, const std::string& name) const {
  if (fd_ < 0 || file.fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(name)) return FailWrongKind();
  // Linking a descriptor itself needs a privilege; its /proc name does not.
  if (linkat(file.fd_, "", fd_, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return Fail(errno);
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", file.fd_);
  return linkat(AT_FDCWD, path, fd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? true : Fail(errno);
}

bool DirHandle::Rename(const std::string& from, const std::string& to) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(from) || !IsPlainName(to)) return FailWrongKind();
  return renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 ? true : Fail(errno);
}

bool DirHandle::LinkNoReplace(const std::string& from, const std::string& to) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(from) || !IsPlainName(to)) return FailWrongKind();
  return linkat(fd_, from.c_str(), fd_, to.c_str(), 0) == 0 ? true : Fail(errno);
}

bool DirHandle::Remove(const std::string& name) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(name)) return FailWrongKind();
  return unlinkat(fd_, name.c_str(), 0) == 0 ? true : Fail(errno);
}

bool DirHandle::Sync() const {
  if (fd_ < 0) return Fail(EBADF);
  return fsync(fd_) == 0 ? true : Fail(errno);
}

bool DirHandle::SyncFileSystem() const {
  if (fd_ < 0) return Fail(EBADF);
#ifdef __linux__
  return syncfs(fd_) == 0 ? true : Fail(errno);
#else
  return FailWrongKind();
#endif
}

// ---- ResolveBeneath ----

ResolveStatus ResolveBeneath(const DirHandle& root, const std::vector<std::string>& names,
                             ResolvedPath* out) {
  constexpr int kMaxLinks = 40;
  constexpr size_t kMaxSteps = 4096;
  *out = ResolvedPath();
  for (const std::string& name : names) {
    if (!IsPlainName(name)) return ResolveStatus::kEscapes;
  }
  // stack[0] is the root; stack[i] is entry stack_names[i] of stack[i - 1].
  std::vector<DirHandle> stack;
  std::vector<std::string> stack_names;
  stack.push_back(root.Duplicate());
  stack_names.emplace_back();
  if (!stack.back().IsOpen()) return ResolveStatus::kError;

  std::deque<std::string> pending(names.begin(), names.end());
  int links = 0;
  size_t steps = 0;
  bool ends_in_file = false;  // the last name met was a non-directory
  std::string file_name;
  FileInfo file_info;

  while (!pending.empty()) {
    if (++steps > kMaxSteps) return ResolveStatus::kTooManyLinks;
    std::string name = std::move(pending.front());
    pending.pop_front();
    // Only a link target can bring "." or "..", and nothing may follow a file.
    if (ends_in_file) return ResolveStatus::kNotFound;
    if (name == ".") continue;
    if (name == "..") {
      if (stack.size() == 1) return ResolveStatus::kEscapes;
      stack.pop_back();
      stack_names.pop_back();
      continue;
    }
    const DirHandle& current = stack.back();
    FileInfo info;
    if (!current.StatEntry(name, &info)) {
      return LastFsErrorKind() == FsErrorKind::kNotFound ? ResolveStatus::kNotFound
                                                         : ResolveStatus::kError;
    }
    if (info.kind == FileKind::kSymlink) {
      if (++links > kMaxLinks) return ResolveStatus::kTooManyLinks;
      std::string target;
      if (!current.ReadLink(name, &target)) return ResolveStatus::kError;
      if (target.empty()) return ResolveStatus::kNotFound;
      if (target.find('\0') != std::string::npos) return ResolveStatus::kEscapes;
      if (target[0] == '/') {
        // An absolute target is followed only when it lies under the root's own path.
        const std::string& base = root.CanonicalPath();
        if (base.empty()) return ResolveStatus::kEscapes;
        std::string rest;
        if (base == "/") {
          rest = target;
        } else if (target.compare(0, base.size(), base) == 0 &&
                   (target.size() == base.size() || target[base.size()] == '/')) {
          rest = target.substr(base.size());
        } else {
          return ResolveStatus::kEscapes;
        }
        stack.resize(1);
        stack_names.resize(1);
        target = rest;
      }
      std::vector<std::string> parts = SplitLinkTarget(target);
      pending.insert(pending.begin(), parts.begin(), parts.end());
      continue;
    }
    if (info.kind == FileKind::kDirectory) {
      DirHandle sub = current.OpenSubdirectory(name);
      // A directory that turned into something else since the stat: the tree moved, give up.
      if (!sub.IsOpen()) return ResolveStatus::kError;
      stack.push_back(std::move(sub));
      stack_names.push_back(name);
      continue;
    }
    ends_in_file = true;
    file_name = name;
    file_info = info;
  }

  if (ends_in_file) {
    out->parent = std::move(stack.back());
    out->name = file_name;
    out->info = file_info;
    return ResolveStatus::kOk;
  }
  if (!stack.back().StatSelf(&out->info)) return ResolveStatus::kError;
  if (stack.size() == 1) return ResolveStatus::kOk;  // the root itself
  out->name = stack_names.back();
  out->parent = std::move(stack[stack.size() - 2]);
  return ResolveStatus::kOk;
}

std::string CreateUniqueDirectory(const std::string& prefix) {
  std::string pattern = prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    Fail(errno);
    return std::string();
  }
  return std::string(buffer.data());
}

// ---- local time ----

std::string FormatLocalTime(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return "1970-01-01 00:00:00";
  // The one text form of local times, shared with the attribute store.
  OleDateTime when(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min, local.tm_sec);
  return when.IsValid() ? when.Format() : "1970-01-01 00:00:00";
}

bool ParseLocalTime(const std::string& text, int64_t* seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n %2d:%2d:%2d%n", &year, &month, &day, &used,
                           &hour, &minute, &second, &used);
  if (fields != 3 && fields != 6) return false;
  if (static_cast<size_t>(used) != text.size()) return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
      hour < 0 || minute < 0 || second < 0 || year < 1601) {
    return false;
  }
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  time_t t = mktime(&local);
  if (t == static_cast<time_t>(-1) && !(year == 1969 && month == 12 && day == 31)) return false;
  // mktime normalises 31 February into March; such a date is no date.
  if (local.tm_mday != day || local.tm_mon != month - 1) return false;
  *seconds = static_cast<int64_t>(t);
  return true;
}

}  // namespace docsec::agent
