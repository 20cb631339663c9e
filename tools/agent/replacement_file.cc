#include "tools/agent/replacement_file.h"

#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "docsec/platform/crypto.h"
#include "docsec/platform/trace.h"
#include "tools/agent/file_crypto.h"
#include "tools/agent/retired_files.h"

namespace docsec::agent {
namespace {

constexpr char kPrefix[] = ".~docsec-";
constexpr size_t kPrefixSize = sizeof kPrefix - 1;
constexpr size_t kNonceBytes = 12;
constexpr size_t kMacBytes = 12;
constexpr size_t kNameSize = kPrefixSize + 2 * (kNonceBytes + kMacBytes);
constexpr int kMaxSweepDepth = 64;

void PutLe64(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

void Sweep(const DirHandle& dir, const TempNames& names, int depth,
           std::set<std::pair<uint64_t, uint64_t>>* visited, size_t* removed) {
  FileInfo self;
  if (!dir.StatSelf(&self) || !visited->insert({self.device, self.inode}).second) return;
  *removed += RemoveOwnLeftovers(dir, names);
  if (depth >= kMaxSweepDepth) return;
  std::vector<std::string> entries;
  if (!dir.List(&entries)) return;
  for (const std::string& entry : entries) {
    FileInfo info;
    if (!dir.StatEntry(entry, &info) || info.kind != FileKind::kDirectory) continue;
    DirHandle sub = dir.OpenSubdirectory(entry);
    if (sub.IsOpen()) Sweep(sub, names, depth + 1, visited, removed);
  }
}

}  // namespace

SealResult FailedWriteResult() {
  return LastFsErrorKind() == FsErrorKind::kNoSpace ? SealResult::kNoSpace : SealResult::kIoError;
}

// ---- TempNames ----

TempNames::TempNames(const uint8_t* key) { std::memcpy(key_, key, sizeof key_); }

TempNames::~TempNames() {
  volatile uint8_t* p = key_;
  for (size_t i = 0; i < sizeof key_; ++i) p[i] = 0;
}

std::string TempNames::Mac(const std::string& nonce_hex, const FileInfo& folder) const {
  // The folder's identity is in the MAC, so a leftover's name copied elsewhere is not ours there.
  uint8_t data[16 + 2 * kNonceBytes];
  PutLe64(data, folder.device);
  PutLe64(data + 8, folder.inode);
  std::memcpy(data + 16, nonce_hex.data(), 2 * kNonceBytes);
  uint8_t mac[kHmacSha256Size];
  if (!HmacSha256(key_, sizeof key_, data, sizeof data, mac)) return std::string();
  return ToHex(mac, kMacBytes);
}

std::string TempNames::NewName(const FileInfo& folder) const {
  uint8_t nonce[kNonceBytes];
  if (!RandomBytes(nonce, sizeof nonce)) return std::string();
  std::string nonce_hex = ToHex(nonce, sizeof nonce);
  std::string mac = Mac(nonce_hex, folder);
  if (mac.empty()) return std::string();
  return kPrefix + nonce_hex + mac;
}

bool TempNames::MayBeOurs(const std::string& name) {
  return name.size() == kNameSize && name.compare(0, kPrefixSize, kPrefix) == 0;
}

bool TempNames::IsOurs(const std::string& name, const FileInfo& folder) const {
  if (!MayBeOurs(name)) return false;
  std::string nonce_hex = name.substr(kPrefixSize, 2 * kNonceBytes);
  std::string mac = Mac(nonce_hex, folder);
  // Both sides are our own lower-case hex; a plain comparison leaks nothing worth having, as the
  // name is public once it exists.
  return !mac.empty() && name.compare(kPrefixSize + 2 * kNonceBytes, std::string::npos, mac) == 0;
}

// ---- ReplacementFile ----

ReplacementFile::ReplacementFile(const DirHandle& dir, const uint8_t* key, bool allow_unnamed)
    : dir_(dir), names_(key), allow_unnamed_(allow_unnamed) {}

ReplacementFile::~ReplacementFile() {
  file_.Close();
  if (!temp_name_.empty()) dir_.Remove(temp_name_);
}

bool ReplacementFile::Create() {
  if (!dir_.StatSelf(&folder_)) return false;
  if (allow_unnamed_) {
    file_ = dir_.CreateUnnamed(0600);
    if (file_.IsOpen()) return true;
    if (LastFsErrorKind() != FsErrorKind::kWrongKind) return false;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string name = names_.NewName(folder_);
    if (name.empty()) return false;
    file_ = dir_.CreateExclusive(name, 0600);
    if (file_.IsOpen()) {
      temp_name_ = std::move(name);
      return true;
    }
    if (LastFsErrorKind() != FsErrorKind::kExists) return false;
  }
  return false;
}

SealResult ReplacementFile::Commit(const std::string& name, const FileInfo& before) {
  SealResult result = TakeOver(name, before);
  if (result == SealResult::kOk) result = Flush();
  if (result == SealResult::kOk) result = Install(name, before);
  if (result != SealResult::kOk) return result;
  if (!dir_.Sync()) {
    Trace("agent: directory flush after replacing %s failed: %s", name.c_str(),
          LastFsErrorText().c_str());
  }
  return SealResult::kOk;
}

SealResult ReplacementFile::TakeOver(const std::string& name, const FileInfo& before) {
  if (!file_.SetMode(before.mode & 0777)) return SealResult::kIoError;
  FileInfo mine;
  if (file_.Stat(&mine) && (mine.owner != before.owner || mine.group != before.group) &&
      !file_.SetOwner(before.owner, before.group)) {
    // Only a privileged agent can give files away; an unprivileged one owns what it serves.
    Trace("agent: cannot keep the owner of %s: %s", name.c_str(), LastFsErrorText().c_str());
  }
  return SealResult::kOk;
}

SealResult ReplacementFile::Flush() { return file_.Sync() ? SealResult::kOk : FailedWriteResult(); }

SealResult ReplacementFile::Install(const std::string& name, const FileInfo& before,
                                    RetiredFiles* retire_to) {
  FileInfo now;
  if (!dir_.StatEntry(name, &now)) return SealResult::kChanged;
  if (now.inode != before.inode || now.device != before.device || now.size != before.size ||
      now.modify_time != before.modify_time || now.modify_time_nsec != before.modify_time_nsec) {
    return SealResult::kChanged;
  }
  if (temp_name_.empty()) {
    // The unnamed file gets a name only now, for the rename that follows at once: a crash in
    // between leaves one of our own names, which the next sweep removes.
    for (int attempt = 0; attempt < 8 && temp_name_.empty(); ++attempt) {
      std::string link = names_.NewName(folder_);
      if (link.empty()) return SealResult::kIoError;
      if (dir_.LinkFile(file_, link)) {
        temp_name_ = std::move(link);
      } else if (LastFsErrorKind() != FsErrorKind::kExists) {
        return FailedWriteResult();
      }
    }
    if (temp_name_.empty()) return SealResult::kIoError;
  }
  file_.Close();
  FileHandle replaced;
  if (retire_to != nullptr) {
    // Held only when it is the file checked above; otherwise the rename frees what it frees.
    replaced = dir_.Hold(name);
    FileInfo held;
    if (replaced.IsOpen() &&
        !(replaced.Stat(&held) && held.inode == before.inode && held.device == before.device)) {
      replaced.Close();
    }
  }
  if (!dir_.Rename(temp_name_, name)) return FailedWriteResult();
  temp_name_.clear();
  if (retire_to != nullptr) retire_to->Retire(std::move(replaced));
  return SealResult::kOk;
}

// ---- leftovers ----

size_t RemoveOwnLeftovers(const DirHandle& dir, const TempNames& names) {
  FileInfo folder;
  std::vector<std::string> entries;
  if (!dir.StatSelf(&folder) || !dir.List(&entries)) return 0;
  size_t removed = 0;
  for (const std::string& entry : entries) {
    if (!names.IsOurs(entry, folder)) continue;
    if (dir.Remove(entry)) {
      ++removed;
    } else {
      Trace("agent: cannot remove leftover %s: %s", entry.c_str(), LastFsErrorText().c_str());
    }
  }
  return removed;
}

size_t SweepOwnLeftovers(const DirHandle& root, const TempNames& names) {
  std::set<std::pair<uint64_t, uint64_t>> visited;
  size_t removed = 0;
  Sweep(root, names, 0, &visited, &removed);
  return removed;
}

}  // namespace docsec::agent
