// CDOUserAppointment: the record of one user holding one position. Attributes only.
#ifndef DOCSEC_USERS_USER_APPOINTMENT_H_
#define DOCSEC_USERS_USER_APPOINTMENT_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDOPosition;
class CDOUser;

class DOCSEC_EXPORT CDOUserAppointment : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOUserAppointment)

  static constexpr Attr kPositionId{"positionId", kVtInt, kAttrKey};
  static constexpr Attr kDepartmentId{"departmentId", kVtInt, kAttrKey};
  static constexpr Attr kPositionName{"positionName"};
  static constexpr Attr kUserId{"userId", kVtBstr, kAttrKey};
  static constexpr Attr kPosDeptPath{"posDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kUserDeptPath{"userDeptPath", kVtBstr, kAttrLoadOnly};
  static constexpr Attr kUserName{"userName", kVtBstr, kAttrLoadOnly};
  static constexpr auto kAttributes = Attrs(&kPositionId, &kDepartmentId, &kPositionName, &kUserId,
                                            &kPosDeptPath, &kUserDeptPath, &kUserName);

  // Fills the record from both sides.
  CDOUserAppointment(CDOUser* user, CDOPosition* position);

  // 1 when the record is of that user (by id) / that position (department and name); 0 for null.
  int IsAppointTo(CDOUser* user);
  int IsAppointed(CDOPosition* position);

  DOCSEC_INT_PROPERTY(PositionDeptId, kDepartmentId)
  int SetPostionId(long id) { return SetInt32(kPositionId, id); }
  DOCSEC_TEXT_PROPERTY(PositionName, kPositionName)
  DOCSEC_TEXT_PROPERTY(PositionDeptPath, kPosDeptPath)
  DOCSEC_TEXT_PROPERTY(UserId, kUserId)
  int GetUserNameA(char* buffer, unsigned long size) { return GetText(kUserName, buffer, size); }
  int SetUserName(const char* text) { return SetText(kUserName, text); }
  DOCSEC_TEXT_PROPERTY(UserDeptPath, kUserDeptPath)
};

}  // namespace docsec

#endif  // DOCSEC_USERS_USER_APPOINTMENT_H_
