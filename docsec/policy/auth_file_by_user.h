// CDOAuthFileByUser: an entry of one file's own authorization list granting one user a permission
// word on that file. It copies the file's GUID and the user's account, name and department path
// when it is made.
//
// Ownership: entries belong to the file's list that holds them; the entry keeps no pointers.
// Thread safety: one thread at a time.
#ifndef DOCSEC_POLICY_AUTH_FILE_BY_USER_H_
#define DOCSEC_POLICY_AUTH_FILE_BY_USER_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOFile;
class CDOUser;

class DOCSEC_EXPORT CDOAuthFileByUser : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOAuthFileByUser)

  static constexpr Attr kFileGuid{"fileGUID", kVtBstr, kAttrKey};
  static constexpr Attr kUserId{"userId", kVtBstr, kAttrKey};  // the user's account name
  static constexpr Attr kPermission{"permission", kVtInt};     // 0: no permission
  static constexpr Attr kUserName{"userName", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kDepartmentPath{"departmentPath", kVtBstr, kAttrLoadOnly};
  static constexpr auto kAttributes =
      Attrs(&kFileGuid, &kUserId, &kPermission, &kUserName, &kDepartmentPath);

  // An entry for `user` on `file` with `permission`.
  CDOAuthFileByUser(CDOFile* file, CDOUser* user, long permission);

  DOCSEC_TEXT_PROPERTY(FileId, kFileGuid)
  DOCSEC_TEXT_PROPERTY(UserId, kUserId)
  int GetUserNameA(char* buffer, unsigned long size) { return GetText(kUserName, buffer, size); }
  int SetUserName(const char* name) { return SetText(kUserName, name); }
  DOCSEC_TEXT_PROPERTY(UserDeptPath, kDepartmentPath)
  DOCSEC_INT_PROPERTY(Permission, kPermission)

  // 1 when the entry's "userId" equals the user's "id" byte for byte; 0 for null.
  int IsAuthorizedTo(CDOUser* user);
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_AUTH_FILE_BY_USER_H_
