#include "docsec/policy/dept_def_app_secret_level.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDODeptDefAppSecretLevel, kObjectTypeNone, "DefAppSecretLevel",
                          "defAppSecretLevel", s_clsDeptDefAppSecretLevel)

CDODeptDefAppSecretLevel::CDODeptDefAppSecretLevel(CDODepartment*, CDOApplication*, CDOSecretLevel*)
    : CDODeptDefAppSecretLevel() {
  // Not yet implemented.
}

CDOApplication* CDODeptDefAppSecretLevel::GetApplication() {
  return nullptr;  // Not yet implemented.
}

CDOSecretLevel* CDODeptDefAppSecretLevel::GetSecretLevel() {
  return nullptr;  // Not yet implemented.
}

}  // namespace docsec
