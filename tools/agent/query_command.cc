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

  // The checks that need no reading of the file.
  bool MatchesCheaply(const std::string& name, const FileInfo& info) const {
    if (has_size_from && static_cast<int64_t>(info.size) < size_from) return false;
    if (has_size_to && static_cast<int64_t>(info.size) > size_to) return false;
    if (has_time_from && info.modify_time < time_from) return false;
    if (has_time_to && info.modify_time > time_to) return false;
    return MatchNamePattern(pattern, name, case_sensitive);
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
  ReplyBudget* budget;
  XmlElement out;
  std::set<std::pair<uint64_t, uint64_t>> visited;  // folders seen, against loops
  size_t entries = 0;
};

// Reports the matching files of `dir`, then searches its sub-folders when asked. Folders
// reached through links are not entered, so link loops cannot recurse.
void SearchFolder(const ServedDrive& drive, const DirHandle& dir,
                  std::vector<std::string>* dir_names, const std::string& prefix, int depth,
                  SearchState* s) {
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
    if (!s->request->DescribeEntry(drive, dir, *dir_names, name, false, &entry)) continue;
    if (entry.is_directory) {
      FileInfo own;
      // Only real sub-folders are searched, never ones reached through a link.
      if (dir.StatEntry(name, &own) && own.kind == FileKind::kDirectory) subfolders.push_back(name);
      continue;
    }
    if (!s->condition->MatchesCheaply(name, entry.info)) continue;
    Entry probed = entry;
    s->request->DescribeEntry(drive, dir, *dir_names, name, true, &probed);
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

}  // namespace

bool MatchNamePattern(const std::string& pattern, const std::string& name, bool case_sensitive) {
  if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
  std::vector<uint32_t> p = CodePoints(pattern);
  std::vector<uint32_t> s = CodePoints(name);
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
  SearchState state{&request, &c, &budget, out, {}, 0};
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
