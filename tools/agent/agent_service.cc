#include "tools/agent/agent_service.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <tuple>
#include <utility>

#include "docsec/platform/trace.h"
#include "tools/agent/sealed_file.h"

namespace docsec::agent {
namespace {

constexpr char kTempPrefix[] = ".~docsec-";  // our own replacement files, never listed or touched
constexpr size_t kMaxPatternSize = 1024;
constexpr size_t kMaxPathSize = 32768;

// ---- text helpers ----

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Decodes UTF-8 into code points; a byte that starts no valid sequence stands for itself
// (offset into a private range) so that every name still matches byte-exactly against itself.
std::vector<uint32_t> DecodeUtf8(const std::string& text, bool* valid) {
  std::vector<uint32_t> out;
  out.reserve(text.size());
  if (valid) *valid = true;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
               (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)) {
      ok = false;
    }
    if (!ok) {
      if (valid) *valid = false;
      out.push_back(0x110000u + c);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

// A name that can travel in a reply and be named again in a request: valid UTF-8, no control
// characters (XML cannot carry them), no "\" (our separator) and not one of our own temporaries.
bool IsListableName(const std::string& name) {
  if (name.empty() || name.rfind(kTempPrefix, 0) == 0) return false;
  bool valid = false;
  std::vector<uint32_t> points = DecodeUtf8(name, &valid);
  if (!valid) return false;
  for (uint32_t cp : points) {
    if (cp < 0x20 || cp == 0x7F || cp == '\\' || cp == 0xFFFE || cp == 0xFFFF) return false;
  }
  return true;
}

// A single item name of a request.
bool IsPlainItemName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('\\') == std::string::npos &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string TypeOfFile(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "file";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = AsciiLower(c);
  return ext;
}

std::string LeafName(const std::string& shown) {
  size_t sep = shown.rfind('\\');
  return sep == std::string::npos ? shown : shown.substr(sep + 1);
}

bool NameLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = AsciiLower(a[i]), y = AsciiLower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// Bytes an attribute value takes once escaped.
size_t EscapedSize(const std::string& text) {
  size_t size = 0;
  for (char c : text) {
    switch (c) {
      case '&':
        size += 5;
        break;
      case '<':
      case '>':
        size += 4;
        break;
      case '"':
      case '\'':
        size += 6;
        break;
      default:
        size += 1;
    }
  }
  return size;
}

// ---- attribute readers ----

enum class AttrStatus { kAbsent, kOk, kInvalid };

AttrStatus ReadBool(const XmlElement& element, const char* name, bool* value) {
  const char* text = element.GetAttribute(name);
  if (text == nullptr) return AttrStatus::kAbsent;
  std::string t(text);
  for (char& c : t) c = AsciiLower(c);
  if (t == "true" || t == "1" || t == "-1") {
    *value = true;
  } else if (t == "false" || t == "0") {
    *value = false;
  } else {
    return AttrStatus::kInvalid;
  }
  return AttrStatus::kOk;
}

AttrStatus ReadInt(const XmlElement& element, const char* name, int64_t* value) {
  const char* text = element.GetAttribute(name);
  if (text == nullptr) return AttrStatus::kAbsent;
  const char* p = text;
  while (*p == ' ') ++p;
  if (*p == '\0') return AttrStatus::kInvalid;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(p, &end, 10);
  while (end && *end == ' ') ++end;
  if (errno != 0 || end == p || *end != '\0') return AttrStatus::kInvalid;
  *value = parsed;
  return AttrStatus::kOk;
}

// ---- paths ----

enum class PathStatus { kOk, kRefused, kNotFound };

struct AgentPath {
  bool is_root = true;  // the empty path: the list of drives
  std::string drive;
  std::vector<std::string> names;
};

// Splits "C:\docs\a" into the drive and the names below it. Empty and "." parts are dropped;
// "..", NUL bytes and paths that start with a separator (absolute, or a network name) are refused.
PathStatus SplitAgentPath(const std::string& text, AgentPath* out, std::string* why) {
  *out = AgentPath();
  if (text.find('\0') != std::string::npos) {
    *why = "path holds a NUL byte";
    return PathStatus::kRefused;
  }
  if (text.size() > kMaxPathSize) {
    *why = "path too long";
    return PathStatus::kRefused;
  }
  if (text.empty()) return PathStatus::kOk;
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t sep = text.find_first_of("\\/", start);
    parts.push_back(text.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
    if (sep == std::string::npos) break;
    start = sep + 1;
  }
  if (parts[0].empty()) {
    *why = "absolute paths are not served";
    return PathStatus::kRefused;
  }
  out->is_root = false;
  out->drive = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty() || parts[i] == ".") continue;
    if (parts[i] == "..") {
      *why = "\"..\" is not allowed in paths";
      return PathStatus::kRefused;
    }
    out->names.push_back(parts[i]);
  }
  return PathStatus::kOk;
}

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

void FillElement(XmlElement element, const Entry& entry) {
  element.AppendAttribute("name", entry.shown_name.c_str());
  element.AppendAttribute("size",
                          entry.is_directory ? 0LL : static_cast<long long>(entry.info.size));
  element.AppendAttribute("type", entry.is_drive       ? "drive"
                                  : entry.is_directory ? "folder"
                                                       : TypeOfFile(entry.shown_name).c_str());
  element.AppendAttribute("modifytime", FormatLocalTime(entry.info.modify_time).c_str());
  element.AppendAttribute("createTime", FormatLocalTime(entry.info.create_time).c_str());
  element.AppendAttribute("readonly", (entry.info.mode & 0200) == 0 ? "true" : "false");
  bool hidden = !entry.is_drive && LeafName(entry.shown_name).rfind('.', 0) == 0;
  element.AppendAttribute("hidden", hidden ? "true" : "false");
  bool sealed = entry.seal != SealState::kPlain;
  element.AppendAttribute("encrypted", sealed ? "true" : "false");
  // A file in our format that does not verify under our key is reported encrypted, but its
  // label is not vouched for.
  bool labelled = entry.seal == SealState::kSealed;
  element.AppendAttribute("secretLevelId", labelled ? entry.label.secret_level : -1LL);
  element.AppendAttribute("departmentId", labelled ? entry.label.department : -1LL);
  element.AppendAttribute("GUID", labelled ? entry.label.guid.ToString().c_str() : "");
  if (entry.seal == SealState::kForeign) element.AppendAttribute("verified", "false");
}

// An upper bound of the bytes an entry's element takes, so a reply can stop before its limit.
size_t EntryBound(const Entry& entry) { return 320 + EscapedSize(entry.shown_name); }

// Appends elements while they fit the reply budget; marks the container when one did not.
class ReplyBudget {
 public:
  explicit ReplyBudget(XmlElement container) : container_(std::move(container)) {}
  bool Fits(size_t bound) {
    if (used_ + bound <= AgentService::kReplyBudget) return true;
    Truncate();
    return false;
  }
  void Add(const XmlElement& element) { used_ += element.Xml().size(); }
  void Truncate() {
    if (!truncated_) container_.SetAttribute("truncated", "true");
    truncated_ = true;
  }
  bool truncated() const { return truncated_; }

