// ls, find, encrypt, decrypt, relabel: files on a managed computer, through its agent. Paths are
// written with "\" or "/" ("C:/docs/a.txt"); the first part names the drive.
//
// Changes go one file per agent request, so progress and the final report are per file and one
// failing file does not hide what happened to the others.
#include <algorithm>
#include <memory>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"
#include "tools/cli/rows.h"

namespace docsec::cli {

namespace {

struct FileArgs {
  std::string computer, path, name, level, modified_from, modified_to;
  std::vector<std::string> paths;
  bool encrypted = false, subfolders = false, case_sensitive = false, recursive = false;
  long size_from = 0, size_to = 0;
};

std::string AgentPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}

bool IsFolder(CDOAgentFile* item) {
  return item->GetObjectType() == kObjectTypeDrive || item->GetObjectType() == kObjectTypeFolder;
}

Json LevelOf(CDOAgentFile* file) {
  return file->IsAuthorizedBySecretLevel() ? LevelJson(file->GetSecretLevel()) : Json();
}

Json FileRow(CDOAgentFile* item) {
  const bool folder = IsFolder(item);
  const double modified = item->GetLastUpdateTime();
  return {{"name", TextOf(item, &CDOAgentFile::GetName)},
          {"path", TextOf(item, &CDOAgentFile::GetFullPath)},
          {"type", folder ? "folder" : "file"},
          {"size", folder ? Json() : Json(item->GetSize())},
          {"encrypted", !folder && item->GetIsEncrypted()},
          {"level", folder ? Json() : LevelOf(item)},
          {"modified", modified > 0 ? OleDateTime(modified).Format() : ""}};
}

std::vector<Column> FileColumns() {
  return {{"type", "TYPE"},           {"name", "NAME"},   {"size", "SIZE"},
          {"encrypted", "ENCRYPTED"}, {"level", "LEVEL"}, {"modified", "MODIFIED"}};
}

CDOAgentFolder& FindFolder(CDOComputer& computer, const std::string& path) {
  CDOAgentFolder* folder = computer.FindFolderByPath(AgentPath(path).c_str());
  if (folder == nullptr) Fail(kExitUsage, "no folder " + path + " on that computer");
  return *folder;
}

}  // namespace

// The item at `path`: a folder, or a file in its parent folder (matched ignoring case, as the
// agent's file systems are).
CDOAgentFile& FindItem(CDOComputer& computer, const std::string& path) {
  const std::string agent_path = AgentPath(path);
  if (CDOAgentFolder* folder = computer.FindFolderByPath(agent_path.c_str())) return *folder;
  const size_t slash = agent_path.rfind('\\');
  if (slash != std::string::npos) {
    CDOAgentFolder& parent = FindFolder(computer, agent_path.substr(0, slash));
    const std::string name = agent_path.substr(slash + 1);
    for (CDOAgentFile* item : Members<CDOAgentFile>(parent.GetSubFolderAndFiles())) {
      if (strcasecmp(TextOf(item, &CDOAgentFile::GetName).c_str(), name.c_str()) == 0) {
        return *item;
      }
    }
  }
  Fail(kExitUsage, "no file or folder " + path + " on that computer");
}

namespace {

double ParseTime(const std::string& text, const char* option) {
  if (text.empty()) return 0;
  double value = 0;
  const std::string full = text.size() == 10 ? text + " 00:00:00" : text;
  if (!OleDateTime::ParseDateTime(full.c_str(), nullptr, &value)) {
    Fail(kExitUsage, std::string(option) + " wants \"YYYY-MM-DD[ HH:MM:SS]\", not " + text);
  }
  return value;
}

void List(Context& context, const FileArgs& a) {
  context.User();
  CDOComputer& computer = context.ReachComputer(a.computer);
  DataObjectList* items = nullptr;
  if (AgentPath(a.path).empty() || a.path == "/" || a.path == "\\") {
    items = computer.GetDrivesEx();
  } else {
    items = FindFolder(computer, a.path).RefreshSubFolderAndFiles();
  }
  if (items == nullptr) Fail(kExitUnreachable, "the agent of " + a.computer + " gave no listing");
  Table table(FileColumns());
  for (CDOAgentFile* item : Members<CDOAgentFile>(items)) table.Add(FileRow(item));
  context.output().PrintTable(table);
}

void Find(Context& context, const FileArgs& a) {
  context.User();
  CDOComputer& computer = context.ReachComputer(a.computer);
  const char* pattern = a.name.empty() ? nullptr : a.name.c_str();
  const double from = ParseTime(a.modified_from, "--modified-from");
  const double to = ParseTime(a.modified_to, "--modified-to");
  ResultList found(ServerResults(
      AgentPath(a.path).empty()
          ? computer.SearchFilesWithoutPath(pattern, a.encrypted, a.subfolders, a.case_sensitive,
                                            from, to, a.size_from, a.size_to)
          : FindFolder(computer, a.path)
                .SearchFiles(pattern, a.encrypted, a.subfolders, a.case_sensitive, from, to,
                             a.size_from, a.size_to)));
  if (!found) Fail(kExitUnreachable, "the agent of " + a.computer + " did not search");
  Table table({{"path", "PATH"},
               {"size", "SIZE"},
               {"encrypted", "ENCRYPTED"},
               {"level", "LEVEL"},
               {"modified", "MODIFIED"}});
  for (CDOAgentFile* item : Members<CDOAgentFile>(found.get())) table.Add(FileRow(item));
  context.output().PrintTable(table);
}

// Records each file's outcome as the library reports it and redraws the progress line.
class ReportObserver : public FileOperationObserver {
 public:
  ReportObserver(ProgressLine& progress, size_t total) : progress_(progress), total_(total) {}
  void OnItem(CDOAgentFile* item, bool done, const char* reason) override {
    Add(item, done ? "done" : "failed", reason);
  }
  void OnItemNotRecorded(CDOAgentFile* item, const char* reason) override {
    Add(item, kNotRecorded, reason);
  }
  Json& items() { return items_; }

