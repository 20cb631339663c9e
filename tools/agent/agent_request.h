// AgentRequest: the handling of one command document inside the reference agent, and what the
// command groups share: reading attributes, splitting paths and resolving them beneath a drive,
// and describing entries as reply elements within the reply's size budget.
//
// An AgentRequest lives for one call of AgentService::Handle, on that call's thread. It writes
// only its own reply document and reads the service's drives and key, which do not change while
// the service lives.
#ifndef DOCSEC_TOOLS_AGENT_AGENT_REQUEST_H_
#define DOCSEC_TOOLS_AGENT_AGENT_REQUEST_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "docsec/platform/xml.h"
#include "tools/agent/agent_service.h"
#include "tools/agent/file_system.h"
#include "tools/agent/sealed_file.h"

namespace docsec::agent {

// ---- names ----

// A name that can travel in a reply and be named again in a request: valid UTF-8, no control
// characters (XML cannot carry them) and no "\" (the path separator on the wire).
bool IsListableName(const std::string& name);
// A single item name of a request: not empty, not "." or "..", without separators or NUL.
bool IsPlainItemName(const std::string& name);
// The order of entries in replies: ASCII letters ignoring case, then by bytes.
bool NameLess(const std::string& a, const std::string& b);

// ---- attributes ----

enum class AttrStatus { kAbsent, kOk, kInvalid };

// "true", "1" or "-1" read as true, "false" or "0" as false, in any letter case.
AttrStatus ReadBool(const XmlElement& element, const char* name, bool* value);
// A decimal integer, spaces allowed around it.
AttrStatus ReadInt(const XmlElement& element, const char* name, int64_t* value);

// ---- paths ----

// A path of a request: the empty path (the list of drives), or a drive and names below it.
struct AgentPath {
  bool is_root = true;
  std::string drive;
  std::vector<std::string> names;
};

// ---- entries ----

// One listed entry: what stat and the sealed header say about it.
struct Entry {
  std::string shown_name;  // as reported: the name, or a path relative to a searched folder
  FileInfo info;
  bool is_directory = false;
  bool is_drive = false;
  SealState seal = SealState::kPlain;
  SealedLabel label;
};

// Writes an entry's attributes ("name", "size", "type", times, flags and the sealed label).
void FillElement(XmlElement element, const Entry& entry);
// An upper bound of the bytes an entry's element takes, so a reply can stop before its limit.
size_t EntryBound(const Entry& entry);
// Bytes a text takes in an attribute once escaped.
size_t EscapedSize(const std::string& text);

// Appends elements while they fit AgentService::kReplyBudget; marks the container
// truncated="true" when one did not.
class ReplyBudget {
 public:
  explicit ReplyBudget(XmlElement container) : container_(std::move(container)) {}
  // True when an element of at most `bound` bytes still fits; otherwise marks the truncation.
  bool Fits(size_t bound);
  // Counts an element that was appended.
  void Add(const XmlElement& element) { used_ += element.Xml().size(); }
  void Truncate();
  bool truncated() const { return truncated_; }

 private:
  XmlElement container_;
  size_t used_ = 0;
  bool truncated_ = false;
};

// ---- the request ----

class AgentRequest {
 public:
  // `reply_root` is the root element of the reply being built. The request's time starts now.
  AgentRequest(AgentService* service, XmlElement reply_root)
      : service_(service),
        root_(std::move(reply_root)),
        work_deadline_(std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(service->options_.work_budget_ms)) {}

  XmlElement reply_root() const { return root_; }
  // Sets the reply's "error" element to `why` and returns `code`, so a command can
  // `return request.Fail(kRetNotFound, "...")`.
  int Fail(int code, const std::string& why);

  // Splits path text into `path`; kRetOk, or kRetPathRefused for "..", NUL bytes, absolute
  // paths and overlong paths (with the reason in the reply).
  int ParsePath(const char* text, AgentPath* path);
  // Resolves `names` beneath the drive; the reply's code for a failure.
  int Resolve(const ServedDrive& drive, const std::vector<std::string>& names, ResolvedPath* where);
  // Resolves a path that must name a folder (a drive root included) and opens it.
  int OpenFolder(const AgentPath& path, const ServedDrive** drive, DirHandle* dir);
  // The entry `name` of `dir` (whose names below the drive are `dir_names`): links are followed
  // when they stay inside the drive; anything that is neither a folder nor a regular file, and
  // the service's own temporary files, are left out (false). `probe` reads sealed headers.
  bool DescribeEntry(const ServedDrive& drive, const DirHandle& dir,
                     const std::vector<std::string>& dir_names, const std::string& name, bool probe,
                     Entry* entry);

  const std::vector<ServedDrive>& drives() const { return service_->drives_; }
  const ServedDrive* FindDrive(const std::string& name) const { return service_->FindDrive(name); }
  const uint8_t* file_key() const { return service_->state_.file_key; }
  const TempNames& temp_names() const { return *service_->temp_names_; }
  const ReplacementGroup::Limits& replacement_limits() const {
    return service_->options_.replacement_limits;
  }
  // True when entry `name` of `dir` is one of the service's own temporaries.
  bool IsOwnTemporary(const DirHandle& dir, const std::string& name) const;
  const Uuid& uuid() const { return service_->state_.uuid; }
  void CountApproval() { service_->approve_notifications_.fetch_add(1); }
  void CountStatusRequest() { service_->status_requests_.fetch_add(1); }
  std::timed_mutex& file_operations_mutex() { return service_->file_ops_mutex_; }
  RetiredFiles& retired_files() { return service_->retired_files_; }
  std::chrono::milliseconds lock_wait() const {
    return std::chrono::milliseconds(service_->options_.lock_wait_ms);
  }
  // True once the request's work budget is spent: file operations stop between items.
  bool OutOfTime() const { return std::chrono::steady_clock::now() >= work_deadline_; }
  // Runs the test seam, if any, before an item is worked on.
  void BeforeItem(const std::string& name) const {
    if (service_->options_.before_item) service_->options_.before_item(name);
  }

 private:
  AgentService* service_;
  XmlElement root_;
  std::chrono::steady_clock::time_point work_deadline_;
};

// The commands, one group a file; each appends its reply elements and returns the retcode.
int GetStatus(AgentRequest& request, const XmlElement& command);
int NotifyApproveStatus(AgentRequest& request, const XmlElement& command);
int LocateFile(AgentRequest& request, const XmlElement& command);
int QueryFile(AgentRequest& request, const XmlElement& command);
int EncryptFile(AgentRequest& request, const XmlElement& command);
int DecryptFile(AgentRequest& request, const XmlElement& command);
int ChangeSecretLevel(AgentRequest& request, const XmlElement& command);

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_AGENT_REQUEST_H_