 private:
  XmlElement container_;
  size_t used_ = 0;
  bool truncated_ = false;
};

// ---- search condition ----

struct SearchCondition {
  std::string pattern;
  bool encrypted_only = false;
  bool subfolders = false;
  bool case_sensitive = false;
  bool has_size_from = false, has_size_to = false;
  int64_t size_from = 0, size_to = 0;
  bool has_time_from = false, has_time_to = false;
  int64_t time_from = 0, time_to = 0;

  // The checks that need no reading of the file.
  bool MatchesCheaply(const std::string& name, const FileInfo& info) const {
    if (has_size_from && static_cast<int64_t>(info.size) < size_from) return false;
    if (has_size_to && static_cast<int64_t>(info.size) > size_to) return false;
    if (has_time_from && info.modify_time < time_from) return false;
    if (has_time_to && info.modify_time > time_to) return false;
    return MatchNamePattern(pattern, name, case_sensitive);
  }
};

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
};

}  // namespace

// ---- public free functions ----

bool ParseDriveOption(const std::string& option_text, AgentDrive* drive, std::string* error) {
  size_t eq = option_text.find('=');
  if (eq == std::string::npos) {
    *error = "drive must be given as NAME=DIR: " + option_text;
    return false;
  }
  std::string name = option_text.substr(0, eq);
  std::string dir = option_text.substr(eq + 1);
  if (name.empty() || dir.empty()) {
    *error = "drive name and directory must not be empty: " + option_text;
    return false;
  }
  if (!IsPlainItemName(name) || !IsListableName(name)) {
    *error = "drive name must be a single plain name without \\ or /: " + name;
    return false;
  }
  drive->name = name;
  drive->directory = dir;
  return true;
}

