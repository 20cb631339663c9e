#include "docsec/policy/policy.h"

#include "docsec/channel/outcome.h"
#include "docsec/org/department.h"
#include "docsec/policy/auth_level_by_position.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/internal/authorization_list.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOPolicy, kObjectTypeNone, "Policy", "policy", s_clsPolicy)

CDOPolicy::CDOPolicy(CDODepartment* department, CDOSecretLevel* level) : CDOPolicy() {
  owner_ = department;
  if (department != nullptr) SetOwnerDeptId(department->GetId());
  if (level != nullptr) SetSecretLevelId(level->GetId());
  position_auths_.Ensure();
  user_auths_.Ensure();
}

int CDOPolicy::LoadFromXmlNode(const XmlElement& element) {
  return LoadFromXmlNodeWithAuth(element);
}

XmlElement CDOPolicy::AssemblyXMLNodeWithAuth(const XmlElement& parent) {
  XmlElement policy = AssemblyXmlKeyNode(parent);
  if (!policy) return policy;
  // Entries without permission are never sent: the server reads a listed entry as a grant.
  for (CDOAuthLevelByPosition* entry : position_auths_) {
    if (entry->GetPermission() != 0) entry->AssemblyXmlNode(policy);
  }
  for (CDOAuthLevelByUser* entry : user_auths_) {
    if (entry->GetPermission() != 0) entry->AssemblyXmlNode(policy);
  }
  return policy;
}

int CDOPolicy::LoadFromXmlNodeWithAuth(const XmlElement& element) {
  CDataObject::LoadFromXmlNode(element);
  position_auths_.Load(element, [this](CDOAuthLevelByPosition* e) { e->SetOwnerPolicy(this); });
  user_auths_.Load(element, [this](CDOAuthLevelByUser* e) { e->SetOwnerPolicy(this); });
  return 1;
}

CDOSecretLevel* CDOPolicy::GetSecretLevel() {
  return CDOSecretLevel::GetInstanceById(GetSecretLevelId());
}

DataObjectList* CDOPolicy::GetValidAuthByPosition() {
  return internal::ValidEntries(position_auths_);
}

DataObjectList* CDOPolicy::GetValidAuthByUser() { return internal::ValidEntries(user_auths_); }

int CDOPolicy::IsEmpty() {
  return internal::AnyValidEntry(position_auths_) || internal::AnyValidEntry(user_auths_) ? 0 : 1;
}

CDOAuthLevelByUser* CDOPolicy::GrantUser(CDOUser* user, long permission) {
  return internal::GrantOnce(user_auths_, this, user, permission);
}

CDOAuthLevelByPosition* CDOPolicy::GrantPosition(CDOPosition* position, long permission) {
  return internal::GrantOnce(position_auths_, this, position, permission);
}

int CDOPolicy::RefuseUser(CDOAuthLevelByUser* entry) {
  if (user_auths_.Detach(entry)) return 1;
  return SetLibraryFailure("RefuseUser", "the entry is not one of the policy's user grants");
}

int CDOPolicy::RefusePosition(CDOAuthLevelByPosition* entry) {
  if (position_auths_.Detach(entry)) return 1;
  return SetLibraryFailure("RefusePosition",
                           "the entry is not one of the policy's position grants");
}

CDataObject* CDOPolicy::GrantRole(CDataObject* role, long permission) {
  return internal::GrantRoleTo(this, role, permission);
}

int CDOPolicy::RefuseRole(CDataObject* entry) {
  return internal::RefuseRoleOf<CDOAuthLevelByPosition, CDOAuthLevelByUser>(this, entry);
}

}  // namespace docsec
