#include "docsec/policy/policy.h"

#include <memory>

#include "docsec/org/department.h"
#include "docsec/policy/auth_level_by_position.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOPolicy, kObjectTypeNone, "Policy", "policy", s_clsPolicy)

namespace {

// The entries of `list` whose permission is not 0, in a new list that holds them without owning
// them; null when `list` is absent or has no entries at all.
template <class Entry>
DataObjectList* ValidEntries(const OwnedList<Entry>& list) {
  if (list.Size() == 0) return nullptr;
  auto valid = std::make_unique<DataObjectList>();
  for (Entry* entry : list) {
    if (entry->GetPermission() != 0) valid->Add(entry);
  }
  return valid.release();
}

template <class Entry>
bool HasValidEntry(const OwnedList<Entry>& list) {
  for (Entry* entry : list) {
    if (entry->GetPermission() != 0) return true;
  }
  return false;
}

// The entry is made and appended only when no entry of the list is for `role` already.
template <class Entry, class Role>
Entry* Grant(OwnedList<Entry>* list, CDOPolicy* policy, Role* role, long permission) {
  if (role == nullptr) return nullptr;
  list->Ensure();
  for (Entry* entry : *list) {
    if (entry->IsAuthorizedTo(role)) return nullptr;
  }
  auto* entry = new Entry(policy, role, permission);
  list->Add(entry);
  return entry;
}

}  // namespace

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

DataObjectList* CDOPolicy::GetValidAuthByPosition() { return ValidEntries(position_auths_); }

DataObjectList* CDOPolicy::GetValidAuthByUser() { return ValidEntries(user_auths_); }

int CDOPolicy::IsEmpty() {
  return HasValidEntry(position_auths_) || HasValidEntry(user_auths_) ? 0 : 1;
}

CDOAuthLevelByUser* CDOPolicy::GrantUser(CDOUser* user, long permission) {
  return Grant(&user_auths_, this, user, permission);
}

CDOAuthLevelByPosition* CDOPolicy::GrantPosition(CDOPosition* position, long permission) {
  return Grant(&position_auths_, this, position, permission);
}

int CDOPolicy::RefuseUser(CDOAuthLevelByUser* entry) { return user_auths_.Detach(entry) ? 1 : 0; }

int CDOPolicy::RefusePosition(CDOAuthLevelByPosition* entry) {
  return position_auths_.Detach(entry) ? 1 : 0;
}

CDataObject* CDOPolicy::GrantRole(CDataObject* role, long permission) {
  if (role == nullptr) return nullptr;
  switch (role->GetObjectType()) {
    case kObjectTypePosition: return GrantPosition(dynamic_cast<CDOPosition*>(role), permission);
    case kObjectTypeUser: return GrantUser(dynamic_cast<CDOUser*>(role), permission);
    default: return nullptr;
  }
}

int CDOPolicy::RefuseRole(CDataObject* entry) {
  if (entry == nullptr) return 0;
  switch (entry->GetObjectType()) {
    case kObjectTypeAuthLevelByPosition:
      return RefusePosition(dynamic_cast<CDOAuthLevelByPosition*>(entry));
    case kObjectTypeAuthLevelByUser: return RefuseUser(dynamic_cast<CDOAuthLevelByUser*>(entry));
    default: return 0;
  }
}

}  // namespace docsec
