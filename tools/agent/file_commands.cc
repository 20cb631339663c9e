// "EncryptFile", "DecryptFile" and "ChangeSecretLevel": the named files of a folder, or whole
// folders (with their sub-folders when asked), changed in place one file at a time.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "docsec/platform/trace.h"
#include "tools/agent/agent_request.h"

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

// One request's operation: what it does, and the reply element its results go to.
struct Operation {
  AgentRequest* request;
  OpKind kind;
  XmlElement out;
  ReplyBudget* budget;
};

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

SealResult ApplyToFile(const Operation& op, const DirHandle& dir, const std::string& name,
                       const OpParams& params) {
  const uint8_t* key = op.request->file_key();
  switch (op.kind) {
    case OpKind::kEncrypt: {
      SealedLabel label = params.label;
      if (!Uuid::Generate(&label.guid)) return SealResult::kIoError;
      return SealFile(dir, name, key, label, nullptr);
    }
    case OpKind::kDecrypt: return UnsealFile(dir, name, key);
    case OpKind::kChangeLevel: return RelabelFile(dir, name, key, params.level, nullptr);
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

// Applies the operation to every file of `dir`, and of its sub-folders when asked. Links are not
// followed and our own temporaries are left alone.
void ApplyToFolder(const Operation& op, const DirHandle& dir, const std::string& prefix,
                   const OpParams& params, bool subfolders, int depth,
                   std::set<std::pair<uint64_t, uint64_t>>* visited, FolderTally* tally) {
  FileInfo self;
  if (!dir.StatSelf(&self) || !visited->insert({self.device, self.inode}).second) return;
  std::vector<std::string> names;
  if (!dir.List(&names)) {
    ++tally->failed;
    ReportFailure(op, prefix, "folder cannot be read: " + LastFsErrorText());
    return;
  }
  std::sort(names.begin(), names.end(), NameLess);
  for (const std::string& name : names) {
    std::string shown = prefix + name;
    if (op.request->OutOfTime()) {
      ++tally->not_reached;
      ReportFailure(op, shown, kNotReached);
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
      ++tally->failed;
      ReportFailure(op, shown, "cannot be read: " + LastFsErrorText());
      continue;
    }
    if (info.kind == FileKind::kRegular) {
      op.request->BeforeItem(shown);
      SealResult result = ApplyToFile(op, dir, name, params);
      if (result == SealResult::kOk) {
        ++tally->done;
      } else if (result == SealResult::kAlreadyDone || result == SealResult::kNotSealed) {
        ++tally->unchanged;
      } else {
        ++tally->failed;
        ReportFailure(op, shown, SealResultText(result));
      }
    } else if (info.kind == FileKind::kDirectory && subfolders) {
      if (depth >= AgentService::kMaxSearchDepth) {
        ++tally->failed;
        ReportFailure(op, shown, "folders nested too deep");
        continue;
      }
      DirHandle sub = dir.OpenSubdirectory(name);
      if (!sub.IsOpen()) {
        ++tally->failed;
        ReportFailure(op, shown, "folder cannot be opened: " + LastFsErrorText());
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

// A file item: processed, then described in the reply with its new state.
bool ProcessFile(const Operation& op, const ResolvedPath& where, const std::string& name,
                 const OpParams& params, std::string* why, bool* done) {
  if (where.info.kind != FileKind::kRegular) {
    *why = "not a file";
    return false;
  }
  op.request->BeforeItem(name);
  SealResult result = ApplyToFile(op, where.parent, where.name, params);
  if (result != SealResult::kOk && result != SealResult::kAlreadyDone) {
    *why = SealResultText(result);
    return false;
  }
  Entry entry;
  entry.shown_name = name;
  if (!where.parent.StatEntry(where.name, &entry.info) ||
      !ProbeSealedFile(where.parent, where.name, op.request->file_key(), &entry.seal,
                       &entry.label)) {
    *why = "file vanished after processing";
    return false;
  }
  *done = true;
  if (!op.budget->Fits(EntryBound(entry))) return true;
  XmlElement element = op.out.AppendElement("file");
  FillElement(element, entry);
  op.budget->Add(element);
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
                 std::string* why, bool* done) {
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
  if (!is_folder_item) return ProcessFile(op, where, name, params, why, done);
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
  Operation op{&request, kind, out, &budget};
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
    std::string why;
    bool done = false;
    if (request.OutOfTime()) {
      any_failed = true;
      ReportFailure(op, name, kNotReached);
      continue;
    }
    if (!ProcessItem(op, path, drive, item, tag == "dir", name, &why, &done)) {
      any_failed = true;
      ReportFailure(op, name, why);
    }
    any_done = any_done || done;
  }
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
