// A department's policies and default application secret levels.
#include "docsec/org/department.h"

namespace docsec {

int CDODepartment::RefreshPolicies() {
  return 0;  // Not yet implemented.
}
CDOPolicy* CDODepartment::GetPolicy(CDOSecretLevel*) {
  return nullptr;  // Not yet implemented.
}
int CDODepartment::ApplyPolicy() {
  return 0;  // Not yet implemented.
}
DataObjectList* CDODepartment::GetDefaultAppSecretLevel() {
  return nullptr;  // Not yet implemented.
}
CDODeptDefAppSecretLevel* CDODepartment::GrantApplication(CDOApplication*, CDOSecretLevel*) {
  return nullptr;  // Not yet implemented.
}
int CDODepartment::RefuseApplication(CDODeptDefAppSecretLevel*) {
  return 0;  // Not yet implemented.
}
int CDODepartment::ApplyApplicationSecretLevel() {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