bool MatchNamePattern(const std::string& pattern, const std::string& name, bool case_sensitive) {
  if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
  std::vector<uint32_t> p = DecodeUtf8(pattern, nullptr);
  std::vector<uint32_t> s = DecodeUtf8(name, nullptr);
  auto fold = [case_sensitive](uint32_t c) {
    return (!case_sensitive && c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
  };
  // Greedy match with one back-track point at the last "*": linear in practice, never
  // exponential.
  size_t pi = 0, si = 0, star = SIZE_MAX, mark = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && fold(p[pi]) == fold(s[si])))) {
      ++pi;
      ++si;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = si;
    } else if (star != SIZE_MAX) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

// ---- AgentService::Request: one request's handling ----

class AgentService::Request {
 public:
  Request(AgentService* service, const XmlDocument& request)
      : service_(service), request_(request) {}

  XmlDocument Run() {
    reply_ = XmlDocument::Create();
    if (!reply_) return reply_;
    reply_.AppendProcessingInstruction("xml", "version=\"1.0\"");
    root_ = reply_.CreateDocumentElement("document");
    retcode_ = root_.AppendElement("retcode");
    int code = kRetInternal;
    try {
      code = Dispatch();
    } catch (const std::exception& e) {
      Trace("agent: request failed: %s", e.what());
      code = Fail(kRetInternal, "internal error");
    }
    retcode_.SetAttribute("value", static_cast<long long>(code));
    return reply_;
  }

 private:
  int Fail(int code, const std::string& why) {
    XmlElement error = root_.SelectChild("error");
    if (!error) error = root_.AppendElement("error");
    error.SetAttribute("value", why);
    return code;
  }

  int Dispatch() {
    if (!request_) return Fail(kRetMalformed, "no request document");
    XmlElement root = request_.DocumentElement();
    if (!root) return Fail(kRetMalformed, "request has no root element");
    XmlElement service = root.SelectChild("service");
    const char* name = service ? service.GetAttribute("value") : nullptr;
    if (name == nullptr) return Fail(kRetMalformed, "request names no service");
    std::string service_name(name);
    if (service_name == "GetStatus") {
      root_.AppendElement("status").SetAttribute("value", 0LL);
      root_.AppendElement("uuid").SetAttribute("value", service_->state_.uuid.ToString());
      return kRetOk;
    }
    if (service_name == "NotifyApproveStatus") {
      service_->approve_notifications_.fetch_add(1);
      return kRetOk;
    }
    if (service_name == "LocateFile") return LocateFile(root);
    if (service_name == "QueryFile") return QueryFile(root);
    if (service_name == "EncryptFile") return FileOperation(root, OpKind::kEncrypt);
    if (service_name == "DecryptFile") return FileOperation(root, OpKind::kDecrypt);
    if (service_name == "ChangeSecretLevel") return FileOperation(root, OpKind::kChangeLevel);
    return Fail(kRetUnknownService, "unknown service: " + service_name);
  }

  // ---- locating ----

  // Resolves a path that must name a folder (a drive root included) and opens it.
  int OpenFolder(const AgentPath& path, const Drive** drive, DirHandle* dir) {
    *drive = service_->FindDrive(path.drive);
    if (*drive == nullptr) return Fail(kRetNotFound, "no drive named " + path.drive);
    ResolvedPath where;
    int code = Resolve(**drive, path.names, &where);
    if (code != kRetOk) return code;
    if (where.info.kind != FileKind::kDirectory) return Fail(kRetNotFound, "not a folder");
    *dir = where.parent.IsOpen() ? where.parent.OpenSubdirectory(where.name)
                                 : (*drive)->root.Duplicate();
    if (!dir->IsOpen()) return Fail(kRetNotFound, "folder cannot be opened: " + LastFsErrorText());
    return kRetOk;
  }

