#include "docsec/users/user.h"

#include "docsec/org/department.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/users/position.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOUser, kObjectTypeUser, "User", "user", s_clsUser)

CDOUser::CDOUser(CDOUser* other) : CDOUser() {
  CopyAttrValues(other);
  if (other != nullptr) owner_ = other->owner_;
}

CDOUser::~CDOUser() = default;

CDODepartment* CDOUser::GetOwnerDepartment() { return owner_; }
void CDOUser::SetOwnerDepartment(CDODepartment* owner) { owner_ = owner; }

uint64_t CDOUser::GetConsolePermission() {
  return 0;  // Not yet implemented.
}
int CDOUser::SetConsolePermission(uint64_t) {
  return 0;  // Not yet implemented.
}
CDOUser* CDOUser::LoginEx(const char*, const char*, int) {
  return nullptr;  // Not yet implemented.
}
CDOUser* CDOUser::Login(const char*, const char*) {
  return nullptr;  // Not yet implemented.
}
CDOUser* CDOUser::LogLogin(const char*, const char*) {
  return nullptr;  // Not yet implemented.
}
CDOUser* CDOUser::GetLastLoginUser() {
  return nullptr;  // Not yet implemented.
}
int CDOUser::QueryUserDepartment() {
  return 0;  // Not yet implemented.
}
int CDOUser::ChangePassword(const char*) {
  return 0;  // Not yet implemented.
}
int CDOUser::ChangePassword(const char*, const char*, int) {
  return 0;  // Not yet implemented.
}
int CDOUser::ChangeDepartment(CDODepartment*) {
  return 0;  // Not yet implemented.
}
int CDOUser::GetDepartmentPath(char*, unsigned long) {
  return 0;  // Not yet implemented.
}
CDODepartment* CDOUser::GetAdminedRootDeptpartment() {
  return nullptr;  // Not yet implemented.
}
CDODepartment* CDOUser::GetAdminedRootDeptpartmentEx(int, int) {
  return nullptr;  // Not yet implemented.
}
CDODepartment* CDOUser::GetTreeRootDepartment() {
  return nullptr;  // Not yet implemented.
}
DataObjectList* CDOUser::GetAuthorizedDepartments() {
  return nullptr;  // Not yet implemented.
}
long CDOUser::GetAuthorizedDeptPermission(CDODepartment*, CDOSecretLevel*) {
  return 0;  // Not yet implemented.
}
int CDOUser::GetDepartmentPermission(uint32_t*, uint32_t*) {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
