#include "tools/agent/agent_request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "docsec/platform/text.h"

namespace docsec::agent {
namespace {

constexpr size_t kMaxPathSize = 32768;

enum class PathStatus { kOk, kRefused };

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

}  // namespace

// ---- names ----

bool IsListableName(const std::string& name) {
  if (name.empty()) return false;
  const char* p = name.data();
  const char* end = p + name.size();
  while (p < end) {
    long cp = NextCodePoint(&p, end);
    if (cp < 0x20 || cp == 0x7F || cp == '\\' || cp == 0xFFFE || cp == 0xFFFF) return false;
  }
  return true;
}

bool IsPlainItemName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('\\') == std::string::npos &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
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

// ---- attributes ----

AttrStatus ReadBool(const XmlElement& element, const char* name, bool* value) {
  const char* text = element.GetAttribute(name);
  if (text == nullptr) return AttrStatus::kAbsent;
  if (EqualsIgnoreCase(text, "true") || std::string(text) == "1" || std::string(text) == "-1") {
    *value = true;
  } else if (EqualsIgnoreCase(text, "false") || std::string(text) == "0") {
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

// ---- entries ----

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

size_t EntryBound(const Entry& entry) { return 320 + EscapedSize(entry.shown_name); }

size_t EscapedSize(const std::string& text) {
  size_t size = 0;
  for (char c : text) {
    switch (c) {
      case '&': size += 5; break;
      case '<':
      case '>': size += 4; break;
      case '"':
      case '\'': size += 6; break;
      default: size += 1;
    }
  }
  return size;
}

bool ReplyBudget::Fits(size_t bound) {
  if (used_ + bound <= AgentService::kReplyBudget) return true;
  Truncate();
  return false;
}

void ReplyBudget::Truncate() {
  if (!truncated_) container_.SetAttribute("truncated", "true");
  truncated_ = true;
}

// ---- AgentRequest ----

int AgentRequest::Fail(int code, const std::string& why) {
  XmlElement error = root_.SelectChild("error");
  if (!error) error = root_.AppendElement("error");
  error.SetAttribute("value", why);
  return code;
}

int AgentRequest::ParsePath(const char* text, AgentPath* path) {
  std::string why;
  if (SplitAgentPath(text ? text : "", path, &why) == PathStatus::kOk) return kRetOk;
  return Fail(kRetPathRefused, why);
}

int AgentRequest::Resolve(const ServedDrive& drive, const std::vector<std::string>& names,
                          ResolvedPath* where) {
  switch (ResolveBeneath(drive.root, names, where)) {
    case ResolveStatus::kOk: return kRetOk;
    case ResolveStatus::kNotFound: return Fail(kRetNotFound, "no such file or folder");
    case ResolveStatus::kEscapes: return Fail(kRetPathRefused, "path leads outside its drive");
    case ResolveStatus::kTooManyLinks: return Fail(kRetPathRefused, "too many symbolic links");
    case ResolveStatus::kError: break;
  }
  return Fail(kRetNotFound, "path cannot be resolved: " + LastFsErrorText());
}

int AgentRequest::OpenFolder(const AgentPath& path, const ServedDrive** drive, DirHandle* dir) {
  *drive = FindDrive(path.drive);
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

bool AgentRequest::IsOwnTemporary(const DirHandle& dir, const std::string& name) const {
  if (!TempNames::MayBeOurs(name)) return false;
  FileInfo folder;
  return dir.StatSelf(&folder) && temp_names().IsOurs(name, folder);
}

bool AgentRequest::DescribeEntry(const ServedDrive& drive, const DirHandle& dir,
                                 const std::vector<std::string>& dir_names, const std::string& name,
                                 bool probe, Entry* entry) {
  if (!IsListableName(name) || IsOwnTemporary(dir, name)) return false;
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
      !ProbeSealedFile(*holder, real_name, file_key(), &entry->seal, &entry->label)) {
    entry->seal = SealState::kPlain;
  }
  return true;
}

}  // namespace docsec::agent
