// AgentService: the reference agent's request handling, independent of the network. It serves
// directories of this machine as named drives, answers the agent command documents
// ("GetStatus", "NotifyApproveStatus", "LocateFile", "QueryFile", "EncryptFile", "DecryptFile",
// "ChangeSecretLevel") with reply documents, and encrypts files for real under a key of its own.
//
// Paths on the wire are a drive name followed by names joined with "\" (for example
// "C:\docs\a.txt"; "/" is taken as a separator too). Every path is resolved beneath its drive's
// directory and refused when it would leave it: ".." names, absolute paths, NUL bytes and
// symbolic links pointing outside are all refused. This is the agent's security boundary.
//
// Every reply is a document with root "document" whose first child is "retcode" (value 0 on
// success, one of the AgentRetcode values otherwise); a failing reply also carries "error" with
// a short English reason. No request, however malformed, crashes the service.
//
// Ownership: the service owns its drive handles and key. Thread safety: Handle may be called from
// several threads at once; file-changing operations are serialised inside.
#ifndef DOCSEC_TOOLS_AGENT_AGENT_SERVICE_H_
#define DOCSEC_TOOLS_AGENT_AGENT_SERVICE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "docsec/platform/uuid.h"
#include "docsec/platform/xml.h"
#include "tools/agent/agent_state.h"
#include "tools/agent/file_system.h"
#include "tools/agent/replacement_file.h"
#include "tools/agent/replacement_group.h"
#include "tools/agent/retired_files.h"

namespace docsec::agent {

// Values of "retcode" in replies.
enum AgentRetcode : int {
  kRetOk = 0,
  kRetMalformed = 1,  // no root, no service, a missing or unreadable element or attribute
  kRetUnknownService = 2,
  kRetPathRefused = 3,  // the path would leave its drive
  kRetNotFound = 4,     // no such drive, folder or file
  kRetItemsFailed = 5,  // a file operation could do none of its items (see "failed")
  kRetInternal = 6,
  kRetBusy = 7,  // another file operation held the agent too long: nothing was done, send again
};

struct AgentDrive {
  std::string name;       // as shown to callers, e.g. "C:"
  std::string directory;  // the directory it serves
};

// A drive as the service holds it: its name and its open root directory.
struct ServedDrive {
  std::string name;
  DirHandle root;
};

// Called with each item's name (a file, or a file met in a folder) before a file operation works
// on it; a seam for tests that need slow work or a held lock.
using ItemHook = std::function<void(const std::string& name)>;

struct AgentServiceOptions {
  std::vector<AgentDrive> drives;
  std::string uuid;       // the identity to use; empty: the one kept in state_dir
  std::string state_dir;  // required: keeps the identity and the file key
  // A request's file operation stops between items once this much time has passed since it came
  // in, and answers with what it did: the console waits at most 300 s for an answer, and every
  // change the answer does not report is a change the console cannot log.
  int work_budget_ms = 120000;
  // How long a file operation waits for the one running before it; then it is answered busy
  // (kRetBusy) without doing anything.
  int lock_wait_ms = 10000;
  // How many changed files a file operation makes durable together; files 1 flushes each one
  // and its folder on its own.
  ReplacementGroup::Limits replacement_limits;
  ItemHook before_item;
};

// The services the agent answers, in dispatch order.
std::vector<std::string> ServiceNames();

// Reads a "NAME=DIR" drive argument. False with a reason when either side is empty or the name
// holds a separator, NUL, or is "." or "..".
bool ParseDriveOption(const std::string& option_text, AgentDrive* drive, std::string* error);

// Matches `name` against `pattern`, where "*" stands for any run of characters and "?" for any
// one character (UTF-8 aware). An empty pattern and "*.*" match every name. Without
// `case_sensitive`, ASCII letters match regardless of case.
bool MatchNamePattern(const std::string& pattern, const std::string& name, bool case_sensitive);

// A name pattern read once and matched against many names, by MatchNamePattern's rules.
class NamePattern {
 public:
  NamePattern(const std::string& pattern, bool case_sensitive);
  bool Matches(const std::string& name) const;

 private:
  bool matches_all_;
  bool case_sensitive_;
  std::vector<uint32_t> code_points_;  // ASCII letters lowered unless case-sensitive
};

class AgentService {
 public:
  // Limits that keep one request bounded.
  static constexpr size_t kReplyBudget = 1000000;  // bytes of listed elements per reply
  static constexpr int kMaxSearchDepth = 64;
  static constexpr size_t kMaxSearchEntries = 200000;

  // Opens the drives and the state directory. Null with a reason in *error when a drive is not a
  // directory, two drives share a name, the UUID does not parse, or the state cannot be loaded.
  static std::unique_ptr<AgentService> Create(const AgentServiceOptions& options,
                                              std::string* error);
  ~AgentService();
  AgentService(const AgentService&) = delete;
  AgentService& operator=(const AgentService&) = delete;

  // Answers one command document; never throws. Null only when not even a reply document can
  // be made (memory exhausted).
  XmlDocument Handle(const XmlDocument& request);

  const Uuid& uuid() const { return state_.uuid; }
  // How many "NotifyApproveStatus" commands were acknowledged.
  int approve_notifications() const { return approve_notifications_.load(); }
  // How many "GetStatus" commands were answered.
  int status_requests() const { return status_requests_.load(); }
  size_t drive_count() const { return drives_.size(); }

 private:
  friend class AgentRequest;  // the commands' access to drives, key and lock

  AgentService() = default;
  const ServedDrive* FindDrive(const std::string& name) const;

  std::vector<ServedDrive> drives_;
  AgentState state_;
  std::unique_ptr<TempNames> temp_names_;
  RetiredFiles retired_files_;
  std::atomic<int> approve_notifications_{0};
  std::atomic<int> status_requests_{0};
  AgentServiceOptions options_;
  std::timed_mutex file_ops_mutex_;
};

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_AGENT_SERVICE_H_
