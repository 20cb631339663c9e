// A remote folder's tree: listing ("LocateFile"), the child cache, look-ups by name and path, and
// the file search ("QueryFile"). File operations are in agent_folder_operations.cc.
#include "docsec/files/agent_folder.h"

#include <memory>

#include "docsec/agent/agent_command.h"
#include "docsec/computers/computer.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/platform/text.h"
#include "docsec/platform/trace.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT_PARTS(CDOAgentFolder, "AgentFolder", "dir")
DOCSEC_DEFINE_DATA_OBJECT_CONSTRUCTOR(CDOAgentFolder)
DOCSEC_DEFINE_DATA_OBJECT_INSTANCE(CDOAgentFolder, s_clsAgentFolder)

namespace {

// Names longer than this never match a look-up by name.
constexpr size_t kMaxNameSize = 519;

// The reply's folder element ("dir" under the root) when the agent answered with success; a null
// element otherwise.
XmlElement ReplyFolder(const XmlDocument& reply) {
  if (!reply || !CheckAgentReply(reply)) return XmlElement();
  return reply.DocumentElement().SelectChild("dir");
}

// Appends to `list` one object per child element `tag` of `folder`, made by `make` and loaded
// from the element. A reply the objects cannot take stops the reading; what was read stays.
template <class Make>
void LoadReplyChildren(const XmlElement& folder, const char* tag, DataObjectList* list, Make make) {
  try {
    for (XmlElement child = folder.SelectChild(tag); child; child.AdvanceToNextSibling(tag)) {
      CDOAgentFile* object = make();
      list->Add(object);
      object->LoadFromXmlNode(child);
    }
  } catch (const ComError&) {
  }
}

}  // namespace

CEnumDataObjectType CDOAgentFolder::GetObjectType() {
  return parent_path().empty() ? kObjectTypeDrive : kObjectTypeFolder;
}

CDOAgentFolder::CDOAgentFolder(CDOComputer* computer, const char* parentPath) : CDOAgentFolder() {
  SetOwnerComputer(computer);
  SetParentPath(parentPath);
}

CDOAgentFolder::CDOAgentFolder(CDOAgentFolder* parent, const char*) : CDOAgentFolder() {
  JoinFolder(parent);
}

FileOperationObserver::~FileOperationObserver() = default;

void FileOperationObserver::OnItemNotRecorded(CDOAgentFile* item, const char* reason) {
  OnItem(item, false, (std::string("changed, not recorded: ") + reason).c_str());
}

DataObjectList* CDOAgentFolder::GetSubFolderAndFiles() {
  if (children_) return children_.get();
  // The list exists from here on, even empty: a failed listing is not repeated until a refresh.
  DataObjectList* list = children_.Ensure();
  CDOComputer* computer = GetOwnerComputer();
  XmlDocument command = BuildAgentCommand("LocateFile");
  if (computer == nullptr || !command) return list;
  command.DocumentElement().AppendElement("dir").AppendAttribute("path", GetText(kPath).c_str());
  XmlElement folder = ReplyFolder(SendAgentCommand(computer->GetIpV4(), command));
  if (!folder) return list;
  // One reply has a size limit; a folder larger than that comes back cut short, and whoever shows
  // it should know it is not all there.
  if (const char* truncated = folder.GetAttribute("truncated")) {
    if (std::string(truncated) == "true") {
      Trace("remote files: the agent listed only part of %s", GetText(kPath).c_str());
    }
  }
  LoadReplyChildren(folder, "dir", list, [this] { return new CDOAgentFolder(this, nullptr); });
  LoadReplyChildren(folder, "file", list, [this] { return new CDOAgentFile(this, nullptr); });
  return list;
}

DataObjectList* CDOAgentFolder::RefreshSubFolderAndFiles() {
  ClearSubFolderAndFilesObject();
  return GetSubFolderAndFiles();
}

CDOAgentFolder* CDOAgentFolder::GetChildFolder(const char* name) {
  if (name == nullptr) return nullptr;
  for (CDataObject* child : *GetSubFolderAndFiles()) {
    auto* folder = dynamic_cast<CDOAgentFolder*>(child);
    if (folder == nullptr) continue;
    const std::string child_name = folder->GetText(kName);
    if (child_name.size() <= kMaxNameSize && EqualsIgnoreCase(child_name.c_str(), name)) {
      return folder;
    }
  }
  return nullptr;
}

CDOAgentFolder* CDOAgentFolder::FindFolderByPath(const char* path) {
  if (path == nullptr) return nullptr;
  CDOAgentFolder* folder = this;
  std::string rest = path;
  while (folder != nullptr && !rest.empty()) {
    const size_t separator = rest.find('\\');
    const std::string part = rest.substr(0, separator);
    if (part.size() > kMaxNameSize) return nullptr;
    folder = folder->GetChildFolder(part.c_str());
    rest = separator == std::string::npos ? std::string() : rest.substr(separator + 1);
  }
  return folder;
}

DataObjectList* CDOAgentFolder::SearchFiles(const char* namePattern, int encryptedOnly,
                                            int includeSubfolders, int caseSensitive,
                                            double modifiedFrom, double modifiedTo, long sizeFrom,
                                            long sizeTo) {
  CDOComputer* computer = GetOwnerComputer();
  XmlDocument command = BuildAgentCommand("QueryFile");
  if (computer == nullptr || !command) return nullptr;
  XmlElement root = command.DocumentElement();
  AssemblyXmlNode(root);
  XmlElement condition = root.AppendElement("condition");
  condition.AppendAttribute("path", GetText(kPath).c_str());
  if (namePattern != nullptr) condition.AppendAttribute("name", namePattern);
  if (encryptedOnly != 0) condition.AppendAttribute("encrypted", "true");
  condition.AppendAttribute("subfolder", includeSubfolders != 0 ? "true" : "false");
  condition.AppendAttribute("casesensitive", caseSensitive != 0 ? "true" : "false");
  XmlElement size = condition.AppendElement("size");
  if (sizeFrom > 0) size.AppendAttribute("from", static_cast<long long>(sizeFrom));
  if (sizeTo > 0) size.AppendAttribute("to", static_cast<long long>(sizeTo));
  XmlElement time = condition.AppendElement("modifytime");
  if (modifiedFrom > 0) time.AppendAttribute("from", OleDateTime(modifiedFrom).Format().c_str());
  if (modifiedTo > 0) time.AppendAttribute("to", OleDateTime(modifiedTo).Format().c_str());

  XmlDocument reply = SendAgentCommand(computer->GetIpV4(), command);
  if (!reply || !CheckAgentReply(reply)) return nullptr;
  auto found = std::make_unique<DataObjectList>();
  if (XmlElement folder = reply.DocumentElement().SelectChild("dir")) {
    LoadReplyChildren(folder, "file", found.get(),
                      [this] { return new CDOAgentFile(this, nullptr); });
  }
  return found.release();
}

}  // namespace docsec
