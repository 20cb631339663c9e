// A department's policies and default application secret levels.
#include "docsec/channel/outcome.h"
#include "docsec/org/department.h"
#include "docsec/policy/application.h"
#include "docsec/policy/dept_def_app_secret_level.h"
#include "docsec/policy/policy.h"
#include "docsec/policy/secret_level.h"

namespace docsec {
namespace {

// The look-up of `prototype`'s class for one department: the single condition `name` = `id` as a
// 32-bit integer. A new list owned by the caller, or null.
DataObjectList* LookupForDepartment(CDataObject* prototype, const char* name, long id) {
  ValueMap conditions;
  conditions.Set(name, Variant(static_cast<int>(id)));
  return prototype->Lookup(&conditions);
}

}  // namespace

int CDODepartment::RefreshPolicies() {
  policies_.Reset();
  policies_.Adopt(LookupForDepartment(CDOPolicy::GetClassInstance(), "ownerDeptId", GetId()));
  for (CDOPolicy* policy : policies_) policy->SetOwnerDepartment(this);
  return policies_ ? 1 : 0;
}

CDOPolicy* CDODepartment::GetPolicy(CDOSecretLevel* level) {
  if (!policies_ || level == nullptr) return nullptr;
  // By id: a level the caller made itself, or a catalogue that could not be loaded, then still
  // finds the policy of that level rather than none or the first one.
  const long id = level->GetId();
  for (CDOPolicy* policy : policies_) {
    if (policy->GetSecretLevelId() == id) return policy;
  }
  auto* policy = new CDOPolicy(this, level);
  policies_.Add(policy);
  return policy;
}

int CDODepartment::ApplyPolicy() {
  return Exchange("SetPolicy",
                  [this](XmlElement& root) {
                    XmlElement department = AssemblyXmlKeyNode(root);
                    if (!department) return false;
                    for (CDOPolicy* policy : policies_) {
                      if (!policy->IsEmpty()) policy->AssemblyXMLNodeWithAuth(department);
                    }
                    return true;
                  })
             ? 1
             : 0;
}

DataObjectList* CDODepartment::GetDefaultAppSecretLevel() {
  default_levels_.Reset();
  default_levels_.Adopt(
      LookupForDepartment(CDODeptDefAppSecretLevel::GetClassInstance(), "departmentId", GetId()));
  return default_levels_.get();
}

CDODeptDefAppSecretLevel* CDODepartment::GrantApplication(CDOApplication* application,
                                                          CDOSecretLevel* level) {
  if (application == nullptr || level == nullptr) {
    SetLibraryFailure("GrantApplication", "no application or no level given");
    return nullptr;
  }
  default_levels_.Ensure();
  for (CDODeptDefAppSecretLevel* entry : default_levels_) {
    if (entry->GetApplication() == application) {
      SetLibraryFailure("GrantApplication", "the application has a default level already");
      return nullptr;
    }
  }
  auto* entry = new CDODeptDefAppSecretLevel(this, application, level);
  default_levels_.Add(entry);
  return entry;
}

int CDODepartment::RefuseApplication(CDODeptDefAppSecretLevel* entry) {
  if (default_levels_.Delete(entry)) return 1;
  return SetLibraryFailure("RefuseApplication",
                           "the entry is not one of the department's default levels");
}

int CDODepartment::ApplyApplicationSecretLevel() {
  if (!default_levels_) {
    return SetLibraryFailure("SetDefAppSecretLevel",
                             "the department's default levels are not loaded");
  }
  return UpdateSubObjects("SetDefAppSecretLevel", default_levels_.get());
}

}  // namespace docsec
