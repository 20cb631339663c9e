// A computer's remote file tree, reached through its root folder.
#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"

namespace docsec {

DataObjectList* CDOComputer::GetDrivesEx() {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDOComputer::GetDrives() {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDOComputer::SearchFilesWithoutPath(const char*, int, int, int, double, double,
                                                    long, long) {
  return nullptr;  // Not yet implemented.
}
CDOAgentFolder* CDOComputer::FindFolderByPath(const char*) {
  return nullptr;  // Not yet implemented.
}
void CDOComputer::ClearRootFolderObjectList() {}  // Not yet implemented.

}  // namespace docsec
