// CDODeptDefAppSecretLevel: one department's default secret level for one application, with a
// per-application flag the library carries without interpreting. Entries are kept in the
// department's list and sent by its ApplyApplicationSecretLevel.
//
// Ownership: attributes only; the department's list owns its entries. GetApplication and
// GetSecretLevel hand out catalogue members, which the catalogues keep. Thread safety: one thread
// at a time.
#ifndef DOCSEC_POLICY_DEPT_DEF_APP_SECRET_LEVEL_H_
#define DOCSEC_POLICY_DEPT_DEF_APP_SECRET_LEVEL_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOApplication;
class CDODepartment;
class CDOSecretLevel;

class DOCSEC_EXPORT CDODeptDefAppSecretLevel : public CDataObject {
  DOCSEC_DATA_OBJECT(CDODeptDefAppSecretLevel)

  static constexpr Attr kDepartmentId{"departmentId", kVtInt, kAttrKey};
  static constexpr Attr kApplicationName{"applicationName", kVtBstr, kAttrKey};
  static constexpr Attr kSecretLevelId{"secretLevelId", kVtInt};
  static constexpr Attr kIsOnlyDecrypt{"isOnlyDecrypt", kVtBool};
  static constexpr auto kAttributes =
      Attrs(&kDepartmentId, &kApplicationName, &kSecretLevelId, &kIsOnlyDecrypt);

  // The default `level` of `application` in `department` ("isOnlyDecrypt" left unset).
  CDODeptDefAppSecretLevel(CDODepartment* department, CDOApplication* application,
                           CDOSecretLevel* level);

  int GetDepartmentId() { return GetInt32(kDepartmentId); }
  int SetDepartmentId(int id) { return SetInt32(kDepartmentId, id); }
  int GetSecretLevelId() { return GetInt32(kSecretLevelId); }
  int SetSecretLevelId(int id) { return SetInt32(kSecretLevelId, id); }
  DOCSEC_TEXT_PROPERTY(ApplicationName, kApplicationName)
  // Two names of one flag, "isOnlyDecrypt".
  DOCSEC_BOOL_PROPERTY(IsManualEncryptByApplication, kIsOnlyDecrypt)
  DOCSEC_BOOL_PROPERTY(ApplicationAutoEncrypt, kIsOnlyDecrypt)

  // The catalogue application named by "applicationName"; null when the name is empty or unknown.
  CDOApplication* GetApplication();
  // CDOSecretLevel::GetInstanceById(secretLevelId): the null level when unknown, never null.
  CDOSecretLevel* GetSecretLevel();
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_DEPT_DEF_APP_SECRET_LEVEL_H_