  static constexpr const char* kNotRecorded = "changed, not recorded";

 private:
  void Add(CDOAgentFile* item, const char* result, const char* reason) {
    const std::string path = item->GetFullPathText();
    items_.push_back({{"path", path}, {"result", result}, {"reason", reason}});
    progress_.Bar(items_.size(), total_, path);
  }

  ProgressLine& progress_;
  size_t total_;
  Json items_ = Json::array();
};

enum class Change { kEncrypt, kDecrypt, kRelabel };

// The files the paths name: files as they are, folders replaced by their files (and, with
// `recursive`, those of their sub-folders).
void Expand(CDOAgentFile* item, bool recursive, bool top, std::vector<CDOAgentFile*>* files) {
  if (!IsFolder(item)) return files->push_back(item);
  if (!top && !recursive) return;
  auto* folder = static_cast<CDOAgentFolder*>(item);
  for (CDOAgentFile* child : Members<CDOAgentFile>(folder->GetSubFolderAndFiles())) {
    Expand(child, recursive, false, files);
  }
}

void ChangeFiles(Context& context, const FileArgs& a, Change change) {
  context.User();
  CDOSecretLevel* level = a.level.empty() ? nullptr : &context.FindLevel(a.level);
  CDOComputer& computer = context.ReachComputer(a.computer);
  std::vector<CDOAgentFile*> files;
  // A path that names nothing fails alone: the others are still done, and it is reported with
  // them.
  Json missing = Json::array();
  for (const std::string& path : a.paths) {
    try {
      Expand(&FindItem(computer, path), a.recursive, true, &files);
    } catch (const CliError& error) {
      if (error.code() != kExitUsage) throw;
      missing.push_back({{"path", path}, {"result", "failed"}, {"reason", error.what()}});
    }
  }
  ProgressLine progress(context.output().err(), context.err_terminal());
  ReportObserver observer(progress, files.size());
  Json skipped = Json::array();
  for (CDOAgentFile* file : files) {
    CDOAgentFolder* folder = file->GetParentFolder();
    const bool encrypted = file->GetIsEncrypted();
    if ((change == Change::kEncrypt && encrypted) || (change != Change::kEncrypt && !encrypted)) {
      skipped.push_back({{"path", TextOf(file, &CDOAgentFile::GetFullPath)},
                         {"result", "skipped"},
                         {"reason", encrypted ? "already encrypted" : "not encrypted"}});
      continue;
    }
    folder->SetOperationObserver(&observer);
    DataObjectList one{file};
    switch (change) {
      case Change::kEncrypt:
        // The agent labels what it encrypts with the file's destination level.
        if (level != nullptr) file->SetDestSecretLevelId(level->GetId());
        folder->EncryptFiles(&one, 0);
        break;
      case Change::kDecrypt: folder->DecryptFiles(&one, 0); break;
      case Change::kRelabel: folder->ChangeSerLevelFiles(&one, level); break;
    }
    folder->SetOperationObserver(nullptr);
  }
  progress.Clear();

  Json items = observer.items();
  size_t done = 0;
  size_t unrecorded = 0;
  std::string unrecorded_reason;
  for (const Json& item : items) {
    done += item["result"] == "done" ? 1 : 0;
    if (item["result"] == ReportObserver::kNotRecorded) {
      ++unrecorded;
      unrecorded_reason = item["reason"].get<std::string>();
    }
  }
  const size_t failed = items.size() - done - unrecorded + missing.size();
  for (Json& item : missing) items.push_back(std::move(item));
  for (Json& item : skipped) items.push_back(std::move(item));
  Output& output = context.output();
  if (output.json()) {
    output.PrintRecord({{"computer", a.computer},
                        {"done", done},
                        {"failed", failed},
                        {"notRecorded", unrecorded},
                        {"skipped", skipped.size()},
                        {"items", items}});
  } else {
    Table table({{"result", "RESULT"}, {"path", "PATH"}, {"reason", "REASON"}});
    for (Json& item : items) {
      const std::string result = item["result"];
      item["result"] = result == "done" ? output.Good(result)
                       : result == "failed" || result == ReportObserver::kNotRecorded
                           ? output.Bad(result)
                           : result;
      table.Add(item);
    }
    output.PrintDetails(table);
    output.Say(std::to_string(done) + " done, " + std::to_string(failed) + " failed, " +
               (unrecorded > 0 ? std::to_string(unrecorded) + " changed but not recorded, " : "") +
               std::to_string(skipped.size()) + " skipped");
  }
  // A change without its log entry is the worst outcome for an audit trail, whatever else
  // happened: it leads the exit status and names its cause.
  if (unrecorded > 0) {
    Fail(kExitPartial,
         std::to_string(unrecorded) + " of " + std::to_string(done + failed + unrecorded) +
             " files were changed but their log entries not recorded: " + unrecorded_reason);
  }
  // Files skipped had nothing to do: with them the batch is partly right, not all wrong.
  if (failed > 0 && (done > 0 || !skipped.empty())) {
    Fail(kExitPartial, std::to_string(failed) + " of " +
                           std::to_string(done + failed + skipped.size()) + " files failed");
  }
  if (failed > 0) Fail(kExitRefused, "no file was changed");
}

}  // namespace

