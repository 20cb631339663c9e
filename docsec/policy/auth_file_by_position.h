// CDOAuthFileByPosition: an entry of one file's own authorization list granting one position a
// permission word on that file. It copies the file's GUID and the position's id, department,
// department path and name when it is made.
//
// Ownership: entries belong to the file's list that holds them; the entry keeps no pointers.
// Thread safety: one thread at a time.
#ifndef DOCSEC_POLICY_AUTH_FILE_BY_POSITION_H_
#define DOCSEC_POLICY_AUTH_FILE_BY_POSITION_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOFile;
class CDOPosition;

class DOCSEC_EXPORT CDOAuthFileByPosition : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOAuthFileByPosition)

  static constexpr Attr kFileGuid{"fileGUID", kVtBstr, kAttrKey};
  static constexpr Attr kPositionId{"positionId", kVtInt, kAttrKey};
  static constexpr Attr kDepartmentId{"departmentId", kVtInt, kAttrKey};  // the position's
  static constexpr Attr kPositionName{"positionName", kVtBstr, kAttrKey};
  static constexpr Attr kPermission{"permission", kVtInt};  // 0: no permission
  static constexpr Attr kDepartmentPath{"departmentPath"};  // sent, unlike a user entry's
  static constexpr auto kAttributes = Attrs(&kFileGuid, &kPositionId, &kDepartmentId,
                                            &kPositionName, &kPermission, &kDepartmentPath);

  // An entry for `position` on `file` with `permission`.
  CDOAuthFileByPosition(CDOFile* file, CDOPosition* position, long permission);

  DOCSEC_TEXT_PROPERTY(FileId, kFileGuid)
  DOCSEC_INT_PROPERTY(PositionId, kPositionId)
  DOCSEC_INT_PROPERTY(PositionDeptId, kDepartmentId)
  DOCSEC_TEXT_PROPERTY(PositionDeptName, kDepartmentPath)
  DOCSEC_TEXT_PROPERTY(PositionName, kPositionName)
  DOCSEC_INT_PROPERTY(Permission, kPermission)

  // 1 when the entry is for `position`: same "departmentId" and the same "positionName" byte for
  // byte, whatever the ids; 0 for null.
  int IsAuthorizedTo(CDOPosition* position);
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_AUTH_FILE_BY_POSITION_H_
