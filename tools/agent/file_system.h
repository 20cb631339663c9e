// File-system access by handle, for programs that serve a directory tree to remote callers (the
// reference agent) and must never be steered outside it.
//
// DirHandle holds an open directory; every operation on it names a single entry inside it and
// never follows a symbolic link, so a path component swapped for a link between two calls makes
// the second call fail instead of going elsewhere. ResolveBeneath walks a list of names from a
// root directory, following symbolic links only while they stay beneath that root. FileHandle is
// an open file. Both handles own their descriptor and close it on destruction; they are movable,
// not copyable.
//
// Failures return false or an empty handle; the reason of the last failure on the calling thread
// is kept (LastFsErrorKind, LastFsErrorText). Thread safety: separate handles may be used from
// separate threads; one handle is used by one thread at a time.
#ifndef DOCSEC_TOOLS_AGENT_FILE_SYSTEM_H_
#define DOCSEC_TOOLS_AGENT_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace docsec::agent {

enum class FileKind { kOther, kRegular, kDirectory, kSymlink };

// A directory entry as the directory itself records it: its name and, where the file system
// keeps it in the directory, its kind (a symbolic link is kSymlink, not what it points at).
// `kind_known` false means the kind must be asked of the entry with StatEntry.
struct DirEntryName {
  std::string name;
  FileKind kind = FileKind::kOther;
  bool kind_known = false;
};

// What stat tells of an entry. Times are seconds since the Unix epoch.
struct FileInfo {
  FileKind kind = FileKind::kOther;
  uint64_t size = 0;
  int64_t modify_time = 0;
  int64_t modify_time_nsec = 0;
  int64_t create_time = 0;  // birth time where the file system keeps one, else the modify time
  uint32_t mode = 0;        // permission bits (07777)
  uint64_t link_count = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
};

// Why the last call on this thread failed.
enum class FsErrorKind {
  kNone,
  kNotFound,   // no such entry
  kExists,     // the entry is there already
  kDenied,     // permission refused
  kWrongKind,  // a symbolic link, a directory or a special file where another kind was needed
  kNoSpace,    // the file system (or the owner's quota) is full
  kOther,
};
FsErrorKind LastFsErrorKind();
std::string LastFsErrorText();
// Forgets the last failure of this thread, so that a later LastFsErrorKind tells of what follows.
void ClearLastFsError();

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Reads until `size` bytes are in or the file ends; the count read, or -1 on error.
  long long ReadFull(void* buffer, size_t size);
  // Writes all `size` bytes; false on error (the file then holds an unknown prefix).
  bool WriteAll(const void* data, size_t size);
  // Moves the read and write position to `offset` bytes from the start.
  bool SeekTo(uint64_t offset);
  // Flushes the file's data and metadata to stable storage.
  bool Sync();
  // Asks the system to start writing bytes [offset, offset + size) to storage without waiting,
  // so that a large file's later flush finds most of it written. Only a hint: errors show in
  // the flush.
  void StartWriteback(uint64_t offset, uint64_t size);
  bool Stat(FileInfo* info) const;
  bool SetMode(uint32_t mode);
  // Changes owner and group; fails without the privilege to do so.
  bool SetOwner(uint32_t owner, uint32_t group);
  // Sets access and modification time to the given moment.
  bool SetModifyTime(int64_t seconds, int64_t nanoseconds);
  void Close();

 private:
  friend class DirHandle;
  explicit FileHandle(int fd) : fd_(fd) {}
  int fd_ = -1;
};

class DirHandle {
 public:
  DirHandle() = default;
  ~DirHandle();
  DirHandle(DirHandle&& other) noexcept;
  DirHandle& operator=(DirHandle&& other) noexcept;
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;

  // Opens the directory at `path` (links in `path` are followed: the path is the operator's
  // choice). An empty handle on failure, with the reason in *error when given.
  static DirHandle Open(const std::string& path, std::string* error);
  // As Open, creating missing directories of `path` with `mode` first.
  static DirHandle OpenOrCreate(const std::string& path, uint32_t mode, std::string* error);

  bool IsOpen() const { return fd_ >= 0; }
  // A second handle on the same directory; empty on failure.
  DirHandle Duplicate() const;
  // The directory's absolute path without links, as it was when opened (for links that name
  // absolute targets). Empty when the system could not tell.
  const std::string& CanonicalPath() const { return canonical_path_; }