  int Resolve(const Drive& drive, const std::vector<std::string>& names, ResolvedPath* where) {
    switch (ResolveBeneath(drive.root, names, where)) {
      case ResolveStatus::kOk:
        return kRetOk;
      case ResolveStatus::kNotFound:
        return Fail(kRetNotFound, "no such file or folder");
      case ResolveStatus::kEscapes:
        return Fail(kRetPathRefused, "path leads outside its drive");
      case ResolveStatus::kTooManyLinks:
        return Fail(kRetPathRefused, "too many symbolic links");
      case ResolveStatus::kError:
        break;
    }
    return Fail(kRetNotFound, "path cannot be resolved: " + LastFsErrorText());
  }

  int ParsePath(const char* text, AgentPath* path) {
    std::string why;
    switch (SplitAgentPath(text ? text : "", path, &why)) {
      case PathStatus::kOk:
        return kRetOk;
      case PathStatus::kRefused:
        return Fail(kRetPathRefused, why);
      case PathStatus::kNotFound:
        break;
    }
    return Fail(kRetNotFound, why);
  }

  // The entry `name` of `dir` (whose names below the drive are `dir_names`): links are followed
  // when they stay inside the drive, anything else that is neither a folder nor a regular file is
  // left out. `probe` reads the sealed header of files.
  bool DescribeEntry(const Drive& drive, const DirHandle& dir,
                     const std::vector<std::string>& dir_names, const std::string& name, bool probe,
                     Entry* entry) {
    if (!IsListableName(name)) return false;
    FileInfo info;
    if (!dir.StatEntry(name, &info)) return false;
    ResolvedPath target;
    const DirHandle* holder = &dir;
    std::string real_name = name;
    if (info.kind == FileKind::kSymlink) {
      std::vector<std::string> names = dir_names;
      names.push_back(name);
      if (ResolveBeneath(drive.root, names, &target) != ResolveStatus::kOk) return false;
      info = target.info;
      if (target.parent.IsOpen()) {
        holder = &target.parent;
        real_name = target.name;
      }
    }
    if (info.kind != FileKind::kDirectory && info.kind != FileKind::kRegular) return false;
    entry->info = info;
    entry->is_directory = info.kind == FileKind::kDirectory;
    entry->seal = SealState::kPlain;
    if (probe && !entry->is_directory &&
        !ProbeSealedFile(*holder, real_name, service_->state_.file_key, &entry->seal,
                         &entry->label)) {
      entry->seal = SealState::kPlain;
    }
    return true;
  }

  int LocateFile(const XmlElement& root) {
    XmlElement dir_element = root.SelectChild("dir");
    if (!dir_element) return Fail(kRetMalformed, "LocateFile needs a dir element");
    AgentPath path;
    int code = ParsePath(dir_element.GetAttribute("path"), &path);
    if (code != kRetOk) return code;
    XmlElement out = root_.AppendElement("dir");
    ReplyBudget budget(out);
    if (path.is_root) {
      for (const Drive& drive : service_->drives_) {
        Entry entry;
        entry.shown_name = drive.name;
        entry.is_directory = entry.is_drive = true;
        if (!drive.root.StatSelf(&entry.info)) continue;
        if (!budget.Fits(EntryBound(entry))) break;
        XmlElement element = out.AppendElement("dir");
        FillElement(element, entry);
        budget.Add(element);
      }
      return kRetOk;
    }
    const Drive* drive = nullptr;
    DirHandle dir;
    code = OpenFolder(path, &drive, &dir);
    if (code != kRetOk) return code;
    std::vector<std::string> names;
    if (!dir.List(&names)) return Fail(kRetNotFound, "folder cannot be read: " + LastFsErrorText());
    std::sort(names.begin(), names.end(), NameLess);
    std::vector<Entry> folders, files;
    for (const std::string& name : names) {
      Entry entry;
      entry.shown_name = name;
      if (!DescribeEntry(*drive, dir, path.names, name, false, &entry)) continue;
      (entry.is_directory ? folders : files).push_back(std::move(entry));
    }
    for (std::vector<Entry>* group : {&folders, &files}) {
      for (Entry& entry : *group) {
        if (!budget.Fits(EntryBound(entry))) return kRetOk;
        // Headers are read only for what goes into the reply.
        if (!entry.is_directory) {
          DescribeEntry(*drive, dir, path.names, entry.shown_name, true, &entry);
        }
        XmlElement element = out.AppendElement(entry.is_directory ? "dir" : "file");
        FillElement(element, entry);
        budget.Add(element);
      }
    }
    return kRetOk;
  }

