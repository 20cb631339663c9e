// "LocateFile": the drives, or the sub-folders and files of one folder.
#include <algorithm>
#include <string>
#include <vector>

#include "tools/agent/agent_request.h"

namespace docsec::agent {

int LocateFile(AgentRequest& request, const XmlElement& root) {
  XmlElement dir_element = root.SelectChild("dir");
  if (!dir_element) return request.Fail(kRetMalformed, "LocateFile needs a dir element");
  AgentPath path;
  int code = request.ParsePath(dir_element.GetAttribute("path"), &path);
  if (code != kRetOk) return code;
  XmlElement out = request.reply_root().AppendElement("dir");
  ReplyBudget budget(out);
  if (path.is_root) {
    for (const ServedDrive& drive : request.drives()) {
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
  const ServedDrive* drive = nullptr;
  DirHandle dir;
  code = request.OpenFolder(path, &drive, &dir);
  if (code != kRetOk) return code;
  std::vector<std::string> names;
  if (!dir.List(&names))
    return request.Fail(kRetNotFound, "folder cannot be read: " + LastFsErrorText());
  std::sort(names.begin(), names.end(), NameLess);
  std::vector<Entry> folders, files;
  for (const std::string& name : names) {
    Entry entry;
    entry.shown_name = name;
    if (!request.DescribeEntry(*drive, dir, path.names, name, false, &entry)) continue;
    (entry.is_directory ? folders : files).push_back(std::move(entry));
  }
  for (std::vector<Entry>* group : {&folders, &files}) {
    for (Entry& entry : *group) {
      if (!budget.Fits(EntryBound(entry))) return kRetOk;
      // Headers are read only for what goes into the reply.
      if (!entry.is_directory) {
        request.DescribeEntry(*drive, dir, path.names, entry.shown_name, true, &entry);
      }
      XmlElement element = out.AppendElement(entry.is_directory ? "dir" : "file");
      FillElement(element, entry);
      budget.Add(element);
    }
  }
  return kRetOk;
}

}  // namespace docsec::agent
