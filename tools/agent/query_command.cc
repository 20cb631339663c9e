// "QueryFile": the files of a folder (and of its sub-folders when asked) that match a condition.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "docsec/platform/text.h"
#include "tools/agent/agent_request.h"

namespace docsec::agent {
namespace {

constexpr size_t kMaxPatternSize = 1024;

// The code points of UTF-8 text; a byte that starts no valid sequence stands for itself, offset
// past the last code point, so that every name still matches byte-exactly against itself.
std::vector<uint32_t> CodePoints(const std::string& text) {
  std::vector<uint32_t> out;
  out.reserve(text.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    unsigned char first = static_cast<unsigned char>(*p);
    long cp = NextCodePoint(&p, end);
    out.push_back(cp >= 0 ? static_cast<uint32_t>(cp) : 0x110000u + first);
  }
  return out;
}

struct SearchCondition {
  std::string pattern;
  bool encrypted_only = false;
  bool subfolders = false;
  bool case_sensitive = false;
  bool has_size_from = false, has_size_to = false;
  int64_t size_from = 0, size_to = 0;
  bool has_time_from = false, has_time_to = false;
  int64_t time_from = 0, time_to = 0;

  // True when size and time bounds need the entry's stat before its name decides.
  bool HasBounds() const { return has_size_from || has_size_to || has_time_from || has_time_to; }
  // The checks that need no reading of the file.
  bool MatchesCheaply(const NamePattern& name_pattern, const std::string& name,
                      const FileInfo& info) const {
    if (has_size_from && static_cast<int64_t>(info.size) < size_from) return false;
    if (has_size_to && static_cast<int64_t>(info.size) > size_to) return false;
    if (has_time_from && info.modify_time < time_from) return false;
    if (has_time_to && info.modify_time > time_to) return false;
    return name_pattern.Matches(name);
  }
};

int ReadCondition(AgentRequest& request, const XmlElement& condition, SearchCondition* c) {
  const char* pattern = condition.GetAttribute("name");
  if (pattern) {
    c->pattern = pattern;
    if (c->pattern.size() > kMaxPatternSize)
      return request.Fail(kRetMalformed, "name pattern too long");
  }
  struct BoolField {
    const char* name;
    bool* value;
  };
  for (const BoolField& field :
       {BoolField{"encrypted", &c->encrypted_only}, BoolField{"subfolder", &c->subfolders},
        BoolField{"casesensitive", &c->case_sensitive}}) {
    if (ReadBool(condition, field.name, field.value) == AttrStatus::kInvalid) {
      return request.Fail(kRetMalformed,
                          std::string("condition ") + field.name + " is not a boolean");
    }
  }
  if (XmlElement size = condition.SelectChild("size")) {
    for (auto [attr, has, value] : {std::make_tuple("from", &c->has_size_from, &c->size_from),
                                    std::make_tuple("to", &c->has_size_to, &c->size_to)}) {
      AttrStatus status = ReadInt(size, attr, value);
      if (status == AttrStatus::kInvalid) {
        return request.Fail(kRetMalformed, std::string("size ") + attr + " is not an integer");
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
        return request.Fail(kRetMalformed, std::string("modifytime ") + attr + " is not a date");
      }
      *has = true;
    }
  }
  return kRetOk;
}

struct SearchState {
  AgentRequest* request;
  const SearchCondition* condition;
  NamePattern name_pattern;
  ReplyBudget* budget;
  XmlElement out;
  std::set<std::pair<uint64_t, uint64_t>> visited;  // folders seen, against loops
  size_t entries = 0;
};

bool EntryNameLess(const DirEntryName& a, const DirEntryName& b) {
  return NameLess(a.name, b.name);
}

// Reports file `name` of `dir` when it meets the condition; false once the reply is full.
bool ReportFile(const ServedDrive& drive, const DirHandle& dir,
                const std::vector<std::string>& dir_names, const std::string& prefix,
                const std::string& name, SearchState* s) {
  Entry entry;
  if (!s->request->DescribeEntry(drive, dir, dir_names, name, false, &entry) ||
      entry.is_directory || !s->condition->MatchesCheaply(s->name_pattern, name, entry.info)) {
    return true;
  }
  // The sealed header is read only for what may go into the reply.
  s->request->DescribeEntry(drive, dir, dir_names, name, true, &entry);
  if (s->condition->encrypted_only && entry.seal == SealState::kPlain) return true;
  entry.shown_name = prefix + name;
  if (!s->budget->Fits(EntryBound(entry))) return false;
  XmlElement element = s->out.AppendElement("file");
  FillElement(element, entry);
  s->budget->Add(element);
  return true;
}

// Reports the matching files of `dir`, then searches its sub-folders when asked. Folders
// reached through links are not entered, so link loops cannot recurse.
//
// The kinds the directory records for its entries let the walk stat and probe only the files
// whose name can match and the entries it cannot judge by name (links, and every entry on file
// systems that record no kinds); the rest are counted and passed over.
void SearchFolder(const ServedDrive& drive, const DirHandle& dir,
                  std::vector<std::string>* dir_names, const std::string& prefix, int depth,
                  SearchState* s) {
  FileInfo self;
  if (!dir.StatSelf(&self) || !s->visited.insert({self.device, self.inode}).second) return;
  std::vector<DirEntryName> listed;
  if (!dir.ListWithKinds(&listed)) return;
  // Entries are taken in reply order. When the entry limit falls inside this folder, which
  // entries come before it depends on that order, so every entry is sorted; otherwise only the
  // entries that may be reported or entered are, after the cheap checks.
  const bool limit_inside = s->entries + listed.size() > AgentService::kMaxSearchEntries;
  const bool name_first = !s->condition->HasBounds();
  std::vector<DirEntryName> kept;
  if (limit_inside) {
    kept = std::move(listed);
  } else {
    s->entries += listed.size();
    kept.reserve(listed.size() / 8);
    for (DirEntryName& entry : listed) {
      if (entry.kind_known && entry.kind == FileKind::kOther) continue;
      if (entry.kind_known && entry.kind == FileKind::kRegular && name_first &&
          !s->name_pattern.Matches(entry.name)) {
        continue;
      }
      if (entry.kind_known && entry.kind == FileKind::kDirectory && !s->condition->subfolders) {
        continue;
      }
      kept.push_back(std::move(entry));
    }
  }
  std::sort(kept.begin(), kept.end(), EntryNameLess);
  std::vector<std::string> subfolders;
  for (const DirEntryName& listed_entry : kept) {
    const std::string& name = listed_entry.name;
    if (s->budget->truncated()) return;
    if (limit_inside && ++s->entries > AgentService::kMaxSearchEntries) {
      s->budget->Truncate();
      return;
    }
    if (listed_entry.kind_known && listed_entry.kind == FileKind::kRegular) {
      if (!ReportFile(drive, dir, *dir_names, prefix, name, s)) return;
      continue;
    }
    // A folder, a link or an entry of unknown kind: what it is decides.
    Entry entry;
    if (!s->request->DescribeEntry(drive, dir, *dir_names, name, false, &entry)) continue;
    if (entry.is_directory) {
      // Only real sub-folders are searched, never ones reached through a link.
      FileInfo own;
      if (listed_entry.kind_known && listed_entry.kind == FileKind::kDirectory) {
        subfolders.push_back(name);
      } else if (dir.StatEntry(name, &own) && own.kind == FileKind::kDirectory) {
        subfolders.push_back(name);
      }
      continue;
    }
    if (!ReportFile(drive, dir, *dir_names, prefix, name, s)) return;
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

}  // namespace

namespace {

uint32_t FoldAscii(uint32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// Greedy match with one back-track point at the last "*": linear in practice, never exponential.
// `p` is the pattern, already folded when `fold` is set; `s` gives the name's code points.
template <class Name>
bool MatchCodePoints(const std::vector<uint32_t>& p, const Name& s, size_t size, bool fold) {
  size_t pi = 0, si = 0, star = SIZE_MAX, mark = 0;
  while (si < size) {
    const uint32_t c = fold ? FoldAscii(s[si]) : s[si];
    if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && p[pi] == c))) {
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

// The bytes of an ASCII name are its code points.
struct AsciiName {
  const std::string& text;
  uint32_t operator[](size_t i) const { return static_cast<unsigned char>(text[i]); }
};

}  // namespace

NamePattern::NamePattern(const std::string& pattern, bool case_sensitive)
    : matches_all_(pattern.empty() || pattern == "*" || pattern == "*.*"),
      case_sensitive_(case_sensitive),
      code_points_(CodePoints(pattern)) {
  if (!case_sensitive_) {
    for (uint32_t& c : code_points_) c = FoldAscii(c);
  }
}

bool NamePattern::Matches(const std::string& name) const {
  if (matches_all_) return true;
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return MatchCodePoints(code_points_, AsciiName{name}, name.size(), !case_sensitive_);
  const std::vector<uint32_t> s = CodePoints(name);
  return MatchCodePoints(code_points_, s, s.size(), !case_sensitive_);
}

bool MatchNamePattern(const std::string& pattern, const std::string& name, bool case_sensitive) {
  return NamePattern(pattern, case_sensitive).Matches(name);
}

int QueryFile(AgentRequest& request, const XmlElement& root) {
  XmlElement condition = root.SelectChild("condition");
  if (!condition) return request.Fail(kRetMalformed, "QueryFile needs a condition element");
  const char* path_text = condition.GetAttribute("path");
  if (path_text == nullptr) {
    XmlElement dir_element = root.SelectChild("dir");
    path_text = dir_element ? dir_element.GetAttribute("path") : nullptr;
  }
  if (path_text == nullptr) return request.Fail(kRetMalformed, "QueryFile names no folder");
  SearchCondition c;
  int code = ReadCondition(request, condition, &c);
  if (code != kRetOk) return code;
  AgentPath path;
  code = request.ParsePath(path_text, &path);
  if (code != kRetOk) return code;

  XmlElement out = request.reply_root().AppendElement("dir");
  ReplyBudget budget(out);
  SearchState state{&request, &c, NamePattern(c.pattern, c.case_sensitive), &budget, out, {}, 0};
  if (path.is_root) {
    // The root holds no files; with sub-folders every drive is searched, names starting with
    // the drive's.
    if (!c.subfolders) return kRetOk;
    for (const ServedDrive& drive : request.drives()) {
      std::vector<std::string> names;
      SearchFolder(drive, drive.root, &names, drive.name + "\\", 1, &state);
    }
    return kRetOk;
  }
  const ServedDrive* drive = nullptr;
  DirHandle dir;
  code = request.OpenFolder(path, &drive, &dir);
  if (code != kRetOk) return code;
  std::vector<std::string> names = path.names;
  SearchFolder(*drive, dir, &names, "", 0, &state);
  return kRetOk;
}

}  // namespace docsec::agent
