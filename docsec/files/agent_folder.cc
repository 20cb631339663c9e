#include "docsec/files/agent_folder.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT_PARTS(CDOAgentFolder, "AgentFolder", "dir")
DOCSEC_DEFINE_DATA_OBJECT_CONSTRUCTOR(CDOAgentFolder)
DOCSEC_DEFINE_DATA_OBJECT_INSTANCE(CDOAgentFolder, s_clsAgentFolder)

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

int CDOAgentFolder::EncryptFiles(DataObjectList*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::DecryptFiles(DataObjectList*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::EncryptFolder(CDOAgentFolder*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::DecryptFolder(CDOAgentFolder*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::ProcessFiles(const char*, DataObjectList*, int, int, int) {
  return 0;  // Not yet implemented.
}

DataObjectList* CDOAgentFolder::SearchFiles(const char*, int, int, int, double, double, long,
                                            long) {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDOAgentFolder::GetSubFolderAndFiles() {
  return nullptr;  // Not yet implemented.
}

DataObjectList* CDOAgentFolder::RefreshSubFolderAndFiles() {
  return nullptr;  // Not yet implemented.
}

CDOAgentFolder* CDOAgentFolder::GetChildFolder(const char*) {
  return nullptr;  // Not yet implemented.
}

CDOAgentFolder* CDOAgentFolder::FindFolderByPath(const char*) {
  return nullptr;  // Not yet implemented.
}

int CDOAgentFolder::ChangeSerLevelFiles(DataObjectList*, CDOSecretLevel*) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::ChangeSerLevelFolder(CDOAgentFolder*, CDOSecretLevel*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::UpdateLogs(CDOAgentFile*, const char*, const char*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::UpdateFolderLogs(CDOAgentFolder*, int) {
  return 0;  // Not yet implemented.
}

int CDOAgentFolder::SetFolderLog(DataObjectList*, int) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
