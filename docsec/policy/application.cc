#include "docsec/policy/application.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOApplication, kObjectTypeNone, "Application", "application",
                          s_clsApplication)

DataObjectList* CDOApplication::GetAllInstance() {
  return nullptr;  // Not yet implemented.
}

void CDOApplication::ReleaseAllInstance() {
  // Not yet implemented.
}

CDOApplication* CDOApplication::GetInstanceByName(const char*) {
  return nullptr;  // Not yet implemented.
}

}  // namespace docsec
