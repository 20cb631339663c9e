// CDOSecretLevel: one grade of the document classification scheme the server keeps, with the
// process-wide catalogue of every level and the null level that stands for "no level".
//
// Ownership: the catalogue owns its members from its first load until ReleaseAllInstance; pointers
// taken from it (GetInstanceById, GetDefaultInstance) die with it. The null instance belongs to the
// library and is never released. Thread safety: the catalogue is class-wide state used from one
// thread at a time, like every data object.
#ifndef DOCSEC_POLICY_SECRET_LEVEL_H_
#define DOCSEC_POLICY_SECRET_LEVEL_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class DOCSEC_EXPORT CDOSecretLevel : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOSecretLevel)

  static constexpr Attr kId{"id", kVtInt, kAttrKey};  // -1 or unset: no level
  static constexpr Attr kName{"name"};
  static constexpr Attr kDescription{"description"};
  static constexpr Attr kIsSystemDefault{"isSystemDefault", kVtBool, kAttrLoadOnly};
  static constexpr auto kAttributes = Attrs(&kId, &kName, &kDescription, &kIsSystemDefault);

  // A level with the three attributes set.
  CDOSecretLevel(long id, const char* name, const char* description);

  DOCSEC_INT_PROPERTY(Id, kId)
  DOCSEC_TEXT_PROPERTY(Name, kName)
  DOCSEC_TEXT_PROPERTY(Description, kDescription)

  // Non-zero when "id" is -1 or unset.
  int IsNull() { return GetId() == -1 ? 1 : 0; }

  // The catalogue, loaded with "QuerySecretLevel" when absent; null when it cannot be loaded (the
  // next call tries again). Owned by the class.
  static DataObjectList* GetAllInstance();
  // Deletes the catalogue with its members; the next GetAllInstance loads it again.
  static void ReleaseAllInstance();
  // The catalogue member with that id, else the null instance; never null.
  static CDOSecretLevel* GetInstanceById(long id);
  // GetInstanceById(5).
  static CDOSecretLevel* GetDefaultInstance();
  // The null instance (id -1), its texts refreshed from string resource 1.
  static CDOSecretLevel* GetNullInstance();

  // The generic verbs, keeping the catalogue in step once the server accepted the change: an added
  // level joins the catalogue (which then owns it), a deleted one leaves it (the caller owns it).
  int Add() override;
  int Delete() override;
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_SECRET_LEVEL_H_
