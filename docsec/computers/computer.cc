#include "docsec/computers/computer.h"

#include "docsec/files/agent_folder.h"
#include "docsec/org/department.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT_PARTS(CDOComputer, "Computer", "computer")
DOCSEC_DEFINE_DATA_OBJECT_TYPE(CDOComputer, kObjectTypeComputer)
DOCSEC_DEFINE_DATA_OBJECT_INSTANCE(CDOComputer, s_clsComputer)

CDOComputer::CDOComputer() {
  DOCSEC_DATA_OBJECT_ADOPT_SCHEMA(CDOComputer);
  root_folder_ = new CDOAgentFolder(this, "");
}

CDOComputer::CDOComputer(CDOComputer* other) : CDOComputer() {
  CopyAttrValues(other);
  if (other != nullptr) connection_status_ = other->connection_status_;
}

CDOComputer::~CDOComputer() { delete root_folder_; }

CDODepartment* CDOComputer::GetOwnerDepartment() { return owner_; }
void CDOComputer::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

long CDOComputer::GetComputerScanStatus() {
  return -1;  // Not yet implemented.
}
long CDOComputer::GetComputerManualEncryptState() {
  return -1;  // Not yet implemented.
}
unsigned long CDOComputer::GetIpV4() {
  return 0xFFFFFFFFUL;  // Not yet implemented.
}
int CDOComputer::RefreshConnectionStatus() {
  return 0;  // Not yet implemented.
}
int CDOComputer::NotifyAgentConfigChange() {
  return 0;  // Not yet implemented.
}
int CDOComputer::ChangeDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDOComputer::ChangeDepartment(DataObjectList*, CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDOComputer::ApplyApprovedStatus(int) {
  return 0;  // Not yet implemented.
}
int CDOComputer::ApplyApprovedStatus(DataObjectList*, bool) {
  return 0;  // Not yet implemented.
}
int CDOComputer::UpdateComputerData(DataObjectList*) {
  return 0;  // Not yet implemented.
}
int CDOComputer::IsLocalComputer() {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
