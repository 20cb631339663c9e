// Status queries about the computers of a department's sub-tree.
#include "docsec/org/department.h"

namespace docsec {

DataObjectList* CDODepartment::SearchComputerScanStatus() {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::GetComputerScanStatus(int*, int*, int*) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::GetComputerScanStatusEX(int*, int*, int*, int*, int*) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::GetComputerVersionStatus(int*, int*, int*) {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDODepartment::GetComputerVersionStatusEx(int*, int*, int*) {
  return nullptr;  // Not yet implemented.
}
int CDODepartment::GetComputerAutoHandeEncryptState() {
  return 0;  // Not yet implemented.
}
int CDODepartment::SetComputerAutoHandeEncryptState(DataObjectList*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::SetComputerUpdateStatus(DataObjectList*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::SetAutoScanComputers(DataObjectList*, bool) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
