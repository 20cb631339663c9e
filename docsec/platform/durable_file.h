// Files that must survive a crash: whole-file writes that leave either the old or the complete new
// content behind, removals and renames that are on disk when the call returns, directory listing,
// and an advisory lock that serialises the processes and threads working in one directory.
//
// Used for records the library may not lose (operation-log entries waiting for the server). All
// functions are thread-safe; a DirectoryLock object is used by one thread.
#ifndef DOCSEC_PLATFORM_DURABLE_FILE_H_
#define DOCSEC_PLATFORM_DURABLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "docsec/platform/export.h"

namespace docsec {

// The user's directory for state that outlives a run: $XDG_STATE_HOME when it is an absolute
// path, else $HOME/.local/state; empty when neither tells. On Windows, %LOCALAPPDATA%.
std::string UserStateDirectory();

// Creates `path` and any missing parent (new directories are private to the user). True when
// `path` is a directory afterwards; false with the system's reason in *error otherwise.
bool MakeDirectories(const std::string& path, std::string* error);

// Replaces `directory`/`name` with `content`: written to a temporary file of the directory, flushed
// to the device, renamed over the name, and the directory flushed, so that after a crash the name
// holds either its old content or all of the new. False with the reason in *error when any step
// fails (the temporary file is removed then).
bool WriteFileDurably(const std::string& directory, const std::string& name,
                      const std::string& content, std::string* error);

// Removes `directory`/`name` without waiting for the device: after a crash the file may be back.
// False when the file could not be removed (a file already gone counts as removed).
bool RemoveFile(const std::string& directory, const std::string& name);

// Renames `directory`/`from` to `directory`/`to` (replacing `to`), then flushes the directory.
bool RenameFileDurably(const std::string& directory, const std::string& from,
                       const std::string& to);

// Reads the whole file at `path` into *content. False when it cannot be opened or read, or holds
// more than `max_size` bytes (*content is then unspecified).
bool ReadWholeFile(const std::string& path, size_t max_size, std::string* content);

// The names of the regular files of `directory`, sorted bytewise. False when the directory cannot
// be read.
bool ListFiles(const std::string& directory, std::vector<std::string>* names);

// An exclusive advisory lock on the file `directory`/`name` (created when missing), held from a
// successful Acquire until the object dies. It excludes other holders of the same file, in this
// process (other threads) and in others.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Waits for the lock. False with the reason in *error when the lock file cannot be opened.
  bool Acquire(const std::string& directory, const std::string& name, std::string* error);

 private:
  // The lock file's descriptor (POSIX) or handle (Windows, pointer-sized); -1 when not held.
  intptr_t fd_ = -1;
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_DURABLE_FILE_H_
