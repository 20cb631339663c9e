#include "docsec/files/agent_file.h"

#include "docsec/files/agent_folder.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOAgentFile, kObjectTypeAgentFile, "AgentFile", "file", s_clsAgentFile)

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
  parent_path_ = path == nullptr ? std::string() : std::string(path).substr(0, kMaxPath);
}

void CDOAgentFile::JoinFolder(CDOAgentFolder* folder) {
  parent_folder_ = folder;
  if (folder == nullptr) return;
  owner_computer_ = folder->GetOwnerComputer();
  SetParentPath(folder->GetText(kPath).c_str());
}

int CDOAgentFile::LoadFromXmlNode(const XmlElement&) {
  return 0;  // Not yet implemented.
}

void CDOAgentFile::RefreshFullPath() {
  // Not yet implemented.
}

CDOSecretLevel* CDOAgentFile::GetSecretLevel() {
  return nullptr;  // Not yet implemented.
}

CDODepartment* CDOAgentFile::GetOwnerDepartment() {
  return nullptr;  // Not yet implemented.
}

int CDOAgentFile::ChangeSecretLevel(CDOSecretLevel*) {
  return 0;  // Not yet implemented.
}

DataObjectList* CDOAgentFile::GetValidAuthByUser() {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDOAgentFile::GetValidAuthByPosition() {
  return nullptr;  // Not yet implemented.
}

int CDOAgentFile::IsEmptyAuthorization() {
  return 0;  // Not yet implemented.
}

CDOAuthFileByUser* CDOAgentFile::GrantUser(CDOUser*, long) {
  return nullptr;  // Not yet implemented.
}

CDOAuthFileByPosition* CDOAgentFile::GrantPosition(CDOPosition*, long) {
  return nullptr;  // Not yet implemented.
}

CDataObject* CDOAgentFile::GrantRole(CDataObject*, long) {
  return nullptr;  // Not yet implemented.
}

int CDOAgentFile::RefuseUser(CDOAuthFileByUser*) {
  return 0;  // Not yet implemented.
}

int CDOAgentFile::RefusePosition(CDOAuthFileByPosition*) {
  return 0;  // Not yet implemented.
}

int CDOAgentFile::RefuseRole(CDataObject*) {
  return 0;  // Not yet implemented.
}

int CDOAgentFile::QueryAuthorization() {
  return 0;  // Not yet implemented.
}

int CDOAgentFile::ApplyAuthorization() {
  return 0;  // Not yet implemented.
}

int CDOAgentFile::ApplyUserAuthorization() {
  return 0;  // Not yet implemented.
}

int CDOAgentFile::ApplyPositionAuthorization() {
  return 0;  // Not yet implemented.
}

void CDOAgentFile::SetComputerUuidForLog(XmlElement&) {
  // Not yet implemented.
}

}  // namespace docsec
