#include "docsec/policy/dept_def_app_secret_level.h"

#include "docsec/org/department.h"
#include "docsec/policy/application.h"
#include "docsec/policy/internal/joined_text.h"
#include "docsec/policy/secret_level.h"

namespace docsec {

using internal::JoinedText;

DOCSEC_DEFINE_DATA_OBJECT(CDODeptDefAppSecretLevel, kObjectTypeNone, "DefAppSecretLevel",
                          "defAppSecretLevel", s_clsDeptDefAppSecretLevel)

CDODeptDefAppSecretLevel::CDODeptDefAppSecretLevel(CDODepartment* department,
                                                   CDOApplication* application,
                                                   CDOSecretLevel* level)
    : CDODeptDefAppSecretLevel() {
  if (application != nullptr) {
    SetApplicationName(JoinedText(application, &CDOApplication::GetName).c_str());
  }
  if (department != nullptr) SetDepartmentId(static_cast<int>(department->GetId()));
  if (level != nullptr) SetSecretLevelId(static_cast<int>(level->GetId()));
}

CDOApplication* CDODeptDefAppSecretLevel::GetApplication() {
  JoinedText name(this, &CDODeptDefAppSecretLevel::GetApplicationName);
  return name.empty() ? nullptr : CDOApplication::GetInstanceByName(name.c_str());
}

CDOSecretLevel* CDODeptDefAppSecretLevel::GetSecretLevel() {
  return CDOSecretLevel::GetInstanceById(GetSecretLevelId());
}

}  // namespace docsec
