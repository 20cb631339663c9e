// A computer's remote file tree, reached through its root folder. The agent is asked only while
// the last probe found it running, so a console browsing many computers does not wait on the
// time-outs of each unreachable one.
#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"

namespace docsec {

DataObjectList* CDOComputer::GetDrivesEx() {
  if (!IsRunningStatusOk()) return nullptr;
  return GetRootFolder()->RefreshSubFolderAndFiles();
}

DataObjectList* CDOComputer::GetDrives() {
  if (!IsRunningStatusOk()) return nullptr;
  return GetRootFolder()->GetSubFolderAndFiles();
}

DataObjectList* CDOComputer::SearchFilesWithoutPath(const char* pattern, int encryptedOnly,
                                                    int withSubFolders, int caseSensitive,
                                                    double modifiedFrom, double modifiedTo,
                                                    long sizeFrom, long sizeTo) {
  if (!IsRunningStatusOk()) return nullptr;
  return GetRootFolder()->SearchFiles(pattern, encryptedOnly, withSubFolders, caseSensitive,
                                      modifiedFrom, modifiedTo, sizeFrom, sizeTo);
}

CDOAgentFolder* CDOComputer::FindFolderByPath(const char* path) {
  return GetRootFolder()->FindFolderByPath(path);
}

void CDOComputer::ClearRootFolderObjectList() {
  if (root_folder_ != nullptr) root_folder_->ClearSubFolderAndFilesObject();
}

}  // namespace docsec
