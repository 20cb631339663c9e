// File operations run through the folder that holds the items: encrypt, decrypt and change the
// secret level of files and folders, one agent command each, and the operation log entries that
// record what the agent did.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "docsec/agent/agent_command.h"
#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"
#include "docsec/logs/drm_log.h"
#include "docsec/logs/log_outbox.h"
#include "docsec/org/department.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/host.h"
#include "docsec/platform/trace.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

// Operation kinds, as passed between the operations.
constexpr int kKindEncrypt = 1;
constexpr int kKindDecrypt = 2;
constexpr int kKindChangeLevel = 3;
// Log codes: every entry of a file operation is of type 1536; the operation code is 1551 + kind.
constexpr char kOperationType[] = "1536";
const char* OperationCode(int kind) {
  switch (kind) {
    case kKindEncrypt: return "1552";
    case kKindDecrypt: return "1553";
    case kKindChangeLevel: return "1554";
  }
  return nullptr;
}

// The workstation the library runs on, as the log entries name it.
struct Workstation {
  std::string name;
  std::string address;
};

const Workstation& ThisWorkstation() {
  // Read once per process: host name and addresses do not change under a running console.
  static const Workstation workstation = [] {
    Workstation w;
    w.name = LocalHostName();
    // With several addresses the first one that is not loopback names the workstation best.
    std::vector<uint32_t> addresses = LocalIpv4Addresses();
    if (!addresses.empty()) w.address = FormatIpv4(addresses.front());
    return w;
  }();
  return workstation;
}

// A department's full path, or empty when the computer has no department.
std::string DepartmentPathOf(CDOComputer* computer, bool* has_department) {
  CDODepartment* department = computer != nullptr ? computer->GetOwnerDepartment() : nullptr;
  *has_department = department != nullptr;
  return department != nullptr ? department->GetFullPathText() : std::string();
}

// A level as log text: decimal, or empty for none (-1).
std::string LevelText(long level) { return level == -1 ? std::string() : std::to_string(level); }

// What the agent said about each item: the names it did and the reasons of the ones it failed.
struct ReplyOutcomes {
  std::multimap<std::string, XmlElement> done;  // "file" and "dir" elements by name
  std::map<std::string, std::string> failed;    // "failed" elements: name to reason
};

ReplyOutcomes ReadOutcomes(const XmlElement& folder) {
  ReplyOutcomes outcomes;
  XmlNodeList children = folder.SelectChildren(nullptr);
  for (size_t i = 0; i < children.Length(); ++i) {
    XmlElement child = children.Item(i);
    const char* name = child.GetAttribute("name");
    if (name == nullptr) continue;
    const std::string tag = child.Name();
    if (tag == "failed") {
      const char* reason = child.GetAttribute("reason");
      outcomes.failed.emplace(name, reason != nullptr ? reason : "failed");
    } else if (tag == "file" || tag == "dir") {
      outcomes.done.emplace(name, child);
    }
  }
  return outcomes;
}

}  // namespace

int CDOAgentFolder::EncryptFiles(DataObjectList* items, int folderMode) {
  return ProcessFiles("EncryptFile", items, kKindEncrypt, -1, folderMode);
}

int CDOAgentFolder::DecryptFiles(DataObjectList* items, int folderMode) {
  return ProcessFiles("DecryptFile", items, kKindDecrypt, -1, folderMode);
}

int CDOAgentFolder::EncryptFolder(CDOAgentFolder* folder, int includeSubfolders) {
  if (folder == nullptr) return 0;
  folder->SetSubFolder(includeSubfolders);
  DataObjectList only{folder};
  return EncryptFiles(&only, 1);
}

int CDOAgentFolder::DecryptFolder(CDOAgentFolder* folder, int includeSubfolders) {
  if (folder == nullptr) return 0;
  folder->SetSubFolder(includeSubfolders);
  DataObjectList only{folder};
  return DecryptFiles(&only, 1);
}

int CDOAgentFolder::ChangeSerLevelFiles(DataObjectList* files, CDOSecretLevel* level) {
  if (files == nullptr || level == nullptr) return 0;
  // Each file's log entry records the level that file had, whatever the others had.
  std::map<CDataObject*, long> old_levels;
  for (CDataObject* object : *files) {
    auto* file = dynamic_cast<CDOAgentFile*>(object);
    if (file == nullptr) continue;
    old_levels.emplace(file, file->GetSecretLevelId());
    file->SetSecretLevelId(level->GetId());
  }
  return RunFileOperation(
      "ChangeSecretLevel", files, kKindChangeLevel,
      [&old_levels](CDOAgentFile* file) {
        auto it = old_levels.find(file);
        return it != old_levels.end() ? it->second : -1L;
      },
      0);
}

int CDOAgentFolder::ChangeSerLevelFolder(CDOAgentFolder* folder, CDOSecretLevel* level,
                                         int includeSubfolders) {
  if (folder == nullptr || level == nullptr) return 0;
  folder->SetSubFolder(includeSubfolders);
  folder->SetSecretLevelId(level->GetId());
  DataObjectList only{folder};
  return ProcessFiles("ChangeSecretLevel", &only, kKindChangeLevel, -1, 0);
}

