#include "docsec/policy/secret_level.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOSecretLevel, kObjectTypeNone, "SecretLevel", "secretLevel",
                          s_clsSecretLevel)

CDOSecretLevel::CDOSecretLevel(long id, const char* name, const char* description)
    : CDOSecretLevel() {
  SetId(id);
  SetName(name);
  SetDescription(description);
}

DataObjectList* CDOSecretLevel::GetAllInstance() {
  return nullptr;  // Not yet implemented.
}

void CDOSecretLevel::ReleaseAllInstance() {
  // Not yet implemented.
}

CDOSecretLevel* CDOSecretLevel::GetInstanceById(long) {
  return nullptr;  // Not yet implemented.
}

CDOSecretLevel* CDOSecretLevel::GetDefaultInstance() { return GetInstanceById(5); }

CDOSecretLevel* CDOSecretLevel::GetNullInstance() {
  return nullptr;  // Not yet implemented.
}

int CDOSecretLevel::Add() {
  return 0;  // Not yet implemented.
}

int CDOSecretLevel::Delete() {
  return 0;  // Not yet implemented.
}

}  // namespace docsec