  // The names of the entries, without "." and "..", in the order the system returns them.
  bool List(std::vector<std::string>* names) const;
  // As List, with the kind each entry has in the directory, so that a walk need not stat every
  // entry to tell files from folders.
  bool ListWithKinds(std::vector<DirEntryName>* entries) const;
  bool StatSelf(FileInfo* info) const;
  // Stat of entry `name` itself: a symbolic link is reported as kSymlink, not followed.
  bool StatEntry(const std::string& name, FileInfo* info) const;
  bool ReadLink(const std::string& name, std::string* target) const;
  // Opens sub-directory `name`; a symbolic link there is refused (kWrongKind).
  DirHandle OpenSubdirectory(const std::string& name) const;
  // Opens regular file `name` for reading; refuses links and special files without blocking on
  // them (kWrongKind).
  FileHandle OpenForReading(const std::string& name) const;
  // Opens entry `name` (never following a link) only to keep its file alive: a file whose last
  // name goes keeps its storage until this handle closes. Nothing can be read or written through
  // it.
  FileHandle Hold(const std::string& name) const;
  // Creates the new empty file `name` with permission bits `mode`, open for writing; fails with
  // kExists when the name is taken (by anything, a link included).
  FileHandle CreateExclusive(const std::string& name, uint32_t mode) const;
  // Creates a new file without a name in this directory (it vanishes with its last descriptor
  // unless LinkFile names it), open for writing. Fails with kWrongKind where the file system
  // cannot do this; callers then fall back to a named file.
  FileHandle CreateUnnamed(uint32_t mode) const;
  // Gives the open file `file` (made by CreateUnnamed) the name `name` here; fails with kExists
  // when the name is taken.
  bool LinkFile(const FileHandle& file, const std::string& name) const;
  // Renames `from` to `to` in this directory, replacing `to` atomically when it exists.
  bool Rename(const std::string& from, const std::string& to) const;
  // Gives file `from` the second name `to`; fails with kExists when `to` is there already.
  bool LinkNoReplace(const std::string& from, const std::string& to) const;
  // Removes a non-directory entry.
  bool Remove(const std::string& name) const;
  // Flushes the directory itself (entries created, renamed or removed) to stable storage.
  bool Sync() const;
  // Flushes everything written to the file system this directory is on, in one go; fails with
  // the first write-back error since the last such flush, and where the system cannot do this.
  bool SyncFileSystem() const;

 private:
  // openat of plain name `name` here with `flags`, never following a link and closed on exec; the
  // descriptor, or -1 with the failure recorded.
  int OpenEntry(const std::string& name, int flags, uint32_t mode = 0) const;
  DirHandle(int fd, std::string canonical_path)
      : fd_(fd), canonical_path_(std::move(canonical_path)) {}
  int fd_ = -1;
  std::string canonical_path_;
};

enum class ResolveStatus {
  kOk,
  kNotFound,      // an entry on the way does not exist, or a file stands where a folder must
  kEscapes,       // a name that is not a single plain name, or a link leading outside the root
  kTooManyLinks,  // more links than a sane tree needs (a loop)
  kError,         // the system refused, or the tree changed under the walk
};

// Where a walk ended: the directory holding the final entry and the entry's real name there
// (links resolved), and what the entry is. A walk of no names ends at the root itself: `parent`
// is then empty and `name` is empty.
struct ResolvedPath {
  DirHandle parent;
  std::string name;
  FileInfo info;
};

// Walks `names` from `root`. Each name must be a single plain entry name: not empty, not "." or
// "..", without '/' or NUL (anything else is kEscapes). Symbolic links met on the way, the last
// one included, are followed as long as every step stays beneath `root`; a link whose target
// would leave it (by "..", or by an absolute target outside the root's canonical path) gives
// kEscapes even when that target does not exist.
ResolveStatus ResolveBeneath(const DirHandle& root, const std::vector<std::string>& names,
                             ResolvedPath* out);

// Creates a new directory named `prefix` plus a unique suffix (mode 0700), as mkdtemp does, and
// returns its path; empty on failure. For scratch space of tests and tools.
std::string CreateUniqueDirectory(const std::string& prefix);

// Local wall-clock text "yyyy-MM-dd HH:mm:ss" of a moment given in seconds since the Unix epoch.
std::string FormatLocalTime(int64_t seconds);
// Reads local wall-clock text of the form "yyyy-MM-dd HH:mm:ss" (a date alone means midnight);
// false when the text is not of that form or names no real date.
bool ParseLocalTime(const std::string& text, int64_t* seconds);

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_FILE_SYSTEM_H_
