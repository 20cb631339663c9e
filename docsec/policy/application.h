// CDOApplication: a program whose documents the product protects, known to the server by name,
// with the process-wide catalogue of every application.
//
// Ownership: the catalogue owns its members from its first load until ReleaseAllInstance; pointers
// taken from it die with it. Thread safety: the catalogue is class-wide state used from one thread
// at a time, like every data object.
#ifndef DOCSEC_POLICY_APPLICATION_H_
#define DOCSEC_POLICY_APPLICATION_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CDOApplication : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOApplication)

  static constexpr Attr kName{"name", kVtBstr, kAttrKey};  // case matters: "Word" is not "word"
  static constexpr Attr kDescription{"description"};
  static constexpr auto kAttributes = Attrs(&kName, &kDescription);

  DOCSEC_TEXT_PROPERTY(Name, kName)
  DOCSEC_TEXT_PROPERTY(Description, kDescription)

  // The catalogue, loaded with "QueryApplication" when absent; null when it cannot be loaded (the
  // next call tries again). Owned by the class.
  static DataObjectList* GetAllInstance();
  // Deletes the catalogue with its members; the next GetAllInstance loads it again.
  static void ReleaseAllInstance();
  // The first catalogue member whose name equals `name` byte for byte; null for a null name, no
  // match or no catalogue.
  static CDOApplication* GetInstanceByName(const char* name);
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_APPLICATION_H_
