// Department searches: local ones over the loaded sub-tree, server ones by request.
#include "docsec/org/department.h"

namespace docsec {

DataObjectList* CDODepartment::SearchComputers(const char*, const char*, int, int) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::SearchUsers(const char*, const char*, int, int, int) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::SearchPositions(const char*, int) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::SearchUsersFromServer(const char*, const char*, int, int, int) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::SearchPositionsFromServer(const char*, int) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::SearchObjectFromServer(int, CDataObject*) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::SearchUserAndPositionFromServer(int, const char*) {
  return nullptr;  // Not yet implemented.
}

}  // namespace docsec
