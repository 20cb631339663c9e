#include "docsec/policy/application.h"

#include <string>

#include "docsec/core/copied_text.h"
#include "docsec/core/library.h"

namespace docsec {

DOCSEC_DEFINE_DATA_OBJECT(CDOApplication, kObjectTypeNone, "Application", "application",
                          s_clsApplication)

namespace {

CDataObject* Prototype() { return CDOApplication::GetClassInstance(); }

// s_pListAllApplication. Left to the end of the process on purpose: the library's shut-down, which
// runs from a static destructor, releases it.
internal::Catalogue& Applications() {
  static internal::Catalogue* applications =
      new internal::Catalogue(&Prototype, kApplicationCache, &CDOApplication::ReleaseAllInstance);
  return *applications;
}

}  // namespace

DataObjectList* CDOApplication::GetAllInstance() { return Applications().Get(); }

void CDOApplication::ReleaseAllInstance() { Applications().Release(); }

CDOApplication* CDOApplication::GetInstanceByName(const char* name) {
  if (name == nullptr) return nullptr;
  const std::string wanted = name;
  return static_cast<CDOApplication*>(Applications().Find([&wanted](CDataObject* member) {
    return HasText(static_cast<CDOApplication*>(member), &CDOApplication::GetName, wanted);
  }));
}

}  // namespace docsec
