// The agent's own temporary files, and the replacement of a file's content in one step.
//
// New content is written to a file without a name (O_TMPFILE) where the file system allows it,
// and is named only to be renamed over the original at once; elsewhere it goes to a named file
// from the start. Either name is one the agent makes unforgeable: ".~docsec-" followed by a
// random nonce and an HMAC of the nonce and the folder's identity under the agent's key. Users
// may create any name, that prefix included, but not one that verifies, so the agent lists and
// processes every user file and removes only what is its own.
//
// A process killed at any point thus leaves each file with either its old bytes or its complete
// new bytes. The only other copy it can leave is one of the agent's own named files, which
// listings never show and which the next start-up (SweepOwnLeftovers) or the next file operation
// in that folder (RemoveOwnLeftovers) removes.
//
// Thread safety: TempNames is immutable after construction. A ReplacementFile is used by one
// thread. Callers serialise the removal of leftovers with every operation that makes temporaries
// (the agent does all of it under its file-operation lock).
#ifndef DOCSEC_TOOLS_AGENT_REPLACEMENT_FILE_H_
#define DOCSEC_TOOLS_AGENT_REPLACEMENT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/agent/file_system.h"
#include "tools/agent/sealed_file.h"

namespace docsec::agent {

class RetiredFiles;

class TempNames {
 public:
  // Keeps a copy of the agent's key (kFileKeySize bytes), wiped on destruction.
  explicit TempNames(const uint8_t* key);
  ~TempNames();
  TempNames(const TempNames&) = delete;
  TempNames& operator=(const TempNames&) = delete;

  // A fresh name for a temporary in the folder that `folder` describes; empty when no random
  // bytes could be had.
  std::string NewName(const FileInfo& folder) const;
  // True when `name` is one this agent made in that folder.
  bool IsOurs(const std::string& name, const FileInfo& folder) const;
  // False for every name IsOurs refuses without looking further (no prefix, wrong length); a
  // cheap first test before the folder's identity is fetched.
  static bool MayBeOurs(const std::string& name);

 private:
  std::string Mac(const std::string& nonce_hex, const FileInfo& folder) const;
  uint8_t key_[kFileKeySize];
};

// New content for file `name` of a folder, put in its place by Commit.
class ReplacementFile {
 public:
  // `allow_unnamed` false always writes to a named file (as on file systems without unnamed
  // files).
  ReplacementFile(const DirHandle& dir, const uint8_t* key, bool allow_unnamed = true);
  // Removes a named temporary that was not committed.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Makes the empty file (mode 0600), open for writing; false on failure (LastFsErrorKind says
  // why).
  bool Create();
  FileHandle& file() { return file_; }
  // The name of the temporary while one exists; empty for an unnamed file.
  const std::string& temporary_name() const { return temp_name_; }

  // Gives the new file the permissions and owner of `before`, flushes it, and renames it over
  // `name` when that is still the file `before` describes (kChanged otherwise). kNoSpace or
  // kIoError when a step fails; the original is then untouched.
  SealResult Commit(const std::string& name, const FileInfo& before);

  // The steps of Commit, for files made durable together (ReplacementGroup): TakeOver gives the
  // file the permissions and owner of `before`; Flush puts its data and metadata on stable
  // storage; Install renames it over `name` when that is still the file `before` describes,
  // without flushing the folder. Install only after Flush: a crash must never find the new name
  // on content that is not stored yet.
  SealResult TakeOver(const std::string& name, const FileInfo& before);
  SealResult Flush();
  // When `retire_to` is given, the file replaced is closed there rather than freed inside the
  // rename.
  SealResult Install(const std::string& name, const FileInfo& before,
                     RetiredFiles* retire_to = nullptr);
  // The folder the file is in, as Create found it.
  const FileInfo& folder() const { return folder_; }

 private:
  const DirHandle& dir_;
  TempNames names_;
  bool allow_unnamed_;
  FileInfo folder_;
  FileHandle file_;
  std::string temp_name_;
};

// kNoSpace when the last file-system failure of this thread was a full disk, else kIoError.
SealResult FailedWriteResult();

// Removes the agent's own temporaries from folder `dir`; returns how many went.
size_t RemoveOwnLeftovers(const DirHandle& dir, const TempNames& names);
// The same for every folder beneath `root` (links are not followed); returns how many went.
size_t SweepOwnLeftovers(const DirHandle& root, const TempNames& names);

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_REPLACEMENT_FILE_H_