  // ---- searching ----

  int ReadCondition(const XmlElement& condition, SearchCondition* c) {
    const char* pattern = condition.GetAttribute("name");
    if (pattern) {
      c->pattern = pattern;
      if (c->pattern.size() > kMaxPatternSize) return Fail(kRetMalformed, "name pattern too long");
    }
    struct BoolField {
      const char* name;
      bool* value;
    };
    for (const BoolField& field :
         {BoolField{"encrypted", &c->encrypted_only}, BoolField{"subfolder", &c->subfolders},
          BoolField{"casesensitive", &c->case_sensitive}}) {
      if (ReadBool(condition, field.name, field.value) == AttrStatus::kInvalid) {
        return Fail(kRetMalformed, std::string("condition ") + field.name + " is not a boolean");
      }
    }
    if (XmlElement size = condition.SelectChild("size")) {
      for (auto [attr, has, value] : {std::make_tuple("from", &c->has_size_from, &c->size_from),
                                      std::make_tuple("to", &c->has_size_to, &c->size_to)}) {
        AttrStatus status = ReadInt(size, attr, value);
        if (status == AttrStatus::kInvalid) {
          return Fail(kRetMalformed, std::string("size ") + attr + " is not an integer");
        }
        // Bounds of 0 or below mean no bound, as the library sends them.
        *has = status == AttrStatus::kOk && *value > 0;
      }
    }
    if (XmlElement time = condition.SelectChild("modifytime")) {
      for (auto [attr, has, value] : {std::make_tuple("from", &c->has_time_from, &c->time_from),
                                      std::make_tuple("to", &c->has_time_to, &c->time_to)}) {
        const char* text = time.GetAttribute(attr);
        if (text == nullptr || *text == '\0') continue;
        if (!ParseLocalTime(text, value)) {
          return Fail(kRetMalformed, std::string("modifytime ") + attr + " is not a date");
        }
        *has = true;
      }
    }
    return kRetOk;
  }

  struct SearchState {
    const SearchCondition* condition;
    ReplyBudget* budget;
    XmlElement out;
    std::set<std::pair<uint64_t, uint64_t>> visited;  // folders seen, against loops
    size_t entries = 0;
  };

  // Reports the matching files of `dir`, then searches its sub-folders when asked. Folders
  // reached through links are not entered, so link loops cannot recurse.
  void SearchFolder(const Drive& drive, const DirHandle& dir, std::vector<std::string>* dir_names,
                    const std::string& prefix, int depth, SearchState* s) {
    FileInfo self;
    if (!dir.StatSelf(&self) || !s->visited.insert({self.device, self.inode}).second) return;
    std::vector<std::string> names;
    if (!dir.List(&names)) return;
    std::sort(names.begin(), names.end(), NameLess);
    std::vector<std::string> subfolders;
    for (const std::string& name : names) {
      if (s->budget->truncated()) return;
      if (++s->entries > AgentService::kMaxSearchEntries) {
        s->budget->Truncate();
        return;
      }
      Entry entry;
      entry.shown_name = prefix + name;
      if (!DescribeEntry(drive, dir, *dir_names, name, false, &entry)) continue;
      if (entry.is_directory) {
        FileInfo own;
        // Only real sub-folders are searched, never ones reached through a link.
        if (dir.StatEntry(name, &own) && own.kind == FileKind::kDirectory)
          subfolders.push_back(name);
        continue;
      }
      if (!s->condition->MatchesCheaply(name, entry.info)) continue;
      Entry probed = entry;
      DescribeEntry(drive, dir, *dir_names, name, true, &probed);
      if (s->condition->encrypted_only && probed.seal == SealState::kPlain) continue;
      if (!s->budget->Fits(EntryBound(probed))) return;
      XmlElement element = s->out.AppendElement("file");
      FillElement(element, probed);
      s->budget->Add(element);
    }
    if (!s->condition->subfolders) return;
    if (depth >= AgentService::kMaxSearchDepth) {
      if (!subfolders.empty()) s->budget->Truncate();
      return;
    }
    for (const std::string& name : subfolders) {
      if (s->budget->truncated()) return;
      DirHandle sub = dir.OpenSubdirectory(name);
      if (!sub.IsOpen()) continue;
      dir_names->push_back(name);
      SearchFolder(drive, sub, dir_names, prefix + name + "\\", depth + 1, s);
      dir_names->pop_back();
    }
  }