int CDOAgentFolder::ProcessFiles(const char* service, DataObjectList* items, int kind,
                                 int sourceLevel, int folderMode) {
  return RunFileOperation(
      service, items, kind, [sourceLevel](CDOAgentFile*) { return static_cast<long>(sourceLevel); },
      folderMode);
}

int CDOAgentFolder::RunFileOperation(const char* service, DataObjectList* items, int kind,
                                     const std::function<long(CDOAgentFile*)>& source_level,
                                     int folderMode) {
  last_result_ = FileOperationResult::kNothingDone;
  if (service == nullptr || items == nullptr) return 0;
  std::vector<CDOAgentFile*> requested;
  for (CDataObject* object : *items) {
    if (auto* item = dynamic_cast<CDOAgentFile*>(object)) requested.push_back(item);
  }
  auto report = [this](CDOAgentFile* item, bool done, const char* reason) {
    if (observer_ != nullptr) observer_->OnItem(item, done, reason);
  };
  // A failed command did nothing; each item's reason is the agent's when it gave one.
  auto fail_all = [&](const char* reason, const ReplyOutcomes& outcomes) {
    for (CDOAgentFile* item : requested) {
      auto failed = outcomes.failed.find(item->GetNameText());
      report(item, false, failed != outcomes.failed.end() ? failed->second.c_str() : reason);
    }
    return 0;
  };

  CDOComputer* computer = GetOwnerComputer();
  XmlDocument command = BuildAgentCommand(service);
  if (computer == nullptr || !command) return fail_all("the command could not be made", {});
  XmlElement key = AssemblyXmlKeyNode(command.DocumentElement());
  AssemblySubObjectsXMLNodes(key, items);
  XmlDocument reply = SendAgentCommand(computer->GetIpV4(), command);
  XmlElement root = reply ? reply.DocumentElement() : XmlElement();
  if (!root) return fail_all("the agent did not answer", {});
  XmlElement folder = root.SelectChild("dir");
  if (!CheckAgentReply(reply) || !folder) {
    XmlElement error = root.SelectChild("error");
    const char* why = error ? error.GetAttribute("value") : nullptr;
    return fail_all(why != nullptr ? why : "the agent refused the command",
                    folder ? ReadOutcomes(folder) : ReplyOutcomes());
  }

  ReplyOutcomes outcomes = ReadOutcomes(folder);
  LogOutboxBatch batch;
  // The entries of this operation gather in `batch` until the loop is left, however it is left.
  pending_logs_ = &batch;
  struct ClearPending {
    LogOutboxBatch*& slot;
    ~ClearPending() { slot = nullptr; }
  } clear_pending{pending_logs_};
  // Each item's outcome, reported once the batch has gone to the outbox: only then is it known
  // whether a changed item's entry was recorded.
  struct Outcome {
    CDOAgentFile* item;
    bool done;
    std::string reason;  // why not done, or why not recorded
    long record = -1;    // its entry's place in `batch`, -1 for none
    bool recorded = true;
  };
  std::vector<Outcome> results;
  results.reserve(requested.size());
  size_t done_count = 0;     // items done completely
  size_t touched_count = 0;  // items of which the agent did at least a part
  for (CDOAgentFile* item : requested) {
    const std::string name = item->GetNameText();
    auto done = outcomes.done.find(name);
    auto failed = outcomes.failed.find(name);
    const bool is_folder = dynamic_cast<CDOAgentFolder*>(item) != nullptr;
    const bool did_something = done != outcomes.done.end();
    const bool item_done = failed == outcomes.failed.end() && (did_something || folderMode != 0);
    Outcome result{item, item_done,
                   item_done                         ? std::string()
                   : failed != outcomes.failed.end() ? failed->second
                                                     : "the agent did not report the item"};
    // In folder mode an item counts as done unless the agent failed it outright: a folder in
    // which some files failed still had the others changed, and that is recorded.
    const bool changed = folderMode != 0 ? item_done || did_something : did_something;
    if (changed) {
      const size_t before = batch.size();
      std::string why;
      bool written = false;
      try {
        if (folderMode != 0 || is_folder) {
          // A folder's own level change is recorded as a folder entry; the folder keeps the
          // target level set before the request (folders carry no label to reload).
          written = WriteLogEntry(item, nullptr, kind, true, &why);
        } else {
          CDOSecretLevel* current = kind == kKindChangeLevel ? nullptr : item->GetSecretLevel();
          const long level = kind == kKindChangeLevel ? source_level(item)
                             : current != nullptr     ? current->GetId()
                                                      : -1;
          item->LoadFromXmlNode(done->second);
          written = WriteLogEntry(item, std::to_string(level).c_str(), kind, false, &why);
        }
      } catch (const ComError& error) {
        // The agent changed the item, but its reply element or entry could not be taken in.
        why = std::string("its log entry could not be made: ") + error.what();
      }
      if (written && batch.size() > before) result.record = static_cast<long>(before);
      if (!written) {
        result.recorded = false;
        result.reason = why;
        Trace("operation log: %s was changed, not recorded: %s", item->GetFullPathText().c_str(),
              why.c_str());
      }
    }
    if (item_done) ++done_count;
    if (item_done || did_something) ++touched_count;
    // Each done element answers one request item, so two items of one name take two elements.
    if (did_something && !is_folder && folderMode == 0) outcomes.done.erase(done);
    results.push_back(std::move(result));
  }
  pending_logs_ = nullptr;
  LogOutboxReceipt receipt;
  if (batch.size() > 0) batch.Submit(&receipt);
  size_t unrecorded = 0;
  for (Outcome& result : results) {
    if (result.record >= 0 && !receipt.recorded.at(static_cast<size_t>(result.record))) {
      result.recorded = false;
      result.reason = receipt.reason;
    }
    if (!result.recorded) {
      ++unrecorded;
      if (observer_ != nullptr) observer_->OnItemNotRecorded(result.item, result.reason.c_str());
    } else {
      report(result.item, result.done, result.reason.c_str());
    }
  }
  last_result_ = unrecorded > 0                   ? FileOperationResult::kNotRecorded
                 : done_count == requested.size() ? FileOperationResult::kAllDone
                 : touched_count == 0             ? FileOperationResult::kNothingDone
                                                  : FileOperationResult::kSomeFailed;
  return 1;
}

