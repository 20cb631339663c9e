#include "docsec/files/agent_file.h"

#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"
#include "docsec/org/department.h"
#include "docsec/policy/auth_file_by_position.h"
#include "docsec/policy/auth_file_by_user.h"
#include "docsec/policy/internal/authorization_list.h"
#include "docsec/policy/secret_level.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAgentFile, kObjectTypeAgentFile, "AgentFile", "file", s_clsAgentFile)

namespace {

// A computer's identity travels with a file's authorizations through a buffer of this size.
constexpr unsigned long kComputerUuidSize = 260;

// `text` cut to at most `limit` bytes, never inside a UTF-8 sequence.
std::string CutText(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace

CDOAgentFile::CDOAgentFile(CDOComputer* computer, const char* parentPath, const char* name)
    : CDOAgentFile() {
  owner_computer_ = computer;
  SetParentPath(parentPath);
  SetName(name);
  RefreshFullPath();
}

CDOAgentFile::CDOAgentFile(CDOAgentFolder* folder, const char* name) : CDOAgentFile() {
  JoinFolder(folder);
  SetName(name);
  RefreshFullPath();
}

void CDOAgentFile::SetParentPath(const char* path) {
  parent_path_ = path == nullptr ? std::string() : CutText(path, kMaxPath);
}

void CDOAgentFile::JoinFolder(CDOAgentFolder* folder) {
  parent_folder_ = folder;
  if (folder == nullptr) return;
  owner_computer_ = folder->GetOwnerComputer();
  SetParentPath(folder->GetText(kPath).c_str());
}

int CDOAgentFile::LoadFromXmlNode(const XmlElement& element) {
  int result = CDOFile::LoadFromXmlNode(element);
  RefreshFullPath();
  return result;
}

void CDOAgentFile::RefreshFullPath() {
  std::string path = parent_path_;
  if (path.size() < kMaxPath) {
    if (!path.empty() && path.back() != '\\') path += '\\';
    path += GetText(kName);
  }
  SetText(kPath, CutText(std::move(path), kMaxPath).c_str());
}

CDOSecretLevel* CDOAgentFile::GetSecretLevel() {
  return CDOSecretLevel::GetInstanceById(GetSecretLevelId());
}

CDODepartment* CDOAgentFile::GetOwnerDepartment() {
  if (owner_department_ != nullptr) return owner_department_;
  // A plain file follows its computer, wherever the computer is moved, so it is not kept.
  if (!GetIsEncrypted()) {
    return owner_computer_ != nullptr ? owner_computer_->GetOwnerDepartment() : nullptr;
  }
  ValueMap conditions;
  conditions.Set("id", Variant(GetDepartmentId()));
  CDataObject* found = CDODepartment::GetClassInstance()->LookupUnique(&conditions);
  if (found == nullptr) return nullptr;
  // The department made from the answer belongs to no tree; the file keeps it alive.
  looked_up_.reset(found);
  owner_department_ = static_cast<CDODepartment*>(found);
  return owner_department_;
}

int CDOAgentFile::ChangeSecretLevel(CDOSecretLevel* level) {
  if (level == nullptr || parent_folder_ == nullptr) return 0;
  DataObjectList only{this};
  return parent_folder_->ChangeSerLevelFiles(&only, level);
}

// ---- authorizations ----

DataObjectList* CDOAgentFile::GetValidAuthByUser() { return internal::ValidEntries(user_auths_); }

DataObjectList* CDOAgentFile::GetValidAuthByPosition() {
  return internal::ValidEntries(position_auths_);
}

int CDOAgentFile::IsEmptyAuthorization() {
  return internal::AnyValidEntry(user_auths_) || internal::AnyValidEntry(position_auths_) ? 0 : 1;
}

CDOAuthFileByUser* CDOAgentFile::GrantUser(CDOUser* user, long permission) {
  return internal::GrantOnce(user_auths_, static_cast<CDOFile*>(this), user, permission);
}

CDOAuthFileByPosition* CDOAgentFile::GrantPosition(CDOPosition* position, long permission) {
  return internal::GrantOnce(position_auths_, static_cast<CDOFile*>(this), position, permission);
}

CDataObject* CDOAgentFile::GrantRole(CDataObject* role, long permission) {
  return internal::GrantRoleTo(this, role, permission);
}

int CDOAgentFile::RefuseUser(CDOAuthFileByUser* entry) { return user_auths_.Delete(entry) ? 1 : 0; }

int CDOAgentFile::RefusePosition(CDOAuthFileByPosition* entry) {
  return position_auths_.Delete(entry) ? 1 : 0;
}

int CDOAgentFile::RefuseRole(CDataObject* entry) {
  return internal::RefuseRoleOf<CDOAuthFileByPosition, CDOAuthFileByUser>(this, entry);
}

int CDOAgentFile::QueryAuthorization() {
  EmptyAuthorization();
  XmlDocument answer = Exchange("QueryFileAuthorization", [this](XmlElement& root) {
    return static_cast<bool>(AssemblyXmlKeyNode(root));
  });
  if (!answer) return 0;
  XmlElement mine = answer.DocumentElement().SelectChild(GetObjectXMLTagName().c_str());
  if (!mine) return 0;
  user_auths_.Load(mine);
  position_auths_.Load(mine);
  return 1;
}

int CDOAgentFile::ApplyAuthorization() {
  const int users = ApplyUserAuthorization();
  const int positions = ApplyPositionAuthorization();
  return users && positions ? 1 : 0;
}

int CDOAgentFile::ApplyUserAuthorization() {
  return SendAuthorizations("SetFileUserAuthorization", GetValidAuthByUser());
}

int CDOAgentFile::ApplyPositionAuthorization() {
  return SendAuthorizations("SetFilePositionAuthorization", GetValidAuthByPosition());
}

int CDOAgentFile::SendAuthorizations(const char* operation, DataObjectList* valid) {
  std::unique_ptr<DataObjectList> entries(valid);
  XmlDocument answer = Exchange(operation, [this, &entries](XmlElement& root) {
    XmlElement key = AssemblyXmlKeyNode(root);
    if (!key) return false;
    if (owner_computer_ != nullptr) SetComputerUuidForLog(key);
    // Without entries the bare key element tells the server the file has none of this kind.
    if (entries) AssemblySubObjectsXMLNodes(key, entries.get());
    return true;
  });
  return answer ? 1 : 0;
}

void CDOAgentFile::SetComputerUuidForLog(XmlElement& element) {
  if (owner_computer_ == nullptr) return;
  char uuid[kComputerUuidSize] = "";
  owner_computer_->GetUuid(uuid, sizeof uuid);
  element.SetAttribute("computerUuid", uuid);
}

}  // namespace docsec
