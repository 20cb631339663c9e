#include "tools/agent/agent_state.h"

#include <cstring>
#include <vector>

#include "docsec/platform/crypto.h"
#include "tools/agent/file_crypto.h"
#include "tools/agent/file_system.h"

namespace docsec::agent {
namespace {

constexpr size_t kMaxStateFile = 4096;

// Reads small file `name`: 1 when read, 0 when it does not exist, -1 on error.
int ReadSmallFile(const DirHandle& dir, const char* name, std::string* content, FileInfo* info,
                  std::string* error) {
  FileHandle file = dir.OpenForReading(name);
  if (!file.IsOpen()) {
    if (LastFsErrorKind() == FsErrorKind::kNotFound) return 0;
    *error = std::string(name) + ": " + LastFsErrorText();
    return -1;
  }
  if (!file.Stat(info)) {
    *error = std::string(name) + ": " + LastFsErrorText();
    return -1;
  }
  std::vector<char> buffer(kMaxStateFile + 1);
  long long n = file.ReadFull(buffer.data(), buffer.size());
  if (n < 0) {
    *error = std::string(name) + ": " + LastFsErrorText();
    return -1;
  }
  if (static_cast<size_t>(n) > kMaxStateFile) {
    *error = std::string(name) + ": unexpectedly large";
    return -1;
  }
  content->assign(buffer.data(), static_cast<size_t>(n));
  return 1;
}

// Writes `content` as new file `name` (mode 0600) unless it exists. 1 when written, 0 when
// another file took the name first, -1 on error.
int CreateSmallFile(const DirHandle& dir, const char* name, const std::string& content,
                    std::string* error) {
  uint8_t random[8];
  if (!RandomBytes(random, sizeof random)) {
    *error = std::string(name) + ": no random bytes for a temporary name";
    return -1;
  }
  std::string temp = std::string(".") + name + "." + ToHex(random, sizeof random);
  FileHandle file = dir.CreateExclusive(temp, 0600);
  if (!file.IsOpen()) {
    *error = std::string(name) + ": cannot create: " + LastFsErrorText();
    return -1;
  }
  bool written = file.SetMode(0600) && file.WriteAll(content.data(), content.size()) && file.Sync();
  file.Close();
  int result = -1;
  if (!written) {
    *error = std::string(name) + ": cannot write: " + LastFsErrorText();
  } else if (dir.LinkNoReplace(temp, name)) {
    result = 1;
  } else if (LastFsErrorKind() == FsErrorKind::kExists) {
    result = 0;
  } else {
    *error = std::string(name) + ": cannot put in place: " + LastFsErrorText();
  }
  dir.Remove(temp);
  if (result == 1) dir.Sync();
  return result;
}

std::string TrimLine(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) {
    --end;
  }
  return text.substr(0, end);
}

bool LoadUuid(const DirHandle& dir, AgentState* state, std::string* error) {
  // Two rounds: when another agent starting on the same directory wins the race to create the
  // file, the second round reads what it wrote.
  for (int round = 0; round < 2; ++round) {
    std::string content;
    FileInfo info;
    int read = ReadSmallFile(dir, kUuidFileName, &content, &info, error);
    if (read < 0) return false;
    if (read > 0) {
      if (!Uuid::Parse(TrimLine(content), &state->uuid)) {
        *error = std::string(kUuidFileName) + ": does not hold a UUID";
        return false;
      }
      return true;
    }
    Uuid fresh;
    if (!Uuid::Generate(&fresh)) {
      *error = "cannot generate a UUID: random source failed";
      return false;
    }
    int created = CreateSmallFile(dir, kUuidFileName, fresh.ToString() + "\n", error);
    if (created < 0) return false;
    if (created > 0) {
      state->uuid = fresh;
      return true;
    }
  }
  *error = std::string(kUuidFileName) + ": appeared and vanished while starting";
  return false;
}

bool LoadKey(const DirHandle& dir, AgentState* state, std::string* error) {
  for (int round = 0; round < 2; ++round) {
    std::string content;
    FileInfo info;
    int read = ReadSmallFile(dir, kKeyFileName, &content, &info, error);
    if (read < 0) return false;
    if (read > 0) {
      if (content.size() != kFileKeySize) {
        *error = std::string(kKeyFileName) + ": holds " + std::to_string(content.size()) +
                 " bytes, not " + std::to_string(kFileKeySize) + "; refusing to replace it";
        return false;
      }
      if ((info.mode & 077) != 0) {
        *error = std::string(kKeyFileName) + ": readable or writable by group or others";
        return false;
      }
      std::memcpy(state->file_key, content.data(), kFileKeySize);
      return true;
    }
    std::string fresh(kFileKeySize, '\0');
    if (!RandomBytes(&fresh[0], fresh.size())) {
      *error = "cannot generate the file key: random source failed";
      return false;
    }
    int created = CreateSmallFile(dir, kKeyFileName, fresh, error);
    if (created < 0) return false;
    if (created > 0) {
      std::memcpy(state->file_key, fresh.data(), kFileKeySize);
      return true;
    }
  }
  *error = std::string(kKeyFileName) + ": appeared and vanished while starting";
  return false;
}

}  // namespace

bool LoadAgentState(const std::string& state_dir, const std::string& uuid_text, AgentState* state,
                    std::string* error) {
  if (state_dir.empty()) {
    *error = "no state directory given";
    return false;
  }
  std::string open_error;
  DirHandle dir = DirHandle::OpenOrCreate(state_dir, 0700, &open_error);
  if (!dir.IsOpen()) {
    *error = "state directory " + open_error;
    return false;
  }
  if (!uuid_text.empty()) {
    if (!Uuid::Parse(uuid_text, &state->uuid)) {
      *error = "not a UUID: " + uuid_text;
      return false;
    }
  } else if (!LoadUuid(dir, state, error)) {
    return false;
  }
  return LoadKey(dir, state, error);
}

}  // namespace docsec::agent