void RegisterFileCommands(CLI::App& app, Context& context) {
  auto args = std::make_shared<FileArgs>();
  FileArgs& a = *args;

  auto* ls = app.add_subcommand("ls", "list a folder (or the drives) of a computer");
  ls->add_option("COMPUTER", a.computer, "name, IP address or UUID")->required();
  ls->add_option("PATH", a.path, "a folder such as C:/docs (default: the drives)");
  ls->callback([&context, args] { List(context, *args); });

  auto* find = app.add_subcommand("find", "search files below a folder of a computer");
  find->add_option("COMPUTER", a.computer, "name, IP address or UUID")->required();
  find->add_option("PATH", a.path, "the folder (default: the whole computer)");
  find->add_option("--name", a.name, "a name pattern such as *.docx");
  find->add_flag("--encrypted", a.encrypted, "encrypted files only");
  find->add_flag("--subfolders", a.subfolders, "search the sub-folders too");
  find->add_flag("--case-sensitive", a.case_sensitive, "match the name's letter case");
  find->add_option("--size-from", a.size_from, "at least this many bytes");
  find->add_option("--size-to", a.size_to, "at most this many bytes");
  find->add_option("--modified-from", a.modified_from,
                   "modified at or after YYYY-MM-DD[ HH:MM:SS]");
  find->add_option("--modified-to", a.modified_to, "modified at or before YYYY-MM-DD[ HH:MM:SS]");
  find->callback([&context, args] { Find(context, *args); });

  const struct {
    const char* name;
    const char* help;
    Change change;
  } kChanges[] = {{"encrypt", "encrypt files (folders: the files in them)", Change::kEncrypt},
                  {"decrypt", "decrypt files (folders: the files in them)", Change::kDecrypt},
                  {"relabel", "give encrypted files another secret level", Change::kRelabel}};
  for (const auto& entry : kChanges) {
    auto* command = app.add_subcommand(entry.name, entry.help);
    command->add_option("COMPUTER", a.computer, "name, IP address or UUID")->required();
    command->add_option("PATH", a.paths, "files or folders")->required();
    command->add_flag("--recursive,-r", a.recursive, "include the files of sub-folders");
    if (entry.change == Change::kRelabel) {
      command->add_option("--level", a.level, "the secret level, id or name")->required();
    } else if (entry.change == Change::kEncrypt) {
      command->add_option("--level", a.level,
                          "label the files with this secret level, id or name (default: none)");
    }
    const Change change = entry.change;
    command->callback([&context, args, change] { ChangeFiles(context, *args, change); });
  }
}

}  // namespace docsec::cli