int CDOAgentFolder::UpdateLogs(CDOAgentFile* file, const char*, const char* sourceLevel, int kind) {
  std::string why;
  return WriteLogEntry(file, sourceLevel, kind, false, &why) ? 1 : 0;
}

int CDOAgentFolder::UpdateFolderLogs(CDOAgentFolder* folder, int kind) {
  std::string why;
  return WriteLogEntry(folder, nullptr, kind, true, &why) ? 1 : 0;
}

int CDOAgentFolder::SetFolderLog(DataObjectList* folders, int kind) {
  if (folders == nullptr) return 1;
  for (CDataObject* object : *folders) {
    if (auto* folder = dynamic_cast<CDOAgentFolder*>(object)) UpdateFolderLogs(folder, kind);
  }
  return 1;
}

bool CDOAgentFolder::WriteLogEntry(CDOAgentFile* item, const char* sourceLevel, int kind,
                                   bool folder_entry, std::string* why) {
  if (item == nullptr) {
    *why = "no item";
    return false;
  }
  const std::string path = item->GetFullPathText();
  CDOUser* user = CDOUser::GetLastLoginUser();
  if (user == nullptr) {
    *why = "no user is logged in, so no entry can name who acted";
    Trace("operation log: no user is logged in; no entry is written for %s", path.c_str());
    return false;
  }
  CDOComputer* computer = item->GetOwnerComputer();
  if (computer == nullptr) computer = GetOwnerComputer();
  if (computer == nullptr) {
    *why = "the item belongs to no computer";
    return false;
  }

  CDODrmLog log;
  log.SetUid(user->GetIdText().c_str());
  log.SetUserName(user->GetNameText().c_str());
  log.SetUserDepartment(user->GetDepartmentPathText().c_str());
  if (const char* code = OperationCode(kind)) {
    log.SetOperationType(kOperationType);
    // A folder entry names no operation for a level change: the code belongs to files.
    if (!folder_entry || kind != kKindChangeLevel) log.SetOperation(code);
  }
  log.SetOperationTime();
  log.SetLogCreateTime();
  log.SetSrcFile(path.c_str());
  log.SetDestFile(path.c_str());
  log.SetDestCompIP(computer->GetIpText().c_str());
  log.SetDestCompName(computer->GetNameText().c_str());
  bool has_department = false;
  const std::string department_path = DepartmentPathOf(computer, &has_department);
  if (has_department) log.SetDestCompDeptPath(department_path.c_str());
  if (folder_entry) {
    log.SetDestFileSecLvl("");
    log.SetSrcFileSecLvl("");
    log.SetFileUuid("");
  } else {
    log.SetDestFileSecLvl(LevelText(item->GetSecretLevelId()).c_str());
    const bool none = sourceLevel == nullptr || std::strtol(sourceLevel, nullptr, 10) == -1;
    log.SetSrcFileSecLvl(none ? "" : sourceLevel);
    log.SetFileUuid(item->GetUuidText().c_str());
  }
  log.SetFileType(item->GetTypeText().c_str());
  const Workstation& workstation = ThisWorkstation();
  log.SetUsedCompName(workstation.name.c_str());
  log.SetUsedCompIP(workstation.address.c_str());
  if (has_department) log.SetUsedCompDeptPath(department_path.c_str());

  LogOutboxBatch alone;
  // Outside an operation the entry travels alone, through the outbox all the same.
  LogOutboxBatch* batch = pending_logs_ != nullptr ? pending_logs_ : &alone;
  if (!batch->Add(&log, computer)) {
    *why = "the entry could not be made (no identity or element)";
    return false;
  }
  if (batch == &alone) {
    LogOutboxReceipt receipt;
    alone.Submit(&receipt);
    if (!receipt.recorded.at(0)) {
      *why = receipt.reason;
      return false;
    }
  }
  return true;
}

}  // namespace docsec
