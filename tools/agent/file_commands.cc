// "EncryptFile", "DecryptFile" and "ChangeSecretLevel": the named files of a folder, or whole
// folders (with their sub-folders when asked), changed in place one file at a time. The new
// contents are made durable in groups (ReplacementGroup), so each item's result is known only
// when its group commits; every reply element is written then, in the order of the items.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "docsec/platform/trace.h"
#include "tools/agent/agent_request.h"
#include "tools/agent/replacement_group.h"

namespace docsec::agent {
namespace {

enum class OpKind { kEncrypt, kDecrypt, kChangeLevel };

// What a file operation applies, read from the item (or folder) element.
struct OpParams {
  SealedLabel label;   // encryption: level and department (the GUID is fresh per file)
  int32_t level = -1;  // level change: the new level
};

struct FolderTally {
  size_t done = 0;
  size_t unchanged = 0;
  size_t failed = 0;
  size_t not_reached = 0;  // left for another request when the time ran out
};

// Why an item was not worked on: the console logs what was done and may send the rest again.
constexpr char kNotReached[] = "not reached: the time for one request ran out; send it again";

// One request's operation: what it does, the reply element its results go to, and the group its
// new file contents wait in.
struct Operation {
  AgentRequest* request;
  OpKind kind;
  XmlElement out;
  ReplyBudget* budget;
  ReplacementGroup* group;
};

// How an item ended: `ok` false with the reason `why`; `done` when anything of it was changed.
using ItemEnd = std::function<void(bool ok, bool done, const std::string& why)>;

// Reads level and department for `kind` from an item or folder element; false (with the reason
// in *why) when they are unreadable.
bool ReadOpParams(const XmlElement& element, OpKind kind, OpParams* params, std::string* why) {
  int64_t level = -1, department = -1;
  AttrStatus status = AttrStatus::kAbsent;
  const char* order[2] = {"destSecretLevelId", "secretLevelId"};
  if (kind == OpKind::kChangeLevel) std::swap(order[0], order[1]);
  for (const char* name : order) {
    status = ReadInt(element, name, &level);
    if (status == AttrStatus::kInvalid) {
      *why = std::string(name) + " is not an integer";
      return false;
    }
    if (status == AttrStatus::kOk) break;
  }
  if (kind == OpKind::kChangeLevel && status != AttrStatus::kOk) {
    *why = "no secret level given";
    return false;
  }
  if (level < INT32_MIN || level > INT32_MAX) {
    *why = "secret level out of range";
    return false;
  }
  if (ReadInt(element, "departmentId", &department) == AttrStatus::kInvalid) {
    *why = "departmentId is not an integer";
    return false;
  }
  params->level = static_cast<int32_t>(level);
  params->label.secret_level = static_cast<int32_t>(level);
  params->label.department = department;
  return true;
}

// Starts the operation on one file. kOk: its new content waits in the group and `done` will be
// told how it ended; any other result is final and `done` is not called.
SealResult ApplyToFile(const Operation& op, const DirHandle& dir, const std::string& name,
                       const OpParams& params, ReplacementDone done) {
  const uint8_t* key = op.request->file_key();
  switch (op.kind) {
    case OpKind::kEncrypt: {
      SealedLabel label = params.label;
      if (!Uuid::Generate(&label.guid)) return SealResult::kIoError;
      return SealFileInto(op.group, dir, name, key, label, std::move(done));
    }
    case OpKind::kDecrypt: return UnsealFileInto(op.group, dir, name, key, std::move(done));
    case OpKind::kChangeLevel:
      return RelabelFileInto(op.group, dir, name, key, params.level, std::move(done));
  }
  return SealResult::kIoError;
}

void ReportFailure(const Operation& op, const std::string& name, const std::string& reason) {
  Trace("agent: %s: %s", name.c_str(), reason.c_str());
  if (!op.budget->Fits(64 + EscapedSize(name) + EscapedSize(reason))) return;
  XmlElement failed = op.out.AppendElement("failed");
  failed.AppendAttribute("name", name.c_str());
  failed.AppendAttribute("reason", reason.c_str());
  op.budget->Add(failed);
}

// A failure inside a folder item, reported in its turn among the files that wait.
void FailInFolder(const Operation& op, FolderTally* tally, const std::string& shown,
                  const std::string& why) {
  op.group->Then([&op, tally, shown, why] {
    ++tally->failed;
    ReportFailure(op, shown, why);
  });
}

// Applies the operation to every file of `dir`, and of its sub-folders when asked. Links are not
// followed and our own temporaries are left alone.
void ApplyToFolder(const Operation& op, const DirHandle& dir, const std::string& prefix,
                   const OpParams& params, bool subfolders, int depth,
                   std::set<std::pair<uint64_t, uint64_t>>* visited, FolderTally* tally) {
  FileInfo self;
  if (!dir.StatSelf(&self) || !visited->insert({self.device, self.inode}).second) return;
  // Our own temporaries found in the folder are removed below as leftovers; none of the waiting
  // ones may be among them.
  if (op.group->HasNamedTemporaries()) op.group->Commit();
  std::vector<std::string> names;
  if (!dir.List(&names)) {
    FailInFolder(op, tally, prefix, "folder cannot be read: " + LastFsErrorText());
    return;
  }
  std::sort(names.begin(), names.end(), NameLess);
  for (const std::string& name : names) {
    std::string shown = prefix + name;
    if (op.request->OutOfTime()) {
      op.group->Then([&op, tally, shown] {
        ++tally->not_reached;
        ReportFailure(op, shown, kNotReached);
      });
      continue;
    }
    // Our own temporaries here are leftovers of a killed agent: file operations run one at a
    // time, so none is in use.
    if (op.request->temp_names().IsOurs(name, self)) {
      dir.Remove(name);
      continue;
    }
    FileInfo info;
    if (!dir.StatEntry(name, &info)) {
      // Every user file is accounted for: one that cannot even be looked at has failed.
      FailInFolder(op, tally, shown, "cannot be read: " + LastFsErrorText());
      continue;
    }
    if (info.kind == FileKind::kRegular) {
      op.request->BeforeItem(shown);
      auto count = [&op, tally, shown](SealResult result) {
        if (result == SealResult::kOk) {
          ++tally->done;
        } else if (result == SealResult::kAlreadyDone || result == SealResult::kNotSealed) {
          ++tally->unchanged;
        } else {
          ++tally->failed;
          ReportFailure(op, shown, SealResultText(result));
        }
      };
      SealResult result = ApplyToFile(
          op, dir, name, params, [count](SealResult ended, const DirHandle&) { count(ended); });
      if (result != SealResult::kOk) op.group->Then([count, result] { count(result); });
    } else if (info.kind == FileKind::kDirectory && subfolders) {
      if (depth >= AgentService::kMaxSearchDepth) {
        FailInFolder(op, tally, shown, "folders nested too deep");
        continue;
      }
      DirHandle sub = dir.OpenSubdirectory(name);
      if (!sub.IsOpen()) {
        FailInFolder(op, tally, shown, "folder cannot be opened: " + LastFsErrorText());
        continue;
      }
      ApplyToFolder(op, sub, shown + "\\", params, true, depth + 1, visited, tally);
    }
  }
}

// The reason a walk beneath a drive failed, for an item's "failed" entry.
std::string ResolveFailure(ResolveStatus status) {
  switch (status) {
    case ResolveStatus::kOk: break;
    case ResolveStatus::kNotFound: return "no such file or folder";
    case ResolveStatus::kEscapes: return "path leads outside its drive";
    case ResolveStatus::kTooManyLinks: return "too many symbolic links";
    case ResolveStatus::kError: return "path cannot be resolved: " + LastFsErrorText();
  }
  return std::string();
}

// Describes a processed file in the reply; false when it cannot be looked at any more.
bool DescribeFile(const Operation& op, const DirHandle& dir, const std::string& file,
                  const std::string& name) {
  Entry entry;
  entry.shown_name = name;
  if (!dir.StatEntry(file, &entry.info) ||
      !ProbeSealedFile(dir, file, op.request->file_key(), &entry.seal, &entry.label)) {
    return false;
  }
  if (!op.budget->Fits(EntryBound(entry))) return true;
  XmlElement element = op.out.AppendElement("file");
  FillElement(element, entry);
  op.budget->Add(element);
  return true;
}

// A file item: processed, then described in the reply with its new state. Once started, the
// item ends through `end` when its group commits (*pending); false with *why when it could not
// be started.
bool ProcessFile(const Operation& op, const ResolvedPath& where, const std::string& name,
                 const OpParams& params, const ItemEnd& end, std::string* why, bool* pending) {
  if (where.info.kind != FileKind::kRegular) {
    *why = "not a file";
    return false;
  }
  op.request->BeforeItem(name);
  // The same file named twice: the second operation works on what the first made of it.
  if (op.group->Holds(where.info)) op.group->Commit();
  auto finish = [&op, end, name, file = where.name](SealResult result, const DirHandle& dir) {
    if (result != SealResult::kOk && result != SealResult::kAlreadyDone) {
      end(false, false, SealResultText(result));
    } else if (!DescribeFile(op, dir, file, name)) {
      end(false, false, "file vanished after processing");
    } else {
      end(true, true, std::string());
    }
  };
  const SealResult result = ApplyToFile(op, where.parent, where.name, params, finish);
  *pending = true;
  if (result == SealResult::kOk) return true;
  // Ended already, but described in its turn after the files that wait before it; the folder's
  // handle here does not live that long.
  auto parent = std::make_shared<DirHandle>(where.parent.Duplicate());
  op.group->Then([finish, result, parent] { finish(result, *parent); });
  return true;
}

// A folder item: every file in it processed, then the folder described with its tallies.
bool ProcessFolder(const Operation& op, const ServedDrive& drive, const ResolvedPath& where,
                   const XmlElement& item, const std::string& name, bool is_drive,
                   const OpParams& params, std::string* why, bool* done) {
  if (where.info.kind != FileKind::kDirectory) {
    *why = "not a folder";
    return false;
  }
  bool subfolders = false;
  if (ReadBool(item, "subfolder", &subfolders) == AttrStatus::kInvalid) {
    *why = "subfolder is not a boolean";
    return false;
  }
  DirHandle dir =
      where.parent.IsOpen() ? where.parent.OpenSubdirectory(where.name) : drive.root.Duplicate();
  if (!dir.IsOpen()) {
    *why = "folder cannot be opened: " + LastFsErrorText();
    return false;
  }
  FolderTally tally;
  std::set<std::pair<uint64_t, uint64_t>> visited;
  ApplyToFolder(op, dir, name + "\\", params, subfolders, 0, &visited, &tally);
  // The tallies are complete only when every file of the folder has ended.
  op.group->Commit();
  Entry entry;
  entry.shown_name = name;
  entry.is_directory = true;
  entry.is_drive = is_drive;
  dir.StatSelf(&entry.info);
  if (op.budget->Fits(EntryBound(entry) + 64)) {
    XmlElement element = op.out.AppendElement("dir");
    FillElement(element, entry);
    element.AppendAttribute("filesDone", static_cast<long long>(tally.done));
    element.AppendAttribute("filesUnchanged", static_cast<long long>(tally.unchanged));
    element.AppendAttribute("filesFailed", static_cast<long long>(tally.failed));
    element.AppendAttribute("filesNotReached", static_cast<long long>(tally.not_reached));
    op.budget->Add(element);
  }
  *done = tally.done + tally.unchanged > 0 || tally.failed + tally.not_reached == 0;
  if (tally.failed > 0) {
    *why = std::to_string(tally.failed) + " file(s) in the folder failed";
    return false;
  }
  if (tally.not_reached > 0) {
    *why = std::to_string(tally.not_reached) +
           " entries of the folder not reached: the time for "
           "one request ran out; send it again";
    return false;
  }
  return true;
}

bool ProcessItem(const Operation& op, const AgentPath& folder_path, const ServedDrive* drive,
                 const XmlElement& item, bool is_folder_item, const std::string& name,
                 const ItemEnd& end, std::string* why, bool* done, bool* pending) {
  if (!IsPlainItemName(name)) {
    *why = "invalid item name";
    return false;
  }
  OpParams params;
  if (!ReadOpParams(item, op.kind, &params, why)) return false;
  std::vector<std::string> names = folder_path.names;
  if (folder_path.is_root) {
    drive = op.request->FindDrive(name);  // items of the root are drives
    if (drive == nullptr) {
      *why = "no drive named " + name;
      return false;
    }
  } else {
    names.push_back(name);
  }
  ResolvedPath where;
  ResolveStatus status = ResolveBeneath(drive->root, names, &where);
  if (status != ResolveStatus::kOk) {
    *why = ResolveFailure(status);
    return false;
  }
  if (!is_folder_item) return ProcessFile(op, where, name, params, end, why, pending);
  return ProcessFolder(op, *drive, where, item, name, folder_path.is_root, params, why, done);
}

int RunFileOperation(AgentRequest& request, const XmlElement& command, OpKind kind) {
  XmlElement folder = command.SelectChild("dir");
  if (!folder) return request.Fail(kRetMalformed, "request needs a dir element");
  const char* path_text = folder.GetAttribute("path");
  if (path_text == nullptr) return request.Fail(kRetMalformed, "dir element has no path");
  AgentPath path;
  int code = request.ParsePath(path_text, &path);
  if (code != kRetOk) return code;
  const ServedDrive* drive = nullptr;
  DirHandle dir;
  if (!path.is_root) {
    // The folder itself must be there and inside its drive before any item is looked at.
    code = request.OpenFolder(path, &drive, &dir);
    if (code != kRetOk) return code;
  }

  // One file operation at a time. One that waited too long is turned away before doing anything,
  // rather than doing work whose answer the console may no longer be there to receive.
  std::unique_lock<std::timed_mutex> lock(request.file_operations_mutex(), std::defer_lock);
  if (!lock.try_lock_for(request.lock_wait())) {
    return request.Fail(kRetBusy,
                        "another file operation is running: nothing was done, send the "
                        "request again later");
  }
  XmlElement out = request.reply_root().AppendElement("dir");
  out.SetAttribute("path", path_text);
  ReplyBudget budget(out);
  ReplacementGroup::Limits limits = request.replacement_limits();
  limits.retire_to = &request.retired_files();
  ReplacementGroup group(limits);
  Operation op{&request, kind, out, &budget, &group};
  if (dir.IsOpen()) RemoveOwnLeftovers(dir, request.temp_names());
  // The console writes an audit entry for every item the reply lists as done, so a request in
  // which some items were done must not be answered as a failure: the entries for the files that
  // did change would be lost. Only a request in which nothing was done fails.
  bool any_failed = false;
  bool any_done = false;
  XmlNodeList items = folder.SelectChildren(nullptr);
  for (size_t i = 0; i < items.Length(); ++i) {
    XmlElement item = items.Item(i);
    std::string tag = item.Name();
    if (tag != "file" && tag != "dir") continue;
    const char* name_text = item.GetAttribute("name");
    std::string name = name_text ? name_text : "";
    ItemEnd end = [&op, &any_failed, &any_done, name](bool ok, bool done, const std::string& why) {
      if (!ok) {
        any_failed = true;
        ReportFailure(op, name, why);
      }
      any_done = any_done || done;
    };
    if (request.OutOfTime()) {
      group.Then([end] { end(false, false, kNotReached); });
      continue;
    }
    std::string why;
    bool done = false;
    bool pending = false;
    const bool ok =
        ProcessItem(op, path, drive, item, tag == "dir", name, end, &why, &done, &pending);
    if (!pending) group.Then([end, ok, done, why] { end(ok, done, why); });
  }
  // Nothing is answered before it is stored.
  group.Commit();
  if (any_failed && !any_done) return request.Fail(kRetItemsFailed, "no item could be processed");
  return kRetOk;
}

}  // namespace

int EncryptFile(AgentRequest& request, const XmlElement& command) {
  return RunFileOperation(request, command, OpKind::kEncrypt);
}

int DecryptFile(AgentRequest& request, const XmlElement& command) {
  return RunFileOperation(request, command, OpKind::kDecrypt);
}

int ChangeSecretLevel(AgentRequest& request, const XmlElement& command) {
  return RunFileOperation(request, command, OpKind::kChangeLevel);
}

}  // namespace docsec::agent
