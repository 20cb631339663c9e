#include "docsec/policy/application.h"

#include <cstring>

#include "docsec/core/library.h"
#include "docsec/policy/internal/joined_text.h"

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
  return static_cast<CDOApplication*>(Applications().Find([name](CDataObject* member) {
    internal::JoinedText own(static_cast<CDOApplication*>(member), &CDOApplication::GetName);
    return !own.empty() && std::strcmp(own.c_str(), name) == 0;
  }));
}

}  // namespace docsec
