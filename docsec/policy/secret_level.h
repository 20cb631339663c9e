// CDOSecretLevel: one grade of the document classification scheme the server keeps, with the
// process-wide catalogue of every level and the null level that stands for "no level".
//
// Ownership: the catalogue owns its members from its first load until ReleaseAllInstance (called
// by the caller, or by the library's shut-down after the applications); every pointer taken from it
// (GetAllInstance, GetInstanceById, GetDefaultInstance, a policy's GetSecretLevel) dies then, and a
// debug build stops on the next use of such a pointer. The null instance belongs to the library and
// is never released.
//
// Thread safety: the catalogue may be asked for from several threads at once and is loaded once;
// it must not be released, added to or deleted from while another thread reads it. The null
// instance's texts change only when the resource language does. A level object itself is used by
// one thread at a time.
#ifndef DOCSEC_POLICY_SECRET_LEVEL_H_
#define DOCSEC_POLICY_SECRET_LEVEL_H_

#include "docsec/core/data_object_class.h"
#include "docsec/policy/catalogue.h"

namespace docsec {

class DOCSEC_EXPORT CDOSecretLevel : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOSecretLevel)

  static constexpr Attr kId{"id", kVtInt, kAttrKey};  // -1 or unset: no level
  static constexpr Attr kName{"name"};
  static constexpr Attr kDescription{"description"};
  static constexpr Attr kIsSystemDefault{"isSystemDefault", kVtBool, kAttrLoadOnly};
  static constexpr auto kAttributes = Attrs(&kId, &kName, &kDescription, &kIsSystemDefault);

  // The id the server gives the default level.
  static constexpr long kDefaultLevelId = 5;

  // A level with the three attributes set.
  CDOSecretLevel(long id, const char* name, const char* description);

  // Accessors; on a level of a released catalogue they stop a debug build.
  long GetId() { return Live()->GetInt32(kId); }
  int SetId(long id) { return Live()->SetInt32(kId, id); }
  int GetName(char* buffer, unsigned long size) { return Live()->GetText(kName, buffer, size); }
  int SetName(const char* text) { return Live()->SetText(kName, text); }
  int GetDescription(char* buffer, unsigned long size) {
    return Live()->GetText(kDescription, buffer, size);
  }
  int SetDescription(const char* text) { return Live()->SetText(kDescription, text); }

  // Non-zero when "id" is -1 or unset.
  int IsNull() { return GetId() == -1 ? 1 : 0; }

  // The catalogue, loaded with "QuerySecretLevel" (no conditions) when absent; null when it cannot
  // be loaded (the next call tries again). Owned by the class.
  static DataObjectList* GetAllInstance();
  // Deletes the catalogue with its members; pointers into it die. The next GetAllInstance loads it
  // again.
  static void ReleaseAllInstance();
  // The catalogue member with that id (loading the catalogue when absent), else the null instance;
  // never null.
  static CDOSecretLevel* GetInstanceById(long id);
  // GetInstanceById(5).
  static CDOSecretLevel* GetDefaultInstance();
  // The null instance (id -1), its name and description set to string resource 1 in the resource
  // language of the moment ("None", "未设密级"; see docsec/platform/string_resources.h).
  static CDOSecretLevel* GetNullInstance();

  // The generic verbs ("AddSecretLevel", "DelSecretLevel"), keeping the catalogue in step once the
  // server accepted the change: an added level joins the loaded catalogue, which owns it from then
  // on; a deleted level leaves it and belongs to the caller again. 1 or 0.
  int Add() override;
  int Delete() override;

 private:
  CDOSecretLevel* Live() {
    internal::AssertNotReleased(this);
    return this;
  }
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_SECRET_LEVEL_H_