  int QueryFile(const XmlElement& root) {
    XmlElement condition = root.SelectChild("condition");
    if (!condition) return Fail(kRetMalformed, "QueryFile needs a condition element");
    const char* path_text = condition.GetAttribute("path");
    if (path_text == nullptr) {
      XmlElement dir_element = root.SelectChild("dir");
      path_text = dir_element ? dir_element.GetAttribute("path") : nullptr;
    }
    if (path_text == nullptr) return Fail(kRetMalformed, "QueryFile names no folder");
    SearchCondition c;
    int code = ReadCondition(condition, &c);
    if (code != kRetOk) return code;
    AgentPath path;
    code = ParsePath(path_text, &path);
    if (code != kRetOk) return code;

    XmlElement out = root_.AppendElement("dir");
    ReplyBudget budget(out);
    SearchState state{&c, &budget, out, {}, 0};
    if (path.is_root) {
      // The root holds no files; with sub-folders every drive is searched, names starting with
      // the drive's.
      if (!c.subfolders) return kRetOk;
      for (const Drive& drive : service_->drives_) {
        std::vector<std::string> names;
        SearchFolder(drive, drive.root, &names, drive.name + "\\", 1, &state);
      }
      return kRetOk;
    }
    const Drive* drive = nullptr;
    DirHandle dir;
    code = OpenFolder(path, &drive, &dir);
    if (code != kRetOk) return code;
    std::vector<std::string> names = path.names;
    SearchFolder(*drive, dir, &names, "", 0, &state);
    return kRetOk;
  }

  // ---- file operations ----

