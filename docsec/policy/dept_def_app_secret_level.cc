#include "docsec/policy/dept_def_app_secret_level.h"

#include <string>

#include "docsec/core/copied_text.h"
#include "docsec/org/department.h"
#include "docsec/policy/application.h"
#include "docsec/policy/secret_level.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDODeptDefAppSecretLevel, kObjectTypeNone, "DefAppSecretLevel",
                          "defAppSecretLevel", s_clsDeptDefAppSecretLevel)

CDODeptDefAppSecretLevel::CDODeptDefAppSecretLevel(CDODepartment* department,
                                                   CDOApplication* application,
                                                   CDOSecretLevel* level)
    : CDODeptDefAppSecretLevel() {
  if (application != nullptr) {
    SetApplicationName(CopiedText(application, &CDOApplication::GetName).c_str());
  }
  if (department != nullptr) SetDepartmentId(static_cast<int>(department->GetId()));
  if (level != nullptr) SetSecretLevelId(static_cast<int>(level->GetId()));
}

CDOApplication* CDODeptDefAppSecretLevel::GetApplication() {
  const std::string name = CopiedText(this, &CDODeptDefAppSecretLevel::GetApplicationName);
  return name.empty() ? nullptr : CDOApplication::GetInstanceByName(name.c_str());
}

CDOSecretLevel* CDODeptDefAppSecretLevel::GetSecretLevel() {
  return CDOSecretLevel::GetInstanceById(GetSecretLevelId());
}

}  // namespace docsec