  // Reads level and department for `kind` from an item or folder element; false (with the
  // reason in *why) when they are unreadable.
  static bool ReadOpParams(const XmlElement& element, OpKind kind, OpParams* params,
                           std::string* why) {
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

  SealResult ApplyToFile(const DirHandle& dir, const std::string& name, OpKind kind,
                         const OpParams& params) {
    const uint8_t* key = service_->state_.file_key;
    switch (kind) {
      case OpKind::kEncrypt: {
        SealedLabel label = params.label;
        if (!Uuid::Generate(&label.guid)) return SealResult::kIoError;
        return SealFile(dir, name, key, label, nullptr);
      }
      case OpKind::kDecrypt:
        return UnsealFile(dir, name, key);
      case OpKind::kChangeLevel:
        return RelabelFile(dir, name, key, params.level, nullptr);
    }
    return SealResult::kIoError;
  }

  void ReportFailure(XmlElement out, ReplyBudget* budget, const std::string& name,
                     const std::string& reason) {
    Trace("agent: %s: %s", name.c_str(), reason.c_str());
    if (!budget->Fits(64 + EscapedSize(name) + EscapedSize(reason))) return;
    XmlElement failed = out.AppendElement("failed");
    failed.AppendAttribute("name", name.c_str());
    failed.AppendAttribute("reason", reason.c_str());
    budget->Add(failed);
  }

  // Applies the operation to every file of `dir`, and of its sub-folders when asked. Links are
  // not followed and our own temporaries are left alone.
  void ApplyToFolder(const DirHandle& dir, const std::string& prefix, OpKind kind,
                     const OpParams& params, bool subfolders, int depth,
                     std::set<std::pair<uint64_t, uint64_t>>* visited, FolderTally* tally,
                     XmlElement out, ReplyBudget* budget) {
    FileInfo self;
    if (!dir.StatSelf(&self) || !visited->insert({self.device, self.inode}).second) return;
    std::vector<std::string> names;
    if (!dir.List(&names)) {
      ++tally->failed;
      ReportFailure(out, budget, prefix, "folder cannot be read: " + LastFsErrorText());
      return;
    }
    std::sort(names.begin(), names.end(), NameLess);
    for (const std::string& name : names) {
      if (name.rfind(kTempPrefix, 0) == 0) continue;
      FileInfo info;
      if (!dir.StatEntry(name, &info)) continue;
      std::string shown = prefix + name;
      if (info.kind == FileKind::kRegular) {
        SealResult result = ApplyToFile(dir, name, kind, params);
        if (result == SealResult::kOk) {
          ++tally->done;
        } else if (result == SealResult::kAlreadyDone || result == SealResult::kNotSealed) {
          ++tally->unchanged;
        } else {
          ++tally->failed;
          ReportFailure(out, budget, shown, SealResultText(result));
        }
      } else if (info.kind == FileKind::kDirectory && subfolders) {
        if (depth >= AgentService::kMaxSearchDepth) {
          ++tally->failed;
          ReportFailure(out, budget, shown, "folders nested too deep");
          continue;
        }
        DirHandle sub = dir.OpenSubdirectory(name);
        if (!sub.IsOpen()) {
          ++tally->failed;
          ReportFailure(out, budget, shown, "folder cannot be opened: " + LastFsErrorText());
          continue;
        }
        ApplyToFolder(sub, shown + "\\", kind, params, true, depth + 1, visited, tally, out,
                      budget);
      }
    }
  }

  int FileOperation(const XmlElement& root, OpKind kind) {
    XmlElement folder = root.SelectChild("dir");
    if (!folder) return Fail(kRetMalformed, "request needs a dir element");
    const char* path_text = folder.GetAttribute("path");
    if (path_text == nullptr) return Fail(kRetMalformed, "dir element has no path");
    AgentPath path;
    int code = ParsePath(path_text, &path);
    if (code != kRetOk) return code;
    const Drive* drive = nullptr;
    if (!path.is_root) {
      // The folder itself must be there and inside its drive before any item is looked at.
      DirHandle unused;
      code = OpenFolder(path, &drive, &unused);
      if (code != kRetOk) return code;
    }

    XmlElement out = root_.AppendElement("dir");
    out.SetAttribute("path", path_text);
    ReplyBudget budget(out);
    std::lock_guard<std::mutex> lock(service_->file_ops_mutex_);
    // The console writes an audit entry for every item the reply lists as done, so a request in
    // which some items were done must not be answered as a failure: the entries for the files
    // that did change would be lost. Only a request in which nothing was done fails.
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
      if (!ProcessItem(path, drive, item, tag == "dir", name, kind, out, &budget, &why, &done)) {
        any_failed = true;
        ReportFailure(out, &budget, name, why);
      }
      any_done = any_done || done;
    }
    if (any_failed && !any_done) return Fail(kRetItemsFailed, "no item could be processed");
    return kRetOk;
  }

  bool ProcessItem(const AgentPath& folder_path, const Drive* drive, const XmlElement& item,
                   bool is_folder_item, const std::string& name, OpKind kind, XmlElement out,
                   ReplyBudget* budget, std::string* why, bool* done) {
    if (!IsPlainItemName(name)) {
      *why = "invalid item name";
      return false;
    }
    OpParams params;
    if (!ReadOpParams(item, kind, &params, why)) return false;
    std::vector<std::string> names = folder_path.names;
    if (folder_path.is_root) {
      drive = service_->FindDrive(name);  // items of the root are drives
      if (drive == nullptr) {
        *why = "no drive named " + name;
        return false;
      }
    } else {
      names.push_back(name);
    }
    ResolvedPath where;
    switch (ResolveBeneath(drive->root, names, &where)) {
      case ResolveStatus::kOk:
        break;
      case ResolveStatus::kNotFound:
        *why = "no such file or folder";
        return false;
      case ResolveStatus::kEscapes:
        *why = "path leads outside its drive";
        return false;
      case ResolveStatus::kTooManyLinks:
        *why = "too many symbolic links";
        return false;
      case ResolveStatus::kError:
        *why = "path cannot be resolved: " + LastFsErrorText();
        return false;
    }
    Entry entry;
    entry.shown_name = name;
    if (!is_folder_item) {
      if (where.info.kind != FileKind::kRegular) {
        *why = "not a file";
        return false;
      }
      SealResult result = ApplyToFile(where.parent, where.name, kind, params);
      if (result != SealResult::kOk && result != SealResult::kAlreadyDone) {
        *why = SealResultText(result);
        return false;
      }
      if (!where.parent.StatEntry(where.name, &entry.info) ||
          !ProbeSealedFile(where.parent, where.name, service_->state_.file_key, &entry.seal,
                           &entry.label)) {
        *why = "file vanished after processing";
        return false;
      }
      *done = true;
      if (!budget->Fits(EntryBound(entry))) return true;
      XmlElement element = out.AppendElement("file");
      FillElement(element, entry);
      budget->Add(element);
      return true;
    }

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
        where.parent.IsOpen() ? where.parent.OpenSubdirectory(where.name) : drive->root.Duplicate();
    if (!dir.IsOpen()) {
      *why = "folder cannot be opened: " + LastFsErrorText();
      return false;
    }
    FolderTally tally;
    std::set<std::pair<uint64_t, uint64_t>> visited;
    ApplyToFolder(dir, name + "\\", kind, params, subfolders, 0, &visited, &tally, out, budget);
    entry.is_directory = true;
    entry.is_drive = folder_path.is_root;
    dir.StatSelf(&entry.info);
    if (budget->Fits(EntryBound(entry) + 64)) {
      XmlElement element = out.AppendElement("dir");
      FillElement(element, entry);
      element.AppendAttribute("filesDone", static_cast<long long>(tally.done));
      element.AppendAttribute("filesUnchanged", static_cast<long long>(tally.unchanged));
      element.AppendAttribute("filesFailed", static_cast<long long>(tally.failed));
      budget->Add(element);
    }
    *done = tally.done + tally.unchanged > 0 || tally.failed == 0;
    if (tally.failed > 0) {
      *why = std::to_string(tally.failed) + " file(s) in the folder failed";
      return false;
    }
    return true;
  }

  AgentService* service_;
  const XmlDocument& request_;
  XmlDocument reply_;
  XmlElement root_;
  XmlElement retcode_;
};

// ---- AgentService ----

std::unique_ptr<AgentService> AgentService::Create(const AgentServiceOptions& options,
                                                   std::string* error) {
  std::unique_ptr<AgentService> service(new AgentService());
  for (const AgentDrive& given : options.drives) {
    std::string why;
    AgentDrive checked;
    if (!ParseDriveOption(given.name + "=" + given.directory, &checked, &why)) {
      *error = why;
      return nullptr;
    }
    for (const Drive& existing : service->drives_) {
      if (EqualsIgnoreCase(existing.name, given.name)) {
        *error = "two drives named " + given.name;
        return nullptr;
      }
    }
    Drive drive;
    drive.name = given.name;
    drive.root = DirHandle::Open(given.directory, &why);
    if (!drive.root.IsOpen()) {
      *error = "drive " + given.name + ": " + why;
      return nullptr;
    }
    service->drives_.push_back(std::move(drive));
  }
  if (!LoadAgentState(options.state_dir, options.uuid, &service->state_, error)) return nullptr;
  // A state directory inside a served drive would let a console encrypt the agent's own key,
  // which would make every file it ever encrypted unrecoverable.
  DirHandle state = DirHandle::Open(options.state_dir, error);
  if (!state.IsOpen()) return nullptr;
  const std::string& state_path = state.CanonicalPath();
  for (const Drive& drive : service->drives_) {
    const std::string& root = drive.root.CanonicalPath();
    if (state_path.empty() || root.empty() || root == "/" || state_path == root ||
        state_path.compare(0, root.size() + 1, root + "/") == 0) {
      *error = "state directory " + options.state_dir + " must not lie inside drive " + drive.name;
      return nullptr;
    }
  }
  return service;
}

AgentService::~AgentService() {
  // Do not leave the key lying in freed memory longer than needed.
  volatile uint8_t* key = state_.file_key;
  for (size_t i = 0; i < kFileKeySize; ++i) key[i] = 0;
}

const AgentService::Drive* AgentService::FindDrive(const std::string& name) const {
  for (const Drive& drive : drives_) {
    if (drive.name == name) return &drive;
  }
  for (const Drive& drive : drives_) {
    if (EqualsIgnoreCase(drive.name, name)) return &drive;
  }
  return nullptr;
}

XmlDocument AgentService::Handle(const XmlDocument& request) {
  try {
    Request handler(this, request);
    return handler.Run();
  } catch (const std::exception& e) {
    Trace("agent: cannot build a reply: %s", e.what());
  }
  return XmlDocument();
}

}  // namespace docsec::agent
